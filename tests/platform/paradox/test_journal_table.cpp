// Tables through crashes, I/O errors and a full disk: whatever happens during
// an insert, a key change, a delete, a blob replacement or the creation of a
// table, the next open sees the old or the new table, sound and complete.
#include "faultfs.h"
#include "testutil_tempdir.h"

#include "platform/paradox/journal.h"
#include "platform/paradox/table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using faultfs::AfterCrash;
using faultfs::FaultFileSystem;
using px::Access;
using px::Journal;
using px::Table;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Files = testutil::Files;

using testutil::TempDir;

Files saveFiles(const TempDir& dir) {
    return testutil::readFiles(dir.path());
}

void restoreFiles(const TempDir& dir, const Files& files) {
    testutil::writeFiles(dir.path(), files);
}

std::vector<px::FieldDef> fields() {
    return {{"Name", px::FieldType::Alpha, 20},
            {"Vorname", px::FieldType::Alpha, 20},
            {"Ort", px::FieldType::Alpha, 30},
            {"Memo1", px::FieldType::Memo, 20},
            {"Grafik", px::FieldType::Graphic, 10}};
}

Bytes picture(std::size_t n, unsigned seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>((i * 31 + seed * 7) ^ (i >> 5));
    return b;
}

px::Record address(int i) {
    px::Record r(5);
    r[0] = "Müller" + std::to_string(1000 + i);
    r[1] = std::string(i % 2 ? "Jürgen" : "Anna");
    r[2] = "Köln " + std::to_string(i);
    if (i % 3 == 0) // longer than the leader: lives in the .mb
        r[3] = "Notiz " + std::string(static_cast<std::size_t>(40 + i), 'x');
    if (i % 10 == 0)
        r[4] = picture(i % 20 == 0 ? 3000 : 100, static_cast<unsigned>(i));
    return r;
}

// What a person sees of a table: its fields and every record in key order.
struct Contents {
    std::vector<std::string> fieldNames;
    std::vector<px::Record> records;
    friend bool operator==(const Contents&, const Contents&) = default;
};

// Passes everything to the disk but skips its syncs: durability only matters
// where a FaultFileSystem models it, and real syncs would only cost time.
px::FileSystem& quiet() {
    static FaultFileSystem fs(px::defaultFileSystem(), false);
    return fs;
}

// Opens the table as the program does after a crash (recovery first), checks
// it and reads everything.
Contents reopen(const std::string& path) {
    auto table = Table::open(path, Access::Write, quiet());
    const Table::CheckResult check = table->check();
    EXPECT_TRUE(check.problems.empty()) << check.problems.front();
    Contents c;
    for (const auto& f : table->info().fields)
        c.fieldNames.push_back(f.name);
    for (std::uint32_t i = 0; i < table->recordCount(); ++i)
        c.records.push_back(table->read(i));
    EXPECT_FALSE(Journal::needsRecovery(px::defaultFileSystem(), path));
    return c;
}

using Change = std::function<void(px::FileSystem&, const std::string&)>;

struct Fixture {
    TempDir dir;
    std::string path = dir.file("ADRESSEN.DB");
    Files before;
    Contents old;

    Fixture() {
        Table::create(path, fields(), 2, quiet());
        {
            auto table = Table::open(path, Access::Write, quiet());
            for (int i = 0; i < 150; ++i)
                table->insert(address(i));
        }
        before = saveFiles(dir);
        old = reopen(path);
        restoreFiles(dir, before);
    }

    Contents afterCleanRun(const Change& change) {
        restoreFiles(dir, before);
        change(quiet(), path);
        Contents c = reopen(path);
        restoreFiles(dir, before);
        return c;
    }

