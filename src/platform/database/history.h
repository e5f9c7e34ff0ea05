// The record store's history of changes, for undo and redo: the steps with
// the images of the records they touched. Only the store uses it; it holds
// records as the engine gives them and knows nothing of a table.
#pragma once

#include "platform/paradox/table.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace vellumo {

// A picture field whose bytes an image holds because the change replaced or
// removed them, with the reference the bytes had in the table then.
using PictureOrigins = std::vector<std::pair<int, px::BlobRef>>;

// One record before and after a change: no before for a new record, no after
// for a removed one. A picture that the change kept is a BlobRef in both
// images; one it replaced or removed is held as bytes in before.
struct RecordChange {
    std::optional<px::Record> before;
    std::optional<px::Record> after;
    PictureOrigins beforeOrigins;
};

struct HistoryStep {
    QString label;
    std::vector<RecordChange> changes; // in the order they were made
};

// Roughly the memory an image takes.
std::int64_t imageBytes(const px::Record& record);
std::int64_t stepBytes(const HistoryStep& step);

class History {
public:
    // A group: every change until the matching end is one step. Groups nest;
    // the outermost one's label counts (end may give it anew).
    void begin(const QString& label);
    // Ends a group; a step is kept when it holds a change. False when no
    // group was open.
    bool end(const QString& label = QString());
    bool grouping() const { return depth_ > 0; }

    // A change of the table: joins the open group, or is a step by itself
    // with label. Any change makes the steps that were undone unreachable.
    void add(RecordChange change, const QString& label);
    // Changes of the open group made since it held count (a batch of the
    // engine rolled back): dropped.
    std::size_t openCount() const { return open_.changes.size(); }
    void dropOpenFrom(std::size_t count);

    bool canUndo() const { return !undo_.empty(); }
    bool canRedo() const { return !redo_.empty(); }
    const HistoryStep& nextUndo() const { return undo_.back(); }
    const HistoryStep& nextRedo() const { return redo_.back(); }
    // Called once a step was written back: its inverse (what undoing it
    // did) becomes the step to redo, or the other way round.
    void undone(HistoryStep inverse);
    void redone(HistoryStep inverse);

    // A picture written anew has a new place in the table: images that
    // referred to its old one refer to the new one.
    void renamePicture(const px::BlobRef& from, const px::BlobRef& to);

    void clear();
    std::int64_t bytes() const;
    std::size_t undoCount() const { return undo_.size(); }

private:
    std::vector<HistoryStep> undo_;
    std::vector<HistoryStep> redo_;
    HistoryStep open_;
    int depth_ = 0;
};

// The label a change made outside a group gets, after the name of the record
// (its first two fields, "Name, Vorname"): a new record, a removed one, a
// changed picture, or any other change. fields tells which are pictures.
QString changeLabel(const RecordChange& change, const std::vector<bool>& isPicture);

} // namespace vellumo
