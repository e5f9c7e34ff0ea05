// The journal on plain files: crash, failure and disk-full at every counted
// operation of a change across several files, recovery, locking.
#include "faultfs.h"
#include "testutil_tempdir.h"

#include "platform/paradox/error.h"
#include "platform/paradox/journal.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using faultfs::AfterCrash;
using faultfs::FaultFileSystem;
using px::Journal;
using px::OpenMode;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Snapshot = testutil::Files;

struct TempDir : testutil::TempDir {
    bool bare = false; // names without a directory, relative to the working directory
    std::string file(const std::string& name) const {
        return bare ? name : testutil::TempDir::file(name);
    }
};

Bytes randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    Bytes b(n);
    for (auto& c : b)
        c = static_cast<std::uint8_t>(random());
    return b;
}

// Every file of the directory but the lock file, which outlives tables by
// design, and an empty journal, which a writer keeps while the table is open.
Snapshot snapshot(const TempDir& dir) {
    return testutil::readFiles(dir.path(), [](const fs::directory_entry& entry) {
        const std::string name = entry.path().filename().string();
        return !name.ends_with(".lck") &&
               !(name.ends_with("-journal") && fs::file_size(entry) == 0);
    });
}

void restore(const TempDir& dir, const Snapshot& s) {
    testutil::writeFiles(dir.path(), s);
}

std::string describe(const Snapshot& s) {
    std::string out;
    for (const auto& [name, bytes] : s)
        out += name + "(" + std::to_string(bytes.size()) + ") ";
    return out;
}

// The starting table: a .db over several pages, a .px, a .mb, a .val.
Snapshot initialTable() {
    return {{"T.DB", randomBytes(14000, 1)},
            {"T.PX", randomBytes(9000, 2)},
            {"T.MB", randomBytes(5000, 4)},
            {"T.VAL", randomBytes(100, 3)}};
}

// One change touching everything the journal handles: overwrites within and
// across pages, growth, a shrink followed by growth, a file removed and made
// anew (as replacing a table does), a removed file.
void change(px::FileSystem& fsys, Journal& journal, const TempDir& dir) {
    auto db = journal.wrap(fsys.open(dir.file("T.DB"), OpenMode::ReadWrite), dir.file("T.DB"));
    auto px = journal.wrap(fsys.open(dir.file("T.PX"), OpenMode::ReadWrite), dir.file("T.PX"));
    journal.begin();
    const Bytes a = randomBytes(5000, 10);
    db->write(100, a.data(), 50);
    db->write(4090, a.data() + 50, 20);
    db->write(14000, a.data(), a.size());
    px->truncate(5000);
    px->write(6000, a.data(), 10);
    journal.remove(dir.file("T.MB"));
    auto mb = journal.open(dir.file("T.MB"), OpenMode::Create);
    mb->write(0, a.data() + 100, 3000);
    journal.remove(dir.file("T.VAL"));
    journal.commit();
}

struct Scenario {
    TempDir dir;
    Snapshot before = initialTable();
    Snapshot after;
    Scenario() {
        restore(dir, before);
        {
            Journal journal(px::defaultFileSystem(), dir.file("T.DB"));
            change(px::defaultFileSystem(), journal, dir);
        }
        after = snapshot(dir);
        restore(dir, before);
    }
    std::string table() const { return dir.file("T.DB"); }
};

using Body = std::function<void(px::FileSystem&)>;

// The change with a journal of its own, as one opening of the table does it.
Body theChange(Scenario& s) {
    return [&s](px::FileSystem& fsys) {
        Journal journal(fsys, s.table());
        change(fsys, journal, s.dir);
    };
}

// Runs body from the start files on a file system that crashes at its n-th
// counted operation, then cuts the power; true when the crash came.
bool crashAndCut(const Scenario& s, const Snapshot& start, const Body& body, int n,
                 AfterCrash model, unsigned seed = 0) {
    restore(s.dir, start);
    FaultFileSystem faulty;
    faulty.crashAt(n);
    try {
        body(faulty);
    } catch (const faultfs::Crash&) {
    }
    const bool crashed = faulty.crashed();
    faulty.powerLoss(model, seed);
    return crashed;
}

