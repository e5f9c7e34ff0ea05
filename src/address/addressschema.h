// The address table's fields, stated once: name, kind and size in the order a
// new table declares them. Everything that knows the address fields (the
// declaration of a new table, vCard and CSV, the list report, the tool, the
// benchmarks and the tests) takes them from here.
//
// Plain C++ without Qt or the engine, so the engine's own tests and benchmarks
// can use it as well as the record store's users.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace vellumo::address {

// The codes the record store takes for the field kinds (its FieldKind).
enum class Kind { Text = 1, Date = 9, Memo = 16, Graphic = 17 };

struct Field {
    std::string_view name;
    Kind kind;
    int size; // characters of a text field; 0 (the engine's default) for the others
};

inline constexpr std::array<Field, 20> kFields{{
    {"Name", Kind::Text, 30},      {"Vorname", Kind::Text, 30},  {"Strasse", Kind::Text, 30},
    {"PLZ", Kind::Text, 5},        {"Ort", Kind::Text, 30},      {"Land", Kind::Text, 30},
    {"Telefon1", Kind::Text, 30},  {"Telefon2", Kind::Text, 30}, {"Fax", Kind::Text, 30},
    {"Email", Kind::Text, 30},     {"WWW", Kind::Text, 99},      {"KontoNr", Kind::Text, 10},
    {"BLZ", Kind::Text, 8},        {"Institut", Kind::Text, 30}, {"Rubrik", Kind::Text, 30},
    {"Geburtstag", Kind::Date, 0}, {"Erstellt", Kind::Date, 0},  {"Aenderung", Kind::Date, 0},
    {"Memo1", Kind::Memo, 0},      {"Grafik", Kind::Graphic, 0},
}};

// The primary index: the first five fields, in this order. Records are shown
// in its order, and two records with the same five values cannot both be kept.
inline constexpr int kKeyFieldCount = 5;
inline constexpr std::string_view kKeyFieldList = "Name;Vorname;Strasse;PLZ;Ort";

// A birthday whose year is not known (a vCard's "--0517", a list's "17.05.")
// is stored in this year: a leap year, so 29 February fits, and one no living
// person was born in, so it is never taken for a real year or an age.
inline constexpr int kYearUnknown = 1604;

// The field of that name, or null.
constexpr const Field* findField(std::string_view name) {
    for (const Field& field : kFields)
        if (field.name == name)
            return &field;
    return nullptr;
}

// A field name written in code, checked while compiling: a misspelt name does
// not build, so a report or a mapping can never ask for a field a table lacks.
consteval std::string_view fieldName(std::string_view name) {
    // Compared by name, not through findField's pointer: the undefined-
    // behaviour sanitizer's null checks are no constant expressions.
    for (const Field& field : kFields)
        if (field.name == name)
            return name;
    throw "not a field of the address table";
}

namespace detail {
constexpr bool keyListMatchesFields() {
    std::string_view rest = kKeyFieldList;
    for (int n = 0; n < kKeyFieldCount; ++n) {
        const std::size_t end = rest.find(';');
        if (rest.substr(0, end) != kFields[static_cast<std::size_t>(n)].name)
            return false;
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    return rest.empty();
}
} // namespace detail
static_assert(detail::keyListMatchesFields(), "the key list names the first five fields");

} // namespace vellumo::address
