#include "print/formqr.h"

using namespace vellumo::report;

TFormQR::TFormQR(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FormQR"));
    setWindowTitle(QStringLiteral("FormQR"));
    setFont(reportFont(QStringLiteral("Arial"), 11));

    QuickReport.ReportTitle = QStringLiteral("Vellumo (Umschlag)");
    QuickReport.PaperSize = qrpA4;

    QRBand1 = QuickReport.addBand(QStringLiteral("QRBand1"), rbPageHeader, 657);
    QRMemo1 = QRBand1->add<TQRMemo>(QStringLiteral("QRMemo1"));
    QRMemo1->setBounds(10, 10, 263, 143);
    QRMemo2 = QRBand1->add<TQRMemo>(QStringLiteral("QRMemo2"));
    QRMemo2->setBounds(310, 198, 307, 169);
}
