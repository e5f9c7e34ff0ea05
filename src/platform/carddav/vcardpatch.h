// Writing a card back to the server without losing what we do not show: the
// server's card stays as it was, byte for byte, except for the properties
// the table keeps, which are replaced by ours. Knows no schema: the caller
// says which properties it keeps.
#pragma once

#include <QByteArray>
#include <QList>

#include <functional>

namespace vellumo::carddav {

// One property of a card, unfolded for reading; raw keeps the bytes as they
// stood (folded lines, line ends), so what is not ours goes back unchanged.
struct ContentLine {
    QByteArray raw;
    QByteArray group;  // "item1" of "item1.EMAIL", else empty
    QByteArray name;   // upper case: "TEL", "X-VELLUMO-KONTO"
    QByteArray params; // ";TYPE=HOME,VOICE" as written
    QByteArray value;  // unfolded, still escaped
};

QList<ContentLine> contentLines(const QByteArray& card);

// Whether a property belongs to the table; ordinal counts the properties of
// the same name before it (0 for the first TEL, 1 for the second, …).
using Keeps = std::function<bool(const ContentLine& line, int ordinal)>;

// base with every property that keeps() claims taken out and ours' claimed
// properties put in where the first of them stood (or before END:VCARD).
// An empty base gives ours.
QByteArray patchCard(const QByteArray& base, const QByteArray& ours, const Keeps& keeps);

} // namespace vellumo::carddav
