#include "app/startup.h"

#include <QApplication>
#include <QFontInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QWidget>
#include <algorithm>
#include <optional>

namespace fa {

namespace {

std::optional<QFont> &savedDesktopFont()
{
    static std::optional<QFont> font;
    return font;
}

QString &chosenSystemDatabase()
{
    static QString path;
    return path;
}

} // namespace

QString ChosenSystemDatabase()
{
    return chosenSystemDatabase();
}

void setChosenSystemDatabase(const QString &path)
{
    chosenSystemDatabase() = path;
}

void setUpApplication()
{
    // Every text of the program is Chinese; Qt's own words and the default
    // locale follow it even on an English or C-locale system.
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    QLocale::setDefault(chinese);
    if (!qApp->findChild<QTranslator *>(QStringLiteral("qtbase"))) {
        auto *translator = new QTranslator(qApp);
        translator->setObjectName(QStringLiteral("qtbase"));
        // Without the translations installed Qt's words stay English; the
        // program itself works the same.
        if (translator->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"),
                             QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(translator);
    }

    // Whole pixels: the windows grow their boxes by the ratio of the font's
    // pixel size to the drawn one, and the text must grow by the same. The
    // desktop's family stays. Setting the whole application's font also
    // drops the per-class fonts of the platform theme, so message boxes,
    // labels and buttons all agree.
    if (!savedDesktopFont())
        savedDesktopFont() = QApplication::font();
    QFont font = *savedDesktopFont();
    font.setPixelSize(std::max(kLayoutFontPixels, QFontInfo(font).pixelSize()));
    QApplication::setFont(font);
}

Twips::Twips(const QWidget &window)
    : m_scale(std::max(1.0, QFontInfo(window.font()).pixelSize() / double(kLayoutFontPixels)))
{}

int Twips::operator()(int twips) const
{
    return qRound(twips * m_scale / 15);
}

QRect Twips::operator()(int left, int top, int width, int height) const
{
    return QRect((*this)(left), (*this)(top), (*this)(width), (*this)(height));
}

QFont desktopFont()
{
    return savedDesktopFont().value_or(QApplication::font());
}

} // namespace fa
