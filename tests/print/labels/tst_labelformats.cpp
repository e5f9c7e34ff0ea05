// Label sheets from the installed template database.
#include "print/labels/labelformats.h"

#include <QDir>
#include <QTest>

using namespace vellumo::labels;

class TestLabelFormats : public QObject {
    Q_OBJECT

private slots:
    void everyInstalledTemplateReads();
    void builtInSheetsAgreeWithTheDatabase();
    void templateLanguage();
};

namespace {

bool databaseInstalled() {
    return !QDir(LabelCatalogue::defaultDirectory())
                .entryList({QStringLiteral("*-templates.xml")})
                .isEmpty();
}

} // namespace

void TestLabelFormats::everyInstalledTemplateReads() {
    if (!databaseInstalled())
        QSKIP("Die Etikettenvorlagen (Debian-Paket glabels-data) sind nicht installiert.");
    const LabelCatalogue catalogue = LabelCatalogue::load();
    QVERIFY(catalogue.fromDatabase());
    QVERIFY2(catalogue.problems().isEmpty(), qPrintable(catalogue.problems().join('\n')));
    QVERIFY(catalogue.formats().size() > 500);
    for (const LabelFormat& f : catalogue.formats()) {
        QVERIFY2(f.labelsPerSheet() > 0 && !f.label.isEmpty() && !f.page.isEmpty(),
                 qPrintable(f.name()));
        QVERIFY2(f.cell(f.labelsPerSheet() - 1).isValid(), qPrintable(f.name()));
    }
    // Typing the part number finds the sheet; an alias has its base's geometry.
    const auto found = catalogue.search(QStringLiteral("3474"));
    QVERIFY(std::any_of(found.begin(), found.end(),
                        [](const LabelFormat& f) { return f.name() == "Zweckform 3474"; }));
    const auto alias = catalogue.find(QStringLiteral("avery l7160"));
    const auto base = catalogue.find(QStringLiteral("Avery 7160"));
    QVERIFY(alias && base);
    QCOMPARE(alias->part, QStringLiteral("L7160"));
    QCOMPARE(alias->cell(20), base->cell(20));
    QVERIFY(!catalogue.find(QStringLiteral("Zweckform 99999")));
}

void TestLabelFormats::builtInSheetsAgreeWithTheDatabase() {
    const QList<LabelFormat> builtIn = LabelCatalogue::builtIn();
    QCOMPARE(builtIn.size(), 5);
    // Without the database the built-in sheets stand in.
    const LabelCatalogue fallback = LabelCatalogue::load(QDir::tempPath() + "/keine-vorlagen");
    QVERIFY(!fallback.fromDatabase());
    QVERIFY(fallback.find(QStringLiteral("3474")));

    if (!databaseInstalled())
        QSKIP("Die Etikettenvorlagen (Debian-Paket glabels-data) sind nicht installiert.");
    const LabelCatalogue catalogue = LabelCatalogue::load();
    int compared = 0;
    for (const LabelFormat& mine : builtIn) {
        const auto theirs = catalogue.find(mine.name());
        if (!theirs)
            continue; // not every sheet is in every version of the database
        ++compared;
        QCOMPARE(mine.labelsPerSheet(), theirs->labelsPerSheet());
        for (int i = 0; i < mine.labelsPerSheet(); ++i) {
            const QRectF a = mine.cell(i), b = theirs->cell(i);
            for (double d : {a.left() - b.left(), a.top() - b.top(), a.width() - b.width(),
                             a.height() - b.height()})
                QVERIFY2(std::abs(d) <= 0.2,
                         qPrintable(QStringLiteral("%1, Etikett %2").arg(mine.name()).arg(i + 1)));
        }
    }
    QVERIFY(compared >= 4);
}

void TestLabelFormats::templateLanguage() {
    QCOMPARE(lengthInMm("70mm").value(), 70.0);
    QCOMPARE(lengthInMm("1in").value(), 25.4);
    QCOMPARE(lengthInMm("2.5cm").value(), 25.0);
    QCOMPARE(lengthInMm("").value(), 0.0); // an empty offset is no offset
    QVERIFY(qAbs(lengthInMm("72").value() - 25.4) < 1e-9);
    QVERIFY(!lengthInMm("siebzig"));

    // A damaged template is named and left out; the others still read; round
    // labels are no address labels.
    const QByteArray xml = R"(<Glabels-templates>
      <Template brand="X" part="1" size="A4" _description="gut">
        <Label-rectangle id="0" width="70mm" height="37mm" round="0">
          <Layout nx="3" ny="8" x0="" y0="0" dx="70mm" dy="37mm"/>
        </Label-rectangle></Template>
      <Template brand="X" part="2" size="A4"><Label-rectangle id="0" width="breit" height="3mm">
          <Layout nx="1" ny="1" x0="0" y0="0" dx="1" dy="1"/></Label-rectangle></Template>
      <Template brand="X" part="3" size="A4"><Label-round id="0" radius="10mm">
          <Layout nx="1" ny="1" x0="0" y0="0" dx="1" dy="1"/></Label-round></Template>
      <Template brand="X" part="4" equiv="1"/>
    </Glabels-templates>)";
    QStringList problems;
    const auto formats = LabelCatalogue::readTemplates(xml, {{"A4", QSizeF(210, 297)}}, &problems);
    QCOMPARE(formats.size(), 2);
    QCOMPARE(problems.size(), 1);
    QVERIFY(problems[0].contains("X 2"));
    QCOMPARE(formats[1].part, QStringLiteral("4"));
    QCOMPARE(formats[1].cell(4), QRectF(70, 37, 70, 37)); // row 2, column 2
    QCOMPARE(formats[0].summary(), QStringLiteral("70 × 37 mm, 24 je Blatt"));
}

QTEST_GUILESS_MAIN(TestLabelFormats)
#include "tst_labelformats.moc"
