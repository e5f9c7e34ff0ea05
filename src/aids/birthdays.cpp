#include "aids/birthdays.h"

#include "address/addresstable.h"

#include "platform/database/recordstore.h"
#include "platform/settings/profile.h"

#include <QLocale>

#include <algorithm>

namespace vellumo::aids {

namespace {

const QString kSection = QStringLiteral("Geburtstage");
const QString kBirthdayField = QStringLiteral("Geburtstag");
const QString kNameField = QStringLiteral("Name");
const QString kFirstNameField = QStringLiteral("Vorname");

} // namespace

QDate birthdayIn(const QDate& born, int year, LeapDayRule rule) {
    if (born.month() == 2 && born.day() == 29 && !QDate::isLeapYear(year))
        return rule == LeapDayRule::March1 ? QDate(year, 3, 1) : QDate(year, 2, 28);
    return QDate(year, born.month(), born.day());
}

DueCollector::DueCollector(const QDate& today, int days, LeapDayRule rule)
    : today_(today), last_(today.addDays(std::max(days, 0))), rule_(rule) {}

bool DueCollector::add(int position, const QDate& born) {
    if (!born.isValid())
        return false;
    QDate date = birthdayIn(born, today_.year(), rule_);
    if (date < today_)
        date = birthdayIn(born, today_.year() + 1, rule_);
    if (!date.isValid() || date > last_)
        return false;
    const bool known = hasKnownYear(born);
    // A date of birth still to come is no birthday yet.
    if (known && date <= born)
        return false;
    DueBirthday due;
    due.position = position;
    due.born = born;
    due.date = date;
    due.age = known ? date.year() - born.year() : -1;
    due_.push_back(std::move(due));
    return true;
}

std::vector<DueBirthday> DueCollector::take() {
    std::stable_sort(due_.begin(), due_.end(),
                     [](const DueBirthday& a, const DueBirthday& b) { return a.date < b.date; });
    return std::move(due_);
}

QString dayText(const QDate& date, const QDate& today) {
    const qint64 ahead = today.daysTo(date);
    if (ahead == 0)
        return QStringLiteral("heute");
    if (ahead == 1)
        return QStringLiteral("morgen");
    return QLocale(QLocale::German, QLocale::Germany).dayName(date.dayOfWeek());
}

QString ageText(int age) {
    return age < 0 ? QString() : QStringLiteral("wird %1").arg(age);
}

bool holdsBirthdays(const RecordStore& store) {
    return store.fieldIndex(kBirthdayField) >= 0;
}

std::vector<DueBirthday> dueBirthdays(const RecordStore& store, const QDate& today, int days,
                                      LeapDayRule rule) {
    DueCollector collector(today, days, rule);
    store.scanStored(kBirthdayField, [&](int position, const QVariant& value) {
        collector.add(position, value.toDate());
        return true;
    });
    std::vector<DueBirthday> due = collector.take();
    for (DueBirthday& one : due) {
        one.name = store.storedValue(one.position, kNameField).toString();
        one.firstName = store.storedValue(one.position, kFirstNameField).toString();
    }
    return due;
}

std::vector<BirthdayPerson> everyBirthday(const RecordStore& store) {
    std::vector<std::pair<int, QDate>> born;
    store.scanStored(kBirthdayField, [&](int position, const QVariant& value) {
        if (value.toDate().isValid())
            born.emplace_back(position, value.toDate());
        return true;
    });
    std::vector<BirthdayPerson> people;
    people.reserve(born.size());
    const bool ownUids = store.fieldIndex(QStringLiteral("UID")) >= 0;
    const bool created = store.fieldIndex(QStringLiteral("Erstellt")) >= 0;
    for (const auto& [position, date] : born) {
        BirthdayPerson person{store.storedValue(position, kNameField).toString(),
                              store.storedValue(position, kFirstNameField).toString(),
                              date,
                              {}};
        person.uid = recordUid(
            ownUids ? store.storedValue(position, QStringLiteral("UID")).toString() : QString(),
            person.name, person.firstName,
            created ? store.storedValue(position, QStringLiteral("Erstellt")).toDate() : QDate());
        people.push_back(std::move(person));
    }
    return people;
}

BirthdaySettings readBirthdaySettings(const QString& iniPath) {
    BirthdaySettings settings;
    const int days = ReadSettingNumber(iniPath, kSection, QStringLiteral("Tage"), settings.days);
    // A value edited by hand beyond the range falls back rather than failing.
    if (days >= 0 && days <= kMaxListDays)
        settings.days = days;
    settings.atStart = ReadSettingNumber(iniPath, kSection, QStringLiteral("BeimStart"), 0) != 0;
    settings.leapDay = ReadSettingNumber(iniPath, kSection, QStringLiteral("Schalttag"), 0) == 1
                           ? LeapDayRule::March1
                           : LeapDayRule::February28;
    const int reminder = ReadSettingNumber(iniPath, kSection, QStringLiteral("Erinnerung"), -1);
    if (reminder >= -1 && reminder <= kMaxReminderDays)
        settings.reminderDays = reminder;
    return settings;
}

bool writeBirthdayDays(const QString& iniPath, int days) {
    return WriteSettingNumber(iniPath, kSection, QStringLiteral("Tage"), days);
}

bool writeBirthdaysAtStart(const QString& iniPath, bool atStart) {
    return WriteSettingNumber(iniPath, kSection, QStringLiteral("BeimStart"), atStart ? 1 : 0);
}

bool writeLeapDayRule(const QString& iniPath, LeapDayRule rule) {
    return WriteSettingNumber(iniPath, kSection, QStringLiteral("Schalttag"),
                              static_cast<int>(rule));
}

bool writeReminderDays(const QString& iniPath, int days) {
    return WriteSettingNumber(iniPath, kSection, QStringLiteral("Erinnerung"), days);
}

} // namespace vellumo::aids
