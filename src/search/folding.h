// German spelling folded for comparison: the one rule the quick search and the
// duplicate finder share, so "Müller", "Mueller" and "MULLER" compare equal.
//
//   - case is folded fully (ß and ẞ become "ss");
//   - accents are stripped through ICU (é = e, ø = o, æ = ae, ł = l), so ä,
//     ö and ü become a, o and u;
//   - ae, oe and ue become a, o and u, so the spellings of an umlaut meet;
//   - a word ending in "strasse" (or "straße", "str.") ends in "str";
//   - apostrophes vanish, every other mark between words is one space.
//
// Plain functions without any window or table.
#pragma once

#include <QString>
#include <QStringView>

#include <string>
#include <vector>

namespace search {

// The folded form of text, for comparing two texts.
QString fold(QStringView text);

// The same folded form as UTF-8 bytes. sources, when given, receives for
// every byte of the result the index in text (UTF-16) of the character it
// came from, so a hit in the folded text can be marked in the original.
std::string foldUtf8(QStringView text, std::vector<int>* sources = nullptr);

// A word being typed: like foldUtf8, and a word that stops inside "strasse"
// after "str" ("Hauptstra", "Hauptstrass") ends in "str" too, so the matches
// do not vanish while the user types on.
std::string foldTyped(QStringView word);

} // namespace search
