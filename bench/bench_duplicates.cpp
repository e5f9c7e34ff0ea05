// bench_duplicates: the list of likely duplicates on address tables of 10,000
// and 100,000 records, with the main window open on the table: reading the
// records into what is compared, the pairs found by blocking, the list window
// built and filled, and the memory this takes.
//
//   QT_QPA_PLATFORM=offscreen bench_duplicates [records…]
//
// Tables are built with the engine in a fresh temporary directory (not
// measured). Medians of wall-clock times on this machine.
#include "addressdata.h"
#include "benchutil.h"
#include "benchwindows.h"

#include "app/hauptformular.h"
#include "duplicates/finder.h"
#include "duplicates/ui/formdubletten.h"

#include <QApplication>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using bench::Clock;
using bench::figure;
using bench::msSince;

// The resident memory of this process, in megabytes.
double residentMb() {
    return static_cast<double>(std::max(0L, bench::statusKb("VmRSS"))) / 1024.0;
}

void run(std::size_t count) {
    const bench::TableRun table("bench_duplicates", count);
    const std::string& path = table.path;

    THauptformular window;
    bench::showOnTable(window, path);
    vellumo::RecordStore& store = window.Datentabelle;

    std::vector<double> reads, finds;
    std::size_t pairs = 0;
    double heldMb = 0;
    for (int run = 0; run < 3; ++run) {
        const double before = residentMb();
        auto start = Clock::now();
        const std::vector<duplicates::Person> persons = duplicates::readPersons(store);
        reads.push_back(msSince(start));
        start = Clock::now();
        pairs = duplicates::findPairs(persons).size();
        finds.push_back(msSince(start));
        heldMb = std::max(heldMb, residentMb() - before);
    }
    figure("records read and folded (names, streets, phones)", bench::median(reads), "ms");
    figure("pairs found by blocking", bench::median(finds), "ms");
    figure("together", bench::median(reads) + bench::median(finds), "ms",
           count <= 10000 ? "(target: at most 2000 ms for 10,000)" : "");
    char what[80];
    std::snprintf(what, sizeof what, "likely pairs (score %d or more)", duplicates::kLikelyScore);
    figure(what, static_cast<double>(pairs), "");
    figure("memory of the compared records and the pairs (resident)", heldMb, "MB");

    {
        // After an import of a hundredth of the table: only its pairs.
        const std::vector<duplicates::Person> persons = duplicates::readPersons(store);
        std::vector<bool> isNew(persons.size(), false);
        for (std::size_t i = 0; i < isNew.size(); i += 100)
            isNew[i] = true;
        const double ms = bench::medianMs(3, [&] { duplicates::findPairs(persons, &isNew); });
        figure("pairs of an import of 1 % with the rest", ms, "ms");
    }

    std::vector<double> opens;
    for (int run = 0; run < 3; ++run) {
        const auto start = Clock::now();
        duplicates::ui::TFormDubletten list(store, &window);
        list.show();
        QApplication::processEvents();
        opens.push_back(msSince(start));
    }
    figure("\"Doppelte Adressen\" opened, list filled and painted", bench::median(opens), "ms");
    figure("resident memory of the program with the window open", residentMb(), "MB");
    window.Datentabelle.CloseTableAtShutdown();
}

} // namespace

int main(int argc, char** argv) {
    return bench::runForCounts(argc, argv, "bench_duplicates", run);
}
