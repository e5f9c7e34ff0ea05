#include "platform/database/history.h"

#include <QDir>
#include <QStringList>
#include <QTemporaryFile>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <type_traits>

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

namespace {

template <class T> void putRaw(std::string& out, const T& value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

template <class T> T getRaw(const std::string& in, std::size_t& at) {
    T value{};
    std::memcpy(&value, in.data() + at, sizeof value);
    at += sizeof value;
    return value;
}

// Field by field: the struct's padding would make equal references differ.
void putRef(std::string& out, const px::BlobRef& ref) {
    putRaw(out, ref.pointer);
    putRaw(out, ref.length);
    putRaw(out, ref.modification);
}

void putBytes(std::string& out, const void* data, std::size_t n) {
    putRaw(out, static_cast<std::uint32_t>(n));
    out.append(static_cast<const char*>(data), n);
}

std::string_view getBytes(const std::string& in, std::size_t& at) {
    const auto n = getRaw<std::uint32_t>(in, at);
    const std::string_view bytes(in.data() + at, n);
    at += n;
    return bytes;
}

// Whether a packed image refers to ref, found by walking its values
// (a picture's bytes beside it are skipped, not searched).
bool refersTo(const std::string& packed, const px::BlobRef& ref) {
    std::size_t at = 0;
    while (at < packed.size()) {
        switch (static_cast<unsigned char>(packed[at++])) {
        case 0:
            break;
        case 1:
        case 8:
        case 9:
            at += getRaw<std::uint32_t>(packed, at); // after the length itself
            break;
        case 4:
            at += 1;
            break;
        case 5:
        case 6:
            at += 4;
            break;
        case 2:
        case 3:
        case 7:
            at += 8;
            break;
        default: {
            const auto pointer = getRaw<std::uint32_t>(packed, at);
            const auto length = getRaw<std::uint32_t>(packed, at);
            const auto modification = getRaw<std::uint16_t>(packed, at);
            if (pointer == ref.pointer && length == ref.length && modification == ref.modification)
                return true;
            break;
        }
        }
    }
    return false;
}

} // namespace

std::string packImage(const px::Record& record) {
    std::string out;
    for (const px::Value& value : record) {
        out += static_cast<char>(value.index());
        std::visit(
            [&out](const auto& v) {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, std::string>)
                    putBytes(out, v.data(), v.size());
                else if constexpr (std::is_same_v<T, px::Decimal>)
                    putBytes(out, v.text.data(), v.text.size());
                else if constexpr (std::is_same_v<T, px::Bytes>)
                    putBytes(out, v.data(), v.size());
                else if constexpr (std::is_same_v<T, px::BlobRef>)
                    putRef(out, v);
                else if constexpr (!std::is_same_v<T, std::monostate>)
                    putRaw(out, v);
            },
            value);
    }
    out.shrink_to_fit();
    return out;
}

