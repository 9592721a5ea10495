#include "app/startup.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <optional>

namespace fa {

namespace {

std::optional<QFont> &savedDesktopFont()
{
    static std::optional<QFont> font;
    return font;
}

} // namespace

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

    // A pixel size keeps the text inside the drawn boxes at any point size
    // and dpi the desktop chooses; the desktop's family stays. Setting the
    // whole application's font also drops the per-class fonts of the
    // platform theme, so message boxes, labels and buttons all agree.
    if (!savedDesktopFont())
        savedDesktopFont() = QApplication::font();
    QFont font = *savedDesktopFont();
    font.setPixelSize(kLayoutFontPixels);
    QApplication::setFont(font);
}

QFont desktopFont()
{
    return savedDesktopFont().value_or(QApplication::font());
}

} // namespace fa
