// The record store's history of changes, for undo and redo: the steps with
// the images of the records they touched. Only the store uses it; it holds
// records as the engine gives them and knows nothing of a table.
#pragma once

#include "platform/paradox/table.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QTemporaryFile;

namespace vellumo {

// A picture field whose bytes an image holds because the change replaced or
// removed them, with the reference the bytes had in the table then.
using PictureOrigins = std::vector<std::pair<int, px::BlobRef>>;

// One record before and after a change: no before for a new record, no after
// for a removed one. A picture that the change kept is a BlobRef in both
// images; one it replaced or removed is held as bytes in before.
// Bytes of a before image the history keeps in its file instead of memory;
// the field in the image is empty meanwhile.
struct SpilledBytes {
    int field = -1;
    std::int64_t offset = 0;
    std::int64_t size = 0;
};

struct RecordChange {
    std::optional<px::Record> before;
    std::optional<px::Record> after;
    PictureOrigins beforeOrigins;
    std::vector<SpilledBytes> spilled;
};

struct HistoryStep {
    QString label;
    std::vector<RecordChange> changes; // in the order they were made
};

// Roughly the memory an image takes.
std::int64_t imageBytes(const px::Record& record);
std::int64_t stepBytes(const HistoryStep& step);

// An image as the history keeps it: the values one after the other, each a
// byte for its kind and its bytes (a length before text), so a record of
// mostly empty fields takes about its stored size rather than a value's 40
// bytes per field: an import of 100,000 addresses is held in a fifth of the
// memory.
std::string packImage(const px::Record& record);
px::Record unpackImage(const std::string& packed);

class History {
public:
    History();
    ~History();
    History(const History&) = delete;
    History& operator=(const History&) = delete;

    // The bytes of replaced and removed pictures the history holds stay in
    // memory up to the budget; beyond it they go into a temporary file of
    // their own (removed with the history), or stay in memory when that file
    // cannot be written: they are never dropped.
    static constexpr std::int64_t kBytesBudget = 32 << 20;
    void setBytesBudget(std::int64_t bytes) { budget_ = bytes; }
    std::int64_t bytesInMemory() const { return held_; }
    std::int64_t bytesInFile() const { return spilled_; }
    // change's before image as it was, its bytes read back from the file;
    // raises std::runtime_error when they cannot be read.
    px::Record beforeImage(const RecordChange& change) const;

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
    // The next step to undo or redo, a change at a time, each unpacked when
    // asked for: a step of 100,000 records is never held unpacked whole.
    std::size_t undoChanges() const { return undo_.empty() ? 0 : undo_.back().changes.size(); }
    std::size_t redoChanges() const { return redo_.empty() ? 0 : redo_.back().changes.size(); }
    RecordChange undoChange(std::size_t index) const;
    RecordChange redoChange(std::size_t index) const;
    QString undoLabel() const { return undo_.empty() ? QString() : undo_.back().label; }
    QString redoLabel() const { return redo_.empty() ? QString() : redo_.back().label; }
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
    struct PackedChange {
        std::optional<std::string> before, after; // packImage
        PictureOrigins beforeOrigins;
        std::vector<SpilledBytes> spilled;
        std::int64_t heldBytes = 0;    // of picture bytes in before, in memory
        bool refersToPictures = false; // either image holds a BlobRef
    };
    struct PackedStep {
        QString label;
        std::vector<PackedChange> changes;
    };
    void hold(RecordChange& change);
    PackedChange holdAndPack(RecordChange change);
    void release(const PackedChange& change);
    void release(const PackedStep& step);
    static RecordChange unpack(const PackedChange& packed);

    std::vector<PackedStep> undo_;
    std::vector<PackedStep> redo_;
    PackedStep open_;
    int depth_ = 0;
    std::int64_t budget_ = kBytesBudget;
    std::int64_t held_ = 0;    // bytes of before images in memory
    std::int64_t spilled_ = 0; // of them in the file, still referred to
    std::unique_ptr<QTemporaryFile> file_;
};

// The label a change made outside a group gets, after the name of the record
// (its first two fields, "Name, Vorname"): a new record, a removed one, a
// changed picture, or any other change. fields tells which are pictures.
QString changeLabel(const RecordChange& change, const std::vector<bool>& isPicture);

} // namespace vellumo
