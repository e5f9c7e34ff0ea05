// Helpers every GUI and store test uses: private directories, a fixed clock,
// answering modal dialogs and typing text with umlauts.
#pragma once

#include <QDateTime>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <memory>

class QWidget;

namespace testsupport {

// A private temporary directory that also becomes the working directory and
// the program directory (where Setup.ini lives) for as long as it lives.
class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    QString path() const;
    QString file(const QString& name) const; // path/name
    bool isValid() const { return dir_.isValid(); }

private:
    QTemporaryDir dir_;
    QString previousWorkingDir_;
};

// Fixes vellumo::now() for as long as it lives.
class FixedClock {
public:
    explicit FixedClock(const QDateTime& at);
    ~FixedClock();
    void set(const QDateTime& at);

private:
    QDateTime at_;
};

// What whenModal returns: lets a helper whose answer captures its own locals
// withdraw the answer before it returns, so that a dialog opening later can
// never reach those locals.
class ModalWatch {
public:
    struct State;
    explicit ModalWatch(std::shared_ptr<State> state) : state_(std::move(state)) {}
    void cancel();
    bool answered() const;

private:
    std::shared_ptr<State> state_;
};

// Calls answer with the next modal widget that opens (polled every 10 ms, for
// at most timeoutMs of wall-clock time), once the window system has made it
// the active window. Call before the code that opens the dialog. Only the
// running test function (and data row) is answered. When an assertion inside
// answer fails and leaves the dialog open, the dialog is closed so that the
// test ends instead of hanging.
ModalWatch whenModal(std::function<void(QWidget*)> answer, int timeoutMs = 15000);

// Makes window the active window and waits (wall clock) until the window system
// agrees. Needed after a dialog has closed: the offscreen platform hands the
// activation back to nobody, and a still-pending activation of the closed
// dialog would otherwise take the keyboard away from window later. Returns
// false on timeout.
[[nodiscard]] bool activate(QWidget* window, int timeoutMs = 15000);

// Runs what the program has already queued: its error boxes and focus moves
// come from zero timers. After it, a test can check that something did not
// happen (no box, the focus still where it was) without waiting on the clock.
void settle();

// Text of a modal QMessageBox, and a click on the button with the given text
// ("&Ja", "OK", …).
QString messageText(QWidget* modal);
void clickButton(QWidget* modal, const QString& buttonText);

// Types text into a widget, including characters QTest::keyClicks cannot send.
void typeText(QWidget* widget, const QString& text);

// Directory of the real sample tables, or "" when it is absent.
QString sharedDir();

} // namespace testsupport
