// The graphic field's bytes: what other Paradox tools stored reads, and what
// we store is the bitmap they read.
#include "fixtures.h"
#include "platform/pictures/graphicfield.h"

#include "platform/paradox/table.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QtTest>

using namespace vellumo::pictures;

class TestGraphicField : public QObject {
    Q_OBJECT

private slots:
    void bitmapsRoundTripWithAndWithoutPrefix() {
        QString error = "alt";
        const QByteArray rgb = graphicFieldFromImage(fixtures::pattern(), &error);
        QVERIFY(error.isEmpty());
        QVERIFY(rgb.startsWith("BM"));
        // 24 bit, rows padded to four bytes: 54 + 48 * 192.
        QCOMPARE(rgb.size(), 54 + fixtures::kHeight * fixtures::kWidth * 3);
        // The field value, with the prefix, and a bitmap stored without one
        // whose first 8 bytes were taken for a prefix.
        for (const QByteArray& field : {rgb, withGraphicPrefix(rgb), rgb.mid(8)}) {
            const QImage back = imageFromGraphicField(field);
            QCOMPARE(back.size(), QSize(fixtures::kWidth, fixtures::kHeight));
            QCOMPARE(back.pixel(2, 2), fixtures::kRed);
            QCOMPARE(back.pixel(fixtures::kWidth - 1, fixtures::kHeight - 1), fixtures::kBlue);
        }
        QCOMPARE(withGraphicPrefix(rgb).left(8),
                 QByteArray("\x01\x00\x00\x01", 4) + QByteArray::fromHex("36240000"));

        // An odd width pads its rows; a palette picture stays 8 bit.
        QImage odd(3, 2, QImage::Format_Indexed8);
        odd.setColorTable({qRgb(255, 0, 0), qRgb(0, 255, 0)});
        odd.fill(0);
        odd.setPixel(2, 1, 1);
        const QByteArray indexed = graphicFieldFromImage(odd, nullptr);
        QCOMPARE(quint8(indexed[28]), quint8(8));
        QCOMPARE(indexed.size(), 14 + 40 + 1024 + 2 * 4);
        const QImage oddBack = imageFromGraphicField(indexed);
        QCOMPARE(oddBack.pixel(2, 1), qRgb(0, 255, 0));
        QCOMPARE(oddBack.pixel(0, 0), qRgb(255, 0, 0));

        // Transparency is laid over white.
        QImage clear(4, 4, QImage::Format_ARGB32);
        clear.fill(Qt::transparent);
        QCOMPARE(imageFromGraphicField(graphicFieldFromImage(clear, nullptr)).pixel(1, 1),
                 qRgb(255, 255, 255));

        QVERIFY(graphicFieldFromImage(QImage(), &error).isEmpty());
        QVERIFY(error.isEmpty());
        QVERIFY(imageFromGraphicField({}).isNull());
        QVERIFY(imageFromGraphicField(rgb.left(100)).isNull());
        QVERIFY(imageFromGraphicField("kein Bild").isNull());
    }

    void aBitmapTooLargeForTheTableIsRefused() {
        QImage huge(17000, 17000, QImage::Format_Mono); // 289 MB as an 8-bit bitmap
        huge.fill(0);
        QString error;
        QVERIFY(graphicFieldFromImage(huge, &error).isEmpty());
        QVERIFY2(error.startsWith(QStringLiteral("Das Bild ist zu groß für die Tabelle")),
                 qPrintable(error));
    }

