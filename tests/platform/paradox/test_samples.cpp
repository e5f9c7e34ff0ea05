// The real tables other Paradox programs wrote: every one opens with the facts
// of its header, reads every record, and the values we know come out exactly.
#include "platform/paradox/table.h"
#include "testutil_samples.h"
#include "testutil_tempdir.h"
#include "testutil_tool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include <sys/wait.h>

using testutil::samplePath;

namespace {

std::unique_ptr<px::Table> openSample(const std::string& relative) {
    return px::Table::open(samplePath(relative), px::Access::Read);
}

char kindLetter(px::FieldType t) {
    switch (t) {
    case px::FieldType::Alpha:
        return 'A';
    case px::FieldType::Date:
        return 'D';
    case px::FieldType::Short:
        return 'S';
    case px::FieldType::Long:
        return 'I';
    case px::FieldType::Money:
        return '$';
    case px::FieldType::Number:
        return 'N';
    case px::FieldType::Logical:
        return 'L';
    case px::FieldType::Memo:
        return 'M';
    case px::FieldType::Blob:
        return 'B';
    case px::FieldType::FmtMemo:
        return 'F';
    case px::FieldType::OLE:
        return 'O';
    case px::FieldType::Graphic:
        return 'G';
    case px::FieldType::Time:
        return 'T';
    case px::FieldType::Timestamp:
        return '@';
    case px::FieldType::AutoInc:
        return '+';
    case px::FieldType::BCD:
        return '#';
    case px::FieldType::Bytes:
        return 'Y';
    }
    return '?';
}

std::string kinds(const px::TableInfo& info) {
    std::string s;
    for (const auto& f : info.fields)
        s += kindLetter(f.type);
    return s;
}

template <class T> T as(const px::Value& v) {
    if (!std::holds_alternative<T>(v))
        throw std::runtime_error("value of another kind (variant index " +
                                 std::to_string(v.index()) + ")");
    return std::get<T>(v);
}

std::string text(const px::Value& v) {
    return as<std::string>(v);
}

// Memo text as it is in the .mb: line ends may come back as CR LF or as LF.
bool sameMemoText(const std::string& got, const std::string& raw) {
    if (got == raw)
        return true;
    std::string lf;
    for (std::size_t i = 0; i < raw.size(); ++i)
        if (!(raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n'))
            lf += raw[i];
    return got == lf;
}

struct Facts {
    const char* table;
    const char* level;
    int fileVersion;
    int codePage;
    int sortOrder;
    int keyFields;
    int blockKiB;
    const char* kinds;
    std::uint32_t records;
};

// From the table of samples and their properties beside the files.
const Facts kFacts[] = {
    {"leonhad-paradoxdriver/db/CUSTOMER.DB", "7", 12, 1252, 0x11, 1, 2, "+AAAAAAAMD", 20},
    {"leonhad-paradoxdriver/db/HERCULES.DB", "7", 12, 1252, 0x11, 1, 2, "AM", 20},
    {"leonhad-paradoxdriver/db/AREACODES.DB", "7", 12, 1252, 0x4c, 1, 16, "AAA", 370},
    {"leonhad-paradoxdriver/db/ORDERS.DB", "7", 12, 437, 0x00, 1, 2, "NNDDA$$$AAA", 224},
    {"leonhad-paradoxdriver/db/AREACODE.DB", "4", 9, 437, 0x00, 1, 2, "AAAA", 135},
    {"leonhad-paradoxdriver/db/GENERAL.DB", "5", 11, 936, 0x03, 1, 2, "IA$", 3},
    {"leonhad-paradoxdriver/db/ROMAN8.db", "4", 9, 437, 0x14, 0, 2, "A", 1},
    {"leonhad-paradoxdriver/fields/memo.db", "5", 11, 850, 0x00, 1, 2, "+M", 2},
    {"leonhad-paradoxdriver/fields/fmemo.db", "5", 11, 850, 0x00, 1, 2, "+F", 2},
    {"leonhad-paradoxdriver/fields/graphic240.db", "5", 11, 850, 0x00, 1, 2, "+G", 1},
    {"leonhad-paradoxdriver/fields/long.db", "5", 11, 850, 0x00, 1, 2, "+I", 3},
    {"leonhad-paradoxdriver/fields/bcd.db", "5", 11, 850, 0x00, 0, 2, "###", 3},
    {"leonhad-paradoxdriver/fields/bytes.db", "5", 11, 850, 0x00, 0, 2, "Y", 1},
    {"leonhad-paradoxdriver/fields/logical.db", "5", 11, 1252, 0x11, 0, 2, "L", 4},
    {"leonhad-paradoxdriver/fields/time.db", "5", 11, 1252, 0x40, 0, 2, "T", 3},
    {"leonhad-paradoxdriver/fields/timestamp.db", "5", 11, 850, 0x00, 0, 2, "@", 2},
    {"leonhad-paradoxdriver/fields/date35.db", "3.5", 4, 437, 0x00, 0, 2, "D", 3},
    {"leonhad-paradoxdriver/fields/date4.db", "4", 9, 850, 0x00, 0, 2, "D", 3},
    {"leonhad-paradoxdriver/fields/date7.db", "5", 11, 850, 0x00, 0, 2, "DT", 5},
    {"leonhad-paradoxdriver/areas/ZIPCODES.DB", "4", 9, 437, 0x00, 1, 2, "AAA", 43185},
    {"teverett-paradoxReader/PCLDATA/PCL.DB", "3.0", 3, 437, 0x00, 0, 1, "AAAAAAAAAAAAAAAAS", 161},
    {"teverett-paradoxReader/PCLDATA/TYPEFACE.DB", "3.0", 3, 437, 0x00, 0, 1, "AA", 16},
};

} // namespace

TEST(Samples, EveryTableOpensWithTheFactsOfItsHeaderAndIsSound) {
    SKIP_WITHOUT_SAMPLES();
    for (const Facts& f : kFacts) {
        SCOPED_TRACE(f.table);
        std::unique_ptr<px::Table> t;
        ASSERT_NO_THROW(t = openSample(f.table));
        const px::TableInfo& info = t->info();
        EXPECT_EQ(info.levelName, f.level);
        EXPECT_EQ(info.fileVersion, f.fileVersion);
        EXPECT_EQ(info.codePage, f.codePage);
        EXPECT_EQ(info.sortOrderId, f.sortOrder);
        EXPECT_EQ(info.keyFieldCount, f.keyFields);
        EXPECT_EQ(info.blockSize, f.blockKiB * 1024);
        EXPECT_EQ(kinds(info), f.kinds);
        EXPECT_EQ(t->recordCount(), f.records);
        if (f.keyFields == 0) {
            EXPECT_EQ(info.indexLevels, 0);
        }
        const px::Table::CheckResult check = t->check();
        EXPECT_TRUE(check.problems.empty()) << ::testing::PrintToString(check.problems);
    }
}

TEST(Samples, EveryRecordReadsAndScansAgreeWithWholeRecords) {
    SKIP_WITHOUT_SAMPLES();
    for (const Facts& f : kFacts) {
        if (f.records > 1000)
            continue; // ZIPCODES has a test of its own
        SCOPED_TRACE(f.table);
        auto t = openSample(f.table);
        std::vector<px::Record> records;
        for (std::uint32_t pos = 0; pos < t->recordCount(); ++pos) {
            records.push_back(t->read(pos));
            ASSERT_EQ(records.back().size(), t->info().fields.size());
        }
        for (std::size_t field = 0; field < t->info().fields.size(); ++field) {
            std::uint32_t expected = 0;
            t->scanField(static_cast<int>(field), [&](std::uint32_t pos, const px::Value& v) {
                EXPECT_EQ(pos, expected);
                if (pos < records.size()) {
                    EXPECT_EQ(v, records[pos][field]) << "field " << field << " record " << pos;
                }
                ++expected;
                return true;
            });
            EXPECT_EQ(expected, t->recordCount());
            if (t->recordCount() > 0) {
                EXPECT_EQ(t->readField(t->recordCount() - 1, static_cast<int>(field)),
                          records.back()[field]);
            }
        }
    }
}

TEST(Samples, MemosInAllThreeStorageFormsComeBackInFull) {
    SKIP_WITHOUT_SAMPLES();
    auto t = openSample("leonhad-paradoxdriver/db/CUSTOMER.DB");
    const int comments = t->fieldIndex("Comments");
    ASSERT_EQ(comments, 8);
    const auto column = static_cast<std::size_t>(comments);
    EXPECT_EQ(t->info().fields[column].size, 110);
    // Record 1 keeps its memo in the record, 2, 3 and 5 in a shared block,
    // 4 in a block run of its own.
    const auto r0 = t->read(0);
    EXPECT_EQ(as<std::int64_t>(r0[0]), 1);
    EXPECT_EQ(text(r0[1]), "Luke");
    EXPECT_EQ(text(r0[column]), "Small comment (less 100 symbols)");
    EXPECT_EQ(as<px::Date>(r0[9]).day, 728691); // 1996-02-02
    const std::string r1 = text(t->readField(1, comments));
    EXPECT_EQ(r1.rfind("\tThe length of the leader may be zero", 0), 0u);
    EXPECT_TRUE(r1.size() == 518 || r1.size() == 518 - 2) << r1.size(); // 2 CR LF, 7 lone CR
    EXPECT_TRUE(text(t->readField(2, comments)).size() == 318 ||
                text(t->readField(2, comments)).size() == 318 - 7);
    const std::string big = text(t->readField(3, comments));
    EXPECT_EQ(big.rfind(" The PARADOX File Structure", 0), 0u);
    EXPECT_TRUE(big.size() == 56864 || big.size() == 56864 - 1009) << big.size();
    EXPECT_NE(big.find("Stream.Done;"), std::string::npos); // the very end of the blob
    EXPECT_TRUE(text(t->readField(4, comments)).rfind("private static String readFile", 0) == 0);
    int withMemo = 0;
    t->scanField(comments, [&](std::uint32_t, const px::Value& v) {
        withMemo += !std::holds_alternative<std::monostate>(v) && !text(v).empty();
        return true;
    });
    EXPECT_EQ(withMemo, 5);

    auto h = openSample("leonhad-paradoxdriver/db/HERCULES.DB");
    EXPECT_EQ(text(h->readField(0, 0)), "CUSTTF_HEADER");
    EXPECT_TRUE(sameMemoText(text(h->readField(5, 1)), "</BODY>\n</HTML>\n"));
    const std::map<std::uint32_t, std::size_t> lengths = {{1, 106}, {3, 347}, {12, 469}, {18, 537}};
    for (auto [pos, length] : lengths)
        EXPECT_EQ(text(h->readField(pos, 1)).size(), length) << pos; // no CR in these

    auto m = openSample("leonhad-paradoxdriver/fields/memo.db");
    const std::string first = text(m->readField(0, 1));
    EXPECT_EQ(first.size(), 555u);
    EXPECT_EQ(first.rfind("01234567890012345678900123456789", 0), 0u);
    EXPECT_EQ(text(m->readField(1, 1)), "01234567890\n");
}

TEST(Samples, FormattedMemoAndGraphicComeBackAsTheirBytes) {
    SKIP_WITHOUT_SAMPLES();
    auto f = openSample("leonhad-paradoxdriver/fields/fmemo.db");
    const auto a = as<px::Bytes>(f->readField(0, 1));
    const auto b = as<px::Bytes>(f->readField(1, 1));
    EXPECT_EQ(a.size(), 169u);
    EXPECT_EQ(b.size(), 726u);
    EXPECT_EQ(a[0], 7);

    auto g = openSample("leonhad-paradoxdriver/fields/graphic240.db");
    EXPECT_EQ(g->info().fields[1].size, 250);
    const auto image = as<px::Bytes>(g->readField(0, 1));
    ASSERT_EQ(image.size(), 20086u - 8); // the 8-byte prefix is not part of the picture
    EXPECT_EQ(image[0], 'B');
    EXPECT_EQ(image[1], 'M');
    EXPECT_EQ(image[2] | image[3] << 8 | image[4] << 16, 20078); // the bitmap's own size
}

TEST(Samples, CodePagesDecodeToUnicode) {
    SKIP_WITHOUT_SAMPLES();
    auto g = openSample("leonhad-paradoxdriver/db/GENERAL.DB");
    EXPECT_EQ(text(g->readField(0, 1)), "Mari");
    EXPECT_EQ(text(g->readField(1, 1)), "Katty");
    EXPECT_EQ(text(g->readField(2, 1)), "Elizabet");
    EXPECT_EQ(as<std::int64_t>(g->readField(2, 0)), 333333333);
    EXPECT_EQ(as<double>(g->readField(1, 2)), 150.0);

    // Code page 0 is read as 437: the four bytes EB F8 BE F4.
    auto r = openSample("leonhad-paradoxdriver/db/ROMAN8.db");
    EXPECT_EQ(r->info().codePage, 437);
    EXPECT_EQ(text(r->readField(0, 0)), "\u03b4\u00b0\u255b\u2320");

    auto a = openSample("leonhad-paradoxdriver/db/AREACODES.DB");
    bool accented = false;
    a->scanField(2, [&](std::uint32_t, const px::Value& v) {
        const std::string s = std::holds_alternative<std::string>(v) ? text(v) : "";
        accented = accented || s.find("\u00e9") != std::string::npos; // é from 1252
        return !accented;
    });
    EXPECT_TRUE(accented);
}

TEST(Samples, ScalarKindsAndTheirNulls) {
    SKIP_WITHOUT_SAMPLES();
    auto d7 = openSample("leonhad-paradoxdriver/fields/date7.db");
    EXPECT_EQ(as<px::Date>(d7->readField(0, 0)).day, 736695); // 2018-01-01
    EXPECT_EQ(as<px::TimeOfDay>(d7->readField(2, 1)).ms, (9 * 3600 + 25 * 60 + 25) * 1000);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(d7->readField(3, 0))); // NULL date
    EXPECT_EQ(as<px::TimeOfDay>(d7->readField(3, 1)).ms, 10 * 3600 * 1000);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(d7->readField(4, 1))); // NULL time

