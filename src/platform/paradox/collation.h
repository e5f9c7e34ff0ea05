// Order of alpha keys under a table's sort order.
#pragma once

#include "platform/paradox/codec.h"

#include <string>
#include <string_view>

namespace px {

class Collation {
public:
    // sortOrderName/id as found in the table header.
    Collation(const std::string& sortOrderName, int sortOrderId, const Codec& codec);

    // True for the international and German sort orders, which use German
    // dictionary order; false for the byte-order ones ('ascii', DBWINUS0, ...).
    bool dictionary() const { return dictionary_; }

    // Compares two alpha values as stored (code page bytes, NUL padding cut off).
    // Only equal bytes compare equal.
    int compare(std::string_view a, std::string_view b) const;

    static bool isDictionaryOrder(const std::string& sortOrderName, int sortOrderId);

private:
    const Codec& codec_;
    bool dictionary_;
};

// German dictionary order on Unicode text (ä = a, ö = o, ü = u, ß = ss, case and
// accents ignored), exact code points as tie-breaker.
int compareGerman(const std::u32string& a, const std::u32string& b);

} // namespace px
