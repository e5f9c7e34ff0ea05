// Labels measured where a printer would put them: the PDF read back with an
// independent reader (pdftotext -bbox), every word checked against its cell
// of the sheet.
#include "address/postaladdress.h"
#include "pdfwords.h"
#include "print/labelstyle.h"

#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace vellumo;
using vellumo::address::PostalAddress;

namespace {

class AddressRows : public report::RowSource {
public:
    explicit AddressRows(QList<PostalAddress> rows) : rows_(std::move(rows)) {}
    int Count() override { return static_cast<int>(rows_.size()); }
    void Seek(int row) override { row_ = row; }
    QString FieldText(const QString& field) const override {
        const PostalAddress& a = rows_[row_];
        const QHash<QString, QString> fields{{"Vorname", a.vorname}, {"Name", a.name},
                                             {"Strasse", a.strasse}, {"PLZ", a.plz},
                                             {"Ort", a.ort},         {"Land", a.land}};
        return fields.value(field);
    }
    void RunEnded(int lastRow) override { ended = lastRow; }
    int ended = -1;

private:
    QList<PostalAddress> rows_;
    int row_ = 0;
};

using Word = testsupport::PdfWord;

// 23 people in Berlin, one in Vienna, one with only postcode and town.
QList<PostalAddress> people() {
    QList<PostalAddress> rows;
    for (int i = 0; i < 23; ++i)
        rows.append({"Max", QStringLiteral("Muster%1").arg(i, 2, 10, QLatin1Char('0')),
                     QStringLiteral("Hauptstraße %1").arg(i + 1), QString::number(10115 + i),
                     "Berlin", ""});
    rows.append({"Franz", "Huber", "Ringstraße 5", "1010", "Wien", "Österreich"});
    rows.append({"", "Zett", "", "80331", "München", ""});
    return rows;
}

QList<Word> printed(print::LabelStyle& style, const QString& pdf) {
    report::writePdf(style.report(), style.geometry(), pdf);
    return testsupport::pdfWords(pdf);
}

int cellOf(const labels::LabelFormat& format, const QRectF& box) {
    for (int i = 0; i < format.labelsPerSheet(); ++i)
        if (format.cell(i).contains(box.center()))
            return i;
    return -1;
}

} // namespace

class TestLabels : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void addressesFillTheSheetsInReadingOrder();
    void startPositionAndPrinterCorrection();
    void oneLabelPerHousehold();

private:
    QTemporaryDir dir_;
};

void TestLabels::initTestCase() {
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        QSKIP("pdftotext (Debian-Paket poppler-utils) fehlt.");
}

void TestLabels::addressesFillTheSheetsInReadingOrder() {
    AddressRows rows(people());
    print::LabelStyle style(&rows);
    style.setOption(QStringLiteral("Format"), QStringLiteral("3474"));
    QCOMPARE(style.format().name(), QStringLiteral("Zweckform 3474"));
    const QList<Word> words = printed(style, dir_.filePath("etiketten.pdf"));
    QCOMPARE(words.last().page, 1); // two sheets
    QCOMPARE(rows.ended, 24);       // the run ends on the last record

    QMap<std::pair<int, int>, QList<Word>> byLabel;
    for (const Word& w : words) {
        const int cell = cellOf(style.format(), w.box);
        QVERIFY2(cell >= 0, qPrintable(w.text));
        // At least 3 mm of the label free around every word.
        const QRectF inner = style.format().cell(cell).adjusted(3, 3, -3, -3);
        QVERIFY2(inner.contains(w.box), qPrintable(w.text));
        byLabel[{w.page, cell}].append(w);
    }
    // Labels 1 to 24 on the first sheet, in the table's order.
    for (int i = 0; i < 23; ++i)
        QVERIFY(std::any_of(byLabel[{0, i}].begin(), byLabel[{0, i}].end(), [&](const Word& w) {
            return w.text == QStringLiteral("Muster%1").arg(i, 2, 10, QLatin1Char('0'));
        }));
    const QList<Word>& vienna = byLabel[{0, 23}];
    QCOMPARE(vienna.first().text, QStringLiteral("Franz"));
    QCOMPARE(vienna.last().text, QStringLiteral("ÖSTERREICH"));
    // No blank line anywhere: lines follow one another at one pitch.
    for (const QList<Word>& label : byLabel) {
        QList<double> tops;
        for (const Word& w : label)
            if (tops.isEmpty() || std::abs(w.box.top() - tops.last()) > 0.5)
                tops.append(w.box.top());
        for (qsizetype i = 1; i + 1 < tops.size(); ++i)
            QVERIFY(std::abs((tops[i + 1] - tops[i]) - (tops[1] - tops[0])) < 0.3);
    }
    const QList<Word>& zett = byLabel[{1, 0}];
    QCOMPARE(zett.size(), 3); // "Zett", "80331", "München": two lines
}

void TestLabels::startPositionAndPrinterCorrection() {
    AddressRows rows(people());
    print::LabelStyle style(&rows);
    style.setOption(QStringLiteral("Format"), QStringLiteral("Zweckform 3474"));
    style.setOption(QStringLiteral("Start"), 5);
    const QList<Word> plain = printed(style, dir_.filePath("start.pdf"));
    // A partly used sheet: the first address goes to row 2, column 2.
    QCOMPARE(plain.first().text, QStringLiteral("Max"));
    QCOMPARE(cellOf(style.format(), plain.first().box), 4);

    // The sheet is the paper: the preview and the printer take US Letter for
    // a US sheet, not the A4 a list would get.
    QCOMPARE(style.report().Paper.id(), QPageSize::A4);
    if (print::LabelStyle::catalogue().find(QStringLiteral("Avery 5160"))) {
        style.setOption(QStringLiteral("Format"), QStringLiteral("Avery 5160"));
        QCOMPARE(style.report().Paper.id(), QPageSize::Letter);
        style.setOption(QStringLiteral("Format"), QStringLiteral("Zweckform 3474"));
    }

    style.setOption(QStringLiteral("KorrekturX"), 1.5);
    style.setOption(QStringLiteral("KorrekturY"), -0.8);
    const QList<Word> moved = printed(style, dir_.filePath("korrektur.pdf"));
    QCOMPARE(moved.size(), plain.size());
    for (qsizetype i = 0; i < plain.size(); ++i) {
        QVERIFY(std::abs(moved[i].box.left() - plain[i].box.left() - 1.5) <= 0.1);
        QVERIFY(std::abs(moved[i].box.top() - plain[i].box.top() + 0.8) <= 0.1);
    }
}

void TestLabels::oneLabelPerHousehold() {
    AddressRows rows({{"Anna", "Schmidt", "Weg 1", "12345", "Dorf", ""},
                      {"Otto", "Meier", "Platz 2", "12345", "Dorf", ""},
                      {"Bernd", "Schmidt", "Weg 1", "12345", "Dorf", ""}});
    print::LabelStyle style(&rows);
    style.setOption(QStringLiteral("Haushalt"), true);
    const QList<Word> words = printed(style, dir_.filePath("haushalt.pdf"));
    QStringList texts;
    for (const Word& w : words)
        texts << w.text;
    QCOMPARE(texts.join(' '), QStringLiteral("Familie Schmidt Weg 1 12345 Dorf Otto Meier Platz 2 "
                                             "12345 Dorf"));
    QCOMPARE(rows.ended, 2);
}

QTEST_MAIN(TestLabels)
#include "tst_labels.moc"
