#include "data/phonenumbers.h"

#include "address/bank.h"
#include "address/phonenumber.h"
#include "platform/database/recordstore.h"
#include "platform/ui/messages.h"

#include <QLocale>

#include <functional>

namespace vellumo::data {

namespace {

struct PhoneField {
    const char* name;
    const char* caption;
};
constexpr PhoneField kPhoneFields[] = {
    {"Telefon1", "Telefon 1"}, {"Telefon2", "Telefon 2"}, {"Fax", "Fax"}};

// The list names so many numbers, then how many more.
constexpr int kListed = 15;

QString personOf(const std::function<QString(const char*)>& text) {
    QStringList parts;
    for (const char* field : {"Name", "Vorname"})
        if (const QString part = text(field).trimmed(); !part.isEmpty())
            parts << part;
    return parts.isEmpty() ? QStringLiteral("(ohne Namen)") : parts.join(QStringLiteral(", "));
}

// The country of "Land"; none for a country the list does not know, whose
// numbers are then all written internationally.
QString regionOf(const QString& land) {
    if (address::isGermany(land))
        return QStringLiteral("DE");
    const QString region = ::address::regionOfCountry(land);
    return region == u"DE" ? QString() : region;
}

struct Change {
    QString field;
    QString text;
};

// The changes of one address, read through text (a field's value, "" for a
// field the table lacks); what stays is added to report.
QList<Change> changesOf(const RecordStore& store, const std::function<QString(const char*)>& text,
                        PhoneReport& report) {
    QList<Change> changes;
    const QString region = regionOf(text("Land"));
    for (const PhoneField& field : kPhoneFields) {
        const int index = store.fieldIndex(QString::fromLatin1(field.name));
        if (index < 0)
            continue;
        const QString before = text(field.name);
        if (before.trimmed().isEmpty())
            continue;
        const QString after = ::address::din5008(before, region);
        const int size = store.fields()[static_cast<std::size_t>(index)].size;
        QString why;
        if (after.isEmpty())
            why = QStringLiteral("keine lesbare Telefonnummer");
        else if (size > 0 && after.size() > size)
            why = QStringLiteral("„%1“ passt nicht ins Feld").arg(after);
        if (!why.isEmpty()) {
            report.left << QStringLiteral("%1 – %2: „%3“ (%4)")
                               .arg(personOf(text), QString::fromLatin1(field.caption), before,
                                    why);
            continue;
        }
        if (after != before)
            changes << Change{QString::fromLatin1(field.name), after};
    }
    return changes;
}

void apply(RecordStore& store, const QList<Change>& changes, PhoneReport& report) {
    if (changes.isEmpty())
        return;
    store.BeginEdit();
    for (const Change& change : changes)
        store.SetFieldText(change.field, change.text);
    store.SaveRecord();
    report.numbers += static_cast<int>(changes.size());
    ++report.addresses;
}

QString fieldOrEmpty(const RecordStore& store, const char* field,
                     const std::function<QString(const QString&)>& read) {
    const QString name = QString::fromLatin1(field);
    return store.fieldIndex(name) < 0 ? QString() : read(name);
}

} // namespace

PhoneReport unifyPhoneNumbers(RecordStore& store, PhoneScope scope) {
    PhoneReport report;
    if (!store.IsTableOpen())
        return report;
    // What is still typed into a field counts, as when the field is left.
    if (store.HasUnsavedChanges())
        store.SaveRecord();
    if (scope == PhoneScope::Record) {
        if (store.isEmpty() && store.state() != StoreState::Inserting)
            return report;
        const auto text = [&store](const char* field) {
            return fieldOrEmpty(store, field,
                                [&store](const QString& f) { return store.fieldText(f); });
        };
        apply(store, changesOf(store, text, report), report);
        return report;
    }
    // One step of the history for all of them, named by how many it changed.
    RecordStore::StepGuard step(store, QStringLiteral("Nummern vereinheitlichen"));
    const int back = store.visiblePosition();
    const int count = store.visibleCount();
    for (int row = 0; row < count; ++row) {
        const auto text = [&store, row](const char* field) {
            return fieldOrEmpty(store, field,
                                [&store, row](const QString& f) { return store.textAt(row, f); });
        };
        const QList<Change> changes = changesOf(store, text, report);
        if (changes.isEmpty())
            continue;
        // Phone fields are no part of the key: the record keeps its row.
        store.moveToVisible(row);
        apply(store, changes, report);
        step.relabel(QStringLiteral("Nummern vereinheitlichen (%1 %2)")
                         .arg(QLocale(QLocale::German).toString(report.addresses),
                              report.addresses == 1 ? QStringLiteral("Adresse")
                                                    : QStringLiteral("Adressen")));
    }
    if (back >= 0 && back < store.visibleCount())
        store.moveToVisible(back);
    return report;
}

QString phoneReportText(const PhoneReport& report) {
    QString text =
        report.numbers == 0
            ? QStringLiteral("Keine Nummer war umzuschreiben.")
            : QStringLiteral("%1 %2 in %3 %4 nach DIN 5008 geschrieben.")
                  .arg(report.numbers)
                  .arg(report.numbers == 1 ? QStringLiteral("Nummer") : QStringLiteral("Nummern"))
                  .arg(report.addresses)
                  .arg(report.addresses == 1 ? QStringLiteral("Adresse")
                                             : QStringLiteral("Adressen"));
    if (!report.left.isEmpty()) {
        text += QStringLiteral("\n\nUnverändert geblieben:");
        for (qsizetype i = 0; i < report.left.size() && i < kListed; ++i)
            text += QStringLiteral("\n• ") + report.left[i];
        if (report.left.size() > kListed)
            text += QStringLiteral("\n… und %1 weitere").arg(report.left.size() - kListed);
    }
    return text;
}

void NummernVereinheitlichenClick(RecordStore& store, PhoneScope scope, QWidget* window) {
    showInformation(phoneReportText(unifyPhoneNumbers(store, scope)), window);
}

} // namespace vellumo::data
