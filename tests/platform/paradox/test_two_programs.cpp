// Two programs at one table, as real processes: one writer whatever happens
// to the folder, and readers (the command-line tool) that never see a commit
// half done.
#include "testutil_nosync.h"
#include "testutil_tempdir.h"
#include "testutil_tool.h"

#include "platform/paradox/table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using px::Access;
using px::Table;

namespace {

const char* const kInUse = "Die Tabelle wird bereits von einem anderen Programm bearbeitet.";

std::vector<px::FieldDef> fields() {
    return {{"Name", px::FieldType::Alpha, 20},
            {"Ort", px::FieldType::Alpha, 30},
            {"Memo1", px::FieldType::Memo, 50}};
}

// A record whose fields all derive from its key, so a reader can tell a whole
// record from one put together from two states of the table. The memo is
// longer than its leader: it lives in the .mb.
px::Record recordFor(const std::string& key) {
    std::string memo;
    for (int i = 0; i < 6; ++i)
        memo += "Notiz zu " + key + ". ";
    return {key, "Ort " + key, memo};
}

bool isWhole(const std::vector<std::string>& cells) {
    if (cells.size() != 3)
        return false;
    const px::Record expected = recordFor(cells[0]);
    return cells[1] == std::get<std::string>(expected[1]) &&
           cells[2] == std::get<std::string>(expected[2]);
}

// The cells of a dump line (no quotes or commas in these values but the
// quoting the tool may add).
std::vector<std::string> cellsOf(const std::string& line) {
    std::vector<std::string> cells;
    std::string cell;
    std::istringstream in(line);
    while (std::getline(in, cell, ',')) {
        if (cell.size() >= 2 && cell.front() == '"' && cell.back() == '"')
            cell = cell.substr(1, cell.size() - 2);
        cells.push_back(cell);
    }
    return cells;
}

testutil::ToolRun tool(const std::string& command, const std::string& path) {
    return testutil::runTool(VELLUMO_TABLE_TOOL, command, path, true);
}

// A child process that runs body and exits with its result; exceptions are 99.
template <class F> pid_t spawn(F body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        int code = 99;
        try {
            code = body();
        } catch (...) {
        }
        ::_exit(code);
    }
    return pid;
}

// Whether the other end of a pipe is still open (nothing is ever written to it).
bool stillOpen(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 0;
}

int exitCodeOf(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

std::set<std::string> namesIn(const std::string& path) {
    auto t = Table::open(path, Access::Read);
    std::set<std::string> names;
    t->scanField(0, [&](std::uint32_t, const px::Value& v) {
        names.insert(std::get<std::string>(v));
        return true;
    });
    return names;
}

} // namespace

// Something tidies the folder (a person, a backup or sync tool, a temp
// cleaner) while a program has the table open: every file but the table's own
// goes. A second writer is still refused, and what both wrote is in the table.
TEST(TwoPrograms, OneWriterWhateverIsDeletedBesideTheTable) {
    testutil::TempDir dir;
    const std::string path = dir.file("ADRESSEN.DB");
    Table::create(path, fields(), 1);
    int ready[2], goOn[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(goOn), 0);
    const pid_t holder = spawn([&] {
        ::close(ready[0]);
        ::close(goOn[1]);
        auto t = Table::open(path, Access::Write);
        t->insert(recordFor("Erster"));
        char c = 'r';
        if (::write(ready[1], &c, 1) != 1 || ::read(goOn[0], &c, 1) != 1)
            return 2;
        // Its journal went too: this save makes a new one.
        t->insert(recordFor("Zweiter"));
        return 0;
    });
    ::close(ready[1]);
    ::close(goOn[0]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);

    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".DB" && ext != ".PX" && ext != ".MB" && ext != ".db" && ext != ".px" &&
            ext != ".mb")
            std::filesystem::remove(entry.path());
    }
    const pid_t second = spawn([&] {
        try {
            auto t = Table::open(path, Access::Write);
            t->insert(recordFor("Dazwischen"));
            return 1;
        } catch (const px::Error& e) {
            return std::string(e.what()) == kInUse ? 0 : 3;
        }
    });
    EXPECT_EQ(exitCodeOf(second), 0) << "a second writer got in";
    const testutil::ToolRun dump = tool("dump", path);
    EXPECT_EQ(dump.status, 0) << dump.out;
    EXPECT_NE(dump.out.find("Erster"), std::string::npos) << "readers read meanwhile";

    ASSERT_EQ(::write(goOn[1], &c, 1), 1);
    EXPECT_EQ(exitCodeOf(holder), 0);
    // Once the holder is gone, the next writer gets in and adds to its records.
    const pid_t after = spawn([&] {
        Table::open(path, Access::Write)->insert(recordFor("Danach"));
        return 0;
    });
    EXPECT_EQ(exitCodeOf(after), 0);
    EXPECT_EQ(namesIn(path), (std::set<std::string>{"Danach", "Erster", "Zweiter"}));
    const testutil::ToolRun check = tool("check", path);
    EXPECT_EQ(check.status, 0) << check.out;
    EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
}

