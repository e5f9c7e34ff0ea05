// The envelope report layout: one A4 page holding a page-header band with
// the sender block and the recipient block. Never shown as a window.
#pragma once

#include "platform/report/report.h"

#include <QWidget>

class TFormQR : public QWidget {
public:
    explicit TFormQR(QWidget* parent = nullptr);

    vellumo::report::TQuickReport QuickReport;
    vellumo::report::TQRBand* QRBand1;
    vellumo::report::TQRMemo* QRMemo1; // sender
    vellumo::report::TQRMemo* QRMemo2; // recipient
};
