// New fields at the end of a table's schema, and a table rewritten without
// the free space of its .mb: every record, memo and picture survives, and a
// program killed at any step of the change leaves a table that opens whole,
// old or new.
#include "testutil_passthrough.h"
#include "testutil_tempdir.h"
#include "testutil_tool.h"

#include "platform/paradox/restructure.h"
#include "platform/paradox/table.h"

#include <gtest/gtest.h>

#ifdef VELLUMO_HAVE_PXLIB
#include "testutil_pxlib.h"
#endif

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using px::Access;
using px::FieldType;
using px::Table;

namespace {

const px::FieldDef kUid{"UID", FieldType::Alpha, 36};

std::vector<px::FieldDef> fields() {
    return {{"Name", FieldType::Alpha, 30},
            {"Vorname", FieldType::Alpha, 30},
            {"Bemerkung", FieldType::Memo, 50},
            {"Grafik", FieldType::Graphic, 10},
            {"Geburtstag", FieldType::Date, 4}};
}

px::Record recordFor(int i) {
    px::Record r(5);
    r[0] = "Müller " + std::to_string(1000 + i); // key order is creation order
    r[1] = std::string("Jürgen");
    r[2] = std::string(static_cast<std::size_t>(60 + i), 'x') + " Straße";
    r[4] = px::Date{730000 + i};
    if (i % 3)
        r[3] = px::Bytes(static_cast<std::size_t>(100 + 97 * i), static_cast<std::uint8_t>(i));
    return r;
}

void makeTable(const std::string& path, int records) {
    Table::create(path, fields(), 2);
    auto t = Table::open(path, Access::Write);
    for (int i = 0; i < records; ++i)
        t->insert(recordFor(i));
}

// The table is the old one or the new one, with every record whole.
void expectWhole(const std::string& path, int records, bool* gotNew = nullptr) {
    auto t = Table::open(path, Access::Read);
    const bool isNew = t->info().fields.size() == fields().size() + 1;
    if (gotNew)
        *gotNew = isNew;
    ASSERT_EQ(t->recordCount(), static_cast<std::uint32_t>(records));
    for (int i = 0; i < records; ++i) {
        px::Record expected = recordFor(i);
        if (isNew)
            expected.resize(expected.size() + 1);
        ASSERT_EQ(t->read(static_cast<std::uint32_t>(i)), expected) << "record " << i;
    }
    EXPECT_TRUE(t->check().problems.empty());
}

// The real file system, but the process is killed at the n-th write, sync,
// truncation, creation, removal or rename (counted from 1).
class KillingFileSystem final : public testutil::PassThroughFileSystem {
public:
    explicit KillingFileSystem(int killAt) : killAt_(killAt) {}
    int operations() const { return count_; }

    std::unique_ptr<px::File> open(const std::string& path, px::OpenMode mode) override {
        if (mode == px::OpenMode::Create)
            step();
        return std::make_unique<KillingFile>(*this, inner_.open(path, mode));
    }
    void rename(const std::string& from, const std::string& to) override {
        step();
        inner_.rename(from, to);
    }
    void remove(const std::string& path) override {
        step();
        inner_.remove(path);
    }
    void syncDirectory(const std::string& directory) override {
        step();
        inner_.syncDirectory(directory);
    }

private:
    void step() {
        if (++count_ == killAt_)
            ::raise(SIGKILL);
    }
    class KillingFile final : public testutil::PassThroughFile {
    public:
        KillingFile(KillingFileSystem& fs, std::unique_ptr<px::File> file)
            : PassThroughFile(std::move(file)), fs_(fs) {}
        void write(std::uint64_t offset, const void* data, std::size_t n) override {
            fs_.step();
            file_->write(offset, data, n);
        }
        void truncate(std::uint64_t size) override {
            fs_.step();
            file_->truncate(size);
        }
        void sync() override {
            fs_.step();
            file_->sync();
        }

    private:
        KillingFileSystem& fs_;
    };
    int killAt_;
    int count_ = 0;
};

} // namespace

