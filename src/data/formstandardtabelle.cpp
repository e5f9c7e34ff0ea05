#include "data/formstandardtabelle.h"

#include "platform/settings/profile.h"
#include "platform/ui/keypreview.h"
#include "platform/ui/messages.h"
#include "platform/ui/placement.h"
#include "ui_formstandardtabelle.h"

#include <QFileDialog>
#include <QKeyEvent>
#include <QStyle>

namespace {
const QString kSection = QStringLiteral("Standardtabelle");
const QString kKey = QStringLiteral("FileName");
} // namespace

TFormStandardtabelle::TFormStandardtabelle(QFileDialog& openDialog, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      ui(new Ui::TFormStandardtabelle), openDialog_(openDialog) {
    ui->setupUi(this);
    ui->SpeedButton1->setIcon(QIcon(QStringLiteral(":/icons/oeffnen.png")));
    ui->AbbruchButton->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    ui->LoeschenButton->setIcon(style()->standardIcon(QStyle::SP_DialogNoButton));
    ui->OkButton->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));

    connect(ui->SpeedButton1, &QToolButton::clicked, this,
            vellumo::guarded([this] { SpeedButton1Click(); }));
    // The buttons close the dialog also when their action fails: the error has
    // been shown, and the file keeps what it had.
    connect(ui->OkButton, &QPushButton::clicked, this, [this] {
        vellumo::runGuarded([this] { OkButtonClick(); });
        accept();
    });
    connect(ui->LoeschenButton, &QPushButton::clicked, this, [this] {
        vellumo::runGuarded([this] { LoeschenButtonClick(); });
        reject();
    });
    connect(ui->AbbruchButton, &QPushButton::clicked, this, [this] { AbbruchButtonClick(); });
    vellumo::installKeyPreview(this);
    vellumo::centreWhenShown(this);
}

TFormStandardtabelle::~TFormStandardtabelle() {
    delete ui;
}

void TFormStandardtabelle::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    FormActivate();
}

bool TFormStandardtabelle::eventFilter(QObject* watched, QEvent* event) {
    if (vellumo::previewedKey(watched, event) == 27) {
        FormKeyPress(QChar(27));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TFormStandardtabelle::FormActivate() {
    ui->Edit1->setText(
        vellumo::ReadSettingText(vellumo::setupIniPath(), kSection, kKey, QString()));
}

void TFormStandardtabelle::SpeedButton1Click() {
    openDialog_.setWindowTitle(QString::fromUtf8(kBrowseTitle));
    if (openDialog_.exec() != QDialog::Accepted)
        return;
    if (QWidget* mainWindow = parentWidget())
        mainWindow->repaint();
    const QStringList chosen = openDialog_.selectedFiles();
    if (!chosen.isEmpty())
        ui->Edit1->setText(chosen.first());
}

void TFormStandardtabelle::OkButtonClick() {
    vellumo::WritePrivateProfileString(kSection, kKey, ui->Edit1->text(), vellumo::setupIniPath());
}

void TFormStandardtabelle::LoeschenButtonClick() {
    vellumo::ErasePrivateProfileSection(kSection, vellumo::setupIniPath());
}

void TFormStandardtabelle::AbbruchButtonClick() {
    reject();
}

void TFormStandardtabelle::FormKeyPress(QChar key) {
    if (key == QChar(27))
        reject();
}
