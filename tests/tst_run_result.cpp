// The table of changes after a run: its order, and "保存…" as --changes writes.
#include "app/dialogs.h"
#include "app/run_result_dialog.h"
#include "tools/sample_ledger.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QProcess>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using namespace fa;

namespace {

using Text = const QString &;
struct SaveDialogs final : Dialogs
{
    QString answer;
    QStringList messages;
    void message(QWidget *, Text text) override { messages << text; }
    QString openFileName(QWidget *, Text, Text, Text) override { return {}; }
    QString saveFileName(QWidget *, Text, Text, Text) override { return answer; }
    bool login(QWidget *) override { return true; }
};

// Shows the dialog and clicks a heading of its table `clicks` times; the table's model.
const QAbstractItemModel *clickHeading(QDialog &dialog, int column, int clicks)
{
    dialog.show();
    QHeaderView *header = dialog.findChild<QTableView *>()->horizontalHeader();
    const QPoint at(header->sectionViewportPosition(column) + 5, header->height() / 2);
    for (int i = 0; i < clicks; ++i)
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    return header->model();
}

} // namespace

class TestRunResult : public QObject
{
    Q_OBJECT

private slots:
    void sortsByClickedHeading_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("clicks");
        QTest::addColumn<int>("more"); // generated lines after the five
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("kinds") << 0 << 0 << 0
                               << QStringList{"修改", "新增", "删除", "修改", "修改"};
        QTest::newRow("periods up") << 3 << 1 << 0 << QStringList{"2", "2", "9", "10", "12"};
        QTest::newRow("old values up") << 5 << 1 << 0 << QStringList{"", "", "-5", "25.5", "100"};
        QTest::newRow("new values down") << 6 << 2 << 0 << QStringList{"1e+20", "3", "-5", "", ""};
        QTest::newRow("100000 more") << 6 << 1 << 100000 << QStringList{"", "", "-5", "1", "2"};
    }

    void sortsByClickedHeading()
    {
        QFETCH(int, column);
        QFETCH(int, clicks);
        QFETCH(int, more);
        QFETCH(QStringList, shown);
        ChangeReport report;
        report.lines = {{"changed", "01", "A", "10", "dblValue", "100", "-5"},
                        {"added", "01", "A", "9", {}, {}, {}},
                        {"removed", "02", "B", "2", {}, {}, {}},
                        {"changed", "02", "B", "12", "dblValue", "25.5", "1e+20"},
                        {"changed", "02", "B", "2", "lCount", "-5", "3"}};
        for (int i = 0; i < more; ++i)
            report.lines.append({"changed", "03", "C", "1", "x", "0", QString::number(more - i)});
        QElapsedTimer timer;
        timer.start();
        SaveDialogs dialogs;
        RunResultDialog dialog(QStringLiteral("整理完毕"), report, dialogs, {});
        const QAbstractItemModel *model = clickHeading(dialog, column, clicks);
        QCoreApplication::processEvents();
        qDebug("%d lines shown and sorted in %lld ms", model->rowCount(), timer.elapsed());
        QStringList headings, texts;
        for (int c = 0; c < model->columnCount(); ++c)
            headings << model->headerData(c, Qt::Horizontal).toString();
        for (int row = 0; row < shown.size(); ++row)
            texts << model->index(row, column).data().toString();
        QCOMPARE(headings, QStringList({"变动", "部门", "类别", "期间", "项目", "原值", "新值"}));
        QCOMPARE(texts, shown);
    }

    void savesWhatTheCommandWrites()
    {
        const auto fileBytes = [](const QString &path) {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QTemporaryDir dir;
        sample::writeDemo(dir.path(), 40);
        const QString database = dir.filePath("ZT001/2025/kvdata.mdb");
        const QString tool = qEnvironmentVariable("FATOTAL_BIN_DIR") + "/tools/fatotal-rebuild";
        QCOMPARE(
            QProcess::execute(tool + FATOTAL_EXE_SUFFIX,
                              {"--system", dir.filePath("kvsystem/kvsystem.mdb"), "--account",
                               "001", "--year", "2025", "--changes", dir.filePath("command.csv")}),
            0);
        const QByteArray csv = fileBytes(dir.filePath("command.csv"));
        ChangeReport report;
        for (const QString &row : QString::fromUtf8(csv).split("\r\n", Qt::SkipEmptyParts).mid(1)) {
            const QStringList f = row.split(','); // the command's report: nothing quoted
            report.lines.append({f.at(0), f.at(1), f.at(2), f.at(3), f.at(4), f.at(5), f.at(6)});
        }
        SaveDialogs dialogs;
        RunResultDialog dialog(QStringLiteral("整理完毕"), report, dialogs, {});
        const QByteArray before = fileBytes(database);
        for (const QString &target : {database, dir.filePath("saved.csv")}) {
            dialogs.answer = target;
            for (QAbstractButton *button : dialog.findChild<QDialogButtonBox *>()->buttons())
                if (button->text() == "保存…")
                    QTest::mouseClick(button, Qt::LeftButton);
        }
        QCOMPARE(fileBytes(database), before);
        QCOMPARE(fileBytes(dir.filePath("saved.csv")), csv);
        QCOMPARE(dialogs.messages,
                 QStringList{"无法保存变动清单：" + QDir::toNativeSeparators(database) +
                             "\n这是数据库文件"});
    }
};

QTEST_MAIN(TestRunResult)
#include "tst_run_result.moc"
