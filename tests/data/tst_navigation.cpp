// Moving, adding, changing and deleting records through the main window's
// record buttons and entry fields, with real clicks and keys.
#include "addresstables.h"
#include "app/hauptformular.h"
#include "platform/database/boundcontrols.h"
#include "platform/database/recordstore.h"
#include "platform/settings/profile.h"
#include "testsupport.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QToolButton>

using namespace vellumo;
using namespace testsupport;

namespace {

const QDate kThen(2020, 1, 2);
const QDate kToday(2024, 3, 15);
const QString kClosedError = "Operation bei geschlossener Datenmenge nicht ausführbar.";

struct Person {
    QString name;
    QString ort;
};

// An address table of people, all made and changed on kThen.
void makeTable(const QString& path, const QList<Person>& people) {
    QList<testsupport::Address> rows;
    for (const Person& p : people)
        rows << testsupport::Address{
            {"Name", p.name}, {"Ort", p.ort}, {"Erstellt", kThen}, {"Aenderung", kThen}};
    testsupport::makeAddressTable(path, rows);
}

void storeDefault(const QString& value) {
    WritePrivateProfileString("Standardtabelle", "FileName", value, setupIniPath());
}

// Runs click and returns the text of the message box it opened (answered with
// answer), or "" when none opened.
QString boxAfter(const std::function<void()>& click, const QString& answer = "OK") {
    QString text;
    auto watch = whenModal(
        [&](QWidget* modal) {
            text = messageText(modal);
            clickButton(modal, answer);
        },
        2000);
    click();
    // The box may open only once the click's event has been handled (an
    // error of a field that was left is shown after the focus moved).
    if (!QTest::qWaitFor([&] { return watch.answered(); }, 2000))
        qWarning("no box opened within 2 s");
    // A box opening after this would write to text, which is gone by then.
    watch.cancel();
    return text;
}

} // namespace

