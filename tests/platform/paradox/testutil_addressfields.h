// The address table's fields as the engine's own declarations, for engine
// tests and benchmarks that make address tables without the record store.
#pragma once

#include "address/addressschema.h"
#include "platform/paradox/table.h"

#include <string>
#include <vector>

namespace testutil {

inline std::vector<px::FieldDef> addressFieldDefs() {
    using vellumo::address::Kind;
    std::vector<px::FieldDef> defs;
    for (const auto& field : vellumo::address::kFields) {
        px::FieldDef def{std::string(field.name), px::FieldType::Alpha, field.size};
        if (field.kind == Kind::Date)
            def = {def.name, px::FieldType::Date, 4};
        else if (field.kind == Kind::Memo)
            def = {def.name, px::FieldType::Memo, 0};
        else if (field.kind == Kind::Graphic)
            def = {def.name, px::FieldType::Graphic, 0};
        defs.push_back(def);
    }
    return defs;
}

} // namespace testutil
