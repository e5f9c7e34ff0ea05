// An address as the post reads it by machine: name line, street, postcode
// and town, and for a letter abroad the country in capitals as the last line.
// No blank lines, nothing after the town but the country, no "D-" before a
// German postcode. Every print style that writes an address (envelope,
// labels, letters) takes its lines from postalLines.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <string_view>

namespace vellumo::address {

// The address fields of a record as they are shown or stored, untrimmed.
struct PostalAddress {
    QString vorname;
    QString name;
    QString strasse;
    QString plz;
    QString ort;
    QString land;
};

// The table's fields an address is read from, in the order of PostalAddress.
inline constexpr std::array<std::string_view, 6> kPostalFields{"Vorname", "Name", "Strasse",
                                                               "PLZ",     "Ort",  "Land"};

// The address of a row, given the text of a field by its name (a row source,
// the record store, a test's table).
template <typename FieldText> PostalAddress postalAddressOf(FieldText&& fieldText) {
    auto at = [&](std::size_t i) {
        return fieldText(QString::fromLatin1(kPostalFields[i].data(),
                                             static_cast<qsizetype>(kPostalFields[i].size())));
    };
    return {at(0), at(1), at(2), at(3), at(4), at(5)};
}

struct PostalStyle {
    // Each field's text as typed, blanks included (the envelope's recipient,
    // which the user edits before printing); otherwise blanks are tidied.
    bool asTyped = false;
    // At most this many lines (0: no limit). The name gives way first, so
    // that town and country, which the post sorts by, always stand.
    int maxLines = 0;
};

// True for an empty country and for Germany in any common spelling
// ("Deutschland", "Germany", "D", "DE", "BRD", …).
bool isDomestic(const QString& land);

QStringList postalLines(const PostalAddress& address, const PostalStyle& style = {});

// One label per household: addresses with the same street, postcode and town
// (compared without case and extra blanks; an address without any of the
// three is always its own) give one label at the place of the first, named
// "Familie <Name>" when all names agree, else with the full names joined
// ("Anna Schmidt und Bernd Meier"), in the order of their first members.
struct Household {
    QStringList lines;
    QList<int> members; // indices into addresses, ascending
};
QList<Household> householdLabels(const QList<PostalAddress>& addresses);

} // namespace vellumo::address
