// Realistic German address records for the benchmarks: the 20 fields of the
// address table, unique keys, returned in German dictionary order of the key.
#pragma once

#include "address/addressschema.h"
#include "platform/paradox/table.h"

#include <cstdint>
#include <vector>

namespace bench {

// The fields of the address table (address/addressschema.h), as the engine declares them.
std::vector<px::FieldDef> addressFields();
constexpr int kAddressKeyFields = vellumo::address::kKeyFieldCount;

class AddressGenerator {
public:
    explicit AddressGenerator(std::uint64_t seed = 20240601) : state_(seed) {}
    // count records with distinct keys, sorted by key (ä as a, ß as ss, case
    // ignored, then the exact text).
    std::vector<px::Record> sortedRecords(std::size_t count);
    // One more record with a key that is (very likely) new.
    px::Record record();

    std::uint32_t next();

private:
    std::uint64_t state_;
};

// Key order as a German reader expects it: for sorting the generated records.
bool keyLess(const px::Record& a, const px::Record& b);

} // namespace bench
