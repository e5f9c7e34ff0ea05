// "vellumo-table compact" of a table whose .mb holds 244 MB of pictures, a
// few of them replaced by larger ones: the time it takes and the most memory
// the compacting process held (its peak resident set), measured in a process
// of its own so that building the table does not count.
//
// Usage: bench_compact [PICTURES]   (default 2000 pictures of 122 KB)
#include "benchutil.h"

#include "platform/paradox/restructure.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr std::size_t kPicture = 122'000;

std::vector<px::FieldDef> pictureFields() {
    return {{"Name", px::FieldType::Alpha, 30},
            {"Vorname", px::FieldType::Alpha, 30},
            {"Memo1", px::FieldType::Memo, 50},
            {"Grafik", px::FieldType::Graphic, 10}};
}

void buildPictureTable(const std::string& path, std::size_t pictures) {
    px::Table::create(path, pictureFields(), 2);
    bench::NoSyncFileSystem quiet;
    auto table = px::Table::open(path, px::Access::Write, quiet);
    table->beginBatch();
    for (std::size_t i = 0; i < pictures; ++i) {
        px::Record r(4);
        r[0] = "Person " + std::to_string(100000 + i);
        r[1] = std::string("Vorname");
        r[2] = std::string("Eine Bemerkung, die im .mb steht, weil sie länger ist als fünfzig "
                           "Zeichen.");
        r[3] = px::Bytes(kPicture, static_cast<std::uint8_t>(i));
        table->insert(r);
        if (i % 100 == 99) {
            table->commitBatch();
            table->beginBatch();
        }
    }
    table->commitBatch();
    // Every fiftieth picture replaced by a larger one: the old space stays free.
    for (std::uint32_t position = 0; position < pictures; position += 50) {
        px::Record r = table->read(position);
        r[3] = px::Bytes(kPicture + 8192, 0x5A);
        table->update(position, r);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--compact") {
        px::compactTable(argv[2]);
        return 0;
    }
    const std::size_t pictures = bench::countArgument(argc, argv, 2000);
    bench::RunDirectory dir;
    const std::string path = dir.file("Bilder.db");
    buildPictureTable(path, pictures);
    const auto before = std::filesystem::file_size(dir.file("Bilder.mb"));

    const auto start = bench::Clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl("/proc/self/exe", argv[0], "--compact", path.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    const double ms = bench::msSince(start);
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::printf("compact failed (status %d)\n", status);
        return 1;
    }
    std::printf("compact of %zu records with pictures, .mb %.0f MB before, %.0f MB after: "
                "%.0f ms, peak memory %.0f MB\n",
                pictures, static_cast<double>(before) / 1e6,
                static_cast<double>(std::filesystem::file_size(dir.file("Bilder.mb"))) / 1e6, ms,
                static_cast<double>(usage.ru_maxrss) / 1024.0);
    return 0;
}
