// Drives the main window through one rebuild, as an operator would ("刷新",
// the year, "计算总帐"), and measures how alive the window stays: it asks for
// a repaint every 16 ms (as a desktop does while a window is moved) and
// prints the run's wall time and the longest stretch between two paints.
//
//   fatotal-window-probe <system dir> <account> <year>
#include "app/dialogs.h"
#include "app/main_window.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

namespace {

class PrintingDialogs final : public fa::Dialogs
{
public:
    void message(QWidget *, const QString &text) override
    {
        std::fprintf(stderr, "%s\n", qPrintable(text));
    }
    QString openFileName(QWidget *, const QString &, const QString &, const QString &) override
    {
        return {};
    }
    bool login(QWidget *) override { return true; }
};

// Records the longest time between two paint events of the window.
class PaintClock final : public QObject
{
public:
    qint64 longestGapMs = 0;
    int paints = 0;
    void start() { m_clock.start(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && m_clock.isValid()) {
            longestGapMs = std::max(longestGapMs, m_clock.restart());
            ++paints;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QElapsedTimer m_clock;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: fatotal-window-probe <system dir> <account> <year>\n");
        return 2;
    }
    qputenv("FATOTAL_SYSTEM_DIR", argv[1]);
    PrintingDialogs dialogs;
    fa::frmMain window(dialogs);
    window.show();
    window.CmdRefresh()->click();
    window.cmbAcc()->setCurrentText(QString::fromLocal8Bit(argv[2]));
    window.cmbAcc_Click();
    window.cmbYear()->setCurrentText(QString::fromLocal8Bit(argv[3]));
    window.cmbYear_Click();

    PaintClock clock;
    window.installEventFilter(&clock);
    QTimer repaint;
    QObject::connect(&repaint, &QTimer::timeout, &window, [&] { window.update(); });
    repaint.start(16);

    QElapsedTimer run;
    run.start();
    clock.start();
    window.cmdDo()->click();
    const qint64 runMs = run.elapsed();
    std::printf("run_s %.2f longest_paint_gap_ms %lld paints %d\n", runMs / 1000.0,
                static_cast<long long>(clock.longestGapMs), clock.paints);
    return 0;
}
