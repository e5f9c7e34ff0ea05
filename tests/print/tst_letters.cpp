// Serial letters measured where a printer puts them: the PDF read back by an
// independent reader (pdftotext -bbox) against the window of a DIN 5008
// envelope, and the folding marks looked for as ink on the page as a picture.
#include "pdfwords.h"
#include "print/letterstyle.h"
#include "print/lettertemplate.h"

#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace vellumo;
using testsupport::PdfWord;

namespace {

class Rows : public report::RowSource {
public:
    explicit Rows(QList<QHash<QString, QString>> rows) : rows_(std::move(rows)) {}
    int Count() override { return static_cast<int>(rows_.size()); }
    void Seek(int row) override { row_ = row; }
    QString FieldText(const QString& field) const override { return rows_[row_].value(field); }

private:
    QList<QHash<QString, QString>> rows_;
    int row_ = 0;
};

// One in Cologne, one in Vienna, one with only postcode and town.
QList<QHash<QString, QString>> three() {
    return {{{"Vorname", "Anna"},
             {"Name", "Schmidt"},
             {"Strasse", "Hauptstr. 1"},
             {"PLZ", "D-50667"},
             {"Ort", "Köln"},
             {"Rubrik", "Verein"}},
            {{"Vorname", "Franz"},
             {"Name", "Huber"},
             {"Strasse", "Ringstraße 5"},
             {"PLZ", "1010"},
             {"Ort", "Wien"},
             {"Land", "Österreich"}},
            {{"Name", "Zett"}, {"PLZ", "80331"}, {"Ort", "München"}}};
}

const QString kTemplate = QStringLiteral("Betreff: Einladung für «Vorname» «Name»\n"
                                         "\n"
                                         "«Anrede»\n"
                                         "\n"
                                         "wir laden Sie in «Ort» ein.\n"
                                         "Rubrik: «Rubrik»\n"
                                         "«Telefon1»\n"
                                         "Mit freundlichen Grüßen\n");

QList<PdfWord> onPage(const QList<PdfWord>& words, int page) {
    QList<PdfWord> out;
    for (const PdfWord& w : words)
        if (w.page == page)
            out << w;
    return out;
}

// The lines of a page as the reader groups words by their height.
QStringList linesIn(const QList<PdfWord>& words, const QRectF& area) {
    QMap<int, QStringList> byLine;
    for (const PdfWord& w : words)
        if (area.contains(w.box.center()))
            byLine[qRound(w.box.bottom() * 2)] << w.text;
    QStringList lines;
    for (const QStringList& l : byLine)
        lines << l.join(u' ');
    return lines;
}

} // namespace