// The files a crash leaves at the change's last moment before the commit
// point: every table file new, the journal complete.
Snapshot journalLeftBehind(Scenario& s) {
    Snapshot hot;
    for (int n = 1; crashAndCut(s, s.before, theChange(s), n, AfterCrash::KeepWritten); ++n)
        if (Journal::needsRecovery(px::defaultFileSystem(), s.table()))
            hot = snapshot(s.dir);
    EXPECT_FALSE(hot.empty()) << "no crash point left a journal behind";
    return hot;
}

// Sets a journal's checksum to match its (altered) content.
void sealJournal(Bytes& journal) {
    std::uint64_t h = 14695981039346656037ull;
    auto mix = [&](auto first, auto last) {
        for (; first != last; ++first) {
            h ^= *first;
            h *= 1099511628211ull;
        }
    };
    mix(journal.begin(), journal.begin() + 32);
    mix(journal.begin() + 40, journal.end());
    for (int i = 0; i < 8; ++i)
        journal[static_cast<std::size_t>(32 + i)] = static_cast<std::uint8_t>(h >> (8 * i));
}

} // namespace

TEST(Journal, ChangeBehavesLikePlainFileOperations) {
    Scenario s;
    // Worked out by hand from change(): the shrunk-then-grown .px reads zeros
    // in the gap, the new .mb and the grown .db hold what was written.
    const Bytes a = randomBytes(5000, 10);
    Bytes db = s.before.at("T.DB");
    std::copy(a.begin(), a.begin() + 50, db.begin() + 100);
    std::copy(a.begin() + 50, a.begin() + 70, db.begin() + 4090);
    db.insert(db.end(), a.begin(), a.end());
    Bytes px(s.before.at("T.PX").begin(), s.before.at("T.PX").begin() + 5000);
    px.resize(6000, 0);
    px.insert(px.end(), a.begin(), a.begin() + 10);
    const Snapshot expected = {
        {"T.DB", db}, {"T.PX", px}, {"T.MB", Bytes(a.begin() + 100, a.begin() + 3100)}};
    EXPECT_EQ(s.after, expected) << describe(s.after);

    // The writer keeps an empty journal while open and removes it on closing.
    auto& real = px::defaultFileSystem();
    const std::string journalFile = Journal::journalPath(s.table());
    {
        Journal journal(real, s.table());
        change(real, journal, s.dir);
        EXPECT_TRUE(fs::exists(journalFile));
        EXPECT_EQ(fs::file_size(journalFile), 0u);
    }
    EXPECT_FALSE(fs::exists(journalFile));
}

// Random writes and truncations through the journal must read back exactly as
// a plain byte vector would, before commit, after commit and after rollback.
TEST(Journal, ReadsOwnChangesAndRollbackLeavesDiskAlone) {
    TempDir dir;
    restore(dir, initialTable());
    auto& real = px::defaultFileSystem();
    Journal journal(real, dir.file("T.DB"));
    auto file = journal.wrap(real.open(dir.file("T.DB"), OpenMode::ReadWrite), dir.file("T.DB"));
    Bytes committed = initialTable().at("T.DB");
    std::mt19937 random(7);
    for (int round = 0; round < 60; ++round) {
        Bytes model = committed;
        journal.begin();
        for (int op = 0; op < 12; ++op) {
            if (random() % 5 == 0) {
                const std::size_t size = random() % 20000;
                file->truncate(size);
                model.resize(size, 0);
            } else {
                const std::size_t at = random() % 18000;
                const Bytes data =
                    randomBytes(1 + random() % 6000, static_cast<unsigned>(random()));
                file->write(at, data.data(), data.size());
                if (model.size() < at + data.size())
                    model.resize(at + data.size(), 0);
                std::copy(data.begin(), data.end(), model.begin() + static_cast<long>(at));
            }
            ASSERT_EQ(file->size(), model.size());
            const std::size_t from = random() % (model.size() + 1);
            Bytes seen(model.size() - from + 100);
            seen.resize(file->read(from, seen.data(), seen.size()));
            ASSERT_EQ(seen, Bytes(model.begin() + static_cast<long>(from), model.end()))
                << "round " << round << " op " << op;
        }
        if (round % 3 == 0) {
            journal.rollback();
        } else {
            journal.commit();
            committed = model;
        }
        ASSERT_EQ(snapshot(dir).at("T.DB"), committed) << "round " << round;
        ASSERT_FALSE(Journal::needsRecovery(real, dir.file("T.DB")));
    }
    // A reader in the same program leaves the writer's journal file alone.
    ASSERT_TRUE(fs::exists(Journal::journalPath(dir.file("T.DB"))));
    auto lock = Journal::lockForWriting(real, dir.file("T.DB"));
    Journal::recoverForReading(real, dir.file("T.DB"));
    EXPECT_TRUE(fs::exists(Journal::journalPath(dir.file("T.DB"))));
}

