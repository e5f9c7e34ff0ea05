// A card's properties and the address table's fields, both ways, for the
// sync alone: only the properties the table keeps are read (the first of
// each: the first postal address, the first two phones and the first fax,
// the first e-mail address), and a card is written back by replacing just
// those (patchCard), so a second e-mail address, a third phone or anything
// else another program put on the card stays as it was.
#pragma once

#include "platform/carddav/merge.h"
#include "platform/carddav/vcardpatch.h"

#include <QByteArray>
#include <QImage>
#include <QString>

namespace vellumo::sync {

using carddav::Fields;

// The table fields a card carries, by name; "Grafik" is not among them (see
// pictureKey), dates are ISO text ("1970-05-17"; a birthday without a year
// has the year 1604).
extern const QStringList kCardFields;

struct CardContent {
    Fields fields;
    QString uid;
    QByteArray photo; // the picture's file bytes, still encoded; empty when none
};

CardContent readCard(const QByteArray& card);

// The properties the table keeps, as a vCard 3.0 with the given UID, ready
// for patchCard (and a card of its own where the server has none yet).
// photo: PNG bytes or empty.
QByteArray writeCard(const Fields& fields, const QByteArray& photo, const QString& uid);

// Which of a card's properties the table keeps (and so patchCard replaces).
bool keeps(const carddav::ContentLine& line, int ordinal);

// What tells one picture from another by its pixels, as the table would hold
// it (transparency laid over white); empty for no picture.
QString pictureKey(const QImage& image);

} // namespace vellumo::sync
