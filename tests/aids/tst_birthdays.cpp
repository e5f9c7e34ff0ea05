// The coming birthdays: the day rules, the list window driven through the
// main window, the reminder at start and the calendar file read by an
// independent reader.
#include "addresstables.h"
#include "testsupport.h"

#include "aids/birthdaycalendar.h"
#include "aids/birthdays.h"
#include "aids/formgeburtstage.h"
#include "app/hauptformular.h"
#include "app/startup.h"
#include "app/windows.h"
#include "exchange/exchange.h"
#include "platform/paradox/restructure.h"
#include "platform/paradox/table.h"
#include "platform/settings/profile.h"
#include "platform/system/system.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

using namespace vellumo::aids;

namespace {

QStringList rows(QWidget* form) {
    QStringList texts;
    auto* list = form->findChild<QTreeWidget*>("ListeGeburtstage");
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < list->columnCount(); ++column)
            cells << list->topLevelItem(row)->text(column);
        texts << cells.join('|');
    }
    return texts;
}

QAction* action(QWidget* window, const char* name) {
    auto* found = window->findChild<QAction*>(name);
    if (!found)
        qFatal("no action %s", name);
    return found;
}

// "&Suchen" / "&Geburtstage …" with the keyboard, as a person chooses it.
void chooseBirthdays(QWidget* main) {
    QVERIFY(testsupport::activate(main));
    QTest::keyClick(main, Qt::Key_S, Qt::AltModifier);
    QTRY_VERIFY(QApplication::activePopupWidget());
    QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_G);
}

const QList<testsupport::Address> kPeople = {
    {{"Name", "Albers"}, {"Vorname", "Anna"}, {"Ort", "Bonn"}},
    {{"Name", "Ohnejahr"}, {"Vorname", "Olaf"}, {"Geburtstag", "03.03.1604"}},
    {{"Name", "Schalt"}, {"Vorname", "Sara"}, {"Geburtstag", "29.02.1960"}},
    {{"Name", "Später"}, {"Vorname", "Sven"}, {"Geburtstag", "20.03.1980"}},
    {{"Name", "Zeder"}, {"Vorname", "Zoe"}, {"Geburtstag", "21.02.1990"}},
};

// A sandbox of its own with fresh settings, the clock stopped at now, and a
// main window on kPeople.
struct MainWindowOnPeople {
    explicit MainWindowOnPeople(const QDateTime& now) : clock(now) {
        testsupport::makeAddressTable(main.Datentabelle, sandbox.file("Adressen"), kPeople);
    }
    testsupport::Sandbox sandbox;
    const bool settingsReset = (vellumo::resetSettingsLocation(), true);
    testsupport::FixedClock clock;
    THauptformular main;
};

} // namespace

