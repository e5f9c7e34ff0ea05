#include "platform/report/report.h"

#include <QFont>
#include <QTest>

using namespace vellumo::report;

namespace {

// Rows numbered 1 … n; remembers where the run left it.
class NumberRows : public RowSource {
public:
    explicit NumberRows(int n) : n_(n) {}
    bool First() override {
        current_ = n_ > 0 ? 1 : 0;
        return n_ > 0;
    }
    bool Next() override {
        if (current_ >= n_)
            return false;
        ++current_;
        return true;
    }
    QString FieldText(const QString& field) const override {
        return field + QString::number(current_);
    }
    int current_ = -1;

private:
    int n_;
};

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
        auto* title = report.addBand(QStringLiteral("T"), rbTitle, 41)->add<TQRLabel>("t");
        title->Caption = QStringLiteral("Titel");
        auto* header = report.addBand(QStringLiteral("H"), rbPageHeader, 41)->add<TQRLabel>("h");
        header->Caption = QStringLiteral("Kopf");
        header->setBounds(30, 19, 27, 14);
        TQRBand* detail = report.addBand(QStringLiteral("D"), rbDetail, 25);
        auto* value = detail->add<TQRDBText>(QStringLiteral("v"));
        value->DataField = QStringLiteral("Nr");
        value->setBounds(30, 3, 20, 17);
        auto* hidden = detail->add<TQRShape>(QStringLiteral("p"));
        hidden->Enabled = false;
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
        QVERIFY(document.pages[0].lines.empty());
        QCOMPARE(rows.current_, 100);
        // "Nr100" is wider than its 20-unit box: cut there.
        QCOMPARE(document.pages[2].texts.back().clip, QRectF(30, 41 + 15 * 25 + 3, 20, 17));

        NumberRows none(0);
        report.DataSource = &none;
        const Document empty = report.layout(QPageSize(QPageSize::A4));
        QCOMPARE(int(empty.pages.size()), 1);
        QCOMPARE(textsOf(empty.pages[0]), (QStringList{"Titel", "Kopf"}));
    }
};

QTEST_MAIN(TestReport)
#include "tst_report.moc"
