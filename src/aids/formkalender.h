// The birthday calendar: the borderless month window and the component that
// shows it next to the "..." button of the main window.
#pragma once

#include <QDate>
#include <QDialog>
#include <QObject>
#include <QString>

namespace Ui {
class TFormKalender;
}
namespace vellumo {
class RecordStore;
}
class QAbstractButton;
class TCalendar;

// Made anew for every pick and gone when the pick returns. It opens on today
// and has no cancel: however it closes, the date it shows is the answer.
class TFormKalender : public QDialog {
    Q_OBJECT
public:
    explicit TFormKalender(QWidget* parent = nullptr);
    ~TFormKalender() override;

    QDate date() const;
    TCalendar* calendar() const;
    QString shownYear() const;
    QString shownMonth() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void FormActivate();
    void JahrMinusButtonClick(QAbstractButton* sender);
    void MonatMinusButtonClick(QAbstractButton* sender);
    void OkButtonClick();
    bool FormKeyDown(int key);

    Ui::TFormKalender* ui;
};

// The date-picker component of the main window: where the window goes, and
// the pick itself.
class TKalDlg : public QObject {
    Q_OBJECT
public:
    // owner is the window the calendar is modal over.
    explicit TKalDlg(QWidget* owner);

    QString Caption;
    int DlgLeft = 0;
    int DlgTop = 0;

    // Shows the calendar at (DlgLeft, DlgTop) until it closes and returns its
    // date in the program's form dd.MM.yyyy.
    QString PickDate();

private:
    QWidget* owner_;
};

namespace vellumo::aids {

// The "..." button beside the birthday: opens the calendar at the button's
// top-right corner (kept on the screen), puts the record into editing first
// and writes the picked date into "Geburtstag". The record stays in editing;
// the ordinary save on leaving a field or moving stores it.
void ButtonGeburtstagClick(TKalDlg& kalender, QWidget* button, RecordStore& store);

} // namespace vellumo::aids
