// Sync figures against a real Radicale on the loopback, with the requests
// each needs: the first sync of a table of N addresses into an empty book
// (every card written, one request each: Radicale's own time per card rules
// it), the first sync of an empty table from a book of N cards, and syncs
// after 10 changes on each side of such a book.
//
//   bench_sync [N [W]]      N defaults to 10,000; W addresses written (default 1,000)
//
// The book of N cards is filled by one upload of the whole collection, as
// Radicale allows, so that the figures for reading and for small changes do
// not wait for N single uploads.
//
// Beside each figure, where vdirsyncer is installed, the same done by
// vdirsyncer (a phone's view: a folder of .vcf files) against the same
// Radicale in the same run, and the ratio Vellumo / vdirsyncer. vdirsyncer's
// requests are counted in Radicale's log, which names every request it takes.
#include "benchutil.h"
#include "radicale.h"

#include "exchange/vcardcodec.h"
#include "platform/carddav/carddav.h"
#include "sync/cardfields.h"
#include "sync/link.h"
#include "sync/tablesync.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUuid>

#include <cstdio>

namespace {

using vellumo::sync::SyncReport;

SyncReport timed(const char* what, const QString& table, double& ms) {
    const auto start = bench::Clock::now();
    vellumo::sync::SyncOptions options;
    options.timeoutMs = 600000; // Radicale builds its cache of a large book on the first listing
    SyncReport report = vellumo::sync::synchronise(table, options);
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

// A book holding count cards, made by one PUT of the whole collection.
QUrl filledBook(const QUrl& server, int count) {
    QByteArray all;
    bench::AddressGenerator gen;
    for (const px::Record& r : gen.sortedRecords(static_cast<std::size_t>(count))) {
        vellumo::vcard::Fields f;
        const auto fields = bench::addressFields();
        for (std::size_t i = 0; i < fields.size(); ++i)
            if (const auto* text = std::get_if<std::string>(&r[i]); text && !text->empty())
                f.insert(QString::fromStdString(fields[i].name), QString::fromStdString(*text));
        all += vellumo::vcard::writeCard(
            {f, QUuid::createUuid().toString(QUuid::WithoutBraces), {}, "PNG", {}});
    }
    const QUrl book = server.resolved(QStringLiteral("/anna/gross/"));
    QNetworkAccessManager network;
    QNetworkRequest request(book);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("text/vcard"));
    request.setRawHeader("Authorization", "Basic " + QByteArrayLiteral("anna:").toBase64());
    QNetworkReply* reply = network.put(request, all);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    reply->deleteLater();
    if (status != 201 && status != 200 && status != 204) {
        std::fprintf(stderr, "the book of %d cards could not be made (%d)\n", count, status);
        std::exit(1);
    }
    return book;
}

// vdirsyncer syncing book with a folder of cards: the folder and its config.
struct Phone {
    QString folder, config;
};

Phone phoneFor(const QString& dir, const QUrl& book) {
    Phone phone{dir + QStringLiteral("/karten"), dir + QStringLiteral("/config")};
    QDir().mkpath(phone.folder);
    QFile file(phone.config);
    if (file.open(QIODevice::WriteOnly))
        file.write(QStringLiteral("[general]\nstatus_path = \"%1/status/\"\n"
                                  "[pair telefon]\na = \"karten\"\nb = \"server\"\n"
                                  "collections = null\n[storage karten]\ntype = \"filesystem\"\n"
                                  "path = \"%2/\"\nfileext = \".vcf\"\n[storage server]\n"
                                  "type = \"carddav\"\nurl = \"%3\"\nusername = \"anna\"\n"
                                  "password = \"\"\n")
                       .arg(dir, phone.folder, book.toString())
                       .toUtf8());
    return phone;
}

QString serverLog;

// The requests Radicale has taken so far.
int serverRequests() {
    QFile log(serverLog);
    if (!log.open(QIODevice::ReadOnly))
        return 0;
    int n = 0;
    while (!log.atEnd())
        n += log.readLine().contains(" request for ") ? 1 : 0;
    return n;
}

int vdirsyncerRequests = 0; // of its last command

// The wall time of one vdirsyncer command, or a negative one when it failed.
double vdirsyncer(const Phone& phone, const char* command) {
    const int before = serverRequests();
    const auto start = bench::Clock::now();
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("vdirsyncer"),
            {QStringLiteral("-c"), phone.config, QString::fromLatin1(command)});
    p.write("y\ny\n");
    p.closeWriteChannel();
    p.waitForFinished(-1);
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "vdirsyncer %s failed: %s\n", command, p.readAll().constData());
        return -1;
    }
    const double ms = bench::msSince(start);
    vdirsyncerRequests = serverRequests() - before;
    return ms;
}

