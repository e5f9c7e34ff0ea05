#include "duplicates/finder.h"

#include "address/addressschema.h"
#include "platform/database/recordstore.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace duplicates {

namespace {

namespace schema = vellumo::address;

// The blocks a person belongs to, each a key with a letter of its kind.
std::vector<std::string> blocksOf(const Person& p) {
    std::vector<std::string> keys;
    if (!p.words.empty()) {
        std::string words = "n";
        for (const std::string& w : p.words)
            words += ' ' + w;
        keys.push_back(std::move(words));
    }
    if (!p.family.empty()) {
        if (!p.postcode.empty())
            keys.push_back("f" + p.family + '|' + p.postcode);
        if (!p.town.empty())
            keys.push_back("o" + p.family + '|' + p.town);
    }
    for (const std::string& phone : p.phones)
        keys.push_back("t" + phone);
    if (!p.email.empty())
        keys.push_back("e" + p.email);
    if (!p.street.empty())
        keys.push_back("s" + p.street + '|' + (p.postcode.empty() ? p.town : p.postcode));
    return keys;
}

std::uint64_t pairKey(int a, int b) {
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(a)) << 32) |
           static_cast<std::uint32_t>(b);
}

} // namespace

std::vector<Person> readPersons(const vellumo::RecordStore& store) {
    std::vector<Person> persons;
    const auto index = [&](std::string_view name) {
        return store.fieldIndex(
            QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    };
    const int name = index(schema::fieldName("Name"));
    const int given = index(schema::fieldName("Vorname"));
    const int street = index(schema::fieldName("Strasse"));
    const int postcode = index(schema::fieldName("PLZ"));
    const int town = index(schema::fieldName("Ort"));
    const int country = index(schema::fieldName("Land"));
    const int phones[] = {index(schema::fieldName("Telefon1")),
                          index(schema::fieldName("Telefon2")), index(schema::fieldName("Fax"))};
    const int email = index(schema::fieldName("Email"));
    const int birthday = index(schema::fieldName("Geburtstag"));
    const int keyCount = std::min(store.keyFieldCount(), static_cast<int>(store.fields().size()));
    persons.reserve(static_cast<std::size_t>(store.storedCount()));
    store.scanStoredTexts([&](int position, const QStringList& texts) {
        const auto at = [&](int i) { return i >= 0 && i < texts.size() ? texts[i] : QString(); };
        PersonFields f;
        f.name = at(name);
        f.given = at(given);
        f.street = at(street);
        f.postcode = at(postcode);
        f.town = at(town);
        f.country = at(country);
        for (int phone : phones)
            f.phones << at(phone);
        f.email = at(email);
        f.birthday = QDate::fromString(at(birthday), QStringLiteral("dd.MM.yyyy"));
        for (int i = 0; i < keyCount; ++i)
            f.key << texts[i];
        persons.push_back(personOf(f, position));
        return true;
    });
    return persons;
}

std::vector<Pair> findPairs(const std::vector<Person>& persons, const std::vector<bool>* isNew) {
    std::unordered_map<std::string, std::vector<int>> blocks;
    blocks.reserve(persons.size() * 4);
    for (std::size_t i = 0; i < persons.size(); ++i)
        for (std::string& key : blocksOf(persons[i]))
            blocks[std::move(key)].push_back(static_cast<int>(i));

    const auto wanted = [&](int a, int b) {
        return !isNew ||
               (*isNew)[static_cast<std::size_t>(a)] != (*isNew)[static_cast<std::size_t>(b)];
    };
    std::vector<Pair> pairs;
    std::unordered_set<std::uint64_t> compared;
    const auto compare = [&](int a, int b) {
        if (a == b || !wanted(a, b))
            return;
        if (a > b)
            std::swap(a, b);
        if (!compared.insert(pairKey(a, b)).second)
            return;
        Likeness l =
            likeness(persons[static_cast<std::size_t>(a)], persons[static_cast<std::size_t>(b)]);
        if (l.score >= kLikelyScore)
            pairs.push_back({a, b, std::move(l)});
    };
    for (const auto& [key, members] : blocks) {
        const std::size_t n = members.size();
        if (n < 2)
            continue;
        if (isNew && std::none_of(members.begin(), members.end(),
                                  [&](int m) { return (*isNew)[static_cast<std::size_t>(m)]; }))
            continue; // only what the table had: nothing new to pair
        // Members are in table order, so neighbours in a wide block are
        // records close in key order.
        const std::size_t reach = n > static_cast<std::size_t>(kWideBlock) ? 20 : n;
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = i + 1; j < n && j <= i + reach; ++j)
                compare(members[i], members[j]);
    }
    std::sort(pairs.begin(), pairs.end(), [](const Pair& x, const Pair& y) {
        if (x.likeness.score != y.likeness.score)
            return x.likeness.score > y.likeness.score;
        return x.first != y.first ? x.first < y.first : x.second < y.second;
    });
    return pairs;
}

QString keyText(const Person& person) {
    return person.key.join(u';');
}

QString shortText(const Person& person) {
    QStringList parts;
    const QString name = (person.given.trimmed() + u' ' + person.name.trimmed()).trimmed();
    parts << name;
    if (person.key.size() >= 5) {
        if (!person.key[2].trimmed().isEmpty())
            parts << person.key[2].trimmed();
        const QString place = (person.key[3].trimmed() + u' ' + person.key[4].trimmed()).trimmed();
        if (!place.isEmpty())
            parts << place;
    }
    return parts.join(QStringLiteral(", "));
}

} // namespace duplicates
