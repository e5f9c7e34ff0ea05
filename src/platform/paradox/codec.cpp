#include "platform/paradox/codec.h"

#include "platform/paradox/error.h"

#include <cerrno>
#include <iconv.h>

namespace px {

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::u32string utf8To32(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t len = 0;
        char32_t c = 0;
        if (b < 0x80) {
            out += b;
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            len = 2;
            c = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3;
            c = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4;
            c = b & 0x07;
        } else {
            out += U'\uFFFD';
            ++i;
            continue;
        }
        if (i + len > s.size()) {
            out += U'\uFFFD';
            break;
        }
        bool ok = true;
        for (std::size_t k = 1; k < len; ++k) {
            const auto cb = static_cast<unsigned char>(s[i + k]);
            if ((cb & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            c = (c << 6) | (cb & 0x3F);
        }
        if (!ok || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) || (len == 2 && c < 0x80) ||
            (len == 3 && c < 0x800) || (len == 4 && c < 0x10000)) {
            out += U'\uFFFD';
            ++i;
            continue;
        }
        out += c;
        i += len;
    }
    return out;
}

namespace {

// Converts with iconv; returns false on any conversion failure.
bool convert(void* cd, std::string_view in, std::string& out) {
    auto* conv = static_cast<iconv_t>(cd);
    iconv(conv, nullptr, nullptr, nullptr, nullptr);
    out.clear();
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char buffer[1024];
    while (srcLeft > 0) {
        char* dst = buffer;
        std::size_t dstLeft = sizeof buffer;
        const std::size_t rc = iconv(conv, &src, &srcLeft, &dst, &dstLeft);
        out.append(buffer, sizeof buffer - dstLeft);
        if (rc == static_cast<std::size_t>(-1) && errno != E2BIG)
            return false;
    }
    char* dst = buffer;
    std::size_t dstLeft = sizeof buffer;
    if (iconv(conv, nullptr, nullptr, &dst, &dstLeft) == static_cast<std::size_t>(-1))
        return false;
    out.append(buffer, sizeof buffer - dstLeft);
    return true;
}

} // namespace

Codec::Codec(int codePage) : codePage_(codePage) {
    const std::string name = "CP" + std::to_string(codePage);
    iconv_t to = iconv_open("UTF-8", name.c_str());
    iconv_t from = iconv_open(name.c_str(), "UTF-8");
    if (to == reinterpret_cast<iconv_t>(-1) || from == reinterpret_cast<iconv_t>(-1)) {
        if (to != reinterpret_cast<iconv_t>(-1))
            iconv_close(to);
        if (from != reinterpret_cast<iconv_t>(-1))
            iconv_close(from);
        throw Error("Der Zeichensatz (Codepage " + std::to_string(codePage) +
                    ") der Tabelle wird nicht unterstützt.");
    }
    toUtf8_ = to;
    fromUtf8_ = from;

    // Most code pages map every byte to one character: then a table does the
    // work, which is many times faster than a call into iconv per field.
    singleByte_ = true;
    std::string out;
    for (std::size_t b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        if (convert(toUtf8_, std::string_view(&c, 1), out) && !out.empty()) {
            const std::u32string cp = utf8To32(out);
            decodeTable_[b] = out;
            decodeTable32_[b] = cp.empty() ? U'\uFFFD' : cp[0];
            if (out.size() <= 3) {
                std::copy(out.begin(), out.end(), fastUtf8_[b].begin());
                fastUtf8_[b][3] = static_cast<char>(out.size());
            }
            if (cp.size() == 1 && !encodeTable_.count(cp[0]))
                encodeTable_[cp[0]] = static_cast<unsigned char>(b);
        } else {
            if (b >= 0x80 && errno == EINVAL)
                singleByte_ = false; // a lead byte of a multi-byte code page
            decodeTable_[b] = "\xEF\xBF\xBD";
            decodeTable32_[b] = U'\uFFFD';
            fastUtf8_[b] = {'\xEF', '\xBF', '\xBD', 3};
        }
    }
}

Codec::~Codec() {
    iconv_close(static_cast<iconv_t>(toUtf8_));
    iconv_close(static_cast<iconv_t>(fromUtf8_));
}

std::string Codec::decode(std::string_view bytes) const {
    std::string out;
    bool ascii = true;
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii)
        return std::string(bytes);
    if (singleByte_) {
        out.resize(bytes.size() * 3);
        std::size_t n = 0;
        for (char c : bytes) {
            const auto& u = fastUtf8_[static_cast<unsigned char>(c)];
            const int len = u[3];
            out[n] = u[0];
            if (len > 1) {
                out[n + 1] = u[1];
                if (len > 2)
                    out[n + 2] = u[2];
            }
            n += static_cast<std::size_t>(len);
        }
        out.resize(n);
        return out;
    }
    if (convert(toUtf8_, bytes, out))
        return out;
    // Damaged multi-byte text: decode what can be decoded, piece by piece.
    out.clear();
    std::string part;
    std::size_t i = 0;
    while (i < bytes.size()) {
        bool done = false;
        for (std::size_t len = 1; len <= 4 && i + len <= bytes.size(); ++len) {
            if (convert(toUtf8_, bytes.substr(i, len), part)) {
                out += part;
                i += len;
                done = true;
                break;
            }
        }
        if (!done) {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

std::u32string Codec::decode32(std::string_view bytes) const {
    if (singleByte_) {
        std::u32string out;
        out.reserve(bytes.size());
        for (char c : bytes)
            out += decodeTable32_[static_cast<unsigned char>(c)];
        return out;
    }
    return utf8To32(decode(bytes));
}

bool Codec::encode(std::string_view utf8, std::string& out, std::string& bad) const {
    out.clear();
    const std::u32string text = utf8To32(utf8);
    if (singleByte_) {
        out.reserve(text.size());
        for (char32_t c : text) {
            const auto it = encodeTable_.find(c);
            if (c == U'\uFFFD' || it == encodeTable_.end() || (c == 0)) {
                bad.clear();
                appendUtf8(bad, c);
                return false;
            }
            out += static_cast<char>(it->second);
        }
        return true;
    }
    std::string piece, chunk;
    for (char32_t c : text) {
        piece.clear();
        appendUtf8(piece, c);
        if (c == 0 || c == U'\uFFFD' || !convert(fromUtf8_, piece, chunk)) {
            bad = piece;
            return false;
        }
        out += chunk;
    }
    return true;
}

} // namespace px