class TestLetters : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty())
            QSKIP("pdftotext and pdftoppm (poppler-utils) are needed to read the letters back");
    }

    // Placeholders name fields or the salutation: anything else is refused
    // when the template is read, with its name and line; an empty field
    // leaves neither a blank line nor a double blank.
    void templateRules() {
        const QStringList fields{"Vorname", "Name", "Ort", "Telefon1"};
        try {
            print::LetterTemplate::parse("Betreff: Hallo\n\nText\nin «Strase» bei «Ort»", fields);
            QFAIL("an unknown placeholder went through");
        } catch (const report::ReportError& e) {
            QVERIFY2(e.text().contains("«Strase»") && e.text().contains("Zeile 4"),
                     qPrintable(e.text()));
        }
        QVERIFY_THROWS_EXCEPTION(report::ReportError,
                                 print::LetterTemplate::parse("Hallo «Name", fields));

        const auto letter =
            print::LetterTemplate::parse("Datum: Köln, im Mai\nBetreff: Für "
                                         "«name»\n\n«Anrede»\nTel. «Telefon1»\n«Telefon1»\n\nGruß",
                                         fields);
        const QHash<QString, QString> record{{"Name", "Zett"}};
        const print::Letter filled = print::fillLetter(
            letter, {}, [&](const QString& f) { return record.value(f); }, QDate(2026, 12, 9));
        QCOMPARE(filled.date, QStringLiteral("Köln, im Mai"));
        QCOMPARE(filled.subject, QStringLiteral("Für Zett"));
        QCOMPARE(filled.body, (QStringList{"Guten Tag Zett,", "Tel.", "", "Gruß"}));
        QCOMPARE(print::letterDate(QDate(2026, 12, 9)), QStringLiteral("9. Dezember 2026"));
    }

    // Form B: every word of the recipient in the window (20–105 mm from the
    // left, 62.7–90 mm from the top), the return line above it in smaller
    // type, the foreign country last and in capitals, no "D-", the subject
    // below the field, the placeholders filled and the empty ones gone.
    void formBPutsTheAddressInTheWindow() {
        QTemporaryDir dir;
        Rows rows(three());
        print::LetterStyle style(&rows);
        style.setOption("Text", kTemplate);
        style.setOption("Absender",
                        print::returnLine({"Verein e. V.", "", "Postfach 1", "50000 Köln"}));
        style.setOption("Datum", QDate(2026, 12, 9));
        const QString pdf = dir.filePath("briefe.pdf");
        report::writePdf(style.report(), style.geometry(), pdf);
        const QList<PdfWord> words = testsupport::pdfWords(pdf);
        QCOMPARE(words.last().page, 2); // three one-page letters

        const QRectF window(QPointF(20, 62.7), QPointF(105, 90));
        const QRectF returnZone(QPointF(20, 45), QPointF(105, 62.7));
        for (int page = 0; page < 3; ++page) {
            const QList<PdfWord> letter = onPage(words, page);
            const QStringList recipient = linesIn(letter, window);
            for (const QString& line : recipient)
                QVERIFY2(!line.startsWith("D-"), qPrintable(line));
            double returnHeight = 0, recipientHeight = 0;
            for (const PdfWord& w : letter) {
                if (returnZone.contains(w.box.center())) {
                    QVERIFY2(returnZone.contains(w.box), qPrintable(w.text));
                    returnHeight = w.box.height();
                } else if (window.intersects(w.box)) {
                    QVERIFY2(window.contains(w.box), qPrintable(w.text));
                    recipientHeight = w.box.height();
                }
            }
            QVERIFY(returnHeight > 0 && returnHeight < recipientHeight);
            const QStringList body = linesIn(letter, QRectF(QPointF(20, 90), QPointF(200, 280)));
            if (page == 0) {
                QCOMPARE(recipient, (QStringList{"Anna Schmidt", "Hauptstr. 1", "50667 Köln"}));
                QCOMPARE(body.value(0), QStringLiteral("Einladung für Anna Schmidt"));
                QVERIFY(body.contains("Guten Tag Anna Schmidt,"));
                QVERIFY(body.contains("Rubrik: Verein"));
            }
            if (page == 1)
                QCOMPARE(recipient.last(), QStringLiteral("ÖSTERREICH"));
            if (page == 2) {
                QCOMPARE(recipient, (QStringList{"Zett", "80331 München"}));
                // No empty line where Telefon1 stood: the greeting follows the text.
                const qsizetype text = body.indexOf("wir laden Sie in München ein.");
                QCOMPARE(body.value(text + 2), QStringLiteral("Mit freundlichen Grüßen"));
                QCOMPARE(body.value(text + 1), QStringLiteral("Rubrik:"));
            }
            for (const PdfWord& w : letter)
                if (w.text == u"Einladung")
                    QVERIFY(w.box.top() > 90);
        }

        // Form A: the same block 18 mm higher.
        style.setOption("Form", "A");
        const QString pdfA = dir.filePath("form-a.pdf");
        report::writePdf(style.report(), style.geometry(), pdfA);
        const auto top = [](const QList<PdfWord>& in, const QString& text) {
            for (const PdfWord& w : in)
                if (w.page == 0 && w.text == text)
                    return w.box.top();
            return -1.0;
        };
        const QList<PdfWord> wordsA = testsupport::pdfWords(pdfA);
        QVERIFY(std::abs(top(words, "Schmidt") - top(wordsA, "Schmidt") - 18) < 0.2);
        QVERIFY(std::abs(top(words, "Verein") - top(wordsA, "Verein") - 18) < 0.2);

        // The marks are ink at the left edge at their heights; nothing else is there.
        QProcess ppm;
        ppm.start("pdftoppm", {"-r", "96", "-png", "-f", "1", "-l", "1", pdf, dir.filePath("b")});
        QVERIFY(ppm.waitForFinished(30000));
        const QImage page(dir.filePath("b-1.png"));
        QVERIFY(!page.isNull());
        const double perMm = page.width() / 210.0;
        const auto inkAt = [&](double y) {
            for (int dy = -1; dy <= 1; ++dy)
                if (qGray(page.pixel(qRound(7 * perMm), qRound(y * perMm) + dy)) < 128)
                    return true;
            return false;
        };
        QVERIFY(inkAt(105) && inkAt(210) && inkAt(148.5));
        QVERIFY(!inkAt(87) && !inkAt(192) && !inkAt(160));
    }

    // A long body flows onto further pages, which carry "Seite 2 von 2" and
    // no address.
    void aLongLetterFlowsOn() {
        QString text = "Betreff: Lang\n\n";
        for (int i = 0; i < 80; ++i)
            text += QStringLiteral("Absatz %1 des langen Briefes an «Name».\n").arg(i + 1);
        Rows rows({{{"Name", "Zett"}, {"PLZ", "80331"}, {"Ort", "München"}}});
        print::LetterStyle style(&rows);
        style.setOption("Text", text);
        QTemporaryDir dir;
        const QString pdf = dir.filePath("lang.pdf");
        report::writePdf(style.report(), style.geometry(), pdf);
        const QList<PdfWord> words = testsupport::pdfWords(pdf);
        QCOMPARE(words.last().page, 1);
        const QStringList second = linesIn(onPage(words, 1), QRectF(0, 0, 210, 297));
        QCOMPARE(second.first(), QStringLiteral("Seite 2 von 2"));
        QVERIFY(!second.join(u' ').contains("80331"));
        QVERIFY(second.last().contains("Absatz 80"));
    }
};

QTEST_MAIN(TestLetters)
#include "tst_letters.moc"
