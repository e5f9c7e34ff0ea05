// The engine counts days from 1 January 0001 (day 1); Qt counts Julian days.
// Everything that turns a table's date into a QDate and back goes through
// here, so that a blank date (day 0) is an invalid QDate everywhere.
#pragma once

#include "platform/paradox/table.h"

#include <QDate>

namespace vellumo {

inline constexpr qint64 kJulianDayOfDayZero = 1721425;

inline QDate fromEngineDate(px::Date date) {
    return date.day <= 0 ? QDate() : QDate::fromJulianDay(date.day + kJulianDayOfDayZero);
}

inline px::Date toEngineDate(const QDate& date) {
    return px::Date{static_cast<std::int32_t>(date.toJulianDay() - kJulianDayOfDayZero)};
}

// The date a field value holds; invalid for a blank value or another type.
inline QDate fromEngineValue(const px::Value& value) {
    const auto* date = std::get_if<px::Date>(&value);
    return date ? fromEngineDate(*date) : QDate();
}

} // namespace vellumo
