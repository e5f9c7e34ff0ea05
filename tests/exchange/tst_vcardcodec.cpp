// The one vCard codec: what the table owns on a card another program wrote
// is replaced component by component, everything else stays byte for byte.
#include "exchange/vcardcodec.h"

#include <QTest>

using namespace vellumo::vcard;

namespace {

// As a phone writes it: a grouped work address with its label, a middle name,
// prefix and suffix, typed phone and e-mail, two categories, a linked photo.
const QByteArray kPhoneCard = "BEGIN:VCARD\r\n"
                              "VERSION:3.0\r\n"
                              "PRODID:-//Apple Inc.//iPhone OS 17.1//EN\r\n"
                              "N:Müller;Hans;Peter;Dr.;jr.\r\n"
                              "FN:Dr. Hans Peter Müller jr.\r\n"
                              "item1.ADR;TYPE=WORK;TYPE=pref:Postfach 12;c/o Firma;Hauptstr. 1;"
                              "Köln;NRW;50667;Deutschland\r\n"
                              "item1.X-ABLabel:Büro\r\n"
                              "TEL;TYPE=CELL:+49 170 1234567\r\n"
                              "TEL;VALUE=uri;TYPE=work:tel:+49-221-98765\r\n"
                              "EMAIL;TYPE=WORK:hans@firma.example\r\n"
                              "CATEGORIES:Familie,Freunde\r\n"
                              "BDAY:--0517\r\n"
                              "PHOTO;VALUE=uri:https://bilder.example/hans.jpg\r\n"
                              "UID:urn:uuid:0b7a3d0e-7c1f-4c59-9a36-2f7c5d1e8a44\r\n"
                              "END:VCARD\r\n";

QByteArray replaced(QByteArray card, const char* from, const char* to) {
    return card.replace(from, to);
}

} // namespace

class TestVCardCodec : public QObject {
    Q_OBJECT

private slots:
    void aPhonesCardKeepsAllButTheEditedComponent();
    void nameAndFullName();
    void photosAreKeptUnlessChangedHere();
    void keepsWhatIsNotOursByteForByte();
};

void TestVCardCodec::aPhonesCardKeepsAllButTheEditedComponent() {
    const Card read = readCard(kPhoneCard);
    const Fields expected{{"Name", "Müller"},
                          {"Vorname", "Hans"},
                          {"Strasse", "Hauptstr. 1"},
                          {"Ort", "Köln"},
                          {"PLZ", "50667"},
                          {"Land", "Deutschland"},
                          {"Telefon1", "+49 170 1234567"},
                          {"Telefon2", "+49-221-98765"},
                          {"Email", "hans@firma.example"},
                          {"Rubrik", "Familie, Freunde"},
                          {"Geburtstag", "1604-05-17"}};
    QCOMPARE(read.fields, expected);
    QCOMPARE(read.uid, QStringLiteral("urn:uuid:0b7a3d0e-7c1f-4c59-9a36-2f7c5d1e8a44"));
    QVERIFY(read.photo.linked && read.photo.bytes.isEmpty());

    // One edit of "Ort": the locality component differs, nothing else.
    Fields edited = read.fields;
    edited.insert(QStringLiteral("Ort"), QStringLiteral("Bonn"));
    QCOMPARE(patchCard(kPhoneCard, read.fields, edited, {}, {}, read.uid),
             replaced(kPhoneCard, ";Köln;", ";Bonn;"));
    // Nothing changed: the server's bytes; a change also renews REV.
    QCOMPARE(patchCard(kPhoneCard, read.fields, read.fields, {}, "20261209T120000Z", read.uid),
             kPhoneCard);
    QVERIFY(patchCard(kPhoneCard, read.fields, edited, {}, "20261209T120000Z", read.uid)
                .endsWith("REV:20261209T120000Z\r\nEND:VCARD\r\n"));

    // A changed number written as a URI stays one; the table's categories a list.
    edited = read.fields;
    edited.insert(QStringLiteral("Telefon2"), QStringLiteral("+49 221 11111"));
    edited.insert(QStringLiteral("Rubrik"), QStringLiteral("Familie, Verein"));
    QCOMPARE(patchCard(kPhoneCard, read.fields, edited, {}, {}, read.uid),
             replaced(replaced(kPhoneCard, "tel:+49-221-98765", "tel:+49-221-11111"),
                      "Familie,Freunde", "Familie,Verein"));

    // Street, town, code and country emptied: the PO box keeps the line and
    // its label; an e-mail address emptied goes, and its group's label with it.
    edited = read.fields;
    for (const char* f : {"Strasse", "Ort", "PLZ", "Land"})
        edited.remove(QString::fromLatin1(f));
    QVERIFY(patchCard(kPhoneCard, read.fields, edited, {}, {}, read.uid)
                .contains("item1.ADR;TYPE=WORK;TYPE=pref:Postfach 12;c/o Firma;;;NRW;;\r\n"
                          "item1.X-ABLabel:Büro\r\n"));
    const QByteArray grouped = replaced(replaced(kPhoneCard, "EMAIL;TYPE=WORK", "item2.EMAIL"),
                                        "CATEGORIES", "item2.X-ABLabel:Arbeit\r\nCATEGORIES");
    edited = readCard(grouped).fields;
    edited.remove(QStringLiteral("Email"));
    const QByteArray noMail = patchCard(grouped, readCard(grouped).fields, edited, {}, {}, {});
    QVERIFY(!noMail.contains("item2") && noMail.contains("item1.X-ABLabel:Büro"));

    // What the table writes itself: CATEGORIES as a list, a birthday without a year.
    const QByteArray own = writeCard({read.fields, QStringLiteral("x"), {}, "PNG", {}});
    QVERIFY(own.contains("\r\nCATEGORIES:Familie,Freunde\r\n"));
    QVERIFY(own.contains("\r\nBDAY:--0517\r\n"));
    QCOMPARE(readCard(own).fields, read.fields);
}

