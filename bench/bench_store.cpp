// bench_store: speed of the shared cursor on a 100,000-record address table.
//
//   bench_store [records]
//
// The table is built with the engine in a fresh temporary directory (not
// measured), then opened through RecordStore. Figures are medians of wall-clock
// times on this machine.
#include "addressdata.h"
#include "benchutil.h"

#include "platform/database/recordstore.h"
#include "platform/paradox/table.h"

#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using bench::Clock;
using bench::msSince;

using bench::medianMs;

void line(const char* what, double ms, const char* target) {
    std::printf("  %-52s %10.4f ms  %s\n", what, ms, target);
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t count = bench::countArgument(argc, argv);
    const bench::RunDirectory runDirectory("bench_store");
    const std::string& dir = runDirectory.path();
    const std::string path = runDirectory.file("Adressen.db");

    int status = 0;
    try {
        std::printf("bench_store: %zu address records in %s\n", count, dir.c_str());
        auto start = Clock::now();
        bench::buildAddressTable(path, count);
        std::printf("  %-52s %9.1f ms\n", "build the table with the engine (not a target)",
                    msSince(start));

        vellumo::RecordStore store;
        store.BindTable(QString::fromStdString(path));
        line("OpenTable",
             medianMs(9,
                      [&] {
                          store.CloseTableAtShutdown();
                          store.OpenTable();
                      }),
             "");

        const int half = static_cast<int>(count / 2);
        std::printf("\nfilter off\n");
        line("GoToLast",
             medianMs(101,
                      [&] {
                          store.GoToFirst();
                          store.GoToLast();
                      }),
             "(GoToFirst + GoToLast; target <= 1 ms)");
        store.GoToFirst();
        line("StepBy(+50000), StepBy(-50000)",
             medianMs(101,
                      [&] {
                          store.StepBy(half);
                          store.StepBy(-half);
                      }),
             "(both; target <= 1 ms each)");
        int sink = 0;
        line("RecordNumber", medianMs(101, [&] { sink += store.RecordNumber(); }),
             "(target <= 1 ms)");
        line("CountRecords", medianMs(101, [&] { sink += store.CountRecords(); }),
             "(target <= 1 ms)");
        line("StepBy(+50000) and reading all 20 fields",
             medianMs(21,
                      [&] {
                          store.GoToFirst();
                          store.StepBy(half);
                          for (const auto& f : store.fields())
                              sink += static_cast<int>(store.fieldText(f.name).size());
                      }),
             "");

        // A prefix of about one name in twenty: the first two letters of the
        // name in the middle of the table.
        store.GoToFirst();
        store.StepBy(half);
        const QString prefix = store.fieldText("Name").left(2);
        const QString expression = "Name = '" + prefix + "*'";
        std::printf("\nfilter on: %s\n", qPrintable(expression));
        int matches = 0;
        line("SetFilterText + SetFilterActive(true) + CountRecords",
             medianMs(11,
                      [&] {
                          store.SetFilterActive(false);
                          store.SetFilterText(expression);
                          store.SetFilterActive(true);
                          matches = store.CountRecords();
                      }),
             "(includes one SetFilterActive(false); target <= 150 ms)");
        std::printf("  %-52s %9d\n", "matches", matches);
        line("GoToLast",
             medianMs(101,
                      [&] {
                          store.GoToFirst();
                          store.GoToLast();
                      }),
             "(GoToFirst + GoToLast)");
        line("StepBy(+n/2), StepBy(-n/2) among the matches",
             medianMs(101,
                      [&] {
                          store.StepBy(matches / 2);
                          store.StepBy(-(matches / 2));
                      }),
             "");
        line("RecordNumber", medianMs(101, [&] { sink += store.RecordNumber(); }), "");
        const QString exact = "Name = '" + store.fieldText("Name") + "'";
        line("whole-value filter + CountRecords",
             medianMs(11,
                      [&] {
                          store.SetFilterText(exact);
                          sink += store.CountRecords();
                      }),
             "");
        store.SetFilterActive(false);

        std::printf("\nsaving (with the engine's syncs)\n");
        store.GoToFirst();
        store.StepBy(half);
        int round = 0;
        line("BeginEdit + SetFieldText + SaveRecord",
             medianMs(11,
                      [&] {
                          store.BeginEdit();
                          store.SetFieldText("Ort", QString("Ort %1").arg(++round));
                          store.SaveRecord();
                      }),
             "");
        line("save with the filter on (rebuilds the matches)",
             medianMs(11,
                      [&] {
                          store.SetFilterText(expression);
                          store.SetFilterActive(true);
                          store.BeginEdit();
                          store.SetFieldText("Ort", QString("Ort %1").arg(++round));
                          store.SaveRecord();
                      }),
             "(includes switching the filter on)");
        store.CloseTableAtShutdown();
        if (sink == 42)
            std::printf(" \n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_store: %s\n", e.what());
        status = 1;
    }
    return status;
}
