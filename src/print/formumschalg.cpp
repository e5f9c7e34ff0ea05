#include "print/formumschalg.h"

#include "platform/report/output.h"
#include "platform/settings/profile.h"
#include "platform/ui/keypreview.h"
#include "platform/ui/messages.h"
#include "platform/ui/placement.h"
#include "print/formqr.h"
#include "print/printrules.h"
#include "ui_formumschalg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QStyle>

using namespace vellumo;

TFormUmschalg::TFormUmschalg(QWidget* parent) : QDialog(parent), ui(new Ui::TFormUmschalg) {
    ui->setupUi(this);
    setObjectName(QStringLiteral("FormUmschalg"));
    setFixedSize(426, 337);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    ui->DruckenButton->setIcon(QIcon::fromTheme(
        QStringLiteral("document-print"), QIcon(QStringLiteral(":/icons/umschlag_gross.png"))));
    if (ui->DruckenButton->icon().isNull())
        ui->DruckenButton->setText(QStringLiteral("&Drucken"));
    ui->AbbruchButton->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));

    // The memos' texts in the colours they print in; a disabled memo keeps
    // the style's disabled look.
    setTextColour(ui->Memo, Qt::black);
    for (QPushButton* button : {ui->ButtonFontEmpfaenger, ui->ButtonFontAbsender}) {
        QPalette palette = button->palette();
        palette.setColor(QPalette::ButtonText, Qt::black);
        button->setPalette(palette);
    }

    FontDialog = new QFontDialog(this);
    FontDialog->setObjectName(QStringLiteral("FontDialog"));
    FontDialog->setOption(QFontDialog::DontUseNativeDialog);
    addColourChoice();
    // The dialog's own sans (for "MS Sans Serif"), 8 pt, regular: a family
    // the dialog does not list would open it on the first one it has.
    lastFont_ = QFont(QStringLiteral("Liberation Sans"));
    lastFont_.setPointSize(8);
    lastFont_.setStyleName(QStringLiteral("Regular"));
    lastColour_ = palette().color(QPalette::Active, QPalette::WindowText);

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

    // The formats are the envelope style's: the dialog offers what the style
    // can place, in its order.
    for (const print::StyleOption& option : print::EnvelopeStyle().options())
        if (option.key == u"Format")
            ui->ComboBox1->addItems(option.choices);
    installKeyPreview(this);
    ui->ComboBox1->lineEdit()->installEventFilter(this);
    centreWhenShown(this);
    FormCreate();
}

TFormUmschalg::~TFormUmschalg() {
    delete ui;
}

namespace {

// The sixteen standard colours of the font dialog, as they are named there.
struct NamedColour {
    const char* name;
    QRgb rgb;
};
constexpr NamedColour kStandardColours[] = {
    {"Schwarz", 0x000000},  {"Kastanienbraun", 0x800000}, {"Grün", 0x008000},
    {"Olivgrün", 0x808000}, {"Marineblau", 0x000080},     {"Violett", 0x800080},
    {"Blaugrün", 0x008080}, {"Grau", 0x808080},           {"Silber", 0xC0C0C0},
    {"Rot", 0xFF0000},      {"Hellgrün", 0x00FF00},       {"Gelb", 0xFFFF00},
    {"Blau", 0x0000FF},     {"Fuchsie", 0xFF00FF},        {"Aquamarin", 0x00FFFF},
    {"Weiß", 0xFFFFFF},
};

} // namespace

void TFormUmschalg::setTextColour(QWidget* memo, const QColor& colour) {
    QPalette palette = memo->palette();
    palette.setColor(QPalette::Active, QPalette::Text, colour);
    palette.setColor(QPalette::Inactive, QPalette::Text, colour);
    memo->setPalette(palette);
}

// Qt's font dialog has no colour: a "Farbe" choice joins its effects.
void TFormUmschalg::addColourChoice() {
    ColourBox = new QComboBox(FontDialog);
    ColourBox->setObjectName(QStringLiteral("Farbe"));
    for (const NamedColour& colour : kStandardColours) {
        QPixmap swatch(16, 12);
        swatch.fill(QColor(colour.rgb));
        ColourBox->addItem(QIcon(swatch), QString::fromUtf8(colour.name), QColor(colour.rgb));
    }
    auto* label = new QLabel(QStringLiteral("&Farbe:"), FontDialog);
    label->setBuddy(ColourBox);
    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(ColourBox, 1);
    QGroupBox* effects = nullptr;
    for (QGroupBox* box : FontDialog->findChildren<QGroupBox*>())
        if (box->findChild<QCheckBox*>() && box->layout())
            effects = box;
    if (auto* column = effects ? qobject_cast<QBoxLayout*>(effects->layout()) : nullptr)
        column->addLayout(row);
    else if (auto* grid = qobject_cast<QGridLayout*>(FontDialog->layout()))
        grid->addLayout(row, grid->rowCount(), 0, 1, -1);
    // The sample shows the colour chosen.
    QLineEdit* sample = nullptr;
    for (QGroupBox* box : FontDialog->findChildren<QGroupBox*>())
        if (QLineEdit* edit = box->findChild<QLineEdit*>())
            sample = edit;
    if (sample)
        connect(ColourBox, &QComboBox::currentIndexChanged, sample, [this, sample] {
            setTextColour(sample, ColourBox->currentData().value<QColor>());
        });
}

void TFormUmschalg::FormCreate() {
    ui->ComboBox1->setCurrentIndex(1);
}

int TFormUmschalg::ShowFor(const address::PostalAddress& address) {
    ui->Memo->setPlainText(print::recipientLines(address).join(u'\n'));
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
    const int colour = ColourBox->findData(lastColour_);
    ColourBox->setCurrentIndex(colour >= 0 ? colour : 0);
    if (FontDialog->exec() != QDialog::Accepted)
        return;
    lastFont_ = FontDialog->selectedFont();
    lastColour_ = ColourBox->currentData().value<QColor>();
    QPlainTextEdit* memo = sender == ui->ButtonFontEmpfaenger ? ui->Memo : ui->AbsenderMemo;
    memo->setFont(lastFont_);
    setTextColour(memo, lastColour_);
}

void TFormUmschalg::DruckenButtonClick() {
    PrepareEnvelope();
    if (layout_)
        report::Print(layout_->QuickReport, this);
}

void TFormUmschalg::PrepareEnvelope() {
    TFormQR* layout = layout_;
    if (!layout)
        return;
    QComboBox* box = ui->ComboBox1;
    const int index = box->currentIndex();
    if (index >= 0 && box->currentText() == box->itemText(index))
        layout->setOption(QStringLiteral("Format"), index);
    layout->QRMemo1->Lines.clear();
    layout->QRMemo2->Lines.clear();
    if (!ui->AbsCheckBox->isChecked()) {
        layout->QRMemo1->Font = report::reportFontFrom(ui->AbsenderMemo->font());
        layout->QRMemo1->Color =
            ui->AbsenderMemo->palette().color(QPalette::Active, QPalette::Text);
        layout->QRMemo1->Lines = print::displayedLines(ui->AbsenderMemo);
    }
    if (!ui->AdrCheckBox->isChecked()) {
        layout->QRMemo2->Font = report::reportFontFrom(ui->Memo->font());
        layout->QRMemo2->Color = ui->Memo->palette().color(QPalette::Active, QPalette::Text);
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
