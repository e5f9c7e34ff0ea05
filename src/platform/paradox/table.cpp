#include "platform/paradox/table.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace px {

std::optional<DayAndTime> splitTimestamp(Timestamp t) {
    constexpr double kMsPerDay = 86'400'000.0;
    if (!std::isfinite(t.ms) || std::fabs(t.ms) > 2147483647.0 * kMsPerDay)
        return std::nullopt;
    const double day = std::floor(t.ms / kMsPerDay);
    const double rest = std::clamp(std::floor(t.ms - day * kMsPerDay), 0.0, kMsPerDay - 1);
    return DayAndTime{static_cast<std::int32_t>(day), static_cast<std::int32_t>(rest)};
}

int Table::fieldIndex(const std::string& name) const {
    auto lower = [](std::string s) {
        for (char& c : s)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        return s;
    };
    const auto& fields = info().fields;
    const std::string wanted = lower(name);
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (lower(fields[i].name) == wanted)
            return static_cast<int>(i);
    return -1;
}

std::string tableFileName(std::string name) {
    const std::filesystem::path path(name);
    if (path.has_extension() || !path.has_filename())
        return name;
    if (std::error_code ignored; !std::filesystem::exists(name + ".db", ignored) &&
                                 std::filesystem::exists(name + ".DB", ignored))
        return name + ".DB";
    return name + ".db";
}

} // namespace px
