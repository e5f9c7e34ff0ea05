// bench_birthdays: the list of coming birthdays on a 100,000-record address
// table, with the main window open as a person has it.
//
//   QT_QPA_PLATFORM=offscreen bench_birthdays [records]
//
// The table is built with the engine in a fresh temporary directory (not
// measured); every record has a birthday. Medians of wall-clock times on this
// machine.
#include "benchutil.h"

#include "aids/birthdaycalendar.h"
#include "aids/birthdays.h"
#include "aids/formgeburtstage.h"
#include "app/hauptformular.h"
#include "platform/system/system.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using bench::Clock;
using bench::median;
using bench::msSince;

void line(const char* what, double ms, const char* target) {
    std::printf("  %-56s %9.3f ms  %s\n", what, ms, target);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    std::string dirTemplate = (std::filesystem::temp_directory_path() / "bench_birthdays.XXXXXX");
    if (!::mkdtemp(dirTemplate.data())) {
        std::perror("bench_birthdays: mkdtemp");
        return 2;
    }
    const std::string dir = dirTemplate;
    const std::string path = dir + "/Adressen.db";
    vellumo::setProgramDirectory(QString::fromStdString(dir)); // Setup.ini goes there

    int status = 0;
    try {
        std::printf("bench_birthdays: %zu address records in %s\n", count, dir.c_str());
        bench::buildAddressTable(path, count);
        THauptformular main;
        vellumo::RecordStore& store = main.Datentabelle;
        store.BindTable(QString::fromStdString(path));
        store.OpenTable();
        main.EnableTableControls();
        main.show();
        QApplication::processEvents();
        const QDate today = vellumo::now().date();

        std::size_t due = 0;
        line("the list for 14 days: scan, sort, names (median)",
             bench::medianMs(11,
                             [&] {
                                 due = vellumo::aids::dueBirthdays(
                                           store, today, 14, vellumo::aids::LeapDayRule::February28)
                                           .size();
                             }),
             "(target <= 100 ms)");
        std::printf("  %-56s %9zu\n", "birthdays in the list", due);

        std::vector<double> opens;
        for (int run = 0; run < 7; ++run) {
            Clock::time_point shownAt;
            TFormGeburtstage* shown = nullptr;
            const auto start = Clock::now();
            TFormGeburtstage form(store, &main);
            shown = &form;
            QTimer::singleShot(0, &form, [&] {
                shown->repaint();
                shownAt = Clock::now();
                shown->reject();
            });
            form.exec();
            opens.push_back(std::chrono::duration<double, std::milli>(shownAt - start).count());
        }
        line("opening the list window, painted (median)", median(opens), "(no target)");

        std::size_t bytes = 0;
        line("calendar of every birthday, in memory (median)",
             bench::medianMs(3,
                             [&] {
                                 vellumo::aids::CalendarOptions options;
                                 options.stamp = vellumo::now();
                                 bytes = static_cast<std::size_t>(
                                     vellumo::aids::birthdayCalendar(
                                         vellumo::aids::everyBirthday(store), options)
                                         .size());
                             }),
             "(no target)");
        std::printf("  %-56s %9zu\n", "calendar bytes", bytes);
        store.CloseTableAtShutdown();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_birthdays: %s\n", e.what());
        status = 1;
    }
    std::filesystem::remove_all(dir);
    return status;
}
