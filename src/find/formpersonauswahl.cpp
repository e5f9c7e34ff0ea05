#include "find/formpersonauswahl.h"

#include "platform/database/datasource.h"
#include "platform/database/dbgrid.h"
#include "platform/database/recordstore.h"
#include "platform/ui/keypreview.h"
#include "platform/ui/messages.h"
#include "platform/ui/placement.h"
#include "ui_formpersonauswahl.h"

#include <QStyle>

TFormPersonAuswahl::TFormPersonAuswahl(vellumo::DataSource& source, QWidget* parent)
    : QDialog(parent), ui(new Ui::TFormPersonAuswahl), source_(source) {
    ui->setupUi(this);
    resize(504, 325);
    ui->BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    // "Plz" is how the column names the field; fields match without regard to case.
    ui->DBGrid1->setColumns({
        {QStringLiteral("Name"), QStringLiteral("Name"), 100},
        {QStringLiteral("Vorname"), QStringLiteral("Vorname"), 102},
        {QStringLiteral("Plz"), QStringLiteral("PLZ"), 61},
        {QStringLiteral("Ort"), QStringLiteral("Ort"), 96},
        {QStringLiteral("Strasse"), QStringLiteral("Straße"), 107},
    });
    ui->DBGrid1->setDataSource(&source_);
    connect(ui->BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
    vellumo::installKeyPreview(this);
    vellumo::centreWhenShown(this);
}

TFormPersonAuswahl::~TFormPersonAuswahl() {
    delete ui;
}

vellumo::DBGrid* TFormPersonAuswahl::grid() const {
    return ui->DBGrid1;
}

void TFormPersonAuswahl::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TFormPersonAuswahl::FormShow() {
    ui->DBGrid1->setFocus();
}

void TFormPersonAuswahl::BitBtn1Click() {
    setResult(QDialog::Accepted);
    vellumo::runGuarded([this] {
        // Positions in the whole table do not change with the filter, so the
        // distance from the first record leads back to the chosen one.
        vellumo::RecordStore& store = source_.store();
        const int chosen = store.RecordNumber();
        store.SetFilterActive(false);
        store.StepBy(chosen - store.RecordNumber());
    });
    done(QDialog::Accepted);
}

void TFormPersonAuswahl::FormKeyPress(QChar key) {
    if (key.unicode() == 27)
        done(QDialog::Rejected);
}

bool TFormPersonAuswahl::eventFilter(QObject* watched, QEvent* event) {
    if (vellumo::previewedKey(watched, event) == 27) {
        FormKeyPress(QChar(27));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
