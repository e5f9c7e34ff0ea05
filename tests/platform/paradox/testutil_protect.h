// A table protected by a password as Paradox protects one, made with the
// scrambling of Debian's pxlib (tests only; pxlib must be linked).
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// pxlib's own scrambling, which its header does not declare.
extern "C" {
void px_encrypt_db_block(unsigned char* src, unsigned char* dest, unsigned long encryption,
                         unsigned long blocksize, unsigned long blockno);
void px_encrypt_mb_block(unsigned char* src, unsigned char* dest, unsigned long encryption,
                         unsigned long blocksize);
long px_passwd_checksum(const char* password);
}

namespace testutil {

// Protects a level 4+ table with a password as Paradox does: every block of
// the .db and the whole .mb (mb "" for none) scrambled with the password's
// checksum, which goes into the header.
inline void protectWithPassword(const std::string& db, const std::string& mb,
                                const char* password) {
    const auto key = static_cast<std::uint32_t>(px_passwd_checksum(password));
    auto scramble = [&](const std::string& path, bool blobs) {
        std::vector<unsigned char> bytes;
        {
            std::ifstream in(path, std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(in), {});
        }
        if (blobs) {
            px_encrypt_mb_block(bytes.data(), bytes.data(), key, bytes.size());
        } else {
            const std::size_t header = bytes[2] | bytes[3] << 8, block = bytes[5] * 1024u;
            for (std::size_t at = header, n = 1; at + block <= bytes.size(); at += block, ++n)
                px_encrypt_db_block(bytes.data() + at, bytes.data() + at, key, block, n);
            for (int i = 0; i < 4; ++i) {
                bytes[0x25 + i] = static_cast<unsigned char>(0xFF00FF00u >> (8 * i));
                bytes[0x5C + i] = static_cast<unsigned char>(key >> (8 * i));
            }
        }
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    };
    scramble(db, false);
    if (!mb.empty())
        scramble(mb, true);
}

} // namespace testutil
