// Cross-checks with Debian's pxlib, a reader and writer nobody here wrote:
// what pxlib reads from a table, we read too, and the other way round.
#include "platform/paradox/restructure.h"
#include "platform/paradox/table.h"
#include "testutil_addressfields.h"
#include "testutil_nosync.h"
#include "testutil_protect.h"
#include "testutil_pxlib.h"
#include "testutil_samples.h"
#include "testutil_tempdir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ostream>

using testutil::pxl::readAll;
using testutil::pxl::writeTable;

namespace px {
// Readable values in failure messages.
void PrintTo(const Date& d, std::ostream* os) {
    *os << "Date{" << d.day << "}";
}
void PrintTo(const TimeOfDay& t, std::ostream* os) {
    *os << "TimeOfDay{" << t.ms << "}";
}
void PrintTo(const Timestamp& t, std::ostream* os) {
    *os << "Timestamp{" << t.ms << "}";
}
void PrintTo(const Decimal& d, std::ostream* os) {
    *os << "Decimal{" << d.text << "}";
}
} // namespace px

namespace {

bool isNull(const px::Value& v) {
    return std::holds_alternative<std::monostate>(v);
}

// pxlib cannot tell a NULL number or timestamp from zero.
bool sameAsPxlib(const px::Value& ours, const px::Value& theirs) {
    if (ours == theirs)
        return true;
    // pxlib writes "1." where we write "1".
    const auto* a = std::get_if<px::Decimal>(&ours);
    const auto* b = std::get_if<px::Decimal>(&theirs);
    if (a && b)
        return std::strtod(a->text.c_str(), nullptr) == std::strtod(b->text.c_str(), nullptr);
    if (isNull(ours)) {
        if (const double* d = std::get_if<double>(&theirs))
            return *d == 0;
        if (const auto* t = std::get_if<px::Timestamp>(&theirs))
            return t->ms == 0;
    }
    return false;
}

bool isBlob(px::FieldType t) {
    return t == px::FieldType::Memo || t == px::FieldType::Blob || t == px::FieldType::FmtMemo ||
           t == px::FieldType::OLE || t == px::FieldType::Graphic;
}

} // namespace

