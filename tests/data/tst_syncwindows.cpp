// The sync in the program, against a real Radicale: the settings dialog finds
// the book, asks before it adds the field "UID" (naming the backup), links and
// syncs; a field changed on both sides shows in "Konflikte …", where taking
// the server's value changes the record the main window shows.
#include "addresstables.h"
#include "data/syncwindows.h"
#include "platform/carddav/carddav.h"
#include "platform/database/recordstore.h"
#include "radicale.h"
#include "sync/tablesync.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

using namespace vellumo;
using testsupport::clickButton;
using testsupport::messageText;
using testsupport::whenModal;

namespace {

QPushButton* button(QWidget* parent, const QString& text) {
    for (auto* b : parent->findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    qFatal("no button %s", qPrintable(text));
}

void screenshot(QWidget* window, const char* name) {
    const QString dir = qEnvironmentVariable("VELLUMO_SCREENSHOT_DIR");
    if (!dir.isEmpty())
        window->grab().save(dir + u'/' + QString::fromLatin1(name));
}

} // namespace

class TestSyncWindows : public QObject {
    Q_OBJECT

private slots:
    void linkSyncAndDecide();
};

void TestSyncWindows::linkSyncAndDecide() {
    test::Radicale server;
    if (!server.problem().isEmpty())
        QSKIP(qPrintable(server.problem()));
    testsupport::Sandbox sandbox;
    carddav::CardDavClient client({server.url(), QStringLiteral("anna"), {}});
    const QUrl book = client.createAddressBook(QStringLiteral("Familie"));

    RecordStore store;
    testsupport::makeAddressTable(
        store, QStringLiteral("ADRESSEN"),
        {{{"Name", "Ahrens"}, {"Ort", "Lübeck"}}, {{"Name", "Böhm"}, {"Ort", "Lübeck"}}});

    data::TFormSynchronisation form(store);
    form.show();
    form.ServerEdit->setText(server.url().toString());
    form.BenutzerEdit->setText(QStringLiteral("anna")); // Radicale without passwords
    button(&form, QStringLiteral("Adressbücher &abrufen"))->click();
    QCOMPARE(form.BuchBox->count(), 2);
    QCOMPARE(form.BuchBox->itemText(0), QStringLiteral("Familie"));
    form.OeffnenSchliessenBox->setChecked(true);
    screenshot(&form, "synchronisation.png");
    QString question, result;
    whenModal([&](QWidget* ask) {
        question = messageText(ask);
        whenModal([&](QWidget* now) {
            whenModal([&](QWidget* done) {
                result = messageText(done);
                clickButton(done, QStringLiteral("OK"));
            });
            clickButton(now, QStringLiteral("&Ja"));
        });
        clickButton(ask, QStringLiteral("&Ja"));
    });
    button(&form, QStringLiteral("OK"))->click();
    QVERIFY2(question.contains(QStringLiteral("„UID“")) &&
                 question.contains(QStringLiteral("ADRESSEN-Sicherung-")),
             qPrintable(question));
    QVERIFY2(result.contains(QStringLiteral("Server: 2 neu")), qPrintable(result));
    QVERIFY(store.IsTableOpen() && store.fieldIndex(QStringLiteral("UID")) >= 0);
    QCOMPARE(client.listAll(book).size(), 2);

    // Both sides change Böhm's town.
    QList<carddav::Card> cards;
    for (const carddav::CardRef& ref : client.listAll(book))
        cards += client.fetch(book, {ref.href});
    for (const carddav::Card& c : cards)
        if (c.vcard.contains("Böhm")) {
            QByteArray changed = c.vcard;
            changed.replace("Lübeck", "Kiel");
            client.put(c.href, changed, c.etag);
        }
    store.GoToLast();
    store.BeginEdit();
    store.SetFieldText(QStringLiteral("Ort"), QStringLiteral("Rostock"));
    store.SaveRecord();
    whenModal([&](QWidget* done) {
        result = messageText(done);
        clickButton(done, QStringLiteral("OK"));
    });
    data::JetztSynchronisierenClick(store, nullptr);
    QVERIFY2(result.contains(QStringLiteral("Konflikte: 1")), qPrintable(result));
    QCOMPARE(store.fieldText(QStringLiteral("Name")), QStringLiteral("Böhm"));
    QCOMPARE(store.fieldText(QStringLiteral("Ort")), QStringLiteral("Rostock"));

    data::TFormKonflikte list(store);
    list.show();
    QCOMPARE(list.Liste->rowCount(), 1);
    QCOMPARE(list.Liste->item(0, 0)->text(), QStringLiteral("Böhm"));
    QCOMPARE(list.Liste->item(0, 2)->text(), QStringLiteral("Rostock"));
    QCOMPARE(list.Liste->item(0, 3)->text(), QStringLiteral("Kiel"));
    screenshot(&list, "konflikte.png");
    button(&list, QStringLiteral("&Server-Wert übernehmen"))->click();
    QCOMPARE(list.Liste->rowCount(), 0);
    QCOMPARE(store.fieldText(QStringLiteral("Ort")), QStringLiteral("Kiel"));

    // Asked for in the dialog: a sync before the table is closed sends the choice.
    whenModal([&](QWidget* done) {
        result = messageText(done);
        clickButton(done, QStringLiteral("OK"));
    });
    data::syncAtOpenOrClose(store, nullptr);
    QVERIFY2(result.contains(QStringLiteral("Server: 0 neu, 1 geändert")), qPrintable(result));
    bool kiel = false;
    for (const carddav::CardRef& ref : client.listAll(book))
        for (const carddav::Card& c : client.fetch(book, {ref.href}))
            kiel = kiel || (c.vcard.contains("Böhm") && c.vcard.contains("Kiel"));
    QVERIFY(kiel);
}

QTEST_MAIN(TestSyncWindows)
#include "tst_syncwindows.moc"
