#include "aids/aboutbox.h"

#include "address/bank.h"

#include "platform/ui/keypreview.h"

#include "ui_aboutbox.h"

#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QScreen>

namespace {
// The program's picture on a canvas of the panel's picture size.
// Which bank code list the bank fields are checked against, and of when.
QString bankListText() {
    const auto& banks = vellumo::address::BankDirectory::installed();
    if (!banks.isAvailable())
        return QStringLiteral("Bankleitzahlen: keine Liste installiert (KtoBlzCheck)");
    return QStringLiteral("Bankleitzahlen: Liste der Bundesbank vom %1 (KtoBlzCheck %2)")
        .arg(banks.listDate().toString(QStringLiteral("dd.MM.yyyy")),
             vellumo::address::BankDirectory::libraryVersion());
}

QPixmap programPicture() {
    QPixmap picture(83, 64);
    picture.fill(Qt::transparent);
    const QPixmap icon = QIcon(QStringLiteral(":/icons/vellumo.png")).pixmap(64, 64);
    QPainter painter(&picture);
    painter.drawPixmap((picture.width() - icon.width()) / 2, 0, icon);
    return picture;
}
} // namespace

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent), ui(new Ui::TAboutBox) {
    ui->setupUi(this);
    setObjectName(QStringLiteral("AboutBox"));
    // A fixed dialog frame: no resizing, no help button.
    setFixedSize(318, 181);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(false);

    ui->ProgramIcon->setPixmap(programPicture());
    QFont name = ui->ProductName->font();
    name.setBold(true);
    name.setPixelSize(13);
    ui->ProductName->setFont(name);
    QPalette maroon = ui->ProductName->palette();
    maroon.setColor(QPalette::WindowText, QColor(128, 0, 0));
    ui->ProductName->setPalette(maroon);

    auto* bankList = new QLabel(bankListText(), ui->Panel1);
    bankList->setObjectName(QStringLiteral("BankListe"));
    bankList->setWordWrap(true);
    bankList->setGeometry(16, 92, 273, 36);

    connect(ui->OKButton, &QPushButton::clicked, this, [this] { OKButtonClick(); });
    vellumo::installKeyPreview(this);
}

TAboutBox::~TAboutBox() {
    delete ui;
}

void TAboutBox::showEvent(QShowEvent* event) {
    if (!placed_) {
        placed_ = true;
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
    }
    QDialog::showEvent(event);
}

void TAboutBox::OKButtonClick() {
    accept();
}

bool TAboutBox::FormKeyPress(int key) {
    if (key != 27)
        return false;
    reject();
    return true;
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
    if (const int key = vellumo::previewedKey(watched, event); key == 27)
        return FormKeyPress(key);
    return QDialog::eventFilter(watched, event);
}

namespace vellumo::aids {

void Info1Click(TAboutBox* box) {
    if (!box)
        return;
    box->show();
    box->raise();
    box->activateWindow();
}

} // namespace vellumo::aids
