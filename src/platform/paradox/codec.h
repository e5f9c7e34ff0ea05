// Text of a table's code page <-> UTF-8, through glibc's iconv.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace px {

class Codec {
public:
    // Throws px::Error when iconv does not know the code page.
    explicit Codec(int codePage);
    ~Codec();
    Codec(const Codec&) = delete;
    Codec& operator=(const Codec&) = delete;

    int codePage() const { return codePage_; }
    bool singleByte() const { return singleByte_; }

    // Bytes that cannot be decoded become U+FFFD; never throws.
    std::string decode(std::string_view bytes) const;
    // Unicode code points of the bytes (same rules as decode).
    std::u32string decode32(std::string_view bytes) const;
    // Returns false (and the first offending character in bad) when the text
    // holds a character the code page lacks or is not valid UTF-8.
    bool encode(std::string_view utf8, std::string& out, std::string& bad) const;

private:
    int codePage_;
    bool singleByte_ = false;
    void* toUtf8_ = nullptr;   // iconv_t
    void* fromUtf8_ = nullptr; // iconv_t
    std::array<std::string, 256> decodeTable_;
    std::array<std::array<char, 4>, 256> fastUtf8_{}; // UTF-8 of each byte, [3] = length
    std::array<char32_t, 256> decodeTable32_{};
    std::unordered_map<char32_t, unsigned char> encodeTable_;
};

// Appends the UTF-8 form of a code point.
void appendUtf8(std::string& out, char32_t c);
// Decodes UTF-8; invalid sequences become U+FFFD.
std::u32string utf8To32(std::string_view s);

} // namespace px
