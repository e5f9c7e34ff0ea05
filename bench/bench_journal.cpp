// bench_journal: what durability costs. Saves, inserts and deletes on a
// 100,000-record address table, once with every sync the journal makes and
// once through a file system that skips them (same journal, same writes).
//
//   bench_journal [records] [--keep]
//
// Also: what the locks add to a save, and how long a reader waits for a
// commit in flight while another thread saves.
//
// The table lives in a fresh directory under $TMPDIR (or /tmp): point TMPDIR
// at the disk you care about, a tmpfs makes syncs free.
#include "addressdata.h"
#include "benchutil.h"
#include "testutil_passthrough.h"

#include "platform/paradox/journal.h"
#include "platform/paradox/table.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Counts syncs and bytes written; with syncs off it skips the syncs.
class SyncCountingFileSystem final : public testutil::PassThroughFileSystem {
public:
    SyncCountingFileSystem(px::FileSystem& inner, bool syncs)
        : PassThroughFileSystem(inner), syncs_(syncs) {}
    std::uint64_t fileSyncs = 0, directorySyncs = 0, bytesWritten = 0, journalBytes = 0;
    std::uint64_t locks = 0;

    std::unique_ptr<px::File> open(const std::string& path, px::OpenMode mode) override {
        return std::make_unique<CountingFile>(inner_.open(path, mode), *this,
                                              path.ends_with("-journal"));
    }
    void syncDirectory(const std::string& directory) override {
        ++directorySyncs;
        if (syncs_)
            inner_.syncDirectory(directory);
    }
    std::unique_ptr<px::Lock> tryLock(const std::string& path, px::LockRange range,
                                      px::LockKind kind) override {
        ++locks;
        return inner_.tryLock(path, range, kind);
    }

private:
    class CountingFile final : public testutil::PassThroughFile {
    public:
        CountingFile(std::unique_ptr<px::File> inner, SyncCountingFileSystem& fs, bool journal)
            : PassThroughFile(std::move(inner)), fs_(fs), journal_(journal) {}
        void write(std::uint64_t offset, const void* data, std::size_t n) override {
            (journal_ ? fs_.journalBytes : fs_.bytesWritten) += n;
            file_->write(offset, data, n);
        }
        void sync() override {
            ++fs_.fileSyncs;
            if (fs_.syncs_)
                file_->sync();
        }

    private:
        SyncCountingFileSystem& fs_;
        bool journal_;
    };

    bool syncs_;
};

struct Figures {
    double medianMs = 0, meanMs = 0, maxMs = 0;
    double fileSyncs = 0, directorySyncs = 0, bytes = 0, journalBytes = 0, locks = 0;
};

Figures measure(SyncCountingFileSystem& fs, int runs, const std::function<bool()>& step) {
    std::vector<double> times;
    Figures f;
    for (int i = 0; i < runs; ++i) {
        fs.fileSyncs = fs.directorySyncs = fs.bytesWritten = fs.journalBytes = fs.locks = 0;
        const auto t0 = Clock::now();
        if (!step())
            continue;
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        f.fileSyncs += static_cast<double>(fs.fileSyncs);
        f.directorySyncs += static_cast<double>(fs.directorySyncs);
        f.bytes += static_cast<double>(fs.bytesWritten);
        f.journalBytes += static_cast<double>(fs.journalBytes);
        f.locks += static_cast<double>(fs.locks);
    }
    if (times.empty())
        return f;
    std::sort(times.begin(), times.end());
    const double n = static_cast<double>(times.size());
    f.medianMs = times[times.size() / 2];
    for (double t : times)
        f.meanMs += t / n;
    f.maxMs = times.back();
    f.fileSyncs /= n;
    f.directorySyncs /= n;
    f.bytes /= n;
    f.journalBytes /= n;
    f.locks /= n;
    return f;
}

void report(const char* what, const Figures& with, const Figures& without) {
    std::printf("  %-22s %9.3f %9.3f %9.3f   %9.3f %9.3f   %4.1f + %3.1f   %8.0f %8.0f\n", what,
                with.medianMs, with.meanMs, with.maxMs, without.medianMs, without.meanMs,
                with.fileSyncs, with.directorySyncs, with.bytes, with.journalBytes);
}

} // namespace

