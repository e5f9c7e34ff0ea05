#pragma once

#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QApplication;

namespace vellumo {

// Owns the twelve windows of the program (app/windows.h): creates them once,
// in their order, and destroys them in the reverse order, clearing the
// program-wide pointers with them.
class ProgramWindows {
public:
    ProgramWindows() = default;
    ProgramWindows(const ProgramWindows&) = delete;
    ProgramWindows& operator=(const ProgramWindows&) = delete;
    ~ProgramWindows();

    // Raises what a window's creation raises; the windows made so far stay
    // owned and go with destroy().
    void createAll();
    void destroy();
    // The windows in the order they were created.
    std::vector<QWidget*> windows() const {
        std::vector<QWidget*> all;
        for (const Entry& entry : owned_)
            all.push_back(entry.window.get());
        return all;
    }

private:
    template <class Window, class... Args> Window* create(Window*& instance, Args&&... args);
    // A window without a program-wide instance (a registered print dialog).
    template <class Window> Window* adopt(std::unique_ptr<Window> window);

    struct Entry {
        std::unique_ptr<QWidget> window;
        std::function<void()> forget;
    };
    std::vector<Entry> owned_;
};

// The program's name for the desktop (application name, window class, desktop
// entry); every window's title is its caption alone.
void nameApplication(QApplication& app);

// Prepares the application (title, fonts, German translations of Qt's own dialogs).
void initialiseApplication(QApplication& app);

// The whole start: splash, windows, wait for the splash, message loop.
int runVellumo(QApplication& app);

} // namespace vellumo
