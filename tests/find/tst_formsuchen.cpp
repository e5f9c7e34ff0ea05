// The search dialog and the person selection list, driven through their
// controls on a real address table.
#include "addresstables.h"
#include "testsupport.h"

#include "find/formpersonauswahl.h"
#include "find/formsuchen.h"
#include "platform/database/datasource.h"
#include "platform/database/dbgrid.h"
#include "platform/database/recordstore.h"
#include "platform/settings/profile.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace vellumo;
using testsupport::Address;

namespace {

QList<Address> addresses() {
    return {
        {{"Name", "Albers"}, {"Vorname", "Anton"}, {"PLZ", "10115"}, {"Ort", "Berlin"}},
        {{"Name", "Meier"}, {"Vorname", "Bernd"}, {"PLZ", "20095"}, {"Ort", "Hamburg"}},
        {{"Name", "Meier"}, {"Vorname", "Anna"}, {"PLZ", "10115"}, {"Ort", "Berlin"}},
        {{"Name", "Meiering"}, {"Vorname", "Carl"}, {"PLZ", "80331"}, {"Ort", u"München"_qs}},
        {{"Name", "O'Neill"}, {"Vorname", "Sean"}, {"PLZ", "50667"}, {"Ort", u"Köln"_qs}},
        {{"Name", "Schulz"}, {"Vorname", "Doris"}, {"Strasse", u"Hauptstraße 1"_qs}},
        {{"Name", ""}, {"Vorname", "Namenlos"}, {"Telefon2", "0301234"}},
        {{"Name", "*"}, {"Vorname", "Stern"}},
    };
}

// Answers every message box that opens and remembers its text; closes an
// unexpected selection list.
struct BoxWatcher {
    QStringList texts;
    QTimer timer;
    BoxWatcher() {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || !modal->isVisible())
                return;
            if (qobject_cast<QMessageBox*>(modal)) {
                texts << modal->windowTitle() + "|" + testsupport::messageText(modal);
                testsupport::clickButton(modal, "OK");
            } else if (auto* list = qobject_cast<TFormPersonAuswahl*>(modal)) {
                // A list nobody expected would wait for ever.
                texts << list->windowTitle();
                list->reject();
            }
        });
        timer.start(10);
    }
};

} // namespace

class tst_FormSuchen : public QObject {
    Q_OBJECT

    struct Fixture {
        testsupport::Sandbox sandbox;
        RecordStore store;
        DataSource source{store};
        TFormPersonAuswahl list{source};
        std::unique_ptr<TFormSuchen> dialog;
        explicit Fixture(const QList<Address>& rows = addresses()) {
            testsupport::makeAddressTable(store, sandbox.file("Adressen"), rows);
            dialog = std::make_unique<TFormSuchen>(source, list);
        }
        QComboBox* combo() const { return dialog->findChild<QComboBox*>("ComboBox1"); }
        QLineEdit* edit() const { return dialog->findChild<QLineEdit*>("EditSuchenText"); }
        QPushButton* button(const char* name) const {
            return dialog->findChild<QPushButton*>(name);
        }
        // Opens the dialog modally, lets fill() type into it, then presses
        // Enter in the search text unless fill() closed the dialog already;
        // Enter leaves it open (openAfterEnter), and Esc closes it.
        // Returns the dialog's result.
        bool openAfterEnter = false;
        int search(const std::function<void()>& fill) {
            openAfterEnter = false;
            testsupport::whenModal([this, fill](QWidget* modal) {
                QCOMPARE(modal, dialog.get());
                fill();
                if (dialog->isVisible()) {
                    QTest::keyClick(edit(), Qt::Key_Return);
                    openAfterEnter = dialog->isVisible();
                    QTest::keyClick(edit(), Qt::Key_Escape);
                }
            });
            return dialog->exec();
        }
        int searchFor(const QString& caption, const QString& text) {
            return search([this, caption, text] {
                combo()->setEditText(caption);
                testsupport::typeText(edit(), text);
            });
        }
        QString current(const char* field = "Vorname") const {
            return store.fieldText(QString::fromUtf8(field));
        }
        // Position in the whole table of the record with this first name.
        int numberOf(const QString& vorname) const {
            if (store.IsFilterActive())
                return -1;
            for (int row = 0; row < store.visibleCount(); ++row)
                if (store.valueAt(row, "Vorname").toString() == vorname)
                    return row + 1;
            return 0;
        }
    };

private slots:
    void inputControlsArePaleYellowWithoutStoredColour() {
        Fixture f;
        QCOMPARE(f.edit()->palette().color(QPalette::Base), QColor(250, 250, 133));
        QCOMPARE(f.combo()->palette().color(QPalette::Base), QColor(250, 250, 133));
    }

