// libFuzzer target for the dBase reader, memo file included.
//
// What the reader must hold: readaddresses.h. The input's first two bytes say how
// many of its last bytes are the memo file beside the table (F.DBT); the rest
// is the table (F.DBF). Both are written to a directory of this process,
// since the reader finds the memo file by the table's name.
#include "readaddresses.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void put(const QString& path, const char* data, qsizetype size) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data, size) != size)
        std::abort(); // the fuzzer's own directory must be writable
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace ex = vellumo::exchange;
    static const QString dir = [] {
        const QString d = QDir::tempPath() + QStringLiteral("/fuzz_dbase-%1").arg(getpid());
        QDir().mkpath(d);
        return d;
    }();
    if (size < 2)
        return 0;
    const auto all = static_cast<qsizetype>(size) - 2;
    const qsizetype memo = std::min<qsizetype>(data[0] | data[1] << 8, all);
    const char* bytes = reinterpret_cast<const char*>(data) + 2;
    put(dir + QStringLiteral("/F.DBF"), bytes, all - memo);
    put(dir + QStringLiteral("/F.DBT"), bytes + (all - memo), memo);
    QFile table(dir + QStringLiteral("/F.DBF"));
    if (!table.open(QIODevice::ReadOnly))
        std::abort();
    fuzz::readAddresses(table, ex::Format::Dbase);
    return 0;
}
