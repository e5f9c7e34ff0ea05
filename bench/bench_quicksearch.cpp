// bench_quicksearch: the quick search on address tables of 10,000 and 100,000
// records: from a keystroke in the box to its list painted, for 1 to 8 typed
// characters, with the main window open on the table; the index's build time
// and memory; what it adds to opening the table and to a save.
//
//   QT_QPA_PLATFORM=offscreen bench_quicksearch [records…]
//
// Tables are built with the engine in a fresh temporary directory (not
// measured). Medians of wall-clock times on this machine.
#include "addressdata.h"
#include "benchutil.h"
#include "benchwindows.h"

#include "app/hauptformular.h"
#include "find/quicksearch.h"
#include "platform/database/recordstore.h"
#include "platform/system/system.h"
#include "search/index.h"

#include <QApplication>
#include <QDir>
#include <QFrame>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTreeWidget>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using bench::Clock;
using bench::median;
using bench::msSince;

void line(const char* what, double value, const char* unit, const char* target = "") {
    std::printf("  %-58s %9.2f %s  %s\n", what, value, unit, target);
}

void type(QWidget* box, QChar c) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(box, &press);
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(box, &release);
}

// Median time of one save of a changed "Ort", spread over the table.
double saveMs(vellumo::RecordStore& store, int count) {
    std::vector<double> times;
    for (int run = 0; run < 21; ++run) {
        store.moveToStored(static_cast<int>(static_cast<long long>(count - 2) * run / 21));
        store.BeginEdit();
        store.SetFieldText("Ort", store.fieldText("Ort") + (run % 2 ? "x" : "y"));
        const auto start = Clock::now();
        store.SaveRecord();
        times.push_back(msSince(start));
    }
    return median(times);
}

void run(std::size_t count) {
    const bench::RunDirectory runDirectory("bench_quicksearch");
    const std::string path = runDirectory.file("Adressen.db");
    QDir::setCurrent(QString::fromStdString(runDirectory.path()));
    vellumo::setProgramDirectory(QString::fromStdString(runDirectory.path()));
    std::printf("\nbench_quicksearch: %zu address records\n", count);
    bench::buildAddressTable(path, count);
    const int n = static_cast<int>(count);

    // Opening without and with the index, and a save without and with it.
    bench::NoSyncFileSystem quiet;
    double plainOpen = 0, plainSave = 0, indexedSave = 0;
    {
        vellumo::RecordStore store(quiet);
        store.BindTable(QString::fromStdString(path));
        plainOpen = bench::medianMs(5, [&] {
            store.CloseTableAtShutdown();
            store.OpenTable();
        });
        plainSave = saveMs(store, n);
        {
            search::Index index(store);
            line("index built at once (read from the table, folded)", index.buildMilliseconds(),
                 "ms");
            line("index memory", static_cast<double>(index.memoryBytes()) / (1 << 20), "MB");
            indexedSave = saveMs(store, n);
        }
        // As the main window has it: read in steps from the event loop.
        search::Index stepped(store, search::Index::Building::InSteps);
        const double indexedOpen = bench::medianMs(5, [&] {
            store.CloseTableAtShutdown();
            store.OpenTable();
        });
        const auto start = Clock::now();
        int steps = 0;
        while (!stepped.isComplete()) {
            QApplication::processEvents();
            ++steps;
        }
        line("opening the table, without the index", plainOpen, "ms");
        line("opening the table, with the index read in steps", indexedOpen, "ms",
             "(target: at most 300 ms more)");
        char what[80];
        std::snprintf(what, sizeof what, "the index read in steps, to its end (%d steps)", steps);
        line(what, msSince(start), "ms", "(the box says so meanwhile)");
        line("a save of one changed field, without the index", plainSave, "ms");
        line("a save of one changed field, with the index", indexedSave, "ms");
        store.CloseTableAtShutdown();
    }

    THauptformular window;
    bench::showOnTable(window, path);
    vellumo::find::QuickSearch& quick = window.quickSearch();
    QLineEdit* box = quick.box();
    while (!quick.index().isComplete())
        QApplication::processEvents();
    // What a person types: a name from the middle of the table, then its town.
    window.Datentabelle.moveToStored(n / 2);
    const QString text =
        (window.Datentabelle.fieldText("Name") + " " + window.Datentabelle.fieldText("Ort"))
            .left(8);
    std::printf("  keystroke to the list painted, typing \"%s\" (main window open)\n",
                qPrintable(text));
    std::vector<std::vector<double>> times(static_cast<std::size_t>(text.size()));
    std::vector<int> matches(static_cast<std::size_t>(text.size()));
    for (int round = 0; round < 9; ++round) {
        box->clear();
        box->setFocus();
        QApplication::processEvents();
        for (qsizetype i = 0; i < text.size(); ++i) {
            const auto start = Clock::now();
            type(box, text[i]);
            quick.popup()->repaint();
            times[static_cast<std::size_t>(i)].push_back(msSince(start));
            matches[static_cast<std::size_t>(i)] = static_cast<int>(
                quick.index().find(search::Query::parse(box->text()), 0).positions.size());
        }
    }
    const char* target = count <= 10000 ? "(target <= 30 ms)" : "(target <= 100 ms)";
    for (std::size_t i = 0; i < times.size(); ++i) {
        char what[80];
        std::snprintf(what, sizeof what, "%zu character%s \"%s\", %d matches", i + 1, i ? "s" : "",
                      qPrintable(text.left(static_cast<qsizetype>(i + 1))), matches[i]);
        line(what, median(times[i]), "ms", target);
    }
    window.Datentabelle.CloseTableAtShutdown();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::vector<std::size_t> counts;
    for (int i = 1; i < argc; ++i)
        counts.push_back(std::strtoul(argv[i], nullptr, 10));
    if (counts.empty())
        counts = {10000, 100000};
    try {
        for (std::size_t count : counts)
            run(count);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_quicksearch: %s\n", e.what());
        return 1;
    }
    return 0;
}
