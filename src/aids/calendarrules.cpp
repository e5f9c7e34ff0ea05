#include "aids/calendarrules.h"

#include <array>

namespace vellumo::aids {

namespace {
// The screen-edge rule: it looks a little beyond the window's own size
// (frame and a few pixels to spare) and then moves the window by a little more
// than its size, so that it ends up on the other side of the anchor.
constexpr int kRightReach = 195;
constexpr int kLeftShift = 212;
constexpr int kBottomReach = 213;
constexpr int kUpShift = 208;

QDate clampedDate(int year, int month, int day) {
    const int last = QDate(year, month, 1).daysInMonth();
    return QDate(year, month, day > last ? last : day);
}
} // namespace

QDate stepYear(const QDate& date, int delta) {
    if (!date.isValid())
        return date;
    const int year = date.year() + delta;
    if (year < kFirstYear || year > kLastYear)
        return date;
    const int day = date.month() == 2 && date.day() == 29 ? 28 : date.day();
    return QDate(year, date.month(), day);
}

QDate stepMonth(const QDate& date, int delta) {
    if (!date.isValid())
        return date;
    const int months = date.year() * 12 + (date.month() - 1) + delta;
    const int year = months / 12;
    const int month = months % 12 + 1;
    if (months < 0 || year < kFirstYear || year > kLastYear)
        return date;
    return clampedDate(year, month, date.day());
}

QString germanMonthName(int month) {
    static const std::array<const char16_t*, 12> names = {
        u"Januar", u"Februar", u"März",      u"April",   u"Mai",      u"Juni",
        u"Juli",   u"August",  u"September", u"Oktober", u"November", u"Dezember"};
    if (month < 1 || month > 12)
        return {};
    return QString::fromUtf16(names[month - 1]);
}

QString germanWeekdayAbbreviation(int column) {
    static const std::array<const char*, 7> names = {"So", "Mo", "Di", "Mi", "Do", "Fr", "Sa"};
    if (column < 0 || column > 6)
        return {};
    return QString::fromLatin1(names[column]);
}

int firstDayColumn(const QDate& anyDayOfMonth) {
    // Qt counts Monday 1 to Sunday 7; the grid starts on Sunday.
    return QDate(anyDayOfMonth.year(), anyDayOfMonth.month(), 1).dayOfWeek() % 7;
}

GridCell cellOfDay(const QDate& anyDayOfMonth, int day) {
    if (!anyDayOfMonth.isValid() || day < 1 || day > anyDayOfMonth.daysInMonth())
        return {};
    const int index = firstDayColumn(anyDayOfMonth) + day - 1;
    return {index / 7, index % 7};
}

int dayInCell(const QDate& anyDayOfMonth, int row, int column) {
    if (!anyDayOfMonth.isValid() || row < 0 || row > 5 || column < 0 || column > 6)
        return 0;
    const int day = row * 7 + column - firstDayColumn(anyDayOfMonth) + 1;
    return day >= 1 && day <= anyDayOfMonth.daysInMonth() ? day : 0;
}

QPoint calendarPosition(QPoint anchor, const QRect& screen) {
    int x = anchor.x();
    int y = anchor.y();
    // Equality keeps the point: the window then just fits.
    if (screen.x() + screen.width() < x + kRightReach)
        x -= kLeftShift;
    if (screen.y() + screen.height() < y + kBottomReach)
        y -= kUpShift;
    return {x, y};
}

} // namespace vellumo::aids
