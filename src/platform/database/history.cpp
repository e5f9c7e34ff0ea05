#include "platform/database/history.h"

#include <QDir>
#include <QStringList>
#include <QTemporaryFile>

#include <algorithm>
#include <stdexcept>

namespace vellumo {

std::int64_t imageBytes(const px::Record& record) {
    auto size = static_cast<std::int64_t>(sizeof(px::Record) + record.size() * sizeof(px::Value));
    for (const px::Value& value : record) {
        if (const auto* text = std::get_if<std::string>(&value))
            size += text->size() > 15 ? static_cast<std::int64_t>(text->capacity()) : 0;
        else if (const auto* bytes = std::get_if<px::Bytes>(&value))
            size += static_cast<std::int64_t>(bytes->capacity());
    }
    return size;
}

std::int64_t stepBytes(const HistoryStep& step) {
    auto size = static_cast<std::int64_t>(sizeof(HistoryStep) +
                                          step.changes.capacity() * sizeof(RecordChange));
    for (const RecordChange& change : step.changes) {
        if (change.before)
            size += imageBytes(*change.before);
        if (change.after)
            size += imageBytes(*change.after);
    }
    return size;
}

History::History() = default;
History::~History() = default;

void History::hold(RecordChange& change) {
    if (!change.before)
        return;
    for (std::size_t i = 0; i < change.before->size(); ++i) {
        auto* bytes = std::get_if<px::Bytes>(&(*change.before)[i]);
        if (!bytes)
            continue;
        const auto size = static_cast<std::int64_t>(bytes->size());
        if (held_ + size > budget_ && size > 0) {
            if (!file_) {
                file_ = std::make_unique<QTemporaryFile>(
                    QDir::temp().filePath(QStringLiteral("vellumo-rueckgaengig-XXXXXX")));
                if (!file_->open())
                    file_.reset();
            }
            if (file_) {
                const std::int64_t at = file_->size();
                if (file_->seek(at) &&
                    file_->write(reinterpret_cast<const char*>(bytes->data()), size) == size &&
                    file_->flush()) {
                    change.spilled.push_back(SpilledBytes{static_cast<int>(i), at, size});
                    (*change.before)[i] = std::monostate();
                    spilled_ += size;
                    continue;
                }
                file_->resize(at); // the next one tries again
            }
        }
        held_ += size; // no file to take them: memory, never dropped
    }
}

void History::release(const RecordChange& change) {
    if (change.before)
        for (const px::Value& value : *change.before)
            if (const auto* bytes = std::get_if<px::Bytes>(&value))
                held_ -= static_cast<std::int64_t>(bytes->size());
    for (const SpilledBytes& s : change.spilled)
        spilled_ -= s.size;
    if (spilled_ == 0 && file_ && file_->size() > 0)
        file_->resize(0);
}

void History::release(const HistoryStep& step) {
    for (const RecordChange& change : step.changes)
        release(change);
}

px::Record History::beforeImage(const RecordChange& change) const {
    px::Record image = change.before.value_or(px::Record());
    for (const SpilledBytes& s : change.spilled) {
        px::Bytes bytes(static_cast<std::size_t>(s.size));
        if (!file_ || !file_->seek(s.offset) ||
            file_->read(reinterpret_cast<char*>(bytes.data()), s.size) != s.size)
            throw std::runtime_error("history file unreadable");
        if (static_cast<std::size_t>(s.field) < image.size())
            image[static_cast<std::size_t>(s.field)] = std::move(bytes);
    }
    return image;
}

void History::begin(const QString& label) {
    if (depth_++ == 0)
        open_ = HistoryStep{label, {}};
}

bool History::end(const QString& label) {
    if (depth_ == 0)
        return false;
    if (!label.isEmpty())
        open_.label = label;
    if (--depth_ == 0 && !open_.changes.empty()) {
        open_.changes.shrink_to_fit();
        undo_.push_back(std::move(open_));
    }
    if (depth_ == 0)
        open_ = HistoryStep();
    return true;
}

void History::add(RecordChange change, const QString& label) {
    for (const HistoryStep& step : redo_)
        release(step);
    redo_.clear();
    hold(change);
    if (depth_ > 0) {
        open_.changes.push_back(std::move(change));
        return;
    }
    HistoryStep step{label, {}};
    step.changes.push_back(std::move(change));
    undo_.push_back(std::move(step));
}

void History::dropOpenFrom(std::size_t count) {
    if (count >= open_.changes.size())
        return;
    for (std::size_t n = count; n < open_.changes.size(); ++n)
        release(open_.changes[n]);
    open_.changes.resize(count);
}

void History::undone(HistoryStep inverse) {
    release(undo_.back());
    undo_.pop_back();
    for (RecordChange& change : inverse.changes)
        hold(change);
    redo_.push_back(std::move(inverse));
}

void History::redone(HistoryStep inverse) {
    release(redo_.back());
    redo_.pop_back();
    for (RecordChange& change : inverse.changes)
        hold(change);
    undo_.push_back(std::move(inverse));
}

void History::renamePicture(const px::BlobRef& from, const px::BlobRef& to) {
    auto rename = [&](std::optional<px::Record>& image) {
        if (!image)
            return;
        for (px::Value& value : *image)
            if (const auto* ref = std::get_if<px::BlobRef>(&value); ref && *ref == from)
                value = to;
    };
    for (auto* steps : {&undo_, &redo_})
        for (HistoryStep& step : *steps)
            for (RecordChange& change : step.changes) {
                rename(change.before);
                rename(change.after);
            }
}

void History::clear() {
    undo_.clear();
    redo_.clear();
    open_ = HistoryStep();
    depth_ = 0;
    held_ = 0;
    spilled_ = 0;
    file_.reset();
}

std::int64_t History::bytes() const {
    std::int64_t size = stepBytes(open_);
    for (const auto* steps : {&undo_, &redo_})
        for (const HistoryStep& step : *steps)
            size += stepBytes(step);
    return size;
}

namespace {

QString textOf(const px::Record& record, std::size_t field) {
    if (field >= record.size())
        return QString();
    const auto* text = std::get_if<std::string>(&record[field]);
    return text ? QString::fromUtf8(text->data(), static_cast<qsizetype>(text->size())).trimmed()
                : QString();
}

QString nameOf(const px::Record& record) {
    QStringList parts;
    for (std::size_t field : {std::size_t{0}, std::size_t{1}})
        if (const QString text = textOf(record, field); !text.isEmpty())
            parts << text;
    return parts.isEmpty() ? QStringLiteral("(ohne Namen)") : parts.join(QStringLiteral(", "));
}

bool isEmpty(const px::Value& value) {
    return std::holds_alternative<std::monostate>(value);
}

} // namespace

QString changeLabel(const RecordChange& change, const std::vector<bool>& isPicture) {
    if (!change.before)
        return QStringLiteral("Neue Adresse: %1")
            .arg(change.after ? nameOf(*change.after) : QString());
    if (!change.after)
        return QStringLiteral("Löschen: %1").arg(nameOf(*change.before));
    const px::Record& before = *change.before;
    const px::Record& after = *change.after;
    // A picture stored or removed: the picture differs, and besides it at
    // most a date (the stamp of the change).
    bool picture = false;
    bool pictureRemoved = false;
    bool other = false;
    for (std::size_t i = 0; i < std::max(before.size(), after.size()); ++i) {
        const px::Value none;
        const px::Value& b = i < before.size() ? before[i] : none;
        const px::Value& a = i < after.size() ? after[i] : none;
        if (a == b)
            continue;
        if (i < isPicture.size() && isPicture[i]) {
            picture = true;
            pictureRemoved = isEmpty(a);
        } else if (!std::holds_alternative<px::Date>(a) && !std::holds_alternative<px::Date>(b)) {
            other = true;
        }
    }
    if (picture && !other)
        return (pictureRemoved ? QStringLiteral("Bild gelöscht: %1")
                               : QStringLiteral("Bild gespeichert: %1"))
            .arg(nameOf(after));
    return QStringLiteral("Änderung: %1").arg(nameOf(after));
}

} // namespace vellumo