TEST(Journal, WritingOutsideATransactionIsRefused) {
    TempDir dir;
    restore(dir, initialTable());
    auto& real = px::defaultFileSystem();
    Journal journal(real, dir.file("T.DB"));
    auto file = journal.wrap(real.open(dir.file("T.DB"), OpenMode::ReadWrite), dir.file("T.DB"));
    const char x = 'x';
    EXPECT_THROW(file->write(0, &x, 1), std::logic_error);
    EXPECT_THROW(file->truncate(0), std::logic_error);
    // Files of other tables are out of the journal's reach.
    EXPECT_THROW(journal.wrap(real.open(dir.file("T.PX"), OpenMode::ReadWrite), dir.file("U.PX")),
                 std::logic_error);
    EXPECT_EQ(snapshot(dir), initialTable());
}

// The heart of it: a crash at every counted operation of the change, under
// each model of what the disk keeps, is followed by recovery to exactly the
// old or exactly the new files, and no journal stays behind.
TEST(Journal, CrashAtEveryOperationLeavesOldOrNewState) {
    Scenario s;
    auto& real = px::defaultFileSystem();
    const std::vector<std::pair<AfterCrash, unsigned>> models = {
        {AfterCrash::KeepWritten, 0}, {AfterCrash::LoseUnsynced, 0}, {AfterCrash::Scramble, 1},
        {AfterCrash::Scramble, 2},    {AfterCrash::Scramble, 3},     {AfterCrash::Scramble, 4}};
    for (const auto& [model, seed] : models) {
        int olds = 0, news = 0;
        for (int n = 1;; ++n) {
            const bool crashed = crashAndCut(s, s.before, theChange(s), n, model,
                                             seed * 1000 + static_cast<unsigned>(n));
            Journal::recover(real, s.table());
            const Snapshot now = snapshot(s.dir);
            if (!crashed) {
                EXPECT_EQ(now, s.after) << "a power cut after commit() lost the change";
                break;
            }
            ASSERT_TRUE(now == s.before || now == s.after)
                << "model " << int(model) << " seed " << seed << " crash at " << n << ": "
                << describe(now);
            (now == s.before ? olds : news)++;
            ASSERT_FALSE(Journal::needsRecovery(real, s.table()));
        }
        EXPECT_GT(olds, 5);
        if (model == AfterCrash::KeepWritten) {
            EXPECT_GE(news, 1); // the crash after the journal's removal
        }
    }
}

// A crash in the middle of recovery is recovered by the next open.
TEST(Journal, CrashDuringRecoveryIsRecoveredAgain) {
    Scenario s;
    auto& real = px::defaultFileSystem();
    const Snapshot hot = journalLeftBehind(s);
    for (AfterCrash model :
         {AfterCrash::KeepWritten, AfterCrash::LoseUnsynced, AfterCrash::Scramble}) {
        for (int n = 1;; ++n) {
            const bool crashed = crashAndCut(
                s, hot, [&](px::FileSystem& fsys) { Journal::recover(fsys, s.table()); }, n, model,
                static_cast<unsigned>(n));
            Journal::recover(real, s.table());
            ASSERT_EQ(snapshot(s.dir), s.before) << "recovery crashed at " << n;
            if (!crashed)
                break;
        }
    }
}

