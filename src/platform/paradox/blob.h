// The blob file (.mb) of a table: memo, binary and graphic contents that do
// not fit their record's leader.
#pragma once

#include "platform/paradox/io.h"

#include <cstdint>
#include <memory>
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
    // Stores data (longer than the leader) and returns the descriptor's
    // pointer and modification number. Never touches other blobs.
    std::pair<std::uint32_t, std::uint16_t> write(const std::string& data);
    // Gives the space of a blob back. Unknown pointers are left alone.
    void release(std::uint32_t pointer);
    // Writes what is kept back until the end of a change (the modification count).
    void flush();
    // Forgets what was read, after a change was rolled back.
    void forget();

private:
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
