// Serial letters by DIN 5008 for window envelopes: one letter per row, on A4,
// form B (address field 45 mm from the top) or form A (27 mm), the return
// line small in the top of the address field, the recipient in its lower
// 27.3 mm by the one postal formatter, the date in the information block,
// the subject in bold, the body flowing onto further pages ("Seite 2 von 3"),
// folding marks and the hole mark at the left edge.
//
// The rows of a run are the letters' pages, so that any page is laid out
// alone from its number, as the preview wants it.
#pragma once

#include "print/lettertemplate.h"
#include "print/printstyle.h"

#include <memory>

namespace vellumo::print {

class LetterStyle : public PrintStyle {
public:
    explicit LetterStyle(report::RowSource* rows);
    ~LetterStyle() override;
    QString name() const override { return QStringLiteral("Serienbrief"); }
    // "Vorlage" (the template file, read and checked when set), "Text" (the
    // template's text itself), "Form" ("A" or "B"), "Anrede" (the salutation,
    // placeholders allowed), "Absender" (the return line; empty: none),
    // "Datum" (the day of printing, as a QDate).
    QList<StyleOption> options() const override;
    void setOption(const QString& key, const QVariant& value) override;
    report::TQuickReport& report() override { return QuickReport; }
    report::PageGeometry geometry() const override;

    // The letter of row (0-based) as it will be printed.
    Letter letterFor(int row) const;

    report::TQuickReport QuickReport;
    struct State;

private:
    std::unique_ptr<State> state_;
    std::unique_ptr<report::RowSource> pages_;
};

// The return line of a window envelope from the sender's lines: the
// non-empty ones joined by " · ".
QString returnLine(const QStringList& senderLines);

} // namespace vellumo::print
