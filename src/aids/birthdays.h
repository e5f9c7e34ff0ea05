// Coming birthdays: on which day a birthday falls in a given year, who has
// one within the next days, the age reached, and the texts the list shows.
// Qt Core only, so the command-line tool shares the rules with the window.
#pragma once

#include "address/addressschema.h"

#include <QDate>
#include <QString>

#include <vector>

namespace vellumo {
class RecordStore;
}

namespace vellumo::aids {

// Where a birthday on 29 February falls in a year without that day.
enum class LeapDayRule { February28 = 0, March1 = 1 };

inline bool hasKnownYear(const QDate& born) {
    return born.year() != address::kYearUnknown;
}

// The day the birthday of someone born on born is kept in year.
QDate birthdayIn(const QDate& born, int year, LeapDayRule rule);

// One birthday within the range looked at.
struct DueBirthday {
    int position = -1; // of the record in key order within the whole table
    QDate born;
    QDate date;   // the day it is kept on
    int age = -1; // reached on date; -1 when the year of birth is unknown
    QString name;
    QString firstName;
};

// Collects the birthdays that fall from today to today + days (both days
// included), in the order they come; records of one day stay in the order
// they were added (key order when added by position).
class DueCollector {
public:
    DueCollector(const QDate& today, int days, LeapDayRule rule);
    // Returns true when the birthday falls within the range (it is then kept).
    bool add(int position, const QDate& born);
    std::vector<DueBirthday> take();

private:
    QDate today_;
    QDate last_;
    LeapDayRule rule_;
    std::vector<DueBirthday> due_;
};

// "heute", "morgen", else the German weekday ("Freitag").
QString dayText(const QDate& date, const QDate& today);
// "wird 65"; empty for an unknown age.
QString ageText(int age);

// Whether the open table has a field "Geburtstag": tables of other programs
// may have none, and then there is nothing to list or remind of.
bool holdsBirthdays(const RecordStore& store);

// The birthdays of every record of the store's table (the filter does not
// hide any) from today to today + days, with names; the cursor stays.
std::vector<DueBirthday> dueBirthdays(const RecordStore& store, const QDate& today, int days,
                                      LeapDayRule rule);

// Every record with a birthday, in key order (for the calendar export).
struct BirthdayPerson {
    QString name;
    QString firstName;
    QDate born;
    QString uid; // the record's, as its card goes out (recordUid); empty: from name and birthday
};
std::vector<BirthdayPerson> everyBirthday(const RecordStore& store);

// The settings of the birthday list in Setup.ini, section "Geburtstage".
struct BirthdaySettings {
    int days = 14;                                 // "Tage": how far the list looks ahead
    bool atStart = false;                          // "BeimStart": list at start when one is near
    LeapDayRule leapDay = LeapDayRule::February28; // "Schalttag": 0 or 1
    int reminderDays = -1;                         // "Erinnerung": days before, -1 for none
};
BirthdaySettings readBirthdaySettings(const QString& iniPath);
// Each writes its key at once; false when the file could not be written.
bool writeBirthdayDays(const QString& iniPath, int days);
bool writeBirthdaysAtStart(const QString& iniPath, bool atStart);
bool writeLeapDayRule(const QString& iniPath, LeapDayRule rule);
bool writeReminderDays(const QString& iniPath, int days);

inline constexpr int kMaxListDays = 366;
inline constexpr int kMaxReminderDays = 30;
inline constexpr int kStartDays = 3; // "today or within the next 3 days"

} // namespace vellumo::aids
