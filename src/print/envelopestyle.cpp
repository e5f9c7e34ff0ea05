#include "print/envelopestyle.h"

using namespace vellumo::report;

namespace vellumo::print {

EnvelopeStyle::EnvelopeStyle() {
    QuickReport.ReportTitle = QStringLiteral("Vellumo (Umschlag)");
    QuickReport.PaperSize = qrpA4;

    QRBand1 = QuickReport.addBand(QStringLiteral("QRBand1"), rbPageHeader, 657);
    QRMemo1 = QRBand1->add<TQRMemo>(QStringLiteral("QRMemo1"));
    QRMemo1->setBounds(10, 10, 263, 143);
    QRMemo2 = QRBand1->add<TQRMemo>(QStringLiteral("QRMemo2"));
    QRMemo2->setBounds(310, 198, 307, 169);
}

QList<StyleOption> EnvelopeStyle::options() const {
    int format = -1;
    for (std::size_t i = 0; i < kEnvelopeFormats.size(); ++i)
        if (kEnvelopeFormats[i].left == QRMemo2->Left && kEnvelopeFormats[i].top == QRMemo2->Top)
            format = static_cast<int>(i);
    QStringList formats;
    for (const EnvelopeFormat& f : kEnvelopeFormats)
        formats << QString::fromUtf8(f.text);
    return {{QStringLiteral("Format"), QStringLiteral("Umschlagformat"), format, formats},
            {QStringLiteral("Absender"), QStringLiteral("Absender"), QRMemo1->Lines},
            {QStringLiteral("Empfaenger"), QStringLiteral("Empfänger"), QRMemo2->Lines}};
}

void EnvelopeStyle::setOption(const QString& key, const QVariant& value) {
    if (key == u"Format") {
        int index = value.toInt();
        if (value.typeId() == QMetaType::QString)
            for (std::size_t i = 0; i < kEnvelopeFormats.size(); ++i)
                if (value.toString() == QString::fromUtf8(kEnvelopeFormats[i].text))
                    index = static_cast<int>(i);
        if (index < 0 || index >= static_cast<int>(kEnvelopeFormats.size()))
            throw ReportError(QStringLiteral("Das Umschlagformat %1 gibt es nicht").arg(index));
        QRMemo2->Left = kEnvelopeFormats[static_cast<std::size_t>(index)].left;
        QRMemo2->Top = kEnvelopeFormats[static_cast<std::size_t>(index)].top;
    } else if (key == u"Absender") {
        QRMemo1->Lines = value.toStringList();
    } else if (key == u"Empfaenger") {
        QRMemo2->Lines = value.toStringList();
    } else {
        unknownOption(name(), key);
    }
}

} // namespace vellumo::print
