#include "platform/pictures/conversion.h"

#include <Magick++.h>

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

#include <climits>
#include <mutex>

namespace vellumo::pictures {

namespace {

quint16 le16(const QByteArray& b, int at) {
    return quint16(quint8(b[at]) | (quint8(b[at + 1]) << 8));
}

PictureFile refused(PictureProblem problem, QSize size = {}) {
    PictureFile out;
    out.problem = problem;
    out.size = size;
    return out;
}

bool withinLimits(qint64 width, qint64 height) {
    return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
           width * height <= kMaxPicturePixels;
}

QSize claimed(qint64 width, qint64 height) {
    return width > 0 && height > 0 && width <= INT_MAX && height <= INT_MAX
               ? QSize(int(width), int(height))
               : QSize();
}

// GraphicsMagick once per process, with limits that stop a decompression bomb
// at its header instead of letting it fill memory or spill to disk. Its pixels
// are 16 bits a channel: eight bytes for each of the most pixels read.
void initialiseMagick() {
    static std::once_flag once;
    std::call_once(once, [] {
        Magick::InitializeMagick(nullptr);
        MagickLib::SetMagickResourceLimit(MagickLib::PixelsResource, kMaxPicturePixels);
        MagickLib::SetMagickResourceLimit(MagickLib::WidthResource, kMaxPictureSide);
        MagickLib::SetMagickResourceLimit(MagickLib::HeightResource, kMaxPictureSide);
        MagickLib::SetMagickResourceLimit(MagickLib::MemoryResource, kMaxPicturePixels * 8);
        MagickLib::SetMagickResourceLimit(MagickLib::MapResource, kMaxPicturePixels * 8);
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
    case PictureKind::Png:
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

// A PNG ends in its IEND chunk; Qt shows one cut short as far as it got.
bool completePng(const QByteArray& data) {
    return data.lastIndexOf(QByteArray("IEND\xAE\x42\x60\x82", 8)) >= 33;
}

QImage opaque(const QImage& image) {
    if (!image.hasAlphaChannel())
        return image.convertToFormat(QImage::Format_RGB32);
    QImage flat(image.size(), QImage::Format_RGB32);
    if (flat.isNull())
        return {};
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, image);
    painter.end();
    return flat;
}

// JPEG and PNG through Qt: libjpeg-turbo is several times faster than
// GraphicsMagick's 16-bit pixels for the large photographs people keep.
// Only the reader of the kind found is asked, and only after the size it
// reads from the header is within the limits.
PictureFile readWithQt(const QByteArray& data, const char* format) {
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setAutoDetectImageFormat(false);
    reader.setAutoTransform(true); // a phone's upright photograph stays upright
    const QSize size = reader.size();
    if (!size.isValid())
        return refused(PictureProblem::Damaged);
    if (!withinLimits(size.width(), size.height()))
        return refused(PictureProblem::TooLarge, size);
    applyDecoderLimit();
    const QImage image = reader.read();
    if (image.isNull())
        return refused(reader.error() == QImageReader::InvalidDataError ||
                               reader.error() == QImageReader::UnknownError
                           ? PictureProblem::Damaged
                           : PictureProblem::OutOfMemory,
                       size);
    PictureFile out;
    out.image = opaque(image);
    out.problem = out.image.isNull() ? PictureProblem::OutOfMemory : PictureProblem::None;
    out.size = out.image.size();
    return out;
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
    return opaque(pixels);
}

} // namespace

PictureKind pictureKindOf(const QByteArray& head, const QString& fileName) {
    if (head.startsWith("BM"))
        return PictureKind::Bmp;
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return PictureKind::Gif;
    if (head.startsWith("\xFF\xD8\xFF"))
        return PictureKind::Jpeg;
    if (head.startsWith("\x89PNG\r\n\x1A\n"))
        return PictureKind::Png;
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

PictureFile readPictureData(const QByteArray& data, const QString& fileName) {
    if (data.isEmpty())
        return refused(PictureProblem::Empty);
    PictureKind kind = pictureKindOf(data, fileName);
    // A TGA 2.0 file names itself in its footer, whatever the file is called.
    if (kind == PictureKind::Unknown && plausibleTgaHeader(data) &&
        data.endsWith(QByteArray("TRUEVISION-XFILE.\0", 18)))
        kind = PictureKind::Tga;
    if (kind == PictureKind::Unknown)
        return refused(PictureProblem::UnknownFormat);
    if (kind == PictureKind::Jpeg)
        return completeJpeg(data) ? readWithQt(data, "jpeg") : refused(PictureProblem::Damaged);
    if (kind == PictureKind::Png)
        return completePng(data) ? readWithQt(data, "png") : refused(PictureProblem::Damaged);
    if (kind == PictureKind::Pcx && !completePcx(data))
        return refused(PictureProblem::Damaged);
    initialiseMagick();
    QSize size;
    try {
        // The coder is fixed by the kind found above, so no other coder (and
        // none of GraphicsMagick's delegates) ever sees the file.
        const char* coder = coderOf(kind);
        const Magick::Blob blob(data.constData(), size_t(data.size()));
        Magick::Image probe;
        probe.magick(coder);
        probe.ping(blob);
        const qint64 w = probe.columns();
        const qint64 h = probe.rows();
        size = claimed(w, h);
        if (!withinLimits(w, h))
            return refused(w > 0 && h > 0 ? PictureProblem::TooLarge : PictureProblem::Damaged,
                           size);
        Magick::Image image;
        image.magick(coder);
        image.read(blob);
        PictureFile out;
        out.image = toBitmap(image);
        out.problem = out.image.isNull() ? PictureProblem::OutOfMemory : PictureProblem::None;
        out.size = out.image.isNull() ? size : out.image.size();
        return out;
    } catch (const Magick::ErrorResourceLimit&) {
        // The limits set above stop a decompression bomb at its header.
        return refused(PictureProblem::TooLarge, size);
    } catch (const Magick::WarningResourceLimit&) {
        return refused(PictureProblem::TooLarge, size);
    } catch (...) {
        // Broken and truncated files end here, warnings included: a half-read
        // picture is no picture.
        return refused(PictureProblem::Damaged, size);
    }
}

PictureFile readPictureFile(const QString& path) {
    if (path.isEmpty())
        return refused(PictureProblem::NoFile);
    const QFileInfo info(path);
    if (!info.isFile())
        return refused(PictureProblem::Unreadable);
    if (info.size() > kMaxPictureFileBytes)
        return refused(PictureProblem::FileTooLarge);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refused(PictureProblem::Unreadable);
    const QByteArray data = file.readAll();
    if (data.size() != info.size())
        return refused(PictureProblem::Unreadable);
    return readPictureData(data, info.fileName());
}

QString problemText(const PictureFile& file) {
    switch (file.problem) {
    case PictureProblem::None:
    case PictureProblem::NoFile:
        return {};
    case PictureProblem::Unreadable:
        return QStringLiteral("Die Datei kann nicht gelesen werden.");
    case PictureProblem::Empty:
        return QStringLiteral("Die Datei ist leer.");
    case PictureProblem::FileTooLarge:
        return QStringLiteral("Die Datei ist zu groß (mehr als %1 MB).")
            .arg(kMaxPictureFileBytes >> 20);
    case PictureProblem::UnknownFormat:
        return QStringLiteral("Das Format wird nicht erkannt.");
    case PictureProblem::Damaged:
        return QStringLiteral("Die Datei ist beschädigt.");
    case PictureProblem::TooLarge:
        if (file.size.isValid())
            return QStringLiteral("Das Bild ist zu groß: %1 × %2 Pixel, gelesen werden höchstens "
                                  "%3 Megapixel.")
                .arg(file.size.width())
                .arg(file.size.height())
                .arg(kMaxPicturePixels / 1'000'000);
        return QStringLiteral("Das Bild ist zu groß: gelesen werden höchstens %1 Megapixel.")
            .arg(kMaxPicturePixels / 1'000'000);
    case PictureProblem::OutOfMemory:
        return QStringLiteral("Für das Bild ist nicht genug Speicher frei.");
    }
    return {};
}

} // namespace vellumo::pictures