    for (const char* dates :
         {"leonhad-paradoxdriver/fields/date35.db", "leonhad-paradoxdriver/fields/date4.db"}) {
        auto d = openSample(dates);
        EXPECT_EQ(as<px::Date>(d->readField(0, 0)).day, 736695);
        EXPECT_EQ(as<px::Date>(d->readField(1, 0)).day, 736726); // 2018-02-01
        EXPECT_EQ(as<px::Date>(d->readField(2, 0)).day, 736696); // 2018-01-02
    }

    auto tm = openSample("leonhad-paradoxdriver/fields/time.db");
    EXPECT_EQ(as<px::TimeOfDay>(tm->readField(0, 0)).ms, 3601000);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(tm->readField(1, 0)));
    EXPECT_EQ(as<px::TimeOfDay>(tm->readField(2, 0)).ms, 3 * 3600000 + 3000);

    auto ts = openSample("leonhad-paradoxdriver/fields/timestamp.db");
    EXPECT_TRUE(std::holds_alternative<std::monostate>(ts->readField(0, 0)));
    EXPECT_EQ(as<px::Timestamp>(ts->readField(1, 0)).ms, 737456.0 * 86'400'000 + 3601000);

    auto lg = openSample("leonhad-paradoxdriver/fields/logical.db");
    const bool expected[] = {true, false, true, true};
    for (std::uint32_t i = 0; i < 4; ++i)
        EXPECT_EQ(as<bool>(lg->readField(i, 0)), expected[i]);

    auto lo = openSample("leonhad-paradoxdriver/fields/long.db");
    EXPECT_EQ(as<std::int64_t>(lo->readField(1, 1)), 2);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(lo->readField(2, 1)));

    auto by = openSample("leonhad-paradoxdriver/fields/bytes.db");
    const auto raw = as<px::Bytes>(by->readField(0, 0));
    ASSERT_GE(raw.size(), 6u);
    EXPECT_LE(raw.size(), 255u);
    EXPECT_EQ(px::Bytes(raw.begin(), raw.begin() + 6), (px::Bytes{0x31, 0, 0x32, 0, 0x33, 0}));

    auto bcd = openSample("leonhad-paradoxdriver/fields/bcd.db");
    auto number = [&](std::uint32_t pos, int field) {
        return std::strtod(as<px::Decimal>(bcd->readField(pos, field)).text.c_str(), nullptr);
    };
    EXPECT_EQ(bcd->info().fields[0].size, 2); // decimals
    EXPECT_DOUBLE_EQ(number(0, 0), 1.23);
    EXPECT_DOUBLE_EQ(number(1, 0), -1.23);
    EXPECT_EQ(as<px::Decimal>(bcd->readField(0, 0)).text, "1.23");
    EXPECT_EQ(as<px::Decimal>(bcd->readField(1, 0)).text, "-1.23");
    EXPECT_DOUBLE_EQ(number(0, 1), 1.0);
    EXPECT_DOUBLE_EQ(number(1, 1), -1.0);

    auto orders = openSample("leonhad-paradoxdriver/db/ORDERS.DB");
    const auto o = orders->read(0);
    EXPECT_EQ(as<double>(o[0]), 1001.0);
    EXPECT_EQ(as<px::Date>(o[2]).day, 725830); // 1988-04-03
    EXPECT_EQ(text(o[4]), "UPS");
    EXPECT_EQ(as<double>(o[5]), 7320.0);
    EXPECT_EQ(as<double>(o[7]), 0.0); // a real zero, not NULL
}

