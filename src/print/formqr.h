// The envelope report layout; never shown as a window.
// Only the frame so far: the program creates it at start-up like every window.
#pragma once

#include <QWidget>

class TFormQR : public QWidget {
public:
    explicit TFormQR(QWidget* parent = nullptr) : QWidget(parent) {
        setObjectName(QStringLiteral("FormQR"));
        setWindowTitle(QStringLiteral("FormQR"));
    }
};