    // Damaged fields from other tools: headers whose sizes overflow any
    // arithmetic, claims far beyond the data and kinds no Paradox tool stores.
    // Run under the sanitizers, this is where signed overflow used to be.
    void damagedFieldsGiveNoPicture() {
        auto header = [](quint32 offset, quint32 width, quint32 height, quint16 bits,
                         quint32 compression) {
            QByteArray b(14 + 40, '\0');
            b[0] = 'B';
            b[1] = 'M';
            auto put = [&](int at, quint32 v, int n) {
                for (int i = 0; i < n; ++i)
                    b[at + i] = char((v >> (8 * i)) & 0xFF);
            };
            put(2, quint32(b.size()), 4);
            put(10, offset, 4);
            put(14, 40, 4);
            put(18, width, 4);
            put(22, height, 4);
            put(26, 1, 2);
            put(28, bits, 2);
            put(30, compression, 4);
            return b + QByteArray(64, '\x55');
        };
        const QList<QByteArray> damaged = {
            header(0xFFFFFFFFu, 0x80000000u, 0x80000000u, 32, 0), // INT_MIN each way
            header(54, 0x7FFFFFFFu, 0x7FFFFFFFu, 0xFFFF, 0),      // products beyond 64 bits
            header(54, 0x80000001u, 3, 24, 0),                    // negative width
            header(54, 60000, 60000, 8, 1),                       // RLE claiming 3.6 gigapixels
            header(54, 11000, 10000, 1, 0),                       // 110 megapixels, no data
            header(54, 4, 4, 24, 0).left(14 + 40 + 8),            // cut short
        };
        QElapsedTimer timer;
        timer.start();
        for (const QByteArray& field : damaged) {
            QVERIFY(imageFromGraphicField(field).isNull());
            QVERIFY(imageFromGraphicField(withGraphicPrefix(field)).isNull());
            QVERIFY(imageFromGraphicField(field.mid(8)).isNull());
        }
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));

        // Only bitmaps are decoded from a field, whatever Qt could read.
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(fixtures::pattern().save(&buffer, "PNG"));
        QVERIFY(imageFromGraphicField(png).isNull());
        QVERIFY(imageFromGraphicField(withGraphicPrefix(png)).isNull());
    }

    // What can be stored shows again: a 36-megapixel photograph is 144 MB as
    // 32-bit pixels, beyond Qt's own limit for decoding; beyond the one limit
    // nothing is stored at all.
    void whatIsStoredShowsAgain() {
        QImage photo(6000, 6000, QImage::Format_RGB32);
        photo.fill(qRgb(10, 120, 30));
        photo.setPixel(5999, 0, qRgb(250, 0, 0));
        QString error;
        const QByteArray field = graphicFieldFromImage(photo, &error);
        QVERIFY2(!field.isEmpty(), qPrintable(error));
        photo = QImage();
        const QImage back = imageFromGraphicField(field);
        QCOMPARE(back.size(), QSize(6000, 6000));
        QCOMPARE(back.pixel(5999, 0), qRgb(250, 0, 0));
        QCOMPARE(back.pixel(0, 5999), qRgb(10, 120, 30));

        QImage beyond(12000, 9000, QImage::Format_Mono); // 108 megapixels in 13 MB
        beyond.fill(0);
        QVERIFY(graphicFieldFromImage(beyond, &error).isEmpty());
        QVERIFY2(error.startsWith(QStringLiteral("Das Bild ist zu groß für die Tabelle")),
                 qPrintable(error));
    }

    void aPictureStoredByAnotherToolShows() {
        const QString dir = qEnvironmentVariable("VELLUMO_SHARED_DIR");
        const QString db = dir + "/paradox-samples/leonhad-paradoxdriver/fields/graphic240.db";
        if (dir.isEmpty() || !QFile::exists(db))
            QSKIP("sample tables not present");
        auto table = px::Table::open(db.toStdString(), px::Access::Read);
        const int field = table->fieldIndex("Graph");
        QVERIFY(field >= 0);
        const auto value = table->readField(0, field);
        const auto* bytes = std::get_if<px::Bytes>(&value);
        QVERIFY(bytes);
        const QByteArray raw(reinterpret_cast<const char*>(bytes->data()),
                             qsizetype(bytes->size()));
        const QImage image = imageFromGraphicField(raw);
        QCOMPARE(image.size(), QSize(149, 125));
        // The same bitmap with the prefix the .mb holds reads the same.
        QCOMPARE(imageFromGraphicField(withGraphicPrefix(raw)), image);
    }
};

QTEST_GUILESS_MAIN(TestGraphicField)
#include "tst_graphicfield.moc"
