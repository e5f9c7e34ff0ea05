// The three-way decision of a sync, on plain field maps: each side is
// compared with the base (what both had at the last sync). A change on one
// side is taken over; a field changed differently on both sides is a
// conflict, where the local value stays and the server's is kept for the
// user to choose; a change beats a delete on either side. Nothing is dropped.
#pragma once

#include <QList>
#include <QMap>
#include <QString>

#include <optional>

namespace vellumo::carddav {

using Fields = QMap<QString, QString>; // field name → value; a missing field is empty

struct Conflict {
    QString field;
    QString local;
    QString server;
    friend bool operator==(const Conflict&, const Conflict&) = default;
};

struct FieldMerge {
    Fields merged;
    QList<Conflict> conflicts;
    bool localChanges = false;  // the server must hear of something
    bool serverChanges = false; // the table must take something
};

FieldMerge mergeFields(const Fields& base, const Fields& local, const Fields& server);

// What to do with one card, by whether each side still has it and whether it
// changed since the base. A card without a base is new on the side that has it
// (on both: the same person made on both sides is merged against an empty
// base).
enum class CardAction {
    Nothing,
    Upload,       // local is newer: write it to the server
    Download,     // server is newer: take it into the table
    Merge,        // both changed: mergeFields
    DeleteLocal,  // deleted on the server, unchanged here
    DeleteServer, // deleted here, unchanged on the server
    Forget        // gone on both sides: drop the base
};

struct Side {
    bool present = false;
    bool changed = false; // against the base; ignored without one
};

CardAction decide(bool hasBase, Side local, Side server);

} // namespace vellumo::carddav