px::Record unpackImage(const std::string& packed) {
    px::Record record;
    std::size_t at = 0;
    while (at < packed.size()) {
        const auto kind = static_cast<std::size_t>(static_cast<unsigned char>(packed[at++]));
        switch (kind) {
        case 0:
            record.emplace_back(std::monostate{});
            break;
        case 1:
            record.emplace_back(std::string(getBytes(packed, at)));
            break;
        case 2:
            record.emplace_back(getRaw<std::int64_t>(packed, at));
            break;
        case 3:
            record.emplace_back(getRaw<double>(packed, at));
            break;
        case 4:
            record.emplace_back(getRaw<bool>(packed, at));
            break;
        case 5:
            record.emplace_back(getRaw<px::Date>(packed, at));
            break;
        case 6:
            record.emplace_back(getRaw<px::TimeOfDay>(packed, at));
            break;
        case 7:
            record.emplace_back(getRaw<px::Timestamp>(packed, at));
            break;
        case 8:
            record.emplace_back(px::Decimal{std::string(getBytes(packed, at))});
            break;
        case 9: {
            const std::string_view bytes = getBytes(packed, at);
            record.emplace_back(px::Bytes(bytes.begin(), bytes.end()));
            break;
        }
        default: {
            px::BlobRef ref;
            ref.pointer = getRaw<std::uint32_t>(packed, at);
            ref.length = getRaw<std::uint32_t>(packed, at);
            ref.modification = getRaw<std::uint16_t>(packed, at);
            record.emplace_back(ref);
            break;
        }
        }
    }
    return record;
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

History::PackedChange History::holdAndPack(RecordChange change) {
    hold(change);
    PackedChange packed;
    for (const auto* image : {&change.before, &change.after})
        if (*image)
            for (const px::Value& value : **image)
                packed.refersToPictures =
                    packed.refersToPictures || std::holds_alternative<px::BlobRef>(value);
    if (change.before) {
        for (const px::Value& value : *change.before)
            if (const auto* bytes = std::get_if<px::Bytes>(&value))
                packed.heldBytes += static_cast<std::int64_t>(bytes->size());
        packed.before = packImage(*change.before);
    }
    if (change.after)
        packed.after = packImage(*change.after);
    packed.beforeOrigins = std::move(change.beforeOrigins);
    packed.spilled = std::move(change.spilled);
    return packed;
}

void History::release(const PackedChange& change) {
    held_ -= change.heldBytes;
    for (const SpilledBytes& s : change.spilled)
        spilled_ -= s.size;
    if (spilled_ == 0 && file_ && file_->size() > 0)
        file_->resize(0);
}

void History::release(const PackedStep& step) {
    for (const PackedChange& change : step.changes)
        release(change);
}

RecordChange History::unpack(const PackedChange& packed) {
    RecordChange change;
    if (packed.before)
        change.before = unpackImage(*packed.before);
    if (packed.after)
        change.after = unpackImage(*packed.after);
    change.beforeOrigins = packed.beforeOrigins;
    change.spilled = packed.spilled;
    return change;
}

RecordChange History::undoChange(std::size_t index) const {
    return unpack(undo_.back().changes.at(index));
}

RecordChange History::redoChange(std::size_t index) const {
    return unpack(redo_.back().changes.at(index));
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
        open_ = PackedStep{label, {}};
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
        open_ = PackedStep();
    return true;
}

void History::add(RecordChange change, const QString& label) {
    for (const PackedStep& step : redo_)
        release(step);
    redo_.clear();
    PackedChange packed = holdAndPack(std::move(change));
    if (depth_ > 0) {
        open_.changes.push_back(std::move(packed));
        return;
    }
    PackedStep step{label, {}};
    step.changes.push_back(std::move(packed));
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
    PackedStep packed{std::move(inverse.label), {}};
    for (RecordChange& change : inverse.changes)
        packed.changes.push_back(holdAndPack(std::move(change)));
    redo_.push_back(std::move(packed));
}

void History::redone(HistoryStep inverse) {
    release(redo_.back());
    redo_.pop_back();
    PackedStep packed{std::move(inverse.label), {}};
    for (RecordChange& change : inverse.changes)
        packed.changes.push_back(holdAndPack(std::move(change)));
    undo_.push_back(std::move(packed));
}

void History::renamePicture(const px::BlobRef& from, const px::BlobRef& to) {
    auto rename = [&](px::Record& image) {
        bool renamed = false;
        for (px::Value& value : image)
            if (const auto* ref = std::get_if<px::BlobRef>(&value); ref && *ref == from) {
                value = to;
                renamed = true;
            }
        return renamed;
    };
    auto renamePacked = [&](std::optional<std::string>& packed) {
        if (!packed || !refersTo(*packed, from))
            return;
        px::Record image = unpackImage(*packed);
        if (rename(image))
            packed = packImage(image);
    };
    for (auto* steps : {&undo_, &redo_})
        for (PackedStep& step : *steps)
            for (PackedChange& change : step.changes)
                if (change.refersToPictures) {
                    renamePacked(change.before);
                    renamePacked(change.after);
                }
}

void History::clear() {
    undo_.clear();
    redo_.clear();
    open_ = PackedStep();
    depth_ = 0;
    held_ = 0;
    spilled_ = 0;
    file_.reset();
}

std::int64_t History::bytes() const {
    auto stepSize = [](const PackedStep& step) {
        auto size = static_cast<std::int64_t>(sizeof(PackedStep) +
                                              step.changes.capacity() * sizeof(PackedChange));
        for (const PackedChange& change : step.changes)
            for (const auto* image : {&change.before, &change.after})
                if (*image && image->value().size() > 15)
                    size += static_cast<std::int64_t>(image->value().capacity());
        return size;
    };
    std::int64_t size = stepSize(open_);
    for (const auto* steps : {&undo_, &redo_})
        for (const PackedStep& step : *steps)
            size += stepSize(step);
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
