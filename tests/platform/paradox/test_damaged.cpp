// Damaged tables: whatever happens to the bytes of a table, the engine answers
// with px::Error (or reads what is there), never with a crash, a hang, another
// kind of exception or a huge allocation.
#include "platform/paradox/table.h"
#include "testutil_counting.h"
#include "testutil_memfs.h"
#include "testutil_samples.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>
#include <string>

using testutil::MemoryFileSystem;
using Bytes = MemoryFileSystem::Bytes;

namespace {

// The pieces of one table, as files.
struct Pieces {
    Bytes db, px, mb;
};

Pieces loadSample(const std::string& rel) {
    const std::string path = testutil::samplePath(rel);
    Pieces p;
    p.db = testutil::readBytes(path);
    const std::string base = path.substr(0, path.size() - 3);
    for (const char* ext : {".px", ".PX"})
        if (p.px.empty())
            p.px = testutil::readBytes(base + ext);
    for (const char* ext : {".mb", ".MB"})
        if (p.mb.empty())
            p.mb = testutil::readBytes(base + ext);
    return p;
}

struct Outcome {
    bool opened = false;
    bool failed = false;   // some operation gave px::Error
    bool problems = false; // check() reported problems
};

void putPieces(MemoryFileSystem& fs, const Pieces& p) {
    fs.put("/d/t.db", p.db);
    if (!p.px.empty())
        fs.put("/d/t.px", p.px);
    if (!p.mb.empty())
        fs.put("/d/t.mb", p.mb);
}

// A copy opened for writing takes an insert and a delete: nothing the files
// claim may make that crash, hang or grow the file without bound, and a table
// that was sound stays sound.
void writeStep(const Pieces& p, const Outcome& read) {
    MemoryFileSystem fs;
    putPieces(fs, p);
    std::unique_ptr<px::Table> t;
    try {
        t = px::Table::open("/d/t.db", px::Access::Write, fs);
    } catch (const px::Error&) {
        EXPECT_TRUE(read.failed || read.problems || !read.opened)
            << "a sound table refused a writer";
        return;
    }
    const std::size_t before = p.db.size();
    try {
        t->insert(px::Record{});
    } catch (const px::Error&) {
    }
    try {
        if (t->recordCount() > 0)
            t->remove(t->recordCount() / 2);
    } catch (const px::Error&) {
    }
    EXPECT_LE(fs.get("/d/t.db")->size(), before + 2 * 32768u)
        << "the file grew by far more than a block";
    const auto result = t->check();
    if (read.opened && !read.failed && !read.problems) {
        EXPECT_TRUE(result.problems.empty()) << "damaged by a change: " << result.problems.front();
    }
}

// Opens the table and does everything a reader does, then what a writer
// does; only px::Error may come out.
Outcome exercise(const Pieces& p) {
    MemoryFileSystem fs;
    putPieces(fs, p);
    Outcome o;
    std::unique_ptr<px::Table> t;
    try {
        t = px::Table::open("/d/t.db", px::Access::Read, fs);
    } catch (const px::Error& e) {
        EXPECT_GT(std::strlen(e.what()), 0u);
        o.failed = true;
        writeStep(p, o);
        return o;
    }
    o.opened = true;
    const std::uint32_t n = std::min<std::uint32_t>(t->recordCount(), 2000);
    for (std::uint32_t pos = 0; pos < n; ++pos) {
        try {
            t->read(pos);
        } catch (const px::Error&) {
            o.failed = true;
        }
    }
    for (int f = 0; f < static_cast<int>(t->info().fields.size()); ++f) {
        try {
            std::uint32_t seen = 0;
            t->scanField(f, [&](std::uint32_t, const px::Value&) { return ++seen < 2000; });
        } catch (const px::Error&) {
            o.failed = true;
        }
    }
    try {
        o.problems = !t->check().problems.empty();
    } catch (const px::Error&) {
        o.failed = true;
    }
    t.reset();
    writeStep(p, o);
    return o;
}

// Runs exercise and turns anything but px::Error into a test failure with the
// damage named, so one bad case does not stop the rest.
Outcome survive(const Pieces& p, const std::string& what) {
    SCOPED_TRACE(what);
    try {
        return exercise(p);
    } catch (const std::exception& e) {
        ADD_FAILURE() << what << ": " << typeid(e).name() << ": " << e.what();
    } catch (...) {
        ADD_FAILURE() << what << ": unknown exception";
    }
    return {};
}

void put16(Bytes& b, std::size_t at, unsigned v) {
    if (at + 2 <= b.size()) {
        b[at] = static_cast<std::uint8_t>(v);
        b[at + 1] = static_cast<std::uint8_t>(v >> 8);
    }
}
unsigned get16(const Bytes& b, std::size_t at) {
    return at + 2 <= b.size() ? static_cast<unsigned>(b[at] | b[at + 1] << 8) : 0;
}

struct Layout {
    unsigned recordSize, headerSize, blockSize, firstBlock, blocks;
    std::vector<std::pair<int, int>> fields; // type, size
};

Layout layoutOf(const Bytes& db) {
    Layout l{get16(db, 0), get16(db, 2), db[5] * 1024u, get16(db, 0x0E), get16(db, 0x0C), {}};
    const int n = static_cast<std::int16_t>(get16(db, 0x21));
    const bool dataHeader = db[0x39] >= 5; // level 4 and later
    std::size_t at = dataHeader ? 0x78 : 0x58;
    for (int i = 0; i < n && at + 1 < db.size(); ++i, at += 2)
        l.fields.emplace_back(db[at], db[at + 1]);
    return l;
}

const char* const kSmallTables[] = {
    "leonhad-paradoxdriver/db/CUSTOMER.DB",       "leonhad-paradoxdriver/db/HERCULES.DB",
    "leonhad-paradoxdriver/db/AREACODE.DB",       "leonhad-paradoxdriver/db/GENERAL.DB",
    "leonhad-paradoxdriver/fields/memo.db",       "leonhad-paradoxdriver/fields/fmemo.db",
    "leonhad-paradoxdriver/fields/graphic240.db", "leonhad-paradoxdriver/fields/bcd.db",
    "leonhad-paradoxdriver/fields/date7.db",      "teverett-paradoxReader/PCLDATA/TYPEFACE.DB",
    "leonhad-paradoxdriver/db/ORDERS.DB",         "leonhad-paradoxdriver/db/ROMAN8.db",
};

// A table the engine makes itself, so these run without the sample tables:
// keyed (through its index) or not (through its chain), several full blocks.
Pieces madeTable(bool keyed, int records) {
    MemoryFileSystem fs;
    px::Table::create("/m/t.db",
                      {{"Name", px::FieldType::Alpha, 40}, {"Ort", px::FieldType::Alpha, 200}},
                      keyed ? 1 : 0, fs);
    {
        auto t = px::Table::open("/m/t.db", px::Access::Write, fs);
        for (int i = 0; i < records; ++i)
            t->insert({"n" + std::to_string(100000 + i), std::string("Köln")});
    }
    Pieces p;
    p.db = *fs.get("/m/t.db");
    if (keyed)
        p.px = *fs.get("/m/t.px");
    return p;
}

// One with memos in all three places: the leader, a shared .mb block, a
// block of its own.
Pieces madeMemoTable() {
    MemoryFileSystem fs;
    px::Table::create("/m/t.db",
                      {{"Name", px::FieldType::Alpha, 20},
                       {"Memo1", px::FieldType::Memo, 0},
                       {"Grafik", px::FieldType::Graphic, 0}},
                      1, fs);
    {
        auto t = px::Table::open("/m/t.db", px::Access::Write, fs);
        for (int i = 0; i < 40; ++i)
            t->insert({"n" + std::to_string(100 + i),
                       std::string(i % 3 == 0   ? 10
                                   : i % 3 == 1 ? 1000
                                                : 5000,
                                   static_cast<char>('a' + i % 26)),
                       i % 4 == 0 ? px::Value{px::Bytes(3000, 0x42)} : px::Value{}});
    }
    return {*fs.get("/m/t.db"), *fs.get("/m/t.px"), *fs.get("/m/t.mb")};
}

// What a damage test works on: tables the engine made, so it runs in any
// clone, and the named samples when they are beside the project.
std::vector<std::pair<std::string, Pieces>> tablesToDamage(std::vector<const char*> samples,
                                                           bool blobsOnly = false) {
    std::vector<std::pair<std::string, Pieces>> tables;
    tables.emplace_back("made: memos", madeMemoTable());
    if (!blobsOnly) {
        tables.emplace_back("made: keyed", madeTable(true, 100));
        tables.emplace_back("made: unkeyed", madeTable(false, 100));
    }
    if (!testutil::samplesDir().empty())
        for (const char* rel : samples)
            tables.emplace_back(rel, loadSample(rel));
    return tables;
}

} // namespace

