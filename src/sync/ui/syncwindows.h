// The sync with a CardDAV address book in the program: linking the open
// table to a book and unlinking it ("&Synchronisation …"), a run with a
// progress window ("Jetzt &synchronisieren") and the list of open decisions
// ("Konflikte …").
// The sync needs the table's write lock, so the table is closed for the run
// (the record being edited saved first) and opened again on the record that
// was current, found by its UID or key wherever the sync moved it.
#pragma once

#include <QDialog>
#include <QUrl>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace vellumo {
class RecordStore;
}

namespace vellumo::sync::ui {

// The set-up. "Adressbücher abrufen" lists the account's books (a book's
// own address lists that book); the list belongs to the server and user it
// was fetched for and empties when either is changed. "OK" links the book
// chosen, or makes a new one when that is chosen; without a list it fetches
// one first and links only a book whose own address was typed.
class TFormSynchronisation : public QDialog {
    Q_OBJECT
public:
    TFormSynchronisation(RecordStore& store, QWidget* parent = nullptr);
    QLineEdit* ServerEdit;
    QLineEdit* BenutzerEdit;
    QLineEdit* PasswortEdit;
    QComboBox* BuchBox; // item data: the book's URL; none for a new book
    QLineEdit* NeuesBuchEdit;
    QLabel* Hinweis; // what the last fetch found, or that the table is linked
    QCheckBox* OeffnenSchliessenBox;
    QPushButton* LoesenButton;

private:
    void AbrufenClick();
    void OkClick();
    void LoesenClick();
    // Fetches the list for the account typed; false when the user declined
    // plain http.
    bool fetchBooks();
    // http only to this machine, or after the user confirmed it for the host.
    bool plainHttpAllowed(const QUrl& server);
    void forgetBooks();
    void showLinkState();
    RecordStore& store_;
    QString fetchedFor_;  // the account the list belongs to
    QString plainHttpOk_; // the server the user allowed http for
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
// opened (the default table at start too) and before it is closed. The
// report is shown only when it has something for the user; a failure is
// shown and stops nothing. Afterwards the same record is current, found by
// its UID or key.
void syncAtOpenOrClose(RecordStore& store, QWidget* parent);
// The same before the program ends. True to end; a failed sync asks whether
// to end anyway (the table keeps its changes for the next sync).
bool syncBeforeEnd(RecordStore& store, QWidget* parent);

} // namespace vellumo::sync::ui
