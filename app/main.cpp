#include "app/dialogs.h"
#include "app/main_window.h"
#include "app/startup.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The package's icon on every window, also where no desktop entry names it.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/fatotal.png")));
    fa::setUpApplication();
    fa::WidgetDialogs dialogs;
    // A second copy says so and ends without a window, before anything is
    // created.
    if (!fa::claimSingleInstance(dialogs))
        return 0;
    fa::frmMain window(dialogs);
    window.show();
    return app.exec();
}