    void storedInputColourIsReadAtCreation() {
        testsupport::Sandbox sandbox;
        WritePrivateProfileString("Colors", "Eingabe", "0x0000FF", setupIniPath());
        WritePrivateProfileString("Colors", "EingabeText", "255", setupIniPath());
        RecordStore store;
        DataSource source(store);
        TFormPersonAuswahl list(source);
        TFormSuchen dialog(source, list);
        auto* edit = dialog.findChild<QLineEdit*>("EditSuchenText");
        QCOMPARE(edit->palette().color(QPalette::Base), QColor(255, 0, 0));
        // The text colour is not read here.
        QCOMPARE(edit->palette().color(QPalette::Text),
                 QApplication::palette().color(QPalette::Text));
    }

    void searchOutcomes() {
        Fixture f;
        BoxWatcher boxes;

        // "Mei" matches no whole value: the table ends unfiltered on its first record.
        f.store.StepBy(3);
        f.searchFor("Name", "Mei");
        QVERIFY(f.openAfterEnter);
        QCOMPARE(boxes.texts, QStringList{"Information|Keinen entsprechenden Datensatz gefunden!"});
        QVERIFY(!f.store.IsFilterActive());
        QCOMPARE(f.store.RecordNumber(), 1);

        // One match never opens the list; it becomes current in the whole table.
        boxes.texts.clear();
        f.searchFor("Name", "meiering");
        QVERIFY(boxes.texts.isEmpty());
        QVERIFY(!f.list.isVisible());
        QVERIFY(!f.store.IsFilterActive());
        QCOMPARE(f.current("Name"), QStringLiteral("Meiering"));
        QCOMPARE(f.store.RecordNumber(), f.numberOf("Carl"));
        QCOMPARE(f.store.CountRecords(), 8);

        // Field captions map to their fields.
        f.searchFor("Postleitzahl", "50667");
        QCOMPARE(f.current(), QStringLiteral("Sean"));
        f.searchFor(u"Straße"_qs, u"hauptstraße 1"_qs);
        QCOMPARE(f.current(), QStringLiteral("Doris"));
        f.searchFor("Telefon 2", "0301234");
        QCOMPARE(f.current(), QStringLiteral("Namenlos"));

        // An apostrophe in the text is found, not refused.
        f.searchFor("Name", "o'neill");
        QCOMPARE(f.current(), QStringLiteral("Sean"));
        QVERIFY(boxes.texts.isEmpty());

        // An empty text searches for empty values.
        f.store.GoToLast();
        f.searchFor("Name", "");
        QCOMPARE(f.current(), QStringLiteral("Namenlos"));

        // "*" alone is literal; "A*" finds all values beginning with A.
        f.searchFor("Name", "*");
        QCOMPARE(f.current(), QStringLiteral("Stern"));
        f.searchFor("Name", "alb*");
        QCOMPARE(f.current(), QStringLiteral("Anton"));
        QVERIFY(boxes.texts.isEmpty());
    }

    void unknownCaptionReportsTheStoresError() {
        Fixture f;
        BoxWatcher boxes;
        f.store.StepBy(2);
        // Typed in lower case, "name" is no caption: no search on "Name",
        // and nothing completes it to "Name" behind the user's back.
        const int result = f.search([&] {
            testsupport::typeText(f.edit(), "Meier");
            f.combo()->setFocus();
            f.combo()->lineEdit()->selectAll();
            testsupport::typeText(f.combo(), "name");
            QTest::keyClick(f.combo(), Qt::Key_Return);
        });
        QCOMPARE(result, int(QDialog::Accepted));
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY2(boxes.texts.first().startsWith(u"Vellumo|Ungültiger Filterausdruck"_qs),
                 qPrintable(boxes.texts.first()));
        QVERIFY(!f.dialog->isVisible());
        QVERIFY(!f.list.isVisible());
    }

    void openingAgainStartsWithNameAndAnEmptyText() {
        Fixture f;
        BoxWatcher boxes;
        f.searchFor("Ort", "hamburg");
        QString caption, text;
        bool focused = false;
        testsupport::whenModal([&](QWidget*) {
            caption = f.combo()->currentText();
            text = f.edit()->text();
            focused = f.edit()->hasFocus();
            QTest::keyClick(f.combo(), Qt::Key_Escape);
        });
        QCOMPARE(f.dialog->exec(), int(QDialog::Rejected));
        QCOMPARE(caption, QStringLiteral("Name"));
        QCOMPARE(text, QString());
        QVERIFY(focused);
    }

