// compact TABLE: replacing a picture leaves the old one's space free in the
// .mb, and the engine reuses it only for a picture that fits, so a table whose
// pictures were replaced often grows towards the .mb's 4 GB. The table is
// rewritten from its records under its write lock (a table another program
// has open is refused and left alone) and replaced in one journal
// transaction, so a crash leaves the old table or the new one.
//
// Engine only: it works in every build of the tool.
#include "compactcommand.h"

#include "platform/paradox/restructure.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

namespace vtable {

namespace {

// 117312512 -> "117.312.512"
std::string grouped(std::uint64_t n) {
    std::string digits = std::to_string(n);
    for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), 1, '.');
    return digits;
}

} // namespace

int compactCommand(const std::string& path) {
    try {
        const px::CompactResult result = px::compactTable(path);
        if (result.bytesBefore == 0)
            std::printf("%s hat keine Memo-/Grafikdatei; es gibt nichts zu verdichten.\n",
                        path.c_str());
        else
            std::printf("%s ist verdichtet: Memo-/Grafikdatei %s statt %s Bytes.\n", path.c_str(),
                        grouped(result.bytesAfter).c_str(), grouped(result.bytesBefore).c_str());
        return std::fflush(stdout) == 0 ? 0 : 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vellumo-table: %s: %s\n", path.c_str(), e.what());
        return 2;
    }
}

} // namespace vtable