void beside(const char* what, double vellumoMs, double vdirsyncerMs) {
    if (vdirsyncerMs > 0)
        std::printf("  vdirsyncer, %-32s %9.0f ms  %6d requests  ratio Vellumo/vdirsyncer %.2f\n",
                    what, vdirsyncerMs, vdirsyncerRequests, vellumoMs / vdirsyncerMs);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int written = argc > 2 ? std::atoi(argv[2]) : 1000;
    QTemporaryDir logs;
    serverLog = logs.filePath(QStringLiteral("radicale.log"));
    vellumo::test::Radicale server({QStringLiteral("--logging-level"), QStringLiteral("info")},
                                   serverLog);
    if (!server.problem().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(server.problem()));
        return 1;
    }
    QTemporaryDir dir;
    auto table = [&](const char* name, int records) {
        QDir().mkpath(dir.filePath(QString::fromLatin1(name)));
        const QString path =
            dir.filePath(QString::fromLatin1(name) + QStringLiteral("/ADRESSEN.DB"));
        bench::buildAddressTable(path.toStdString(), static_cast<std::size_t>(records));
        return path;
    };
    auto link = [](const QString& path, QUrl book) {
        book.setUserName(QStringLiteral("anna"));
        vellumo::sync::linkTable(path, book, QDateTime::currentDateTime());
    };
    double ms = 0;
    const bool phones = !QStandardPaths::findExecutable(QStringLiteral("vdirsyncer")).isEmpty();
    if (!phones)
        std::printf("vdirsyncer is not installed: no figures beside Vellumo's\n");

    std::printf("bench_sync: Radicale on 127.0.0.1\n");
    if (written > 0) {
        const QString w = table("w", written);
        // Radicale lists a large book slowly after many single uploads: the
        // bench's own reading of it waits as long as its syncs do.
        vellumo::carddav::CardDavClient client({server.url(), QStringLiteral("anna"), {}}, 600000);
        link(w, client.createAddressBook(QStringLiteral("Leer")));
        const SyncReport first = timed("first sync, every card written", w, ms);
        std::printf("  %d cards: %.1f ms per card, %.2f requests per card\n", written, ms / written,
                    double(first.requests) / written);
        if (phones) {
            // The same cards as a phone's files, written into an empty book.
            const Phone phone = phoneFor(dir.filePath(QStringLiteral("telefon-w")),
                                         client.createAddressBook(QStringLiteral("Telefon")));
            QStringList hrefs;
            const QUrl leer = vellumo::sync::linkedBook(w).adjusted(QUrl::RemoveUserInfo);
            for (const vellumo::carddav::CardRef& ref : client.listAll(leer))
                hrefs << ref.href;
            int n = 0;
            for (const vellumo::carddav::Card& card : client.fetch(leer, hrefs)) {
                QFile out(phone.folder + QStringLiteral("/%1.vcf").arg(++n));
                if (out.open(QIODevice::WriteOnly))
                    out.write(card.vcard);
            }
            if (vdirsyncer(phone, "discover") >= 0)
                beside("first sync, every card written", ms, vdirsyncer(phone, "sync"));
        }
    }

    const auto start = bench::Clock::now();
    const QUrl book = filledBook(server.url(), count);
    std::printf("book of %d cards made in one upload       %9.0f ms\n", count,
                bench::msSince(start));
    const QString a = table("a", 0);
    const QString b = table("b", 0);
    link(a, book);
    link(b, book);
    timed("first sync of an empty table, every card read", a, ms);
    Phone phone;
    if (phones) {
        phone = phoneFor(dir.filePath(QStringLiteral("telefon")), book);
        beside("every card read", ms,
               vdirsyncer(phone, "discover") >= 0 ? vdirsyncer(phone, "sync") : -1);
    }
    timed("the same for a second table", b, ms);
    changeTen(a, count, 6, "0221 "); // Telefon1
    changeTen(b, count, 9, "neu@");  // Email
    timed("10 changes here, sent", a, ms);
    if (phones) {
        // Ten of the phone's cards changed, as the table's ten were.
        const QStringList files =
            QDir(phone.folder).entryList({QStringLiteral("*.vcf")}, QDir::Files);
        for (int i = 0; i < 10 && i < files.size(); ++i) {
            QFile f(phone.folder + u'/' + files[i * (files.size() / 10)]);
            if (!f.open(QIODevice::ReadWrite))
                continue;
            QByteArray card = f.readAll();
            card.replace("END:VCARD", "NOTE:geändert\r\nEND:VCARD");
            f.seek(0);
            f.write(card);
        }
        beside("10 changes sent", ms, vdirsyncer(phone, "sync"));
    }
    // b takes the 10 of the first table and, where vdirsyncer ran, the 10 of
    // the phone: 20 changed here.
    timed("10+10 changes there taken, 10 of ours sent", b, ms);
    timed("the first table takes the others", a, ms);
    timed("nothing changed", a, ms);
    return 0;
}
