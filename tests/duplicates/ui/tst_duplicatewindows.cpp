// The list of likely duplicates and the merge dialog as a user goes through
// them: pairs best first with their reasons, one marked as none and not
// offered again, one merged with a value chosen by hand.
#include "addresstables.h"
#include "testsupport.h"

#include "duplicates/dismissed.h"
#include "duplicates/ui/formdubletten.h"
#include "duplicates/ui/formzusammenfuehren.h"
#include "exchange/ui/exchangedialog.h"
#include "platform/database/recordstore.h"

#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>

using testsupport::Address;

class tst_DuplicateWindows : public QObject {
    Q_OBJECT

    testsupport::Sandbox sandbox_;

    // With VELLUMO_SCREENSHOT_DIR set, the window as it looks.
    static void shoot(QWidget* window, const char* name) {
        const QString dir = qEnvironmentVariable("VELLUMO_SCREENSHOT_DIR");
        if (!dir.isEmpty()) {
            window->show();
            window->grab().save(dir + u'/' + QLatin1String(name));
        }
    }

private slots:
    void markOneAsNoneAndMergeTheOther() {
        vellumo::RecordStore store;
        const QString table = sandbox_.file("Dubletten");
        testsupport::makeAddressTable(
            store, table,
            {Address{{"Name", "Müller"},
                     {"Vorname", "Jürgen"},
                     {"Telefon1", "0221 111111"},
                     {"Email", "jm@example.de"}},
             Address{{"Name", "Mueller"},
                     {"Vorname", "Juergen"},
                     {"Telefon1", "0170 222222"},
                     {"Email", "JM@example.de"}},
             Address{{"Name", "Schmidt"}, {"Vorname", "Dr. Anna"}, {"Ort", "Bonn"}},
             Address{{"Name", "Schmidt"}, {"Vorname", "Anna"}, {"Ort", "Bonn"}},
             Address{{"Name", "Zeh"}, {"Vorname", "Eva"}, {"Ort", "Köln"}},
             Address{{"Name", "Zeh"}, {"Vorname", "Eva"}, {"Ort", "Kiel"}}});

        auto form = std::make_unique<duplicates::ui::TFormDubletten>(store);
        auto* list = form->findChild<QTreeWidget*>("ListeDubletten");
        QCOMPARE(form->shownCount(), 2); // the namesakes in Köln and Kiel are two people
        QCOMPARE(list->topLevelItem(0)->text(3),
                 QString("Name wie Juergen Mueller/Jürgen Müller, gleiche E-Mail-Adresse"));
        QCOMPARE(list->topLevelItem(1)->text(3),
                 QString("Name bis auf den Titel gleich, gleicher Ort"));
        QCOMPARE(list->topLevelItem(0)->text(0), QString("80"));
        shoot(form.get(), "dubletten.png");

        // The Schmidts are two people: not offered again, also in a new list.
        list->setCurrentItem(list->topLevelItem(1));
        form->findChild<QPushButton*>("ButtonKeineDubletten")->click();
        QCOMPARE(form->shownCount(), 1);
        QVERIFY(QFile::exists(sandbox_.file("Dubletten.keine-dubletten")));
        form = std::make_unique<duplicates::ui::TFormDubletten>(store);
        list = form->findChild<QTreeWidget*>("ListeDubletten");
        QCOMPARE(form->shownCount(), 1);

        // Skipped: gone from this list only.
        form->findChild<QPushButton*>("ButtonUeberspringen")->click();
        QCOMPARE(form->shownCount(), 0);
        QVERIFY(!form->findChild<QPushButton*>("ButtonZusammenfuehren")->isEnabled());
        form->refresh();
        QCOMPARE(form->shownCount(), 1);

        // Merged through the dialog, the second phone number taken by hand.
        bool shown = false;
        auto answer = testsupport::whenModal([&](QWidget* modal) {
            auto* merge = qobject_cast<duplicates::ui::TFormZusammenfuehren*>(modal);
            QVERIFY(merge);
            shown = true;
            auto* fields = merge->findChild<QTableWidget*>("TabelleFelder");
            const int phone = merge->rowOf("Telefon1");
            QVERIFY(fields->item(phone, 0)->text().endsWith(u'≠'));
            QCOMPARE(fields->item(phone, 1)->checkState(), Qt::Checked);
            // Space on the other value takes it.
            fields->setCurrentCell(phone, 2);
            QTest::keyClick(fields, Qt::Key_Space);
            QCOMPARE(fields->item(phone, 1)->checkState(), Qt::Unchecked);
            QCOMPARE(fields->item(phone, 3)->text(), QString("0221 111111"));
            QVERIFY(fields->item(merge->rowOf("Memo1"), 3)
                        ->text()
                        .contains("Telefon 1 (alt): 0170 222222"));
            shoot(merge, "zusammenfuehren.png");
            merge->findChild<QPushButton*>("ButtonZusammenfuehren")->click();
        });
        form->findChild<QPushButton*>("ButtonZusammenfuehren")->click();
        QVERIFY(shown);
        QCOMPARE(store.storedCount(), 5);
        QCOMPARE(form->shownCount(), 0);
        QCOMPARE(store.fieldText("Name"), QString("Müller")); // the merged record is current
        QCOMPARE(store.fieldText("Telefon1"), QString("0221 111111"));
        QCOMPARE(store.fieldText("Memo1"), QString("Telefon 1 (alt): 0170 222222"));
    }

