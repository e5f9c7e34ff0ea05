#include "aids/formkalender.h"

#include "aids/calendarrules.h"
#include "aids/tcalendar.h"
#include "platform/database/recordstore.h"
#include "platform/system/system.h"
#include "platform/ui/keypreview.h"

#include "ui_formkalender.h"

#include <QGuiApplication>
#include <QScreen>

using namespace vellumo::aids;

namespace {
const QColor kNavy(0, 0, 128);

void paintNavy(QWidget* widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, kNavy);
    palette.setColor(QPalette::ButtonText, kNavy);
    widget->setPalette(palette);
}
} // namespace

TFormKalender::TFormKalender(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), ui(new Ui::TFormKalender) {
    ui->setupUi(this);
    setFixedSize(kCalendarWidth, kCalendarHeight);
    ui->Calendar->setDate(vellumo::now().date());

    for (QWidget* button :
         {ui->JahrMinusButton, ui->JahrPlusButton, ui->MonatMinusButton, ui->MonatPlusButton})
        paintNavy(button);
    for (vellumo::aids::Label3D* label : {ui->LabelJahr, ui->LabelMonat}) {
        paintNavy(label);
        QFont font = label->font();
        font.setPixelSize(13);
        label->setFont(font);
    }

    for (QAbstractButton* button : {ui->JahrMinusButton, ui->JahrPlusButton})
        connect(button, &QAbstractButton::clicked, this,
                [this, button] { JahrMinusButtonClick(button); });
    for (QAbstractButton* button : {ui->MonatMinusButton, ui->MonatPlusButton})
        connect(button, &QAbstractButton::clicked, this,
                [this, button] { MonatMinusButtonClick(button); });
    connect(ui->OkButton, &QAbstractButton::clicked, this, [this] { OkButtonClick(); });

    vellumo::installKeyPreview(this);
    ui->Calendar->setFocus();
    FormActivate();
}

TFormKalender::~TFormKalender() {
    delete ui;
}

QDate TFormKalender::date() const {
    return ui->Calendar->date();
}

TCalendar* TFormKalender::calendar() const {
    return ui->Calendar;
}

QString TFormKalender::shownYear() const {
    return ui->LabelJahr->text();
}

QString TFormKalender::shownMonth() const {
    return ui->LabelMonat->text();
}

void TFormKalender::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormActivate();
}

void TFormKalender::FormActivate() {
    const QDate shown = ui->Calendar->date();
    ui->LabelJahr->setText(QString::number(shown.year()));
    ui->LabelMonat->setText(germanMonthName(shown.month()));
}

void TFormKalender::JahrMinusButtonClick(QAbstractButton* sender) {
    const int delta = sender == ui->JahrPlusButton ? 1 : -1;
    ui->Calendar->setDate(stepYear(ui->Calendar->date(), delta));
    ui->LabelJahr->setText(QString::number(ui->Calendar->date().year()));
}

void TFormKalender::MonatMinusButtonClick(QAbstractButton* sender) {
    const int delta = sender == ui->MonatPlusButton ? 1 : -1;
    ui->Calendar->setDate(stepMonth(ui->Calendar->date(), delta));
    FormActivate();
}

void TFormKalender::OkButtonClick() {
    accept();
}

bool TFormKalender::FormKeyDown(int key) {
    // Esc is no cancel here: it closes like "Ok", and the shown date counts.
    // Enter does the same for a person who picked a day with the arrow keys.
    if (key != 27 && key != 13)
        return false;
    accept();
    return true;
}

bool TFormKalender::eventFilter(QObject* watched, QEvent* event) {
    if (const int key = vellumo::previewedKey(watched, event))
        return FormKeyDown(key);
    return QDialog::eventFilter(watched, event);
}

TKalDlg::TKalDlg(QWidget* owner) : QObject(owner), owner_(owner) {
    setObjectName(QStringLiteral("Kalender"));
}

QString TKalDlg::PickDate() {
    TFormKalender form(owner_);
    form.setWindowTitle(Caption);
    form.move(DlgLeft, DlgTop);
    form.exec();
    return vellumo::formatGermanDate(form.date());
}

namespace vellumo::aids {

void ButtonGeburtstagClick(TKalDlg& kalender, QWidget* button, RecordStore& store) {
    const QPoint anchor = button->mapToGlobal(QPoint(button->width(), 0));
    const QScreen* screen = button->screen() ? button->screen() : QGuiApplication::primaryScreen();
    const QPoint position =
        calendarPosition(anchor, screen ? screen->geometry() : QRect(0, 0, 1 << 20, 1 << 20));
    kalender.DlgLeft = position.x();
    kalender.DlgTop = position.y();
    store.BeginEdit();
    store.SetFieldText(QStringLiteral("Geburtstag"), kalender.PickDate());
}

} // namespace vellumo::aids
