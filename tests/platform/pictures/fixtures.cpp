#include "fixtures.h"

#include <Magick++.h>

#include <QBuffer>
#include <QPainter>
#include <QRandomGenerator>

namespace fixtures {

namespace {

void add16(QByteArray& b, int v) {
    b.append(char(v & 0xFF));
    b.append(char((v >> 8) & 0xFF));
}

void add32(QByteArray& b, quint32 v) {
    add16(b, int(v & 0xFFFF));
    add16(b, int(v >> 16));
}

QByteArray qtWrite(const QImage& image, const char* format, int quality = -1) {
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return out;
}

QByteArray magickWrite(const QImage& image, const char* format) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    QByteArray packed;
    for (int y = 0; y < rgb.height(); ++y)
        packed.append(reinterpret_cast<const char*>(rgb.constScanLine(y)), rgb.width() * 3);
    Magick::InitializeMagick(nullptr);
    Magick::Image img(unsigned(rgb.width()), unsigned(rgb.height()), "RGB", Magick::CharPixel,
                      packed.constData());
    img.magick(format);
    Magick::Blob blob;
    img.write(&blob);
    return QByteArray(static_cast<const char*>(blob.data()), qsizetype(blob.length()));
}

} // namespace

QImage pattern() {
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    image.fill(kBlue);
    QPainter(&image).fillRect(0, 0, kWidth / 2, kHeight / 2, QColor(kRed));
    return image;
}

QByteArray bmp() {
    return qtWrite(pattern(), "BMP");
}
QByteArray jpeg() {
    return qtWrite(pattern(), "JPEG", 95);
}
QByteArray gif() {
    return magickWrite(pattern(), "GIF");
}
QByteArray pcx() {
    return magickWrite(pattern(), "PCX");
}

QByteArray tga(bool bottomUp, bool rle, bool footer) {
    QByteArray b;
    b.append(char(0));             // no id
    b.append(char(0));             // no colour map
    b.append(char(rle ? 10 : 2));  // true colour
    b.append(QByteArray(5, '\0')); // colour map: first entry, length, entry size
    add16(b, 0);                   // x origin
    add16(b, 0);                   // y origin
    add16(b, kWidth);
    add16(b, kHeight);
    b.append(char(24));
    b.append(char(bottomUp ? 0x00 : 0x20));
    const QImage img = pattern();
    for (int i = 0; i < kHeight; ++i) {
        const int y = bottomUp ? kHeight - 1 - i : i;
        QByteArray row;
        for (int x = 0; x < kWidth; ++x) {
            const QRgb c = img.pixel(x, y);
            row.append(char(qBlue(c)));
            row.append(char(qGreen(c)));
            row.append(char(qRed(c)));
        }
        if (!rle) {
            b.append(row);
            continue;
        }
        // Runs of equal pixels as run packets, at most 128 each.
        for (int x = 0; x < kWidth;) {
            int n = 1;
            while (x + n < kWidth && n < 128 && row.mid(3 * (x + n), 3) == row.mid(3 * x, 3))
                ++n;
            b.append(char(0x80 | (n - 1)));
            b.append(row.mid(3 * x, 3));
            x += n;
        }
    }
    if (footer) {
        add32(b, 0); // no extension area
        add32(b, 0); // no developer area
        b.append("TRUEVISION-XFILE.");
        b.append(char(0));
    }
    return b;
}

QByteArray wmf() {
    QByteArray rec;
    int records = 0, maxRecord = 0;
    auto record = [&](int function, std::initializer_list<int> params) {
        const int words = 3 + int(params.size());
        add32(rec, quint32(words));
        add16(rec, function);
        for (int p : params)
            add16(rec, p);
        ++records;
        maxRecord = std::max(maxRecord, words);
    };
    auto colour = [](QRgb c) { return std::pair<int, int>(qRed(c) | (qGreen(c) << 8), qBlue(c)); };
    record(0x020B, {0, 0});            // SetWindowOrg
    record(0x020C, {kHeight, kWidth}); // SetWindowExt
    record(0x02FA, {5, 0, 0, 0, 0});   // CreatePenIndirect: PS_NULL
    const auto blue = colour(kBlue), red = colour(kRed);
    record(0x02FC, {0, blue.first, blue.second, 0}); // CreateBrushIndirect, solid
    record(0x02FC, {0, red.first, red.second, 0});
    record(0x012D, {0});                             // SelectObject pen
    record(0x012D, {1});                             // blue brush
    record(0x041B, {kHeight + 1, kWidth + 1, 0, 0}); // Rectangle b, r, t, l
    record(0x012D, {2});                             // red brush
    record(0x041B, {kHeight / 2, kWidth / 2, 0, 0});
    record(0x0000, {}); // end of file

    QByteArray header;
    add16(header, 1);      // in memory
    add16(header, 9);      // header words
    add16(header, 0x0300); // version
    add32(header, quint32((18 + rec.size()) / 2));
    add16(header, 3); // objects
    add32(header, quint32(maxRecord));
    add16(header, 0);

    QByteArray placeable;
    add32(placeable, 0x9AC6CDD7);
    add16(placeable, 0);
    add16(placeable, 0);
    add16(placeable, 0);
    add16(placeable, kWidth);
    add16(placeable, kHeight);
    add16(placeable, 72); // units per inch: one unit is one point
    add32(placeable, 0);
    quint16 sum = 0;
    for (int i = 0; i < 10; ++i)
        sum ^= quint16(quint8(placeable[2 * i]) | (quint8(placeable[2 * i + 1]) << 8));
    add16(placeable, sum);
    return placeable + header + rec;
}

QByteArray bigJpeg(int width, int height) {
    // Gradients with grain, so the file is as large and as slow to decode as a photograph's.
    QImage image(width, height, QImage::Format_RGB32);
    quint32 seed = 12345;
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int(seed >> 27) - 16;
            line[x] =
                qRgb(qBound(0, (x * 255) / width + grain, 255),
                     qBound(0, (y * 255) / height - grain, 255), ((x + y) / 7 + grain) & 0xFF);
        }
    }
    return qtWrite(image, "JPEG", 90);
}

QByteArray noisePng(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(26);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = random.generate() | 0xFF000000u;
    }
    return qtWrite(image, "PNG");
}

} // namespace fixtures
