// bench_exchange: addresses out as vCard and CSV, and in from vCards.
//
//   bench_exchange [records] [imported] [directory]
//
// A table of records addresses (default 100,000; 2 % with a picture, 40 % with
// a memo) is built with the engine (not measured) in directory (default
// /var/tmp: on disk, the syncs are part of what is measured). Measured: the
// export of the whole table through the record store, as "E&xportieren …"
// does it, to a vCard and to a CSV file; reading the first imported (default
// 10,000) cards back; importing them into an empty table with syncs, through
// the record store alone (with the syncs per 1,000 records counted), with the
// main window open on the table (as "&Importieren …" does it) and through
// vellumo-table; reading a hostile 4 MB card; the peak memory of the process.
// Wall-clock times on this machine.
#include "addressdata.h"
#include "benchutil.h"
#include "testutil_counting.h"

#include "app/hauptformular.h"
#include "exchange/exchange.h"
#include "platform/database/recordstore.h"
#include "platform/paradox/table.h"
#include "platform/system/system.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include <sys/resource.h>

namespace {

using bench::Clock;
using bench::msSince;
namespace ex = vellumo::exchange;

// CPU time of the process: on a machine shared with other work the wall
// clock also counts the waiting, the CPU time only this program's own work.
double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double cpuStart = 0;

void line(const char* what, double ms, const char* target) {
    std::printf("  %-52s %10.1f ms  (CPU %8.1f ms)  %s\n", what, ms, cpuMs() - cpuStart, target);
}

void restart(Clock::time_point& start) {
    start = Clock::now();
    cpuStart = cpuMs();
}

// Exports the open table; returns the milliseconds and the file's size.
double exportTo(const vellumo::RecordStore& store, ex::Format format, const QString& path,
                qint64& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw vellumo::StoreError(QStringLiteral("cannot write ") + path);
    Clock::time_point start;
    restart(start);
    ex::exportRecords(store, format, file);
    file.close();
    const double ms = msSince(start);
    bytes = QFile(path).size();
    return ms;
}

// A card made to be slow: one unbalanced quote in a parameter, then 4 MB of
// folded lines.
QByteArray hostileCard() {
    QByteArray card = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Feind;;;;\r\nNOTE;X-A=\"offen:";
    const QByteArray fold = "\r\n " + QByteArray(72, 'a') + "\"";
    while (card.size() < 4 * 1024 * 1024)
        card += fold;
    return card + "\r\nEND:VCARD\r\n";
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const std::size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    const std::size_t imported = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 10000;
    const std::filesystem::path base =
        argc > 3 ? std::filesystem::path(argv[3]) : std::filesystem::path("/var/tmp");
    std::string dirTemplate = (base / "bench_exchange.XXXXXX").string();
    if (!::mkdtemp(dirTemplate.data())) {
        std::perror("bench_exchange: mkdtemp");
        return 2;
    }
    const QString dir = QString::fromStdString(dirTemplate);
    const std::string path = dirTemplate + "/Adressen.db";
    // No Setup.ini of the user's is read: the program directory is the bench's own.
    QDir::setCurrent(dir);
    vellumo::setProgramDirectory(dir);

    int status = 0;
    try {
        std::printf("bench_exchange: %zu address records in %s\n", count, dirTemplate.c_str());
        auto start = Clock::now();
        bench::buildAddressTable(path, count);
        std::printf("  %-52s %10.1f ms\n", "build the table with the engine (not a target)",
                    msSince(start));

        vellumo::RecordStore store;
        store.BindTable(QString::fromStdString(path));
        store.OpenTable();

        // Where the export's time goes: reading the records, making the cards.
        std::vector<ex::Address> everything;
        everything.reserve(count);
        restart(start);
        for (int row = 0; row < store.visibleCount(); ++row)
            everything.push_back(ex::addressAt(store, row));
        line("  of it: read every record through the store", msSince(start), "");
        restart(start);
        qint64 cardBytes = 0;
        for (const ex::Address& address : everything)
            cardBytes += ex::toVCard(address).size();
        line("  of it: make every vCard", msSince(start), "");
        everything.clear();

        qint64 bytes = 0;
        const double vcardMs = exportTo(store, ex::Format::VCard, dir + "/alle.vcf", bytes);
        char what[96];
        std::snprintf(what, sizeof what, "export %zu records to vCard (%.1f MB)", count,
                      double(bytes) / 1e6);
        line(what, vcardMs, "(target <= 2000 ms for 100,000)");
        const double csvMs = exportTo(store, ex::Format::Csv, dir + "/alle.csv", bytes);
        std::snprintf(what, sizeof what, "export %zu records to CSV (%.1f MB)", count,
                      double(bytes) / 1e6);
        line(what, csvMs, "");
        store.CloseTableAtShutdown();

        // The first cards of the export: real cards, with their pictures.
        QFile all(dir + "/alle.vcf");
        all.open(QIODevice::ReadOnly);
        QByteArray cards;
        for (std::size_t n = 0; n < imported && !all.atEnd();) {
            const QByteArray l = all.readLine();
            cards += l;
            if (l.startsWith("END:VCARD"))
                ++n;
        }
        restart(start);
        const std::vector<ex::Address> addresses = ex::readVCards(cards);
        std::snprintf(what, sizeof what, "read %zu vCards (%.1f MB)", addresses.size(),
                      double(cards.size()) / 1e6);
        line(what, msSince(start), "");

        // Through the record store alone, the syncs counted.
        const std::string target = dirTemplate + "/Neu.db";
        px::Table::create(target, bench::addressFields(), bench::kAddressKeyFields);
        {
            testutil::TrafficFileSystem counted(px::defaultFileSystem());
            vellumo::RecordStore into(counted);
            into.BindTable(QString::fromStdString(target));
            into.BeforePost = [&into] {
                into.SetFieldDate(QStringLiteral("Aenderung"), vellumo::now());
            };
            into.OpenTable();
            restart(start);
            const ex::ImportResult result = ex::importAddresses(into, addresses, ex::Format::VCard);
            const double importMs = msSince(start);
            std::snprintf(what, sizeof what, "import %zu vCards with syncs (%d added)",
                          addresses.size(), result.added);
            line(what, importMs, "(target <= 5000 ms for 10,000)");
            std::printf("  %-52s %10.1f\n", "  syncs per 1,000 records",
                        1000.0 * double(counted.of("").syncs + counted.directorySyncs) /
                            std::max<double>(1, double(result.added)));
            if (result.added != static_cast<int>(addresses.size())) {
                std::printf("  unexpected: %d skipped, %d refused\n", result.skipped,
                            result.refused);
                status = 1;
            }
            into.CloseTableAtShutdown();
        }

        // With the main window open on the table, as the menu item runs it.
        const std::string shown = dirTemplate + "/Fenster.db";
        px::Table::create(shown, bench::addressFields(), bench::kAddressKeyFields);
        {
            THauptformular window;
            vellumo::RecordStore& shownStore = window.Datentabelle;
            shownStore.BindTable(QString::fromStdString(shown));
            shownStore.OpenTable();
            window.EnableTableControls();
            window.show();
            QApplication::processEvents();
            restart(start);
            const ex::ImportResult result =
                ex::importAddresses(shownStore, addresses, ex::Format::VCard);
            QApplication::processEvents();
            std::snprintf(what, sizeof what, "import %zu vCards, main window open (%d added)",
                          addresses.size(), result.added);
            line(what, msSince(start), "(target <= 5000 ms for 10,000)");
            shownStore.CloseTableAtShutdown();
        }

        // Through the tool, a process of its own.
        {
            const std::string file = dirTemplate + "/karten.vcf";
            QFile out(QString::fromStdString(file));
            out.open(QIODevice::WriteOnly);
            out.write(cards);
            out.close();
            const std::string toolTarget = dirTemplate + "/Werkzeug.db";
            px::Table::create(toolTarget, bench::addressFields(), bench::kAddressKeyFields);
            const std::string command = std::string(VELLUMO_TABLE_TOOL) + " import '" + toolTarget +
                                        "' '" + file + "' > /dev/null";
            restart(start);
            const int rc = std::system(command.c_str());
            std::snprintf(what, sizeof what, "import %zu vCards with vellumo-table (exit %d)",
                          addresses.size(), WEXITSTATUS(rc));
            line(what, msSince(start), "(target <= 5000 ms for 10,000)");
            // The tool is the largest child so far: its peak is the import's alone.
            rusage child{};
            getrusage(RUSAGE_CHILDREN, &child);
            std::printf("  %-52s %10.1f MB  (file %.1f MB)\n", "  peak memory of the tool's import",
                        double(child.ru_maxrss) / 1024.0, double(cards.size()) / 1e6);
        }

        // The same without syncs: what the import itself costs beside the disk.
        const std::string quietTarget = dirTemplate + "/Leise.db";
        px::Table::create(quietTarget, bench::addressFields(), bench::kAddressKeyFields);
        bench::NoSyncFileSystem quiet;
        vellumo::RecordStore unsynced(quiet);
        unsynced.BindTable(QString::fromStdString(quietTarget));
        unsynced.OpenTable();
        restart(start);
        ex::importAddresses(unsynced, addresses, ex::Format::VCard);
        std::snprintf(what, sizeof what, "import %zu vCards without syncs (not a target)",
                      addresses.size());
        line(what, msSince(start), "");
        unsynced.CloseTableAtShutdown();

        const QByteArray hostile = hostileCard();
        restart(start);
        const std::vector<ex::Address> read = ex::readVCards(hostile);
        std::snprintf(what, sizeof what, "read a hostile %.1f MB card (%zu card)",
                      double(hostile.size()) / 1e6, read.size());
        line(what, msSince(start), "(target < 1000 ms)");

        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("  %-52s %10.1f MB  (import file %.1f MB)\n", "peak memory of the process",
                    double(usage.ru_maxrss) / 1024.0, double(cards.size()) / 1e6);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_exchange: %s\n", e.what());
        status = 2;
    }
    std::filesystem::remove_all(dirTemplate);
    return status;
}
