#include "print/formqr.h"

TFormQR::TFormQR(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FormQR"));
    setWindowTitle(QStringLiteral("FormQR"));
    setFont(vellumo::report::reportFont(QStringLiteral("Arial"), 11));
}
