// The table's side of a sync: what its fields are (names, sizes, code page)
// and what it holds, read once at the start of a run. TableShape works on
// plain records and needs no open table, so the planner can use it.
#pragma once

#include "platform/carddav/syncstate.h"
#include "platform/paradox/codec.h"
#include "platform/paradox/table.h"
#include "sync/cardfields.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QString>

namespace vellumo::sync {

extern const QString kUidField;
extern const QString kGivenField;
extern const QString kPictureField;
extern const QString kChangedField;

// The table's fields, and values both ways.
class TableShape {
public:
    explicit TableShape(px::TableInfo info);
    TableShape(const TableShape&) = delete;
    TableShape& operator=(const TableShape&) = delete;
    const px::TableInfo& info() const { return info_; }
    int index(const QString& name) const { return index_.value(name, -1); }
    int size(const QString& name) const;

    QString text(const px::Record& r, const QString& name) const;
    // The text fields as the table holds them.
    Fields fields(const px::Record& r) const;
    // Where the picture lies in the .mb; empty when there is none.
    QString pictureRef(const px::Record& r) const;
    // What of a server value the field holds: characters the code page lacks
    // become "?", text longer than the field is cut.
    QString fit(const QString& name, const QString& value) const;
    void set(px::Record& r, const QString& name, const QString& value) const;

private:
    px::TableInfo info_;
    px::Codec codec_;
    QHash<QString, int> index_;
};

// One record as a sync sees it.
struct LocalRecord {
    px::Record record; // pictures referred to, not read
    std::uint32_t position = 0;
    Fields fields; // the picture by its key as "Grafik"
    QByteArray hash;
    QString pictureRef;
    QByteArray pictureKey;
    bool pictureChanged = false; // since the last sync
    bool newUid = false;         // the UID was made in this run
};

struct TableSnapshot {
    px::TableInfo info;
    QHash<QString, LocalRecord> records; // by UID
};

QByteArray hashOf(const Fields& f);

// Every record of the table by its UID; one without a UID, or a copy of
// another that kept its UID, gets a new one (not yet written). known: the
// sync state's cards; a state of the first version, which knew a picture by
// its place only, is brought up to the picture's key where nothing changed.
TableSnapshot readSnapshot(px::Table& table, QHash<QString, carddav::SyncedCard>& known);
// A record's fields and picture key, the picture read only when it moved.
void describe(px::Table& table, const TableShape& shape, LocalRecord& l,
              carddav::SyncedCard* known);
// The picture at that position, decoded; null when there is none.
QImage pictureAt(px::Table& table, const TableShape& shape, std::uint32_t position);

} // namespace vellumo::sync
