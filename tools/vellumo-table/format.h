// Text forms of table values as vellumo-table prints them.
//
// Kept apart from main.cpp so the tests can check every field kind without
// going through a table on disk.
#pragma once

#include "platform/paradox/table.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vtable {

// 1 = 0001-01-01 -> "0001-01-01"
std::string formatDate(std::int32_t dayNumber);
// Milliseconds since midnight -> "HH:MM:SS", with ".mmm" only when there are milliseconds.
std::string formatTime(std::int32_t ms);
// Day number * 86'400'000 + ms of the day -> "YYYY-MM-DD HH:MM:SS".
std::string formatTimestamp(double ms);
// Plain decimal, never with an exponent, as short as still reads back exactly.
std::string formatNumber(double value);
std::string formatHex(const px::Bytes& bytes);

// The CSV cell text of one value (not yet quoted): empty for NULL, memo text in
// full, blobs other than memos as the byte size of their data, bytes fields as hex.
std::string formatValue(px::FieldType type, const px::Value& value);

// Quotes a cell when it holds a separator, a quote or a line break.
std::string csvCell(std::string_view text);
std::string csvLine(const std::vector<std::string>& cells);

// "A", "D", ... plus a readable name, e.g. "alpha", for the info command.
std::string fieldKindName(px::FieldType type);

} // namespace vtable
