#include "find/formtabelle.h"

#include "platform/database/datasource.h"
#include "platform/database/dbgrid.h"
#include "platform/ui/keypreview.h"
#include "platform/ui/placement.h"
#include "ui_formtabelle.h"

#include <QResizeEvent>
#include <QStyle>

TFormTabelle::TFormTabelle(vellumo::DataSource& source, QWidget* parent)
    : QDialog(parent), ui(new Ui::TFormTabelle), source_(source) {
    ui->setupUi(this);
    resize(603, 397);
    ui->ButtonExit->setIcon(style()->standardIcon(QStyle::SP_ArrowBack));
    ui->DBGrid1->setColumns({
        {QStringLiteral("Name"), QStringLiteral("Name"), 150},
        {QStringLiteral("Vorname"), QStringLiteral("Vorname"), 150},
        {QStringLiteral("Land"), QStringLiteral("Land"), 30},
        {QStringLiteral("PLZ"), QStringLiteral("PLZ"), 40},
        {QStringLiteral("Ort"), QStringLiteral("Ort"), 150},
        {QStringLiteral("Strasse"), QStringLiteral("Strasse"), 150},
        {QStringLiteral("Telefon1"), QStringLiteral("Telefon1"), 140},
        {QStringLiteral("Telefon2"), QStringLiteral("Telefon2"), 140},
        {QStringLiteral("Fax"), QStringLiteral("Fax"), 140},
        {QStringLiteral("Email"), QStringLiteral("Email"), 160},
    });
    ui->DBGrid1->setDataSource(&source_);
    connect(ui->ButtonExit, &QToolButton::clicked, this, [this] { ButtonExitClick(); });
    vellumo::installKeyPreview(this);
    vellumo::centreWhenShown(this);
}

TFormTabelle::~TFormTabelle() {
    delete ui;
}

vellumo::DBGrid* TFormTabelle::grid() const {
    return ui->DBGrid1;
}

void TFormTabelle::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    ui->DBGrid1->setFocus();
    FormResize();
}

void TFormTabelle::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    FormResize();
}

void TFormTabelle::FormResize() {
    // The layout has already given the panel the window's new width.
    ui->ButtonExit->move(ui->Panel1->width() - 32, 4);
}

void TFormTabelle::ButtonExitClick() {
    done(QDialog::Accepted);
}

void TFormTabelle::FormKeyPress(QChar key) {
    if (key.unicode() == 13)
        done(QDialog::Accepted);
    else if (key.unicode() == 27)
        done(QDialog::Rejected);
}

bool TFormTabelle::eventFilter(QObject* watched, QEvent* event) {
    const int key = vellumo::previewedKey(watched, event);
    if (key == 13 || key == 27) {
        FormKeyPress(QChar(key));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