TEST(Restructure, AppendedFieldKeepsRecordsAndTakesValues) {
    testutil::TempDir dir;
    const std::string path = dir.file("ADRESSEN.DB");
    makeTable(path, 40);
    px::copyTable(path, dir.file("ADRESSEN-Sicherung.db"));
    px::appendFields(path, {kUid});
    bool isNew = false;
    expectWhole(path, 40, &isNew);
    EXPECT_TRUE(isNew);
    expectWhole(dir.file("ADRESSEN-Sicherung.db"), 40, &isNew);
    EXPECT_FALSE(isNew);

    auto t = Table::open(path, Access::Write);
    EXPECT_EQ(t->info().fields.back().name, "UID");
    px::Record r = t->read(3);
    r.back() = std::string("0f8fad5b-d9cb-469f-a165-70867728950e");
    t->update(3, r);
    EXPECT_EQ(t->read(3), r);
    // Twice is refused, and so is a change while another program writes.
    EXPECT_THROW(px::appendFields(dir.file("ADRESSEN.DB"), {kUid}), px::TableInUse);
    t.reset();
    EXPECT_THROW(px::appendFields(path, {kUid}), px::Error);
    EXPECT_THROW(px::copyTable(path, dir.file("ADRESSEN-Sicherung.db")), px::Error);

    // Another tool's validity checks and secondary indexes would be lost:
    // refused, naming them, with every file as it was.
    const std::string backup = dir.file("ADRESSEN-Sicherung.db");
    std::ofstream(dir.file("ADRESSEN-Sicherung.VAL")) << "checks";
    std::ofstream(dir.file("ADRESSEN-Sicherung.Y02")) << "index";
    EXPECT_EQ(px::lostByRebuild(backup), "ADRESSEN-Sicherung.VAL, ADRESSEN-Sicherung.Y02");
    const auto before = testutil::readFiles(dir.path());
    try {
        px::appendFields(backup, {kUid});
        ADD_FAILURE() << "appended beside another tool's files";
    } catch (const px::Error& e) {
        EXPECT_NE(std::string(e.what()).find("ADRESSEN-Sicherung.VAL"), std::string::npos);
    }
    EXPECT_EQ(testutil::readFiles(dir.path()), before);
}

TEST(Restructure, KilledAnywhereLeavesOldOrNewTable) {
    testutil::TempDir dir;
    const std::string path = dir.file("ADRESSEN.DB");
    makeTable(path, 60);
    const auto original = testutil::readFiles(dir.path());
    // Both rebuild the table the same way; compacting keeps the schema, so
    // old and new hold the same records.
    const std::function<void(px::FileSystem&)> changes[] = {
        [&](px::FileSystem& fs) { px::appendFields(path, {kUid}, fs); },
        [&](px::FileSystem& fs) { px::compactTable(path, fs); }};
    for (const auto& change : changes) {
        KillingFileSystem counting(0);
        change(counting);
        ASSERT_GT(counting.operations(), 3);
        testutil::writeFiles(dir.path(), original);
        bool sawOld = false, sawNew = false;
        for (int killAt = 1; killAt <= counting.operations(); ++killAt) {
            const pid_t child = ::fork();
            if (child == 0) {
                KillingFileSystem killing(killAt);
                change(killing);
                ::_exit(0);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFSIGNALED(status)) << "killed at " << killAt;
            bool isNew = false;
            expectWhole(path, 60, &isNew);
            (isNew ? sawNew : sawOld) = true;
            const auto check = testutil::runTool(VELLUMO_TABLE_TOOL, "check", path, true);
            EXPECT_EQ(check.status, 0) << "killed at " << killAt << ": " << check.out;
            testutil::writeFiles(dir.path(), original);
        }
        EXPECT_TRUE(sawOld);
        EXPECT_EQ(sawNew, &change == &changes[0]);
    }
}