TEST(Damaged, TruncatedAtManyLengths) {
    for (const auto& [rel, whole] : tablesToDamage(
             std::vector<const char*>(std::begin(kSmallTables), std::end(kSmallTables)))) {
        SCOPED_TRACE(rel);
        const Layout l = layoutOf(whole.db);
        std::vector<std::size_t> cuts = {0, 1, 2, 5, 6, 0x20, 0x57, 0x58, 0x77, 0x78, 0x79};
        for (std::size_t c = l.headerSize - 8; c <= l.headerSize + 8; ++c)
            cuts.push_back(c);
        for (std::size_t c = l.headerSize; c < whole.db.size(); c += 61)
            cuts.push_back(c);
        cuts.push_back(whole.db.size() - 1);
        for (std::size_t cut : cuts) {
            if (cut >= whole.db.size())
                continue;
            Pieces p = whole;
            p.db.resize(cut);
            const Outcome o = survive(p, "db cut at " + std::to_string(cut));
            if (cut < l.headerSize) {
                EXPECT_TRUE(o.failed && !o.opened)
                    << "a table cut inside its header opened, cut " << cut;
            }
        }
        for (std::size_t cut = 0; cut < whole.px.size(); cut += whole.px.size() / 9 + 1) {
            Pieces p = whole;
            p.px.resize(cut);
            survive(p, "px cut at " + std::to_string(cut));
        }
        for (std::size_t cut = 0; cut < whole.mb.size(); cut += 509) {
            Pieces p = whole;
            p.mb.resize(cut);
            survive(p, "mb cut at " + std::to_string(cut));
        }
    }
}