// The tool's dump and check in a loop while another program commits a few
// thousand changes: no failure, no damage reported, and every dump is a set of
// whole records in key order, taken between two commits.
TEST(TwoPrograms, ReadersNeverSeeHalfACommit) {
    testutil::TempDir dir;
    const std::string path = dir.file("Adressen.db");
    Table::create(path, fields(), 1);
    constexpr int kRecords = 2000;
    // done: closed when the writer has finished; round: a byte per reading
    // round, which the writer waits for now and then so reading and writing
    // surely interleave, however the machine schedules the two.
    int done[2], round[2];
    ASSERT_EQ(::pipe(done), 0);
    ASSERT_EQ(::pipe(round), 0);
    const pid_t writer = spawn([&] {
        ::close(done[0]);
        std::vector<int> order(kRecords);
        for (int i = 0; i < kRecords; ++i)
            order[static_cast<std::size_t>(i)] = i;
        std::shuffle(order.begin(), order.end(), std::mt19937(7));
        // Without syncs, so thousands of commits take seconds; the journal
        // and its locks are the same.
        testutil::NoSyncFileSystem fast;
        auto t = Table::open(path, Access::Write, fast);
        for (int i = 0; i < kRecords; ++i) {
            char key[16];
            std::snprintf(key, sizeof key, "K%05d", order[static_cast<std::size_t>(i)]);
            t->insert(recordFor(key));
            // Deletes too, so blocks merge and leave the chain while readers read.
            if (i % 5 == 4)
                t->remove(static_cast<std::uint32_t>(order[static_cast<std::size_t>(i)]) %
                          t->recordCount());
            char c;
            if (i % 400 == 399 && ::read(round[0], &c, 1) != 1)
                return 2;
        }
        ::close(done[1]);
        return 0;
    });
    ::close(done[1]);

    int dumps = 0, checks = 0;
    std::size_t largest = 0;
    for (bool writing = true; writing;) {
        // Whether the writer is still at work decides after this round.
        writing = stillOpen(done[0]);
        const testutil::ToolRun dump = tool("dump", path);
        ASSERT_EQ(dump.status, 0) << dump.out;
        std::istringstream lines(dump.out);
        std::string line, previous;
        std::getline(lines, line); // the field names
        std::set<std::string> keys;
        while (std::getline(lines, line)) {
            const auto cells = cellsOf(line);
            ASSERT_TRUE(isWhole(cells)) << "dump " << dumps << ": " << line;
            ASSERT_LT(previous, cells[0]) << "out of key order or twice";
            previous = cells[0];
            keys.insert(cells[0]);
        }
        largest = std::max(largest, keys.size());
        ++dumps;
        const testutil::ToolRun check = tool("check", path);
        ASSERT_EQ(check.status, 0) << check.out;
        ASSERT_EQ(check.out.find("Fehler"), std::string::npos) << check.out;
        ++checks;
        ASSERT_EQ(::write(round[1], "r", 1), 1);
    }
    EXPECT_EQ(exitCodeOf(writer), 0);
    EXPECT_GT(dumps, kRecords / 400);
    EXPECT_EQ(namesIn(path).size(), static_cast<std::size_t>(kRecords - kRecords / 5));
    std::printf("%d dumps and %d checks beside the writer, up to %zu records\n", dumps, checks,
                largest);
}