class TestNavigation : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Sandbox> sandbox_;
    std::unique_ptr<FixedClock> clock_;
    std::unique_ptr<THauptformular> window_;

    QString table() const { return sandbox_->file("Kunden.db"); }
    template <class T = QWidget> T* child(const char* name) const {
        T* found = window_->findChild<T*>(name);
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
    RecordStore& store() const { return window_->Datentabelle; }
    QLabel* statusLabel() const { return child<QLabel>("StatusLabel"); }
    QString status() const { return statusLabel()->text(); }
    QLineEdit* edit(const char* name) const { return child<QLineEdit>(name); }

    // Starts the main window the way the program does, with table as the
    // stored default when given.
    void start(const QList<Person>* people) {
        if (people) {
            makeTable(table(), *people);
            storeDefault(table());
        }
        window_ = std::make_unique<THauptformular>();
        window_->show();
        QVERIFY(activate(window_.get()));
    }
    void click(QToolButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    QToolButton* first() const { return child<QToolButton>("ButtonFirst"); }
    QToolButton* prior() const { return child<QToolButton>("ButtonPrior"); }
    QToolButton* next() const { return child<QToolButton>("ButtonNext"); }
    QToolButton* last() const { return child<QToolButton>("ButtonLast"); }
    QToolButton* add() const { return child<QToolButton>("ButtonAdd"); }
    QToolButton* remove() const { return child<QToolButton>("ButtonDelete"); }

    // Focuses edit and types text at its end.
    void typeInto(QWidget* edit, const QString& text) {
        // A message box that just closed may have left the window inactive.
        QVERIFY(activate(window_.get()));
        QTest::mouseClick(edit, Qt::LeftButton);
        QTRY_VERIFY(edit->hasFocus());
        QTest::keyClick(edit, Qt::Key_End);
        typeText(edit, text);
    }

private slots:
    void init() {
        sandbox_ = std::make_unique<Sandbox>();
        resetSettingsLocation();
        clock_ = std::make_unique<FixedClock>(QDateTime(kToday, QTime(11, 30)));
    }
    void cleanup() {
        window_.reset();
        clock_.reset();
        sandbox_.reset();
    }

    void withoutTable() {
        start(nullptr);
        QCOMPARE(window_->windowTitle(), QString("Vellumo V2.5"));
        for (QToolButton* button : {first(), prior(), next(), last(), add(), remove()})
            QVERIFY(button->isEnabled());
        for (QToolButton* button : {first(), prior(), next(), last(), add()})
            QCOMPARE(boxAfter([&] { click(button); }), kClosedError);
        QCOMPARE(status(), QString());

        // The delete button asks first; only "&Ja" meets the closed table.
        QCOMPARE(boxAfter([&] { click(remove()); }, "&Nein"),
                 QString("Den aktuellen Datensatz wirklich löschen?"));
        QCOMPARE(status(), QString());
        QString error;
        whenModal([&](QWidget* question) {
            whenModal([&](QWidget* box) {
                error = messageText(box);
                clickButton(box, "OK");
            });
            clickButton(question, "&Ja");
        });
        click(remove());
        QTRY_COMPARE(error, kClosedError);
        QCOMPARE(status(), QString());
    }

    void movesOnThreeRecords() {
        const QList<Person> people{{"Meier", "Köln"}, {"Albers", "Bonn"}, {"Zander", "Aachen"}};
        start(&people);
        QCOMPARE(window_->windowTitle(), QString("Vellumo V2.0 - Kunden.db"));
        QCOMPARE(status(), QString("1/3"));
        QCOMPARE(edit("DBEditName")->text(), QString("Albers"));

        click(prior());
        QCOMPARE(status(), QString("1/3"));
        click(last());
        QCOMPARE(status(), QString("3/3"));
        QCOMPARE(edit("DBEditName")->text(), QString("Zander"));
        click(next());
        QCOMPARE(status(), QString("3/3"));
        click(prior());
        QCOMPARE(status(), QString("2/3"));
        QCOMPARE(edit("DBEditName")->text(), QString("Meier"));
        QCOMPARE(edit("DBEditOrt")->text(), QString("Köln"));
        click(first());
        QCOMPARE(status(), QString("1/3"));
        // A click takes no focus, so it never leaves an entry field; only Tab
        // brings the focus to the buttons.
        QCOMPARE(first()->focusPolicy(), Qt::TabFocus);
    }

    void movesOnOneAndNoRecords() {
        const QList<Person> one{{"Meier", "Köln"}};
        start(&one);
        for (QToolButton* button : {first(), prior(), next(), last()}) {
            click(button);
            QCOMPARE(status(), QString("1/1"));
        }
        window_.reset();

        QFile::remove(table());
        QFile::remove(sandbox_->file("Kunden.px"));
        QFile::remove(sandbox_->file("Kunden.mb"));
        const QList<Person> none;
        start(&none);
        QCOMPARE(status(), QString("0/0"));
        for (QToolButton* button : {first(), prior(), next(), last()}) {
            click(button);
            QCOMPARE(status(), QString("0/0"));
        }
        statusLabel()->setText("?");
        QString error;
        whenModal([&](QWidget* question) {
            whenModal([&](QWidget* box) {
                error = messageText(box);
                clickButton(box, "OK");
            });
            clickButton(question, "&Ja");
        });
        click(remove());
        QTRY_COMPARE(error, QString("Operation bei leerer Datenmenge nicht ausführbar."));
        QCOMPARE(status(), QString("?"));
    }

    void addThenMoveStoresABlankRecord() {
        const QList<Person> people{{"Meier", "Köln"}, {"Albers", "Bonn"}, {"Zander", "Aachen"}};
        start(&people);
        click(last());
        click(add());
        QCOMPARE(store().state(), StoreState::Inserting);
        QCOMPARE(edit("DBEditName")->text(), QString());
        QCOMPARE(store().fieldValue("Erstellt").toDate(), kToday);

        click(first());
        QCOMPARE(status(), QString("1/4"));
        // Empty key fields sort first.
        QCOMPARE(store().fieldText("Name"), QString());
        QCOMPARE(store().fieldValue("Erstellt").toDate(), kToday);
        QCOMPARE(store().fieldValue("Aenderung").toDate(), kToday);
        QCOMPARE(store().state(), StoreState::Browsing);

        // Adding while a new record is pending stores it first; a second blank
        // record would repeat the empty key, which the table refuses, and the
        // pending one stays for the user to fill in.
        click(add());
        QCOMPARE(boxAfter([&] { click(add()); }).isEmpty(), false);
        QCOMPARE(store().state(), StoreState::Inserting);
        QCOMPARE(store().CountRecords(), 4);
        typeInto(edit("DBEditName"), "Neumann");
        click(first());
        QCOMPARE(status(), QString("1/5"));
    }

    void leavingAChangedFieldSavesAndStamps() {
        const QList<Person> people{{"Meier", "Köln"}, {"Albers", "Bonn"}, {"Zander", "Aachen"}};
        start(&people);
        click(next()); // Meier
        typeInto(edit("DBEditOrt"), "-Süd");
        QCOMPARE(store().state(), StoreState::Editing);
        QTest::keyClick(edit("DBEditOrt"), Qt::Key_Tab);
        QCOMPARE(store().state(), StoreState::Browsing);
        QCOMPARE(store().fieldText("Ort"), QString("Köln-Süd"));
        QCOMPARE(child<QLabel>("DatumDBText")->text(), QString("15.03.2024"));

        // Leaving a field without a change saves nothing.
        clock_->set(QDateTime(kToday.addDays(1), QTime(8, 0)));
        QTest::mouseClick(edit("DBEditStrasse"), Qt::LeftButton);
        QTest::keyClick(edit("DBEditStrasse"), Qt::Key_Tab);
        QCOMPARE(store().fieldValue("Aenderung").toDate(), kToday);

        // What was saved is in the file.
        window_.reset();
        RecordStore check;
        check.BindTable(table());
        check.OpenTable();
        check.StepForward();
        QCOMPARE(check.fieldText("Name"), QString("Meier"));
        QCOMPARE(check.fieldText("Ort"), QString("Köln-Süd"));
        QCOMPARE(check.fieldValue("Aenderung").toDate(), kToday);
        check.StepForward();
        QCOMPARE(check.fieldValue("Aenderung").toDate(), kThen);
        check.CloseTableAtShutdown();
    }

    void aChangeIsSavedBeforeMovingOn() {
        const QList<Person> people{{"Meier", "Köln"}, {"Albers", "Bonn"}, {"Zander", "Aachen"}};
        start(&people);
        typeInto(edit("DBEditOrt"), "er Str.");
        click(next());
        QCOMPARE(status(), QString("2/3"));
        QCOMPARE(edit("DBEditOrt")->text(), QString("Köln"));
        click(first());
        QCOMPARE(edit("DBEditOrt")->text(), QString("Bonner Str."));
        QCOMPARE(store().fieldValue("Aenderung").toDate(), kToday);
    }

    void deleteAsksFirst() {
        const QList<Person> people{{"Meier", "Köln"}, {"Albers", "Bonn"}, {"Zander", "Aachen"}};
        start(&people);
        click(next());
        statusLabel()->setText("?");
        QString title;
        whenModal([&](QWidget* box) {
            title = box->windowTitle();
            clickButton(box, "&Nein");
        });
        click(remove());
        QTRY_COMPARE(status(), QString("2/3"));
        QCOMPARE(title, QString("Bestätigen"));
        QCOMPARE(edit("DBEditName")->text(), QString("Meier"));

        QCOMPARE(boxAfter([&] { click(remove()); }, "&Ja"),
                 QString("Den aktuellen Datensatz wirklich löschen?"));
        QTRY_COMPARE(status(), QString("2/2"));
        QCOMPARE(edit("DBEditName")->text(), QString("Zander"));

        // Deleting a record still being added only drops it.
        click(add());
        boxAfter([&] { click(remove()); }, "&Ja");
        QCOMPARE(store().CountRecords(), 2);
        QCOMPARE(store().state(), StoreState::Browsing);
    }

    void aDuplicateKeyLeavesTheRecordEditable() {
        const QList<Person> people{{"Meier", "Köln"}, {"Albers", "Köln"}};
        start(&people);
        click(next()); // Meier, Köln
        QTest::mouseClick(edit("DBEditName"), Qt::LeftButton);
        QTest::keyClick(edit("DBEditName"), Qt::Key_A, Qt::ControlModifier);
        typeText(edit("DBEditName"), "Albers");
        const QString error = boxAfter([&] { QTest::keyClick(edit("DBEditName"), Qt::Key_Tab); });
        QVERIFY2(!error.isEmpty(), "the key violation is reported");
        QCOMPARE(store().state(), StoreState::Editing);
        QCOMPARE(store().CountRecords(), 2);
        // The focus is back in the field to correct, and was not bounced around.
        QVERIFY(activate(window_.get()));
        QTRY_VERIFY(edit("DBEditName")->hasFocus());

        // Correcting the key field saves.
        typeInto(edit("DBEditName"), "-Neu");
        QTest::keyClick(edit("DBEditName"), Qt::Key_Tab);
        QCOMPARE(store().state(), StoreState::Browsing);
        QCOMPARE(store().fieldText("Name"), QString("Albers-Neu"));
    }

    void startUpWithAStoredDefault_data() {
        QTest::addColumn<QString>("stored"); // "-" = nothing stored
        QTest::addColumn<QString>("caption");
        QTest::newRow("good") << "@/Kunden.db"
                              << "Vellumo V2.0 - Kunden.db";
        QTest::newRow("relative") << "Kunden.db"
                                  << "Vellumo V2.0 - Kunden.db";
        QTest::newRow("missing") << "@/Weg.db"
                                 << "Vellumo V2.5";
        QTest::newRow("empty") << ""
                               << "Vellumo V2.5";
        QTest::newRow("nothing stored") << "-"
                                        << "Vellumo V2.5";
        QTest::newRow("a directory") << "@"
                                     << "Vellumo V2.5";
        QTest::newRow("not a table") << "@/Setup.ini"
                                     << "Vellumo V2.0";
    }
    void startUpWithAStoredDefault() {
        QFETCH(QString, stored);
        QFETCH(QString, caption);
        makeTable(table(), {{"Meier", "Köln"}});
        if (stored != "-")
            storeDefault(stored.replace("@", sandbox_->path()));
        QString unexpected;
        whenModal([&](QWidget* modal) { unexpected = modal->windowTitle(); }, 300);
        start(nullptr);
        const bool opened = caption.startsWith("Vellumo V2.0 -");
        QCOMPARE(window_->windowTitle(), caption);
        QCOMPARE(store().IsTableOpen(), opened);
        QCOMPARE(edit("DBEditName")->isEnabled(), opened);
        QCOMPARE(status(), opened ? QString("1/1") : QString());
        settle();
        QCOMPARE(unexpected, QString()); // silent, whatever was stored
        QVERIFY(!QApplication::activeModalWidget());
    }
};

QTEST_MAIN(TestNavigation)
#include "tst_navigation.moc"