    // Crashes the change at every counted operation, under each model of
    // what the disk keeps, and checks what the next open sees.
    void crashEverywhere(const Change& change, const char* what) {
        const Contents fresh = afterCleanRun(change);
        ASSERT_NE(fresh, old) << what << " changed nothing";
        const std::vector<std::pair<AfterCrash, unsigned>> models = {{AfterCrash::KeepWritten, 0},
                                                                     {AfterCrash::LoseUnsynced, 0},
                                                                     {AfterCrash::Scramble, 1},
                                                                     {AfterCrash::Scramble, 2}};
        for (const auto& [model, seed] : models) {
            int points = 0;
            for (int n = 1;; ++n) {
                restoreFiles(dir, before);
                FaultFileSystem faulty;
                faulty.crashAt(n);
                try {
                    change(faulty, path);
                } catch (const faultfs::Crash&) {
                }
                const bool crashed = faulty.crashed();
                faulty.powerLoss(model, seed * 7919 + static_cast<unsigned>(n));
                const Contents now = reopen(path);
                if (!crashed) {
                    ASSERT_EQ(now, fresh) << what << ": a power cut after the change lost it";
                    break;
                }
                ++points;
                ASSERT_TRUE(now == old || now == fresh)
                    << what << ": crash at operation " << n << " (model " << int(model) << ") left "
                    << now.records.size() << " records, expected " << old.records.size() << " or "
                    << fresh.records.size();
            }
            EXPECT_GT(points, 3) << what;
        }
    }
};

void insertOne(px::FileSystem& fsys, const std::string& path) {
    auto table = Table::open(path, Access::Write, fsys);
    table->insert(address(1000));
}

void changeKey(px::FileSystem& fsys, const std::string& path) {
    auto table = Table::open(path, Access::Write, fsys);
    px::Record r = table->read(3);
    r[0] = std::string("Zander"); // moves from the front to the end
    table->update(3, r);
}

void removeOne(px::FileSystem& fsys, const std::string& path) {
    auto table = Table::open(path, Access::Write, fsys);
    table->remove(60); // a record with a memo and a picture
}

void replacePicture(px::FileSystem& fsys, const std::string& path) {
    auto table = Table::open(path, Access::Write, fsys);
    px::Record r = table->read(40);
    r[4] = picture(9000, 99);
    r[3] = "Neue Notiz " + std::string(300, 'y');
    table->update(40, r);
}

void createOver(px::FileSystem& fsys, const std::string& path) {
    Table::create(path,
                  {{"Nachname", px::FieldType::Alpha, 30}, {"Bild", px::FieldType::Graphic, 10}}, 1,
                  fsys);
}

} // namespace

TEST(JournalTable, CrashDuringInsert) {
    Fixture f;
    f.crashEverywhere(insertOne, "insert");
}

TEST(JournalTable, CrashDuringKeyChange) {
    Fixture f;
    f.crashEverywhere(changeKey, "key change");
}

TEST(JournalTable, CrashDuringDelete) {
    Fixture f;
    f.crashEverywhere(removeOne, "delete");
}

TEST(JournalTable, CrashDuringBlobReplacement) {
    Fixture f;
    f.crashEverywhere(replacePicture, "blob replacement");
}

TEST(JournalTable, CrashDuringCreationOverAnExistingTable) {
    Fixture f;
    f.crashEverywhere(createOver, "creation");
}

// A disk that fills up during a blob replacement: the change is refused with
// the disk's message, the table takes no more changes until reopened, and
// reopening shows the last saved state.
TEST(JournalTable, DiskFullRefusesTheChangeAndKeepsTheTable) {
    Fixture f;
    for (int n = 1;; ++n) {
        restoreFiles(f.dir, f.before);
        FaultFileSystem faulty;
        bool failed = false;
        {
            auto table = Table::open(f.path, Access::Write, faulty);
            faulty.diskFullAt(n);
            px::Record r = table->read(40);
            r[4] = picture(20000, 5);
            try {
                table->update(40, r);
            } catch (const px::Error& e) {
                failed = true;
                EXPECT_NE(std::string(e.what()).find("Der Datenträger ist voll"), std::string::npos)
                    << e.what();
                EXPECT_THROW(table->insert(address(2000)), px::Error);
            }
        }
        const Contents now = reopen(f.path);
        if (!failed) {
            EXPECT_EQ(now.records.at(40).at(4), px::Value(picture(20000, 5)));
            break;
        }
        ASSERT_EQ(now, f.old) << "disk full from operation " << n;
    }
}

