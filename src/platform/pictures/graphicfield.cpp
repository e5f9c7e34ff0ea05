#include "platform/pictures/graphicfield.h"

#include "platform/pictures/limits.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>

#include <cstring>

namespace vellumo::pictures {

namespace {

void put16(QByteArray& out, int at, quint16 v) {
    out[at] = char(v & 0xFF);
    out[at + 1] = char(v >> 8);
}

void put32(QByteArray& out, int at, quint32 v) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = char((v >> (8 * i)) & 0xFF);
}

quint32 get32(const QByteArray& in, int at) {
    quint32 v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | quint8(in[at + i]);
    return v;
}

constexpr int kFileHeader = 14;
constexpr int kInfoHeader = 40;

// Pictures with few colours keep their palette: an 8-bit bitmap is a third
// of the 24-bit one, and the other tools' own pictures are mostly of that kind.
bool keepsPalette(const QImage& image) {
    return (image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Mono ||
            image.format() == QImage::Format_MonoLSB) &&
           image.colorCount() > 0 && image.colorCount() <= 256 && !image.hasAlphaChannel();
}

// What a bitmap's header claims, read in unsigned 64-bit arithmetic with every
// product checked: a damaged field from another tool may claim anything.
struct BitmapClaim {
    quint64 width = 0;
    quint64 height = 0;
    bool usable = false; // within the limits and, where the length is known, complete
};

bool times(quint64 a, quint64 b, quint64& out) {
    return !__builtin_mul_overflow(a, b, &out);
}

bool plus(quint64 a, quint64 b, quint64& out) {
    return !__builtin_add_overflow(a, b, &out);
}

quint64 magnitude(quint32 raw) {
    const qint64 v = qint32(raw);
    return quint64(v < 0 ? -v : v);
}

// Qt shows a bitmap cut short with its missing rows black; a damaged field
// should show nothing instead. Only uncompressed bitmaps know their length.
BitmapClaim claimOf(const QByteArray& bmp) {
    BitmapClaim c;
    if (bmp.size() < kFileHeader + 12 || !bmp.startsWith("BM"))
        return c;
    const quint32 header = get32(bmp, 14);
    quint64 bits = 0;
    quint32 compression = 0;
    if (header == 12) { // OS/2 1.x: 16-bit sizes
        c.width = static_cast<quint64>(quint8(bmp[18]) | (quint8(bmp[19]) << 8));
        c.height = static_cast<quint64>(quint8(bmp[20]) | (quint8(bmp[21]) << 8));
        bits = static_cast<quint64>(quint8(bmp[24]) | (quint8(bmp[25]) << 8));
    } else if (header >= 40 && bmp.size() >= kFileHeader + kInfoHeader) {
        c.width = magnitude(get32(bmp, 18));
        c.height = magnitude(get32(bmp, 22));
        bits = static_cast<quint64>(quint8(bmp[28]) | (quint8(bmp[29]) << 8));
        compression = get32(bmp, 30);
    } else {
        return c;
    }
    quint64 pixels = 0;
    if (c.width == 0 || c.height == 0 || !times(c.width, c.height, pixels) ||
        pixels > quint64(kMaxPicturePixels) || c.width > quint64(kMaxPictureSide) ||
        c.height > quint64(kMaxPictureSide))
        return c;
    if (compression != 0 && compression != 3) {
        c.usable = true; // run-length coded: the decoder stops where the data does
        return c;
    }
    quint64 rowBits = 0, rowBytes = 0, pixelBytes = 0, need = 0;
    if (!times(c.width, bits, rowBits) || !plus(rowBits, 31, rowBits))
        return c;
    rowBytes = rowBits / 32 * 4;
    if (!times(rowBytes, c.height, pixelBytes) || !plus(get32(bmp, 10), pixelBytes, need))
        return c;
    c.usable = need <= quint64(bmp.size());
    return c;
}

// The bitmap of a field value, with or without the prefix.
QByteArray bitmapOf(const QByteArray& bytes) {
    QByteArray bitmap = bytes;
    if (bytes.size() >= kGraphicPrefixSize + 2 &&
        bytes.startsWith(QByteArray("\x01\x00\x00\x01", 4))) {
        const quint32 length = get32(bytes, 4);
        bitmap = bytes.mid(kGraphicPrefixSize);
        // Some tools round the blob up; the prefix knows the bitmap's own length.
        if (length > 0 && length < quint32(bitmap.size()))
            bitmap.truncate(qsizetype(length));
    }
    // A tool that stored the bitmap without the prefix has had its first 8
    // bytes taken for one on reading: "BM", the file size and a reserved word,
    // all of which follow from the rest. What is left starts with the second
    // reserved word (0) and then the pixel offset and the header's size.
    if (!bitmap.startsWith("BM") && bitmap.size() >= 12 && bitmap[0] == 0 && bitmap[1] == 0) {
        const quint32 header = get32(bitmap, 6);
        if (header == 12 || header == 40 || header == 52 || header == 56 || header == 108 ||
            header == 124) {
            QByteArray whole("BM");
            whole.append(QByteArray(6, '\0'));
            put32(whole, 2, quint32(bitmap.size() + 8));
            bitmap = whole + bitmap;
        }
    }
    return bitmap;
}

} // namespace

QByteArray graphicFieldFromPhoto(const QByteArray& encoded, int longSide, QString* error) {
    if (error)
        error->clear();
    applyDecoderLimit();
    const QImage image = QImage::fromData(encoded);
    return image.isNull() ? QByteArray()
                          : graphicFieldFromImage(scaledForStorage(image, longSide), error);
}

