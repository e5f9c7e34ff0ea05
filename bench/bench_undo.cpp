// bench_undo: one undo (and redo) of an import, with the main window open.
//
//   bench_undo [imported] [existing] [directory] [pictured]
//
// A table of existing addresses (default 10,000) is built with the engine and
// the imported ones (default 10,000, other people) are written to a vCard
// file through the export (neither measured), in directory (default
// /var/tmp: on disk, the syncs are part of what is measured). With the main
// window open on the table: the import through the record store as
// "&Importieren …" runs it, then one "Rückgängig" (Ctrl+Z) of the whole
// import, then "Wiederherstellen". Printed: wall-clock times, the history's
// own size and the growth of the process's resident memory, and whether the
// table came back as it was. Then pictured records (default 2,000) with a
// picture each are removed as one step and that step undone: what the
// history holds in memory and in its file.
#include "benchutil.h"
#include "benchwindows.h"

#include "exchange/exchange.h"
#include "platform/database/recordstore.h"
#include "platform/system/system.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>

#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {

using bench::statusKb;

using bench::Clock;
using bench::msSince;

// A digest of every stored record but its "Aenderung" (a record written
// back is stamped today, as every edit): the table as a whole.
QByteArray digest(const vellumo::RecordStore& store) {
    QCryptographicHash hash(QCryptographicHash::Sha1);
    const int stamp = store.fieldIndex(QStringLiteral("Aenderung"));
    store.scanStoredTexts([&](int, QStringList texts) {
        texts.removeAt(stamp);
        hash.addData(texts.join(u'|').toUtf8());
        return true;
    });
    return hash.result();
}

void line(const char* what, double ms, long kb, qint64 historyBytes) {
    std::printf("  %-40s %9.1f ms   resident %+7.1f MB   history %7.1f MB\n", what, ms,
                double(kb) / 1024.0, double(historyBytes) / (1024.0 * 1024.0));
}

// A photograph-like JPEG (noise does not compress), of about 60 KB.
QByteArray photograph() {
    QImage image(260, 200, QImage::Format_RGB32);
    std::uint32_t state = 12345;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            image.setPixel(x, y, state >> 8);
        }
    QByteArray bytes;
    QBuffer out(&bytes);
    out.open(QIODevice::WriteOnly);
    image.save(&out, "JPEG", 90);
    return bytes;
}

