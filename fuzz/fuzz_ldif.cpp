// libFuzzer target for the ldif reader.
//
// The reader must never crash, hang or allocate far beyond the input: every
// byte sequence gives some addresses (or none), or one German StoreError
// that names what is wrong with the file.
#include "exchange/exchange.h"
#include "platform/database/recordstore.h"

#include <QBuffer>
#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace ex = vellumo::exchange;
    QBuffer buffer;
    buffer.setData(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    buffer.open(QIODevice::ReadOnly);
    try {
        ex::AddressReader reader(buffer, ex::Format::Ldif);
        while (const std::optional<ex::Address> address = reader.next())
            if (address->problem.isEmpty() && address->origin <= 0)
                std::abort(); // every address names where it came from
    } catch (const vellumo::StoreError& e) {
        if (e.text().isEmpty())
            std::abort();
    }
    return 0;
}