void TestVCardCodec::nameAndFullName() {
    // FN as the phone wrote it stays unless the name changes here.
    const QByteArray korean =
        "BEGIN:VCARD\r\nVERSION:4.0\r\nN:김;민준;;;\r\nFN:김민준\r\nEND:VCARD\r\n";
    const Fields before = readCard(korean).fields;
    Fields edited = before;
    edited.insert(QStringLiteral("Ort"), QStringLiteral("Seoul"));
    QVERIFY(patchCard(korean, before, edited, {}, {}, {}).contains("\r\nFN:김민준\r\n"));
    edited.insert(QStringLiteral("Vorname"), QStringLiteral("Seo-yeon"));
    const QByteArray renamed = patchCard(korean, before, edited, {}, {}, {});
    QVERIFY(renamed.contains("\r\nN:김;Seo-yeon;;;\r\nFN:Seo-yeon 김\r\n"));

    // A business known only by FN and ORG is shown by its name and keeps both.
    const QByteArray business = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bäckerei Schmitz\r\n"
                                "ORG:Bäckerei Schmitz GmbH\r\nEND:VCARD\r\n";
    const Card shop = readCard(business);
    QCOMPARE(shop.fields.value(QStringLiteral("Name")), QStringLiteral("Bäckerei Schmitz"));
    edited = shop.fields;
    edited.insert(QStringLiteral("Telefon1"), QStringLiteral("0221 4711"));
    QCOMPARE(patchCard(business, shop.fields, edited, {}, {}, {}),
             replaced(business, "END:VCARD", "TEL;TYPE=VOICE:0221 4711\r\nEND:VCARD"));
    QCOMPARE(readCard("BEGIN:VCARD\r\nORG:Stadtwerke;Kasse\r\nEND:VCARD\r\n")
                 .fields.value(QStringLiteral("Name")),
             QStringLiteral("Stadtwerke, Kasse"));
}