int main(int argc, char** argv) {
    const bench::EngineRun run = bench::engineRun(argc, argv, "bench_journal");
    if (run.dir.empty())
        return 2;
    const std::size_t count = run.count;
    const bool keep = run.keep;
    const std::string& dir = run.dir;
    const std::string path = dir + "/Adressen.db";
    auto& real = px::defaultFileSystem();
    try {
        std::printf("bench_journal: %zu address records in %s\n", count, dir.c_str());
        bench::AddressGenerator gen;
        const std::vector<px::Record> records = gen.sortedRecords(count);
        SyncCountingFileSystem quiet(real, false);
        SyncCountingFileSystem durable(real, true);
        px::Table::create(path, bench::addressFields(), bench::kAddressKeyFields, quiet);
        {
            auto table = px::Table::open(path, px::Access::Write, quiet);
            for (const auto& r : records)
                table->insert(r);
        }
        real.syncDirectory(dir);

        struct Run {
            Figures update, insert, remove;
        };
        auto runAll = [&](SyncCountingFileSystem& fs, int runs, std::uint64_t seed) {
            auto table = px::Table::open(path, px::Access::Write, fs);
            bench::AddressGenerator changes(seed);
            Run r;
            r.update = measure(fs, runs, [&] {
                const std::uint32_t pos = changes.next() % table->recordCount();
                px::Record rec = table->read(pos);
                rec[6] = std::string("0221 ") + std::to_string(1000000 + changes.next() % 8999999);
                table->update(pos, rec);
                return true;
            });
            r.insert = measure(fs, runs, [&] {
                try {
                    table->insert(changes.record());
                    return true;
                } catch (const px::KeyViolation&) {
                    return false;
                }
            });
            r.remove = measure(fs, runs, [&] {
                table->remove(changes.next() % table->recordCount());
                return true;
            });
            const auto check = table->check();
            if (!check.problems.empty())
                throw px::Error("check: " + check.problems.front());
            return r;
        };
        const Run with = runAll(durable, 100, 11);
        const Run without = runAll(quiet, 300, 12);

        std::printf("\n  %-22s %29s   %19s   %9s   %17s\n", "", "with syncs (ms)",
                    "without syncs (ms)", "syncs", "bytes written");
        std::printf("  %-22s %9s %9s %9s   %9s %9s   %9s   %8s %8s\n", "change", "median", "mean",
                    "max", "median", "mean", "file+dir", "table", "journal");
        report("save a changed record", with.update, without.update);
        report("insert", with.insert, without.insert);
        report("delete", with.remove, without.remove);
        // The disk's own price of one sync, for comparison.
        const Figures oneSync = measure(durable, 50, [&] {
            auto probe = durable.open(dir + "/probe", px::OpenMode::Create);
            const std::vector<char> page(4096, 'x');
            probe->write(0, page.data(), page.size());
            probe->sync();
            return true;
        });
        std::printf("\n  one 4 KiB write + fsync on this disk: median %.3f ms\n", oneSync.medianMs);
        std::printf("  syncs and bytes are per change.\n");

        // The locks a save takes beyond the journal's syncs (no sync of their own).
        std::printf("\n  locks taken per save: %.1f\n", with.update.locks);
        std::vector<double> lockTimes;
        for (int i = 0; i < 2000; ++i) {
            const auto t0 = Clock::now();
            {
                auto pending = real.tryLock(path, px::LockRange::Pending, px::LockKind::Exclusive);
                auto readers = real.tryLock(path, px::LockRange::Readers, px::LockKind::Exclusive);
            }
            lockTimes.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        }
        std::sort(lockTimes.begin(), lockTimes.end());
        std::printf("  a commit's two locks, taken and let go: median %.1f us, max %.1f us\n",
                    lockTimes[lockTimes.size() / 2], lockTimes.back());

        // A reader beside a writer: how long it waits for the readers' lock.
        std::vector<double> waits;
        bool stop = false;
        std::thread reader([&] {
            while (!__atomic_load_n(&stop, __ATOMIC_ACQUIRE)) {
                const auto t0 = Clock::now();
                auto lock = px::Journal::lockForReading(real, path);
                waits.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
        const Run beside = runAll(durable, 100, 13);
        __atomic_store_n(&stop, true, __ATOMIC_RELEASE);
        reader.join();
        std::sort(waits.begin(), waits.end());
        std::printf("  with a reader looping beside it: save median %.3f ms, max %.3f ms\n",
                    beside.update.medianMs, beside.update.maxMs);
        std::printf("  the reader's wait for its lock (%zu waits): median %.3f ms, 99%% %.3f ms, "
                    "max %.3f ms\n",
                    waits.size(), waits[waits.size() / 2], waits[waits.size() * 99 / 100],
                    waits.back());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_journal: %s\n", e.what());
        if (!keep)
            std::filesystem::remove_all(dir);
        return 1;
    }
    if (!keep)
        std::filesystem::remove_all(dir);
    else
        std::printf("\ntable kept in %s\n", dir.c_str());
    return 0;
}
