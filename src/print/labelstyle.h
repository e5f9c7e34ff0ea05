// Addresses on sheets of labels, one record per label in the order of the
// rows, from a chosen label of the first sheet on; or one label per household.
// Each page is one sheet: its labels stand at the sheet's cells to a
// hundredth of a millimetre, moved by the printer's correction, so any page
// is laid out alone from its number.
#pragma once

#include "print/labels/labelformats.h"
#include "print/printstyle.h"

#include <memory>

namespace vellumo::print {

class LabelStyle : public PrintStyle {
public:
    explicit LabelStyle(report::RowSource* rows);
    ~LabelStyle() override;
    QString name() const override { return QStringLiteral("Etiketten"); }
    // "Format" (the sheet's name as listed, "Zweckform 3474"), "Start" (the
    // first sheet's first label, from 1), "Haushalt" (bool), "Schrift"
    // (family), "Groesse" (points), "KorrekturX", "KorrekturY" (millimetres,
    // right and down), "Kalibrierung" (bool: one sheet of ruled cells instead
    // of addresses), "Markieren" (bool: mark lines that do not fit, for the
    // preview).
    QList<StyleOption> options() const override;
    void setOption(const QString& key, const QVariant& value) override;
    report::TQuickReport& report() override { return QuickReport; }

    void setFormat(const labels::LabelFormat& format);
    const labels::LabelFormat& format() const;
    // The label formats of this machine, read once.
    static const labels::LabelCatalogue& catalogue();
    // The sheet's paper, whole: labels reach to its edges.
    report::PageGeometry geometry() const override;

    report::TQuickReport QuickReport;

    struct State; // of the options and of the run under way

private:
    std::unique_ptr<State> state_;
    std::unique_ptr<report::RowSource> sheets_;
};

} // namespace vellumo::print
