// bench_oldfiles: an old dBase III address file imported.
//
//   bench_oldfiles [records] [directory]
//
// Writes a dBase III table of records rows (default 100,000) in code page
// 850 with a memo in its .dbt for every row and one row in fifty marked
// deleted (not measured), in directory (default /var/tmp: on disk, the syncs
// are part of what is measured). Measured: its import into an empty address
// table through the record store, as "&Importieren …" does it (time, the
// syncs per 1,000 records, the process's peak memory), and python3-dbfread
// reading the same file in the same run, as an independent reader's figure
// beside ours. Wall-clock times on this machine.
#include "benchutil.h"
#include "testutil_counting.h"

#include "exchange/exchange.h"
#include "platform/database/recordstore.h"
#include "platform/paradox/codec.h"
#include "platform/system/system.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <cstdio>
#include <cstring>

namespace {

using bench::statusKb;

namespace ex = vellumo::exchange;

void put16(QByteArray& b, qsizetype at, unsigned v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>(v >> 8);
}

void put32(QByteArray& b, qsizetype at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A dBase III table with a .dbt; returns the number of rows not deleted.
std::size_t writeDbase(const QString& base, std::size_t rows) {
    struct Field {
        const char* name;
        char type;
        int length;
    };
    const Field fields[] = {{"NACHNAME", 'C', 30}, {"VORNAME", 'C', 20},  {"STRASSE", 'C', 30},
                            {"PLZ", 'C', 5},       {"ORT", 'C', 25},      {"TEL_PRIVAT", 'C', 20},
                            {"GEBDAT", 'D', 8},    {"BEMERKUNG", 'M', 10}};
    const int count = static_cast<int>(std::size(fields));
    int rowLength = 1;
    for (const Field& f : fields)
        rowLength += f.length;
    const int headerLength = 32 + 32 * count + 1;
    QByteArray header(headerLength, '\0');
    header[0] = '\x83';
    header[1] = 99;
    header[2] = 12;
    header[3] = 31;
    put32(header, 4, static_cast<std::uint32_t>(rows));
    put16(header, 8, static_cast<unsigned>(headerLength));
    put16(header, 10, static_cast<unsigned>(rowLength));
    header[29] = 0x02; // code page 850
    for (int i = 0; i < count; ++i) {
        const qsizetype at = 32 + 32 * i;
        std::memcpy(header.data() + at, fields[i].name, std::strlen(fields[i].name));
        header[at + 11] = fields[i].type;
        header[at + 16] = static_cast<char>(fields[i].length);
    }
    header[headerLength - 1] = '\x0D';

    QFile dbf(base + ".dbf"), dbt(base + ".dbt");
    if (!dbf.open(QIODevice::WriteOnly) || !dbt.open(QIODevice::WriteOnly))
        return 0;
    dbf.write(header);
    QByteArray memoHeader(512, '\0');
    memoHeader[16] = 0x03;
    dbt.write(memoHeader);
    std::uint32_t block = 1;
    px::Codec cp850(850);
    auto encoded = [&cp850](const std::string& utf8, int length) {
        std::string out, bad;
        cp850.encode(utf8, out, bad);
        QByteArray b = QByteArray::fromStdString(out).left(length);
        return b + QByteArray(length - b.size(), ' ');
    };
    std::size_t kept = 0;
    QByteArray row;
    for (std::size_t n = 0; n < rows; ++n) {
        const bool deleted = n % 50 == 49;
        kept += !deleted;
        char number[24];
        std::snprintf(number, sizeof number, "%06zu", n);
        row = deleted ? "*" : " ";
        row += encoded(std::string("Müller") + number, 30);
        row += encoded("Jürgen", 20);
        row += encoded("Hauptstraße " + std::to_string(n % 200 + 1), 30);
        row += encoded(std::to_string(10000 + n % 89999), 5);
        row += encoded("Köln", 25);
        row += encoded("0221 " + std::to_string(100000 + n), 20);
        row += "19610228";
        QByteArray pointer = QByteArray::number(block).rightJustified(10, ' ');
        row += pointer;
        dbf.write(row);
        QByteArray memo = encoded("Notiz zu Satz " + std::to_string(n) +
                                      ": kennt Öl, Übermut und Spaß. Zweite Zeile folgt.",
                                  90);
        memo = memo.trimmed() + "\r\nZweite Zeile\x1A\x1A";
        memo += QByteArray(512 - memo.size() % 512, '\0');
        block += static_cast<std::uint32_t>(memo.size() / 512);
        dbt.write(memo);
    }
    dbf.write("\x1A");
    put32(memoHeader, 0, block);
    dbt.seek(0);
    dbt.write(memoHeader.left(4));
    return kept;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::size_t rows = bench::countArgument(argc, argv);
    const std::string parent = argc > 2 ? argv[2] : "/var/tmp";
    bench::RunDirectory dir(parent);
    const QString base = QString::fromStdString(dir.path()) + "/ADRESSEN";
    const std::size_t kept = writeDbase(base, rows);
    std::printf("bench_oldfiles: %zu dBase III rows (%zu kept, %zu deleted), a memo each, "
                "%lld + %lld bytes\n",
                rows, kept, rows - kept, static_cast<long long>(QFile(base + ".dbf").size()),
                static_cast<long long>(QFile(base + ".dbt").size()));

    const std::string target = dir.path() + "/Neu.db";
    px::Table::create(target, bench::addressFields(), bench::kAddressKeyFields);
    int status = 0;
    {
        testutil::TrafficFileSystem counted(px::defaultFileSystem());
        vellumo::RecordStore into(counted);
        into.BindTable(QString::fromStdString(target));
        into.BeforePost = [&into] {
            into.SetFieldDate(QStringLiteral("Aenderung"), vellumo::now());
        };
        into.OpenTable();
        const long before = statusKb("VmRSS");
        const auto start = bench::Clock::now();
        const ex::ImportResult result = ex::importFile(into, base + ".dbf");
        const double ms = bench::msSince(start);
        std::printf("  %-52s %10.1f ms\n", "import through the record store, with syncs", ms);
        std::printf("  %-52s %10d / %d\n", "  added / deleted rows passed over", result.added,
                    result.deleted);
        std::printf("  %-52s %10.1f\n", "  syncs per 1,000 records",
                    1000.0 * double(counted.of("").syncs + counted.directorySyncs) /
                        std::max<double>(1, double(result.added)));
        std::printf("  %-52s %10ld kB (%ld kB before)\n", "  peak resident memory of the process",
                    statusKb("VmHWM"), before);
        if (static_cast<std::size_t>(result.added) != kept)
            status = 1;
        into.CloseTableAtShutdown();
    }

    QProcess dbfread;
    dbfread.start(QStringLiteral("/usr/bin/python3"),
                  {QStringLiteral("-c"),
                   // VmHWM, not ru_maxrss: after fork and exec the latter still
                   // counts the parent's pages.
                   QStringLiteral("import sys, time, dbfread\n"
                                  "t = time.monotonic()\n"
                                  "n = sum(1 for r in dbfread.DBF(sys.argv[1]))\n"
                                  "ms = (time.monotonic() - t) * 1000\n"
                                  "hwm = [l.split()[1] for l in open('/proc/self/status') "
                                  "if l.startswith('VmHWM:')][0]\n"
                                  "print(n, ms, hwm)\n"),
                   base + ".dbf"});
    if (dbfread.waitForFinished(600000) && dbfread.exitCode() == 0) {
        const QList<QByteArray> parts = dbfread.readAllStandardOutput().trimmed().split(' ');
        if (parts.size() == 3)
            std::printf("  %-52s %10.1f ms  (%s rows, peak %s kB)\n",
                        "python3-dbfread reading the same file", parts[1].toDouble(),
                        parts[0].constData(), parts[2].constData());
    } else {
        std::printf("  python3-dbfread is not installed (scripts/install-deps.sh installs it)\n");
    }
    return status;
}