    void escapeAndAbbruchSearchNothing() {
        Fixture f;
        QSignalSpy searches(f.dialog.get(), &TFormSuchen::searchDone);
        f.store.StepBy(2);
        testsupport::whenModal([&](QWidget*) {
            testsupport::typeText(f.edit(), "Meier");
            QTest::keyClick(f.edit(), Qt::Key_Escape);
        });
        QCOMPARE(f.dialog->exec(), int(QDialog::Rejected));
        testsupport::whenModal([&](QWidget*) {
            testsupport::typeText(f.edit(), "Meier");
            f.button("AbbruchButton")->click();
        });
        QCOMPARE(f.dialog->exec(), int(QDialog::Rejected));
        QCOMPARE(searches.count(), 0);
        QCOMPARE(f.store.RecordNumber(), 3);
    }

    // Enter in the search text searches once and leaves the dialog open,
    // also with exactly one match; the button "Suchen" searches and closes.
    void enterSearchesOnceAndStaysOpen() {
        Fixture f;
        QSignalSpy searches(f.dialog.get(), &TFormSuchen::searchDone);
        bool open = false;
        QString found;
        testsupport::whenModal([&](QWidget*) {
            testsupport::typeText(f.edit(), "Albers");
            QTest::keyClick(f.edit(), Qt::Key_Return);
            open = f.dialog->isVisible();
            found = f.current("Name");
            // A late release of that Enter must not search again.
            QTest::keyRelease(f.edit(), Qt::Key_Return);
            f.edit()->selectAll();
            testsupport::typeText(f.edit(), "Schulz");
            QTest::keyClick(f.button("ButtonSuchen"), Qt::Key_Space);
        });
        QCOMPARE(f.dialog->exec(), int(QDialog::Accepted));
        QVERIFY(open);
        QCOMPARE(found, QStringLiteral("Albers"));
        QCOMPARE(searches.count(), 2);
        QCOMPARE(f.current(), QStringLiteral("Doris"));
        QVERIFY(!f.dialog->isVisible());
    }

    void helpButtonAsksForTopicThree() {
        // Alone, with no help behind it, the button says so and the dialog
        // stays open.
        Fixture f;
        QString title, text;
        bool stillOpen = false;
        testsupport::whenModal([&](QWidget*) {
            testsupport::whenModal([&](QWidget* box) {
                title = box->windowTitle();
                text = testsupport::messageText(box);
                testsupport::clickButton(box, "OK");
                QTimer::singleShot(0, f.dialog.get(), [&] {
                    stillOpen = f.dialog->isVisible();
                    f.dialog->reject();
                });
            });
            QTest::mouseClick(f.button("HilfeButton"), Qt::LeftButton);
        });
        QCOMPARE(f.dialog->exec(), int(QDialog::Rejected));
        QCOMPARE(text, QString("Diese Funktion ist noch nicht verfügbar."));
        QCOMPARE(title, QString("Information"));
        QVERIFY(stillOpen);

        // With the program's help connected, the click asks for topic 3.
        int topic = 0;
        connect(f.dialog.get(), &TFormSuchen::helpRequested, this,
                [&](int context) { topic = context; });
        testsupport::whenModal([&](QWidget*) {
            QTest::mouseClick(f.button("HilfeButton"), Qt::LeftButton);
            f.dialog->reject();
        });
        f.dialog->exec();
        QCOMPARE(topic, 3);
    }

    void twoMatchesOpenTheListAndOkChoosesInTheWholeTable() {
        Fixture f;
        int rows = -1;
        QString firstShown;
        testsupport::whenModal([&](QWidget*) {
            testsupport::whenModal([&](QWidget* list) {
                rows = f.list.grid()->model()->rowCount();
                firstShown = f.current();
                QVERIFY(f.list.grid()->hasFocus());
                QTest::keyClick(f.list.grid(), Qt::Key_Down);
                QTest::keyClick(list, Qt::Key_Return);
            });
            // Case does not matter: "meier" finds both Meiers.
            testsupport::typeText(f.edit(), "meier");
            QTest::keyClick(f.edit(), Qt::Key_Return);
            QTest::keyClick(f.edit(), Qt::Key_Escape); // Enter left it open
        });
        f.dialog->exec();
        QCOMPARE(rows, 2);
        QCOMPARE(firstShown, QStringLiteral("Anna")); // key order: Meier Anna before Meier Bernd
        QVERIFY(!f.store.IsFilterActive());
        QCOMPARE(f.current(), QStringLiteral("Bernd"));
        QCOMPARE(f.store.RecordNumber(), f.numberOf("Bernd"));
        QCOMPARE(f.store.CountRecords(), 8);
    }

