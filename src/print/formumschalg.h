// The envelope printing dialog.
// Only the frame so far: the program creates it at start-up like every window.
#pragma once

#include <QDialog>

class TFormUmschalg : public QDialog {
public:
    explicit TFormUmschalg(QWidget* parent = nullptr) : QDialog(parent) {
        setObjectName(QStringLiteral("FormUmschalg"));
        setWindowTitle(QStringLiteral("Umschlag drucken"));
    }
};
