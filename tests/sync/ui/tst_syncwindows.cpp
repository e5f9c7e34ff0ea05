// The sync in the program, against a real Radicale: the set-up lists the
// books, asks before it adds the field "UID" (naming the backup), links and
// syncs; a field changed on both sides shows in "Konflikte …", where taking
// the server's value changes the record the main window shows; unlinking
// and linking again finds every card by its UID. A keyring that refuses (a
// stub on the test's own session bus, slow to answer) ends in one German
// sentence and a linked table, the windows' timers running meanwhile; the
// list follows the account typed, and an account without books hears so.
#include "addresstables.h"
#include "app/hauptformular.h"
#include "platform/carddav/carddav.h"
#include "platform/database/boundcontrols.h"
#include "platform/database/recordstore.h"
#include "platform/settings/profile.h"
#include "platform/system/system.h"
#include "radicale.h"
#include "sync/link.h"
#include "sync/tablesync.h"
#include "sync/ui/syncwindows.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <functional>

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

QStringList bookPaths(const QUrl& server, const QString& user) {
    carddav::CardDavClient client({server, user, {}});
    QStringList paths;
    for (const carddav::AddressBook& b : client.discover())
        paths << b.url.path();
    return paths;
}

// Every card of the book.
QList<carddav::Card> allCards(carddav::CardDavClient& client, const QUrl& book) {
    QStringList hrefs;
    for (const carddav::CardRef& ref : client.listAll(book))
        hrefs << ref.href;
    return client.fetch(book, hrefs);
}

// Clicks button, answers the questions that follow with "&Ja" (their texts
// into asked) and returns the report the sync then shows.
QString confirmAndReport(QPushButton* button, int questions, QStringList* asked = nullptr) {
    QString report;
    std::function<void(int)> next = [&](int left) {
        whenModal([&, left](QWidget* box) {
            if (left == 0) {
                report = messageText(box);
                clickButton(box, QStringLiteral("OK"));
                return;
            }
            if (asked)
                *asked << messageText(box);
            next(left - 1);
            clickButton(box, QStringLiteral("&Ja"));
        });
    };
    next(questions);
    button->click();
    return report;
}

// "Jetzt synchronisieren", and the report it shows.
QString syncNow(RecordStore& store) {
    QString report;
    whenModal([&](QWidget* done) {
        report = messageText(done);
        clickButton(done, QStringLiteral("OK"));
    });
    sync::ui::JetztSynchronisierenClick(store, nullptr);
    return report;
}

} // namespace

class TestSyncWindows : public QObject {
    Q_OBJECT

private slots:
    void linkSyncDecideAndUnlink();
    void refusingKeyringFallsBack();
    void listFollowsTheAccount();
    void quittingWithTheSettingOnSyncs();
};

