#include "print/formumschalg.h"

#include "platform/settings/profile.h"
#include "platform/ui/keypreview.h"
#include "platform/ui/messages.h"
#include "print/formqr.h"
#include "print/printrules.h"
#include "ui_formumschalg.h"

#include <QFontDialog>
#include <QLineEdit>
#include <QMouseEvent>
#include <QStyle>

using namespace vellumo;

TFormUmschalg::TFormUmschalg(QWidget* parent) : QDialog(parent), ui(new Ui::TFormUmschalg) {
    ui->setupUi(this);
    setObjectName(QStringLiteral("FormUmschalg"));
    setFixedSize(426, 337);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    ui->DruckenButton->setIcon(QIcon::fromTheme(QStringLiteral("document-print"),
                                                QIcon(QStringLiteral(":/icons/umschlag.png"))));
    if (ui->DruckenButton->icon().isNull())
        ui->DruckenButton->setText(QStringLiteral("&Drucken"));
    ui->AbbruchButton->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));

    // The memos' texts in the colours they print in.
    QPalette recipient = ui->Memo->palette();
    recipient.setColor(QPalette::Text, Qt::black);
    ui->Memo->setPalette(recipient);
    for (QPushButton* button : {ui->ButtonFontEmpfaenger, ui->ButtonFontAbsender}) {
        QPalette palette = button->palette();
        palette.setColor(QPalette::ButtonText, Qt::black);
        button->setPalette(palette);
    }

    FontDialog = new QFontDialog(this);
    FontDialog->setObjectName(QStringLiteral("FontDialog"));
    FontDialog->setOption(QFontDialog::DontUseNativeDialog);
    lastFont_ = QFont(QStringLiteral("MS Sans Serif"));
    lastFont_.setPointSize(8);

    connect(ui->DruckenButton, &QPushButton::clicked, this,
            guarded([this] { DruckenButtonClick(); }));
    connect(ui->AbbruchButton, &QPushButton::clicked, this, [this] { done(QDialog::Rejected); });
    connect(ui->AbsCheckBox, &QCheckBox::clicked, this,
            guarded([this] { AbsCheckBoxClick(ui->AbsCheckBox); }));
    connect(ui->AdrCheckBox, &QCheckBox::clicked, this,
            guarded([this] { AbsCheckBoxClick(ui->AdrCheckBox); }));
    connect(ui->ButtonFontEmpfaenger, &QPushButton::clicked, this,
            guarded([this] { ButtonFontEmpfaengerClick(ui->ButtonFontEmpfaenger); }));
    connect(ui->ButtonFontAbsender, &QPushButton::clicked, this,
            guarded([this] { ButtonFontEmpfaengerClick(ui->ButtonFontAbsender); }));

    installKeyPreview(this);
    ui->ComboBox1->lineEdit()->installEventFilter(this);
    FormCreate();
}

TFormUmschalg::~TFormUmschalg() {
    delete ui;
}

void TFormUmschalg::FormCreate() {
    ui->ComboBox1->setCurrentIndex(1);
}

int TFormUmschalg::ShowFor(const data::ShownAddress& address) {
    ui->Memo->setPlainText(print::recipientLines(address.vorname, address.name, address.strasse,
                                                 address.plz, address.ort)
                               .join(u'\n'));
    return exec();
}

void TFormUmschalg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        runGuarded([this] { FormShow(); });
}

void TFormUmschalg::FormShow() {
    const print::SenderSettings settings = print::loadSenderSettings(print::senderIniPath());
    ui->AbsenderMemo->setPlainText(settings.lines.join(u'\n'));
    ui->AbsCheckBox->setChecked(!settings.print);
    ui->AbsenderMemo->setEnabled(settings.print);
}

void TFormUmschalg::ComboBox1DblClick() {
    QComboBox* box = ui->ComboBox1;
    const int index = box->currentIndex();
    if (index < 0 || box->currentText() != box->itemText(index))
        return; // text of the user's own: no entry is selected
    if (index > 0)
        box->setCurrentIndex(index - 1);
    else
        box->lineEdit()->selectAll();
}

void TFormUmschalg::AbsCheckBoxClick(QObject* sender) {
    if (sender == ui->AbsCheckBox)
        ui->AbsenderMemo->setEnabled(!ui->AbsCheckBox->isChecked());
    else
        ui->Memo->setEnabled(!ui->AdrCheckBox->isChecked());
}

void TFormUmschalg::ButtonFontEmpfaengerClick(QObject* sender) {
    FontDialog->setCurrentFont(lastFont_);
    if (FontDialog->exec() != QDialog::Accepted)
        return;
    lastFont_ = FontDialog->selectedFont();
    QPlainTextEdit* memo = sender == ui->ButtonFontEmpfaenger ? ui->Memo : ui->AbsenderMemo;
    memo->setFont(lastFont_);
}

void TFormUmschalg::DruckenButtonClick() {
    PrepareEnvelope();
    if (layout_)
        layout_->QuickReport.Print(this);
}

void TFormUmschalg::PrepareEnvelope() {
    TFormQR* layout = layout_;
    if (!layout)
        return;
    QComboBox* box = ui->ComboBox1;
    const int index = box->currentIndex();
    if (index >= 0 && box->currentText() == box->itemText(index)) {
        layout->QRMemo2->Left = print::EnvelopeFormats[index].left;
        layout->QRMemo2->Top = print::EnvelopeFormats[index].top;
    }
    layout->QRMemo1->Lines.clear();
    layout->QRMemo2->Lines.clear();
    if (!ui->AbsCheckBox->isChecked()) {
        layout->QRMemo1->Font = report::reportFontFrom(ui->AbsenderMemo->font());
        layout->QRMemo1->Color = ui->AbsenderMemo->palette().color(QPalette::Text);
        layout->QRMemo1->Lines = print::displayedLines(ui->AbsenderMemo);
    }
    if (!ui->AdrCheckBox->isChecked()) {
        layout->QRMemo2->Font = report::reportFontFrom(ui->Memo->font());
        layout->QRMemo2->Color = ui->Memo->palette().color(QPalette::Text);
        layout->QRMemo2->Lines = print::displayedLines(ui->Memo);
    }
}

bool TFormUmschalg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick &&
        (watched == ui->ComboBox1 || watched == ui->ComboBox1->lineEdit())) {
        runGuarded([this] { ComboBox1DblClick(); });
        return true;
    }
    // The font dialog is a child too; its keys are its own.
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget && widget->window() == this && previewedKey(watched, event) == 27) {
        done(QDialog::Rejected);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TFormUmschalg::done(int result) {
    if (isVisible())
        runGuarded([this] { FormClose(); });
    QDialog::done(result);
}

void TFormUmschalg::FormClose() {
    print::saveSenderSettings(print::senderIniPath(), print::displayedLines(ui->AbsenderMemo),
                              !ui->AbsCheckBox->isChecked());
}
