#include "testsupport.h"

#include "app/startup.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace {

// One property of a window as the X server holds it, read by another client.
QString xProperty(const QWidget* window, const char* property) {
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window->winId()),
                                          QString::fromLatin1(property)});
    if (!xprop.waitForFinished(10000))
        return QStringLiteral("<xprop did not answer>");
    return QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
}

QString netWmName(const QWidget* window) {
    static const QRegularExpression value(
        QStringLiteral("^_NET_WM_NAME\\(UTF8_STRING\\) = \"(.*)\"$"));
    const QString line = xProperty(window, "_NET_WM_NAME");
    const QRegularExpressionMatch match = value.match(line);
    return match.hasMatch() ? match.captured(1) : line;
}

} // namespace

// Runs under a real X server (Xvfb): what the window manager is given is what
// matters, windowTitle() alone was right even while the titles were not.
class TestWindowTitles : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server");
    }

    // Every window of the program and a message box carry their captions
    // exactly; the desktop still knows the program as "Vellumo".
    void theWindowSystemGetsTheCaption() {
        testsupport::Sandbox sandbox;
        vellumo::initialiseApplication(*qApp);
        vellumo::ProgramWindows windows;
        windows.createAll();
        const std::vector<QWidget*> all = windows.windows();
        for (QWidget* window : all)
            window->winId();
        QMessageBox box(QMessageBox::Question, QStringLiteral("Bestätigen"), QStringLiteral("?"));
        box.show();
        for (QWidget* window : all)
            QTRY_COMPARE(netWmName(window), window->windowTitle());
        QTRY_COMPARE(netWmName(&box), QStringLiteral("Bestätigen"));
        QTRY_COMPARE(netWmName(all.front()), QStringLiteral("Vellumo V2.5"));
        QVERIFY2(xProperty(all.front(), "WM_CLASS").endsWith(QLatin1String(", \"Vellumo\"")),
                 qPrintable(xProperty(all.front(), "WM_CLASS")));
        QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("Vellumo"));
    }
};

QTEST_MAIN(TestWindowTitles)
#include "tst_windowtitles.moc"
