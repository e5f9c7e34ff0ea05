#include "format.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace vtable {

namespace {

struct CivilDate {
    long long year;
    unsigned month;
    unsigned day;
};

// Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's algorithm),
// valid for every value a 32-bit day number can hold.
CivilDate civilFromDays(long long z) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const unsigned d = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
    const unsigned m = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (m <= 2), m, d};
}

// Day number 1 is 0001-01-01; 1970-01-01 is day 719163.
constexpr long long kUnixEpochDay = 719163;

std::string dateText(long long dayNumber) {
    const CivilDate c = civilFromDays(dayNumber - kUnixEpochDay);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u", c.year, c.month, c.day);
    return buf;
}

} // namespace

std::string formatDate(std::int32_t dayNumber) {
    return dateText(dayNumber);
}

std::string formatTime(std::int32_t ms) {
    // A damaged field may hold anything; show it as it is rather than wrap around.
    const long long v = ms;
    const long long sign = v < 0 ? -1 : 1;
    const long long a = v * sign;
    char buf[48];
    if (a % 1000 == 0)
        std::snprintf(buf, sizeof buf, "%s%02lld:%02lld:%02lld", sign < 0 ? "-" : "", a / 3'600'000,
                      a / 60'000 % 60, a / 1000 % 60);
    else
        std::snprintf(buf, sizeof buf, "%s%02lld:%02lld:%02lld.%03lld", sign < 0 ? "-" : "",
                      a / 3'600'000, a / 60'000 % 60, a / 1000 % 60, a % 1000);
    return buf;
}

std::string formatTimestamp(double ms) {
    // Beyond about ±5.8 million years the day number leaves 32 bits: not a real
    // timestamp, so show the raw number instead of a made-up date.
    const auto parts = px::splitTimestamp(px::Timestamp{ms});
    if (!parts)
        return formatNumber(ms);
    const long long rest = parts->ms / 1000;
    char buf[32];
    std::snprintf(buf, sizeof buf, " %02lld:%02lld:%02lld", rest / 3600, rest / 60 % 60, rest % 60);
    return dateText(parts->day) + buf;
}

std::string formatNumber(double value) {
    if (value == 0)
        return "0"; // also for -0
    char buf[400];
    const auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    if (result.ec != std::errc())
        return "?";
    return std::string(buf, result.ptr);
}

std::string formatHex(const px::Bytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string formatValue(px::FieldType type, const px::Value& value) {
    struct Visitor {
        px::FieldType type;
        std::string operator()(std::monostate) const { return {}; }
        std::string operator()(const std::string& s) const { return s; }
        std::string operator()(std::int64_t v) const { return std::to_string(v); }
        std::string operator()(double v) const { return formatNumber(v); }
        std::string operator()(bool v) const { return v ? "true" : "false"; }
        std::string operator()(px::Date d) const { return formatDate(d.day); }
        std::string operator()(px::TimeOfDay t) const { return formatTime(t.ms); }
        std::string operator()(px::Timestamp t) const { return formatTimestamp(t.ms); }
        std::string operator()(const px::Decimal& d) const { return d.text; }
        std::string operator()(const px::Bytes& b) const {
            if (type == px::FieldType::Bytes)
                return formatHex(b);
            if (type == px::FieldType::Memo) // memo text that did not decode
                return std::string(b.begin(), b.end());
            return std::to_string(b.size());
        }
        // Its length, as for the bytes themselves (a picture without its 8-byte prefix).
        std::string operator()(const px::BlobRef& r) const {
            const std::uint32_t prefix = type == px::FieldType::Graphic && r.length >= 8 ? 8 : 0;
            return std::to_string(r.length - prefix);
        }
    };
    return std::visit(Visitor{type}, value);
}

std::string csvCell(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string out = "\"";
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string csvLine(const std::vector<std::string>& cells) {
    // A lone empty cell would make an empty line, which CSV readers skip:
    // the record would vanish.
    if (cells.size() == 1 && cells[0].empty())
        return "\"\"";
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i)
            line += ',';
        line += csvCell(cells[i]);
    }
    return line;
}

std::string fieldKindName(px::FieldType type) {
    switch (type) {
    case px::FieldType::Alpha:
        return "A alpha";
    case px::FieldType::Date:
        return "D date";
    case px::FieldType::Short:
        return "S short";
    case px::FieldType::Long:
        return "I long";
    case px::FieldType::Money:
        return "$ money";
    case px::FieldType::Number:
        return "N number";
    case px::FieldType::Logical:
        return "L logical";
    case px::FieldType::Memo:
        return "M memo";
    case px::FieldType::Blob:
        return "B binary";
    case px::FieldType::FmtMemo:
        return "F formatted memo";
    case px::FieldType::OLE:
        return "O OLE";
    case px::FieldType::Graphic:
        return "G graphic";
    case px::FieldType::Time:
        return "T time";
    case px::FieldType::Timestamp:
        return "@ timestamp";
    case px::FieldType::AutoInc:
        return "+ autoincrement";
    case px::FieldType::BCD:
        return "# BCD";
    case px::FieldType::Bytes:
        return "Y bytes";
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "? 0x%02x", static_cast<unsigned>(type));
    return buf;
}

} // namespace vtable
