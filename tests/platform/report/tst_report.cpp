#include "platform/report/layout.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QTemporaryDir>
#include <QTest>

using namespace vellumo::report;

namespace {

// Rows numbered 1 … n; remembers where the run left it and how often a
// row was read.
class NumberRows : public RowSource {
public:
    explicit NumberRows(int n) : n_(n) {}
    int Count() override { return n_; }
    void Seek(int row) override { row_ = row; }
    QString FieldText(const QString& field) const override {
        ++reads_;
        return field + QString::number(row_ + 1);
    }
    void RunEnded(int lastRow) override { current_ = lastRow + 1; }
    int current_ = -1;
    mutable int reads_ = 0;

private:
    int n_;
    int row_ = 0;
};

// A report as the list builds it: title, page header, one row band.
void addListBands(TQuickReport& report) {
    auto* title = report.addBand(QStringLiteral("T"), rbTitle, 41)->add<TQRLabel>("t");
    title->Caption = QStringLiteral("Titel");
    auto* header = report.addBand(QStringLiteral("H"), rbPageHeader, 41)->add<TQRLabel>("h");
    header->Caption = QStringLiteral("Kopf");
    header->setBounds(30, 19, 27, 14);
    TQRBand* detail = report.addBand(QStringLiteral("D"), rbDetail, 25);
    auto* value = detail->add<TQRDBText>(QStringLiteral("v"));
    value->DataField = QStringLiteral("Nr");
    value->setBounds(30, 3, 20, 17);
    auto* rule = detail->add<TQRShape>(QStringLiteral("r"));
    rule->setBounds(180, 0, 4, 25);
    rule->Shape = qrsVertLine;
}

// Rows that cannot be read from row failAt on, as a damaged table.
class FailingRows : public NumberRows {
public:
    FailingRows(int n, int failAt) : NumberRows(n), failAt_(failAt) {}
    void Seek(int row) override {
        if (row >= failAt_)
            throw ReportError(QStringLiteral("Datensatz %1 ist nicht lesbar").arg(row + 1));
        NumberRows::Seek(row);
    }

private:
    int failAt_;
};

QByteArray contentsOf(const QString& fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList textsOf(const Page& page) {
    QStringList texts;
    for (const TextItem& item : page.texts)
        texts << item.text;
    return texts;
}

} // namespace

class TestReport : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    }

    // Lines stand one pitch apart from the block's corner; the first line
    // that would reach below the block's height and all after it are dropped;
    // a line wider than the block breaks at a blank, never inside a word.
    void memoDropsLinesThatDoNotFitAndWrapsAtWords() {
        TQuickReport report;
        TQRBand* band = report.addBand(QStringLiteral("B"), rbPageHeader, 400);
        auto* memo = band->add<TQRMemo>(QStringLiteral("M"));
        memo->Font = reportFont(QStringLiteral("Arial"), 11);
        const int pitch = lineHeight(memo->Font);
        QCOMPARE(pitch, 13); // ascent + descent of Liberation Sans at 11 px, rounded up
        memo->setBounds(10, 10, 263, 3 * pitch + pitch - 1);
        memo->Lines = {QStringLiteral("eins"), QString(), QStringLiteral("drei"),
                       QStringLiteral("vier")};
        Page page = report.layout(QPageSize(QPageSize::A4)).pages.at(0);
        QCOMPARE(textsOf(page), (QStringList{"eins", "drei"}));
        QCOMPARE(page.texts[0].extent.topLeft(), QPointF(10, 10));
        QCOMPARE(page.texts[1].extent.top(), 10.0 + 2 * pitch);

        memo->setBounds(0, 0, 120, 200);
        memo->Lines = {QStringLiteral("Frau Dr. Hildegard Musterfrau-Beispielhaft")};
        page = report.layout(QPageSize(QPageSize::A4)).pages.at(0);
        QVERIFY(page.texts.size() >= 2);
        QString joined;
        for (const TextItem& item : page.texts) {
            QVERIFY2(item.extent.width() <= 120, qPrintable(item.text));
            QVERIFY(!item.text.startsWith(u' ') && !item.text.endsWith(u' '));
            joined += (joined.isEmpty() ? "" : " ") + item.text;
        }
        QCOMPARE(joined, memo->Lines.first());
        QCOMPARE(page.texts[1].extent.top(), double(pitch));
        // A single word wider than the block breaks between its characters.
        QCOMPARE(wrapLine(QStringLiteral("Donaudampfschifffahrtsgesellschaft"), memo->Font, 60)
                     .join(QString()),
                 QStringLiteral("Donaudampfschifffahrtsgesellschaft"));
    }

    // Title once, page header on every page, a page ends when the next
    // detail band would reach beyond the paper; the source is left on its
    // last row. A source without rows still gives one page with title and
    // header; hidden elements print nothing; a text wider than its box is
    // clipped at the box.
    void pagesBreakWithHeaderRepeated() {
        TQuickReport report;
        addListBands(report);
        report.bands().back()->elements().back()->Enabled = false;
        NumberRows rows(100);
        report.DataSource = &rows;

        const Document document = report.layout(QPageSize(QPageSize::A4));
        // A4 is 1122.5 units high: 41 rows under title and header, then 43.
        QCOMPARE(int(document.pages.size()), 3);
        QCOMPARE(textsOf(document.pages[0]).mid(0, 3), (QStringList{"Titel", "Kopf", "Nr1"}));
        QCOMPARE(textsOf(document.pages[0]).last(), QStringLiteral("Nr41"));
        QCOMPARE(textsOf(document.pages[1]).mid(0, 2), (QStringList{"Kopf", "Nr42"}));
        QCOMPARE(document.pages[1].texts[0].extent.top(), 19.0);
        QCOMPARE(document.pages[1].texts[1].extent.top(), 41.0 + 3);
        QCOMPARE(textsOf(document.pages[1]).last(), QStringLiteral("Nr84"));
        QCOMPARE(textsOf(document.pages[2]).last(), QStringLiteral("Nr100"));
        QVERIFY(document.pages[0].lines.empty()); // the hidden rule
        QCOMPARE(rows.current_, 100);
        // "Nr100" is wider than its 20-unit box: cut there.
        QCOMPARE(document.pages[2].texts.back().clip, QRectF(30, 41 + 15 * 25 + 3, 20, 17));

        NumberRows none(0);
        report.DataSource = &none;
        const Document empty = report.layout(QPageSize(QPageSize::A4));
        QCOMPARE(int(empty.pages.size()), 1);
        QCOMPARE(textsOf(empty.pages[0]), (QStringList{"Titel", "Kopf"}));
    }

    // Any page laid out alone is that page of a full run, reading only its
    // own rows: where it begins follows from the band heights. A printer
    // that stops printing 5 mm above the paper's edge gets no row below it.
    void pageAloneEqualsThePageOfTheRun() {
        TQuickReport report;
        addListBands(report);
        NumberRows rows(1000);
        report.DataSource = &rows;
        const PageGeometry a4 = PageGeometry::fullPage(QPageSize(QPageSize::A4));
        const Document full = report.layout(a4);
        const Pagination pagination = report.begin(a4);
        QCOMPARE(pagination.pageCount(), int(full.pages.size()));
        QCOMPARE(pagination.pageCount(), 24); // 41 rows on the first page, 43 on the others
        for (int k : {0, 1, 7, pagination.pageCount() - 1}) {
            rows.reads_ = 0;
            const Page alone = report.layoutPage(pagination, k);
            QCOMPARE(rows.reads_, pagination.rowsOn(k));
            const Page& inRun = full.pages[std::size_t(k)];
            QCOMPARE(textsOf(alone), textsOf(inRun));
            for (std::size_t i = 0; i < alone.texts.size(); ++i)
                QCOMPARE(alone.texts[i].extent, inRun.texts[i].extent);
            QCOMPARE(alone.lines.size(), inRun.lines.size());
            for (std::size_t i = 0; i < alone.lines.size(); ++i)
                QCOMPARE(alone.lines[i].line, inRun.lines[i].line);
        }

        PageGeometry margins = a4;
        margins.bottom -= 5 / 25.4 * kUnitsPerInch;
        const Document cut = report.layout(margins);
        QCOMPARE(report.begin(margins).rowsOn(0), 40); // one fewer than on the whole paper
        int listed = 0;
        for (const Page& page : cut.pages)
            for (const LineItem& rule : page.lines) {
                QVERIFY2(rule.line.y2() <= margins.bottom,
                         qPrintable(QString::number(rule.line.y2())));
                ++listed;
            }
        QCOMPARE(listed, 1000); // one rule per row: every row is there
    }

    // Rows of a band in three columns fill a line across before the next
    // line; a picture keeps its aspect ratio, centred in its box.
    void columnsAndPictures() {
        TQuickReport labels;
        TQRBand* card = labels.addBand(QStringLiteral("K"), rbDetail, 100);
        card->Columns = 3;
        card->ColumnWidth = 250;
        auto* text = card->add<TQRDBText>(QStringLiteral("n"));
        text->DataField = QStringLiteral("Nr");
        text->setBounds(10, 10, 200, 17);
        auto* picture = card->add<TQRImage>(QStringLiteral("b"));
        picture->Picture = QImage(40, 20, QImage::Format_RGB32);
        picture->Picture.fill(Qt::red);
        picture->setBounds(10, 40, 100, 30);
        NumberRows rows(35);
        labels.DataSource = &rows;
        const Document document = labels.layout(QPageSize(QPageSize::A4));
        QCOMPARE(int(document.pages.size()), 2); // 11 lines of 3 on A4
        const Page& page = document.pages[0];
        QCOMPARE(int(page.texts.size()), 33);
        QCOMPARE(page.texts[0].extent.topLeft(), QPointF(10, 10));
        QCOMPARE(page.texts[1].extent.topLeft(), QPointF(260, 10));
        QCOMPARE(page.texts[2].extent.topLeft(), QPointF(510, 10));
        QCOMPARE(page.texts[3].extent.topLeft(), QPointF(10, 110));
        QCOMPARE(page.images.size(), page.texts.size());
        QCOMPARE(page.images[1].rect, QRectF(250 + 10 + 20, 40, 60, 30));
        QCOMPARE(textsOf(document.pages[1]), (QStringList{"Nr34", "Nr35"}));
    }

    // A PDF goes to a temporary file that replaces the target only when
    // complete: a run that fails half way or is cancelled leaves an existing
    // file as it was; a complete one replaces it.
    void failedPdfLeavesTheOldFile() {
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("liste.pdf"));
        {
            QFile old(target);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("the user's earlier list");
        }
        TQuickReport report;
        addListBands(report);
        FailingRows failing(1000, 500);
        report.DataSource = &failing;
        const PageGeometry a4 = PageGeometry::fullPage(QPageSize(QPageSize::A4));
        QVERIFY_THROWS_EXCEPTION(ReportError, writePdf(report, a4, target));
        QCOMPARE(contentsOf(target), QByteArray("the user's earlier list"));

        NumberRows rows(1000);
        report.DataSource = &rows;
        QVERIFY(!writePdf(report, a4, target, [](int page) { return page < 3; }));
        QCOMPARE(contentsOf(target), QByteArray("the user's earlier list"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"liste.pdf"});

        QVERIFY(writePdf(report, a4, target));
        QVERIFY(contentsOf(target).startsWith("%PDF-"));
    }
};

QTEST_MAIN(TestReport)
#include "tst_report.moc"