void TestSyncWindows::linkSyncDecideAndUnlink() {
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

    sync::ui::TFormSynchronisation form(store);
    form.show();
    QVERIFY(!form.LoesenButton->isEnabled());
    form.ServerEdit->setText(server.url().toString());
    form.BenutzerEdit->setText(QStringLiteral("anna")); // Radicale without passwords
    button(&form, QStringLiteral("Adressbücher &abrufen"))->click();
    QCOMPARE(form.BuchBox->count(), 2);
    QCOMPARE(form.BuchBox->itemText(0), QStringLiteral("Familie (0 Adressen)"));
    QCOMPARE(form.BuchBox->itemText(1), QStringLiteral("Neues Adressbuch anlegen"));
    form.OeffnenSchliessenBox->setChecked(true);
    screenshot(&form, "synchronisation.png");
    QStringList asked;
    QString result = confirmAndReport(button(&form, QStringLiteral("OK")), 2, &asked);
    const QString question = asked.value(0);
    QVERIFY2(question.contains(QStringLiteral("„UID“")) &&
                 question.contains(QStringLiteral("ADRESSEN-Sicherung-")),
             qPrintable(question));
    QVERIFY2(result.contains(QStringLiteral("Server: 2 neu")), qPrintable(result));
    QVERIFY(store.IsTableOpen() && store.fieldIndex(QStringLiteral("UID")) >= 0);
    QCOMPARE(client.listAll(book).size(), 2);
    QCOMPARE(bookPaths(server.url(), QStringLiteral("anna")), QStringList{book.path()});

    // Both sides change Böhm's town.
    for (const carddav::Card& c : allCards(client, book))
        if (c.vcard.contains("Böhm")) {
            QByteArray changed = c.vcard;
            changed.replace("Lübeck", "Kiel");
            client.put(c.href, changed, c.etag);
        }
    store.GoToLast();
    store.BeginEdit();
    store.SetFieldText(QStringLiteral("Ort"), QStringLiteral("Rostock"));
    store.SaveRecord();
    result = syncNow(store);
    QVERIFY2(result.contains(QStringLiteral("Konflikte: 1")), qPrintable(result));
    QCOMPARE(store.fieldText(QStringLiteral("Name")), QStringLiteral("Böhm"));
    QCOMPARE(store.fieldText(QStringLiteral("Ort")), QStringLiteral("Rostock"));

    sync::ui::TFormKonflikte list(store);
    list.show();
    QCOMPARE(list.Liste->rowCount(), 1);
    QCOMPARE(list.Liste->item(0, 0)->text(), QStringLiteral("Böhm"));
    QCOMPARE(list.Liste->item(0, 2)->text(), QStringLiteral("Rostock"));
    QCOMPARE(list.Liste->item(0, 3)->text(), QStringLiteral("Kiel"));
    screenshot(&list, "konflikte.png");
    button(&list, QStringLiteral("&Server-Wert übernehmen"))->click();
    QCOMPARE(list.Liste->rowCount(), 0);
    QCOMPARE(store.fieldText(QStringLiteral("Ort")), QStringLiteral("Kiel"));

    // Asked for in the dialog: a sync before the table is closed sends the
    // choice, and with nothing else to say shows no report.
    sync::ui::syncAtOpenOrClose(store, nullptr);
    testsupport::settle();
    QVERIFY(!QApplication::activeModalWidget());
    bool kiel = false;
    for (const carddav::Card& c : allCards(client, book))
        kiel = kiel || (c.vcard.contains("Böhm") && c.vcard.contains("Kiel"));
    QVERIFY(kiel);

    // Unlinked in the dialog: records, UIDs and the book stay.
    sync::ui::TFormSynchronisation again(store);
    again.show();
    QVERIFY(again.LoesenButton->isEnabled());
    QString told;
    whenModal([&](QWidget* ask) {
        whenModal([&](QWidget* done) {
            told = messageText(done);
            clickButton(done, QStringLiteral("OK"));
        });
        clickButton(ask, QStringLiteral("&Ja"));
    });
    again.LoesenButton->click();
    QVERIFY2(told.contains(QStringLiteral("nicht mehr mit")) &&
                 told.contains(QStringLiteral("unverändert")),
             qPrintable(told));
    QVERIFY(sync::linkedBook(store.tableFileName()).isEmpty());
    QVERIFY(!again.LoesenButton->isEnabled());
    QCOMPARE(store.visibleCount(), 2);
    QVERIFY(!store.textAt(0, QStringLiteral("UID")).isEmpty());
    QCOMPARE(client.listAll(book).size(), 2);

    // Linked again: the list names the book holding the table's cards, and
    // the first sync pairs every record with its card.
    again.BenutzerEdit->setText(QStringLiteral("anna"));
    button(&again, QStringLiteral("Adressbücher &abrufen"))->click();
    QCOMPARE(again.BuchBox->currentText(),
             QStringLiteral("Familie (2 Adressen) – enthält die Adressen dieser Tabelle"));
    result = confirmAndReport(button(&again, QStringLiteral("OK")), 1);
    QVERIFY2(result.contains(QStringLiteral("Hier: 0 neu")) &&
                 result.contains(QStringLiteral("Server: 0 neu")),
             qPrintable(result));
    QCOMPARE(store.visibleCount(), 2);
    QCOMPARE(client.listAll(book).size(), 2);
}

