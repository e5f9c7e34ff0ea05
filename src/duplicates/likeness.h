// Whether two addresses are probably the same person, and why.
//
// Each record is read once into what identifies a person (Person): the name
// folded by the quick search's German rules (search/folding.h) with titles
// such as "Dr." and "Prof." set aside, the street with its house number,
// postcode and town, the phone numbers as their national digits
// (address/phonenumber.h), the e-mail address and the birthday. Two persons
// are compared by likeness(): a name that agrees (also with given and family
// name swapped, or with one given name missing or cut to its initial) and
// something else they share give a score of 0 to 100 with the reasons in
// German. A different birthday keeps two people apart, and so does a name
// with nothing else shared: namesakes are no duplicates.
//
// Plain functions on values; no table, no window.
#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

namespace duplicates {

// The fields of the address table this reads, by name. Missing ones are empty.
struct PersonFields {
    QString name, given, street, postcode, town, country;
    QStringList phones; // Telefon1, Telefon2, Fax
    QString email;
    QDate birthday;  // a year of address::kYearUnknown: day and month only
    QStringList key; // the key fields as stored
};

struct Person {
    int position = -1;              // in the table's key order
    QStringList key;                // the key fields as stored (Name;Vorname;Strasse;PLZ;Ort)
    QString name, given;            // as stored, for the reasons
    std::string family;             // folded, titles set aside
    std::string first;              // folded given names, titles set aside
    std::vector<std::string> words; // family and given words, sorted
    bool titled = false;            // a title was set aside
    std::string street;             // folded without spaces: "hauptstr5a"
    std::string postcode;
    std::string town;                // folded
    std::vector<std::string> phones; // national significant numbers, 6 digits or more
    std::string email;               // folded case, trimmed
    QDate birthday;
    bool birthdayYear = false; // the year of birthday is known
};

Person personOf(const PersonFields& fields, int position = -1);

struct Likeness {
    int score = 0; // 0: not the same person
    QStringList reasons;
};

// Reported pairs score at least this.
inline constexpr int kLikelyScore = 60;

Likeness likeness(const Person& a, const Person& b);

} // namespace duplicates
