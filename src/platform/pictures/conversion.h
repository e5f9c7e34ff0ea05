// Picture files turned into bitmaps: BMP, WMF, GIF, PCX, JPEG, TGA and PNG.
//
// One call, a path in and a bitmap or the reason there is none out. Whatever
// goes wrong (no such file, an unknown kind, a broken, truncated or hostile
// file, a picture too large to hold) gives a null image and a problem, never
// an exception. The limits are those of limits.h.
#pragma once

#include "platform/pictures/limits.h"

#include <QImage>
#include <QSize>
#include <QString>

namespace vellumo::pictures {

// The kinds the conversion reads. The kind is taken from the file's contents;
// TGA has no signature and is taken from its footer or the ending ".tga".
enum class PictureKind { Unknown, Bmp, Wmf, Gif, Pcx, Jpeg, Tga, Png };

PictureKind pictureKindOf(const QByteArray& head, const QString& fileName);

enum class PictureProblem {
    None,
    NoFile,        // no path: nothing to say
    Unreadable,    // missing, a directory, no permission, a read error
    Empty,         // a file of no bytes
    FileTooLarge,  // over kMaxPictureFileBytes
    UnknownFormat, // none of the kinds above, whatever the name says
    Damaged,       // broken or cut short
    TooLarge,      // more pixels than kMaxPicturePixels (a decompression bomb, too)
    OutOfMemory,
};

struct PictureFile {
    QImage image; // Format_RGB32, null unless problem is None
    PictureProblem problem = PictureProblem::NoFile;
    QSize size; // what the file claims, where it was read before refusing
};

// Why a file gives no picture, in German for the user ("Die Datei ist
// beschädigt."); empty for None and NoFile.
QString problemText(const PictureFile& file);

// The picture in the file at path as an opaque bitmap (transparent parts laid
// over white), right way up, a photograph turned as its camera says.
PictureFile readPictureFile(const QString& path);
// The same for a file's contents already in memory; fileName only names the kind of TGA files.
PictureFile readPictureData(const QByteArray& data, const QString& fileName = {});

// The picture alone, null when there is none.
inline QImage convertPictureFile(const QString& path) {
    return readPictureFile(path).image;
}
inline QImage convertPictureData(const QByteArray& data, const QString& fileName = {}) {
    return readPictureData(data, fileName).image;
}

} // namespace vellumo::pictures