// While one program writes a table, a second program cannot open it for
// writing but can read it; once the first closes it, the second may write.
TEST(JournalTable, SecondProgramIsRefusedWritingNotReading) {
    Fixture f;
    // The child is forked before the table is opened: a forked child would
    // share the parent's lock.
    int go[2], done[2];
    ASSERT_EQ(pipe(go), 0);
    ASSERT_EQ(pipe(done), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        char c = 0;
        int code = 0;
        if (read(go[0], &c, 1) != 1)
            _exit(64);
        try {
            Table::open(f.path, Access::Write);
            code |= 1;
        } catch (const px::Error& e) {
            if (std::string(e.what()).empty())
                code |= 2;
        }
        try {
            auto reader = Table::open(f.path, Access::Read);
            if (reader->recordCount() != f.old.records.size() + 1)
                code |= 4;
        } catch (...) {
            code |= 8;
        }
        if (write(done[1], &c, 1) != 1 || read(go[0], &c, 1) != 1)
            _exit(64);
        try {
            Table::open(f.path, Access::Write)->insert(address(3000));
        } catch (...) {
            code |= 16;
        }
        _exit(code);
    }
    auto writer = Table::open(f.path, Access::Write);
    writer->insert(address(2000));
    EXPECT_THROW(Table::open(f.path, Access::Write), px::Error) << "a second open in this program";
    char c = 'x';
    ASSERT_EQ(write(go[1], &c, 1), 1);
    ASSERT_EQ(read(done[0], &c, 1), 1);
    writer.reset();
    ASSERT_EQ(write(go[1], &c, 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "1: second writer let in, 2: no message, 4: reader saw the wrong count, 8: reading "
           "failed, 16: writing after the first let go failed, 64: pipe";
    EXPECT_EQ(reopen(f.path).records.size(), f.old.records.size() + 2);
    for (int fd : {go[0], go[1], done[0], done[1]})
        close(fd);
}

namespace {

// The files a crash of the change leaves at its last moment before the
// commit point: every table file already new, the journal still there.
Files leaveJournalBehind(Fixture& f, const Change& change) {
    Files hot;
    for (int n = 1;; ++n) {
        restoreFiles(f.dir, f.before);
        FaultFileSystem faulty;
        faulty.crashAt(n);
        try {
            change(faulty, f.path);
        } catch (const faultfs::Crash&) {
        }
        if (!faulty.crashed())
            break;
        faulty.powerLoss(AfterCrash::KeepWritten);
        if (Journal::needsRecovery(px::defaultFileSystem(), f.path))
            hot = saveFiles(f.dir);
    }
    EXPECT_FALSE(hot.empty()) << "no crash point left a journal behind";
    EXPECT_NE(hot.at("ADRESSEN.DB"), f.before.at("ADRESSEN.DB"));
    return hot;
}

} // namespace

// "&Neu" over a table that a crash left half-changed: the old table is
// put right first, so an interrupted replacement still leaves it whole.
TEST(JournalTable, CrashDuringCreationOverAHalfChangedTable) {
    Fixture f;
    f.before = leaveJournalBehind(f, replacePicture);
    f.crashEverywhere(createOver, "creation over a half-changed table");
}

// A change interrupted after its first table write leaves a journal; a
// reader recovers it before reading, unless the directory cannot be written:
// then the table is refused rather than shown half-changed.
TEST(JournalTable, ReaderRecoversOrRefusesALeftOverChange) {
    Fixture f;
    const Files hot = leaveJournalBehind(f, replacePicture);
    restoreFiles(f.dir, hot);

    FaultFileSystem readOnly;
    readOnly.setDirectoriesWritable(false);
    try {
        Table::open(f.path, Access::Read, readOnly);
        ADD_FAILURE() << "a half-changed table was opened in a read-only directory";
    } catch (const px::Error& e) {
        EXPECT_NE(std::string(e.what()).find("schreibgeschützt"), std::string::npos) << e.what();
    }
    EXPECT_EQ(saveFiles(f.dir), hot);

    auto reader = Table::open(f.path, Access::Read);
    EXPECT_TRUE(reader->check().problems.empty());
    ASSERT_EQ(reader->recordCount(), f.old.records.size());
    for (std::uint32_t i = 0; i < reader->recordCount(); ++i)
        ASSERT_EQ(reader->read(i), f.old.records[i]) << "record " << i;
    EXPECT_FALSE(fs::exists(Journal::journalPath(f.path)));
}
