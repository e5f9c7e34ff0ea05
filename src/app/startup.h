#pragma once

class QApplication;

namespace vellumo {

// Prepares the application (title, fonts, German translations of Qt's own dialogs).
void initialiseApplication(QApplication& app);

// The whole start: splash, windows, wait for the splash, message loop.
int runVellumo(QApplication& app);

} // namespace vellumo