QByteArray graphicFieldFromImage(const QImage& image, QString* error) {
    if (error)
        error->clear();
    if (image.isNull())
        return {};

    // What is stored must show again: no picture beyond what the decoders read.
    if (qint64(image.width()) * image.height() > kMaxPicturePixels ||
        image.width() > kMaxPictureSide || image.height() > kMaxPictureSide) {
        if (error)
            *error = QStringLiteral("Das Bild ist zu groß für die Tabelle: es hat %1 Megapixel, "
                                    "gespeichert werden höchstens %2.")
                         .arg((qint64(image.width()) * image.height() + 999'999) / 1'000'000)
                         .arg(kMaxPicturePixels / 1'000'000);
        return {};
    }
    const bool indexed = keepsPalette(image);
    const qint64 width = image.width();
    const qint64 height = image.height();
    const qint64 rowBytes = indexed ? (width + 3) / 4 * 4 : (width * 3 + 3) / 4 * 4;
    const int paletteBytes = indexed ? 256 * 4 : 0;
    const qint64 total = kFileHeader + kInfoHeader + paletteBytes + rowBytes * height;
    // Checked before anything is allocated: a huge picture must not cost its bitmap first.
    if (total + kGraphicPrefixSize > kLargestGraphicBlob) {
        if (error)
            *error = QStringLiteral("Das Bild ist zu groß für die Tabelle: als Bitmap bräuchte es "
                                    "%1 MB, ein Grafikfeld fasst höchstens %2 MB.")
                         .arg((total + (1 << 20) - 1) >> 20)
                         .arg(kLargestGraphicBlob >> 20);
        return {};
    }

    QImage flat;
    if (indexed) {
        flat = image.convertToFormat(QImage::Format_Indexed8);
    } else if (image.hasAlphaChannel()) {
        flat = QImage(image.size(), QImage::Format_RGB32);
        if (!flat.isNull()) {
            flat.fill(Qt::white);
            QPainter painter(&flat);
            painter.drawImage(0, 0, image);
        }
    } else if (image.format() == QImage::Format_RGB32) {
        flat = image;
    } else {
        flat = image.convertToFormat(QImage::Format_RGB32);
    }
    if (flat.isNull()) {
        if (error)
            *error = QStringLiteral("Für das Bild ist nicht genug Speicher frei.");
        return {};
    }

    QByteArray out(static_cast<qsizetype>(total), Qt::Uninitialized);
    char* data = out.data();
    std::memset(data, 0, static_cast<std::size_t>(kFileHeader + kInfoHeader + paletteBytes));
    out[0] = 'B';
    out[1] = 'M';
    put32(out, 2, quint32(total));
    put32(out, 10, quint32(kFileHeader + kInfoHeader + paletteBytes));
    put32(out, 14, kInfoHeader);
    put32(out, 18, quint32(width));
    put32(out, 22, quint32(height)); // positive: rows bottom-up, as every reader expects
    put16(out, 26, 1);
    put16(out, 28, indexed ? 8 : 24);
    put32(out, 30, 0); // uncompressed
    put32(out, 34, quint32(rowBytes * height));
    const int dpmX = image.dotsPerMeterX() > 0 ? image.dotsPerMeterX() : 3780;
    const int dpmY = image.dotsPerMeterY() > 0 ? image.dotsPerMeterY() : 3780;
    put32(out, 38, quint32(dpmX));
    put32(out, 42, quint32(dpmY));
    put32(out, 46, indexed ? 256 : 0);
    put32(out, 50, 0);

    int at = kFileHeader + kInfoHeader;
    if (indexed) {
        const QList<QRgb> colours = flat.colorTable();
        for (int i = 0; i < 256; ++i, at += 4) {
            const QRgb c = i < colours.size() ? colours[i] : qRgb(0, 0, 0);
            data[at] = char(qBlue(c));
            data[at + 1] = char(qGreen(c));
            data[at + 2] = char(qRed(c));
        }
    }
    const qint64 used = indexed ? width : width * 3;
    for (qint64 y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uchar*>(data + at + (height - 1 - y) * rowBytes);
        const uchar* line = flat.constScanLine(int(y));
        if (indexed) {
            std::memcpy(row, line, size_t(width));
        } else {
            // One pass straight into the bitmap: no picture-sized buffer in between.
            const auto* px = reinterpret_cast<const QRgb*>(line);
            for (qint64 x = 0; x < width; ++x) {
                const QRgb p = px[x];
                row[3 * x] = uchar(p);
                row[3 * x + 1] = uchar(p >> 8);
                row[3 * x + 2] = uchar(p >> 16);
            }
        }
        std::memset(row + used, 0, size_t(rowBytes - used));
    }
    return out;
}

QImage imageFromGraphicField(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return {};
    const QByteArray bitmap = bitmapOf(bytes);
    if (!claimOf(bitmap).usable)
        return {};
    applyDecoderLimit();
    // Only the Windows bitmap reader: other Paradox tools store nothing else in
    // a graphic field, and no other image plugin gets to see a field's bytes.
    QBuffer buffer;
    buffer.setData(bitmap);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "bmp");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

QByteArray withGraphicPrefix(const QByteArray& bitmap) {
    QByteArray out(kGraphicPrefixSize, '\0');
    out[0] = '\x01';
    out[3] = '\x01';
    put32(out, 4, quint32(bitmap.size()));
    return out + bitmap;
}

} // namespace vellumo::pictures
