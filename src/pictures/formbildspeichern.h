// The picture file chooser with preview.
// Only the frame so far: the program creates it at start-up like every window.
#pragma once

#include <QDialog>

class TFormBildSpeichern : public QDialog {
public:
    explicit TFormBildSpeichern(QWidget* parent = nullptr) : QDialog(parent) {
        setObjectName(QStringLiteral("FormBildSpeichern"));
        setWindowTitle(QStringLiteral("Bild laden"));
    }
};
