#pragma once

#include <QString>
#include <exception>

namespace fa {

// Error numbers the rest of the program decides on.
inline constexpr qint32 kAppErrorNumber = 5555;
// The provider's report of an error in the command text (DB_E_ERRORSINCOMMAND):
// syntax, unknown table or column, an object that already exists.
inline constexpr qint32 kErrorsInCommand = qint32(0x80040E14u);
// Any other provider failure (E_FAIL): cannot open, locked, lost connection.
inline constexpr qint32 kProviderFailure = qint32(0x80004005u);
// An index outside the bounds of an array.
inline constexpr qint32 kSubscriptOutOfRange = 9;

// The one error type of the program: a number and a description, as the
// operators know them from message boxes. Thrown by the data layer and by
// failed checks; caught at the end of each command handler.
class AppError : public std::exception
{
public:
    AppError(qint32 number, QString description);

    qint32 number() const noexcept { return m_number; }
    const QString &description() const noexcept { return m_description; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    qint32 m_number;
    QString m_description;
    QByteArray m_what;
};

// Raises the application error 5555 with a fixed message; never returns.
[[noreturn]] void RaiseAppError(const QString &message);

} // namespace fa
