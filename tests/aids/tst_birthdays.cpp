// The coming birthdays: the day rules, the list window driven through the
// main window, the reminder at start and the calendar file read by an
// independent reader.
#include "addresstable.h"
#include "testsupport.h"

#include "aids/birthdaycalendar.h"
#include "aids/birthdays.h"
#include "aids/formgeburtstage.h"
#include "app/hauptformular.h"
#include "platform/settings/profile.h"
#include "platform/system/system.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QSet>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>

using namespace vellumo::aids;

namespace {

QStringList dueTexts(const QDate& today, int days, LeapDayRule rule, const QList<QDate>& births) {
    DueCollector collector(today, days, rule);
    for (qsizetype i = 0; i < births.size(); ++i)
        collector.add(static_cast<int>(i), births[i]);
    QStringList texts;
    for (const DueBirthday& due : collector.take())
        texts << (QString::number(due.position) + " " + dayText(due.date, today) + " " +
                  due.date.toString("dd.MM.yyyy") + " " + ageText(due.age))
                     .trimmed();
    return texts;
}

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

const QList<findtest::Address> kPeople = {
    {{"Name", "Albers"}, {"Vorname", "Anna"}, {"Ort", "Bonn"}},
    {{"Name", "Ohnejahr"}, {"Vorname", "Olaf"}, {"Geburtstag", "03.03.1604"}},
    {{"Name", "Schalt"}, {"Vorname", "Sara"}, {"Geburtstag", "29.02.1960"}},
    {{"Name", "Später"}, {"Vorname", "Sven"}, {"Geburtstag", "20.03.1980"}},
    {{"Name", "Zeder"}, {"Vorname", "Zoe"}, {"Geburtstag", "21.02.1990"}},
};

} // namespace

class TestBirthdays : public QObject {
    Q_OBJECT
private slots:
    // 29 February in a year without it, the turn of the year, a birthday
    // without a year, and a date of birth that has not come yet.
    void dueRules() {
        const QDate leapDay(1960, 2, 29);
        QCOMPARE(dueTexts({2025, 2, 20}, 14, LeapDayRule::February28, {leapDay}),
                 QStringList{"0 Freitag 28.02.2025 wird 65"});
        QCOMPARE(dueTexts({2025, 2, 20}, 14, LeapDayRule::March1, {leapDay}),
                 QStringList{"0 Samstag 01.03.2025 wird 65"});
        QCOMPARE(dueTexts({2024, 2, 20}, 14, LeapDayRule::February28, {leapDay}),
                 QStringList{"0 Donnerstag 29.02.2024 wird 64"});
        QCOMPARE(dueTexts({2025, 2, 28}, 0, LeapDayRule::February28, {leapDay}),
                 QStringList{"0 heute 28.02.2025 wird 65"});

        QCOMPARE(dueTexts({2025, 12, 25}, 14, LeapDayRule::February28,
                          {{1990, 1, 3},
                           {1980, 12, 26},
                           {1970, 1, 9},
                           {2000, 12, 30},
                           {1950, 12, 24},
                           {2026, 1, 2},
                           {1604, 12, 31}}),
                 (QStringList{"1 morgen 26.12.2025 wird 45", "3 Dienstag 30.12.2025 wird 25",
                              "6 Mittwoch 31.12.2025", "0 Samstag 03.01.2026 wird 36"}));
    }

    // The list through the main window: it sees the records a search filter
    // hides, and a double-click settles the edit in progress, makes the
    // chosen record current (the filter goes off) and closes the list; Enter
    // does the same, the range is kept in Setup.ini.
    void listMovesMainWindow() {
        testsupport::Sandbox sandbox;
        vellumo::resetSettingsLocation();
        testsupport::FixedClock clock(QDateTime(QDate(2025, 2, 20), QTime(9, 0)));
        THauptformular main;
        findtest::makeAddressTable(main.Datentabelle, sandbox.file("Adressen"), kPeople);
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
        action(&main, "Geburtstage")->trigger();
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
        action(&main, "Geburtstage")->trigger();
        QCOMPARE(main.findChild<QLineEdit*>("DBEditName")->text(), QStringLiteral("Ohnejahr"));
        QCOMPARE(main.findChild<QLineEdit*>("DBEditGeb")->text(), QStringLiteral("03.03.1604"));

        testsupport::whenModal([&](QWidget* modal) {
            modal->findChild<QSpinBox*>("SpinTage")->setValue(1);
            shown = rows(modal);
            count = modal->findChild<QLabel*>("LabelAnzahl")->text();
            QTest::keyClick(modal, Qt::Key_Escape);
        });
        action(&main, "Geburtstage")->trigger();
        QCOMPARE(shown, QStringList{"morgen|21.02.2025|Zeder|Zoe|wird 35"});
        QCOMPARE(count, QStringLiteral("1 Geburtstag bis morgen."));
        QCOMPARE(main.findChild<QLineEdit*>("DBEditName")->text(), QStringLiteral("Ohnejahr"));
        QCOMPARE(readBirthdaySettings(vellumo::setupIniPath()).days, 1);
    }