TEST(Restructure, CompactGivesReplacedPicturesSpaceBack) {
    testutil::TempDir dir;
    const std::string path = dir.file("Adressen.db");
    const std::string mb = dir.file("Adressen.mb");
    makeTable(path, 40);
    {
        // Each picture a little larger than the last: none fits the space
        // its predecessor left.
        auto t = Table::open(path, Access::Write);
        for (std::size_t size : {3'000'000u, 3'100'000u, 3'200'000u, 5'000u}) {
            px::Record r = t->read(7);
            r[3] = px::Bytes(size, static_cast<std::uint8_t>(size));
            t->update(7, r);
        }
    }
    std::vector<px::Record> before;
    {
        auto t = Table::open(path, Access::Read);
        for (std::uint32_t pos = 0; pos < t->recordCount(); ++pos)
            before.push_back(t->read(pos));
    }
    const auto grown = std::filesystem::file_size(mb);
    ASSERT_GT(grown, 9'000'000u);

    // A table another program has open is refused and left as it was.
    const auto untouched = testutil::readFiles(dir.path());
    {
        auto other = Table::open(path, Access::Write);
        const auto refused =
            testutil::runTool(VELLUMO_TABLE_TOOL, "compact", dir.file("Adressen"), true);
        EXPECT_EQ(refused.status, 2);
        EXPECT_NE(refused.out.find("von einem anderen Programm bearbeitet"), std::string::npos)
            << refused.out;
    }
    EXPECT_EQ(testutil::readFiles(dir.path()), untouched);
    // So is one with another tool's secondary index, which the rebuild would lose.
    testutil::writeFiles(dir.path(), [&] {
        auto files = untouched;
        files["Adressen.X02"] = {1, 2, 3};
        return files;
    }());
    const auto withIndex = testutil::runTool(VELLUMO_TABLE_TOOL, "compact", path, true);
    EXPECT_EQ(withIndex.status, 2);
    EXPECT_NE(withIndex.out.find("Adressen.X02"), std::string::npos) << withIndex.out;
    testutil::writeFiles(dir.path(), untouched);

    const auto done = testutil::runTool(VELLUMO_TABLE_TOOL, "compact", path, true);
    ASSERT_EQ(done.status, 0) << done.out;
    EXPECT_LT(std::filesystem::file_size(mb), 200'000u);
    EXPECT_EQ(testutil::runTool(VELLUMO_TABLE_TOOL, "check", path, true).status, 0);
    auto t = Table::open(path, Access::Read);
    ASSERT_EQ(t->recordCount(), before.size());
    for (std::uint32_t pos = 0; pos < t->recordCount(); ++pos)
        ASSERT_EQ(t->read(pos), before[pos]) << "record " << pos;
#ifdef VELLUMO_HAVE_PXLIB
    // pxlib reads the rebuilt .db and .px as we do (it aborts on a genuine
    // .mb, so the memos and pictures are ours alone to compare).
    const auto theirs = testutil::pxl::readAll(path);
    ASSERT_EQ(theirs.records.size(), before.size());
    for (std::size_t pos = 0; pos < before.size(); ++pos)
        for (std::size_t f : {0u, 1u, 4u})
            EXPECT_EQ(theirs.records[pos][f], before[pos][f]) << "record " << pos << " field " << f;
#endif
}

namespace {
// The address space this process has mapped now, from /proc/self/status.
std::uint64_t mappedBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmSize:", 0) == 0)
            return std::stoull(line.substr(7)) * 1024;
    return 0;
}
} // namespace

// A table whose pictures fill 120 MB is copied and compacted within 96 MB of
// address space more than the process has before: the copy goes a chunk at
// a time, the new table is built on disk, a batch at a time, never held
// whole (held whole, it would need two and a half times the .mb).
TEST(Restructure, CompactOfLargePicturesStaysWithinLittleMemory) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit leaves";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit leaves";
#endif
#endif
    testutil::TempDir dir;
    const std::string path = dir.file("Bilder.db");
    constexpr int kRecords = 30;
    constexpr std::size_t kPicture = 4u << 20;
    {
        Table::create(path, fields(), 2);
        auto t = Table::open(path, Access::Write);
        for (int i = 0; i < kRecords; ++i) {
            px::Record r = recordFor(i);
            r[3] = px::Bytes(kPicture, static_cast<std::uint8_t>(i));
            t->insert(r);
        }
        // One picture replaced by a larger one leaves space to give back.
        px::Record r = t->read(5);
        r[3] = px::Bytes(kPicture + 4096, 0xEE);
        t->update(5, r);
    }
    const auto before = std::filesystem::file_size(dir.file("Bilder.mb"));
    ASSERT_GT(before, std::uint64_t(kRecords) * kPicture);

    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit limit{mappedBytes() + (96u << 20), RLIM_INFINITY};
        if (::setrlimit(RLIMIT_AS, &limit) != 0)
            ::_exit(4);
        try {
            px::copyTable(path, dir.file("Kopie.db"));
            px::compactTable(path);
        } catch (const std::bad_alloc&) {
            ::_exit(3);
        } catch (...) {
            ::_exit(2);
        }
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the compaction crashed";
    ASSERT_EQ(WEXITSTATUS(status), 0) << "3: out of memory, 2: another failure";

    EXPECT_EQ(std::filesystem::file_size(dir.file("Kopie.mb")), before);
    EXPECT_EQ(Table::open(dir.file("Kopie.db"), Access::Read)->read(5)[3],
              px::Value(px::Bytes(kPicture + 4096, 0xEE)));
    EXPECT_LT(std::filesystem::file_size(dir.file("Bilder.mb")), before);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().string().find('~'), std::string::npos) << entry.path();
    auto t = Table::open(path, Access::Read);
    ASSERT_EQ(t->recordCount(), static_cast<std::uint32_t>(kRecords));
    for (int i = 0; i < kRecords; ++i) {
        const px::Record r = t->read(static_cast<std::uint32_t>(i));
        const auto& picture = std::get<px::Bytes>(r[3]);
        ASSERT_EQ(picture.size(), i == 5 ? kPicture + 4096 : kPicture) << "record " << i;
        EXPECT_EQ(picture.front(), static_cast<std::uint8_t>(i == 5 ? 0xEE : i));
    }
    EXPECT_TRUE(t->check().problems.empty());
}
