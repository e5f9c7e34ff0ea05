#include "duplicates/importcheck.h"

#include "platform/database/recordstore.h"

namespace duplicates {

AddedRecords::AddedRecords(vellumo::RecordStore& store) : store_(store) {
    subscription_ = store.subscribeStoredChanges([this](const vellumo::StoredChange& change) {
        if (change.kind != vellumo::StoredChange::Inserted)
            return;
        const int keyCount = store_.keyFieldCount();
        const QStringList texts = store_.storedTexts(change.to);
        keys_.insert(QStringList(texts.mid(0, keyCount)).join(u';'));
    });
}

ImportDuplicates importDuplicates(const vellumo::RecordStore& store, const QSet<QString>& added) {
    ImportDuplicates out;
    if (added.isEmpty())
        return out;
    const std::vector<Person> persons = readPersons(store);
    std::vector<bool> isNew;
    isNew.reserve(persons.size());
    for (const Person& p : persons)
        isNew.push_back(added.contains(keyText(p)));
    for (const Pair& pair : findPairs(persons, &isNew)) {
        const Person& a = persons[static_cast<std::size_t>(pair.first)];
        const Person& b = persons[static_cast<std::size_t>(pair.second)];
        const bool aIsNew = isNew[static_cast<std::size_t>(pair.first)];
        out.lines << QStringLiteral("vermutlich doppelt: %1 – schon da: %2 (%3)")
                         .arg(shortText(aIsNew ? a : b), shortText(aIsNew ? b : a),
                              pair.likeness.reasons.join(QStringLiteral(", ")));
    }
    out.pairs = static_cast<int>(out.lines.size());
    return out;
}

} // namespace duplicates
