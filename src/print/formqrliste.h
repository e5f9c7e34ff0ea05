// The address list report layout: title band with the heading, page-header
// band with the column labels and rules, one detail band per record. Never
// shown as a window.
#pragma once

#include "print/printrules.h"
#include "platform/report/report.h"

#include <QWidget>

namespace vellumo {
class DataSource;
}

class TFormQRListe : public QWidget {
public:
    explicit TFormQRListe(vellumo::DataSource& source, QWidget* parent = nullptr);

    vellumo::report::TQuickReport QuickReport;
    vellumo::report::TQRBand* QRBand1; // title
    vellumo::report::TQRBand* QRBand2; // page header
    vellumo::report::TQRBand* QRBand3; // detail
    vellumo::report::TQRLabel* QRLabel1;
    vellumo::report::TQRShape* Punktlinie;

private:
    vellumo::print::StoreRows rows_;
};
