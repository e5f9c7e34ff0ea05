// The address list: a title band with the heading, a page-header band with
// the column labels and rules, one detail band per row with six fields.
#pragma once

#include "print/printstyle.h"

namespace vellumo::print {

class ListStyle : public PrintStyle {
public:
    explicit ListStyle(report::RowSource* rows);
    QString name() const override { return QStringLiteral("Liste"); }
    // "Ueberschrift" (text), "Gitternetzlinien" (bool).
    QList<StyleOption> options() const override;
    void setOption(const QString& key, const QVariant& value) override;
    report::TQuickReport& report() override { return QuickReport; }

    report::TQuickReport QuickReport;
    report::TQRBand* QRBand1; // title
    report::TQRBand* QRBand2; // page header
    report::TQRBand* QRBand3; // detail
    report::TQRLabel* QRLabel1;
    report::TQRShape* Punktlinie;
};

} // namespace vellumo::print
