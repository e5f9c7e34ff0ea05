// The graphic field's bytes: what other Paradox tools stored reads, and what
// we store is the bitmap they read.
#include "fixtures.h"
#include "platform/pictures/graphicfield.h"

#include "platform/paradox/table.h"

#include <QDir>
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