void TestVCardCodec::photosAreKeptUnlessChangedHere() {
    const Fields f = readCard(kPhoneCard).fields;
    // A linked photo is never taken away; a new picture goes in before it.
    QCOMPARE(patchCard(kPhoneCard, f, f, {PhotoChange::Remove, {}, "PNG"}, {}, {}), kPhoneCard);
    const QByteArray both =
        patchCard(kPhoneCard, f, f, {PhotoChange::Replace, "png!", "PNG"}, {}, {});
    QVERIFY(both.contains("PHOTO;ENCODING=b;TYPE=PNG:cG5nIQ==\r\n"
                          "PHOTO;VALUE=uri:https://bilder.example/hans.jpg\r\n"));
    // An inline photo is replaced or removed; the same photo has the same key.
    const QByteArray inline4 = "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:A\r\n"
                               "PHOTO:data:image/jpeg;base64,/9j/4AAQ\r\nEND:VCARD\r\n";
    const Card card = readCard(inline4);
    QCOMPARE(card.photo.bytes, QByteArray::fromBase64("/9j/4AAQ"));
    QCOMPARE(readCard(inline4).photo.key(), card.photo.key());
    QVERIFY(!patchCard(inline4, card.fields, card.fields, {PhotoChange::Remove, {}, "PNG"}, {}, {})
                 .contains("PHOTO"));
    QVERIFY(
        patchCard(inline4, card.fields, card.fields, {PhotoChange::Replace, "png!", "PNG"}, {}, {})
            .contains("\r\nPHOTO:data:image/png;base64,cG5nIQ==\r\nEND:VCARD"));
}

void TestVCardCodec::keepsWhatIsNotOursByteForByte() {
    // Folded lines, a grouped property with its label, a third number, a
    // second e-mail address, a photo, a quoted parameter with ':'.
    const QByteArray base =
        "BEGIN:VCARD\r\n"
        "VERSION:3.0\r\n"
        "PRODID:-//Telefon//DE\r\n"
        "N:Müller;Jörg;;;\r\n"
        "FN:Jörg Müller\r\n"
        "TEL;TYPE=CELL:+49 171 1\r\n"
        "TEL;TYPE=WORK:+49 30 2\r\n"
        "TEL;TYPE=\"HOME:PRIVAT\":+49 30 3\r\n"
        "item1.EMAIL;TYPE=INTERNET:joerg@example.org\r\n"
        "item1.X-ABLabel:Verein\r\n"
        "EMAIL:zweite@example.org\r\n"
        "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAAgGBgcGBQgH\r\n"
        " BwcJCQgKDBQNDAsLDBkSEw8UHRofHh0aHBwgJC4nICIsIxwcKDcpLDAxNDQ0Hyc5PTgyPC4z\r\n"
        "END:VCARD\r\n";
    const Fields before = readCard(base).fields;
    Fields after = before;
    after.insert(QStringLiteral("Name"), QStringLiteral("Müller-Lüdenscheidt"));
    after.insert(QStringLiteral("Telefon1"), QStringLiteral("+49 171 9"));
    after.remove(QStringLiteral("Telefon2"));
    after.insert(QStringLiteral("Email"), QStringLiteral("neu@example.org"));
    const QByteArray patched = patchCard(base, before, after, {}, {}, {});
    QCOMPARE(patched,
             QByteArray("BEGIN:VCARD\r\n"
                        "VERSION:3.0\r\n"
                        "PRODID:-//Telefon//DE\r\n"
                        "N:Müller-Lüdenscheidt;Jörg;;;\r\n"
                        "FN:Jörg Müller-Lüdenscheidt\r\n"
                        "TEL;TYPE=CELL:+49 171 9\r\n"
                        "TEL;TYPE=\"HOME:PRIVAT\":+49 30 3\r\n"
                        "item1.EMAIL;TYPE=INTERNET:neu@example.org\r\n"
                        "item1.X-ABLabel:Verein\r\n"
                        "EMAIL:zweite@example.org\r\n"
                        "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD/"
                        "2wBDAAgGBgcGBQgH\r\n"
                        " BwcJCQgKDBQNDAsLDBkSEw8UHRofHh0aHBwgJC4nICIsIxwcKDcpLDAxNDQ0Hyc5P"
                        "TgyPC4z\r\n"
                        "END:VCARD\r\n"));
    const QList<ContentLine> lines = contentLines(patched);
    const auto photo = std::find_if(lines.begin(), lines.end(),
                                    [](const ContentLine& l) { return l.name == "PHOTO"; });
    QVERIFY(photo->value.endsWith("LDAxNDQ0Hyc5PTgyPC4z")); // unfolded for reading
    QCOMPARE(photo->params, QByteArray(";ENCODING=b;TYPE=JPEG"));
    // A card never synced is the table's own.
    QCOMPARE(patchCard({}, {}, after, {}, {}, QStringLiteral("u")),
             writeCard({after, QStringLiteral("u"), {}, "PNG", {}}));
}

QTEST_GUILESS_MAIN(TestVCardCodec)
#include "tst_vcardcodec.moc"