TEST(Pxlib, SamplesReadAsPxlibReadsThem) {
    SKIP_WITHOUT_SAMPLES();
    int compared = 0;
    for (const std::string& rel : testutil::allSampleTables()) {
        SCOPED_TRACE(rel);
        const std::string path = testutil::samplePath(rel);
        const auto theirs = readAll(path);
        auto ours = px::Table::open(path, px::Access::Read);
        ASSERT_EQ(ours->recordCount(), theirs.records.size());
        ASSERT_EQ(ours->info().fields.size(), theirs.fields.size());
        for (std::size_t f = 0; f < theirs.fields.size(); ++f) {
            EXPECT_EQ(ours->info().fields[f].name, theirs.fields[f].name);
            EXPECT_EQ(ours->info().fields[f].type, theirs.fields[f].type);
            EXPECT_EQ(ours->info().fields[f].size, theirs.fields[f].size);
        }
        for (std::uint32_t pos = 0; pos < ours->recordCount(); ++pos) {
            const px::Record record = ours->read(pos);
            for (std::size_t f = 0; f < theirs.fields.size(); ++f) {
                const px::FieldType type = theirs.fields[f].type;
                if (isBlob(type))
                    continue; // pxlib 0.6.8 aborts on genuine .mb files
                if (type == px::FieldType::Alpha && theirs.codePage == 0)
                    continue; // pxlib does not recode without a code page
                if (type == px::FieldType::BCD && theirs.fields[f].size > 30)
                    continue; // pxlib misreads BCD values with 32 decimals
                if (!sameAsPxlib(record[f], theirs.records[pos][f])) {
                    ADD_FAILURE() << "record " << pos << " field " << theirs.fields[f].name
                                  << ": ours " << ::testing::PrintToString(record[f]) << ", pxlib "
                                  << ::testing::PrintToString(theirs.records[pos][f]);
                    break;
                }
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 100000);
}

namespace {

std::vector<px::FieldDef> everyKind() {
    using px::FieldType;
    return {{"Name", FieldType::Alpha, 20},       {"Tag", FieldType::Date, 4},
            {"Kurz", FieldType::Short, 2},        {"Lang", FieldType::Long, 4},
            {"Zahl", FieldType::Number, 8},       {"Geld", FieldType::Money, 8},
            {"Ja", FieldType::Logical, 1},        {"Zeit", FieldType::Time, 4},
            {"Stempel", FieldType::Timestamp, 8}, {"Dez", FieldType::BCD, 2},
            {"Roh", FieldType::Bytes, 6},         {"Notiz", FieldType::Memo, 20},
            {"Bild", FieldType::Graphic, 10}};
}

px::Bytes picture(std::size_t n, std::uint8_t seed) {
    px::Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(i * 31 + seed);
    return b;
}

std::string memo(std::size_t n) {
    std::string s;
    while (s.size() < n)
        s += "Grüße aus Köln, 5 € – ";
    s.resize(n);
    // never cut a multi-byte character in half
    while (!s.empty() && (static_cast<unsigned char>(s.back()) & 0xC0) == 0x80)
        s.pop_back();
    if (!s.empty() && static_cast<unsigned char>(s.back()) >= 0xC0)
        s.pop_back();
    return s;
}

std::vector<px::Record> everyKindRecords() {
    using namespace px;
    const std::monostate null;
    std::vector<Record> r;
    r.push_back({std::string("Abel"), Date{738885}, std::int64_t{-5}, std::int64_t{123456}, 1.5,
                 -19.99, true, TimeOfDay{3723004}, Timestamp{738885.0 * 86'400'000 + 1000},
                 Decimal{"-12.34"}, Bytes{1, 2, 3, 0, 0, 0}, std::string("kurz"), picture(100, 1)});
    r.push_back({std::string("Äbel €"), null, null, null, null, null, false, null, null, null, null,
                 memo(300), picture(3000, 2)});
    r.push_back({std::string("Zoë Müller-Weiß"), Date{1}, std::int64_t{0}, std::int64_t{-1}, -0.25,
                 1e9, null, TimeOfDay{0}, Timestamp{1.0}, Decimal{"99.99"},
                 Bytes{0xff, 0, 0xff, 0, 0xff, 0}, memo(5000), null});
    r.push_back({std::string("Zz"), Date{767010}, std::int64_t{32767}, std::int64_t{2147483647},
                 123456.789, 0.01, true, TimeOfDay{86'399'999}, null, Decimal{"0.01"}, null,
                 memo(2048), picture(70'000, 3)});
    return r;
}

} // namespace

TEST(Pxlib, TablesWrittenByPxlibReadBackIdentically) {
    testutil::TempDir dir;
    const auto fields = everyKind();
    const auto records = everyKindRecords();
    for (int variant = 0; variant < 3; ++variant) {
        const bool keyed = variant > 0, withIndex = variant == 2;
        SCOPED_TRACE(variant == 0 ? "unkeyed" : withIndex ? "keyed with .px" : "keyed, no .px");
        const std::string base = dir.file("t" + std::to_string(variant));
        const std::string db = base + ".db";
        writeTable(db, fields, keyed ? 1 : 0, records, base + ".mb", withIndex ? base + ".px" : "");
        auto t = px::Table::open(db, px::Access::Read);
        EXPECT_EQ(t->info().fileVersion, 12);
        EXPECT_EQ(t->info().codePage, 1252);
        EXPECT_EQ(t->info().keyFieldCount, keyed ? 1 : 0);
        ASSERT_EQ(t->recordCount(), records.size());
        for (std::uint32_t pos = 0; pos < records.size(); ++pos) {
            const px::Record got = t->read(pos);
            for (std::size_t f = 0; f < fields.size(); ++f)
                EXPECT_EQ(got[f], records[pos][f])
                    << "record " << pos << " field " << fields[f].name;
        }
        if (keyed) {
            px::Record probe(fields.size());
            probe[0] = std::string("Zoë");
            EXPECT_EQ(t->lowerBound(probe), 2u);
        }
        const auto check = t->check();
        // A keyed table without its index reads, but check names the missing index.
        EXPECT_EQ(check.problems.size(), keyed && !withIndex ? 1u : 0u)
            << ::testing::PrintToString(check.problems);
    }
}

namespace {

// An address table of ours with count records: umlauts, €, memos, pictures.
void buildAddressTable(const std::string& db, int count) {
    const auto fields = testutil::addressFieldDefs();
    // The real files without the syncs: this test is about the bytes, not
    // about durability, and a sync per insert would make it slow.
    testutil::NoSyncFileSystem fs;
    px::Table::create(db, fields, vellumo::address::kKeyFieldCount, fs);
    const char* names[] = {"Müller", "Mueller", "Meier", "meier", "Äbel",   "Abel",
                           "Adam",   "Weiß",    "Weiss", "Zoë",   "Öztürk", "Ostermann"};
    auto t = px::Table::open(db, px::Access::Write, fs);
    for (int i = 0; i < count; ++i) {
        px::Record r(fields.size());
        r[0] = std::string(names[static_cast<std::size_t>(i) % std::size(names)]);
        r[1] = "Vorname " + std::to_string(static_cast<std::size_t>(i) / std::size(names));
        r[2] = "Hauptstraße " + std::to_string(i % 97);
        r[3] = std::to_string(10000 + i * 7 % 89999);
        r[4] = std::string(i % 3 ? "Köln" : "Düsseldorf");
        r[9] = "person" + std::to_string(i) + "@example.de";
        r[13] = std::string("Sparkasse – Zweigstelle €");
        r[15] = px::Date{720000 + i};
        if (i % 5 == 0)
            r[18] = memo(static_cast<std::size_t>(1 + i % 4000));
        if (i % 50 == 0)
            r[19] = picture(static_cast<std::size_t>(100 + i), 9);
        t->insert(r);
    }
    const auto check = t->check();
    ASSERT_TRUE(check.problems.empty()) << ::testing::PrintToString(check.problems);
}

} // namespace

TEST(Pxlib, PxlibReadsOurTablesAndTheirIndex) {
    testutil::TempDir dir;
    // 60 records fit a one-level index; 1500 need a second level.
    for (int count : {60, 1500}) {
        SCOPED_TRACE(count);
        const std::string db = dir.file("Adressen" + std::to_string(count) + ".db");
        const std::string pxPath = db.substr(0, db.size() - 3) + ".px";
        buildAddressTable(db, count);
        if (::testing::Test::HasFatalFailure())
            return;
        auto ours = px::Table::open(db, px::Access::Read);
        EXPECT_EQ(ours->info().indexLevels, count > 100 ? 2 : 1);
        // pxlib 0.6.8 aborts on every genuine .mb file, so it reads ours without one.
        const auto theirs = readAll(db);
        ASSERT_EQ(theirs.records.size(), ours->recordCount());
        EXPECT_EQ(theirs.codePage, 1252);
        EXPECT_EQ(theirs.keyFields, 5);
        for (std::uint32_t pos = 0; pos < ours->recordCount(); ++pos) {
            const px::Record r = ours->read(pos);
            for (std::size_t f = 0; f < 18; ++f) // no blobs without the .mb
                ASSERT_TRUE(sameAsPxlib(r[f], theirs.records[pos][f]))
                    << "record " << pos << " field " << f << ": ours "
                    << ::testing::PrintToString(r[f]) << ", pxlib "
                    << ::testing::PrintToString(theirs.records[pos][f]);
        }

        // The primary index: pxlib must accept it and find every record through it.
        testutil::pxl::Doc table, index;
        ASSERT_EQ(PX_open_file(table.get(), db.c_str()), 0) << table.lastError();
        ASSERT_EQ(PX_open_file(index.get(), pxPath.c_str()), 0) << index.lastError();
        EXPECT_EQ(index.get()->px_head->px_filetype, pxfFileTypPrimIndex);
        ASSERT_EQ(PX_read_primary_index(index.get()), 0) << index.lastError();
        // pxlib takes the first block of the index chain for the root.
        ASSERT_EQ(PX_add_primary_index(table.get(), index.get()), 0) << table.lastError();
        PX_set_targetencoding(table.get(), "UTF-8");
        const int nf = PX_get_num_fields(table.get());
        for (std::uint32_t pos : {0u, 1u, ours->recordCount() / 2, ours->recordCount() - 1}) {
            pxval_t** v = PX_retrieve_record(table.get(), static_cast<int>(pos));
            ASSERT_NE(v, nullptr) << table.lastError();
            EXPECT_EQ(testutil::pxl::toValue(v[0]), ours->readField(pos, 0)) << pos;
            EXPECT_EQ(testutil::pxl::toValue(v[2]), ours->readField(pos, 2)) << pos;
            testutil::pxl::freeRecord(table.get(), v, nf);
        }
    }
}

namespace {

template <class F> std::string germanRefusal(F&& f) {
    try {
        f();
    } catch (const px::Error& e) {
        return e.what();
    }
    return "(nicht abgelehnt)";
}

} // namespace

TEST(Pxlib, ProtectedTablesReadWithoutPasswordAndCopyUnprotected) {
    testutil::TempDir dir;
    const std::string plain = dir.file("Klar.db");
    buildAddressTable(plain, 2000);
    if (::testing::Test::HasFatalFailure())
        return;
    const std::string folder = dir.file("geschuetzt");
    std::filesystem::create_directory(folder);
    for (const char* ext : {".db", ".px", ".mb"})
        std::filesystem::copy_file(dir.file(std::string("Klar") + ext), folder + "/Adressen" + ext);
    const std::string db = folder + "/Adressen.db";
    testutil::protectWithPassword(db, folder + "/Adressen.mb", "Geheimnis");
    ASSERT_GT(std::filesystem::file_size(db) / 4096, 256u) << "block numbers beyond one byte";
    const testutil::Files before = testutil::readFiles(folder);
    EXPECT_TRUE(px::isPasswordProtected(db));
    EXPECT_FALSE(px::isPasswordProtected(plain));

    // Every value, memos and pictures of the scrambled .mb included, reads as
    // in the table before it was protected; pxlib reads the same.
    auto original = px::Table::open(plain, px::Access::Read);
    auto prot = px::Table::open(db, px::Access::Read);
    ASSERT_EQ(prot->recordCount(), original->recordCount());
    const auto theirs = readAll(db);
    ASSERT_EQ(theirs.records.size(), prot->recordCount());
    for (std::uint32_t pos = 0; pos < prot->recordCount(); ++pos) {
        const px::Record r = prot->read(pos);
        ASSERT_EQ(r, original->read(pos)) << "record " << pos;
        for (std::size_t f = 0; f < 18; ++f)
            ASSERT_TRUE(sameAsPxlib(r[f], theirs.records[pos][f])) << pos << " field " << f;
    }
    EXPECT_TRUE(prot->check().problems.empty());

    // Nothing writes into it: the refusals are German, the files stay.
    for (const std::string& refusal :
         {germanRefusal([&] { px::Table::open(db, px::Access::Write); }),
          germanRefusal([&] { prot->insert(px::Record(prot->info().fields.size())); }),
          germanRefusal([&] { px::compactTable(db); }), germanRefusal([&] {
              px::appendFields(db, {{"Neu", px::FieldType::Alpha, 5}});
          })})
        EXPECT_NE(refusal.find("mit einem Kennwort geschützt"), std::string::npos) << refusal;
    EXPECT_TRUE(testutil::readFiles(folder) == before);

    // The unprotected copy: pxlib reads the values it read from the original,
    // and it takes changes like any table. A second copy over it is refused.
    const std::string copy = dir.file("Kopie.db");
    px::writeUnprotectedCopy(db, copy);
    EXPECT_FALSE(px::isPasswordProtected(copy));
    EXPECT_TRUE(testutil::readFiles(folder) == before);
    const auto copied = readAll(copy);
    ASSERT_EQ(copied.records.size(), theirs.records.size());
    for (std::size_t pos = 0; pos < copied.records.size(); ++pos)
        for (std::size_t f = 0; f < 18; ++f)
            ASSERT_TRUE(sameAsPxlib(copied.records[pos][f], theirs.records[pos][f]))
                << pos << " field " << f;
    {
        auto writable = px::Table::open(copy, px::Access::Write);
        EXPECT_EQ(writable->info().keyFieldCount, prot->info().keyFieldCount);
        EXPECT_EQ(writable->read(1000), prot->read(1000));
        writable->remove(0);
        EXPECT_TRUE(writable->check().problems.empty());
    }
    EXPECT_NE(germanRefusal([&] { px::writeUnprotectedCopy(db, copy); }).find("gibt es schon"),
              std::string::npos);
    EXPECT_EQ(px::Table::open(copy, px::Access::Read)->recordCount(), 1999u);
    // Replacing a table is asked for; never the protected table itself.
    px::writeUnprotectedCopy(db, copy, true);
    EXPECT_EQ(px::Table::open(copy, px::Access::Read)->recordCount(), 2000u);
    EXPECT_NE(germanRefusal([&] {
                  px::writeUnprotectedCopy(db, db, true);
              }).find("an die Stelle der Tabelle selbst"),
              std::string::npos);
    EXPECT_TRUE(testutil::readFiles(folder) == before);

    // The protected sample of another program: its copy reads as it does.
    SKIP_WITHOUT_SAMPLES();
    const std::string sample = testutil::samplePath("leonhad-paradoxdriver/encrypt/encrypted.db");
    const std::string sampleCopy = dir.file("Beispiel.db");
    px::writeUnprotectedCopy(sample, sampleCopy);
    const auto fromSample = readAll(sample), fromCopy = readAll(sampleCopy);
    ASSERT_EQ(fromSample.records.size(), 4u);
    EXPECT_EQ(fromCopy.records, fromSample.records);
    EXPECT_EQ(fromCopy.codePage, fromSample.codePage);
}