void TestSyncWindows::refusingKeyringFallsBack() {
    test::Radicale server;
    if (!server.problem().isEmpty())
        QSKIP(qPrintable(server.problem()));
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        QSKIP("Kein eigener Sitzungsbus (dbus-run-session fehlt).");
    // A keyring that takes its time and then refuses.
    QProcess keyring;
    keyring.start(QStringLiteral(VELLUMO_SECRET_STUB), {QStringLiteral("700")});
    QVERIFY(keyring.waitForReadyRead(10000));
    testsupport::Sandbox sandbox;
    carddav::CardDavClient client({server.url(), QStringLiteral("anna"), {}});
    const QUrl book = client.createAddressBook(QStringLiteral("Familie"));
    RecordStore store;
    testsupport::makeAddressTable(store, QStringLiteral("ADRESSEN"), {{{"Name", "Ahrens"}}});

    sync::ui::TFormSynchronisation form(store);
    form.show();
    form.ServerEdit->setText(server.url().toString());
    form.BenutzerEdit->setText(QStringLiteral("anna"));
    form.PasswortEdit->setText(QStringLiteral("geheim"));
    button(&form, QStringLiteral("Adressbücher &abrufen"))->click();
    int ticks = 0, ticksAsked = -1, ticksTold = -1;
    QTimer clock;
    connect(&clock, &QTimer::timeout, [&] { ++ticks; });
    clock.start(20);
    QString told, detail;
    whenModal([&](QWidget* ask) {
        whenModal([&](QWidget* fallback) {
            ticksTold = ticks;
            told = messageText(fallback);
            detail = qobject_cast<QMessageBox*>(fallback)->informativeText();
            whenModal([&](QWidget* now) { clickButton(now, QStringLiteral("&Nein")); });
            clickButton(fallback, QStringLiteral("OK"));
        });
        ticksAsked = ticks;
        clickButton(ask, QStringLiteral("&Ja"));
    });
    button(&form, QStringLiteral("OK"))->click();
    QCOMPARE(told, QStringLiteral("Der Schlüsselbund kann das Passwort nicht speichern; Vellumo "
                                  "behält es bis zum Ende dieses Programmlaufs und fragt beim "
                                  "nächsten Start wieder danach."));
    QVERIFY2(detail.startsWith(QStringLiteral("Einzelheiten: ")), qPrintable(detail));
    // The keyring's two answers came 0.7 s each after the question: the
    // program's timers ran meanwhile.
    QVERIFY2(ticksTold - ticksAsked >= 20, qPrintable(QString::number(ticksTold - ticksAsked)));
    QCOMPARE(sync::linkedBook(store.tableFileName()).path(), book.path());
    QCOMPARE(store.fieldIndex(QStringLiteral("UID")) >= 0, true);

    // The password is kept for this run: the sync asks for none.
    const QString result = syncNow(store);
    QVERIFY2(result.contains(QStringLiteral("Server: 1 neu")), qPrintable(result));
    keyring.kill();
    keyring.waitForFinished();
}

void TestSyncWindows::listFollowsTheAccount() {
    test::Radicale server;
    if (!server.problem().isEmpty())
        QSKIP(qPrintable(server.problem()));
    testsupport::Sandbox sandbox;
    carddav::CardDavClient anna({server.url(), QStringLiteral("anna"), {}});
    const QUrl annasBook = anna.createAddressBook(QStringLiteral("Vellumo"));
    RecordStore store;
    testsupport::makeAddressTable(store, QStringLiteral("ADRESSEN"), {{{"Name", "Ahrens"}}});

    sync::ui::TFormSynchronisation form(store);
    form.show();
    form.ServerEdit->setText(server.url().toString());
    form.BenutzerEdit->setText(QStringLiteral("anna"));
    button(&form, QStringLiteral("Adressbücher &abrufen"))->click();
    QCOMPARE(form.BuchBox->count(), 2);
    // Another user typed: the list was anna's and goes.
    form.BenutzerEdit->selectAll();
    QTest::keyClicks(form.BenutzerEdit, QStringLiteral("bernd"));
    QCOMPARE(form.BuchBox->count(), 0);

    // Bernd has no book: he hears so, and "OK" makes one under his name.
    QString told;
    whenModal([&](QWidget* box) {
        told = messageText(box);
        clickButton(box, QStringLiteral("OK"));
    });
    button(&form, QStringLiteral("Adressbücher &abrufen"))->click();
    QCOMPARE(told,
             QStringLiteral("Keine Adressbücher gefunden – beim Verknüpfen wird eines angelegt."));
    QCOMPARE(form.Hinweis->text(), told);
    QCOMPARE(form.BuchBox->count(), 1);
    QVERIFY(form.NeuesBuchEdit->isEnabled());
    QVERIFY(!QApplication::overrideCursor());
    whenModal([&](QWidget* ask) {
        whenModal([&](QWidget* now) { clickButton(now, QStringLiteral("&Nein")); });
        clickButton(ask, QStringLiteral("&Ja"));
    });
    button(&form, QStringLiteral("OK"))->click();
    const QStringList bernds = bookPaths(server.url(), QStringLiteral("bernd"));
    QCOMPARE(bernds.size(), 1);
    const QUrl linked = sync::linkedBook(store.tableFileName());
    QCOMPARE(linked.path(), bernds[0]);
    QCOMPARE(linked.userName(), QStringLiteral("bernd"));
    QCOMPARE(bookPaths(server.url(), QStringLiteral("anna")), QStringList{annasBook.path()});
}

