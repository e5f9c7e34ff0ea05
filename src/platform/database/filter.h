// The filter of the record store: one field compared with a quoted text.
//
//   Name = 'Mei*'
//
// Case is ignored (umlauts too). A quoted text of at least two characters
// ending in '*' matches every value that begins with the text before it; a
// lone '*' is literal. Two apostrophes inside the quotes are one apostrophe
// of the value.
#pragma once

#include <QString>

#include <optional>

namespace vellumo {

struct FilterExpression {
    QString field; // as written; empty for the empty expression (everything passes)
    QString text;  // the value with '' resolved, without a trailing '*' of a prefix
    bool prefix = false;

    bool passesAll() const { return field.isEmpty(); }
    bool matches(const QString& value) const;
};

// Parses the expression; nullopt when it is not of the accepted form (the
// field name is not checked against a table here).
std::optional<FilterExpression> parseFilterExpression(const QString& expression);

} // namespace vellumo
