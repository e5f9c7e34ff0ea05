// Helpers every GUI and store test uses: private directories, a fixed clock,
// answering modal dialogs and typing text with umlauts.
#pragma once

#include <QDateTime>
#include <QString>
#include <QTemporaryDir>

#include <functional>

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

// Calls answer with the next modal widget that opens (polled every 10 ms, for
// at most timeoutMs). Call before the code that opens the dialog.
void whenModal(std::function<void(QWidget*)> answer, int timeoutMs = 5000);

// Text of a modal QMessageBox, and a click on the button with the given text
// ("&Ja", "OK", …).
QString messageText(QWidget* modal);
void clickButton(QWidget* modal, const QString& buttonText);

// Types text into a widget, including characters QTest::keyClicks cannot send.
void typeText(QWidget* widget, const QString& text);

// Directory of the real sample tables, or "" when it is absent.
QString sharedDir();

} // namespace testsupport
