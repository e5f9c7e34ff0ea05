// libFuzzer target for the vCard reader.
//
// The reader must never crash, hang or allocate far beyond the input: every
// byte sequence gives some cards (or none), each either usable or refused with
// its problem. A usable card is written back as a vCard, which must read again
// as exactly one card.
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
    return 0;
}
