// The sync with a CardDAV address book in the program: linking the open
// table to a book ("&Synchronisation …"), a run with a progress window
// ("Jetzt &synchronisieren") and the list of open decisions ("Konflikte …").
// The sync needs the table's write lock, so the table is closed for the run
// (the record being edited saved first) and opened again on the record that
// was current.
#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace vellumo {
class RecordStore;
}

namespace vellumo::data {

class TFormSynchronisation : public QDialog {
    Q_OBJECT
public:
    TFormSynchronisation(RecordStore& store, QWidget* parent = nullptr);
    QLineEdit* ServerEdit;
    QLineEdit* BenutzerEdit;
    QLineEdit* PasswortEdit;
    QComboBox* BuchBox;
    QLineEdit* NeuesBuchEdit;
    QCheckBox* OeffnenSchliessenBox;

private:
    void AbrufenClick();
    void OkClick();
    RecordStore& store_;
};

class TFormKonflikte : public QDialog {
    Q_OBJECT
public:
    TFormKonflikte(RecordStore& store, QWidget* parent = nullptr);
    QTableWidget* Liste;
    void refresh();

private:
    void decide(bool takeServer);
    RecordStore& store_;
    QList<QPushButton*> decisions_; // only with a conflict to decide
};

void SynchronisationClick(RecordStore& store, QWidget* parent);
void JetztSynchronisierenClick(RecordStore& store, QWidget* parent);
void KonflikteClick(RecordStore& store, QWidget* parent);

// Where the user asked for it ("Setup.ini" [Synchronisation]
// BeimOeffnenUndSchliessen=1): a sync of a linked table right after it was
// opened and before it is closed. A failure is shown and stops nothing.
void syncAtOpenOrClose(RecordStore& store, QWidget* parent);

} // namespace vellumo::data
