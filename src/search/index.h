// The folded copy of the open table that the quick search looks through: per
// record its text fields and memo folded (search/folding.h) and its phone
// numbers as digits (address/phonenumber.h), pictures never read.
//
// It follows one record store: built when a table opens, changed record by
// record as each save, delete and import batch is written (RecordStore's
// stored changes), dropped when the table closes. A sync closes and opens the
// table, so the index is read again after it. Looking something up reads no
// record from disk.
#pragma once

#include "platform/database/recordstore.h"
#include "search/query.h"

#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace search {

// Where a record matched, for showing it: a field and the ranges of its text
// (start, length in the original text) that matched.
struct FieldHit {
    QString field;
    QString text;
    std::vector<std::pair<int, int>> ranges;
    int rank = 0; // as in Match::rank: 0 the start of Name or Vorname … 4 the memo
};

struct Match {
    int position = 0; // in the table's key order
    // Lower is better: a word at the start of Name or Vorname 0, at the start
    // of a word in them 1, inside them 2, in another field 3, in the memo 4;
    // summed over the words of the query.
    int rank = 0;
};

struct Matches {
    std::vector<Match> best;              // best first, ties in the table's order
    std::vector<std::uint32_t> positions; // every match, in the table's order
};

class Index {
public:
    // AtOnce reads a table whole when it opens; InSteps reads it a few
    // thousand records at a time from the event loop, so a large table opens
    // without waiting (the quick search says meanwhile that it is not done,
    // and looks through what is read so far).
    enum class Building { AtOnce, InSteps };
    // Follows store from now on; a table already open is read at once.
    explicit Index(vellumo::RecordStore& store, Building building = Building::AtOnce);
    ~Index();
    Index(const Index&) = delete;
    Index& operator=(const Index&) = delete;

    int recordCount() const; // read so far
    // False while a table is still being read in steps.
    bool isComplete() const { return built_ == storedCount_; }
    // Reads the rest of the table now.
    void complete();
    // Told when a table read in steps is read to its end.
    std::function<void()> completed;
    // What the index holds, roughly, in bytes.
    std::size_t memoryBytes() const;
    // How long reading the table took when it was opened, in milliseconds.
    double buildMilliseconds() const { return buildMs_; }

    // The records matching every term of query: at most limit of them best
    // first, and all of their positions.
    Matches find(const Query& query, int limit) const;
    bool matches(int position, const Query& query) const;
    // The fields of the stored record at position where query matched, best
    // first (read from the table: only for the few records shown).
    std::vector<FieldHit> hitsAt(int position, const Query& query) const;

    // A filter of the store letting pass what query matches, kept up to date
    // with the index as records are saved.
    std::shared_ptr<const vellumo::RecordFilter> filterFor(const Query& query);

private:
    void rebuild();
    void readSome(qint64 milliseconds);
    void clear();
    std::string entryOf(const QStringList& texts) const;
    void changed(const vellumo::StoredChange& change);
    bool rankOf(const std::string& entry, const Query& query, int& rank) const;
    int termRank(const std::string& entry, const Term& term) const;
    int wordRank(std::string_view text, std::size_t namesEnd, const std::string& word) const;
    bool phoneMatches(std::string_view phones, const Term& term) const;

    vellumo::RecordStore& store_;
    std::shared_ptr<Index*> self_; // the filters handed out know whether it lives
    vellumo::Subscription subscription_;
    std::vector<std::string> entries_; // per stored record, in key order
    // The fields read, in the order of an entry: the table's text fields, the
    // memos last; and which of them hold phone numbers, and where "Land" is.
    std::vector<int> fields_;
    std::vector<int> phoneFields_;
    int countryField_ = -1;
    int nameFields_ = 0; // the first fields of an entry that are Name and Vorname
    int memoFirst_ = 0;  // the entry's first memo field
    double buildMs_ = 0;
    Building building_;
    int built_ = 0;       // the records read so far: entries_ holds these
    int storedCount_ = 0; // the records of the table as the index knows it
    std::unique_ptr<QTimer> step_;
    std::uint64_t version_ = 0; // counts the changes, so a kept answer is known stale

    // The last answer, so typing on only looks through its matches.
    mutable Query lastQuery_;
    mutable std::vector<std::uint32_t> lastPositions_;
    mutable std::uint64_t lastVersion_ = ~std::uint64_t(0);
};

} // namespace search
