// The run button: the checks, the rebuild and its report, shown with the
// window's message boxes and busy pointer.
#include "app/dialogs.h"
#include "app/main_window.h"
#include "ledger/periods.h"
#include "ledger/recalc.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>

namespace fa {

namespace {

class WindowRecalcUi final : public RecalcUi
{
public:
    WindowRecalcUi(QWidget *window, QPushButton *runButton, Dialogs &dialogs)
        : m_window(window), m_runButton(runButton), m_dialogs(dialogs)
    {}

    void showMessage(const QString &text) override { m_dialogs.message(m_window, text); }

    void processPendingEvents() override { QCoreApplication::processEvents(); }

    void setBusy(bool busy) override
    {
        if (busy) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            m_runButton->setEnabled(false);
        } else {
            QApplication::restoreOverrideCursor();
            m_runButton->setEnabled(true);
        }
    }

    void enableRun() override { m_runButton->setEnabled(true); }

private:
    QWidget *m_window;
    QPushButton *m_runButton;
    Dialogs &m_dialogs;
};

} // namespace

void frmMain::cmdDo_Click()
{
    // The period calendar lets pending events run; a second click arriving
    // then must not start a second run inside the first.
    if (m_running)
        return;
    m_running = true;
    WindowRecalcUi ui(this, m_cmdDo, m_dialogs);
    setPendingEventsHandler([&ui] { ui.processPendingEvents(); });
    RunRecalcCommand(m_cmbAcc->currentText(), m_cmbYear->currentText(), ui);
    setPendingEventsHandler({});
    m_running = false;
}

} // namespace fa
