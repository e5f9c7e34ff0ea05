// Figures for pictures, with the program's windows open as a person has them:
// the main window showing the table (its entry fields and the viewer's
// picture holder follow every move). Moving between records that hold
// 12-megapixel pictures, "OK" storing a 12-megapixel JPEG (syncs included),
// the write calls a stored picture costs, the bytes of pictures a CSV export
// reads, and how many photographs a table's .mb holds at the stored size.
#include "addresstables.h"
#include "benchutil.h"
#include "benchwindows.h"
#include "fixtures.h"
#include "testutil_counting.h"

#include "app/hauptformular.h"
#include "app/startup.h"
#include "app/windows.h"
#include "exchange/exchange.h"
#include "pictures/formbild.h"
#include "pictures/formbildspeichern.h"
#include "pictures/previewimage.h"
#include "platform/database/datasource.h"
#include "platform/database/recordstore.h"
#include "platform/paradox/restructure.h"
#include "platform/pictures/graphicfield.h"
#include "platform/pictures/limits.h"
#include "platform/system/system.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>

namespace {

double cpuMs(std::clock_t since) {
    return double(std::clock() - since) * 1000.0 / CLOCKS_PER_SEC;
}

QImage photograph(int width, int height) {
    QImage image;
    image.loadFromData(fixtures::bigJpeg(width, height), "JPEG");
    return image;
}

// count records named from first on, each holding picture.
void addRecords(vellumo::RecordStore& store, int first, int count, const QByteArray& picture) {
    for (int i = first; i < first + count; ++i) {
        store.InsertBlankRecord();
        store.SetFieldText(QStringLiteral("Name"),
                           QStringLiteral("Person %1").arg(i, 3, 10, QChar('0')));
        store.setFieldValue(QStringLiteral("Grafik"), picture);
        store.SaveRecord();
    }
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    vellumo::setProgramDirectory(dir.path()); // Setup.ini of this run lies there
    vellumo::initialiseApplication(app);
    vellumo::ProgramWindows windows;
    windows.createAll();
    const QString table = dir.filePath("Adressen.db");
    testsupport::makeAddressTable(table);
    bench::showOnTable(*Hauptformular, table.toStdString());
    vellumo::RecordStore& store = Hauptformular->Datentabelle;

    const QString pictures = dir.filePath("bilder");
    QDir().mkpath(pictures);
    {
        QFile f(pictures + "/foto.jpg");
        f.open(QIODevice::WriteOnly);
        f.write(fixtures::bigJpeg(4000, 3000));
    }

    std::printf("\"OK\" with a 12-megapixel JPEG (4000 x 3000), stored at %d pixels on the long "
                "side, five runs:\n",
                vellumo::pictures::kDefaultStoredSide);
    store.InsertBlankRecord();
    store.SetFieldText(QStringLiteral("Name"), QStringLiteral("Muster"));
    store.SaveRecord();
    TFormBildSpeichern* chooser = FormBildSpeichern;
    chooser->setDirectory(pictures);
    for (int run = 0; run < 5; ++run) {
        chooser->showModeless();
        app.processEvents();
        chooser->fileList()->clearSelection();
        auto start = bench::Clock::now();
        std::clock_t cpu = std::clock();
        chooser->fileList()->setCurrentRow(0);
        chooser->preview()->repaint();
        const double preview = bench::msSince(start), previewCpu = cpuMs(cpu);
        start = bench::Clock::now();
        cpu = std::clock();
        chooser->okButton()->click();
        app.processEvents();
        const double ok = bench::msSince(start), okCpu = cpuMs(cpu);
        std::printf("  preview %5.0f ms (cpu %5.0f)   OK and save %5.0f ms (cpu %5.0f)   stored "
                    "%lld bytes\n",
                    preview, previewCpu, ok, okCpu,
                    static_cast<long long>(store.fieldValue("Grafik").toByteArray().size()));
    }

    // Records as an older table may hold them: 12-megapixel bitmaps of 36 MB.
    const QByteArray big =
        vellumo::pictures::graphicFieldFromImage(photograph(4000, 3000), nullptr);
    addRecords(store, 0, 6, big);
    store.GoToFirst();
    std::vector<double> moves;
    double cpuTotal = 0;
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 6; ++i) {
            const auto start = bench::Clock::now();
            const std::clock_t cpu = std::clock();
            store.StepForward();
            app.processEvents();
            moves.push_back(bench::msSince(start));
            cpuTotal += cpuMs(cpu);
        }
        store.GoToFirst();
    }
    std::printf("Moves between records with 12-megapixel pictures (%zu moves, %lld-byte "
                "bitmaps): median %.2f ms, worst %.2f ms, cpu %.2f ms per move\n",
                moves.size(), static_cast<long long>(big.size()), bench::median(moves),
                *std::max_element(moves.begin(), moves.end()), cpuTotal / double(moves.size()));

    // What storing costs in write calls, and what exports read, counted
    // underneath the engine; the picture holder follows this store too.
    testutil::TrafficFileSystem fs(px::defaultFileSystem());
    vellumo::RecordStore counted(fs);
    vellumo::DataSource source(counted);
    TFormBild viewer(&source);
    testsupport::makeAddressTable(counted, dir.filePath("Gezaehlt"));
    const QImage stored = photograph(1024, 768);
    const QByteArray small = vellumo::pictures::graphicFieldFromImage(stored, nullptr);
    int named = 0;
    for (const QByteArray* picture : {&small, &big}) {
        const auto before = fs.traffic;
        addRecords(counted, named++, 1, *picture);
        std::uint64_t calls = 0;
        for (const auto& [path, t] : fs.traffic)
            calls += t.writeCalls - (before.count(path) ? before.at(path).writeCalls : 0);
        std::printf("Write calls storing a record with a %lld-byte picture: %llu (all files, "
                    "journal included)\n",
                    static_cast<long long>(picture->size()),
                    static_cast<unsigned long long>(calls));
    }

    addRecords(counted, named, 98, small);
    for (const auto format : {vellumo::exchange::Format::Csv, vellumo::exchange::Format::VCard}) {
        const std::uint64_t before = fs.of(".mb").bytesRead;
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        const auto start = bench::Clock::now();
        const int written = vellumo::exchange::exportRecords(counted, format, out, {});
        std::printf("%s export of %d records with pictures: %.0f ms, %llu bytes read from the "
                    ".mb, %lld bytes written\n",
                    format == vellumo::exchange::Format::Csv ? "CSV" : "vCard", written,
                    bench::msSince(start),
                    static_cast<unsigned long long>(fs.of(".mb").bytesRead - before),
                    static_cast<long long>(out.size()));
    }

    // What "vellumo-table compact" gives back once the big picture is replaced
    // by a small one (the table closed, as the command needs it).
    counted.GoToFirst();
    counted.StepForward(); // "Person 001" holds the big one
    counted.BeginEdit();
    counted.setFieldValue(QStringLiteral("Grafik"), small);
    counted.SaveRecord();
    const int records = counted.CountRecords();
    counted.CloseTableAtShutdown();
    const QString mb = dir.filePath("Gezaehlt.mb");
    const qint64 grown = QFileInfo(mb).size();
    const auto start = bench::Clock::now();
    px::compactTable(QFile::encodeName(dir.filePath("Gezaehlt.db")).toStdString());
    std::printf("compact of the %d records with pictures: %.0f ms, .mb %lld bytes before, %lld "
                "after\n",
                records, bench::msSince(start), static_cast<long long>(grown),
                static_cast<long long>(QFileInfo(mb).size()));

    // A graphic field holds the 8-byte prefix and the bitmap in whole 4 KiB blocks.
    const qint64 blob = (small.size() + 8 + 9 + 4095) / 4096 * 4096;
    const qint64 bigBlob = (big.size() + 8 + 9 + 4095) / 4096 * 4096;
    std::printf("Capacity of a table's .mb (4 GiB): %lld photographs of 1024 x 768, %lld of 4000 "
                "x 3000\n",
                (4ll << 30) / blob, (4ll << 30) / bigBlob);
    return 0;
}
