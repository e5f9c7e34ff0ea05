// The picture conversion: every kind at the right size, right way up and in
// the right colours; broken and hostile files give nothing, and quickly.
#include "fixtures.h"
#include "platform/pictures/conversion.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace vellumo::pictures;

namespace {

bool near(QRgb a, QRgb b, int tolerance) {
    return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance &&
           qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}

QString colourText(QRgb c) {
    return QColor(c).name();
}

// A BMP header that claims width x height, 8 bit RLE, with next to no data.
QByteArray bmpBomb(int width, int height) {
    QByteArray b("BM");
    auto add32 = [&](quint32 v) {
        for (int i = 0; i < 4; ++i)
            b.append(char((v >> (8 * i)) & 0xFF));
    };
    auto add16 = [&](int v) {
        b.append(char(v & 0xFF));
        b.append(char((v >> 8) & 0xFF));
    };
    add32(14 + 40 + 1024 + 4);
    add32(0);
    add32(14 + 40 + 1024);
    add32(40);
    add32(quint32(width));
    add32(quint32(height));
    add16(1);
    add16(8);
    add32(1); // RLE8
    add32(4);
    add32(2835);
    add32(2835);
    add32(256);
    add32(0);
    b.append(QByteArray(1024, '\x40'));
    b.append(QByteArray("\x00\x00\x00\x01", 4)); // end of line, end of bitmap
    return b;
}

// A GIF whose screen and image claim 65535 x 65535 pixels, with one LZW clear code.
QByteArray gifBomb() {
    QByteArray b("GIF89a");
    b.append(QByteArray("\xFF\xFF\xFF\xFF\x80\x00\x00", 7));
    b.append(QByteArray("\x00\x00\x00\xFF\xFF\xFF", 6));
    b.append(QByteArray("\x2C\x00\x00\x00\x00\xFF\xFF\xFF\xFF\x00", 10));
    b.append(QByteArray("\x02\x02\x44\x01\x00\x3B", 6));
    return b;
}

// A PNG whose header claims 40000 x 40000 pixels, ending after one empty data chunk.
QByteArray pngBomb() {
    auto chunk = [](const QByteArray& type, const QByteArray& data) {
        QByteArray c;
        for (int i = 3; i >= 0; --i)
            c.append(char((quint32(data.size()) >> (8 * i)) & 0xFF));
        c.append(type + data);
        quint32 crc = 0xFFFFFFFFu;
        for (qsizetype i = 4; i < c.size(); ++i) {
            crc ^= quint8(c[i]);
            for (int k = 0; k < 8; ++k)
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
        crc = ~crc;
        for (int i = 3; i >= 0; --i)
            c.append(char((crc >> (8 * i)) & 0xFF));
        return c;
    };
    const QByteArray ihdr = QByteArray::fromHex("00009C4000009C400802000000");
    return QByteArray("\x89PNG\r\n\x1A\n", 8) + chunk("IHDR", ihdr) +
           chunk("IDAT", QByteArray::fromHex("789c030000000001")) + chunk("IEND", {});
}

} // namespace

class TestConversion : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void everyKind_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("tolerance");
        QTest::newRow("bmp") << fixtures::bmp() << "bild.bmp" << 0;
        QTest::newRow("gif") << fixtures::gif() << "bild.gif" << 8;
        QTest::newRow("pcx") << fixtures::pcx() << "BILD.PCX" << 0;
        QTest::newRow("jpeg") << fixtures::jpeg() << "bild.jpeg" << 40;
        QTest::newRow("wmf") << fixtures::wmf() << "bild.wmf" << 0;
        QTest::newRow("tga bottom-up") << fixtures::tga(true, false, false) << "a.tga" << 0;
        QTest::newRow("tga top-down") << fixtures::tga(false, false, false) << "b.TGA" << 0;
        QTest::newRow("tga rle") << fixtures::tga(true, true, false) << "c.tga" << 0;
        QTest::newRow("tga rle top-down footer")
            << fixtures::tga(false, true, true) << "d.tga" << 0;
        QTest::newRow("tga footer, other name") << fixtures::tga(true, false, true) << "e.bin" << 0;
    }

    void everyKind() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, name);
        QFETCH(int, tolerance);
        const QString path = write(name, bytes);
        const QImage image = convertPictureFile(path);
        QVERIFY(!image.isNull());
        QCOMPARE(image.format(), QImage::Format_RGB32);
        // A metafile's size follows its drawing, give or take a pixel of rounding.
        QVERIFY2(qAbs(image.width() - fixtures::kWidth) <= 1 &&
                     qAbs(image.height() - fixtures::kHeight) <= 1,
                 qPrintable(QStringLiteral("%1 x %2").arg(image.width()).arg(image.height())));
        const int w = image.width(), h = image.height();
        const struct {
            int x, y;
            QRgb colour;
        } spots[] = {{4, 4, fixtures::kRed},
                     {w - 5, 4, fixtures::kBlue},
                     {4, h - 5, fixtures::kBlue},
                     {w - 5, h - 5, fixtures::kBlue}};
        for (const auto& s : spots)
            QVERIFY2(near(image.pixel(s.x, s.y), s.colour, tolerance),
                     qPrintable(QStringLiteral("(%1, %2) is %3, not %4")
                                    .arg(s.x)
                                    .arg(s.y)
                                    .arg(colourText(image.pixel(s.x, s.y)), colourText(s.colour))));

        // Cut short, the same file gives nothing at all.
        for (qsizetype keep : {bytes.size() * 2 / 3, bytes.size() / 3, qsizetype(10)}) {
            const QString cut = write(QStringLiteral("kurz-") + name, bytes.left(keep));
            QVERIFY2(convertPictureFile(cut).isNull(), qPrintable(QString::number(keep)));
        }
    }

    // Each file that gives no picture says why, in the words the chooser shows.
    void nothingToConvertSaysWhy() {
        auto why = [](const QString& path) {
            const PictureFile file = readPictureFile(path);
            return file.image.isNull() ? problemText(file) : QStringLiteral("(ein Bild)");
        };
        QCOMPARE(readPictureFile(QString()).problem, PictureProblem::NoFile);
        QCOMPARE(why(QString()), QString());
        const QString unreadable = QStringLiteral("Die Datei kann nicht gelesen werden.");
        QCOMPARE(why(dir_.filePath("fehlt.bmp")), unreadable);
        QCOMPARE(why(dir_.path()), unreadable);
        QCOMPARE(why(write("leer.bmp", {})), QStringLiteral("Die Datei ist leer."));
        // The kind comes from the contents: a text under a picture's name is no
        // picture, a PNG under the name of a bitmap is one.
        const QString unknown = QStringLiteral("Das Format wird nicht erkannt.");
        QCOMPARE(why(write("text.bmp", "Dies ist kein Bild.\n")), unknown);
        QCOMPARE(why(write("text.tga", "Dies ist kein Bild.\n")), unknown);
        QByteArray ppm;
        QBuffer buffer(&ppm);
        buffer.open(QIODevice::WriteOnly);
        fixtures::pattern().save(&buffer, "PPM");
        QCOMPARE(why(write("ppm.jpg", ppm)), unknown);
        QByteArray png;
        QBuffer pngBuffer(&png);
        pngBuffer.open(QIODevice::WriteOnly);
        fixtures::pattern().save(&pngBuffer, "PNG");
        const QImage fromPng = convertPictureFile(write("png.bmp", png));
        QCOMPARE(fromPng.size(), QSize(fixtures::kWidth, fixtures::kHeight));
        QCOMPARE(fromPng.pixel(2, 2), fixtures::kRed);

        const QString damaged = QStringLiteral("Die Datei ist beschädigt.");
        const QByteArray jpeg = fixtures::jpeg();
        QCOMPARE(why(write("kurz.jpg", jpeg.left(jpeg.size() / 2))), damaged);
        QCOMPARE(why(write("kurz.png", png.left(png.size() - 20))), damaged);
        QCOMPARE(why(write("kurz.pcx", fixtures::pcx().left(200))), damaged);
    }

    void bombsAreRefusedQuickly_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("bmp 60000 x 60000") << bmpBomb(60000, 60000);
        QTest::newRow("bmp 19000 x 19000") << bmpBomb(19000, 19000);
        QTest::newRow("bmp 100000 x 1") << bmpBomb(100000, 1);
        QTest::newRow("gif 65535 x 65535") << gifBomb();
        QTest::newRow("png 40000 x 40000") << pngBomb();
    }

    void bombsAreRefusedQuickly() {
        QFETCH(QByteArray, bytes);
        const QString path = write("bombe.bmp", bytes);
        QElapsedTimer timer;
        timer.start();
        const PictureFile file = readPictureFile(path);
        QVERIFY(file.image.isNull());
        QCOMPARE(file.problem, PictureProblem::TooLarge);
        QVERIFY2(problemText(file).startsWith(QStringLiteral("Das Bild ist zu groß")),
                 qPrintable(problemText(file)));
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    }

private:
    QString write(const QString& name, const QByteArray& bytes) {
        const QString path = dir_.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(path));
        f.write(bytes);
        return path;
    }

    QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(TestConversion)
#include "tst_conversion.moc"
