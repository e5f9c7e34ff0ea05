// Writing back a card another client wrote: what the table keeps is
// replaced, everything else stays byte for byte.
#include "platform/carddav/vcardpatch.h"

#include <QTest>

using namespace vellumo::carddav;

class TestVCardPatch : public QObject {
    Q_OBJECT

private slots:
    void keepsWhatIsNotOursByteForByte();
};

void TestVCardPatch::keepsWhatIsNotOursByteForByte() {
    // As a phone writes it: folded lines, a grouped property with its label,
    // a third number, a second address, a photo, a quoted parameter with ':'.
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
    const QByteArray ours = "BEGIN:VCARD\r\nVERSION:3.0\r\n"
                            "N:Müller-Lüdenscheidt;Jörg;;;\r\n"
                            "FN:Jörg Müller-Lüdenscheidt\r\n"
                            "TEL;TYPE=CELL:+49 171 9\r\n"
                            "EMAIL:neu@example.org\r\n"
                            "END:VCARD\r\n";
    // The table keeps the name, two numbers and the first e-mail address.
    const Keeps keeps = [](const ContentLine& line, int ordinal) {
        return line.name == "N" || line.name == "FN" || (line.name == "TEL" && ordinal < 2) ||
               (line.name == "EMAIL" && ordinal == 0);
    };
    const QByteArray patched = patchCard(base, ours, keeps);

    for (const char* kept :
         {"PRODID:-//Telefon//DE\r\n", "TEL;TYPE=\"HOME:PRIVAT\":+49 30 3\r\n",
          "item1.X-ABLabel:Verein\r\n", "EMAIL:zweite@example.org\r\n",
          "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAAgGBgcGBQgH\r\n"
          " BwcJCQgKDBQNDAsLDBkSEw8UHRofHh0aHBwgJC4nICIsIxwcKDcpLDAxNDQ0Hyc5PTgyPC4z\r\n"})
        QVERIFY2(patched.contains(kept), kept);
    for (const char* gone : {"N:Müller;", "+49 171 1", "+49 30 2", "joerg@example.org"})
        QVERIFY2(!patched.contains(gone), gone);
    QVERIFY(patched.contains("FN:Jörg Müller-Lüdenscheidt\r\nTEL;TYPE=CELL:+49 171 9\r\n"));

    const QList<ContentLine> lines = contentLines(patched);
    QCOMPARE(lines.first().name, QByteArray("BEGIN"));
    QCOMPARE(lines.last().name, QByteArray("END"));
    QCOMPARE(std::count_if(lines.begin(), lines.end(),
                           [](const ContentLine& l) { return l.name == "EMAIL"; }),
             2);
    const auto photo = std::find_if(lines.begin(), lines.end(),
                                    [](const ContentLine& l) { return l.name == "PHOTO"; });
    QVERIFY(photo->value.endsWith("LDAxNDQ0Hyc5PTgyPC4z")); // unfolded for reading
    QCOMPARE(photo->params, QByteArray(";ENCODING=b;TYPE=JPEG"));

    // Nothing of ours claimed in the base (a card with only a photo): ours go
    // in before the end; a card never synced is ours as it is.
    const QByteArray bare = "BEGIN:VCARD\r\nVERSION:3.0\r\nPHOTO:x\r\nEND:VCARD\r\n";
    QVERIFY(patchCard(bare, ours, keeps).endsWith("EMAIL:neu@example.org\r\nEND:VCARD\r\n"));
    QCOMPARE(patchCard({}, ours, keeps), ours);
}

QTEST_GUILESS_MAIN(TestVCardPatch)
#include "tst_vcardpatch.moc"