    // Off by default; switched on in "&Einstellungen", the list comes at
    // start when a birthday is near, and only then.
    void reminderAtStart() {
        testsupport::Sandbox sandbox;
        vellumo::resetSettingsLocation();
        testsupport::FixedClock clock(QDateTime(QDate(2025, 2, 18), QTime(9, 0)));
        THauptformular main;
        findtest::makeAddressTable(main.Datentabelle, sandbox.file("Adressen"), kPeople);
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

        clock.set(QDateTime(QDate(2025, 3, 4), QTime(9, 0))); // the next one in 16 days
        nothingShown = testsupport::whenModal([](QWidget* modal) { modal->close(); }, 200);
        showBirthdaysAtStart(main.Datentabelle, &main);
        QVERIFY(!nothingShown.answered());
        nothingShown.cancel();
    }

    // The file from the window's export and from vellumo-table, read by
    // python3-icalendar, the leap-day rule expanded by python3-dateutil; both
    // give the same UIDs. Names with commas, semicolons and umlauts come back
    // unchanged from folded lines.
    void calendarReadByIndependentReader() {
        const QString python = "/usr/bin/python3";
        if (QProcess::execute(python, {"-c", "import icalendar, dateutil"}) != 0)
            QSKIP("python3-icalendar is not installed (scripts/install-deps.sh installs it)");
        testsupport::Sandbox sandbox;
        testsupport::FixedClock clock(QDateTime(QDate(2025, 2, 20), QTime(9, 0)));
        vellumo::RecordStore store;
        QList<findtest::Address> people = kPeople;
        people << findtest::Address{{"Name", "Müller-Lüdenscheidt; Großöß"},
                                    {"Vorname", "Jürgen-Österreich, Ännchen"},
                                    {"Geburtstag", "07.05.1961"}};
        findtest::makeAddressTable(store, sandbox.file("Adressen"), people);
        CalendarOptions options;
        options.reminderDays = 2;
        options.stamp = vellumo::now();
        const QByteArray written = birthdayCalendar(everyBirthday(store), options);
        QVERIFY(!written.contains("\r\n\r\n"));
        for (const QByteArray& line : written.split('\n'))
            QVERIFY2(line.size() <= 76 && (line.isEmpty() || line.endsWith('\r')), line);
        QFile file(sandbox.file("fenster.ics"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(written);
        file.close();
        store.CloseTable();

        QProcess tool;
        tool.start(VELLUMO_TABLE_TOOL, {"birthdays", "--ics", sandbox.file("Adressen.db"),
                                        sandbox.file("werkzeug.ics")});
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitCode(), 0);
        tool.start(VELLUMO_TABLE_TOOL, {"birthdays", "--days", "366", sandbox.file("Adressen.db")});
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitCode(), 0);
        QVERIFY(QString::fromUtf8(tool.readAllStandardOutput()).contains("\tSchalt\tSara\twird "));
        tool.start(VELLUMO_TABLE_TOOL, {"birthdays", "--days", "viele", "x.db"});
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitCode(), 2);
        QVERIFY(QString::fromUtf8(tool.readAllStandardError()).contains("--days erwartet"));

        const char* script = R"(
import sys, datetime
from icalendar import Calendar
from dateutil.rrule import rrulestr
for path in sys.argv[1:]:
    for event in Calendar.from_ical(open(path, 'rb').read()).walk('VEVENT'):
        start = datetime.datetime.combine(event.decoded('DTSTART'), datetime.time())
        rule = rrulestr(event.get('RRULE').to_ical().decode(), dtstart=start)
        days = rule.between(datetime.datetime(2025, 1, 1), datetime.datetime(2028, 12, 31), inc=True)
        alarms = [str(a.decoded('TRIGGER')) for a in event.walk('VALARM')]
        print('|'.join([str(event['UID']), str(event['SUMMARY']), str(event['TRANSP']),
                        ' '.join(d.strftime('%d.%m.%Y') for d in days)] + alarms))
)";
        QProcess parser;
        parser.start(python,
                     {"-c", script, sandbox.file("fenster.ics"), sandbox.file("werkzeug.ics")});
        QVERIFY(parser.waitForFinished(30000));
        QVERIFY2(parser.exitCode() == 0, parser.readAllStandardError().constData());
        const QStringList lines =
            QString::fromUtf8(parser.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 10);
        QStringList fromWindow = lines.mid(0, 5), fromTool = lines.mid(5);
        const QString leapDay = fromWindow.filter("Geburtstag Sara Schalt").value(0);
        QVERIFY2(leapDay.contains("|TRANSPARENT|28.02.2025 28.02.2026 28.02.2027 29.02.2028|"
                                  "-2 days, 9:00:00"),
                 qPrintable(leapDay));
        QCOMPARE(fromWindow
                     .filter("|Geburtstag Jürgen-Österreich, Ännchen Müller-Lüdenscheidt; "
                             "Großöß|")
                     .size(),
                 1);
        auto uids = [](const QStringList& events) {
            QStringList all;
            for (const QString& event : events)
                all << event.section('|', 0, 0);
            return all;
        };
        QCOMPARE(uids(fromTool), uids(fromWindow));
        const QStringList windowUids = uids(fromWindow);
        QCOMPARE(QSet<QString>(windowUids.begin(), windowUids.end()).size(), 5);
    }
};

QTEST_MAIN(TestBirthdays)
#include "tst_birthdays.moc"
