#include "paradox/table.h"

namespace px {

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

} // namespace px
