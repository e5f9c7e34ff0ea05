// What the fuzz targets of the address readers hold every reader to: it never
// crashes, hangs or allocates far beyond the input; every byte sequence gives
// some addresses (or none), each naming where it came from, or one German
// StoreError that names what is wrong with the file.
#pragma once

#include "exchange/exchange.h"
#include "platform/database/recordstore.h"

#include <QBuffer>
#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace fuzz {

inline void readAddresses(QIODevice& in, vellumo::exchange::Format format) {
    namespace ex = vellumo::exchange;
    try {
        ex::AddressReader reader(in, format);
        while (const std::optional<ex::Address> address = reader.next())
            if (address->problem.isEmpty() && address->origin <= 0)
                std::abort(); // every address names where it came from
    } catch (const vellumo::StoreError& e) {
        if (e.text().isEmpty())
            std::abort();
    }
}

// The input as the whole file.
inline void readAddresses(const std::uint8_t* data, std::size_t size,
                          vellumo::exchange::Format format) {
    QBuffer buffer;
    buffer.setData(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    buffer.open(QIODevice::ReadOnly);
    readAddresses(buffer, format);
}

} // namespace fuzz
