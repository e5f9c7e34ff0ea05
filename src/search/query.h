// What the user typed into the quick search, taken apart once: its words,
// folded, each of which a record must contain somewhere (in any field, in any
// order), and the phone numbers among them.
#pragma once

#include <QString>
#include <QStringView>

#include <string>
#include <vector>

namespace search {

// How a number in the query meets a phone number of a record.
enum class PhoneMatch {
    None,          // not a number of at least four digits
    Anywhere,      // "1234567": the digits anywhere in the number
    National,      // "0221 123": the start of the number as dialled at home
    International, // "+49 221", "0049 221": the start of country code and number
};

struct Term {
    // Folded words that must all occur in the record's text (a number written
    // with spaces is one term of several words: "0221 123 45 67").
    std::vector<std::string> words;
    PhoneMatch phone = PhoneMatch::None;
    std::string digits; // International: country code and number; else as written
};

class Query {
public:
    Query() = default;
    static Query parse(QStringView text);

    bool isEmpty() const { return terms_.empty(); }
    const std::vector<Term>& terms() const { return terms_; }
    const QString& text() const { return text_; }

    // True when every record this query matches is sure to match before as
    // well (the user typed on), so only the earlier matches need looking at.
    bool narrows(const Query& before) const;

private:
    QString text_;
    std::vector<Term> terms_;
};

} // namespace search
