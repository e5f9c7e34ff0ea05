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

// Each event keeps the same UID in every export as long as the person's
// name, first name and birthday stay, so importing a newer file updates the
// events a calendar already holds instead of adding them a second time.
QByteArray birthdayCalendar(const std::vector<BirthdayPerson>& people,
                            const CalendarOptions& options);

} // namespace vellumo::aids
