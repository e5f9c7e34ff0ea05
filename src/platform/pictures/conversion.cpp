#include "platform/pictures/conversion.h"

#include <Magick++.h>

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

#include <mutex>

namespace vellumo::pictures {

namespace {

quint16 le16(const QByteArray& b, int at) {
    return quint16(quint8(b[at]) | (quint8(b[at + 1]) << 8));
}

// GraphicsMagick once per process, with limits that stop a decompression bomb
// at its header instead of letting it fill memory or spill to disk.
void initialiseMagick() {
    static std::once_flag once;
    std::call_once(once, [] {
        Magick::InitializeMagick(nullptr);
        MagickLib::SetMagickResourceLimit(MagickLib::PixelsResource, kMaxPicturePixels);
        MagickLib::SetMagickResourceLimit(MagickLib::WidthResource, kMaxPictureSide);
        MagickLib::SetMagickResourceLimit(MagickLib::HeightResource, kMaxPictureSide);
        MagickLib::SetMagickResourceLimit(MagickLib::MemoryResource, 768ll << 20);
        MagickLib::SetMagickResourceLimit(MagickLib::MapResource, 768ll << 20);
        MagickLib::SetMagickResourceLimit(MagickLib::DiskResource,
                                          0); // never a pixel cache on disk
        MagickLib::SetMagickResourceLimit(MagickLib::ReadResource, kMaxPictureFileBytes);
    });
}

const char* coderOf(PictureKind kind) {
    switch (kind) {
    case PictureKind::Bmp:
        return "BMP";
    case PictureKind::Wmf:
        return "WMF";
    case PictureKind::Gif:
        return "GIF";
    case PictureKind::Pcx:
        return "PCX";
    case PictureKind::Jpeg:
        return "JPEG";
    case PictureKind::Tga:
        return "TGA";
    case PictureKind::Unknown:
        break;
    }
    return nullptr;
}

bool plausibleTgaHeader(const QByteArray& head) {
    if (head.size() < 18)
        return false;
    const int colourMap = quint8(head[1]);
    const int type = quint8(head[2]);
    const int depth = quint8(head[16]);
    const bool typeKnown =
        type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11;
    return colourMap <= 1 && typeKnown &&
           (depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32) &&
           le16(head, 12) > 0 && le16(head, 14) > 0;
}

// GraphicsMagick fills a PCX whose data ends early with black and says
// nothing, so the run-length stream is walked here first: it must cover every
// row, and an 8-bit picture must still have its palette at the end.
bool completePcx(const QByteArray& data) {
    if (data.size() < 128)
        return false;
    const qint64 height = qint64(le16(data, 10)) - le16(data, 6) + 1;
    const qint64 planes = quint8(data[65]);
    const qint64 need = qint64(le16(data, 66)) * planes * height;
    if (height <= 0 || need <= 0)
        return false;
    const bool rle = data[2] == 1;
    qint64 got = 0;
    qsizetype at = 128;
    while (got < need) {
        if (at >= data.size())
            return false;
        const quint8 b = quint8(data[at++]);
        if (rle && (b & 0xC0) == 0xC0) {
            if (at >= data.size())
                return false;
            ++at;
            got += b & 0x3F;
        } else {
            ++got;
        }
    }
    const qsizetype rest = data.size() - at;
    const bool palette = rest >= 769 && data[data.size() - 769] == 0x0C;
    if (data[3] == 8 && planes == 1)
        return palette;
    // Writers add the palette to true-colour files too; one cut short is a file cut short.
    return palette || rest == 0 || data[at] != 0x0C;
}

// libjpeg paints a JPEG whose data ends early grey to the bottom and calls it
// a warning; the image data of a whole file ends in an end marker after its
// last scan (a preview picture in the file's header has scans of its own, earlier).
bool completeJpeg(const QByteArray& data) {
    const qsizetype scan = data.lastIndexOf(QByteArray("\xFF\xDA", 2));
    return scan > 0 && data.indexOf(QByteArray("\xFF\xD9", 2), scan + 2) > scan;
}

// JPEG through Qt's libjpeg-turbo: several times faster than GraphicsMagick's
// 16-bit pixels for the large photographs people keep.
QImage readJpeg(const QByteArray& data) {
    if (!completeJpeg(data))
        return {};
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    const QSize size = reader.size();
    if (size.width() <= 0 || size.height() <= 0 || size.width() > kMaxPictureSide ||
        size.height() > kMaxPictureSide || qint64(size.width()) * size.height() > kMaxPicturePixels)
        return {};
    QImage image = reader.read();
    if (image.isNull() || image.size() != size)
        return {};
    return image.convertToFormat(QImage::Format_RGB32);
}

QImage toBitmap(Magick::Image& image) {
    const int width = int(image.columns());
    const int height = int(image.rows());
    if (width <= 0 || height <= 0)
        return {};
    QImage pixels(width, height, QImage::Format_ARGB32);
    if (pixels.isNull())
        return {};
    // Format_ARGB32 lies in memory as B, G, R, A on every machine Debian runs Qt on
    // little-endian; rows are contiguous when bytesPerLine is width * 4.
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "pixel export assumes little-endian");
    if (pixels.bytesPerLine() != qsizetype(width) * 4)
        return {};
    image.write(0, 0, unsigned(width), unsigned(height), "BGRA", Magick::CharPixel, pixels.bits());
    if (!image.matte())
        return pixels.convertToFormat(QImage::Format_RGB32);
    QImage opaque(width, height, QImage::Format_RGB32);
    opaque.fill(Qt::white);
    QPainter painter(&opaque);
    painter.drawImage(0, 0, pixels);
    painter.end();
    return opaque;
}

} // namespace

