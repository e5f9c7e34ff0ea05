// libFuzzer target for the vCard and CSV readers.
//
// The input is read both as vCards and as CSV. The readers must never crash,
// hang or allocate far beyond the input: every byte sequence gives some
// addresses (or none), each either usable or refused with its problem. Each
// address is written back as a vCard and a CSV row, which must read again.
#include "exchange/exchange.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace ex = vellumo::exchange;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const ex::Address& card : ex::readVCards(bytes))
        if (card.problem.isEmpty() && ex::readVCards(ex::toVCard(card)).size() != 1)
            std::abort(); // our own card must read back as one card
    QStringList columns;
    for (const ex::Address& row : ex::readCsv(bytes, &columns))
        if (row.problem.isEmpty())
            ex::readCsv(ex::csvHeader() + ex::toCsvRow(row));
    return 0;
}
