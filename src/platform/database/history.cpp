#include "platform/database/history.h"

#include <QStringList>

#include <algorithm>

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
    redo_.clear();
    if (depth_ > 0) {
        open_.changes.push_back(std::move(change));
        return;
    }
    HistoryStep step{label, {}};
    step.changes.push_back(std::move(change));
    undo_.push_back(std::move(step));
}

void History::dropOpenFrom(std::size_t count) {
    if (count < open_.changes.size())
        open_.changes.resize(count);
}

void History::undone(HistoryStep inverse) {
    undo_.pop_back();
    redo_.push_back(std::move(inverse));
}

void History::redone(HistoryStep inverse) {
    redo_.pop_back();
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