TEST(Samples, OldestLevelTablesWithoutCodePage) {
    SKIP_WITHOUT_SAMPLES();
    auto pcl = openSample("teverett-paradoxReader/PCLDATA/PCL.DB");
    EXPECT_EQ(pcl->info().fields[0].name, "Command Type");
    EXPECT_EQ(pcl->info().fields[16].name, "Support");
    const auto first = pcl->read(0);
    EXPECT_EQ(text(first[0]), "Cursor Positioning");
    EXPECT_EQ(text(first[2]), "Sub/Superscript");
    EXPECT_EQ(text(first[4]), "Ec(s-1U");
    EXPECT_EQ(as<std::int64_t>(first[16]), 2);
    auto tf = openSample("teverett-paradoxReader/PCLDATA/TYPEFACE.DB");
    EXPECT_EQ(text(tf->readField(0, 0)), "CG Times");
    EXPECT_EQ(text(tf->readField(0, 1)), "4101");
}

TEST(Samples, TwoLevelIndexWithRootInTheMiddleOfTheChain) {
    SKIP_WITHOUT_SAMPLES();
    auto z = openSample("leonhad-paradoxdriver/areas/ZIPCODES.DB");
    EXPECT_EQ(z->info().indexLevels, 2);
    EXPECT_EQ(z->info().fields[2].size, 25);
    std::vector<std::string> zips;
    z->scanField(0, [&](std::uint32_t pos, const px::Value& v) {
        EXPECT_EQ(pos, zips.size());
        zips.push_back(text(v));
        return true;
    });
    ASSERT_EQ(zips.size(), 43185u);
    EXPECT_EQ(zips.front(), "00401");
    EXPECT_TRUE(std::is_sorted(zips.begin(), zips.end()));
    EXPECT_EQ(std::adjacent_find(zips.begin(), zips.end()), zips.end());
    // Positions straight through the index, in an order that is not the chain's.
    for (std::uint32_t pos : {43184u, 0u, 21592u, 1u, 30000u, 7u, 43183u}) {
        const auto r = z->read(pos);
        EXPECT_EQ(text(r[0]), zips[pos]) << pos;
        EXPECT_EQ(z->lowerBound(r), pos);
    }
    EXPECT_EQ(text(z->readField(1, 2)), "Holtsville");
    px::Record probe(3);
    probe[0] = std::string("99999");
    EXPECT_EQ(z->lowerBound(probe), 43185u - (zips.back() == "99999"));
    probe[0] = std::string("");
    EXPECT_EQ(z->lowerBound(probe), 0u);
}

