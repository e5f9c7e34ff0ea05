// An address as the post reads it by machine: name line, street, postcode
// and town, and for a letter abroad the country in capitals as the last line.
// No blank lines, nothing after the town but the country, no "D-" before a
// German postcode. Every print style that writes an address uses this.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace vellumo::labels {

struct PostalAddress {
    QString vorname;
    QString name;
    QString strasse;
    QString plz;
    QString ort;
    QString land;
};

// True for an empty country and for Germany in any common spelling
// ("Deutschland", "Germany", "D", "DE", "BRD", …).
bool isDomestic(const QString& land);

QStringList postalLines(const PostalAddress& address);

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

} // namespace vellumo::labels
