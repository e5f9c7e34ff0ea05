#include "search/folding.h"

#include <unicode/translit.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>

#include <memory>
#include <string_view>
#include <unordered_map>

namespace search {

namespace {

constexpr char kSpace = ' ';

// What one ASCII character becomes: itself (lower case), nothing (an
// apostrophe, which only joins a word: "O'Neill"), or a space.
void appendAscii(char c, std::string& out) {
    if (c >= 'A' && c <= 'Z')
        out += static_cast<char>(c - 'A' + 'a');
    else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        out += c;
    else if (c != '\'')
        out += kSpace;
}

// Full case folding, then the accents stripped: ICU's rules, applied to one
// character at a time and kept, since the same few characters recur.
std::string foldOutsideAscii(char32_t c) {
    static thread_local std::unique_ptr<icu::Transliterator> strip = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Transliterator> t(icu::Transliterator::createInstance(
            "NFD; [:Nonspacing Mark:] Remove; NFC; Latin-ASCII", UTRANS_FORWARD, status));
        return U_SUCCESS(status) ? std::move(t) : nullptr;
    }();
    const icu::UnicodeString one(static_cast<UChar32>(c));
    UChar folded[16];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n =
        u_strFoldCase(folded, 16, one.getBuffer(), one.length(), U_FOLD_CASE_DEFAULT, &status);
    icu::UnicodeString text = U_SUCCESS(status) ? icu::UnicodeString(folded, n) : one;
    if (strip)
        strip->transliterate(text);
    std::string out;
    for (int32_t i = 0; i < text.length();) {
        const UChar32 u = text.char32At(i);
        i += U16_LENGTH(u);
        if (u < 0x80) {
            appendAscii(static_cast<char>(u), out);
        } else if (u_isalnum(u)) {
            icu::UnicodeString(u).toUTF8String(out);
        } else if (u_charType(u) != U_NON_SPACING_MARK && u_charType(u) != U_ENCLOSING_MARK) {
            out += kSpace;
        }
    }
    return out;
}

const std::string& foldedCharacter(char32_t c) {
    static thread_local std::unordered_map<char32_t, std::string> known;
    auto it = known.find(c);
    if (it == known.end())
        it = known.emplace(c, foldOutsideAscii(c)).first;
    return it->second;
}

struct Folding {
    std::string bytes;
    std::vector<int> sources;
    bool wantSources = false;

    void push(char c, int source) {
        bytes += c;
        if (wantSources)
            sources.push_back(source);
    }
};

// Characters mapped one by one, spaces collapsed and trimmed.
Folding foldCharacters(QStringView text, bool wantSources) {
    Folding f;
    f.wantSources = wantSources;
    f.bytes.reserve(static_cast<std::size_t>(text.size()));
    std::string piece;
    for (qsizetype i = 0; i < text.size();) {
        const int at = static_cast<int>(i);
        char32_t c = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            i += 2;
        } else {
            ++i;
        }
        piece.clear();
        if (c < 0x80)
            appendAscii(static_cast<char>(c), piece);
        const std::string& out = c < 0x80 ? piece : foldedCharacter(c);
        for (char b : out) {
            if (b == kSpace && (f.bytes.empty() || f.bytes.back() == kSpace))
                continue;
            f.push(b, at);
        }
    }
    if (!f.bytes.empty() && f.bytes.back() == kSpace) {
        f.bytes.pop_back();
        if (wantSources)
            f.sources.pop_back();
    }
    return f;
}

// ae, oe and ue become a, o and u.
void foldDigraphs(Folding& f) {
    std::size_t to = 0;
    for (std::size_t from = 0; from < f.bytes.size(); ++from) {
        const char c = f.bytes[from];
        f.bytes[to] = c;
        if (f.wantSources)
            f.sources[to] = f.sources[from];
        ++to;
        if ((c == 'a' || c == 'o' || c == 'u') && from + 1 < f.bytes.size() &&
            f.bytes[from + 1] == 'e')
            ++from;
    }
    f.bytes.resize(to);
    if (f.wantSources)
        f.sources.resize(to);
}

// A word ending in one of endings loses what follows its "str".
void foldStreetEndings(Folding& f, std::initializer_list<std::string_view> endings) {
    std::string& b = f.bytes;
    std::size_t end = 0;
    while (end <= b.size()) {
        std::size_t wordEnd = b.find(kSpace, end);
        if (wordEnd == std::string::npos)
            wordEnd = b.size();
        const std::string_view word(b.data() + end, wordEnd - end);
        for (std::string_view ending : endings) {
            if (word.size() >= ending.size() &&
                word.substr(word.size() - ending.size()) == ending) {
                const std::size_t cut = ending.size() - 3; // keeps "str"
                b.erase(wordEnd - cut, cut);
                if (f.wantSources)
                    f.sources.erase(f.sources.begin() + static_cast<std::ptrdiff_t>(wordEnd - cut),
                                    f.sources.begin() + static_cast<std::ptrdiff_t>(wordEnd));
                wordEnd -= cut;
                break;
            }
        }
        end = wordEnd + 1;
    }
}

Folding foldAll(QStringView text, bool wantSources) {
    Folding f = foldCharacters(text, wantSources);
    foldDigraphs(f);
    foldStreetEndings(f, {"strasse"});
    return f;
}

} // namespace

std::string foldUtf8(QStringView text, std::vector<int>* sources) {
    Folding f = foldAll(text, sources != nullptr);
    if (sources)
        *sources = std::move(f.sources);
    return std::move(f.bytes);
}

QString fold(QStringView text) {
    return QString::fromStdString(foldUtf8(text));
}

std::string foldTyped(QStringView word) {
    Folding f = foldAll(word, false);
    foldStreetEndings(f, {"strass", "stras", "stra"});
    return std::move(f.bytes);
}

} // namespace search
