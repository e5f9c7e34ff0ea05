// The envelope report layout, held by a never-shown window as the program's
// other windows are.
#pragma once

#include "print/envelopestyle.h"

#include <QWidget>

class TFormQR : public QWidget, public vellumo::print::EnvelopeStyle {
public:
    explicit TFormQR(QWidget* parent = nullptr);
};