class TestBirthdays : public QObject {
    Q_OBJECT
private slots:
    // The list through the main window: it sees the records a search filter
    // hides, and a double-click settles the edit in progress, makes the
    // chosen record current (the filter goes off) and closes the list; Enter
    // does the same; the range and the 29 February rule are kept in Setup.ini.
    void listMovesMainWindow() {
        MainWindowOnPeople f(QDateTime(QDate(2025, 2, 20), QTime(9, 0)));
        THauptformular& main = f.main;
        main.EnableTableControls();
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        main.Datentabelle.SetFilterText("Name = 'Alb*'");
        main.Datentabelle.SetFilterActive(true);
        auto* ort = main.findChild<QLineEdit*>("DBEditOrt");
        QVERIFY(testsupport::activate(&main));
        QTest::mouseClick(ort, Qt::LeftButton);
        QTRY_VERIFY(ort->hasFocus());
        QTest::keyClick(ort, Qt::Key_End);
        testsupport::typeText(ort, "-Süd");

        QStringList shown;
        QString count;
        testsupport::whenModal([&](QWidget* modal) {
            QVERIFY(qobject_cast<TFormGeburtstage*>(modal));
            shown = rows(modal);
            count = modal->findChild<QLabel*>("LabelAnzahl")->text();
            auto* list = modal->findChild<QTreeWidget*>("ListeGeburtstage");
            const QRect cell = list->visualItemRect(list->topLevelItem(1));
            // A double-click needs the press of a first click on the same row.
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
        });
        chooseBirthdays(&main);
        QCOMPARE(shown, (QStringList{"morgen|21.02.2025|Zeder|Zoe|wird 35",
                                     "Freitag|28.02.2025|Schalt|Sara|wird 65",
                                     "Montag|03.03.2025|Ohnejahr|Olaf|"}));
        QCOMPARE(count, QStringLiteral("3 Geburtstage in den nächsten 14 Tagen."));
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(!main.Datentabelle.IsFilterActive());
        QCOMPARE(main.findChild<QLineEdit*>("DBEditName")->text(), QStringLiteral("Schalt"));
        QCOMPARE(main.Datentabelle.storedValue(0, "Ort").toString(), QStringLiteral("Bonn-Süd"));

        // The year nobody knows is shown as stored.
        testsupport::whenModal([&](QWidget* modal) {
            auto* list = modal->findChild<QTreeWidget*>("ListeGeburtstage");
            QTest::keyClick(list, Qt::Key_End);
            QTest::keyClick(list, Qt::Key_Return);
        });
        chooseBirthdays(&main);
        QCOMPARE(main.findChild<QLineEdit*>("DBEditName")->text(), QStringLiteral("Ohnejahr"));
        QCOMPARE(main.findChild<QLineEdit*>("DBEditGeb")->text(), QStringLiteral("03.03.1604"));

        QStringList onMarch1;
        testsupport::whenModal([&](QWidget* modal) {
            modal->findChild<QComboBox*>("ComboSchalttag")->setCurrentIndex(1);
            onMarch1 = rows(modal).filter("Schalt");
            modal->findChild<QSpinBox*>("SpinTage")->setValue(1);
            shown = rows(modal);
            count = modal->findChild<QLabel*>("LabelAnzahl")->text();
            QTest::keyClick(modal, Qt::Key_Escape);
        });
        chooseBirthdays(&main);
        QCOMPARE(shown, QStringList{"morgen|21.02.2025|Zeder|Zoe|wird 35"});
        QCOMPARE(count, QStringLiteral("1 Geburtstag bis morgen."));
        QCOMPARE(main.findChild<QLineEdit*>("DBEditName")->text(), QStringLiteral("Ohnejahr"));
        QCOMPARE(onMarch1, QStringList{"Samstag|01.03.2025|Schalt|Sara|wird 65"});
        const BirthdaySettings kept = readBirthdaySettings(vellumo::setupIniPath());
        QCOMPARE(kept.days, 1);
        QCOMPARE(kept.leapDay, LeapDayRule::March1);
    }

    // On a table linked to a book the record's UID names its birthday and
    // its card alike: a corrected name keeps both.
    void birthdayTakesTheRecordsUid() {
        testsupport::Sandbox sandbox;
        const QString path = sandbox.file("Verbunden.db");
        testsupport::makeAddressTable(
            path, {{{"Name", "Maier"}, {"Vorname", "Ina"}, {"Geburtstag", QDate(1970, 5, 17)}}});
        px::appendFields(path.toStdString(), {{"UID", px::FieldType::Alpha, 36}});
        vellumo::RecordStore store;
        store.BindTable(path);
        store.OpenTable();
        const QString uid = QStringLiteral("6f1c2a90-5b1e-4f52-9a0c-0123456789ab");
        store.BeginEdit();
        store.SetFieldText("UID", uid);
        store.SaveRecord();
        const auto uidLines = [&] {
            QStringList lines =
                QString::fromUtf8(birthdayCalendar(everyBirthday(store), {})).split("\r\n");
            QByteArray card;
            QBuffer buffer(&card);
            buffer.open(QIODevice::WriteOnly);
            vellumo::exchange::exportRecords(store, vellumo::exchange::Format::VCard, buffer);
            lines += QString::fromUtf8(card).split("\r\n");
            return lines.filter(QRegularExpression("^UID:"));
        };
        const QStringList before = uidLines();
        QCOMPARE(before, (QStringList{"UID:geburtstag-" + uid + "@vellumo", "UID:" + uid}));
        store.BeginEdit();
        store.SetFieldText("Name", "Meier");
        store.SaveRecord();
        QCOMPARE(uidLines(), before);
        store.CloseTableAtShutdown();
    }

