// bench_exchange: addresses out as vCard and CSV, and in from vCards.
//
//   bench_exchange [records] [imported]
//
// A table of records addresses (default 100,000; 2 % with a picture, 40 % with
// a memo) is built with the engine (not measured). Measured: the export of the
// whole table through the record store, as "&Exportieren …" does it, to a
// vCard and to a CSV file; reading the first imported (default 10,000) cards
// back; and importing them into an empty table through the record store, each
// record committed with its syncs as any save. Wall-clock times on this machine.
#include "addressdata.h"
#include "benchutil.h"

#include "data/exchange.h"
#include "platform/database/recordstore.h"
#include "platform/paradox/table.h"
#include "platform/system/system.h"

#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

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

} // namespace

int main(int argc, char** argv) {
    const std::size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    const std::size_t imported = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 10000;
    std::string dirTemplate = (std::filesystem::temp_directory_path() / "bench_exchange.XXXXXX");
    if (!::mkdtemp(dirTemplate.data())) {
        std::perror("bench_exchange: mkdtemp");
        return 2;
    }
    const QString dir = QString::fromStdString(dirTemplate);
    const std::string path = dirTemplate + "/Adressen.db";

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

        const std::string target = dirTemplate + "/Neu.db";
        px::Table::create(target, bench::addressFields(), bench::kAddressKeyFields);
        vellumo::RecordStore into;
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
        line(what, importMs, "(target <= 10000 ms for 10,000)");
        if (result.added != static_cast<int>(addresses.size())) {
            std::printf("  unexpected: %d skipped, %d refused\n", result.skipped, result.refused);
            status = 1;
        }
        into.CloseTableAtShutdown();

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
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_exchange: %s\n", e.what());
        status = 2;
    }
    std::filesystem::remove_all(dirTemplate);
    return status;
}
