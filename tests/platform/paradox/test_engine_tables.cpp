// Creating and changing tables: values survive a round trip, keys keep
// German dictionary order, refusals change nothing, and the files stay sound.
#include "testutil_nosync.h"
#include "testutil_tempdir.h"

#include "platform/paradox/table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include <sys/wait.h>
#include <unistd.h>

using px::Access;
using px::Bytes;
using px::Date;
using px::FieldDef;
using px::FieldType;
using px::Record;
using px::Table;
using px::Value;

namespace {

std::vector<FieldDef> addressFields() {
    return {{"Name", FieldType::Alpha, 30}, {"Vorname", FieldType::Alpha, 30},
            {"PLZ", FieldType::Alpha, 5},   {"Geburtstag", FieldType::Date, 0},
            {"Memo1", FieldType::Memo, 0},  {"Grafik", FieldType::Graphic, 0}};
}

Value text(const std::string& s) {
    return s;
}

Bytes picture(std::size_t size, std::uint8_t seed) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<std::uint8_t>((i * 131 + seed) ^ (i >> 8));
    return b;
}

std::string memoText(std::size_t size) {
    const std::string line = "Grüße aus Köln – 5 € für Straße und Maß\n";
    std::string s;
    while (s.size() < size)
        s += line;
    return s;
}

std::string name(const Record& r) {
    return std::holds_alternative<std::string>(r[0]) ? std::get<std::string>(r[0]) : "";
}

void expectSound(Table& t) {
    const auto result = t.check();
    for (const auto& p : result.problems)
        ADD_FAILURE() << p;
    EXPECT_TRUE(result.warnings.empty());
}

} // namespace

TEST(EngineTables, ValuesOfTheAddressKindsSurviveARoundTrip) {
    testutil::TempDir dir;
    const std::string path = dir.file("Adressen.db");
    Table::create(path, addressFields(), 2);

    const std::vector<std::size_t> sizes = {100, 3000, 1 << 20};
    std::vector<Record> written;
    {
        auto t = Table::open(path, Access::Write);
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            Record r = {text("Müller-Lüdenscheidt " + std::to_string(i)),
                        text("Jörg €"),
                        text("50667"),
                        Date{728783 + static_cast<int>(i)},
                        memoText(sizes[i]),
                        picture(sizes[i], static_cast<std::uint8_t>(i))};
            written.push_back(r);
            t->insert(r);
        }
        // Empty fields are NULL; a short memo stays in its record.
        written.push_back({text("Zander"), {}, {}, {}, text("kurz"), {}});
        t->insert(written.back());
        expectSound(*t);
    }
    auto t = Table::open(path, Access::Read);
    ASSERT_EQ(t->recordCount(), written.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        const Record r = t->read(static_cast<std::uint32_t>(i));
        ASSERT_EQ(r.size(), written[i].size());
        for (std::size_t f = 0; f < r.size(); ++f)
            EXPECT_TRUE(r[f] == written[i][f]) << "record " << i << " field " << f;
    }
    EXPECT_EQ(t->info().fileVersion, 9);
    EXPECT_EQ(t->info().codePage, 1252);
    EXPECT_EQ(t->info().sortOrderId, 0x62);
    EXPECT_EQ(t->info().blockSize, 4096);
    expectSound(*t);
}

// A scan reads neighbouring blocks together. Keys inserted out of order split
// blocks and append them at the end of the file, so the chain jumps about the
// file: every record must still come with its own value at its position, a
// scan may stop early, and a table opened again (chain from the index) reads
// the same.
TEST(EngineTables, AScanGivesEveryRecordWhereverItsBlockLies) {
    testutil::TempDir dir;
    const std::string path = dir.file("Adressen.db");
    Table::create(path, addressFields(), 1);
    auto expectScanMatchesReads = [](Table& t) {
        std::vector<Value> scanned;
        t.scanField(3, [&](std::uint32_t position, const Value& v) {
            EXPECT_EQ(position, scanned.size());
            scanned.push_back(v);
            return true;
        });
        ASSERT_EQ(scanned.size(), t.recordCount());
        for (std::uint32_t p = 0; p < t.recordCount(); ++p)
            ASSERT_TRUE(scanned[p] == t.read(p)[3]) << "record " << p;
        std::uint32_t seen = 0;
        t.scanField(0, [&](std::uint32_t, const Value&) { return ++seen < 4000; });
        EXPECT_EQ(seen, 4000u);
    };
    testutil::NoSyncFileSystem quiet;
    {
        auto t = Table::open(path, Access::Write, quiet);
        for (int i = 0; i < 6000; ++i)
            t->insert({text("N" + std::to_string(100000 + (i * 7919) % 6000)),
                       text("V"),
                       {},
                       Date{700000 + i},
                       {},
                       {}});
        for (std::uint32_t k = 0; k < 50; ++k)
            t->remove(k * 100);
        expectScanMatchesReads(*t);
    }
    auto t = Table::open(path, Access::Read, quiet);
    expectScanMatchesReads(*t);
}

