// The bytes of a graphic field ("Grafik") and the picture they stand for.
//
// Other Paradox tools keep a Windows bitmap in a graphic field: in the .mb an
// 8-byte prefix (01 00 00 01, then the bitmap's length as u32 LE) comes first,
// then the BMP file. The table engine writes that prefix itself and takes it
// off on reading, so the value the engine and the record store hold for the
// field is the BMP file alone, and that is what graphicFieldFromImage returns.
// Store it as it is; adding the prefix again would make the picture unreadable
// for the other tools. imageFromGraphicField reads both forms, with and without
// the prefix; nothing but a Windows bitmap is decoded from a field.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace vellumo::pictures {

// Bytes of the prefix other Paradox tools put in front of the bitmap.
constexpr int kGraphicPrefixSize = 8;

// The largest blob the .mb format holds in one block (65535 units of 4096
// bytes less the 9-byte block header); the prefix counts towards it.
constexpr qint64 kLargestGraphicBlob = 0xFFFFll * 4096 - 9;

// The field value for image: a Windows BMP (8 bit with palette for indexed
// pictures, 24 bit otherwise; transparency is laid over white). A null image
// gives an empty value, which clears the field. A picture whose bitmap the
// .mb cannot hold gives an empty value and a German message in *error;
// *error is emptied otherwise. error may be null.
QByteArray graphicFieldFromImage(const QImage& image, QString* error);

// A photo that comes with an address (a vCard's on import, a phone's by
// sync), in any format Qt decodes, as the field value the chooser would
// store for it: scaled down to longSide first. Empty, with the reason in
// *error, when it cannot be decoded or stored.
QByteArray graphicFieldFromPhoto(const QByteArray& encoded, int longSide, QString* error);

// The picture of a field value, with or without the prefix (a bitmap stored
// without one has lost its first 8 bytes to the engine; they are put back); a
// null image for an empty, broken or unknown value and for a bitmap that claims
// more pixels than kMaxPicturePixels (limits.h), before any of them is decoded.
QImage imageFromGraphicField(const QByteArray& bytes);

// The 8-byte prefix followed by the bitmap: the blob exactly as the .mb holds it.
QByteArray withGraphicPrefix(const QByteArray& bitmap);

} // namespace vellumo::pictures
