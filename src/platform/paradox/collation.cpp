#include "platform/paradox/collation.h"

#include <algorithm>
#include <cctype>

namespace px {
namespace {

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Appends the letters a character is filed under: base letter, lower case.
void fold(char32_t c, std::u32string& out) {
    if (c >= 'A' && c <= 'Z') {
        out += c + 32;
        return;
    }
    if (c < 0xC0) {
        out += c;
        return;
    }
    switch (c) {
    case 0xDF: // ß
    case 0x1E9E:
        out += U"ss";
        return;
    case 0xC6:
    case 0xE6:
        out += U"ae";
        return;
    case 0x152:
    case 0x153:
        out += U"oe";
        return;
    case 0x160:
    case 0x161:
        out += U's';
        return;
    case 0x17D:
    case 0x17E:
        out += U'z';
        return;
    case 0x178:
        out += U'y';
        return;
    default:
        break;
    }
    if (c <= 0xFF) {
        static const char* const latin1 = // 0xC0..0xFF
            "aaaaaaaceeeeiiii"            // C0-CF
            "dnooooo\xD7ouuuuyts"         // D0-DF (D7 ×, DE þ -> t, DF handled)
            "aaaaaaaceeeeiiii"            // E0-EF
            "dnooooo\xF7ouuuuyty";        // F0-FF
        const auto m = static_cast<unsigned char>(latin1[c - 0xC0]);
        out += m;
        return;
    }
    if (c >= 0x100 && c <= 0x17F) {
        // Latin Extended-A: pairs of upper/lower case letters with marks.
        // Latin Extended-A, base letters ('?' where there is none).
        static const char extA[] =
            "aaaaaaccccccccdd??eeeeeeeeeegggggggghh??iiiiiiiii???jjkk?llllll"
            "????nnnnnn???oooooo??rrrrrrsssssssstttt??uuuuuuuuuuuuwwyyyzzzzzz?";
        const std::size_t i = c - 0x100;
        if (i < sizeof extA - 1 && extA[i] != '?') {
            out += static_cast<char32_t>(extA[i]);
            return;
        }
    }
    out += c;
}

std::u32string folded(const std::u32string& s) {
    std::u32string out;
    out.reserve(s.size() + 2);
    for (char32_t c : s)
        fold(c, out);
    return out;
}

} // namespace

int compareGerman(const std::u32string& a, const std::u32string& b) {
    const std::u32string fa = folded(a);
    const std::u32string fb = folded(b);
    if (fa != fb)
        return fa < fb ? -1 : 1;
    if (a == b)
        return 0;
    return a < b ? -1 : 1;
}

bool Collation::isDictionaryOrder(const std::string& sortOrderName, int sortOrderId) {
    const std::string n = lower(sortOrderName);
    if (!n.empty()) {
        static const char* const names[] = {"intl",     "intl850",  "ansiintl", "ansii850",
                                            "dbwinwe0", "bllt1de0", "db850de0", "db437de0",
                                            "dbwinde0", "nordan",   "swedfin"};
        for (const char* name : names)
            if (n == name)
                return true;
        return n.find("de0") != std::string::npos;
    }
    switch (sortOrderId) {
    case 0xB7:
    case 0x54:
    case 0x62:
    case 0x11:
    case 0x40:
    case 0x18:
    case 0xDC:
        return true;
    default:
        return false;
    }
}

Collation::Collation(const std::string& sortOrderName, int sortOrderId, const Codec& codec)
    : codec_(codec), dictionary_(isDictionaryOrder(sortOrderName, sortOrderId)) {}

int Collation::compare(std::string_view a, std::string_view b) const {
    if (!dictionary_) {
        const int c = a.compare(b);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    if (a == b)
        return 0;
    const int c = compareGerman(codec_.decode32(a), codec_.decode32(b));
    if (c != 0)
        return c;
    // Bytes the code page does not define decode alike: only equal bytes are equal.
    return a < b ? -1 : 1;
}

} // namespace px
