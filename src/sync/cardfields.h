// The address table's fields a card carries, for the sync. Which property,
// component and parameter of a card the table owns is the one vCard codec's
// rule (exchange/vcardcodec.h), read and patched there.
#pragma once

#include "platform/carddav/merge.h"

#include <QImage>
#include <QString>
#include <QStringList>

namespace vellumo::sync {

using carddav::Fields;

// The table fields a card carries, by name; "Grafik" is not among them,
// dates are ISO text ("1970-05-17"; a birthday without a year has the year
// vcard::kYearUnknown).
extern const QStringList kCardFields;

// What tells one picture from another by its pixels, as the table would hold
// it (transparency laid over white); empty for no picture.
QString pictureKey(const QImage& image);

} // namespace vellumo::sync