// An I/O error at any operation: the change is reported, the old state is put
// back at once, and the journal refuses further changes until reopened.
TEST(Journal, FailedWriteOrSyncRestoresOldStateAndBreaksTheJournal) {
    Scenario s;
    auto& real = px::defaultFileSystem();
    int failures = 0;
    for (int n = 1;; ++n) {
        restore(s.dir, s.before);
        FaultFileSystem faulty;
        faulty.failAt(n);
        Journal journal(faulty, s.table());
        try {
            change(faulty, journal, s.dir);
        } catch (const px::Error& e) {
            ++failures;
            EXPECT_TRUE(journal.isBroken());
            EXPECT_FALSE(journal.inTransaction());
            EXPECT_EQ(snapshot(s.dir), s.before) << "failure at " << n << ": " << e.what();
            try {
                journal.begin();
                ADD_FAILURE() << "a broken journal began a transaction";
            } catch (const px::Error& refused) {
                EXPECT_STREQ(refused.what(), "Die Tabelle kann nach einem Schreibfehler nicht mehr "
                                             "geändert werden. Bitte öffnen Sie sie neu.");
            }
            continue;
        }
        EXPECT_FALSE(journal.isBroken());
        EXPECT_EQ(snapshot(s.dir), s.after);
        break;
    }
    EXPECT_GT(failures, 10);
    // Reopened, the table takes changes again.
    restore(s.dir, s.before);
    Journal journal(real, s.table());
    change(real, journal, s.dir);
    EXPECT_EQ(snapshot(s.dir), s.after);
}

// A disk that fills up at any point: nothing that grows a file works any
// more, so putting the old state back may fail too; then the journal must
// still be there and the next open restores the old state.
TEST(Journal, DiskFullAtAnyPointKeepsTheLastCommittedState) {
    Scenario s;
    auto& real = px::defaultFileSystem();
    for (int n = 1;; ++n) {
        restore(s.dir, s.before);
        FaultFileSystem faulty;
        faulty.diskFullAt(n);
        bool failed = false;
        {
            Journal journal(faulty, s.table());
            try {
                change(faulty, journal, s.dir);
            } catch (const px::Error& e) {
                failed = true;
                EXPECT_NE(std::string(e.what()).find("Der Datenträger ist voll"),
                          std::string::npos);
            }
        }
        Journal::recover(real, s.table());
        EXPECT_EQ(snapshot(s.dir), failed ? s.before : s.after) << "disk full from " << n;
        if (!failed)
            break;
    }
}

TEST(Journal, UnrecoverableJournalInReadOnlyDirectoryIsRefused) {
    Scenario s;
    auto& real = px::defaultFileSystem();
    const Snapshot hot = journalLeftBehind(s);
    restore(s.dir, hot);
    FaultFileSystem readOnly;
    readOnly.setDirectoriesWritable(false);
    EXPECT_TRUE(Journal::needsRecovery(readOnly, s.table()));
    try {
        Journal::recover(readOnly, s.table());
        ADD_FAILURE() << "recovery in a read-only directory did not refuse";
    } catch (const px::Error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Die Tabelle \"" + s.table() +
                      "\" wurde bei einer unterbrochenen Änderung zurückgelassen und kann nicht "
                      "wiederhergestellt werden, weil das Verzeichnis schreibgeschützt ist");
    }
    EXPECT_EQ(snapshot(s.dir), hot);
    Journal::recover(real, s.table());
    EXPECT_EQ(snapshot(s.dir), s.before);
}

