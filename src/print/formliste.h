// The address list printing dialog.
// Only the frame so far: the program creates it at start-up like every window.
#pragma once

#include <QDialog>

class TFormListe : public QDialog {
public:
    explicit TFormListe(QWidget* parent = nullptr) : QDialog(parent) {
        setObjectName(QStringLiteral("FormListe"));
        setWindowTitle(QStringLiteral("Liste drucken"));
    }
};
