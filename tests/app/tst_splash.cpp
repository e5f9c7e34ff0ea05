#include "app/splashscreen.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

class TestSplash : public QObject {
    Q_OBJECT
private slots:
    // The splash refuses to close until its timer has fired once, so a fast
    // start still shows it for the whole minimum time.
    void refusesToCloseBeforeItsTime() {
        QElapsedTimer clock;
        clock.start();
        TSplashScreen splash(300);
        splash.show();
        QVERIFY(!splash.FormCloseQuery());
        QTRY_VERIFY_WITH_TIMEOUT(splash.FormCloseQuery(), 5000);
        QVERIFY(clock.elapsed() >= 290);
        QCOMPARE(splash.size(), QSize(283, 78));
    }
};

QTEST_MAIN(TestSplash)
#include "tst_splash.moc"
