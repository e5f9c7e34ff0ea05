// bench_find: speed of the search, the person selection list and the table
// view on a 100,000-record address table.
//
//   QT_QPA_PLATFORM=offscreen bench_find [records]
//
// The table is built with the engine in a fresh temporary directory (not
// measured). Each figure runs from the user's action to the window painted
// with its rows; medians of wall-clock times on this machine.
#include "addressdata.h"

#include "database/datasource.h"
#include "database/dbgrid.h"
#include "database/recordstore.h"
#include "find/formpersonauswahl.h"
#include "find/formsuchen.h"
#include "find/formtabelle.h"
#include "paradox/table.h"

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

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void line(const char* what, double ms, const char* target) {
    std::printf("  %-56s %9.3f ms  %s\n", what, ms, target);
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
    const std::size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    std::string dirTemplate = (std::filesystem::temp_directory_path() / "bench_find.XXXXXX");
    if (!::mkdtemp(dirTemplate.data())) {
        std::perror("bench_find: mkdtemp");
        return 2;
    }
    const std::string dir = dirTemplate;
    const std::string path = dir + "/Adressen.db";

    int status = 0;
    try {
        std::printf("bench_find: %zu address records in %s\n", count, dir.c_str());
        {
            bench::AddressGenerator gen;
            const std::vector<px::Record> records = gen.sortedRecords(count);
            px::Table::create(path, bench::addressFields(), bench::kAddressKeyFields);
            NoSyncFileSystem quiet(px::defaultFileSystem());
            auto table = px::Table::open(path, px::Access::Write, quiet);
            for (const auto& r : records)
                table->insert(r);
        }

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
    std::filesystem::remove_all(dir);
    return status;
}