TEST(Samples, PasswordProtectedTableReadsButIsNeverWritten) {
    SKIP_WITHOUT_SAMPLES();
    auto table = openSample("leonhad-paradoxdriver/encrypt/encrypted.db");
    ASSERT_EQ(table->recordCount(), 4u);
    EXPECT_EQ(table->read(3), (px::Record{std::int64_t{4}, std::string("Last one")}));
    try {
        px::Table::open(samplePath("leonhad-paradoxdriver/encrypt/encrypted.db"),
                        px::Access::Write);
        FAIL() << "a protected table opened for writing";
    } catch (const px::Error& e) {
        EXPECT_NE(std::string(e.what()).find("mit einem Kennwort geschützt"), std::string::npos)
            << e.what();
    }
}

#ifdef VELLUMO_TABLE_TOOL
namespace {
testutil::ToolRun runTool(const std::string& command, const std::string& file) {
    return testutil::runTool(VELLUMO_TABLE_TOOL, command, file);
}
} // namespace

TEST(Samples, ToolDumpsAndChecksEveryTable) {
    SKIP_WITHOUT_SAMPLES();
    for (const std::string& table : testutil::allSampleTables()) {
        SCOPED_TRACE(table);
        const testutil::ToolRun dump = runTool("dump", samplePath(table));
        EXPECT_EQ(dump.status, 0);
        const testutil::ToolRun check = runTool("check", samplePath(table));
        EXPECT_TRUE(check.status == 0 || check.status == 1) << check.status;
        EXPECT_EQ(runTool("info", samplePath(table)).status, 0);
    }
    EXPECT_EQ(runTool("dump", samplePath("leonhad-paradoxdriver/db/GENERAL.DB")).out,
              "ID,NAME,MONEYS\n1,Mari,100\n2,Katty,150\n333333333,Elizabet,75\n");
    EXPECT_EQ(runTool("dump", samplePath("leonhad-paradoxdriver/fields/date7.db")).out,
              "DATE,TIME\n2018-01-01,10:00:00\n2018-02-01,10:30:00\n2018-01-02,09:25:25\n"
              ",10:00:00\n2018-01-01,\n");
    EXPECT_EQ(runTool("dump", samplePath("leonhad-paradoxdriver/fields/graphic240.db")).out,
              "Id,Graph\n1,20078\n");
    EXPECT_EQ(runTool("dump", "/nonexistent/table.db").status, 2);
}

