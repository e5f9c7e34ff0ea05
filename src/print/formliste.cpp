#include "print/formliste.h"

#include "platform/report/output.h"
#include "platform/ui/keypreview.h"
#include "platform/ui/messages.h"
#include "platform/ui/placement.h"
#include "print/formqrliste.h"
#include "ui_formliste.h"

#include <QStyle>

using namespace vellumo;

TFormListe::TFormListe(QWidget* parent) : QDialog(parent), ui(new Ui::TFormListe) {
    ui->setupUi(this);
    setObjectName(QStringLiteral("FormListe"));
    setFixedSize(427, 157);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    ui->DruckenButton->setIcon(QIcon::fromTheme(QStringLiteral("document-print"),
                                                QIcon(QStringLiteral(":/icons/liste.png"))));
    ui->VorschauButton->setIcon(
        QIcon::fromTheme(QStringLiteral("document-print-preview"),
                         style()->standardIcon(QStyle::SP_FileDialogContentsView)));
    ui->AbbruchButton->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));

    connect(ui->DruckenButton, &QPushButton::clicked, this,
            guarded([this] { DruckenButtonClick(ui->DruckenButton); }));
    connect(ui->VorschauButton, &QPushButton::clicked, this,
            guarded([this] { DruckenButtonClick(ui->VorschauButton); }));
    connect(ui->AbbruchButton, &QPushButton::clicked, this, [this] { reject(); });
    installKeyPreview(this);
    centreWhenShown(this);
}

TFormListe::~TFormListe() {
    delete ui;
}

void TFormListe::DruckenButtonClick(QObject* sender) {
    TFormQRListe* layout = layout_;
    if (!layout)
        return;
    PrepareList();
    if (sender == ui->VorschauButton)
        report::Preview(layout->QuickReport, this);
    else
        report::Print(layout->QuickReport, this);
    accept();
}

void TFormListe::PrepareList() {
    if (TFormQRListe* layout = layout_) {
        layout->setOption(QStringLiteral("Gitternetzlinien"), ui->CheckBoxGitternetz->isChecked());
        layout->setOption(QStringLiteral("Ueberschrift"), ui->UeberschriftEdit->text());
    }
}

bool TFormListe::eventFilter(QObject* watched, QEvent* event) {
    if (previewedKey(watched, event) == 27) {
        reject();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
