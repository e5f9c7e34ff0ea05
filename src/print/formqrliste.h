// The address list report layout; never shown as a window.
// Only the frame so far: the program creates it at start-up like every window.
#pragma once

#include <QWidget>

class TFormQRListe : public QWidget {
public:
    explicit TFormQRListe(QWidget* parent = nullptr) : QWidget(parent) {
        setObjectName(QStringLiteral("FormQRListe"));
        setWindowTitle(QStringLiteral("FormQRListe"));
    }
};
