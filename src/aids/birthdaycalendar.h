// The birthdays as an iCalendar file (RFC 5545) that calendar programs and
// phones import: one yearly all-day event per person.
#pragma once

#include "aids/birthdays.h"

#include <QByteArray>
#include <QDateTime>

#include <vector>

namespace vellumo::aids {

struct CalendarOptions {
    LeapDayRule leapDay = LeapDayRule::February28;
    int reminderDays = -1; // a reminder this many days before, at nine; -1 for none
    QDateTime stamp;       // when the file is made (DTSTAMP)
};

// Each event keeps the same UID in every export: "geburtstag-" and the
// record's UID (the one its card goes out with), or, for a person without
// one, a UID from name, first name and birthday. Importing a newer file so
// updates the events a calendar already holds instead of adding them again.
QByteArray birthdayCalendar(const std::vector<BirthdayPerson>& people,
                            const CalendarOptions& options);

} // namespace vellumo::aids
