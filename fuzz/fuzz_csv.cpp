// libFuzzer target for the CSV reader.
//
// The reader must never crash, hang or allocate far beyond the input: every
// byte sequence gives some rows (or none), each either usable or refused with
// its problem. A usable row is written back as CSV, which must read again as
// exactly one row.
#include "exchange/exchange.h"

#include <QByteArray>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace ex = vellumo::exchange;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QStringList columns;
    for (const ex::Address& row : ex::readCsv(bytes, &columns))
        if (row.problem.isEmpty() && ex::readCsv(ex::csvHeader() + ex::toCsvRow(row)).size() > 1)
            std::abort(); // our own row must not read back as several
    return 0;
}
