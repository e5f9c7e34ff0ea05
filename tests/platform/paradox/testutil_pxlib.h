// Debian's pxlib as an independent reader and writer of Paradox tables, for
// cross-checks of our engine (tests and the benchmark only, never the program).
#pragma once

#include "platform/paradox/table.h"

// paradox.h has no C++ guard of its own.
extern "C" {
#include <paradox.h>
}

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace testutil::pxl {

// pxlib reports errors through a callback; collect them instead of printing.
inline void collectError(pxdoc_t*, int, const char* msg, void* data) {
    if (data)
        static_cast<std::vector<std::string>*>(data)->push_back(msg ? msg : "?");
}

class Doc {
public:
    Doc() : doc_(PX_new3(collectError, nullptr, nullptr, nullptr, &errors_)) {}
    ~Doc() {
        if (doc_)
            PX_delete(doc_);
    }
    Doc(const Doc&) = delete;
    Doc& operator=(const Doc&) = delete;
    pxdoc_t* get() const { return doc_; }
    const std::vector<std::string>& errors() const { return errors_; }
    std::string lastError() const { return errors_.empty() ? std::string() : errors_.back(); }

private:
    std::vector<std::string> errors_;
    pxdoc_t* doc_;
};

// Frees what PX_retrieve_record returned.
inline void freeRecord(pxdoc_t* doc, pxval_t** values, int fields) {
    if (!values)
        return;
    for (int i = 0; i < fields; ++i) {
        pxval_t* v = values[i];
        if (!v)
            continue;
        switch (v->type) {
        case pxfAlpha:
        case pxfBytes:
        case pxfBCD:
        case pxfMemoBLOb:
        case pxfBLOb:
        case pxfFmtMemoBLOb:
        case pxfOLE:
        case pxfGraphic:
            if (!v->isnull && v->value.str.val)
                doc->free(doc, v->value.str.val);
            break;
        default:
            break;
        }
        FREE_PXVAL(doc, v);
    }
    doc->free(doc, values);
}

// Our value of one field as pxlib reads it. Blob fields read without their
// .mb come back as NULL. pxlib 0.6.8 reads a NULL date, time or long as
// INT_MIN (a known aliasing bug), which is mapped back to NULL here.
inline px::Value toValue(const pxval_t* v) {
    if (!v || v->isnull)
        return std::monostate{};
    switch (v->type) {
    case pxfAlpha:
        return std::string(v->value.str.val, static_cast<std::size_t>(v->value.str.len));
    case pxfDate:
        if (v->value.lval == INT_MIN)
            return std::monostate{};
        return px::Date{static_cast<std::int32_t>(v->value.lval)};
    case pxfTime:
        if (v->value.lval == INT_MIN)
            return std::monostate{};
        return px::TimeOfDay{static_cast<std::int32_t>(v->value.lval)};
    case pxfShort:
    case pxfLong:
    case pxfAutoInc:
        if (v->type != pxfShort && v->value.lval == INT_MIN)
            return std::monostate{};
        return static_cast<std::int64_t>(v->value.lval);
    case pxfNumber:
    case pxfCurrency:
        return v->value.dval;
    case pxfTimestamp:
        return px::Timestamp{v->value.dval};
    case pxfLogical:
        return v->value.lval != 0;
    case pxfBCD:
        return px::Decimal{std::string(v->value.str.val)};
    case pxfBytes: {
        const auto* p = reinterpret_cast<const std::uint8_t*>(v->value.str.val);
        return px::Bytes(p, p + v->value.str.len);
    }
    case pxfMemoBLOb:
        if (!v->value.str.val)
            return std::monostate{};
        return std::string(v->value.str.val, static_cast<std::size_t>(v->value.str.len));
    default: {
        if (!v->value.str.val)
            return std::monostate{};
        const auto* p = reinterpret_cast<const std::uint8_t*>(v->value.str.val);
        return px::Bytes(p, p + v->value.str.len);
    }
    }
}

struct Table {
    std::vector<px::FieldDef> fields;
    std::vector<px::Record> records; // in the order of the data-block chain
    int codePage = 0;
    int keyFields = 0;
};

// Reads a whole table with pxlib, alpha text recoded to UTF-8; blobFile "" =
// without the .mb (pxlib 0.6.8 aborts on genuine .mb files).
inline Table readAll(const std::string& dbPath, const std::string& blobFile = "") {
    Doc doc;
    if (PX_open_file(doc.get(), dbPath.c_str()) < 0)
        throw std::runtime_error("pxlib cannot open " + dbPath + ": " + doc.lastError());
    Table t;
    t.codePage = doc.get()->px_head->px_doscodepage;
    t.keyFields = doc.get()->px_head->px_primarykeyfields;
    if (t.codePage != 0)
        PX_set_targetencoding(doc.get(), "UTF-8");
    if (!blobFile.empty() && PX_set_blob_file(doc.get(), blobFile.c_str()) < 0)
        throw std::runtime_error("pxlib cannot open " + blobFile + ": " + doc.lastError());
    const int nf = PX_get_num_fields(doc.get());
    for (int i = 0; i < nf; ++i) {
        const pxfield_t* f = PX_get_field(doc.get(), i);
        t.fields.push_back({f->px_fname, static_cast<px::FieldType>(f->px_ftype),
                            f->px_ftype == pxfBCD ? f->px_fdc : f->px_flen});
    }
    const int n = PX_get_num_records(doc.get());
    for (int r = 0; r < n; ++r) {
        pxval_t** values = PX_retrieve_record(doc.get(), r);
        if (!values)
            throw std::runtime_error("pxlib cannot read record " + std::to_string(r) + ": " +
                                     doc.lastError());
        px::Record rec;
        for (int i = 0; i < nf; ++i)
            rec.push_back(toValue(values[i]));
        freeRecord(doc.get(), values, nf);
        t.records.push_back(std::move(rec));
    }
    return t;
}

// UTF-8 text of the Latin-1 range and the euro sign to Windows-1252 bytes
// (pxlib stores memo text as it is given): Latin-1, the euro sign and the en dash.
inline std::string toCp1252(const std::string& utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            out += static_cast<char>(((c & 0x1F) << 6) | (utf8[++i] & 0x3F));
        } else if (utf8.compare(i, 3, "\u20ac") == 0) {
            out += '\x80';
            i += 2;
        } else if (utf8.compare(i, 3, "\u2013") == 0) {
            out += '\x96';
            i += 2;
        } else {
            throw std::runtime_error("toCp1252: character outside the test's range");
        }
    }
    return out;
}

