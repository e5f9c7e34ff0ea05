#include "duplicates/likeness.h"

#include "address/addressschema.h"
#include "address/phonenumber.h"
#include "search/folding.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace duplicates {

namespace {

// Titles and forms of address that belong to no name ("Dr. med.", "Prof.",
// "Dipl.-Ing.", "Herr"), as folded words.
constexpr std::array<std::string_view, 16> kTitles{
    "dr",  "prof", "dipl", "ing",  "med",  "rer", "nat", "phil",
    "jur", "dres", "mag",  "herr", "frau", "hr",  "fr",  "dent",
};

bool isTitle(std::string_view word) {
    return std::find(kTitles.begin(), kTitles.end(), word) != kTitles.end();
}

std::vector<std::string> wordsOf(const std::string& folded) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < folded.size()) {
        const std::size_t end = std::min(folded.find(' ', at), folded.size());
        if (end > at)
            words.emplace_back(folded, at, end - at);
        at = end + 1;
    }
    return words;
}

// The folded words of a name without its titles, joined by one space.
std::string nameOf(const QString& text, bool& titled) {
    std::string out;
    for (const std::string& word : wordsOf(search::foldUtf8(text))) {
        if (isTitle(word)) {
            titled = true;
            continue;
        }
        if (!out.empty())
            out += ' ';
        out += word;
    }
    return out;
}

std::string withoutSpaces(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    return text;
}

// At most one character inserted, removed or replaced.
bool oneEditApart(std::string_view a, std::string_view b) {
    if (a.size() > b.size())
        std::swap(a, b);
    if (b.size() - a.size() > 1)
        return false;
    std::size_t front = 0;
    while (front < a.size() && a[front] == b[front])
        ++front;
    std::size_t back = 0;
    while (back < a.size() - front && a[a.size() - 1 - back] == b[b.size() - 1 - back])
        ++back;
    return front + back >= b.size() - 1;
}

bool isInitialOf(const std::string& initial, const std::string& given) {
    return initial.size() == 1 && !given.empty() && given.front() == initial.front();
}

QString shown(const Person& p) {
    return p.given.isEmpty() ? p.name : p.given + u' ' + p.name;
}

struct NameMatch {
    int score = 0;
    QString reason;
};

NameMatch compareNames(const Person& a, const Person& b) {
    if (a.words.empty() || b.words.empty())
        return {};
    if (a.family == b.family && a.first == b.first) {
        if (a.titled != b.titled)
            return {50, QStringLiteral("Name bis auf den Titel gleich")};
        if (a.name.trimmed() == b.name.trimmed() && a.given.trimmed() == b.given.trimmed())
            return {50, QStringLiteral("gleicher Name")};
        return {50, QStringLiteral("Name wie %1/%2").arg(shown(a), shown(b))};
    }
    if (a.words == b.words) {
        if (a.family == b.first && a.first == b.family)
            return {45, QStringLiteral("Vor- und Nachname vertauscht")};
        return {45, QStringLiteral("Name anders auf die Felder verteilt")};
    }
    if (!a.family.empty() && a.family == b.family) {
        if (a.first.empty() || b.first.empty())
            return {35, QStringLiteral("Vorname fehlt bei einer Adresse")};
        if (isInitialOf(a.first, b.first) || isInitialOf(b.first, a.first))
            return {35, QStringLiteral("Vorname abgekürzt")};
    }
    const std::string fullA = a.family + ' ' + a.first;
    const std::string fullB = b.family + ' ' + b.first;
    if (std::min(fullA.size(), fullB.size()) >= 6 && oneEditApart(fullA, fullB))
        return {35, QStringLiteral("Name ähnlich: %1/%2").arg(shown(a), shown(b))};
    return {};
}

bool sharePhone(const Person& a, const Person& b) {
    for (const std::string& p : a.phones)
        if (std::find(b.phones.begin(), b.phones.end(), p) != b.phones.end())
            return true;
    return false;
}

} // namespace

Person personOf(const PersonFields& fields, int position) {
    Person p;
    p.position = position;
    p.key = fields.key;
    p.name = fields.name;
    p.given = fields.given;
    p.family = nameOf(fields.name, p.titled);
    p.first = nameOf(fields.given, p.titled);
    p.words = wordsOf(p.family + ' ' + p.first);
    std::sort(p.words.begin(), p.words.end());
    p.street = withoutSpaces(search::foldUtf8(fields.street));
    p.postcode = withoutSpaces(search::foldUtf8(fields.postcode));
    p.town = search::foldUtf8(fields.town);
    const QString region = address::regionOfCountry(fields.country);
    for (const QString& text : fields.phones) {
        if (text.trimmed().isEmpty())
            continue;
        const address::PhoneNumber number = address::PhoneNumber::parse(text, region);
        if (number.nationalNumber().size() < 6)
            continue;
        const QString digits = number.e164Digits();
        std::string key = (digits.isEmpty() ? number.nationalNumber() : digits).toStdString();
        if (std::find(p.phones.begin(), p.phones.end(), key) == p.phones.end())
            p.phones.push_back(std::move(key));
    }
    QString mail = fields.email.trimmed().toCaseFolded();
    if (mail.startsWith(QStringLiteral("mailto:")))
        mail.remove(0, 7);
    if (mail.contains(u'@'))
        p.email = mail.toStdString();
    p.birthday = fields.birthday;
    p.birthdayYear =
        fields.birthday.isValid() && fields.birthday.year() != vellumo::address::kYearUnknown;
    return p;
}

Likeness likeness(const Person& a, const Person& b) {
    const NameMatch name = compareNames(a, b);
    if (name.score == 0)
        return {};
    Likeness out;
    int evidence = 0;
    if (a.birthday.isValid() && b.birthday.isValid()) {
        const bool sameDay =
            a.birthday.month() == b.birthday.month() && a.birthday.day() == b.birthday.day();
        const bool sameYear = !a.birthdayYear || !b.birthdayYear || a.birthday == b.birthday;
        if (!sameDay || !sameYear)
            return {}; // two people of one name
        evidence += 20;
        out.reasons << QStringLiteral("gleicher Geburtstag");
    }
    if (sharePhone(a, b)) {
        evidence += 30;
        out.reasons << QStringLiteral("gleiche Telefonnummer");
    }
    if (!a.email.empty() && a.email == b.email) {
        evidence += 30;
        out.reasons << QStringLiteral("gleiche E-Mail-Adresse");
    }
    const bool samePostcode = !a.postcode.empty() && a.postcode == b.postcode;
    const bool sameTown = !a.town.empty() && a.town == b.town;
    const bool samePlace = samePostcode || sameTown;
    const bool bothStreets = !a.street.empty() && !b.street.empty();
    if (bothStreets && a.street == b.street &&
        (samePlace || (a.postcode.empty() && a.town.empty()) ||
         (b.postcode.empty() && b.town.empty()))) {
        evidence += 25;
        out.reasons << QStringLiteral("gleiche Anschrift");
    } else if (samePlace) {
        // Another street in the same town says less: people move.
        evidence += bothStreets ? 5 : 10;
        out.reasons << QStringLiteral("gleicher Ort");
    }
    if (evidence == 0)
        return {}; // a namesake: nothing else is shared
    out.reasons.prepend(name.reason);
    out.score = std::min(100, name.score + evidence);
    return out;
}

} // namespace duplicates