TEST(EngineTables, ReplacingAndDeletingBlobsKeepsTheOthers) {
    testutil::TempDir dir;
    const std::string path = dir.file("b.db");
    Table::create(path, addressFields(), 1);
    auto t = Table::open(path, Access::Write);
    for (int i = 0; i < 6; ++i)
        t->insert(
            {text("N" + std::to_string(i)),
             {},
             {},
             {},
             memoText(static_cast<std::size_t>(500 + 900 * i)),
             picture(static_cast<std::size_t>(1000 + 2500 * i), static_cast<std::uint8_t>(i))});
    const auto mbSize = std::filesystem::file_size(dir.file("b.mb"));
    // Replace each blob many times: freed space is reused, the file does not
    // grow without bound, and the neighbours stay intact.
    for (int round = 0; round < 5; ++round)
        for (int i = 0; i < 6; i += 2)
            t->update(static_cast<std::uint32_t>(i),
                      {text("N" + std::to_string(i)),
                       {},
                       {},
                       {},
                       memoText(static_cast<std::size_t>(400 + 900 * i + round)),
                       picture(static_cast<std::size_t>(1000 + 2500 * i),
                               static_cast<std::uint8_t>(round + 10))});
    t->remove(1);
    for (int i = 0; i < 5; ++i) {
        const Record r = t->read(static_cast<std::uint32_t>(i));
        const int n = std::stoi(name(r).substr(1));
        const bool changed = n % 2 == 0;
        EXPECT_EQ(std::get<std::string>(r[4]),
                  memoText(static_cast<std::size_t>(changed ? 400 + 900 * n + 4 : 500 + 900 * n)));
        EXPECT_EQ(std::get<Bytes>(r[5]), picture(static_cast<std::size_t>(1000 + 2500 * n),
                                                 static_cast<std::uint8_t>(changed ? 14 : n)));
    }
    EXPECT_LT(std::filesystem::file_size(dir.file("b.mb")), mbSize * 3);
    expectSound(*t);
    // Space freed in an earlier session is found again.
    t.reset();
    const auto grown = std::filesystem::file_size(dir.file("b.mb"));
    for (int round = 0; round < 3; ++round) {
        auto again = Table::open(path, Access::Write);
        for (std::uint32_t i = 0; i < 5; ++i) {
            Record r = again->read(i);
            r[5] = picture(std::get<Bytes>(r[5]).size(), static_cast<std::uint8_t>(50 + round));
            again->update(i, r);
        }
        expectSound(*again);
    }
    EXPECT_LE(std::filesystem::file_size(dir.file("b.mb")), grown + 16 * 4096);
}

