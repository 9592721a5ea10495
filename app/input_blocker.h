#pragma once

#include <QObject>

class QWidget;

namespace fa {

// Keeps the operator's input away from one window while a long command
// runs there and lets events through now and then (painting, the clock):
// clicks, keys, the wheel and the close box aimed at the window or its
// controls are dropped, not put off until later. Windows it opens meanwhile,
// such as its message boxes, stay usable. When the command ends, input that
// queued up while the thread was busy is drained and dropped as well, so that
// nothing the operator did during the wait runs afterwards.
class InputBlocker final : public QObject
{
public:
    explicit InputBlocker(QWidget *window);
    ~InputBlocker() override;
    InputBlocker(const InputBlocker &) = delete;
    InputBlocker &operator=(const InputBlocker &) = delete;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_window;
};

} // namespace fa
