// The sync's copy of a table before it changes it, for an address table
// whose .mb holds 244 MB of pictures: the time it takes and the most memory
// the copying process held (its peak resident set), measured in a process of
// its own so that building the table does not count, beside the same
// process doing nothing (the floor of a program linking Qt).
//
// Usage: bench_backup [PICTURES]   (default 2000 pictures of 122 KB)
#include "benchutil.h"

#include "sync/tablesync.h"

#include <QDateTime>
#include <QString>

#include <cstdio>
#include <filesystem>
#include <string>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr std::size_t kPicture = 122'000;

void buildTable(const std::string& path, std::size_t count) {
    bench::AddressGenerator gen;
    const std::vector<px::Record> records = gen.sortedRecords(count);
    px::Table::create(path, bench::addressFields(), bench::kAddressKeyFields);
    bench::NoSyncFileSystem quiet;
    auto table = px::Table::open(path, px::Access::Write, quiet);
    const auto picture = static_cast<std::size_t>(table->fieldIndex("Grafik"));
    table->beginBatch();
    for (std::size_t i = 0; i < records.size(); ++i) {
        px::Record r = records[i];
        r[picture] = px::Bytes(kPicture, static_cast<std::uint8_t>(i));
        table->insert(r);
        if (i % 100 == 99) {
            table->commitBatch();
            table->beginBatch();
        }
    }
    table->commitBatch();
}

// The child's wall time and peak resident set (MB), or a negative time when it failed.
std::pair<double, double> inChild(char** argv, const char* mode, const std::string& path) {
    const auto start = bench::Clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl("/proc/self/exe", argv[0], mode, path.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    const double ms = bench::msSince(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {-1.0, 0.0};
    return {ms, static_cast<double>(usage.ru_maxrss) / 1024.0};
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--backup") {
        vellumo::sync::backupTable(QString::fromLocal8Bit(argv[2]), QDateTime::currentDateTime());
        return 0;
    }
    if (argc == 3 && std::string(argv[1]) == "--nothing")
        return 0;
    const std::size_t pictures = bench::countArgument(argc, argv, 2000);
    bench::RunDirectory dir;
    const std::string path = dir.file("ADRESSEN.db");
    buildTable(path, pictures);
    const double mb =
        static_cast<double>(std::filesystem::file_size(dir.file("ADRESSEN.mb"))) / 1e6;
    const auto [floorMs, floorPeak] = inChild(argv, "--nothing", path);
    const auto [ms, peak] = inChild(argv, "--backup", path);
    if (ms < 0 || floorMs < 0) {
        std::printf("backup failed\n");
        return 1;
    }
    std::printf("backup of %zu addresses with pictures, .mb %.0f MB: %.0f ms, peak memory %.1f MB "
                "(the same process doing nothing: %.1f MB)\n",
                pictures, mb, ms, peak, floorPeak);
    return 0;
}
