// The blob file (.mb) of a table: memo, binary and graphic contents that do
// not fit their record's leader.
#pragma once

#include "platform/paradox/io.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace px::detail {

class BlobFile {
public:
    explicit BlobFile(std::unique_ptr<File> file);

    // Writes the header block of a new, empty blob file.
    static void initialise(File& file);

    // Reads the blob named by a record's descriptor (offset field and length).
    // Throws px::Error when the pointer leads nowhere sensible.
    std::string read(std::uint32_t pointer, std::uint32_t length);
    // The same blob without its first skip bytes (a picture's prefix), read
    // straight into memory the caller gives (room(n): n writable bytes): a
    // picture is megabytes.
    void readInto(std::uint32_t pointer, std::uint32_t length, std::uint32_t skip,
                  const std::function<std::uint8_t*(std::size_t)>& room);
    // Stores head and body, one after the other, as one blob (longer than the
    // leader) and returns the descriptor's pointer and modification number.
    // Never touches other blobs. The two pieces spare the caller a copy of a
    // picture only to put its prefix in front.
    std::pair<std::uint32_t, std::uint16_t> write(std::span<const std::uint8_t> head,
                                                  std::span<const std::uint8_t> body);
    std::pair<std::uint32_t, std::uint16_t> write(const std::string& data) {
        return write({reinterpret_cast<const std::uint8_t*>(data.data()), data.size()}, {});
    }
    // Gives the space of a blob back. Unknown pointers are left alone.
    void release(std::uint32_t pointer);
    // Writes what is kept back until the end of a change (the modification count).
    void flush();
    // Forgets what was read, after a change was rolled back.
    void forget();

private:
    // Where the blob's bytes lie: at a file offset (a block of its own) or
    // in unit_ (a slot of a sub-allocated block). Checks what read() checks.
    struct Place {
        std::uint64_t fileOffset = 0;
        const std::uint8_t* inUnit = nullptr;
    };
    Place locate(std::uint32_t pointer, std::uint32_t length);
    void copyOut(const Place& place, std::uint32_t from, std::uint32_t n, void* to);
    const std::vector<std::uint8_t>& readUnit(std::uint64_t offset);
    std::uint16_t nextModification();
    std::uint64_t allocate(std::uint32_t units);
    void scanFreeSpace();

    std::unique_ptr<File> file_;
    std::uint64_t size_ = 0;
    std::uint16_t modCount_ = 0;
    bool modDirty_ = false;
    std::uint64_t unitOffset_ = 0; // the unit in unit_, 0 for none
    std::vector<std::uint8_t> unit_;
    std::uint64_t subBlock_ = 0; // a type-3 block likely to have room
    std::vector<std::pair<std::uint64_t, std::uint32_t>> freeRuns_; // offset, units
    bool scanned_ = false;
};

} // namespace px::detail