    // An import that brings a person the table has: the report says so in
    // its summary and details, and its button opens the list on just that
    // pair, not on the pair the table had before.
    void anImportNamesWhatItBroughtTwice() {
        vellumo::RecordStore store;
        testsupport::makeAddressTable(
            store, sandbox_.file("Vorher"),
            {Address{{"Name", "Müller"},
                     {"Vorname", "Jürgen"},
                     {"Ort", "Köln"},
                     {"Telefon1", "0221 123456"}},
             Address{{"Name", "Schmidt"}, {"Vorname", "Dr. Anna"}, {"Ort", "Bonn"}},
             Address{{"Name", "Schmidt"}, {"Vorname", "Anna"}, {"Ort", "Bonn"}}});
        const QString cards = sandbox_.file("karten.vcf");
        QFile file(cards);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Mueller;Juergen;;;\r\nFN:Juergen Mueller\r\n"
                   "TEL;TYPE=CELL:+49 221 123456\r\nEND:VCARD\r\n"
                   "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Neu;Nina;;;\r\nFN:Nina Neu\r\nEND:VCARD\r\n");
        file.close();
        QWidget parent;
        QString summary, details;
        int listed = -1;
        auto answer = testsupport::whenModal([&](QWidget* modal) {
            testsupport::whenModal([&](QWidget* box) {
                summary = testsupport::messageText(box);
                details = qobject_cast<QMessageBox*>(box)->detailedText();
                testsupport::whenModal([&](QWidget* list) {
                    auto* form = qobject_cast<duplicates::ui::TFormDubletten*>(list);
                    QVERIFY(form);
                    listed = form->shownCount();
                    form->reject();
                });
                testsupport::clickButton(box, "&Doppelte Adressen zeigen …");
            });
            auto* name = modal->findChild<QLineEdit*>("fileNameEdit");
            QVERIFY(name);
            name->setText(cards);
            QTest::keyClick(name, Qt::Key_Return);
        });
        vellumo::exchange::ImportierenClick(store, &parent);
        QVERIFY2(summary.endsWith("Eine importierte Adresse ist vermutlich doppelt."),
                 qPrintable(summary));
        QVERIFY2(details.contains("vermutlich doppelt: Juergen Mueller – schon da: Jürgen Müller, "
                                  "Köln (Name wie Juergen Mueller/Jürgen Müller, gleiche "
                                  "Telefonnummer)"),
                 qPrintable(details));
        QCOMPARE(listed, 1);
        QCOMPARE(store.storedCount(), 5);
    }
};

QTEST_MAIN(tst_DuplicateWindows)
#include "tst_duplicatewindows.moc"