// The usual day: the default table synced when the program starts and
// before it ends, the same person shown after the sync wherever it moved
// her, and a sync that fails at the end asking before the program ends.
void TestSyncWindows::quittingWithTheSettingOnSyncs() {
    test::Radicale server;
    if (!server.problem().isEmpty())
        QSKIP(qPrintable(server.problem()));
    testsupport::Sandbox sandbox;
    carddav::CardDavClient client({server.url(), QStringLiteral("anna"), {}});
    QUrl book = client.createAddressBook(QStringLiteral("Familie"));
    const QString table = sandbox.file(QStringLiteral("ADRESSEN.db"));
    testsupport::makeAddressTable(
        table, {{{"Name", "Ahrens"}, {"Ort", "Lübeck"}}, {{"Name", "Böhm"}, {"Ort", "Lübeck"}}});
    QUrl linked = book;
    linked.setUserName(QStringLiteral("anna"));
    sync::linkTable(table, linked, QDateTime::currentDateTime());
    QCOMPARE(sync::synchronise(table, {}).addedThere, 2);
    WritePrivateProfileStrings(
        {{QStringLiteral("Standardtabelle"), QStringLiteral("FileName"), table},
         {QStringLiteral("Synchronisation"), QStringLiteral("BeimOeffnenUndSchliessen"),
          QStringLiteral("1")}},
        setupIniPath());
    // Meanwhile on the phone: Abel, who comes first in the table.
    client.put(book.path() + QStringLiteral("abel.vcf"),
               "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:abel\r\nFN:Eva Abel\r\n"
               "N:Abel;Eva;;;\r\nEND:VCARD\r\n",
               {});

    auto window = std::make_unique<THauptformular>();
    window->show();
    QVERIFY(testsupport::activate(window.get()));
    QCOMPARE(window->Datentabelle.fieldText(QStringLiteral("Name")), QStringLiteral("Ahrens"));
    // The password is asked once in the run; the sync that has nothing to
    // say shows nothing.
    int asked = 0;
    auto watch = whenModal([&](QWidget* modal) {
        ++asked;
        QVERIFY(qobject_cast<QInputDialog*>(modal));
        qobject_cast<QInputDialog*>(modal)->accept();
    });
    window->AfterStart();
    watch.cancel();
    QCOMPARE(asked, 1);
    QCOMPARE(window->Datentabelle.visibleCount(), 3);
    QCOMPARE(window->Datentabelle.fieldText(QStringLiteral("Name")), QStringLiteral("Ahrens"));
    QCOMPARE(window->Datentabelle.RecordNumber(), 2);
    // What the sync brought is one step to undo.
    QCOMPARE(window->Datentabelle.undoLabel(),
             QStringLiteral("Abgleich mit 127.0.0.1 (1 Adresse)"));

    // An edit typed and not saved, then the window closed: saved, then sent.
    QVERIFY(testsupport::activate(window.get()));
    auto* ort = window->findChild<vellumo::DBEdit*>(QStringLiteral("DBEditOrt"));
    ort->setFocus();
    ort->selectAll();
    testsupport::typeText(ort, QStringLiteral("Rostock"));
    QVERIFY(window->close());
    auto serverHas = [&](const QByteArray& name, const QByteArray& town) {
        for (const carddav::Card& c : allCards(client, book))
            if (c.vcard.contains(name) && c.vcard.contains(town))
                return true;
        return false;
    };
    QVERIFY(serverHas("Ahrens", "Rostock"));
    window.reset();

    // The server down at the end: asked, "Nein" keeps the program, "Ja" ends
    // it, and the edit stays in the table for the next sync.
    window = std::make_unique<THauptformular>();
    window->show();
    QVERIFY(testsupport::activate(window.get()));
    server.stop();
    window->Datentabelle.GoToLast();
    window->Datentabelle.BeginEdit();
    window->Datentabelle.SetFieldText(QStringLiteral("Ort"), QStringLiteral("Kiel"));
    QString question;
    whenModal([&](QWidget* box) {
        question = messageText(box);
        clickButton(box, QStringLiteral("&Nein"));
    });
    QVERIFY(!window->close());
    QVERIFY2(question.contains(QStringLiteral("Abgleich mit dem Adressbuch ist misslungen")) &&
                 question.endsWith(QStringLiteral("Vellumo trotzdem beenden?")),
             qPrintable(question));
    QVERIFY(window->isVisible());
    QCOMPARE(window->Datentabelle.fieldText(QStringLiteral("Name")), QStringLiteral("Böhm"));
    whenModal([&](QWidget* box) { clickButton(box, QStringLiteral("&Ja")); });
    QVERIFY(window->close());
    window.reset();
    server.start();
    QCOMPARE(sync::synchronise(table, {}).changedThere, 1);
    QVERIFY(serverHas("Böhm", "Kiel"));
}

QTEST_MAIN(TestSyncWindows)
#include "tst_syncwindows.moc"