// A journal cut short was never relied on; one that is whole but names a file
// outside its table is refused rather than played back.
TEST(Journal, TornJournalIsDiscardedAndForeignOneRefused) {
    Scenario s;
    auto& real = px::defaultFileSystem();
    const Bytes journalBytes = journalLeftBehind(s).at("T.DB-journal");
    for (std::size_t cut :
         {std::size_t(0), std::size_t(10), journalBytes.size() / 2, journalBytes.size() - 1}) {
        Snapshot torn = s.before;
        torn["T.DB-journal"] = Bytes(journalBytes.begin(), journalBytes.begin() + long(cut));
        restore(s.dir, torn);
        EXPECT_FALSE(Journal::needsRecovery(real, s.table()));
        Journal::recover(real, s.table());
        EXPECT_EQ(snapshot(s.dir), s.before) << "cut at " << cut;
    }
    // Rename the journal's first file to "../T" (same length) and fix up the
    // checksum: a whole journal that points outside the directory.
    Bytes foreign = journalBytes;
    const std::string from = "T.DB", to = "../T";
    auto it = std::search(foreign.begin() + 40, foreign.end(), from.begin(), from.end());
    ASSERT_NE(it, foreign.end());
    std::copy(to.begin(), to.end(), it);
    sealJournal(foreign);
    Snapshot withForeign = s.before;
    withForeign["T.DB-journal"] = foreign;
    restore(s.dir, withForeign);
    EXPECT_THROW(Journal::recover(real, s.table()), px::Error);
    EXPECT_EQ(snapshot(s.dir), withForeign);
}

TEST(Journal, CompanionFilesOfATableInAnyCase) {
    TempDir dir;
    for (const char* name : {"ADR.DB", "ADR.PX", "adr.mb", "Adr.X02", "ADR.YG0", "ADR.VAL",
                             "ADR.DB-journal", "ADR.DB.lck", "ADRESSEN.PX", "ADR.TXT", "XADR.MB"})
        std::ofstream(dir.file(name)) << "x";
    std::vector<std::string> expected;
    for (const char* name : {"ADR.DB-journal", "ADR.PX", "ADR.VAL", "ADR.YG0", "Adr.X02", "adr.mb"})
        expected.push_back(dir.file(name));
    EXPECT_EQ(Journal::companionFiles(px::defaultFileSystem(), dir.file("ADR.DB")), expected);
}

