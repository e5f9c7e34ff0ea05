// bench_exchange: addresses out as vCard and CSV, and in from vCards.
//
//   bench_exchange [records] [imported] [directory]
//
// A table of records addresses (default 100,000; 2 % with a picture, 40 % with
// a memo) is built with the engine (not measured) in directory (default
// /var/tmp: on disk, the syncs are part of what is measured). Measured: the
// export of the whole table through the record store, as "E&xportieren …"
// does it, to a vCard and to a CSV file; reading the first imported (default
// 10,000) cards back; importing their file into an empty table with syncs,
// through the record store alone (with the syncs per 1,000 records counted),
// through the main window's own menu item "&Importieren …" (the file named in
// its dialog, the progress window up, until the summary box shows) and
// through vellumo-table; the import's own peak memory in a process of its
// own; reading a hostile 4 MB card. Wall-clock times on this machine.
//
//   bench_exchange --peak TABLE FILE     (what the bench runs for the peak;
//                                         TABLE "-": the file is only read)
#include "addressdata.h"
#include "benchutil.h"
#include "fixtures.h"
#include "testutil_counting.h"

#include "app/hauptformular.h"
#include "exchange/exchange.h"
#include "platform/database/recordstore.h"
#include "platform/paradox/table.h"
#include "platform/system/system.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <tuple>

#include <sys/resource.h>

