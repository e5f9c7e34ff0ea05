// The one vCard codec of the program: content lines read and written
// (escaping, components, folding), and the one rule of which properties,
// components and parameters of a card the address table owns. The export and
// the import write and read through it, and the sync reads a server's card
// and patches it through it.
//
// What the table owns (kSlots): of N the family and the given name; of the
// first ADR the street, locality, postal code and country; the first two
// phones that are no fax, and the first fax; the first EMAIL, URL, BDAY,
// CATEGORIES (a list), NOTE and PHOTO; the program's own X-VELLUMO lines. It
// owns no parameter and no group: a line it changes keeps those as they
// stood, and every component it does not own. FN follows N: it is written
// only when the name changed. Everything else on a card is the user's.
#pragma once

#include "address/addressschema.h"
#include <QByteArray>
#include <QDate>
#include <QList>
#include <QMap>

#include <QString>
#include <QStringList>

namespace vellumo::vcard {

// A birthday without a year is kept with the table's year for it and written
// back without one.
using address::kYearUnknown;

// The table's values by field name ("Name", "Geburtstag" as ISO text "1970-05-17").
using Fields = QMap<QString, QString>;

// One property of a card, unfolded for reading; raw keeps the bytes as they
// stood (folded lines, line ends), so what is not changed goes back as it was.
struct ContentLine {
    QByteArray raw;
    QByteArray head;   // "item1.EMAIL;TYPE=WORK": everything before the value's colon
    QByteArray group;  // "item1" of "item1.EMAIL", else empty
    QByteArray name;   // upper case: "TEL", "X-VELLUMO-KONTONR"
    QByteArray params; // ";TYPE=HOME,VOICE" as written
    QByteArray value;  // unfolded, still escaped
    bool hasParam(const char* upperText) const { return params.toUpper().contains(upperText); }
};

QList<ContentLine> contentLines(const QByteArray& card);
// The colon that ends a line's name and parameters. Quotes count only inside
// parameter values; a quote that is never closed does not hide the colon.
qsizetype valueColon(const QByteArray& line);

// Text values: "\\", "\,", "\;" and "\n" both ways (a CR is dropped).
QByteArray escaped(const QString& text);
QString unescaped(const QByteArray& value);
// A structured value (N, ADR) split at its unescaped separators, each part
// still escaped, and joined again.
QList<QByteArray> rawComponents(const QByteArray& value, char separator = ';');
// One content line folded at 75 octets (never inside a UTF-8 sequence), CRLF.
void appendLine(QByteArray& out, const QByteArray& line);

// BDAY and the like: "1970-05-17", "19700517", "1970-05-17T…", "--0517",
// "--05-17" (year unknown) as ISO text; empty for what is no date.
QString dateText(const QByteArray& value);
QDate readDate(const QString& text);
QByteArray dateValue(const QDate& date);
// CATEGORIES as the table shows the list ("Familie, Freunde") and back.
QString categoriesText(const QByteArray& value);
QByteArray categoriesValue(const QString& text);
// A telephone number, also written as a URI (VALUE=uri:tel:+49-170-1):
// of an unescaped value, and of a line.
QString phoneText(const QString& value);
QString phoneNumber(const ContentLine& line);

// The slots of a card the table owns; lines that fill none are the user's.
enum class Slot {
    None = -1,
    Name,
    Address,
    Phone1,
    Phone2,
    Fax,
    Email,
    Web,
    Birthday,
    Categories,
    Note,
    Account,
    BankCode,
    Bank,
    Created,
    Photo,
    Count
};
// For every line of a card the slot it fills, by the rule above.
QList<Slot> slotsOf(const QList<ContentLine>& lines);
// The fields a slot carries ("Name" and "Vorname" for Name …).
QStringList fieldsOf(Slot slot);

// The photo of a card: its file's bytes when it is given inline, else empty;
// linked says it is a link to a picture elsewhere (VALUE=uri), which the
// table cannot hold and nothing here removes.
struct Photo {
    QByteArray bytes;
    bool present = false; // there is a PHOTO line at all
    bool linked = false;
    QByteArray source;      // the line's value as written
    QByteArray key() const; // tells one photo from another; empty for none
};
Photo photoOf(const ContentLine& line);

struct Card {
    Fields fields;
    QString uid;
    QString fullName; // FN as written
    Photo photo;
};

// What the table takes from a card: the owned slots' values; a card without
// N (a business) shows its FN, else its ORG, in "Name".
Card readCard(const QByteArray& card);

// A card of the table's own: vCard 3.0, lines in a fixed order. photo: the
// picture's file bytes and their type ("PNG"), or empty.
struct NewCard {
    Fields fields;
    QString uid;
    QByteArray photo;
    QByteArray photoType = "PNG";
    QByteArray revision; // REV's value, none when empty
};
QByteArray writeCard(const NewCard& card);
// The name a card without one is shown by (FN must not be empty).
QString fullNameOf(const Fields& fields);

// What a patch does to the photo.
struct PhotoChange {
    enum Kind { Keep, Replace, Remove } kind = Keep;
    QByteArray bytes; // Replace: the picture's file bytes
    QByteArray type = "PNG";
};

// The server's card with the table's changes: before is what readCard gave
// for it, after what the table holds now. A line whose owned values are
// unchanged stays byte for byte; a changed one keeps its group, parameters
// and the components the table does not own; a slot the card lacks is
// added before END:VCARD. FN is rewritten only when Name or Vorname
// changed. A linked photo, or one that cannot be read, is never removed.
// REV becomes revision when anything changed (when not empty); nothing
// changed gives the server's bytes. An empty server card gives writeCard.
QByteArray patchCard(const QByteArray& server, const Fields& before, const Fields& after,
                     const PhotoChange& photo, const QByteArray& revision, const QString& uid);

} // namespace vellumo::vcard
