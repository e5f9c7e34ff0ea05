// The picture viewer of the current record.
// Only the frame so far: the program creates it at start-up like every window.
#pragma once

#include <QDialog>

class TFormBild : public QDialog {
public:
    explicit TFormBild(QWidget* parent = nullptr) : QDialog(parent) {
        setObjectName(QStringLiteral("FormBild"));
        setWindowTitle(QStringLiteral("FormBild"));
    }
};