    // "Als Kalender exportieren …" in the list: a later export, after an
    // edit and at another time, carries the same UIDs so a calendar replaces
    // its events; the reminder is the one chosen in the window; a file that
    // cannot be written is reported, never announced as saved.
    void calendarFromTheList() {
        testsupport::Sandbox sandbox;
        vellumo::resetSettingsLocation();
        testsupport::FixedClock clock(QDateTime(QDate(2025, 2, 20), QTime(9, 0)));
        vellumo::RecordStore store;
        testsupport::makeAddressTable(store, sandbox.file("Adressen"), kPeople);
        TFormGeburtstage form(store);
        form.show();
        auto* reminder = form.findChild<QComboBox*>("ComboErinnerung");
        reminder->setCurrentIndex(reminder->findData(2));
        auto exportTo = [&](const QString& target) {
            QString said;
            testsupport::whenModal([&](QWidget* chooser) {
                testsupport::whenModal([&](QWidget* box) {
                    said = testsupport::messageText(box);
                    testsupport::clickButton(box, "OK");
                });
                auto* name = chooser->findChild<QLineEdit*>("fileNameEdit");
                name->setText(target);
                QTest::keyClick(name, Qt::Key_Return);
            });
            QTest::mouseClick(form.findChild<QPushButton*>("ButtonKalender"), Qt::LeftButton);
            return said;
        };
        auto uids = [](const QString& path) {
            QFile file(path);
            return file.open(QIODevice::ReadOnly)
                       ? QString::fromUtf8(file.readAll()).split("\r\n").filter("UID:")
                       : QStringList();
        };

        QCOMPARE(exportTo(sandbox.file("erste.ics")),
                 QStringLiteral("4 Geburtstage wurden in erste.ics gespeichert."));
        store.moveToStored(4);
        store.BeginEdit();
        store.SetFieldText("Ort", "Celle");
        store.SaveRecord();
        clock.set(QDateTime(QDate(2025, 3, 1), QTime(18, 0)));
        QCOMPARE(exportTo(sandbox.file("zweite.ics")),
                 QStringLiteral("4 Geburtstage wurden in zweite.ics gespeichert."));
        QCOMPARE(uids(sandbox.file("zweite.ics")).size(), 4);
        QCOMPARE(uids(sandbox.file("zweite.ics")), uids(sandbox.file("erste.ics")));
        QFile second(sandbox.file("zweite.ics"));
        QVERIFY(second.open(QIODevice::ReadOnly));
        const QByteArray text = second.readAll();
        QCOMPARE(text.count("TRIGGER:-P1DT15H\r\n"), 4);
        QVERIFY(text.contains("DTSTAMP:20250301T"));

        const QString refused = exportTo("/proc/geburtstage.ics");
        QVERIFY2(refused.startsWith("Die Datei /proc/geburtstage.ics kann nicht geschrieben "
                                    "werden: "),
                 qPrintable(refused));
    }

