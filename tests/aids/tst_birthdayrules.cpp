// The birthday rules and the calendar file, the file read back by an
// independent reader, from the rules and from vellumo-table.
#include "address/addresstable.h"
#include "aids/birthdaycalendar.h"
#include "aids/birthdays.h"
#include "platform/database/enginedate.h"
#include "platform/paradox/table.h"
#include "testsupport.h"

#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTest>

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

} // namespace

class TestBirthdayRules : public QObject {
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

    // The file made from the rules and the one vellumo-table writes, read by
    // python3-icalendar, the leap-day rule expanded by python3-dateutil; both
    // give the same UIDs. Names with commas, semicolons and umlauts come back
    // unchanged from folded lines.
    void calendarReadByIndependentReader() {
        const QString python = "/usr/bin/python3";
        if (QProcess::execute(python, {"-c", "import icalendar, dateutil"}) != 0)
            QSKIP("python3-icalendar is not installed (scripts/install-deps.sh installs it)");
        testsupport::Sandbox sandbox;
        std::vector<BirthdayPerson> people{
            {"Ohnejahr", "Olaf", {1604, 3, 3}, {}},
            {"Schalt", "Sara", {1960, 2, 29}, {}},
            {"Müller-Lüdenscheidt; Großöß", "Jürgen-Österreich, Ännchen", {1961, 5, 7}, {}}};
        // Named as the tool names them: by the record's UID, here from its name.
        for (BirthdayPerson& person : people)
            person.uid = vellumo::recordUid({}, person.name, person.firstName, {});
        const std::string table = QFile::encodeName(sandbox.file("Adressen.db")).toStdString();
        px::Table::create(table,
                          {{"Name", px::FieldType::Alpha, 30},
                           {"Vorname", px::FieldType::Alpha, 30},
                           {"Geburtstag", px::FieldType::Date, 4}},
                          2);
        {
            auto writer = px::Table::open(table, px::Access::Write);
            for (const BirthdayPerson& person : people)
                writer->insert({person.name.toStdString(), person.firstName.toStdString(),
                                vellumo::toEngineDate(person.born)});
        }
        CalendarOptions options;
        options.reminderDays = 2;
        options.stamp = QDateTime(QDate(2025, 2, 20), QTime(9, 0));
        // In key order, as the table gives them.
        const QByteArray written = birthdayCalendar({people[2], people[0], people[1]}, options);
        for (const QByteArray& line : written.split('\n'))
            QVERIFY2(line.size() <= 76 && (line.isEmpty() || line.endsWith('\r')), line);
        QFile file(sandbox.file("regeln.ics"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(written);
        file.close();

        QProcess tool;
        tool.start(VELLUMO_TABLE_TOOL, {"birthdays", "--ics", sandbox.file("Adressen.db"),
                                        sandbox.file("werkzeug.ics")});
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitCode(), 0);
        tool.start(VELLUMO_TABLE_TOOL, {"birthdays", "--days", "366", sandbox.file("Adressen")});
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
                     {"-c", script, sandbox.file("regeln.ics"), sandbox.file("werkzeug.ics")});
        QVERIFY(parser.waitForFinished(30000));
        QVERIFY2(parser.exitCode() == 0, parser.readAllStandardError().constData());
        const QStringList lines =
            QString::fromUtf8(parser.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 6);
        const QStringList fromRules = lines.mid(0, 3), fromTool = lines.mid(3);
        const QString leapDay = fromRules.filter("Geburtstag Sara Schalt").value(0);
        QVERIFY2(leapDay.contains("|TRANSPARENT|28.02.2025 28.02.2026 28.02.2027 29.02.2028|"
                                  "-2 days, 9:00:00"),
                 qPrintable(leapDay));
        QCOMPARE(
            fromRules.filter("|Geburtstag Jürgen-Österreich, Ännchen Müller-Lüdenscheidt; Großöß|")
                .size(),
            1);
        auto uids = [](const QStringList& events) {
            QStringList all;
            for (const QString& event : events)
                all << event.section('|', 0, 0);
            return all;
        };
        const QStringList ruleUids = uids(fromRules);
        QCOMPARE(uids(fromTool), ruleUids);
        QCOMPARE(QSet<QString>(ruleUids.begin(), ruleUids.end()).size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestBirthdayRules)
#include "tst_birthdayrules.moc"
