// Picture files turned into bitmaps: BMP, WMF, GIF, PCX, JPEG and TGA.
//
// One call, a path in and a bitmap or nothing out. Whatever goes wrong (no
// such file, an unknown kind, a broken, truncated or hostile file, a picture
// too large to hold) gives a null image; no message, no exception.
#pragma once

#include <QImage>
#include <QString>

namespace vellumo::pictures {

// The kinds the conversion reads. The kind is taken from the file's contents;
// TGA has no signature and is taken from its footer or the ending ".tga".
enum class PictureKind { Unknown, Bmp, Wmf, Gif, Pcx, Jpeg, Tga };

PictureKind pictureKindOf(const QByteArray& head, const QString& fileName);

// Largest picture the conversion decodes, in pixels (and per side). Larger
// ones are refused before their pixels are decoded, so a small file that
// claims a huge picture costs next to nothing.
constexpr qint64 kMaxPicturePixels = 40'000'000;
constexpr int kMaxPictureSide = 20'000;
// Files larger than this are not read at all.
constexpr qint64 kMaxPictureFileBytes = 256ll << 20;

// The picture in the file at path as an opaque bitmap (QImage::Format_RGB32,
// transparent parts laid over white), right way up; null when there is none.
QImage convertPictureFile(const QString& path);

// The same for a file's contents already in memory; fileName only names the kind of TGA files.
QImage convertPictureData(const QByteArray& data, const QString& fileName = {});

} // namespace vellumo::pictures