// Two programs on one table: the second cannot take the write lock, reading
// works, and its recovery leaves the running writer's journal alone.
TEST(Journal, SecondProgramCannotWriteButCanRead) {
    Scenario s;
    restore(s.dir, s.before);
    auto& real = px::defaultFileSystem();
    // Fork before locking: a forked child would share the parent's lock.
    int go[2], done[2];
    ASSERT_EQ(pipe(go), 0);
    ASSERT_EQ(pipe(done), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        char c = 0;
        int code = 0;
        if (read(go[0], &c, 1) != 1)
            _exit(16);
        try {
            if (Journal::lockForWriting(real, s.table()) != nullptr)
                code |= 1;
            Journal::recoverForReading(real, s.table());
            if (!fs::exists(Journal::journalPath(s.table())))
                code |= 2;
            auto db = real.open(s.table(), OpenMode::ReadOnly);
            Bytes bytes(db->size());
            if (db->read(0, bytes.data(), bytes.size()) != bytes.size() ||
                bytes != s.before.at("T.DB"))
                code |= 4;
        } catch (...) {
            code |= 8;
        }
        if (write(done[1], &c, 1) != 1)
            code |= 16;
        // Stay alive until the parent has let go, then try again.
        if (read(go[0], &c, 1) != 1)
            _exit(code | 16);
        if (Journal::lockForWriting(real, s.table()) == nullptr)
            code |= 32;
        _exit(code);
    }
    auto lock = Journal::lockForWriting(real, s.table());
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(Journal::lockForWriting(real, s.table()), nullptr) << "a second open in this program";
    // A journal of a change in progress, as the running writer has it.
    std::ofstream(Journal::journalPath(s.table())) << "in progress";
    char c = 'x';
    ASSERT_EQ(write(go[1], &c, 1), 1);
    ASSERT_EQ(read(done[0], &c, 1), 1);
    lock.reset();
    ASSERT_EQ(write(go[1], &c, 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "1: second writer got the lock, 2: running writer's journal removed, 4: reading "
           "failed, 8: exception, 16: pipe, 32: lock not free after the writer let go";
    for (int fd : {go[0], go[1], done[0], done[1]})
        close(fd);
}

// A table named without a directory, as a user may type it: the journal and
// its recovery work relative to the working directory.
TEST(Journal, TableNamedWithoutDirectory) {
    Scenario s;
    const fs::path previous = fs::current_path();
    fs::current_path(s.dir.path());
    s.dir.bare = true;
    ASSERT_EQ(s.table(), "T.DB");
    for (AfterCrash model : {AfterCrash::KeepWritten, AfterCrash::LoseUnsynced}) {
        for (int n = 1;; ++n) {
            const bool crashed = crashAndCut(s, s.before, theChange(s), n, model);
            Journal::recover(px::defaultFileSystem(), s.table());
            const Snapshot now = snapshot(s.dir);
            EXPECT_TRUE(now == s.before || now == s.after) << "crash at " << n;
            if (!crashed)
                break;
        }
    }
    fs::current_path(previous);
}

// Two changes while the table stays open: the second reuses the journal file
// the first left empty. A crash anywhere gives one of the three states.
TEST(Journal, SecondChangeOfAnOpeningIsAsSafeAsTheFirst) {
    Scenario s;
    auto& real = px::defaultFileSystem();
    auto secondChange = [&](px::FileSystem& fsys, Journal& journal) {
        auto db =
            journal.wrap(fsys.open(s.dir.file("T.DB"), OpenMode::ReadWrite), s.dir.file("T.DB"));
        journal.begin();
        const Bytes b = randomBytes(9000, 20);
        db->write(2000, b.data(), b.size());
        db->truncate(15000);
        journal.commit();
    };
    auto both = [&](px::FileSystem& fsys) {
        Journal journal(fsys, s.table());
        change(fsys, journal, s.dir);
        secondChange(fsys, journal);
    };
    restore(s.dir, s.before);
    both(real);
    const Snapshot last = snapshot(s.dir);
    for (AfterCrash model :
         {AfterCrash::KeepWritten, AfterCrash::LoseUnsynced, AfterCrash::Scramble}) {
        for (int n = 1;; ++n) {
            const bool crashed = crashAndCut(s, s.before, both, n, model, static_cast<unsigned>(n));
            Journal::recover(real, s.table());
            const Snapshot now = snapshot(s.dir);
            ASSERT_TRUE(now == s.before || now == s.after || now == last)
                << "model " << int(model) << " crash at " << n << ": " << describe(now);
            if (!crashed) {
                EXPECT_EQ(now, last);
                break;
            }
        }
    }
}

// Journals altered anywhere but sealed with a fitting checksum (only a
// deliberate change can do that): recovery refuses or plays them back, never
// crashes, and never touches a file of another table.
TEST(Journal, AlteredJournalsStayWithinTheirTable) {
    Scenario s;
    const Bytes journalBytes = journalLeftBehind(s).at("T.DB-journal");
    std::mt19937 random(99);
    const Bytes other = randomBytes(3000, 77);
    FaultFileSystem quiet(px::defaultFileSystem(), false); // no syncs: only speed
    for (int round = 0; round < 300; ++round) {
        Bytes altered = journalBytes;
        for (int k = 0, n = 1 + static_cast<int>(random() % 4); k < n; ++k) {
            std::size_t at = random() % altered.size();
            if (at >= 32 && at < 40)
                at = 8 + random() % 24; // the header fields, not the checksum
            if (round % 3 == 0)
                at = 8 + random() % std::min<std::size_t>(altered.size() - 8, 120);
            altered[at] = static_cast<std::uint8_t>(random());
        }
        sealJournal(altered);
        Snapshot files = s.before;
        files["T.DB-journal"] = altered;
        files["U.DB"] = other;
        restore(s.dir, files);
        try {
            Journal::recover(quiet, s.table());
        } catch (const px::Error&) {
        }
        const Snapshot now = snapshot(s.dir);
        ASSERT_EQ(now.count("U.DB"), 1u);
        ASSERT_EQ(now.at("U.DB"), other) << "round " << round;
        for (const auto& [name, bytes] : now)
            ASSERT_TRUE(name.starts_with("T.") || name == "U.DB") << name;
    }
}