    void thirdOfThreeChosenWithEnter() {
        Fixture f;
        QStringList shown;
        testsupport::whenModal([&](QWidget*) {
            testsupport::whenModal([&](QWidget* list) {
                QAbstractItemModel* model = f.list.grid()->model();
                for (int row = 0; row < model->rowCount(); ++row)
                    shown << model->index(row, 0).data().toString() + " " +
                                 model->index(row, 1).data().toString();
                QTest::keyClick(f.list.grid(), Qt::Key_Down);
                QTest::keyClick(f.list.grid(), Qt::Key_Down);
                QTest::keyClick(list, Qt::Key_Return);
            });
            testsupport::typeText(f.edit(), "Mei*");
            QTest::keyClick(f.edit(), Qt::Key_Return);
            QTest::keyClick(f.edit(), Qt::Key_Escape); // Enter left it open
        });
        f.dialog->exec();
        QCOMPARE(shown, (QStringList{"Meier Anna", "Meier Bernd", "Meiering Carl"}));
        QVERIFY(!f.store.IsFilterActive());
        QCOMPARE(f.current("Name"), QStringLiteral("Meiering"));
        QCOMPARE(f.store.RecordNumber(), f.numberOf("Carl"));
    }

    void escapeInTheListLeavesTheMatchesUntilTheNextSearch() {
        Fixture f;
        testsupport::whenModal([&](QWidget*) {
            testsupport::whenModal([&](QWidget*) {
                QTest::keyClick(f.list.grid(), Qt::Key_Down);
                QTest::keyClick(f.list.grid(), Qt::Key_Escape);
            });
            testsupport::typeText(f.edit(), "Mei*");
            QTest::keyClick(f.edit(), Qt::Key_Return);
            QTest::keyClick(f.edit(), Qt::Key_Escape); // Enter left it open
        });
        f.dialog->exec();
        QVERIFY(f.store.IsFilterActive());
        QCOMPARE(f.current(), QStringLiteral("Bernd"));
        // The main window now moves among the three matches only.
        QCOMPARE(f.store.CountRecords(), 3);
        f.store.GoToLast();
        QCOMPARE(f.current(), QStringLiteral("Carl"));
        f.store.StepForward();
        QCOMPARE(f.current(), QStringLiteral("Carl"));

        // The next search starts from the whole table again.
        f.searchFor("Name", "Schulz");
        QVERIFY(!f.store.IsFilterActive());
        QCOMPARE(f.current(), QStringLiteral("Doris"));
        QCOMPARE(f.store.CountRecords(), 8);
    }

    void closeBoxOfTheListActsLikeEscape() {
        Fixture f;
        testsupport::whenModal([&](QWidget*) {
            testsupport::whenModal([&](QWidget* list) { list->close(); });
            testsupport::typeText(f.edit(), "Meier");
            QTest::keyClick(f.edit(), Qt::Key_Return);
            QTest::keyClick(f.edit(), Qt::Key_Escape); // Enter left it open
        });
        f.dialog->exec();
        QVERIFY(f.store.IsFilterActive());
        QCOMPARE(f.store.CountRecords(), 2);
    }

    void deletingAMatchInTheListKeepsTheOthers() {
        Fixture f;
        int rowsAfter = -1;
        testsupport::whenModal([&](QWidget*) {
            testsupport::whenModal([&](QWidget* list) {
                testsupport::whenModal([](QWidget* box) { testsupport::clickButton(box, "OK"); });
                QTest::keyClick(f.list.grid(), Qt::Key_Delete, Qt::ControlModifier);
                rowsAfter = f.list.grid()->model()->rowCount();
                QTest::keyClick(list, Qt::Key_Return);
            });
            testsupport::typeText(f.edit(), "Mei*");
            QTest::keyClick(f.edit(), Qt::Key_Return);
            QTest::keyClick(f.edit(), Qt::Key_Escape); // Enter left it open
        });
        f.dialog->exec();
        QCOMPARE(rowsAfter, 2);
        QCOMPARE(f.store.CountRecords(), 7);
        QVERIFY(!f.store.IsFilterActive());
        QCOMPARE(f.current(), QStringLiteral("Bernd"));
    }
};

QTEST_MAIN(tst_FormSuchen)
#include "tst_formsuchen.moc"
