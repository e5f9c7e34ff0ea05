// bench_edit: how long leaving a changed entry field takes on a 100,000-record
// address table, from the key event to the saved record (syncs included).
//
//   QT_QPA_PLATFORM=offscreen bench_edit [records] [directory]
//
// The table is built with the engine in a fresh temporary directory (not
// measured, no syncs). The measured runs go through the real main window:
// a character typed into "Ort" (not measured), then Tab (measured until the
// record is written with its "Aenderung" stamp); and the same change left by
// "einen Datensatz weiter" instead. Medians and maxima of wall-clock times.
#include "addressdata.h"
#include "benchutil.h"
#include "benchwindows.h"

#include "app/hauptformular.h"
#include "platform/database/recordstore.h"
#include "platform/paradox/table.h"
#include "platform/system/system.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using bench::Clock;
using bench::msSince;

// The first run pays for opening the write path (lock, journal, cold blocks);
// the median is what a person meets afterwards.
void report(const char* what, std::vector<double> times) {
    const double first = times.front();
    std::sort(times.begin(), times.end());
    std::printf("  %-48s first %8.3f ms   median %8.3f ms   max %8.3f ms\n", what, first,
                times[times.size() / 2], times.back());
}

void sendKey(QWidget* target, int key, const QString& text = QString()) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::size_t count = bench::countArgument(argc, argv);
    // On disk, not in memory: the syncs are part of what is measured.
    const std::filesystem::path base =
        argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::path("/var/tmp");
    const bench::RunDirectory runDirectory("bench_edit", base);
    const std::string& dir = runDirectory.path();
    const std::string path = runDirectory.file("Adressen.db");
    // No Setup.ini of the user's is read: the program directory is the bench's own.
    QDir::setCurrent(QString::fromStdString(dir));
    vellumo::setProgramDirectory(QString::fromStdString(dir));

    int status = 0;
    try {
        std::printf("bench_edit: %zu address records in %s\n", count, dir.c_str());
        bench::buildAddressTable(path, count);
        // The built table reaches the disk now, not inside the first measured save.
        ::sync();

        THauptformular window;
        vellumo::RecordStore& store = window.Datentabelle;
        bench::showOnTable(window, path);
        auto* ort = window.findChild<QLineEdit*>(QStringLiteral("DBEditOrt"));
        auto* next = window.findChild<QToolButton*>(QStringLiteral("ButtonNext"));
        if (!ort || !next)
            throw std::runtime_error("main window without DBEditOrt or ButtonNext");

        const int runs = 21;
        std::vector<double> tabs, moves;
        int failures = 0;
        for (int run = 0; run < runs; ++run) {
            // A different record each time, spread over the table.
            store.GoToFirst();
            store.StepBy(static_cast<int>((count - 2) * run / runs));
            vellumo::setClock([] { return QDateTime(QDate(2030, 1, 1), QTime(12, 0)); });

            ort->setFocus(Qt::MouseFocusReason);
            QApplication::processEvents();
            sendKey(ort, Qt::Key_End);
            sendKey(ort, Qt::Key_X, QStringLiteral("x"));
            const QString expected = ort->text();
            auto start = Clock::now();
            sendKey(ort, Qt::Key_Tab);
            tabs.push_back(msSince(start));
            if (store.state() != vellumo::StoreState::Browsing ||
                store.fieldText(QStringLiteral("Ort")) != expected ||
                store.fieldValue(QStringLiteral("Aenderung")).toDate() != QDate(2030, 1, 1))
                ++failures;

            // Changed, then "einen Datensatz weiter": the record is saved before the move.
            vellumo::setClock([] { return QDateTime(QDate(2031, 1, 1), QTime(12, 0)); });
            ort->setFocus(Qt::MouseFocusReason);
            QApplication::processEvents();
            sendKey(ort, Qt::Key_End);
            sendKey(ort, Qt::Key_Y, QStringLiteral("y"));
            start = Clock::now();
            next->click();
            moves.push_back(msSince(start));
            store.StepBack();
            if (store.fieldValue(QStringLiteral("Aenderung")).toDate() != QDate(2031, 1, 1))
                ++failures;
        }
        vellumo::setClock({});
        std::printf("\nleaving a changed field (%d runs, records spread over the table)\n", runs);
        report("Tab out of a changed \"Ort\" to the saved record", tabs);
        report("changed \"Ort\", then \"einen Datensatz weiter\"", moves);
        if (failures) {
            std::printf("  %d runs did not store the change\n", failures);
            status = 1;
        }
        store.CloseTableAtShutdown();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_edit: %s\n", e.what());
        status = 1;
    }
    return status;
}
