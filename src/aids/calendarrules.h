// The date rules of the birthday calendar, apart from its window so that they
// can be checked on their own.
#pragma once

#include <QDate>
#include <QPoint>
#include <QRect>
#include <QString>

namespace vellumo::aids {

// The years the calendar can show: no year before 1, and none the date field's
// four-digit form could not hold.
inline constexpr int kFirstYear = 1;
inline constexpr int kLastYear = 9999;

// One year back (delta -1) or forward (+1). 29 February becomes 28 February
// first; a year outside kFirstYear..kLastYear leaves the date as it is.
QDate stepYear(const QDate& date, int delta);

// One month back or forward across the turn of the year; a day the target
// month lacks becomes its last day. Leaving kFirstYear..kLastYear changes nothing.
QDate stepMonth(const QDate& date, int delta);

// "Januar" … "Dezember"; empty outside 1..12.
QString germanMonthName(int month);

// "So", "Mo", … "Sa" for the columns 0..6 (the week starts on Sunday): the
// program speaks German whatever the system's language.
QString germanWeekdayAbbreviation(int column);

// The month grid: column of day 1 (0 = Sunday) and the week row (0..5) and
// column of any day of the month.
int firstDayColumn(const QDate& anyDayOfMonth);
struct GridCell {
    int row = -1; // week row 0..5, -1 for none
    int column = -1;
};
GridCell cellOfDay(const QDate& anyDayOfMonth, int day);
// The day number in a week row and column, 0 for a blank cell.
int dayInCell(const QDate& anyDayOfMonth, int row, int column);

// Size of the calendar window and the margins of the rule that keeps it on
// the screen.
inline constexpr int kCalendarWidth = 187;
inline constexpr int kCalendarHeight = 186;

// Where the calendar opens for an anchor point (the top-right corner of the
// "..." button, in screen coordinates): beside the anchor, moved to the left
// or upwards where the screen would cut it off.
QPoint calendarPosition(QPoint anchor, const QRect& screen);

} // namespace vellumo::aids
