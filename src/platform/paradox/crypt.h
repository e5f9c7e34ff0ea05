// Tables protected by a password. Paradox scrambles every data block of a
// protected .db, and the whole of its .mb, 256 bytes at a time with a key the
// header holds in plain view (the checksum of the password), so reading such
// a table needs no password at all. The engine reads them through a File
// that unscrambles what it reads and refuses every write: it never changes a
// protected table.
#pragma once

#include "platform/paradox/io.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace px::detail {

// The key of a .db header (0 for a table without a password): the checksum
// sits at 0x25 in level 3 tables and at 0x5C from level 4 on.
std::uint32_t scrambleKey(const std::uint8_t* header, int fileVersion);

// Raises the German refusal to change a protected table.
[[noreturn]] void refuseWriting();

// Unscrambles one data block of a .db in place (size a multiple of 256);
// block is the block's number, 1 for the first after the header.
void unscrambleDbBlock(std::uint8_t* data, std::size_t size, std::uint32_t key, int block);
// Unscrambles 256-byte chunks of a .mb in place (size a multiple of 256).
void unscrambleMbChunks(std::uint8_t* data, std::size_t size, std::uint32_t key);

// The .db of a protected table as its plain bytes: the header as it is, each
// block after it unscrambled. A short last block reads as far as the file goes.
std::unique_ptr<File> unscrambledDb(std::unique_ptr<File> file, int headerSize, int blockSize,
                                    std::uint32_t key);
// The .mb of a protected table as its plain bytes.
std::unique_ptr<File> unscrambledMb(std::unique_ptr<File> file, std::uint32_t key);

} // namespace px::detail
