// Start-up set-up on an English system with an 11-point desktop font.
#include "app/login_window.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "gui_fixtures.h"

#include <QFontInfo>
#include <QTest>
#include <QtWidgets>

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QApplication::setFont(QFont(QApplication::font().family(), 11)); // the desktop's
        fa::setUpApplication();
    }

    void qtWordsInChineseAndCaptionsThatFit()
    {
        QString ok;
        int width = 0;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            ok = box->button(QMessageBox::Ok)->text();
            width = box->width();
            box->close();
        });
        fa::WidgetDialogs().message(nullptr, QStringLiteral("整理完毕"));
        QVERIFY(ok.startsWith(QStringLiteral("确定")));
        const QFontMetrics metrics(fa::desktopFont()); // the caption, the frame's icon and close
        QVERIFY(width >= metrics.horizontalAdvance(fa::ProgramTitle()) + 3 * metrics.height());
    }

    void textsStayInsideTheirBoxes()
    {
        FakePlatform platform;
        guitest::FakeDialogs dialogs;
        fa::frmMain main(dialogs);
        fa::frmLog log;
        main.show();
        main.IsSQL_Click(1);
        main.Timer1_Timer();
        QCOMPARE(main.font().pixelSize(), QFontInfo(fa::desktopFont()).pixelSize());
        QCOMPARE(log.font().pixelSize(), main.font().pixelSize());
        QList<std::pair<QWidget *, int>> boxes = {
            {main.Label1(), main.Label1()->width()},
            {log.Label1(), log.txtServer()->x() - log.Label1()->x()},
            {log.Label3(), log.txtPassword()->x() - log.Label3()->x()},
            {main.IsSQL(0), main.IsSQL(1)->x() - main.IsSQL(0)->x() - // before SQL's circle
                                main.style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth) -
                                main.style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing)}};
        for (QLabel *panel : main.StatusBar1()->findChildren<QLabel *>())
            boxes.append({panel, panel->width()});
        for (const auto &[w, room] : boxes) { // a colon's blank half may overhang
            const QString text = w->property("text").toString();
            QVERIFY2(w->fontMetrics().tightBoundingRect(text).right() < room, qPrintable(text));
        }
    }
};

static const bool englishSystem = qputenv("LC_ALL", "en_US.UTF-8"); // read at start-up
QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