// Writes a table with pxlib (always level 7): records in the given order,
// blobs into mbPath when given (graphics get their 8-byte prefix here).
// Alpha text is recoded from UTF-8, memo text converted to Windows-1252.
inline void writeTable(const std::string& dbPath, const std::vector<px::FieldDef>& fields,
                       int keyFields, const std::vector<px::Record>& records,
                       const std::string& mbPath = "", const std::string& pxPath = "") {
    Doc doc;
    pxdoc_t* d = doc.get();
    auto* defs =
        static_cast<pxfield_t*>(d->malloc(d, sizeof(pxfield_t) * fields.size(), "test fields"));
    int recordSize = 0;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        defs[i].px_fname = PX_strdup(d, fields[i].name.c_str());
        defs[i].px_ftype = static_cast<char>(fields[i].type);
        defs[i].px_flen = fields[i].type == px::FieldType::BCD ? 17 : fields[i].size;
        defs[i].px_fdc = fields[i].type == px::FieldType::BCD ? fields[i].size : 0;
        recordSize += defs[i].px_flen;
    }
    if (PX_create_file(d, defs, static_cast<int>(fields.size()), dbPath.c_str(),
                       keyFields ? pxfFileTypIndexDB : pxfFileTypNonIndexDB) < 0)
        throw std::runtime_error("pxlib cannot create " + dbPath + ": " + doc.lastError());
    PX_set_value(d, "numprimkeys", static_cast<float>(keyFields));
    PX_set_value(d, "codepage", 1252);
    PX_set_parameter(d, "inputencoding", "UTF-8");
    PX_set_parameter(d, "targetencoding", "CP1252");
    if (!mbPath.empty()) {
        pxblob_t* blob = PX_new_blob(d);
        if (PX_create_blob_file(blob, mbPath.c_str()) < 0)
            throw std::runtime_error("pxlib cannot create " + mbPath + ": " + doc.lastError());
    }
    std::vector<char> data(static_cast<std::size_t>(recordSize));
    for (const px::Record& r : records) {
        std::fill(data.begin(), data.end(), 0);
        int offset = 0;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            char* at = data.data() + offset;
            const int len = defs[i].px_flen;
            offset += len;
            const px::Value& v = r[i];
            if (std::holds_alternative<std::monostate>(v))
                continue;
            switch (fields[i].type) {
            case px::FieldType::Alpha: {
                std::string s = std::get<std::string>(v);
                PX_put_data_alpha(d, at, len, s.data());
                break;
            }
            case px::FieldType::Date:
                PX_put_data_long(d, at, 4, std::get<px::Date>(v).day);
                break;
            case px::FieldType::Time:
                PX_put_data_long(d, at, 4, std::get<px::TimeOfDay>(v).ms);
                break;
            case px::FieldType::Long:
            case px::FieldType::AutoInc:
                PX_put_data_long(d, at, 4, static_cast<int>(std::get<std::int64_t>(v)));
                break;
            case px::FieldType::Short:
                PX_put_data_short(d, at, 2, static_cast<short>(std::get<std::int64_t>(v)));
                break;
            case px::FieldType::Number:
            case px::FieldType::Money:
                PX_put_data_double(d, at, 8, std::get<double>(v));
                break;
            case px::FieldType::Timestamp:
                PX_put_data_double(d, at, 8, std::get<px::Timestamp>(v).ms);
                break;
            case px::FieldType::Logical:
                PX_put_data_byte(d, at, 1, std::get<bool>(v) ? 1 : 0);
                break;
            case px::FieldType::BCD: {
                std::string s = std::get<px::Decimal>(v).text;
                PX_put_data_bcd(d, at, fields[i].size, s.data());
                break;
            }
            case px::FieldType::Bytes: {
                auto b = std::get<px::Bytes>(v);
                b.resize(static_cast<std::size_t>(len));
                PX_put_data_bytes(d, at, len, reinterpret_cast<char*>(b.data()));
                break;
            }
            case px::FieldType::Memo: {
                std::string s = toCp1252(std::get<std::string>(v));
                PX_put_data_blob(d, at, len, s.data(), static_cast<int>(s.size()));
                break;
            }
            default: { // graphic, binary, formatted memo, OLE
                const auto& b = std::get<px::Bytes>(v);
                std::string s;
                if (fields[i].type == px::FieldType::Graphic) {
                    const auto n = static_cast<std::uint32_t>(b.size());
                    s = std::string("\x01\x00\x00\x01", 4);
                    for (int k = 0; k < 4; ++k)
                        s += static_cast<char>(n >> (8 * k));
                }
                s.append(b.begin(), b.end());
                PX_put_data_blob(d, at, len, s.data(), static_cast<int>(s.size()));
                break;
            }
            }
        }
        if (PX_put_record(d, data.data()) < 0)
            throw std::runtime_error("pxlib cannot write a record: " + doc.lastError());
    }
    if (!pxPath.empty() && keyFields > 0) {
        Doc index;
        pxdoc_t* x = index.get();
        auto* keys = static_cast<pxfield_t*>(
            x->malloc(x, sizeof(pxfield_t) * static_cast<std::size_t>(keyFields), "keys"));
        for (int i = 0; i < keyFields; ++i) {
            keys[i] = defs[i];
            keys[i].px_fname = PX_strdup(x, defs[i].px_fname);
        }
        if (PX_create_file(x, keys, keyFields, pxPath.c_str(), pxfFileTypPrimIndex) < 0 ||
            PX_write_primary_index(d, x) < 0)
            throw std::runtime_error("pxlib cannot write the index " + pxPath + ": " +
                                     index.lastError() + doc.lastError());
    }
}

} // namespace testutil::pxl
