// libFuzzer target for the table reader.
//
// The input is a .db file; when it holds the separator line below, the pieces
// after it become the .px and the .mb of the same table. Everything a reader
// does is exercised: open, every record, every field scan, check; then what a
// writer does: the table opened for writing takes an insert and a delete, is
// checked, and must not have grown by more than a few blocks. The only
// acceptable failure is px::Error; anything else (a crash, another exception,
// a hang, a huge allocation) is a finding.
#include "platform/paradox/table.h"
#include "testutil_memfs.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

constexpr std::string_view kSeparator = "\n--vellumo-fuzz-piece--\n";
// Keeps one input fast even when a damaged header claims millions of records.
constexpr std::uint32_t kMaxRecords = 3000;

void exercise(px::FileSystem& fs) {
    auto table = px::Table::open("/t/fuzz.db", px::Access::Read, fs);
    const px::TableInfo& info = table->info();
    const std::uint32_t count = std::min(table->recordCount(), kMaxRecords);
    for (std::uint32_t pos = 0; pos < count; ++pos) {
        try {
            table->read(pos);
        } catch (const px::Error&) {
            // One unreadable record must not hide problems in the next ones.
        }
    }
    for (int f = 0; f < static_cast<int>(info.fields.size()); ++f) {
        std::uint32_t seen = 0;
        try {
            table->scanField(f,
                             [&](std::uint32_t, const px::Value&) { return ++seen < kMaxRecords; });
        } catch (const px::Error&) {
        }
    }
    if (table->recordCount() > 0) {
        try {
            const px::Record first = table->read(0);
            table->lowerBound(first);
            table->readField(table->recordCount() - 1, 0);
        } catch (const px::Error&) {
        }
    }
    table->check();
}

// The write step: no count the files claim may steer the change.
void exerciseWriter(px::FileSystem& fs, std::uint64_t dbSize) {
    auto table = px::Table::open("/t/fuzz.db", px::Access::Write, fs);
    try {
        table->insert(px::Record{});
    } catch (const px::Error&) {
    }
    try {
        if (table->recordCount() > 0)
            table->remove(table->recordCount() / 2);
    } catch (const px::Error&) {
    }
    table->check();
    if (fs.open("/t/fuzz.db", px::OpenMode::ReadOnly)->size() > dbSize + 4 * 32768)
        __builtin_trap(); // a claimed count grew the file
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    static const char* const kNames[] = {"/t/fuzz.db", "/t/fuzz.px", "/t/fuzz.mb"};
    testutil::MemoryFileSystem fs;
    std::size_t start = 0;
    for (int piece = 0; piece < 3; ++piece) {
        std::size_t end = piece < 2 ? input.find(kSeparator, start) : std::string_view::npos;
        if (end == std::string_view::npos)
            end = input.size();
        fs.put(kNames[piece], data + start, end - start);
        if (end == input.size())
            break;
        start = end + kSeparator.size();
    }
    try {
        exercise(fs);
    } catch (const px::Error&) {
    }
    try { // the reader is done: the files themselves may change now
        exerciseWriter(fs, fs.get("/t/fuzz.db") ? fs.get("/t/fuzz.db")->size() : 0);
    } catch (const px::Error&) {
    }
    return 0;
}