TEST(Damaged, HeaderBytesChanged) {
    for (const auto& [rel, whole] : tablesToDamage(
             std::vector<const char*>(std::begin(kSmallTables), std::end(kSmallTables)))) {
        SCOPED_TRACE(rel);
        const std::size_t end = std::min<std::size_t>(layoutOf(whole.db).headerSize, 0x300);
        for (std::size_t at = 0; at < end; ++at)
            for (std::uint8_t value :
                 {std::uint8_t(0), std::uint8_t(0xFF), std::uint8_t(whole.db[at] ^ 0x81)}) {
                if (value == whole.db[at])
                    continue;
                Pieces p = whole;
                p.db[at] = value;
                survive(p, "db byte " + std::to_string(at) + " = " + std::to_string(value));
            }
        const std::size_t pxEnd = std::min<std::size_t>(whole.px.size(), 0x60);
        for (std::size_t at = 0; at < pxEnd; ++at) {
            Pieces p = whole;
            p.px[at] ^= 0xFF;
            survive(p, "px byte " + std::to_string(at));
        }
    }
}

TEST(Damaged, BlockChainsThatLoopOrLeaveTheFile) {
    for (const auto& [rel, whole] : tablesToDamage({"leonhad-paradoxdriver/db/ORDERS.DB",
                                                    "leonhad-paradoxdriver/db/AREACODE.DB",
                                                    "leonhad-paradoxdriver/areas/ZIPCODES.DB",
                                                    "teverett-paradoxReader/PCLDATA/PCL.DB"})) {
        SCOPED_TRACE(rel);
        const Layout l = layoutOf(whole.db);
        const std::size_t first = l.headerSize + (l.firstBlock - 1) * l.blockSize;
        auto expectNoticed = [&](const Pieces& p, const std::string& what) {
            const Outcome o = survive(p, what);
            EXPECT_TRUE(o.failed || o.problems) << what << " went unnoticed";
        };
        Pieces loop = whole;
        put16(loop.db, first, l.firstBlock); // the first block points at itself
        expectNoticed(loop, "self loop");
        Pieces back = whole;
        const unsigned second = get16(whole.db, first);
        if (second) {
            put16(back.db, l.headerSize + (second - 1) * l.blockSize, l.firstBlock);
            expectNoticed(back, "loop back to the first block");
        }
        for (unsigned outside : {l.blocks + 1, 0x7FFFu, 0xFFFFu}) {
            Pieces p = whole;
            put16(p.db, first, outside);
            expectNoticed(p, "next block " + std::to_string(outside));
            Pieces h = whole;
            put16(h.db, 0x0E, outside); // first block of the chain
            survive(h, "first block " + std::to_string(outside));
            Pieces lastBlock = whole;
            put16(lastBlock.db, 0x10, outside);
            survive(lastBlock, "last block " + std::to_string(outside));
        }
        for (unsigned lastOffset : {0x7FFFu, 0x8000u, 0xFFFEu, l.blockSize, l.recordSize + 1}) {
            Pieces p = whole;
            put16(p.db, first + 4, lastOffset); // records in the block
            survive(p, "last record offset " + std::to_string(lastOffset));
        }
        for (std::uint32_t count : {0u, 1u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
            Pieces p = whole;
            std::memcpy(p.db.data() + 6, &count, 4); // records in the header
            survive(p, "record count " + std::to_string(count));
        }
        // The index: blocks and counts that do not fit the table.
        if (!whole.px.empty()) {
            const Layout x = layoutOf(whole.px);
            for (unsigned root : {0u, x.blocks + 1, 0xFFFFu}) {
                Pieces p = whole;
                put16(p.px, 0x1E, root);
                survive(p, "index root " + std::to_string(root));
            }
            for (std::uint8_t levels : {std::uint8_t{0}, std::uint8_t{3}, std::uint8_t{0xFF}}) {
                Pieces p = whole;
                p.px[0x20] = levels;
                survive(p, "index levels " + std::to_string(levels));
            }
            // Garble each index record's block number and count.
            Pieces p = whole;
            for (std::size_t at = x.headerSize + 6; at + x.recordSize <= p.px.size();
                 at += x.recordSize) {
                p.px[at + x.recordSize - 6] ^= 0x5A;
                p.px[at + x.recordSize - 3] ^= 0xA5;
            }
            survive(p, "garbled index entries");
        }
    }
}

TEST(Damaged, BlobPointersIntoNowhere) {
    const std::uint32_t offsets[] = {0x1000,     0x10FF,     0x103F, 0x7FFFF000,
                                     0xFFFFFFFF, 0x00000040, 0x2000, 0x1001};
    const std::uint32_t lengths[] = {0, 1, 17, 2049, 100000, 0x7FFFFFFF, 0xFFFFFFFF};
    for (const auto& [rel, whole] : tablesToDamage(
             {"leonhad-paradoxdriver/db/CUSTOMER.DB", "leonhad-paradoxdriver/db/HERCULES.DB",
              "leonhad-paradoxdriver/fields/memo.db", "leonhad-paradoxdriver/fields/fmemo.db",
              "leonhad-paradoxdriver/fields/graphic240.db"},
             true)) {
        SCOPED_TRACE(rel);
        const Layout l = layoutOf(whole.db);
        std::size_t fieldAt = 0;
        int blobSize = 0;
        for (auto [type, size] : l.fields) {
            if (type == 0x0C || type == 0x0E || type == 0x10) {
                blobSize = size;
                break;
            }
            fieldAt += static_cast<std::size_t>(size);
        }
        ASSERT_GT(blobSize, 0);
        const std::size_t record0 = l.headerSize + (l.firstBlock - 1) * l.blockSize + 6;
        const std::size_t desc = record0 + fieldAt + static_cast<std::size_t>(blobSize) - 10;
        for (std::uint32_t off : offsets)
            for (std::uint32_t len : lengths) {
                Pieces p = whole;
                std::memcpy(p.db.data() + desc, &off, 4);
                std::memcpy(p.db.data() + desc + 4, &len, 4);
                survive(p, "blob at " + std::to_string(off) + " length " + std::to_string(len));
            }
        Pieces noMb = whole;
        noMb.mb.clear();
        survive(noMb, "blob file missing");
        // The blob file's own block headers and slot tables.
        for (std::size_t block = 0x1000; block < whole.mb.size(); block += 0x1000) {
            for (std::size_t at :
                 {block, block + 1, block + 2, block + 3, block + 7, block + 12,
                  block + 12 + 5 * 63, block + 12 + 5 * 63 + 1, block + 12 + 5 * 63 + 4}) {
                for (std::uint8_t v :
                     std::initializer_list<std::uint8_t>{0x00, 0x02, 0x03, 0x04, 0xFF}) {
                    Pieces p = whole;
                    p.mb[at] = v;
                    survive(p, "mb byte " + std::to_string(at) + " = " + std::to_string(v));
                }
            }
        }
    }
}

TEST(Damaged, GarbageAndFilesThatAreNoTables) {
    const std::string text = "Name;Vorname;Ort\r\nMüller;Hans;Köln\r\nSchmidt;Anna;Berlin\r\n";
    Pieces p;
    p.db.assign(text.begin(), text.end());
    EXPECT_TRUE(survive(p, "a text file").failed);
    p.db.clear();
    EXPECT_TRUE(survive(p, "an empty file").failed);

    std::mt19937 random(1234);
    auto bytes = [&](std::size_t n) {
        Bytes b(n);
        for (auto& c : b)
            c = static_cast<std::uint8_t>(random());
        return b;
    };
    for (int i = 0; i < 300; ++i) {
        Pieces g;
        g.db = bytes(random() % 12000);
        if (i % 2 && g.db.size() > 0x80) {
            // Plausible values where a reader looks first, so it gets further.
            g.db[4] = static_cast<std::uint8_t>(random() % 3);
            g.db[5] = static_cast<std::uint8_t>(1 + random() % 4);
            g.db[0x39] = static_cast<std::uint8_t>(3 + random() % 10);
            put16(g.db, 2, 0x800);
            put16(g.db, 0x21, 1 + random() % 8);
        }
        if (i % 3 == 0)
            g.px = bytes(random() % 5000);
        if (i % 4 == 0)
            g.mb = bytes(random() % 9000);
        survive(g, "random bytes " + std::to_string(i));
    }
    if (testutil::samplesDir().empty())
        return;
    // Real tables with random bytes sprinkled over them.
    for (const char* rel : kSmallTables) {
        const Pieces whole = loadSample(rel);
        for (int i = 0; i < 40; ++i) {
            Pieces s = whole;
            for (int k = 0; k < 1 + i % 8; ++k) {
                Bytes& target = k % 3 == 2 && !s.mb.empty() ? s.mb : s.db;
                target[random() % target.size()] = static_cast<std::uint8_t>(random());
            }
            survive(s, std::string(rel) + " sprinkled " + std::to_string(i));
        }
    }
}

TEST(Damaged, ATableCutShortStaysClosedAndASoundOneOpensWithoutReadingItsBlocks) {
    // Opening a sound table reads its header, not its blocks, whatever its size.
    std::vector<int> reads;
    for (int records : {300, 3000}) {
        MemoryFileSystem mem;
        putPieces(mem, madeTable(true, records));
        testutil::CountingFileSystem counting(mem);
        auto t = px::Table::open("/d/t.db", px::Access::Read, counting);
        EXPECT_EQ(t->recordCount(), static_cast<std::uint32_t>(records));
        reads.push_back(counting.reads["/d/t.db"]);
    }
    EXPECT_EQ(reads[0], reads[1]);
    EXPECT_LE(reads[1], 3);

    auto expectRefused = [](const Pieces& p, const std::string& what) {
        MemoryFileSystem fs;
        putPieces(fs, p);
        for (px::Access access : {px::Access::Read, px::Access::Write})
            EXPECT_THROW(px::Table::open("/d/t.db", access, fs), px::Error) << what;
        EXPECT_EQ(*fs.get("/d/t.db"), p.db) << what << ": written to";
        // check still gets to see it, and says what is wrong.
        EXPECT_FALSE(px::Table::openForCheck("/d/t.db", fs)->check().problems.empty()) << what;
    };
    for (bool keyed : {true, false}) {
        SCOPED_TRACE(keyed ? "keyed" : "unkeyed");
        const Pieces whole = madeTable(keyed, 300);
        const Layout l = layoutOf(whole.db);
        ASSERT_GE(l.blocks, 5u);
        // Cuts through the records of the last block, and whole blocks off the end.
        const unsigned last = get16(whole.db, 0x10);
        const std::size_t lastStart = l.headerSize + (last - 1) * l.blockSize;
        const unsigned inLast = get16(whole.db, lastStart + 4) / l.recordSize + 1;
        for (std::size_t cut :
             {lastStart + 6 + l.recordSize * inLast / 2, lastStart + 6 + 1, lastStart,
              lastStart - l.blockSize / 2, std::size_t{l.headerSize} + l.blockSize + 100}) {
            Pieces p = whole;
            p.db.resize(cut);
            expectRefused(p, "cut at " + std::to_string(cut));
        }
        // What the chain shows on the way: a wrong back link, a record total
        // the blocks do not hold.
        Pieces link = whole;
        const unsigned second = get16(whole.db, l.headerSize + (l.firstBlock - 1) * l.blockSize);
        put16(link.db, l.headerSize + (second - 1) * l.blockSize + 2, second);
        if (!keyed) // a keyed table reads its chain only when changed
            expectRefused(link, "back link");
        Pieces total = whole;
        total.db[6] += 5;
        expectRefused(total, "record total");
    }

    // A real table cut as a user met it: 3,000 of its 6,144 bytes.
    if (testutil::samplesDir().empty())
        return;
    Pieces hercules = loadSample("leonhad-paradoxdriver/db/HERCULES.DB");
    ASSERT_EQ(hercules.db.size(), 6144u);
    hercules.db.resize(3000);
    expectRefused(hercules, "HERCULES.DB cut at 3000");
}

TEST(Damaged, BlockCountsBeyondTheFileSteerNoWrite) {
    const Pieces whole = madeTable(true, 300);
    const Layout l = layoutOf(whole.db);
    const Layout x = layoutOf(whole.px);
    auto insertAndCheck = [&](const Pieces& p, const std::string& what) {
        SCOPED_TRACE(what);
        MemoryFileSystem fs;
        putPieces(fs, p);
        auto t = px::Table::open("/d/t.db", px::Access::Write, fs);
        // Enough records for new data blocks and new index blocks.
        for (int i = 0; i < 400; ++i)
            t->insert({"m" + std::to_string(100000 + i), std::string("Bonn")});
        t->remove(3);
        EXPECT_EQ(t->recordCount(), 699u);
        const auto result = t->check();
        EXPECT_TRUE(result.problems.empty()) << result.problems.front();
        EXPECT_LE(fs.get("/d/t.db")->size(), std::size_t{l.headerSize} + 100u * l.blockSize);
        EXPECT_LE(fs.get("/d/t.px")->size(), std::size_t{x.headerSize} + 8u * x.blockSize);
        t.reset();
        EXPECT_GE(px::Table::open("/d/t.db", px::Access::Read, fs)->info().indexLevels, 1);
    };
    for (unsigned claimed : {0xFFFFu, 40000u}) {
        Pieces p = whole;
        put16(p.db, 0x0A, claimed);
        put16(p.db, 0x0C, claimed);
        put16(p.db, 0x3A, claimed);
        insertAndCheck(p, ".db claims " + std::to_string(claimed) + " blocks");
        Pieces q = whole;
        put16(q.px, 0x0A, claimed);
        put16(q.px, 0x0C, claimed);
        insertAndCheck(q, ".px claims " + std::to_string(claimed) + " blocks");
    }
    // An index that cannot be the table's is rebuilt by the first change.
    Pieces wrong = whole;
    put16(wrong.px, 0x1E, 0x7FFF); // root outside the file
    insertAndCheck(wrong, "index root outside");
    Pieces levels = whole;
    levels.px[0x20] = 5;
    insertAndCheck(levels, "index levels");
}

// Inputs the fuzzer found, cut down to what still triggered the fault.
TEST(Damaged, FuzzFindings) {
    // A level-5 header that ends at 0x58, before its data header (read past the
    // end of the header buffer while looking for the password checksum at 0x5C).
    Bytes shortDataHeader(0x58, 0);
    put16(shortDataHeader, 0x00, 2);    // record size
    put16(shortDataHeader, 0x02, 0x58); // header size
    shortDataHeader[0x04] = 2;          // unkeyed table
    shortDataHeader[0x05] = 1;          // 1 KiB blocks
    put16(shortDataHeader, 0x21, 1);    // one field
    shortDataHeader[0x39] = 12;         // level 7
    Pieces p;
    p.db = shortDataHeader;
    EXPECT_TRUE(survive(p, "data header cut short").failed);
    p.db.resize(0x77, 0);
    put16(p.db, 0x02, 0x77);
    EXPECT_TRUE(survive(p, "data header one byte short").failed);

    // The index's count for the first block disagrees with the block, and the
    // second block's link leaves the file. Going back to the chain failed
    // half-way and left a short chain behind the index's record counts: the
    // next scan stood still at the end of the first block for ever.
    MemoryFileSystem fs;
    px::Table::create("/m/t.db", {{"Name", px::FieldType::Alpha, 200}}, 1, fs);
    {
        auto t = px::Table::open("/m/t.db", px::Access::Write, fs);
        for (int i = 0; i < 60; ++i)
            t->insert({std::string("k") + char('A' + i / 26) + char('a' + i % 26)});
    }
    Bytes& db = fs.bytes("/m/t.db");
    const unsigned headerSize = get16(db, 2), blockSize = db[5] * 1024u;
    const unsigned first = get16(db, 0x0E),
                   second = get16(db, headerSize + (first - 1) * blockSize);
    ASSERT_NE(second, 0u);
    put16(db, headerSize + (first - 1) * blockSize + 4, 0);   // one record, not a full block
    put16(db, headerSize + (second - 1) * blockSize, 0x7FFF); // next block far outside
    auto t = px::Table::open("/m/t.db", px::Access::Read, fs);
    for (int round = 0; round < 3; ++round) {
        std::uint32_t seen = 0;
        EXPECT_THROW(
            t->scanField(0, [&](std::uint32_t, const px::Value&) { return ++seen < 1000; }),
            px::Error);
        try {
            t->read(t->recordCount() - 1); // its block still agrees with the index
        } catch (const px::Error&) {
        }
    }
}
