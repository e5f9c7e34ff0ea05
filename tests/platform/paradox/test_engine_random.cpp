// Thousands of random inserts, updates (key changes included) and deletes,
// checked after each step against a plain ordered map: positions, counts,
// contents, and a sound table with a matching .px and .mb.
#include "testutil_nosync.h"
#include "testutil_tempdir.h"

#include "platform/paradox/table.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

using px::Access;
using px::FieldDef;
using px::FieldType;
using px::Record;
using px::Table;

namespace {

testutil::NoSyncFileSystem fast;

struct Row {
    std::string text;
    std::string memo;
};

Record toRecord(const std::string& key, const Row& row) {
    Record r{key,
             row.text,
             std::string(255, 'p'),
             std::string(250, 'q'),
             std::string(9, 'r'),
             std::monostate{}};
    r.push_back(row.memo.empty() ? px::Value{} : px::Value{row.memo});
    if (row.text.empty())
        r[1] = std::monostate{};
    return r;
}

void expectMatches(Table& t, const std::map<std::string, Row>& model) {
    ASSERT_EQ(t.recordCount(), model.size());
    std::uint32_t pos = 0;
    for (const auto& [key, row] : model) {
        const Record r = t.read(pos++);
        ASSERT_EQ(std::get<std::string>(r[0]), key);
        if (row.text.empty())
            ASSERT_TRUE(std::holds_alternative<std::monostate>(r[1]));
        else
            ASSERT_EQ(std::get<std::string>(r[1]), row.text);
        if (row.memo.empty())
            ASSERT_TRUE(std::holds_alternative<std::monostate>(r[6]));
        else
            ASSERT_EQ(std::get<std::string>(r[6]), row.memo);
    }
}

void expectSound(Table& t, int step) {
    const auto result = t.check();
    for (const auto& p : result.problems)
        ADD_FAILURE() << "step " << step << ": " << p;
    ASSERT_TRUE(result.problems.empty());
}

} // namespace

// Records of about 1.5 KB: two to a block and 19 entries to an index block, so
// a thousand records need three index levels and every step splits, empties
// or merges something.
TEST(EngineRandom, ChangesAgreeWithAnOrderedMap) {
    testutil::TempDir dir;
    const std::string path = dir.file("zufall.db");
    const std::vector<FieldDef> fields = {
        {"Schluessel", FieldType::Alpha, 200}, {"Text", FieldType::Alpha, 255},
        {"Fuell1", FieldType::Alpha, 255},     {"Fuell2", FieldType::Alpha, 255},
        {"Fuell3", FieldType::Alpha, 255},     {"Fuell4", FieldType::Alpha, 255},
        {"Memo1", FieldType::Memo, 0}};
    Table::create(path, fields, 1, fast);
    auto t = Table::open(path, Access::Write, fast);
    std::map<std::string, Row> model;
    std::mt19937 rng(20240607);
    auto keyOf = [&](int n) { return "K" + std::to_string(100000 + n); };
    auto randomRow = [&]() {
        Row row;
        const int kind = static_cast<int>(rng() % 4);
        if (kind > 0)
            row.text = "Text " + std::to_string(rng() % 100000) + " äöü";
        if (kind == 2)
            row.memo = std::string(10 + rng() % 3000, static_cast<char>('a' + rng() % 26));
        if (kind == 3)
            row.memo = "kurz";
        return row;
    };
    const int steps = 3000;
    int deepest = 0;
    for (int step = 0; step < steps; ++step) {
        // Grow for the first half, shrink towards empty in the second.
        const int insertShare = step < steps / 2 ? 60 : 25;
        const int roll = static_cast<int>(rng() % 100);
        if (roll < insertShare || model.empty()) {
            const std::string key = keyOf(static_cast<int>(rng() % 5000));
            const Row row = randomRow();
            if (model.count(key)) {
                ASSERT_THROW(t->insert(toRecord(key, row)), px::KeyViolation);
            } else {
                const std::uint32_t pos = t->insert(toRecord(key, row));
                model[key] = row;
                ASSERT_EQ(pos, std::distance(model.begin(), model.find(key))) << "step " << step;
            }
        } else if (roll < insertShare + 20) {
            const auto pos = static_cast<std::uint32_t>(rng() % model.size());
            auto it = std::next(model.begin(), pos);
            const Row row = randomRow();
            std::string key = it->first;
            if (rng() % 2)
                key = keyOf(static_cast<int>(rng() % 5000)); // moves the record
            if (key != it->first && model.count(key)) {
                ASSERT_THROW(t->update(pos, toRecord(key, row)), px::KeyViolation);
            } else {
                const std::uint32_t now = t->update(pos, toRecord(key, row));
                model.erase(it);
                model[key] = row;
                ASSERT_EQ(now, std::distance(model.begin(), model.find(key))) << "step " << step;
            }
        } else {
            const auto pos = static_cast<std::uint32_t>(rng() % model.size());
            t->remove(pos);
            model.erase(std::next(model.begin(), pos));
        }
        ASSERT_EQ(t->recordCount(), model.size()) << "step " << step;
        deepest = std::max(deepest, t->info().indexLevels);
        if (step % 25 == 0)
            expectSound(*t, step);
        if (step % 250 == 0)
            expectMatches(*t, model);
        if (step % 700 == 0) {
            // The table as another program finds it: index read from disk.
            t.reset();
            auto reader = Table::open(path, Access::Read, fast);
            expectMatches(*reader, model);
            EXPECT_GE(reader->info().indexLevels, 1);
            reader.reset();
            t = Table::open(path, Access::Write, fast);
        }
    }
    expectMatches(*t, model);
    expectSound(*t, steps);
    EXPECT_GE(deepest, 3);
}

// Unkeyed tables keep insertion order; positions follow deletes exactly.
TEST(EngineRandom, UnkeyedPositionsFollowAVector) {
    testutil::TempDir dir;
    const std::string path = dir.file("liste.db");
    Table::create(path, {{"Wert", FieldType::Alpha, 255}, {"Mehr", FieldType::Alpha, 255}}, 0,
                  fast);
    auto t = Table::open(path, Access::Write, fast);
    std::vector<std::string> model;
    std::mt19937 rng(7);
    for (int step = 0; step < 2000; ++step) {
        if (rng() % 3 != 0 || model.empty()) {
            const std::string v = "W" + std::to_string(step);
            ASSERT_EQ(t->insert({v, std::string(255, 'm')}), model.size());
            model.push_back(v);
        } else if (rng() % 2) {
            const auto pos = static_cast<std::uint32_t>(rng() % model.size());
            t->remove(pos);
            model.erase(model.begin() + pos);
        } else {
            const auto pos = static_cast<std::uint32_t>(rng() % model.size());
            model[pos] = "U" + std::to_string(step);
            ASSERT_EQ(t->update(pos, {model[pos]}), pos);
        }
        if (step % 100 == 0) {
            ASSERT_EQ(t->recordCount(), model.size());
            for (std::size_t i = 0; i < model.size(); ++i)
                ASSERT_EQ(std::get<std::string>(t->readField(static_cast<std::uint32_t>(i), 0)),
                          model[i]);
            expectSound(*t, step);
        }
    }
    std::size_t seen = 0;
    t->scanField(0, [&](std::uint32_t pos, const px::Value& v) {
        EXPECT_EQ(pos, seen);
        EXPECT_EQ(std::get<std::string>(v), model[seen]);
        ++seen;
        return true;
    });
    EXPECT_EQ(seen, model.size());
}
