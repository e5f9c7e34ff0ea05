// libFuzzer target for the Mork reader (what it must hold: readaddresses.h).
#include "readaddresses.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::readAddresses(data, size, vellumo::exchange::Format::Mork);
    return 0;
}
