// The list of coming birthdays ("&Geburtstage …" in "&Suchen"), made anew
// for every use. It reads every record of the table without moving the shared
// cursor, so a search filter hides no birthday; choosing one makes that record
// the current one of the program.
#pragma once

#include <QDialog>

class QAction;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace vellumo {
class RecordStore;
}

class TFormGeburtstage : public QDialog {
    Q_OBJECT
public:
    explicit TFormGeburtstage(vellumo::RecordStore& store, QWidget* parent = nullptr);

    // Builds the list anew for the program's today and the chosen range.
    void refresh();
    int shownCount() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Double-click or Enter on a line: that record becomes current and the list closes.
    void ListeDblClick();
    void TageChange(int days);
    void SchalttagChange(int index);
    void ErinnerungChange(int index);
    void KalenderClick();
    // Reports a setting Setup.ini did not take, once per window.
    void settingStored(bool stored);

    vellumo::RecordStore& store_;
    QSpinBox* tage_;
    QComboBox* schalttag_;
    QComboBox* erinnerung_;
    QTreeWidget* liste_;
    QLabel* anzahl_;
    QPushButton* kalender_;
    bool settingFailureShown_ = false;
};

namespace vellumo::aids {

// Menu item "&Geburtstage …": the list, modal over parent.
void GeburtstageClick(RecordStore& store, QWidget* parent);
// At start, when the setting asks for it and a birthday falls today or within
// the next days: the same list.
void showBirthdaysAtStart(RecordStore& store, QWidget* parent);
// "&Geburtstage beim Start zeigen" in "&Einstellungen": its check mark comes
// from Setup.ini, a click stores it (or reports that it could not and puts
// the mark back).
void initBirthdaysAtStart(QAction* item);
void GeburtstageBeimStartClick(QAction* item, QWidget* parent);

} // namespace vellumo::aids
