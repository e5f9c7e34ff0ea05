#include "testsupport.h"

#include "system/system.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

namespace testsupport {

Sandbox::Sandbox() : previousWorkingDir_(QDir::currentPath()) {
    QDir::setCurrent(dir_.path());
    vellumo::setProgramDirectory(dir_.path());
}

Sandbox::~Sandbox() {
    QDir::setCurrent(previousWorkingDir_);
    vellumo::setProgramDirectory(QString());
}

QString Sandbox::path() const {
    return dir_.path();
}
QString Sandbox::file(const QString& name) const {
    return dir_.filePath(name);
}

FixedClock::FixedClock(const QDateTime& at) : at_(at) {
    vellumo::setClock([this] { return at_; });
}
FixedClock::~FixedClock() {
    vellumo::setClock({});
}
void FixedClock::set(const QDateTime& at) {
    at_ = at;
}

namespace {
// Which test (function and data row) is running. An answer registered by one
// test must never answer, or touch the captured locals of, a dialog of the next.
QByteArray currentTest() {
    QByteArray name = QTest::currentTestFunction() ? QTest::currentTestFunction() : "";
    if (QTest::currentDataTag())
        name += QByteArray("/") + QTest::currentDataTag();
    return name;
}
} // namespace

void whenModal(std::function<void(QWidget*)> answer, int timeoutMs) {
    auto* timer = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    const QByteArray test = currentTest();
    QPointer<QWidget> previous(QApplication::activeModalWidget());
    QObject::connect(timer, &QTimer::timeout, timer, [=]() {
        if (currentTest() != test || clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            return;
        }
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != previous.data() && modal->isVisible()) {
            timer->stop();
            timer->deleteLater();
            answer(modal);
        }
    });
    timer->start(10);
}

QString messageText(QWidget* modal) {
    if (auto* box = qobject_cast<QMessageBox*>(modal))
        return box->text();
    return QString();
}

void clickButton(QWidget* modal, const QString& buttonText) {
    const auto buttons = modal->findChildren<QAbstractButton*>();
    for (QAbstractButton* button : buttons) {
        if (button->text() == buttonText) {
            button->click();
            return;
        }
    }
    qWarning("no button \"%s\" in the modal dialog", qPrintable(buttonText));
}

void typeText(QWidget* widget, const QString& text) {
    for (const QChar ch : text) {
        if (ch.unicode() < 0x80 && ch.isPrint())
            QTest::keyClick(widget, ch.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
}

QString sharedDir() {
    QString dir = qEnvironmentVariable("VELLUMO_SHARED_DIR");
    if (dir.isEmpty())
        dir = QStringLiteral(VELLUMO_SHARED_DIR_DEFAULT);
    return QDir(dir).exists(QStringLiteral("paradox-samples")) ? dir : QString();
}

} // namespace testsupport