namespace {

using bench::statusKb;

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

// The import alone in this fresh process: the peak of its resident memory
// (reset just before it) above what the process held when it began. With
// the table "-" the file is only read, card by card, as the fuzz targets do.
int importPeak(const QString& table, const QString& file) {
    vellumo::RecordStore store;
    if (table != u"-") {
        store.BindTable(table);
        store.OpenTable();
    }
    QFile in(file);
    QFile reset(QStringLiteral("/proc/self/clear_refs"));
    if (!in.open(QIODevice::ReadOnly) || !reset.open(QIODevice::WriteOnly) || reset.write("5") != 1)
        return 2;
    reset.close();
    const long before = statusKb("VmRSS");
    int count = 0;
    if (table == u"-") {
        ex::AddressReader reader(in, ex::formatOf(file));
        while (reader.next())
            ++count;
    } else {
        count = ex::importFile(store, file).added;
        store.CloseTableAtShutdown();
    }
    std::printf("%ld %d\n", statusKb("VmHWM") - before, count);
    return 0;
}

// The menu item as a person uses it: the main window open on the table, the
// file named in the import dialog, the progress window up; timed from the
// dialog's "Öffnen" until the summary box shows.
double importThroughMenu(const std::string& table, const QString& file, QString& summary) {
    THauptformular window;
    vellumo::RecordStore& store = window.Datentabelle;
    store.BindTable(QString::fromStdString(table));
    store.OpenTable();
    window.EnableTableControls();
    window.show();
    QApplication::processEvents();
    Clock::time_point start;
    double ms = -1;
    bool sawProgress = false;
    QTimer answer;
    answer.setInterval(5);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            name->setText(file);
            restart(start);
            QMetaObject::invokeMethod(dialog, "accept");
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            if (ms < 0)
                ms = msSince(start);
            summary = box->text();
            for (QAbstractButton* button : box->buttons())
                if (button->text() == QStringLiteral("OK"))
                    button->click();
        } else if (modal && modal->objectName() == QStringLiteral("ExchangeProgress")) {
            sawProgress = sawProgress || modal->isVisible();
        }
    });
    answer.start();
    // The file menu opens (its items follow the table controls), then the item.
    QMetaObject::invokeMethod(window.findChild<QMenu*>(QStringLiteral("Datei1")), "aboutToShow");
    window.findChild<QAction*>(QStringLiteral("Importieren"))->trigger();
    answer.stop();
    if (!sawProgress)
        summary += QStringLiteral(" (the progress window never showed)");
    store.CloseTableAtShutdown();
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc == 4 && std::string(argv[1]) == "--peak")
        return importPeak(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
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

        const QString cardFile = dir + "/karten.vcf";
        {
            QFile out(cardFile);
            out.open(QIODevice::WriteOnly);
            out.write(cards);
        }

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
            const ex::ImportResult result = ex::importFile(into, cardFile);
            const double importMs = msSince(start);
            std::snprintf(what, sizeof what, "import %zu vCards with syncs (%d added)",
                          addresses.size(), result.added);
            line(what, importMs, "(target <= 5000 ms for 10,000)");
            std::printf("  %-52s %10.1f\n", "  syncs per 1,000 records (same for menu and tool)",
                        1000.0 * double(counted.of("").syncs + counted.directorySyncs) /
                            std::max<double>(1, double(result.added)));
            if (result.added != static_cast<int>(addresses.size())) {
                std::printf("  unexpected: %d skipped, %d refused\n", result.skipped,
                            result.refused);
                status = 1;
            }
            into.CloseTableAtShutdown();
        }

        // Through the menu item of the main window.
        {
            const std::string shown = dirTemplate + "/Fenster.db";
            px::Table::create(shown, bench::addressFields(), bench::kAddressKeyFields);
            QString summary;
            const double ms = importThroughMenu(shown, cardFile, summary);
            std::snprintf(what, sizeof what, "import %zu vCards through \"&Importieren …\"",
                          addresses.size());
            line(what, ms, "(target <= 5000 ms for 10,000)");
            std::printf("    %s\n",
                        summary.section(u'\n', 0, 1).replace(u'\n', u' ').toUtf8().constData());
        }

        // Through the tool, a process of its own.
        {
            const std::string toolTarget = dirTemplate + "/Werkzeug.db";
            px::Table::create(toolTarget, bench::addressFields(), bench::kAddressKeyFields);
            const std::string command = std::string(VELLUMO_TABLE_TOOL) + " import '" + toolTarget +
                                        "' '" + cardFile.toStdString() + "' > /dev/null";
            restart(start);
            const int rc = std::system(command.c_str());
            std::snprintf(what, sizeof what, "import %zu vCards with vellumo-table (exit %d)",
                          addresses.size(), WEXITSTATUS(rc));
            line(what, msSince(start), "(target <= 5000 ms for 10,000)");
        }

        // The import's own peak, each in a fresh process: the cards as
        // exported, and the same with a photo of 256 x 256 noise on every
        // 50th card (no photo is decoded before its card is stored).
        {
            const QByteArray png = fixtures::noisePng(256, 256);
            QByteArray photoLine = "PHOTO;ENCODING=b;TYPE=PNG:";
            const QByteArray base64 = png.toBase64();
            for (qsizetype at = 0; at < base64.size(); at += 74)
                photoLine += (at > 0 ? "\r\n " : "") + base64.mid(at, 74);
            photoLine += "\r\n";
            QByteArray withPhotos;
            int card = 0;
            for (const QByteArray& l : cards.split('\n')) {
                if (l.isEmpty())
                    continue;
                if (l.startsWith("END:VCARD") && card++ % 50 == 0)
                    withPhotos += photoLine;
                withPhotos += l + '\n';
            }
            const QString photoFile = dir + "/fotos.vcf";
            QFile out(photoFile);
            out.open(QIODevice::WriteOnly);
            out.write(withPhotos);
            out.close();
            qsizetype largestPhoto = 0;
            for (const ex::Address& a : addresses)
                largestPhoto = std::max(largestPhoto, a.photo.size());
            int run = 0;
            for (const auto& [file, fileBytes, photo] :
                 {std::tuple(cardFile, cards.size(), largestPhoto),
                  std::tuple(photoFile, withPhotos.size(), png.size())}) {
                const std::string peakTarget =
                    dirTemplate + "/Spitze" + std::to_string(++run) + ".db";
                px::Table::create(peakTarget, bench::addressFields(), bench::kAddressKeyFields);
                const std::string command = std::string("QT_QPA_PLATFORM=offscreen '") +
                                            QCoreApplication::applicationFilePath().toStdString() +
                                            "' --peak '" + peakTarget + "' '" + file.toStdString() +
                                            "'";
                long peakKb = -1;
                int added = 0;
                if (FILE* child = ::popen(command.c_str(), "r")) {
                    if (std::fscanf(child, "%ld %d", &peakKb, &added) != 2)
                        peakKb = -1;
                    ::pclose(child);
                }
                std::snprintf(what, sizeof what, "peak memory of the import alone, %s (%d added)",
                              run == 1 ? "as exported" : "with photos", added);
                std::printf("  %-52s %10.1f MB  (target < 2 x file %.1f MB + photo %.2f MB)\n",
                            what, double(peakKb) / 1024.0, double(fileBytes) / 1e6,
                            double(photo) / 1e6);
            }
        }

        // The same without syncs: what the import itself costs beside the disk.
        const std::string quietTarget = dirTemplate + "/Leise.db";
        px::Table::create(quietTarget, bench::addressFields(), bench::kAddressKeyFields);
        bench::NoSyncFileSystem quiet;
        vellumo::RecordStore unsynced(quiet);
        unsynced.BindTable(QString::fromStdString(quietTarget));
        unsynced.OpenTable();
        restart(start);
        ex::importFile(unsynced, cardFile);
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
