#include "data/app_error.h"

namespace fa {

AppError::AppError(qint32 number, QString description)
    : m_number(number), m_description(std::move(description)), m_what(m_description.toUtf8())
{}

void RaiseAppError(const QString &message)
{
    throw AppError(kAppErrorNumber, message);
}

} // namespace fa
