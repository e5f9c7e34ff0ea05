// The preview window on a list of a thousand pages: it lays out only the
// pages it shows and keeps only those.
#include "platform/report/output.h"
#include "platform/report/preview.h"

#include <QAction>
#include <QApplication>
#include <QSpinBox>
#include <QTest>

using namespace vellumo::report;

namespace {

class CountingRows : public RowSource {
public:
    explicit CountingRows(int n) : n_(n) {}
    void Settle() override { ++settled; }
    int Count() override { return n_; }
    void Seek(int row) override { row_ = row; }
    QString FieldText(const QString&) const override {
        ++reads;
        return QStringLiteral("Zeile %1").arg(row_ + 1);
    }
    void RunEnded(int lastRow) override { ended = lastRow; }
    int settled = 0;
    mutable int reads = 0;
    int ended = -1;

private:
    int n_;
    int row_ = 0;
};

} // namespace

class TestPreview : public QObject {
    Q_OBJECT
private slots:
    // Nothing is laid out before the window shows; then only the pages in
    // view, whichever page is gone to; the page box follows; the window
    // offers printing and PDF but no page setup or orientation.
    void laysOutOnlyThePagesInView() {
        TQuickReport report;
        report.ReportTitle = QStringLiteral("Vellumo (Liste)");
        report.addBand(QStringLiteral("H"), rbPageHeader, 41);
        TQRBand* detail = report.addBand(QStringLiteral("D"), rbDetail, 25);
        detail->add<TQRDBText>(QStringLiteral("v"))->DataField = QStringLiteral("Nr");
        CountingRows rows(43 * 1000);
        report.DataSource = &rows;

        PreviewWindow preview(report, PageGeometry::fullPage(QPageSize(QPageSize::A4)));
        QCOMPARE(rows.settled, 1);
        QCOMPARE(preview.pageCount(), 1000);
        QCOMPARE(preview.pagesLaidOut(), 0);
        QCOMPARE(rows.reads, 0);
        QCOMPARE(preview.windowTitle(), QStringLiteral("Druckvorschau – Vellumo (Liste)"));

        preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&preview));
        QTRY_VERIFY(preview.pagesLaidOut() > 0);
        QVERIFY2(preview.pagesLaidOut() <= 2, qPrintable(QString::number(preview.pagesLaidOut())));
        QVERIFY(rows.reads <= 2 * 43);

        const int before = preview.pagesLaidOut();
        preview.goToPage(999);
        QTRY_COMPARE(preview.findChild<QSpinBox*>("Seite")->value(), 1000);
        QTRY_VERIFY(preview.pagesLaidOut() > before);
        QVERIFY(preview.pagesLaidOut() - before <= 2);
        QVERIFY(preview.pagesKept() <= 2);

        preview.findChild<QSpinBox*>("Seite")->setValue(500);
        QCOMPARE(preview.currentPage(), 499);
        const double zoom = preview.zoom();
        preview.findChild<QAction*>("Vergroessern")->trigger();
        QVERIFY(preview.zoom() > zoom);
        QCOMPARE(preview.currentPage(), 499);
        QApplication::processEvents();
        QVERIFY(preview.pagesKept() <= 2);

        QStringList offered;
        for (const QAction* action : preview.findChildren<QAction*>())
            offered << action->text();
        QVERIFY(offered.contains("Als PDF speichern …") && offered.contains("Drucken"));
        for (const QString& text : offered)
            QVERIFY2(!text.contains("Seite einrichten") && !text.contains("format"),
                     qPrintable(text));
        QCOMPARE(rows.ended, -1); // the caller ends the run
    }

    // A preview whose rows cannot be read does not open on an empty
    // document: it says why it cannot begin.
    void previewThatCannotBeginSaysSo() {
        struct BrokenRows : RowSource {
            int Count() override {
                throw ReportError(QStringLiteral("Die Tabelle ist nicht lesbar"));
            }
            void Seek(int) override {}
            QString FieldText(const QString&) const override { return {}; }
        } rows;
        TQuickReport report;
        report.addBand(QStringLiteral("D"), rbDetail, 25);
        report.DataSource = &rows;
        QString said;
        try {
            Preview(report);
        } catch (const ReportError& error) {
            said = error.text();
        }
        QCOMPARE(said,
                 QStringLiteral("Die Vorschau kann nicht beginnen: Die Tabelle ist nicht lesbar"));
    }
};

QTEST_MAIN(TestPreview)
#include "tst_preview.moc"
