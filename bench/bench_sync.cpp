// Sync figures against a real Radicale on the loopback: the first sync of a
// table of N addresses (all of them written to the server), the first sync of
// an empty second table from that book (all of them read), and a sync after
// 10 changes on each side, with the requests each needs.
//
//   bench_sync [N]          N defaults to 10,000
#include "benchutil.h"
#include "radicale.h"

#include "platform/sync/carddav.h"
#include "sync/tablesync.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>

namespace {

using vellumo::cardsync::SyncReport;

SyncReport timed(const char* what, const QString& table, double& ms) {
    const auto start = bench::Clock::now();
    SyncReport report = vellumo::cardsync::synchronise(table, {});
    ms = bench::msSince(start);
    std::printf("%-44s %9.0f ms  %6d requests  (here +%d ~%d -%d, server +%d ~%d -%d)\n", what, ms,
                report.requests, report.addedHere, report.changedHere, report.deletedHere,
                report.addedThere, report.changedThere, report.deletedThere);
    std::fflush(stdout);
    return report;
}

void changeTen(const QString& path, int count, int field, const char* text) {
    auto table = px::Table::open(path.toStdString(), px::Access::Write);
    for (int i = 0; i < 10; ++i) {
        const auto position = static_cast<std::uint32_t>(i * (count / 10));
        px::Record r = table->read(position, px::Blobs::Refer);
        r[static_cast<std::size_t>(field)] = std::string(text) + std::to_string(i);
        table->update(position, r);
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    vellumo::test::Radicale server;
    if (!server.problem().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(server.problem()));
        return 1;
    }
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath(QStringLiteral("a")));
    QDir().mkpath(dir.filePath(QStringLiteral("b")));
    const QString a = dir.filePath(QStringLiteral("a/ADRESSEN.DB"));
    const QString b = dir.filePath(QStringLiteral("b/ADRESSEN.DB"));
    bench::buildAddressTable(a.toStdString(), static_cast<std::size_t>(count));
    bench::buildAddressTable(b.toStdString(), 0);
    vellumo::sync::CardDavClient client({server.url(), QStringLiteral("anna"), {}});
    QUrl book = client.createAddressBook(QStringLiteral("Benchmark"));
    book.setUserName(QStringLiteral("anna"));
    const QDateTime now = QDateTime::currentDateTime();
    vellumo::cardsync::linkTable(a, book, now);
    vellumo::cardsync::linkTable(b, book, now);

    std::printf("bench_sync: %d addresses, Radicale on 127.0.0.1\n", count);
    double ms = 0;
    timed("first sync, every card written", a, ms);
    timed("first sync of a second table, every card read", b, ms);
    changeTen(a, count, 6, "0221 "); // Telefon1
    changeTen(b, count, 9, "neu@");  // Email
    timed("10 changes here, sent", a, ms);
    timed("10 changes there, taken; 10 of ours sent", b, ms);
    timed("the first table takes the other 10", a, ms);
    timed("nothing changed", a, ms);
    return 0;
}
