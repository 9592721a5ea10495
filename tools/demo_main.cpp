// fatotal-demo: writes a demo installation (system database and account-year
// databases) for trying the tool and for large benchmark runs.
#include "data/app_error.h"
#include "tools/sample_ledger.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("fatotal-demo"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes a demo system database and its account-year databases under a folder."));
    parser.addHelpOption();
    QCommandLineOption outOption(QStringLiteral("out"), QStringLiteral("Folder to write into."),
                                 QStringLiteral("folder"), QStringLiteral("demo"));
    QCommandLineOption cardsOption(QStringLiteral("cards"),
                                   QStringLiteral("Cards in the main ledger (001, 2026)."),
                                   QStringLiteral("count"), QStringLiteral("600"));
    parser.addOption(outOption);
    parser.addOption(cardsOption);
    parser.process(app);

    bool ok = false;
    const int cards = parser.value(cardsOption).toInt(&ok);
    if (!ok || cards < 1) {
        std::fprintf(stderr, "fatotal-demo: --cards needs a positive whole number\n");
        return 2;
    }
    const QString out = parser.value(outOption);
    try {
        fa::sample::writeDemo(out, cards);
    } catch (const fa::AppError &error) {
        std::fprintf(stderr, "fatotal-demo: %s\n", qPrintable(error.description()));
        return 1;
    }
    std::printf("%s\n", qPrintable(QDir::toNativeSeparators(
                            QDir(out).absoluteFilePath(QStringLiteral("kvsystem/kvsystem.mdb")))));
    return 0;
}
