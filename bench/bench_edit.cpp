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

#include "app/hauptformular.h"
#include "database/recordstore.h"
#include "paradox/table.h"
#include "system/system.h"

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

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The first run pays for opening the write path (lock, journal, cold blocks);
// the median is what a person meets afterwards.
void report(const char* what, std::vector<double> times) {
    const double first = times.front();
    std::sort(times.begin(), times.end());
    std::printf("  %-48s first %8.3f ms   median %8.3f ms   max %8.3f ms\n", what, first,
                times[times.size() / 2], times.back());
}

// Skips syncs while the table is built: building is not what is measured.
class NoSyncFileSystem : public px::FileSystem {
public:
    explicit NoSyncFileSystem(px::FileSystem& inner) : inner_(inner) {}
    std::unique_ptr<px::File> open(const std::string& path, px::OpenMode mode) override {
        return std::make_unique<NoSyncFile>(inner_.open(path, mode));
    }
    bool exists(const std::string& path) override { return inner_.exists(path); }
    void rename(const std::string& from, const std::string& to) override {
        inner_.rename(from, to);
    }
    void remove(const std::string& path) override { inner_.remove(path); }
    void syncDirectory(const std::string&) override {}
    std::vector<std::string> list(const std::string& directory) override {
        return inner_.list(directory);
    }
    std::unique_ptr<px::Lock> tryLock(const std::string& path, px::LockKind kind) override {
        return inner_.tryLock(path, kind);
    }
    bool isDirectoryWritable(const std::string& directory) override {
        return inner_.isDirectoryWritable(directory);
    }

private:
    class NoSyncFile : public px::File {
    public:
        explicit NoSyncFile(std::unique_ptr<px::File> inner) : inner_(std::move(inner)) {}
        std::size_t read(std::uint64_t offset, void* buffer, std::size_t n) override {
            return inner_->read(offset, buffer, n);
        }
        void write(std::uint64_t offset, const void* data, std::size_t n) override {
            inner_->write(offset, data, n);
        }
        std::uint64_t size() override { return inner_->size(); }
        void truncate(std::uint64_t size) override { inner_->truncate(size); }
        void sync() override {}

    private:
        std::unique_ptr<px::File> inner_;
    };
    px::FileSystem& inner_;
};

void sendKey(QWidget* target, int key, const QString& text = QString()) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    // On disk, not in memory: the syncs are part of what is measured.
    const std::filesystem::path base =
        argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::path("/var/tmp");
    std::string dirTemplate = (base / "bench_edit.XXXXXX").string();
    if (!::mkdtemp(dirTemplate.data())) {
        std::perror("bench_edit: mkdtemp");
        return 2;
    }
    const std::string dir = dirTemplate;
    const std::string path = dir + "/Adressen.db";
    // No Setup.ini of the user's is read: the program directory is the bench's own.
    QDir::setCurrent(QString::fromStdString(dir));
    vellumo::setProgramDirectory(QString::fromStdString(dir));

    int status = 0;
    try {
        std::printf("bench_edit: %zu address records in %s\n", count, dir.c_str());
        {
            bench::AddressGenerator gen;
            const std::vector<px::Record> records = gen.sortedRecords(count);
            px::Table::create(path, bench::addressFields(), bench::kAddressKeyFields);
            NoSyncFileSystem quiet(px::defaultFileSystem());
            auto table = px::Table::open(path, px::Access::Write, quiet);
            for (const auto& r : records)
                table->insert(r);
        }
        // The built table reaches the disk now, not inside the first measured save.
        ::sync();

        THauptformular window;
        vellumo::RecordStore& store = window.Datentabelle;
        store.BindTable(QString::fromStdString(path));
        store.OpenTable();
        window.EnableTableControls();
        window.show();
        QApplication::setActiveWindow(&window);
        QApplication::processEvents();
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
    std::filesystem::remove_all(dir);
    return status;
}