PictureKind pictureKindOf(const QByteArray& head, const QString& fileName) {
    if (head.startsWith("BM"))
        return PictureKind::Bmp;
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return PictureKind::Gif;
    if (head.startsWith("\xFF\xD8\xFF"))
        return PictureKind::Jpeg;
    if (head.startsWith(QByteArray("\xD7\xCD\xC6\x9A", 4)))
        return PictureKind::Wmf; // placeable metafile
    if (head.size() >= 4 && (le16(head, 0) == 1 || le16(head, 0) == 2) && le16(head, 2) == 9)
        return PictureKind::Wmf; // bare metafile header
    if (head.size() >= 4 && quint8(head[0]) == 0x0A && quint8(head[1]) <= 5 &&
        quint8(head[2]) <= 1 && (head[3] == 1 || head[3] == 2 || head[3] == 4 || head[3] == 8))
        return PictureKind::Pcx;
    if (plausibleTgaHeader(head) && fileName.endsWith(QStringLiteral(".tga"), Qt::CaseInsensitive))
        return PictureKind::Tga;
    return PictureKind::Unknown;
}

QImage convertPictureData(const QByteArray& data, const QString& fileName) {
    PictureKind kind = pictureKindOf(data, fileName);
    // A TGA 2.0 file names itself in its footer, whatever the file is called.
    if (kind == PictureKind::Unknown && plausibleTgaHeader(data) &&
        data.endsWith(QByteArray("TRUEVISION-XFILE.\0", 18)))
        kind = PictureKind::Tga;
    const char* coder = coderOf(kind);
    if (!coder || (kind == PictureKind::Pcx && !completePcx(data)))
        return {};
    if (kind == PictureKind::Jpeg)
        return readJpeg(data);
    initialiseMagick();
    try {
        // The coder is fixed by the kind found above, so no other coder (and
        // none of GraphicsMagick's delegates) ever sees the file.
        const Magick::Blob blob(data.constData(), size_t(data.size()));
        Magick::Image probe;
        probe.magick(coder);
        probe.ping(blob);
        const qint64 w = probe.columns();
        const qint64 h = probe.rows();
        if (w <= 0 || h <= 0 || w > kMaxPictureSide || h > kMaxPictureSide ||
            w * h > kMaxPicturePixels)
            return {};
        Magick::Image image;
        image.magick(coder);
        image.read(blob);
        return toBitmap(image);
    } catch (...) {
        // Broken and truncated files end here, warnings included: a half-read
        // picture is no picture.
        return {};
    }
}

QImage convertPictureFile(const QString& path) {
    if (path.isEmpty())
        return {};
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > kMaxPictureFileBytes)
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = file.readAll();
    if (data.size() != info.size())
        return {};
    return convertPictureData(data, info.fileName());
}

} // namespace vellumo::pictures
