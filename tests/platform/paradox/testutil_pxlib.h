// Debian's pxlib as an independent reader and writer of Paradox tables, for
// cross-checks of our engine (tests and the benchmark only, never the program).
#pragma once

#include "paradox/table.h"

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

} // namespace testutil::pxl
