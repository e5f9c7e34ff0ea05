// The aids beside the main window's address fields.
//
// Under the bank fields a read-only line shows the IBAN that "BLZ" and
// "Kto-Nr" make, grouped in fours, and the bank's BIC beside it. An IBAN
// typed or pasted into "Kto-Nr" or "BLZ" is checked and split into both; a
// foreign one, which those fields cannot hold, is refused from them and
// offered for the notes. Leaving "BLZ" fills an empty "Kreditinstitut" with
// the bank's name and place. A bank code the list does not know, an account
// number whose check digit the bank's method rejects and a German postcode
// that is not five digits are shown as a warning beside the field (its tool
// tip and its description for the screen reader): never a refusal, since the
// list can be older than the bank.
#pragma once

#include <QLineEdit>
#include <QList>
#include <QObject>
#include <QString>

class QAction;
class QLabel;
class QWidget;

namespace vellumo {
class DBEdit;
class DBMemo;
class DataSource;
class RecordStore;
namespace address {
class BankDirectory;
}
} // namespace vellumo

namespace vellumo::data {

struct AddressFields {
    DBEdit* kontoNr;
    DBEdit* blz;
    DBEdit* institut;
    DBEdit* plz;
    DBEdit* land;
    DBMemo* notes;
};

// A read-only line whose whole text Ctrl+C copies when nothing is selected.
class CopyLine : public QLineEdit {
    Q_OBJECT
public:
    explicit CopyLine(QWidget* parent = nullptr);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

class FieldAids : public QObject {
    Q_OBJECT
public:
    // The row under the bank fields, in the group's coordinates: the group
    // grows by kRowHeight to hold it.
    static constexpr int kRowTop = 94;
    static constexpr int kRowHeight = 40;

    // Places the IBAN row into bankGroup and follows the fields on source.
    FieldAids(DataSource& source, const AddressFields& fields, QWidget* bankGroup,
              const address::BankDirectory& banks);

    QLineEdit* ibanLine() const { return iban_; }
    QLineEdit* bicLine() const { return bic_; }
    QList<QLabel*> labels() const { return labels_; }

    // A field was left, before its record is saved: leaving "BLZ" fills an
    // empty "Kreditinstitut".
    void fieldLeft(QWidget* field);

    // The warning beside field, "" when it has none.
    QString warningOf(const QWidget* field) const;

private:
    struct Warning {
        DBEdit* field;
        QAction* sign;
    };
    void writeBankField(const QString& fieldName, const QString& text);
    void typedIntoBankField(DBEdit* edit);
    void offerForNotes(DBEdit* edit, const QString& compact);
    void fillInstitut(const QString& blz);
    void showIban();
    void showWarnings();
    void setWarning(Warning& warning, const QString& text);
    bool hasFields(std::initializer_list<const char*> names) const;

    DataSource& source_;
    RecordStore& store_;
    AddressFields fields_;
    const address::BankDirectory& banks_;
    CopyLine* iban_;
    CopyLine* bic_;
    QList<QLabel*> labels_;
    QList<Warning> warnings_;
};

} // namespace vellumo::data
