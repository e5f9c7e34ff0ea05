// What every benchmark program needs: wall-clock figures and a file system
// that skips syncs while a table is built (building is not what is measured).
#pragma once

#include "testutil_nosync.h"

#include <algorithm>
#include <chrono>
#include <functional>
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

} // namespace bench
