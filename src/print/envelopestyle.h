// The envelope: one A4 page holding a page-header band with the sender block
// and the recipient block.
#pragma once

#include "print/printstyle.h"

#include <array>

namespace vellumo::print {

struct EnvelopeFormat {
    const char* text; // UTF-8
    int left;         // recipient block, report units from the page's top-left corner
    int top;
};

inline constexpr std::array<EnvelopeFormat, 5> kEnvelopeFormats{{
    {"11.0 x 22.0cm (Umschlag DL)", 470, 230},
    {"11.4 x 16.2cm (Umschlag C6)", 286, 246},
    {"16.2 x 22.9cm (Umschlag C5)", 462, 390},
    {"12.5 x 17.6cm (Umschlag B6)", 334, 278},
    {"17.6 x 25.0cm (Umschlag B5)", 550, 390},
}};

class EnvelopeStyle : public PrintStyle {
public:
    EnvelopeStyle();
    QString name() const override { return QStringLiteral("Umschlag"); }
    // "Format" (index into kEnvelopeFormats, placing the recipient block),
    // "Absender" and "Empfaenger" (lines).
    QList<StyleOption> options() const override;
    void setOption(const QString& key, const QVariant& value) override;
    report::TQuickReport& report() override { return QuickReport; }

    report::TQuickReport QuickReport;
    report::TQRBand* QRBand1;
    report::TQRMemo* QRMemo1; // sender
    report::TQRMemo* QRMemo2; // recipient
};

} // namespace vellumo::print
