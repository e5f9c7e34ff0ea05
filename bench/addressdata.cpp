#include "addressdata.h"
#include "testutil_addressfields.h"

#include <algorithm>
#include <set>
#include <string>
#include <tuple>

namespace bench {

namespace {

const char* const kNames[] = {
    "Müller",     "Schmidt",  "Schneider", "Fischer", "Weber",   "Meyer",      "Wagner",
    "Becker",     "Schulz",   "Hoffmann",  "Schäfer", "Koch",    "Bauer",      "Richter",
    "Klein",      "Wolf",     "Schröder",  "Neumann", "Schwarz", "Zimmermann", "Braun",
    "Krüger",     "Hofmann",  "Hartmann",  "Lange",   "Schmitt", "Werner",     "Schmitz",
    "Krause",     "Meier",    "Lehmann",   "Schmid",  "Schulze", "Maier",      "Köhler",
    "Herrmann",   "König",    "Walter",    "Mayer",   "Huber",   "Kaiser",     "Fuchs",
    "Peters",     "Lang",     "Scholz",    "Möller",  "Weiß",    "Jung",       "Hahn",
    "Schubert",   "Vogel",    "Friedrich", "Keller",  "Günther", "Frank",      "Berger",
    "Winkler",    "Roth",     "Beck",      "Lorenz",  "Baumann", "Franke",     "Albrecht",
    "Schuster",   "Simon",    "Ludwig",    "Böhm",    "Winter",  "Kraus",      "Martin",
    "Schumacher", "Krämer",   "Vogt",      "Stein",   "Jäger",   "Otto",       "Sommer",
    "Groß",       "Seidel",   "Heinrich",  "Brandt",  "Haas",    "Schreiber",  "Graf",
    "Schulte",    "Dietrich", "Ziegler",   "Kuhn",    "Kühn",    "Pohl",       "Engel",
    "Horn",       "Busch",    "Bergmann",  "Thomas",  "Voigt",   "Sauer",      "Arnold",
    "Wolff",      "Pfeiffer", "Äbel",      "Öztürk",  "Übel",    "Abel",       "Adam"};
const char* const kFirstNames[] = {
    "Anna",     "Hans",     "Jürgen",  "Günter",  "Maria",  "Ursula",  "Monika", "Peter",  "Klaus",
    "Wolfgang", "Sabine",   "Petra",   "Andreas", "Thomas", "Michael", "Stefan", "Renate", "Karin",
    "Helga",    "Brigitte", "Jörg",    "Björn",   "Sören",  "Käthe",   "Frank",  "Uwe",    "Bernd",
    "Dieter",   "Heike",    "Claudia", "Susanne", "Birgit", "Lukas",   "Leon",   "Finn",   "Jonas",
    "Lea",      "Hannah",   "Lena",    "Mia",     "Emma",   "Sophie",  "Marie",  "Felix",  "Paul",
    "Max",      "Ben",      "Elias",   "Jan",     "Tim",    "Nils",    "Ole",    "Greta",  "Frieda",
    "Ida",      "Mathilda", "Özlem",   "Zoë",     "René",   "André"};
const char* const kStreets[] = {
    "Hauptstraße", "Schulstraße",     "Gartenstraße",   "Bahnhofstraße",     "Dorfstraße",
    "Bergstraße",  "Birkenweg",       "Lindenstraße",   "Kirchstraße",       "Waldstraße",
    "Ringstraße",  "Schillerstraße",  "Goethestraße",   "Am Sportplatz",     "Mühlenweg",
    "Jahnstraße",  "Buchenweg",       "Friedhofstraße", "Wiesenweg",         "Rosenstraße",
    "Königsallee", "Münchner Straße", "Kölner Straße",  "Rüdesheimer Platz", "Über dem Bach",
    "Ährenfeld",   "Ölmühlenweg",     "Große Bleiche",  "Kurfürstendamm",    "Fährweg"};
struct Town {
    const char* plz;
    const char* ort;
};
const Town kTowns[] = {{"10115", "Berlin"},
                       {"20095", "Hamburg"},
                       {"80331", "München"},
                       {"50667", "Köln"},
                       {"60311", "Frankfurt am Main"},
                       {"70173", "Stuttgart"},
                       {"40213", "Düsseldorf"},
                       {"44135", "Dortmund"},
                       {"45127", "Essen"},
                       {"04109", "Leipzig"},
                       {"28195", "Bremen"},
                       {"01067", "Dresden"},
                       {"30159", "Hannover"},
                       {"90402", "Nürnberg"},
                       {"47051", "Duisburg"},
                       {"44787", "Bochum"},
                       {"42103", "Wuppertal"},
                       {"33602", "Bielefeld"},
                       {"53111", "Bonn"},
                       {"48143", "Münster"},
                       {"97070", "Würzburg"},
                       {"79098", "Freiburg im Breisgau"},
                       {"37073", "Göttingen"},
                       {"24103", "Kiel"},
                       {"18055", "Rostock"},
                       {"99084", "Erfurt"},
                       {"55116", "Mainz"},
                       {"66111", "Saarbrücken"},
                       {"93047", "Regensburg"},
                       {"89073", "Ulm"}};
const char* const kCountries[] = {"Deutschland", "Deutschland", "Deutschland", "Österreich",
                                  "Schweiz"};
const char* const kBanks[] = {"Sparkasse Köln-Bonn",
                              "Volksbank Mittelhessen",
                              "Commerzbank",
                              "Deutsche Bank",
                              "Postbank",
                              "Raiffeisenbank Südtondern",
                              "Stadtsparkasse München",
                              "GLS Bank"};
const char* const kRubrics[] = {"Familie",  "Freunde", "Geschäftlich", "Verein",
                                "Nachbarn", "Ärzte",   "Handwerker",   "Schule"};
const char* const kSentences[] = {
    "Hat im Frühjahr beim Umzug geholfen.",
    "Geburtstagsgruß nicht vergessen!",
    "Kennt sich mit Heizungsanlagen aus; bei Störungen zuerst anrufen.",
    "Schuldet mir noch 25 € für die Konzertkarten.",
    "Treffen jeden zweiten Dienstag im Vereinsheim, außer in den Schulferien.",
    "Neue Telefonnummer seit März, die alte ist abgemeldet.",
    "Bevorzugt Post per E-Mail; Briefe bitte an die Firmenadresse.",
    "Lieblingsgericht: Käsespätzle mit Röstzwiebeln.",
    "Hat zwei Kinder (Jonas und Lea) und einen großen Hund.",
    "Weihnachtskarte 2023 zurückgekommen – Adresse prüfen.",
    "Zuständig für die Abrechnung der Nebenkosten.",
    "Spricht fließend Französisch und Italienisch."};

std::string asciiFold(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == 0xC3 && i + 1 < s.size()) {
            switch (static_cast<unsigned char>(s[++i])) {
            case 0xA4:
                out += "ae";
                break;
            case 0xB6:
                out += "oe";
                break;
            case 0xBC:
                out += "ue";
                break;
            case 0x84:
                out += "Ae";
                break;
            case 0x96:
                out += "Oe";
                break;
            case 0x9C:
                out += "Ue";
                break;
            case 0x9F:
                out += "ss";
                break;
            default:
                out += 'e';
                break; // é, ë, ...
            }
        } else if (c >= 'A' && c <= 'Z') {
            out += static_cast<char>(c - 'A' + 'a');
        } else if (c == ' ') {
            out += '-';
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// DIN 5007 variant 1 base form: umlauts as their base letter, ß as ss, no case.
std::string dinBase(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == 0xC3 && i + 1 < s.size()) {
            switch (static_cast<unsigned char>(s[++i])) {
            case 0xA4:
            case 0x84:
                out += 'a';
                break;
            case 0xB6:
            case 0x96:
                out += 'o';
                break;
            case 0xBC:
            case 0x9C:
                out += 'u';
                break;
            case 0x9F:
                out += "ss";
                break;
            case 0xA9:
            case 0x89:
                out += 'e';
                break;
            case 0xAB:
                out += 'e';
                break;
            default:
                out += '~';
                break;
            }
        } else if (c >= 'A' && c <= 'Z') {
            out += static_cast<char>(c - 'A' + 'a');
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

const std::string& text(const px::Value& v) {
    static const std::string empty;
    const auto* s = std::get_if<std::string>(&v);
    return s ? *s : empty;
}

template <std::size_t N> const char* pick(AddressGenerator& g, const char* const (&list)[N]) {
    return list[g.next() % N];
}

std::string digits(AddressGenerator& g, int n) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s += static_cast<char>('0' + g.next() % 10);
    return s;
}

// A small uncompressed 24-bit Windows bitmap with a colour gradient.
px::Bytes bitmap(AddressGenerator& g, int width, int height) {
    const int row = (width * 3 + 3) & ~3;
    const std::uint32_t size = 54 + static_cast<std::uint32_t>(row * height);
    px::Bytes b(size, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, size);
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(width));
    put32(22, static_cast<std::uint32_t>(height));
    b[26] = 1;
    b[28] = 24;
    put32(34, size - 54);
    const std::uint8_t tint = static_cast<std::uint8_t>(g.next());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::size_t at = 54 + static_cast<std::size_t>(y * row + x * 3);
            b[at] = static_cast<std::uint8_t>(x * 4);
            b[at + 1] = static_cast<std::uint8_t>(y * 4);
            b[at + 2] = tint;
        }
    return b;
}

} // namespace

