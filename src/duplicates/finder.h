// The likely duplicates of a table: pairs of records that are probably the
// same person (duplicates/likeness.h), best first.
//
// Never every pair: records are put into blocks by what a duplicate shares
// with its original (its name words in any order, its family name in one
// postcode or town, a phone number, an e-mail address, the street in one
// postcode), and only records of one block are compared. A block larger than
// kWideBlock (a switchboard number a thousand records share) compares each
// record with its nearest neighbours in the block only.
#pragma once

#include "duplicates/likeness.h"

#include <vector>

namespace vellumo {
class RecordStore;
}

namespace duplicates {

struct Pair {
    int first = -1;  // index into the persons compared
    int second = -1; // first < second
    Likeness likeness;
};

inline constexpr int kWideBlock = 400;

// Every stored record of the open table (also those a filter hides), in key
// order. Pictures are never read.
std::vector<Person> readPersons(const vellumo::RecordStore& store);

// The pairs scoring at least kLikelyScore, best first (ties in table order).
// With isNew (one flag per person), only pairs of one new and one old person:
// what an import brought that the table had before.
std::vector<Pair> findPairs(const std::vector<Person>& persons,
                            const std::vector<bool>* isNew = nullptr);

// "Name;Vorname;Strasse;PLZ;Ort" as stored, for lists and the tool.
QString keyText(const Person& person);
// "Vorname Name, Strasse, PLZ Ort", for a person reading a list.
QString shortText(const Person& person);

} // namespace duplicates