// A record read with its pictures referred to keeps them through an update
// without a byte of them being read or written; a reference into another
// record is a copy that outlives the original.
TEST(EngineTables, PicturesReferredToAreKeptUnreadAndCopiedWhereNeeded) {
    testutil::TempDir dir;
    const std::string path = dir.file("r.db");
    Table::create(path, addressFields(), 1);
    auto t = Table::open(path, Access::Write);
    t->insert({text("A"), {}, {}, {}, memoText(100), picture(300'000, 7)});
    const Record referred = t->read(0, px::Blobs::Refer);
    const auto* ref = std::get_if<px::BlobRef>(&referred[5]);
    ASSERT_TRUE(ref);
    EXPECT_EQ(ref->length, 300'000u + 8);
    EXPECT_EQ(std::get<std::string>(referred[4]), memoText(100)); // memos are read
    EXPECT_EQ(std::get<Bytes>(t->readField(0, 5)), picture(300'000, 7));

    const auto mbSize = std::filesystem::file_size(dir.file("r.mb"));
    Record changed = referred;
    changed[2] = text("53111");
    t->update(0, changed);
    EXPECT_EQ(std::get<px::BlobRef>(t->read(0, px::Blobs::Refer)[5]), *ref);
    EXPECT_EQ(std::filesystem::file_size(dir.file("r.mb")), mbSize);

    Record copy = changed;
    copy[0] = text("B");
    t->insert(copy);
    t->remove(0);
    const Record kept = t->read(0);
    EXPECT_EQ(name(kept), "B");
    EXPECT_EQ(std::get<Bytes>(kept[5]), picture(300'000, 7));
    expectSound(*t);
}

TEST(EngineTables, GermanDictionaryOrderWithExactKeys) {
    testutil::TempDir dir;
    const std::string path = dir.file("o.db");
    Table::create(path, {{"Name", FieldType::Alpha, 30}}, 1);
    auto t = Table::open(path, Access::Write);
    for (const char* n : {"Adam", "Müller", "Abel", "Mueller", "meier", "Äbel", "Meier", "Muller",
                          "Straße", "Strasse", "Zorn", "öder", "Ode"})
        t->insert({text(n)});
    std::vector<std::string> order;
    for (std::uint32_t i = 0; i < t->recordCount(); ++i)
        order.push_back(name(t->read(i)));
    const std::vector<std::string> expected = {"Abel",    "Äbel",   "Adam",   "Meier", "meier",
                                               "Mueller", "Muller", "Müller", "Ode",   "öder",
                                               "Strasse", "Straße", "Zorn"};
    EXPECT_EQ(order, expected);
    // Same letters, other spelling: distinct keys. Exactly equal: refused.
    EXPECT_THROW(t->insert({text("Müller")}), px::KeyViolation);
    EXPECT_EQ(t->lowerBound({text("Äbel")}), 1u);
    EXPECT_EQ(t->lowerBound({text("B")}), 3u);
    expectSound(*t);
}

TEST(EngineTables, RefusalsLeaveTheTableUnchanged) {
    testutil::TempDir dir;
    const std::string path = dir.file("r.db");
    Table::create(path, addressFields(), 2);
    auto t = Table::open(path, Access::Write);
    t->insert({text("Abel"), text("Eva")});
    try {
        t->insert({text("Abel"), text("Eva"), text("12345")});
        FAIL() << "key violation expected";
    } catch (const px::KeyViolation& e) {
        EXPECT_STREQ(e.what(), "Schlüsselverletzung.");
    }
    try {
        t->insert({text(std::string(31, 'x'))});
        FAIL() << "too long";
    } catch (const px::Error& e) {
        EXPECT_NE(
            std::string(e.what()).find("ist zu lang für das Feld \"Name\" (höchstens 30 Zeichen)"),
            std::string::npos)
            << e.what();
    }
    // 30 umlauts fit: the limit counts characters of the code page, not UTF-8 bytes.
    std::string umlauts;
    for (int i = 0; i < 30; ++i)
        umlauts += "ä";
    EXPECT_NO_THROW(t->insert({text(umlauts)}));
    EXPECT_THROW(t->insert({text("東京")}), px::Error);
    EXPECT_THROW(t->insert({text("Ok"), {}, {}, {}, text("Ω im Memo")}), px::Error);
    EXPECT_THROW(t->insert({text("Ok"), {}, {}, text("kein Datum")}), px::Error);
    // A key change onto an existing key is refused as well; the record stays.
    t->insert({text("Zorn"), text("Eva")});
    EXPECT_THROW(t->update(2, {text("Abel"), text("Eva")}), px::KeyViolation);
    EXPECT_EQ(t->recordCount(), 3u);
    EXPECT_EQ(name(t->read(2)), "Zorn");
    expectSound(*t);
}

TEST(EngineTables, WriteAccessIsExclusiveAndReadersCannotChange) {
    testutil::TempDir dir;
    const std::string path = dir.file("l.db");
    Table::create(path, addressFields(), 2);
    auto writer = Table::open(path, Access::Write);
    try {
        Table::open(path, Access::Write);
        FAIL() << "second writer let in";
    } catch (const px::Error& e) {
        EXPECT_STREQ(e.what(), "Die Tabelle wird bereits von einem anderen Programm bearbeitet.");
    }
    EXPECT_THROW(Table::create(path, addressFields(), 2), px::Error);
    auto reader = Table::open(path, Access::Read);
    EXPECT_THROW(reader->insert({text("X")}), px::Error);
}

TEST(EngineTables, ATableAnotherProcessWritesIsNeitherDeletedNorReplaced) {
    testutil::TempDir dir;
    const std::string path = dir.file("Adressen.db");
    Table::create(path, addressFields(), 2);
    {
        auto t = Table::open(path, Access::Write);
        t->insert({text("Abel"), text("Eva"), {}, {}, memoText(3000)});
        t->insert({text("Zorn"), text("Ida")});
    }
    auto tableFiles = [&] {
        return testutil::readFiles(dir.path(), [](const std::filesystem::directory_entry& e) {
            return e.path().extension() != ".lck";
        });
    };
    const testutil::Files before = tableFiles();

    // The other program: holds the table open for writing until told to go on.
    int ready[2], goOn[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(goOn), 0);
    const pid_t other = ::fork();
    ASSERT_GE(other, 0);
    if (other == 0) {
        ::close(ready[0]);
        ::close(goOn[1]);
        int rc = 1;
        try {
            auto t = Table::open(path, Access::Write);
            char c = 'r';
            if (::write(ready[1], &c, 1) == 1 && ::read(goOn[0], &c, 1) == 0) {
                t->insert({text("Meier"), text("Jan")});
                rc = 0;
            }
        } catch (...) {
        }
        ::_exit(rc);
    }
    ::close(ready[1]);
    ::close(goOn[0]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);

    const std::string busy = "Die Tabelle wird bereits von einem anderen Programm bearbeitet.";
    for (const auto& attempt : std::vector<std::function<void()>>{
             [&] { Table::deleteFile(path); }, [&] { Table::create(path, addressFields(), 2); },
             [&] { Table::open(path, Access::Write); }}) {
        try {
            attempt();
            ADD_FAILURE() << "went ahead while another process writes the table";
        } catch (const px::Error& e) {
            EXPECT_EQ(e.what(), busy);
        }
    }
    EXPECT_EQ(tableFiles(), before);
    EXPECT_EQ(Table::open(path, Access::Read)->recordCount(), 2u);

    ::close(goOn[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(other, &status, 0), other);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    {
        auto t = Table::open(path, Access::Write);
        EXPECT_EQ(t->recordCount(), 3u); // the other program's table is whole
        expectSound(*t);
    }
    // Nobody holds it now: it goes, and no lock file stays behind.
    Table::deleteFile(path);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(std::filesystem::exists(path + ".lck"));
    EXPECT_NO_THROW(Table::deleteFile(path)); // missing is fine
}

TEST(EngineTables, NoLockFilesAtAll) {
    testutil::TempDir dir;
    const std::string path = dir.file("t.db");
    Table::create(path, addressFields(), 2);
    {
        auto t = Table::open(path, Access::Write);
        auto reader = Table::open(path, Access::Read);
        t->insert({text("Abel")});
        const auto steady = reader->holdSteady();
        EXPECT_EQ(reader->recordCount(), 1u) << "a reader sees what was committed since it opened";
        EXPECT_FALSE(std::filesystem::exists(path + ".lck"));
    }
    EXPECT_FALSE(std::filesystem::exists(path + ".lck"));
    std::ofstream(dir.file("x.db")) << "Name;Ort\r\nMeier;Köln\r\n";
    for (const char* name : {"x.db", "missing.db"}) {
        EXPECT_THROW(Table::open(dir.file(name), Access::Write), px::Error);
        EXPECT_FALSE(std::filesystem::exists(dir.file(std::string(name) + ".lck"))) << name;
    }
    // A lock taken after its file went under the first holder still keeps others out.
    auto first = Table::open(path, Access::Write);
    first.reset();
    auto second = Table::open(path, Access::Write);
    EXPECT_THROW(Table::open(path, Access::Write), px::Error);
}

TEST(EngineTables, CreateReplacesTheOldTableAndItsCompanions) {
    testutil::TempDir dir;
    const std::string path = dir.file("Kunden.db");
    Table::create(path, addressFields(), 2);
    {
        auto t = Table::open(path, Access::Write);
        t->insert({text("Alt"), {}, {}, {}, memoText(5000)});
    }
    // Companions with other cases of the extension, as other programs write them.
    std::filesystem::rename(dir.file("Kunden.px"), dir.file("Kunden.PX"));
    std::ofstream(dir.file("Kunden.X02")) << "stale";
    Table::create(path, {{"Nummer", FieldType::Alpha, 10}}, 0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("Kunden.PX")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("Kunden.mb")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("Kunden.X02")));
    auto t = Table::open(path, Access::Write);
    EXPECT_EQ(t->recordCount(), 0u);
    EXPECT_EQ(t->info().fields.size(), 1u);
    EXPECT_EQ(t->info().keyFieldCount, 0);
    // An unkeyed table keeps the order of insertion.
    for (int i = 9; i >= 0; --i)
        EXPECT_EQ(t->insert({text(std::to_string(i))}), static_cast<std::uint32_t>(9 - i));
    EXPECT_EQ(name(t->read(0)), "9");
    t->remove(0);
    EXPECT_EQ(t->update(3, {text("x")}), 3u);
    EXPECT_EQ(name(t->read(3)), "x");
    expectSound(*t);
}

TEST(EngineTables, BadDeclarationsAreRefused) {
    testutil::TempDir dir;
    const std::string path = dir.file("d.db");
    EXPECT_THROW(Table::create(path, {}, 0), px::Error);
    EXPECT_THROW(Table::create(path, {{"A", FieldType::Alpha, 0}}, 1), px::Error);
    EXPECT_THROW(Table::create(path, {{"A", FieldType::Alpha, 10}, {"a", FieldType::Alpha, 5}}, 1),
                 px::Error);
    EXPECT_THROW(Table::create(path, {{"M", FieldType::Memo, 0}}, 1), px::Error);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(EngineTables, EveryOtherFieldKindSurvivesARoundTrip) {
    testutil::TempDir dir;
    const std::string path = dir.file("arten.db");
    Table::create(path,
                  {{"Nr", FieldType::AutoInc, 0},
                   {"Kurz", FieldType::Short, 0},
                   {"Lang", FieldType::Long, 0},
                   {"Zahl", FieldType::Number, 0},
                   {"Geld", FieldType::Money, 0},
                   {"Ja", FieldType::Logical, 0},
                   {"Zeit", FieldType::Time, 0},
                   {"Stempel", FieldType::Timestamp, 0},
                   {"Dezimal", FieldType::BCD, 2},
                   {"Roh", FieldType::Bytes, 4},
                   {"Binaer", FieldType::Blob, 10},
                   {"Format", FieldType::FmtMemo, 20},
                   {"Objekt", FieldType::OLE, 10}},
                  1);
    const std::vector<Record> rows = {
        {{},
         std::int64_t{-32767},
         std::int64_t{2147483647},
         -0.5,
         0.0,
         false,
         px::TimeOfDay{86'399'999},
         px::Timestamp{728783.0 * 86'400'000 + 3'723'004},
         px::Decimal{"-1234.56"},
         Bytes{0, 1, 2, 3},
         picture(5000, 1),
         Bytes{7, 0, 0, 0, 9},
         picture(40, 2)},
        {{},
         std::int64_t{0},
         std::int64_t{-1},
         1e300,
         -12.25,
         true,
         px::TimeOfDay{0},
         {},
         px::Decimal{"0.01"},
         {},
         {},
         {},
         {}},
    };
    {
        auto t = Table::open(path, Access::Write);
        EXPECT_EQ(t->info().fileVersion, 11); // these kinds need level 5
        for (const auto& r : rows)
            t->insert(r);
        expectSound(*t);
    }
    auto t = Table::open(path, Access::Read);
    ASSERT_EQ(t->recordCount(), 2u);
    for (std::uint32_t i = 0; i < 2; ++i) {
        const Record r = t->read(i);
        EXPECT_EQ(std::get<std::int64_t>(r[0]), i + 1) << "autoincrement numbers from 1";
        for (std::size_t f = 1; f < r.size(); ++f)
            EXPECT_TRUE(r[f] == rows[i][f]) << "record " << i << " field " << f;
    }
}

TEST(EngineTables, AutoincrementKeysNeverRepeat) {
    testutil::TempDir dir;
    const std::string path = dir.file("auto.db");
    Table::create(path, {{"Nr", FieldType::AutoInc, 0}, {"Name", FieldType::Alpha, 20}}, 1);
    {
        auto t = Table::open(path, Access::Write);
        t->insert({std::int64_t{5}, text("fünf")});
        t->insert({{}, text("sechs")});
        EXPECT_EQ(std::get<std::int64_t>(t->readField(1, 0)), 6);
    }
    // Another program left the counter behind the highest number: the number
    // drawn collides and the insert is refused instead of doubling a key.
    {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(0x49);
        const char five[4] = {5, 0, 0, 0};
        f.write(five, 4);
    }
    auto t = Table::open(path, Access::Write);
    EXPECT_THROW(t->insert({{}, text("doppelt")}), px::KeyViolation);
    EXPECT_EQ(t->recordCount(), 2u);
    expectSound(*t);
}