std::vector<px::FieldDef> addressFields() {
    return testutil::addressFieldDefs();
}

std::uint32_t AddressGenerator::next() {
    // xorshift64*: fast, and the same data on every run.
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return static_cast<std::uint32_t>((state_ * 2685821657736338717ULL) >> 32);
}

px::Record AddressGenerator::record() {
    px::Record r(vellumo::address::kFields.size());
    const std::string name = pick(*this, kNames);
    const std::string first = pick(*this, kFirstNames);
    const Town& town = kTowns[next() % std::size(kTowns)];
    r[0] = name;
    r[1] = first;
    r[2] = std::string(pick(*this, kStreets)) + " " + std::to_string(1 + next() % 180);
    // Neighbouring post codes of the town, so PLZ and Ort still belong together.
    std::string plz = town.plz;
    plz[4] = static_cast<char>('0' + next() % 10);
    r[3] = plz;
    r[4] = std::string(town.ort);
    r[5] = std::string(pick(*this, kCountries));
    r[6] = "0" + std::to_string(20 + next() % 980) + " " + digits(*this, 7);
    if (next() % 2)
        r[7] = "01" + std::to_string(51 + next() % 29) + " " + digits(*this, 8);
    if (next() % 4 == 0)
        r[8] = "0" + std::to_string(20 + next() % 980) + " " + digits(*this, 6);
    r[9] = asciiFold(first) + "." + asciiFold(name) + "@example.de";
    if (next() % 3 == 0)
        r[10] = "https://www." + asciiFold(name) + "-" + asciiFold(town.ort) + ".de";
    r[11] = digits(*this, 10);
    r[12] = digits(*this, 8);
    r[13] = std::string(pick(*this, kBanks));
    r[14] = std::string(pick(*this, kRubrics));
    r[15] = px::Date{711858 + static_cast<std::int32_t>(next() % 23000)}; // 1950 onwards
    const std::int32_t created = 730120 + static_cast<std::int32_t>(next() % 8000);
    r[16] = px::Date{created};
    r[17] = px::Date{created + static_cast<std::int32_t>(next() % 400)};
    if (next() % 10 < 4) {
        std::string memo;
        const int sentences = 1 + static_cast<int>(next() % 12);
        for (int i = 0; i < sentences; ++i) {
            if (i)
                memo += (i % 4 == 0) ? "\r\n" : " ";
            memo += pick(*this, kSentences);
        }
        r[18] = memo;
    }
    if (next() % 50 == 0)
        r[19] =
            bitmap(*this, 16 + static_cast<int>(next() % 24), 16 + static_cast<int>(next() % 24));
    return r;
}

bool keyLess(const px::Record& a, const px::Record& b) {
    for (int f = 0; f < kAddressKeyFields; ++f) {
        const std::string ka = dinBase(text(a[f])), kb = dinBase(text(b[f]));
        if (ka != kb)
            return ka < kb;
        if (text(a[f]) != text(b[f]))
            return text(a[f]) < text(b[f]);
    }
    return false;
}

std::vector<px::Record> AddressGenerator::sortedRecords(std::size_t count) {
    std::vector<px::Record> records;
    records.reserve(count);
    std::set<std::tuple<std::string, std::string, std::string, std::string, std::string>> keys;
    while (records.size() < count) {
        px::Record r = record();
        if (keys.emplace(text(r[0]), text(r[1]), text(r[2]), text(r[3]), text(r[4])).second)
            records.push_back(std::move(r));
    }
    std::sort(records.begin(), records.end(), keyLess);
    return records;
}

} // namespace bench
