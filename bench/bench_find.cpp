// bench_find: speed of the search, the person selection list and the table
// view on a 100,000-record address table.
//
//   QT_QPA_PLATFORM=offscreen bench_find [records]
//
// The table is built with the engine in a fresh temporary directory (not
// measured). Each figure runs from the user's action to the window painted
// with its rows; medians of wall-clock times on this machine.
#include "addressdata.h"
#include "benchutil.h"

#include "find/formpersonauswahl.h"
#include "find/formsuchen.h"
#include "find/formtabelle.h"
#include "platform/database/datasource.h"
#include "platform/database/dbgrid.h"
#include "platform/database/recordstore.h"
#include "platform/paradox/table.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>

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

using bench::median;

void line(const char* what, double ms, const char* target) {
    std::printf("  %-56s %9.3f ms  %s\n", what, ms, target);
}

// Runs when dialog has been shown and its event loop runs: paints it at once
// (so the rows are read), notes the time, then lets act close it.
void whenShown(QWidget* dialog, Clock::time_point* shownAt, const std::function<void()>& act) {
    QTimer::singleShot(0, dialog, [=] {
        dialog->repaint();
        *shownAt = Clock::now();
        act();
    });
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::size_t count = bench::countArgument(argc, argv);
    const bench::RunDirectory runDirectory("bench_find");
    const std::string& dir = runDirectory.path();
    const std::string path = runDirectory.file("Adressen.db");

    int status = 0;
    try {
        std::printf("bench_find: %zu address records in %s\n", count, dir.c_str());
        bench::buildAddressTable(path, count);

        vellumo::RecordStore store;
        vellumo::DataSource source(store);
        store.BindTable(QString::fromStdString(path));
        store.OpenTable();
        TFormPersonAuswahl list(source);
        TFormSuchen search(source, list);
        TFormTabelle view(source);

        // A prefix of about one name in twenty, as a person types it.
        store.StepBy(static_cast<int>(count / 2));
        const QString prefix = store.fieldText("Name").left(2).toLower() + "*";
        store.GoToFirst();

        std::printf("\nsearch: Name = '%s'\n", qPrintable(prefix));
        std::vector<double> searches;
        int matches = 0;
        for (int run = 0; run < 11; ++run) {
            search.comboBox()->setEditText("Name");
            search.searchTextEdit()->setText(prefix);
            Clock::time_point shownAt;
            whenShown(&list, &shownAt, [&] {
                matches = list.grid()->model()->rowCount();
                list.reject();
            });
            const auto start = Clock::now();
            search.runSearch();
            searches.push_back(std::chrono::duration<double, std::milli>(shownAt - start).count());
        }
        line("search to the selection list painted with its rows", median(searches),
             "(target <= 200 ms)");
        std::printf("  %-56s %9d\n", "matches", matches);
        store.SetFilterActive(false);

        std::printf("\ntable view\n");
        std::vector<double> opens, jumps;
        int rows = 0;
        for (int run = 0; run < 11; ++run) {
            store.GoToFirst();
            Clock::time_point shownAt;
            whenShown(&view, &shownAt, [&] {
                // First row to last: Ctrl+End in the grid, then the rows painted.
                QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::ControlModifier);
                const auto start = Clock::now();
                rows = view.grid()->model()->rowCount();
                QApplication::sendEvent(view.grid(), &end);
                view.repaint();
                jumps.push_back(msSince(start));
                if (store.RecordNumber() != static_cast<int>(count))
                    std::printf("  (the jump ended on record %d)\n", store.RecordNumber());
                view.reject();
            });
            const auto start = Clock::now();
            view.exec();
            opens.push_back(std::chrono::duration<double, std::milli>(shownAt - start).count());
        }
        std::printf("  %-56s %9d\n", "rows", rows);
        line("opening the view, painted (first time)", opens.front(), "(target <= 100 ms)");
        line("opening the view, painted (median)", median(opens), "(target <= 100 ms)");
        line("first row to last row, painted (median)", median(jumps), "(target <= 50 ms)");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_find: %s\n", e.what());
        status = 1;
    }
    return status;
}
