// bench_birthdays: the list of coming birthdays on a 100,000-record address
// table, with the main window open as a person has it.
//
//   QT_QPA_PLATFORM=offscreen bench_birthdays [records]
//
// The table is built with the engine in a fresh temporary directory (not
// measured); every record has a birthday. Medians of wall-clock times on this
// machine.
#include "benchutil.h"
#include "benchwindows.h"

#include "aids/birthdaycalendar.h"
#include "aids/birthdays.h"
#include "aids/formgeburtstage.h"
#include "app/hauptformular.h"
#include "platform/system/system.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using bench::Clock;
using bench::median;
using bench::msSince;

double threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Medians of wall-clock and processor time: on a machine others share, the
// second shows what the work itself costs.
void line(const char* what, int runs, const std::function<void()>& fn, const char* target) {
    std::vector<double> wall, cpu;
    for (int i = 0; i < runs; ++i) {
        const double cpuStart = threadCpuMs();
        const auto start = Clock::now();
        fn();
        wall.push_back(msSince(start));
        cpu.push_back(threadCpuMs() - cpuStart);
    }
    std::printf("  %-52s %8.1f ms wall %8.1f ms cpu  %s\n", what, median(wall), median(cpu),
                target);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::size_t count = bench::countArgument(argc, argv);
    const bench::RunDirectory runDirectory("bench_birthdays");
    const std::string& dir = runDirectory.path();
    const std::string path = runDirectory.file("Adressen.db");
    vellumo::setProgramDirectory(QString::fromStdString(dir)); // Setup.ini goes there

    int status = 0;
    try {
        std::printf("bench_birthdays: %zu address records in %s\n", count, dir.c_str());
        bench::buildAddressTable(path, count);
        THauptformular main;
        vellumo::RecordStore& store = main.Datentabelle;
        bench::showOnTable(main, path);
        const QDate today = vellumo::now().date();

        std::size_t dated = 0;
        line(
            "reading the birthday field of every record (median)", 11,
            [&] {
                dated = 0;
                store.scanStored("Geburtstag", [&](int, const QVariant& value) {
                    dated += value.toDate().isValid() ? 1 : 0;
                    return true;
                });
            },
            "(part of the list)");
        std::vector<QDate> births;
        births.reserve(dated);
        store.scanStored("Geburtstag", [&](int, const QVariant& value) {
            births.push_back(value.toDate());
            return true;
        });
        line(
            "the day rules alone on every birthday (median)", 11,
            [&] {
                vellumo::aids::DueCollector collector(today, 14,
                                                      vellumo::aids::LeapDayRule::February28);
                for (std::size_t i = 0; i < births.size(); ++i)
                    collector.add(static_cast<int>(i), births[i]);
                collector.take();
            },
            "(part of the list)");
        std::size_t due = 0;
        line(
            "the list for 14 days: scan, sort, names (median)", 11,
            [&] {
                due = vellumo::aids::dueBirthdays(store, today, 14,
                                                  vellumo::aids::LeapDayRule::February28)
                          .size();
            },
            "(target <= 100 ms)");
        std::printf("  %-52s %8zu\n", "birthdays in the list", due);

        line(
            "opening the list window, painted (median)", 7,
            [&] {
                TFormGeburtstage form(store, &main);
                QTimer::singleShot(0, &form, [&form] {
                    form.repaint();
                    form.reject();
                });
                form.exec();
            },
            "(no target)");

        std::size_t bytes = 0;
        line(
            "calendar of every birthday, in memory (median)", 3,
            [&] {
                vellumo::aids::CalendarOptions options;
                options.stamp = vellumo::now();
                bytes = static_cast<std::size_t>(
                    vellumo::aids::birthdayCalendar(vellumo::aids::everyBirthday(store), options)
                        .size());
            },
            "(no target)");
        std::printf("  %-52s %8zu\n", "calendar bytes", bytes);
        store.CloseTableAtShutdown();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_birthdays: %s\n", e.what());
        status = 1;
    }
    return status;
}