    // Off by default; switched on in "&Einstellungen", the list comes at
    // start when a birthday is near, and only then.
    void reminderAtStart() {
        MainWindowOnPeople f(QDateTime(QDate(2025, 2, 18), QTime(9, 0)));
        THauptformular& main = f.main;
        QAction* atStart = action(&main, "GeburtstageBeimStart");
        QVERIFY(!atStart->isChecked());
        auto nothingShown = testsupport::whenModal([](QWidget* modal) { modal->close(); }, 200);
        showBirthdaysAtStart(main.Datentabelle, &main);
        QVERIFY(!nothingShown.answered());
        nothingShown.cancel();

        atStart->trigger();
        QVERIFY(readBirthdaySettings(vellumo::setupIniPath()).atStart);
        QStringList shown;
        testsupport::whenModal([&](QWidget* modal) {
            shown = rows(modal);
            QTest::keyClick(modal, Qt::Key_Escape);
        });
        showBirthdaysAtStart(main.Datentabelle, &main); // Zeder in three days
        QCOMPARE(shown.size(), 3);

        f.clock.set(QDateTime(QDate(2025, 3, 4), QTime(9, 0))); // the next one in 16 days
        nothingShown = testsupport::whenModal([](QWidget* modal) { modal->close(); }, 200);
        showBirthdaysAtStart(main.Datentabelle, &main);
        QVERIFY(!nothingShown.answered());
        nothingShown.cancel();

        // A table of another program without the field: no error at every
        // start, and the menu item says why there is no list.
        const QString other = f.sandbox.file("Kunden.db");
        px::Table::create(other.toStdString(), {{"Name", px::FieldType::Alpha, 30}}, 1);
        vellumo::RecordStore store;
        store.BindTable(other);
        store.OpenTable();
        nothingShown = testsupport::whenModal([](QWidget* modal) { modal->close(); }, 200);
        showBirthdaysAtStart(store, &main);
        QVERIFY(!nothingShown.answered());
        nothingShown.cancel();
        QString told;
        testsupport::whenModal([&](QWidget* modal) {
            told = testsupport::messageText(modal);
            modal->close();
        });
        GeburtstageClick(store, &main);
        QCOMPARE(told, QStringLiteral("Diese Tabelle hat kein Feld „Geburtstag“."));
    }

    // The whole start, as a person has it: the default table opens, the list
    // comes up once the main window is there, and Enter in it shows that
    // record. Last, since the start prepares the whole application.
    void programStartsWithTheList() {
        testsupport::Sandbox sandbox;
        vellumo::resetSettingsLocation();
        qputenv("VELLUMO_SPLASH_MS", "0");
        testsupport::FixedClock clock(QDateTime(QDate(2025, 2, 20), QTime(9, 0)));
        {
            vellumo::RecordStore store;
            testsupport::makeAddressTable(store, sandbox.file("Adressen"), kPeople);
        }
        vellumo::WritePrivateProfileString("Standardtabelle", "FileName",
                                           sandbox.file("Adressen.db"), sandbox.file("Setup.ini"));
        QVERIFY(writeBirthdaysAtStart(sandbox.file("Setup.ini"), true));

        QStringList shown;
        QString current;
        testsupport::whenModal([&](QWidget* modal) {
            shown = rows(modal);
            QTest::keyClick(modal->findChild<QTreeWidget*>("ListeGeburtstage"), Qt::Key_Down);
            QTest::keyClick(modal->findChild<QTreeWidget*>("ListeGeburtstage"), Qt::Key_Return);
            QTimer::singleShot(0, qApp, [&] {
                current = Hauptformular->findChild<QLineEdit*>("DBEditName")->text();
                Hauptformular->Datentabelle.CloseTableAtShutdown();
                QApplication::exit(0);
            });
        });
        // Without the list the program would wait for a person: end it.
        QTimer deadline;
        deadline.setSingleShot(true);
        connect(&deadline, &QTimer::timeout, qApp, [] { QApplication::exit(1); });
        deadline.start(20000);
        QCOMPARE(vellumo::runVellumo(*qApp), 0);
        QCOMPARE(shown.size(), 3);
        QCOMPARE(current, QStringLiteral("Schalt"));
    }
};

QTEST_MAIN(TestBirthdays)
#include "tst_birthdays.moc"
