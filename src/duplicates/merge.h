// Two records of one person made one, keeping every value.
//
// planMerge reads both records and proposes, field by field, the fuller value
// (the one present, the longer spelling, the number with more digits, the
// birthday with its year, the larger picture); the user may take the other
// one in any field. mergedValues then builds the record: the value not taken
// goes into the notes as a German line ("Telefon 1 (alt): 0221 123456"), both
// notes are kept, the older "Erstellt" stays, "Aenderung" is today, and the
// UID a sync knows stays with the record that keeps it. mergeRecords writes
// it as one transaction of the table: the kept record changed and the other
// one removed, or nothing at all.
#pragma once

#include "platform/database/recordstore.h"

#include <QDate>
#include <QStringList>
#include <QVariant>

#include <vector>

namespace duplicates {

struct FieldMerge {
    QString field;
    vellumo::FieldKind kind = vellumo::FieldKind::Text;
    QVariant keep, drop; // the values of the record that stays and of the other
    enum Rule {
        Choice,  // the values differ: takeDrop says which is taken
        Same,    // equal (or one empty where nothing can be chosen)
        Older,   // "Erstellt": the older date
        Changed, // "Aenderung": the day of the merge
        Notes,   // the memo: both kept, the values not taken added
        Identity // "UID": the one present, the kept record's first
    };
    Rule rule = Same;
    bool takeDrop = false; // for a Choice: proposed, then as the user chose
};

struct MergePlan {
    int keep = -1; // stored positions when read
    int drop = -1;
    QStringList keepTexts, dropTexts; // as read, to notice a change meanwhile
    std::vector<FieldMerge> fields;   // in field order
};

// The German name of a field as a line of the notes calls it ("Telefon 1").
QString fieldLabel(const QString& field);

// The plan for two records given as values in field order. The record that
// stays is the one with a UID when only one has it, else the one created
// first, else a. keepIsA tells which it is.
MergePlan planMerge(const std::vector<vellumo::FieldInfo>& fields, const QVariantList& a,
                    const QVariantList& b, bool* keepIsA = nullptr);
// The same for two stored records of the open table.
MergePlan planMerge(const vellumo::RecordStore& store, int a, int b);

// The merged record's values in field order, as the plan's choices say.
QVariantList mergedValues(const MergePlan& plan, const QDate& today);
// The lines the values not taken add to the notes.
QStringList notesLines(const MergePlan& plan);

// Writes the merge (RecordStore::changeStored: the other record removed, the
// kept one changed, in one transaction, stamped by BeforePost like a saved
// edit). Raises vellumo::StoreError with a German text when either record
// changed since the plan was read, or when the table refuses the merged
// record; then the table is as before.
void mergeRecords(vellumo::RecordStore& store, const MergePlan& plan, const QDate& today);

} // namespace duplicates
