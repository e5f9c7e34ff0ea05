#include "testsupport.h"

#include "platform/system/system.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWindow>

namespace testsupport {

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

struct ModalWatch::State {
    bool cancelled = false;
    bool answered = false;
};

void ModalWatch::cancel() {
    state_->cancelled = true;
}

bool ModalWatch::answered() const {
    return state_->answered;
}

namespace {
// A modal that is shown but not yet active still has its activation queued;
// answering it now would let that activation arrive after it has closed and
// leave a hidden window active. Offscreen activates every shown window, so
// this wait is short; the grace keeps a platform that never does from hanging.
constexpr qint64 kActivationGraceMs = 2000;

bool readyToAnswer(QWidget* modal, QElapsedTimer& seen) {
    if (QApplication::activeWindow() == modal && modal->windowHandle() &&
        QGuiApplication::focusWindow() == modal->windowHandle())
        return true;
    if (!seen.isValid())
        seen.start();
    return seen.elapsed() > kActivationGraceMs;
}
} // namespace

ModalWatch whenModal(std::function<void(QWidget*)> answer, int timeoutMs) {
    auto state = std::make_shared<ModalWatch::State>();
    auto* timer = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    auto seen = std::make_shared<QElapsedTimer>();
    clock->start();
    const QByteArray test = currentTest();
    QPointer<QWidget> previous(QApplication::activeModalWidget());
    QObject::connect(timer, &QTimer::timeout, timer, [=]() {
        if (state->cancelled || currentTest() != test || clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            return;
        }
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == previous.data() || !modal->isVisible()) {
            seen->invalidate();
            return;
        }
        if (!readyToAnswer(modal, *seen))
            return;
        timer->stop();
        timer->deleteLater();
        state->answered = true;
        QPointer<QWidget> guard(modal);
        answer(modal);
        if (QTest::currentTestFailed() && guard && guard->isVisible()) {
            if (auto* dialog = qobject_cast<QDialog*>(guard.data()))
                dialog->reject();
            else
                guard->close();
        }
    });
    timer->start(10);
    return ModalWatch(state);
}

bool activate(QWidget* window, int timeoutMs) {
    QWidget* top = window->window();
    auto isActive = [top] {
        return QApplication::activeWindow() == top && top->windowHandle() &&
               QGuiApplication::focusWindow() == top->windowHandle();
    };
    QElapsedTimer clock;
    clock.start();
    while (!isActive()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        // Asked again each round: an activation of some other window that was
        // still queued may be delivered after the first request.
        top->activateWindow();
        QTest::qWait(10);
    }
    return true;
}

void settle() {
    // A queued call may queue the next (a box's answer, then the focus it
    // hands back); a few rounds reach the end of such a chain.
    for (int round = 0; round < 4; ++round) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
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
    // Fails the test at once and closes the dialog, so the test ends now
    // instead of at its time limit.
    QStringList present;
    for (QAbstractButton* button : buttons)
        present << '"' + button->text() + '"';
    const QByteArray message = QStringLiteral("no button \"%1\" in the modal dialog (it has %2)")
                                   .arg(buttonText, present.join(", "))
                                   .toUtf8();
    QTest::qFail(message.constData(), __FILE__, __LINE__);
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->reject();
    else
        modal->close();
}

void typeText(QWidget* widget, const QString& text) {
    for (const QChar ch : text) {
        if (ch.unicode() < 0x80 && ch.isPrint())
            QTest::keyClick(widget, ch.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
}

} // namespace testsupport