TEST(Samples, ToolOnTablesTheEngineMade) {
    testutil::TempDir dir;
    // One column: an empty value still makes a line a CSV reader keeps.
    const std::string one = dir.file("eins.db");
    px::Table::create(one, {{"Name", px::FieldType::Alpha, 20}}, 0);
    {
        auto t = px::Table::open(one, px::Access::Write);
        t->insert({std::string("Abel")});
        t->insert({px::Value{}});
        t->insert({std::string("Zorn")});
    }
    EXPECT_EQ(runTool("dump", one).out, "Name\nAbel\n\"\"\nZorn\n");

    // Cut short: refused for dump, examined by check.
    const std::string cut = dir.file("kurz.db");
    px::Table::create(cut, {{"Name", px::FieldType::Alpha, 200}}, 0);
    {
        auto t = px::Table::open(cut, px::Access::Write);
        for (int i = 0; i < 30; ++i)
            t->insert({std::string("Name ") + std::to_string(i)});
    }
    std::filesystem::resize_file(cut, std::filesystem::file_size(cut) - 3000);
    const testutil::ToolRun dump = runTool("dump", cut);
    EXPECT_EQ(dump.status, 2);
    EXPECT_EQ(dump.out, "");
    const testutil::ToolRun check = runTool("check", cut);
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.out.find("Fehler: "), std::string::npos) << check.out;
}

TEST(Samples, ToolCheckListsTheProblemsOfADamagedTable) {
    SKIP_WITHOUT_SAMPLES();
    testutil::TempDir dir;
    for (const char* ext : {".DB", ".PX"}) {
        auto bytes = testutil::readBytes(samplePath("leonhad-paradoxdriver/db/ORDERS") + ext);
        if (std::string(ext) == ".DB")
            bytes[6] += 5; // the header claims five records more than the blocks hold
        std::FILE* f = std::fopen(dir.file(std::string("ORDERS") + ext).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    const testutil::ToolRun check = runTool("check", dir.file("ORDERS.DB"));
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.out.find("Fehler: "), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("224"), std::string::npos) << check.out;
}
#endif
