// What every benchmark program needs: wall-clock figures and a file system
// that skips syncs while a table is built (building is not what is measured).
#pragma once

#include "addressdata.h"
#include "testutil_nosync.h"
#include "testutil_tempdir.h"

#include "platform/paradox/table.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;
using NoSyncFileSystem = testutil::NoSyncFileSystem;

inline double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

inline double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The median of runs of fn, in milliseconds.
inline double medianMs(int runs, const std::function<void()>& fn) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        fn();
        times.push_back(msSince(start));
    }
    return median(std::move(times));
}

// Builds a table of count address records at path, in key order and without
// syncs: building is not what is measured.
inline void buildAddressTable(const std::string& path, std::size_t count) {
    AddressGenerator gen;
    const std::vector<px::Record> records = gen.sortedRecords(count);
    px::Table::create(path, addressFields(), kAddressKeyFields);
    NoSyncFileSystem quiet;
    auto table = px::Table::open(path, px::Access::Write, quiet);
    for (const auto& r : records)
        table->insert(r);
}

// A value of /proc/self/status in kB ("VmHWM", "VmRSS"); -1 where there is none.
inline long statusKb(const char* key) {
    std::ifstream status("/proc/self/status");
    const std::string prefix = std::string(key) + ':';
    for (std::string line; std::getline(status, line);)
        if (line.rfind(prefix, 0) == 0)
            return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    return -1;
}

// The record count a benchmark is asked for on its command line, or fallback.
inline std::size_t countArgument(int argc, char** argv, std::size_t fallback = 100000) {
    return argc > 1 ? std::strtoul(argv[1], nullptr, 10) : fallback;
}

// The command line "[records] [--keep]" of the engine's benchmarks and a
// fresh directory for their table under $TMPDIR (or /tmp), which the run
// removes unless told to keep it. No directory when the count is below 1000
// or none could be made; the reason is printed.
struct EngineRun {
    std::size_t count = 100'000;
    bool keep = false;
    std::string dir;
};

inline EngineRun engineRun(int argc, char** argv, const char* name) {
    EngineRun run;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--keep") == 0)
            run.keep = true;
        else
            run.count = static_cast<std::size_t>(std::strtoul(argv[i], nullptr, 10));
    }
    if (run.count < 1000) {
        std::fprintf(stderr, "%s: at least 1000 records\n", name);
        return run;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string dirTemplate =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/vellumo-" + name + "-XXXXXX";
    if (!::mkdtemp(dirTemplate.data())) {
        std::perror(name);
        return run;
    }
    run.dir = dirTemplate;
    return run;
}

// A fresh directory for one run of a benchmark, gone with everything in it
// when the run ends, whichever way.
using RunDirectory = testutil::TempDir;

} // namespace bench
