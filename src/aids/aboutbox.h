// The about box: product name, version, author and contact lines.
// Only the frame so far: the program creates it at start-up like every window.
#pragma once

#include <QDialog>

class TAboutBox : public QDialog {
public:
    explicit TAboutBox(QWidget* parent = nullptr) : QDialog(parent) {
        setObjectName(QStringLiteral("AboutBox"));
        setWindowTitle(QStringLiteral("Info"));
    }
};
