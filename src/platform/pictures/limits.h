// How large a picture may be, in one place: what the chooser reads, what a
// graphic field may hold and what Qt's image readers may allocate all follow
// from kMaxPicturePixels, so whatever is stored can always be shown, deleted
// and exported again.
#pragma once

#include <QImage>
#include <QSize>
#include <QtGlobal>

namespace vellumo::pictures {

// The largest picture decoded anywhere, from a file or from a field: the
// photographs of today's cameras (up to some 60 megapixels) with room to spare.
constexpr qint64 kMaxPicturePixels = 100'000'000;
constexpr int kMaxPictureSide = 30'000;
// Picture files larger than this are not read at all.
constexpr qint64 kMaxPictureFileBytes = 256ll << 20;

// Qt's image readers refuse to allocate more than this (MiB): the largest
// picture as 32-bit pixels. Qt's own default (128 MiB) would refuse pictures
// the chooser accepted.
constexpr int kDecoderAllocationLimitMiB = int((kMaxPicturePixels * 4 + (1 << 20) - 1) >> 20);
// Sets kDecoderAllocationLimitMiB for every QImageReader of the process; the
// program and the table tool call it at start, the decoders here once more.
void applyDecoderLimit();

// Pictures are stored at most this many pixels on their long side. An address
// book wants a face, not a photo archive: at 1,024 pixels a 4:3 photograph
// takes 2.3 MB as a bitmap and a table's .mb (at most 4 GiB) holds some 1,800
// of them; at its natural 12 megapixels only about 119 would fit.
constexpr int kDefaultStoredSide = 1024;
constexpr int kMinStoredSide = 64;
// A 4,096-pixel square is 48 MB as a bitmap: well within a graphic field and the decoders.
constexpr int kMaxStoredSide = 4096;

// The size a picture of size is stored at: unchanged when its long side is
// within longSide, otherwise scaled down to it keeping its proportions.
QSize storedSize(const QSize& size, int longSide);
// The long side the user set ("&Einstellungen" → "&Bildgröße …", Setup.ini
// section "Bilder", key "LangeSeite"); a value outside
// kMinStoredSide..kMaxStoredSide counts as the nearer of the two. Whatever
// stores a picture follows it: the chooser, a vCard's photo on import, a
// phone's photo arriving by sync.
int storedSide();
// image as it is stored: scaled down smoothly to storedSize(longSide).
QImage scaledForStorage(const QImage& image, int longSide);

} // namespace vellumo::pictures
