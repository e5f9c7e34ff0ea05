// The picture windows as a person sees them: under a real X server with a
// window manager that draws frames and stacks windows (openbox), where the
// offscreen tests cannot look.
#include "testsupport.h"

#include "addresstables.h"
#include "app/hauptformular.h"
#include "app/startup.h"
#include "app/windows.h"
#include "pictures/formbild.h"
#include "pictures/formbildspeichern.h"
#include "platform/pictures/graphicfield.h"

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <QWindow>

namespace {

QString run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(10000))
        return {};
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// The client windows from the bottom of the stack to the top, as the window manager keeps them.
QList<WId> stacking() {
    const QString line =
        run(QStringLiteral("xprop"),
            {QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST_STACKING")});
    QList<WId> ids;
    const qsizetype hash = line.indexOf(QLatin1Char('#'));
    if (hash < 0)
        return ids;
    for (const QString& id : line.mid(hash + 1).split(QLatin1Char(','), Qt::SkipEmptyParts))
        ids.append(WId(id.trimmed().toULongLong(nullptr, 16)));
    return ids;
}

bool above(const QWidget* upper, const QWidget* lower) {
    const QList<WId> ids = stacking();
    return ids.indexOf(upper->winId()) > ids.indexOf(lower->winId()) &&
           ids.indexOf(lower->winId()) >= 0;
}

// A real click through the X server, so the window manager sees it too.
void clickAt(const QPoint& global) {
    run(QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), QString::number(global.x()), QString::number(global.y()),
         QStringLiteral("click"), QStringLiteral("1")});
}

QImage screenShot() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage();
}

} // namespace

class TestPictureWindows : public QObject {
    Q_OBJECT

    testsupport::Sandbox sandbox_;
    QProcess windowManager_;
    vellumo::ProgramWindows windows_;

private slots:
    void initTestCase() {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server");
        windowManager_.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        if (!windowManager_.waitForStarted(5000))
            QSKIP("openbox cannot be started");
        QTRY_VERIFY_WITH_TIMEOUT(
            run(QStringLiteral("xprop"),
                {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
                .contains(QLatin1String("window id")),
            10000);
        vellumo::initialiseApplication(*qApp);
        windows_.createAll();
        // A picture whose last row alone is red, and one far larger than the screen.
        QImage small(200, 150, QImage::Format_RGB32);
        small.fill(qRgb(20, 40, 200));
        for (int x = 0; x < small.width(); ++x)
            small.setPixel(x, small.height() - 1, qRgb(230, 10, 10));
        QImage big(3000, 2000, QImage::Format_RGB32);
        big.fill(qRgb(30, 160, 60));
        QList<testsupport::Address> rows;
        for (const auto& [name, picture] : {std::pair{"Anders", small}, std::pair{"Berger", big}})
            rows << testsupport::Address{
                {QStringLiteral("Name"), QString::fromLatin1(name)},
                {QStringLiteral("Grafik"),
                 vellumo::pictures::graphicFieldFromImage(picture, nullptr)}};
        testsupport::makeAddressTable(Hauptformular->Datentabelle, sandbox_.file("Adressen"), rows);
        Hauptformular->show();
        QVERIFY(QTest::qWaitForWindowExposed(Hauptformular));
    }

    void cleanupTestCase() {
        windows_.destroy();
        if (windowManager_.state() != QProcess::NotRunning) {
            windowManager_.terminate();
            windowManager_.waitForFinished(5000);
        }
    }

    // The viewer sizes its client area: the picture's last row is on the
    // screen below the frame the window manager drew, and a picture larger
    // than the screen is scaled down with its buttons within reach.
    void theViewerShowsTheWholePicture() {
        QColor lastRow;
        bool framed = false;
        testsupport::whenModal([&](QWidget*) {
            QTRY_VERIFY(FormBild->windowHandle()->frameMargins().top() > 0);
            framed = true;
            // The viewer places itself again once the frame is known, and the
            // window manager moves it some time after.
            const auto shownLastRow = [&] {
                const QPoint corner = FormBild->image()->mapToGlobal(QPoint(0, 0));
                lastRow = screenShot().pixelColor(corner + QPoint(100, 149));
                return lastRow;
            };
            QTRY_COMPARE_WITH_TIMEOUT(shownLastRow(), QColor(230, 10, 10), 5000);
            FormBild->SpeedButton1Click();
        });
        FormBild->ButtonSeePicClick();
        QVERIFY(framed);
        QCOMPARE(lastRow, QColor(230, 10, 10));

        Hauptformular->Datentabelle.StepForward();
        QRect frame, buttons, available;
        testsupport::whenModal([&](QWidget*) {
            QTRY_VERIFY(FormBild->windowHandle()->frameMargins().top() > 0);
            available = FormBild->screen()->availableGeometry();
            QTRY_VERIFY_WITH_TIMEOUT(available.contains(FormBild->frameGeometry()), 5000);
            frame = FormBild->frameGeometry();
            const QToolButton* back = FormBild->findChild<QToolButton*>("SpeedButton1");
            buttons = QRect(back->mapToGlobal(QPoint(0, 0)), back->size());
            FormBild->SpeedButton1Click();
        });
        FormBild->ButtonSeePicClick();
        QVERIFY2(available.contains(frame), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                           .arg(frame.x())
                                                           .arg(frame.y())
                                                           .arg(frame.width())
                                                           .arg(frame.height())));
        QVERIFY(available.contains(buttons));
        QVERIFY(FormBild->image()->width() < 3000);
        Hauptformular->Datentabelle.GoToFirst();
    }

    // The chooser belongs to the main window: a click into the main window
    // leaves it on top, where "Bild speichern" finds it.
    void theChooserStaysAboveTheMainWindow() {
        FormBildSpeichern->showModeless();
        QVERIFY(QTest::qWaitForWindowExposed(FormBildSpeichern));
        QTRY_VERIFY(above(FormBildSpeichern, Hauptformular));
        const QRect chooser = FormBildSpeichern->frameGeometry();
        const QRect main = Hauptformular->frameGeometry();
        // The main window's caption bar, beside the chooser: raises it, starts nothing.
        const int caption = main.top() + Hauptformular->windowHandle()->frameMargins().top() / 2;
        QPoint spot;
        for (int x = main.left() + 40; x < main.right() - 80 && spot.isNull(); x += 20)
            if (!chooser.contains(QPoint(x, caption)))
                spot = QPoint(x, caption);
        QVERIFY(!spot.isNull());
        clickAt(spot);
        QTest::qWait(500);
        QVERIFY(above(FormBildSpeichern, Hauptformular));
        FormBildSpeichern->BitBtn2Click();
    }
};

QTEST_MAIN(TestPictureWindows)
#include "tst_picturewindows.moc"