// Records with a picture each, all removed as one step (the history keeps
// their pictures, beyond its budget in its file), then one undo.
bool removedPictures(THauptformular& window, const bench::RunDirectory& dir, std::size_t count) {
    const std::string path = dir.file("Bilder.db");
    const QByteArray picture = photograph();
    {
        bench::AddressGenerator gen;
        std::vector<px::Record> records = gen.sortedRecords(count);
        const std::vector<px::FieldDef> fields = bench::addressFields();
        std::size_t grafik = 0;
        while (grafik < fields.size() && fields[grafik].name != "Grafik")
            ++grafik;
        px::Table::create(path, fields, bench::kAddressKeyFields);
        bench::NoSyncFileSystem quiet;
        auto table = px::Table::open(path, px::Access::Write, quiet);
        for (px::Record& r : records) {
            r.at(grafik) = px::Bytes(picture.begin(), picture.end());
            table->insert(r);
        }
    }
    ::sync();
    vellumo::RecordStore& store = window.Datentabelle;
    store.CloseTable();
    store.BindTable(QString::fromStdString(path));
    store.OpenTable();
    QApplication::processEvents();
    const QByteArray before = digest(store);
    std::printf("  %zu records with a picture of %.1f KB each\n", count,
                double(picture.size()) / 1024.0);
    long rss = statusKb("VmRSS");
    auto start = Clock::now();
    {
        const vellumo::RecordStore::StepGuard step(store, QStringLiteral("Bilder entfernt"));
        store.GoToFirst();
        while (!store.isEmpty())
            store.RemoveRecord();
    }
    QApplication::processEvents();
    line("all removed, one step", msSince(start), statusKb("VmRSS") - rss, store.historyBytes());
    std::printf("  the history's pictures in its file: %.1f MB\n",
                double(store.historyFileBytes()) / (1024.0 * 1024.0));
    rss = statusKb("VmRSS");
    start = Clock::now();
    store.Undo();
    QApplication::processEvents();
    line("one undo of it", msSince(start), statusKb("VmRSS") - rss, store.historyBytes());
    const bool back = digest(store) == before;
    std::printf("  table as before after the undo: %s\n", back ? "yes" : "NO");
    return back;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::size_t imported = bench::countArgument(argc, argv, 10000);
    const std::size_t existing = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 10000;
    const std::filesystem::path base =
        argc > 3 ? std::filesystem::path(argv[3]) : std::filesystem::path("/var/tmp");
    const bench::RunDirectory runDirectory("bench_undo", base);
    const std::string& dir = runDirectory.path();
    QDir::setCurrent(QString::fromStdString(dir));
    vellumo::setProgramDirectory(QString::fromStdString(dir));
    const QString cards = QString::fromStdString(runDirectory.file("karten.vcf"));

    int status = 0;
    try {
        std::printf("bench_undo: %zu cards imported into %zu addresses in %s\n", imported, existing,
                    dir.c_str());
        {
            // Other people than the table's: the generator's names with a prefix.
            const std::string source = runDirectory.file("Quelle.db");
            bench::AddressGenerator gen;
            std::vector<px::Record> records = gen.sortedRecords(imported);
            px::Table::create(source, bench::addressFields(), bench::kAddressKeyFields);
            {
                bench::NoSyncFileSystem quiet;
                auto table = px::Table::open(source, px::Access::Write, quiet);
                for (px::Record& r : records) {
                    if (auto* name = std::get_if<std::string>(&r[0]))
                        *name = "Neu " + name->substr(0, 25);
                    table->insert(r);
                }
            }
            vellumo::RecordStore store;
            store.BindTable(QString::fromStdString(source));
            store.OpenTable();
            QFile out(cards);
            if (!out.open(QIODevice::WriteOnly))
                throw std::runtime_error("cannot write the cards");
            vellumo::exchange::exportRecords(store, vellumo::exchange::Format::VCard, out);
            store.CloseTableAtShutdown();
        }
        const std::string path = runDirectory.file("Adressen.db");
        bench::buildAddressTable(path, existing);
        ::sync();

        THauptformular window;
        vellumo::RecordStore& store = window.Datentabelle;
        bench::showOnTable(window, path);
        auto* undo = window.findChild<QAction*>(QStringLiteral("Rueckgaengig"));
        auto* redo = window.findChild<QAction*>(QStringLiteral("Wiederherstellen"));
        if (!undo || !redo)
            throw std::runtime_error("main window without Rückgängig/Wiederherstellen");
        const QByteArray before = digest(store);

        long rss = statusKb("VmRSS");
        auto start = Clock::now();
        const int added = vellumo::exchange::importFile(store, cards).added;
        QApplication::processEvents();
        line("import (not the subject, for scale)", msSince(start), statusKb("VmRSS") - rss,
             store.historyBytes());
        const QByteArray after = digest(store);
        std::printf("  %d added; the item reads \"%s\"\n", added, qPrintable(undo->text()));

        rss = statusKb("VmRSS");
        start = Clock::now();
        undo->trigger();
        QApplication::processEvents();
        line("one undo of the import", msSince(start), statusKb("VmRSS") - rss,
             store.historyBytes());
        const bool back = digest(store) == before;

        rss = statusKb("VmRSS");
        start = Clock::now();
        redo->trigger();
        QApplication::processEvents();
        line("redo", msSince(start), statusKb("VmRSS") - rss, store.historyBytes());
        const bool again = digest(store) == after;
        std::printf("  table as before after the undo: %s; as after the import after the redo: "
                    "%s\n",
                    back ? "yes" : "NO", again ? "yes" : "NO");
        std::printf("  peak resident memory of the process: %.1f MB\n",
                    double(statusKb("VmHWM")) / 1024.0);
        if (!back || !again)
            status = 1;
        const std::size_t pictured = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 2000;
        if (pictured > 0 && !removedPictures(window, runDirectory, pictured))
            status = 1;
        store.CloseTableAtShutdown();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_undo: %s\n", e.what());
        status = 1;
    }
    return status;
}
