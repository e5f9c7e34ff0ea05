#include "platform/paradox/error.h"
#include "platform/paradox/io.h"
#include "testutil_tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

using testutil::TempDir;

void touch(const std::string& path) {
    std::ofstream(path) << "x";
}

} // namespace

TEST(Io, CompanionFoundWhateverTheCaseOfItsExtension) {
    TempDir dir;
    touch(dir.file("KUNDEN.DB"));
    touch(dir.file("KUNDEN.PX"));
    touch(dir.file("kunden.mb"));
    auto& fs = px::defaultFileSystem();
    EXPECT_EQ(px::findCompanion(fs, dir.file("KUNDEN.DB"), ".px"), dir.file("KUNDEN.PX"));
    // Files copied from Windows keep any case, of the base name too.
    EXPECT_EQ(px::findCompanion(fs, dir.file("KUNDEN.DB"), ".MB"), dir.file("kunden.mb"));
    EXPECT_EQ(px::findCompanion(fs, dir.file("kunden.db"), ".mb"), dir.file("kunden.mb"));
    EXPECT_EQ(px::findCompanion(fs, dir.file("KUNDEN.DB"), ".Y06"), "");
}

TEST(Io, ReadWriteTruncateAndErrors) {
    TempDir dir;
    auto& fs = px::defaultFileSystem();
    const std::string name = dir.file("a.db");
    {
        auto f = fs.open(name, px::OpenMode::Create);
        f->write(10, "abc", 3);
        EXPECT_EQ(f->size(), 13u);
        char buf[8] = {};
        EXPECT_EQ(f->read(10, buf, 8), 3u); // short at end of file
        EXPECT_EQ(std::string(buf, 3), "abc");
        f->truncate(4);
        f->sync();
        EXPECT_EQ(f->size(), 4u);
    }
    EXPECT_THROW(fs.open(dir.file("missing.db"), px::OpenMode::ReadOnly), px::Error);
    EXPECT_THROW(fs.open(dir.path(), px::OpenMode::ReadOnly), px::Error);
    fs.remove(dir.file("missing.db")); // no error for a missing file
}

TEST(Io, SecondExclusiveLockIsRefusedUntilTheFirstIsGone) {
    TempDir dir;
    auto& fs = px::defaultFileSystem();
    auto first = fs.tryLock(dir.file("a.lck"), px::LockKind::Exclusive);
    ASSERT_NE(first, nullptr);
    // flock locks belong to the open file, so a second open in this process conflicts too.
    EXPECT_EQ(fs.tryLock(dir.file("a.lck"), px::LockKind::Exclusive), nullptr);
    first.reset();
    EXPECT_NE(fs.tryLock(dir.file("a.lck"), px::LockKind::Exclusive), nullptr);
}
