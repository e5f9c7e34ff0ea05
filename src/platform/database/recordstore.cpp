#include "platform/database/recordstore.h"

#include "platform/database/enginedate.h"
#include "platform/database/filter.h"
#include "platform/database/history.h"
#include "platform/paradox/table.h"
#include "platform/system/system.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <exception>
#include <optional>

namespace vellumo {

namespace {

const char* const kClosed = "Operation bei geschlossener Datenmenge nicht ausführbar";
const char* const kOpen = "Operation bei geöffneter Datenmenge nicht ausführbar";
const char* const kEmpty = "Operation bei leerer Datenmenge nicht ausführbar";
const char* const kGone = "Der Datensatz ist nicht mehr vorhanden";
const char* const kNotEditing = "Datenmenge befindet sich nicht im Editier- oder Einfügemodus";
const char* const kBroken = "Die Tabelle ist nach einem Schreibfehler nicht mehr lesbar. Bitte "
                            "schließen Sie die Tabelle und öffnen Sie sie erneut.";

QString tr(const char* text) {
    return QString::fromUtf8(text);
}

StoreError fieldNotFound(const QString& name) {
    return StoreError(tr("Feld '%1' nicht gefunden").arg(name));
}

StoreError invalidFilter(const QString& expression) {
    return StoreError(tr("Ungültiger Filterausdruck: %1").arg(expression));
}

FieldKind kindOf(px::FieldType type) {
    switch (type) {
    case px::FieldType::Alpha:
        return FieldKind::Text;
    case px::FieldType::Date:
        return FieldKind::Date;
    case px::FieldType::Memo:
        return FieldKind::Memo;
    case px::FieldType::Graphic:
        return FieldKind::Graphic;
    default:
        return FieldKind::Other;
    }
}

QString dateTimeText(const QDateTime& value) {
    if (value.time() == QTime(0, 0))
        return formatGermanDate(value.date());
    return formatGermanDate(value.date()) + value.time().toString(u" hh:mm:ss");
}

// How a value reads as text: in bound controls, grids and the filter.
QString textOf(const px::Value& value) {
    return std::visit(
        [](const auto& v) -> QString {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string>)
                return QString::fromUtf8(v.data(), static_cast<qsizetype>(v.size()));
            else if constexpr (std::is_same_v<T, px::Date>)
                return formatGermanDate(fromEngineDate(v));
            else if constexpr (std::is_same_v<T, std::int64_t>)
                return QString::number(v);
            else if constexpr (std::is_same_v<T, double>)
                return QString::number(v).replace(u'.', u',');
            else if constexpr (std::is_same_v<T, bool>)
                return v ? QStringLiteral("Wahr") : QStringLiteral("Falsch");
            else if constexpr (std::is_same_v<T, px::TimeOfDay>)
                return QTime::fromMSecsSinceStartOfDay(v.ms).toString(u"hh:mm:ss");
            else if constexpr (std::is_same_v<T, px::Timestamp>) {
                // A damaged field may hold any double: no date then, the number.
                const auto parts = px::splitTimestamp(v);
                if (!parts)
                    return QString::number(v.ms).replace(u'.', u',');
                return dateTimeText(QDateTime(fromEngineDate(px::Date{parts->day}),
                                              QTime::fromMSecsSinceStartOfDay(parts->ms)));
            } else if constexpr (std::is_same_v<T, px::Decimal>)
                return QString::fromStdString(v.text).replace(u'.', u',');
            else
                return QString(); // null, pictures and other binary data
        },
        value);
}

QVariant variantOf(const px::Value& value) {
    return std::visit(
        [&](const auto& v) -> QVariant {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>)
                return QVariant();
            else if constexpr (std::is_same_v<T, std::string>)
                return QString::fromUtf8(v.data(), static_cast<qsizetype>(v.size()));
            else if constexpr (std::is_same_v<T, px::Date>)
                return fromEngineDate(v);
            else if constexpr (std::is_same_v<T, std::int64_t>)
                return QVariant::fromValue<qlonglong>(v);
            else if constexpr (std::is_same_v<T, double>)
                return v;
            else if constexpr (std::is_same_v<T, bool>)
                return v;
            else if constexpr (std::is_same_v<T, px::Bytes>)
                return QByteArray(reinterpret_cast<const char*>(v.data()),
                                  static_cast<qsizetype>(v.size()));
            else
                return textOf(value);
        },
        value);
}

// Memo lines end in CR LF in the table and in LF on this side.
QString textOf(FieldKind kind, const px::Value& value) {
    QString text = textOf(value);
    if (kind == FieldKind::Memo)
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

QVariant variantOf(FieldKind kind, const px::Value& value) {
    if (kind == FieldKind::Memo && std::holds_alternative<std::string>(value))
        return textOf(kind, value);
    return variantOf(value);
}

std::string encodePath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace

struct RecordStore::Impl {
    struct FieldDecl {
        QString name;
        FieldKind kind;
        int size;
    };
    struct IndexDecl {
        QString name;
        QString fields;
        int options;
    };

    explicit Impl(px::FileSystem& fileSystem) : fs(fileSystem) {}

    px::FileSystem& fs;
    std::vector<FieldDecl> fieldDecls;
    std::vector<IndexDecl> indexDecls;
    QString boundName;
    QString path; // resolved when opened or created

    std::unique_ptr<px::Table> table;
    std::vector<FieldInfo> fields;
    StoreState state = StoreState::Closed;

    // The current record: a position in key order in the whole table, -1 for
    // none. While the filter is on it is always one of the passing positions.
    // While inserting it stays on the record that was current before, so that
    // dropping the new record returns there.
    std::int64_t current = -1;
    mutable std::optional<px::Record> cached; // the stored current record
    mutable std::optional<px::Value> single;  // one field of it, when it cannot be read whole
    px::Record buffer;                        // while editing or inserting
    bool modified = false;
    bool broken = false;            // see change()
    std::int64_t lastSaved = -1;    // position of the record the last save wrote
    QSet<QString> reportedFailures; // claimFailureReport, while this table is open

    QString filterText;
    std::optional<FilterExpression> filter;
    bool filterActive = false;
    std::vector<std::uint32_t> passing;               // positions that pass, ascending
    std::shared_ptr<const RecordFilter> recordFilter; // in place of the expression

    struct Required {
        QString name; // as the first control named it
        int count = 0;
    };
    QHash<QString, Required> requiredFields; // by lower-case name

    int depth = 0;
    unsigned pending = 0;
    bool openReadOnly = false;

    // Bulk insertion: the open batch of the engine and when to commit it.
    struct Bulk {
        bool active = false;
        bool batchOpen = false;
        int stored = 0;      // records in committed batches
        int inBatch = 0;     // records saved into the open batch
        qint64 bytes = 0;    // roughly, of the open batch
        QElapsedTimer since; // the open batch began
    } bulk;
    static constexpr int kBatchRecords = 500;
    static constexpr qint64 kBatchBytes = 4 << 20;
    static constexpr qint64 kBatchMilliseconds = 1000;
    QString pendingField;
    bool pendingFieldMixed = false;
    bool flushing = false;
    RecordStore* owner = nullptr;
    Listeners<unsigned, const QString&> changeListeners;
    Listeners<> pendingInputWriters;
    Listeners<const StoredChange&> storedListeners;

    History history;
    Listeners<> historyListeners;
    QString historyTable;           // the table the history is of
    bool bulkGroup = false;         // the bulk made the history's group
    std::size_t batchHistoryAt = 0; // changes of the group before the open batch
    // The fields BeforePost stamps: a record written back carries a stamp of
    // today, not the one its image in an older step has, so these are not
    // compared; and a save that changes nothing but them (BeforeClose's) is
    // no step.
    std::vector<bool> stampFields;
    bool stamping = false; // BeforePost runs

    void tellStored(StoredChange::Kind kind, std::int64_t from = -1, std::int64_t to = -1) {
        try {
            storedListeners.callAll(
                StoredChange{kind, static_cast<int>(from), static_cast<int>(to)});
        } catch (...) {
            // What keeps a copy of the records answers for it; the change stands.
        }
    }

    // --- notifications -------------------------------------------------

    void mark(unsigned changes, const QString& field = QString()) {
        if (changes & DataChange) {
            if (!(pending & DataChange))
                pendingField = field;
            else if (pendingField.compare(field, Qt::CaseInsensitive) != 0)
                pendingFieldMixed = true;
        }
        pending |= changes;
    }

    void deliver() {
        if (!pending)
            return;
        const unsigned changes = pending;
        const QString field = pendingFieldMixed ? QString() : pendingField;
        pending = 0;
        pendingField.clear();
        pendingFieldMixed = false;
        changeListeners.callAll(changes, field);
    }

    // Every public operation holds one: notifications go out once, when the
    // outermost operation ends, also when it ends with an error (the store
    // may have changed before the error).
    struct Op {
        explicit Op(Impl& impl) : d(impl), exceptions(std::uncaught_exceptions()) { ++d.depth; }
        ~Op() noexcept(false) {
            if (--d.depth != 0)
                return;
            if (std::uncaught_exceptions() > exceptions) {
                try {
                    d.deliver();
                } catch (...) {
                }
            } else {
                d.deliver();
            }
        }
        Op(const Op&) = delete;
        Op& operator=(const Op&) = delete;
        Impl& d;
        int exceptions;
    };

    // --- engine access -----------------------------------------------------

    template <class F> static auto engine(F&& f) -> decltype(f()) {
        try {
            return f();
        } catch (const StoreError&) {
            throw;
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const px::KeyViolation& e) {
            throw StoreError(QString::fromUtf8(e.what()), ErrorKind::Duplicate);
        } catch (const px::StorageFailure& e) {
            throw StoreError(QString::fromUtf8(e.what()), ErrorKind::Storage);
        } catch (const std::exception& e) {
            throw StoreError(QString::fromUtf8(e.what()));
        }
    }

    bool isOpen() const { return state != StoreState::Closed; }
    bool isEditing() const {
        return state == StoreState::Editing || state == StoreState::Inserting;
    }

    void requireOpen() const {
        if (!isOpen())
            throw StoreError(tr(kClosed));
        requireUsable();
    }

    void requireUsable() const {
        if (broken)
            throw StoreError(tr(kBroken), ErrorKind::Storage);
    }

    // A change of the engine. When the change failed and the engine could not
    // even read its files back, nothing it says is true any more (it would
    // report an empty table): from here on every operation is refused until
    // the table is closed and opened again.
    template <class F> auto change(F&& f) -> decltype(f()) {
        try {
            return engine(std::forward<F>(f));
        } catch (...) {
            if (table && !table->isUsable())
                breakDown();
            throw;
        }
    }

    void breakDown() {
        broken = true;
        state = StoreState::Browsing;
        buffer.clear();
        modified = false;
        cached.reset();
        passing.clear();
        mark(StateChange | CurrentChange | DataChange | RecordsChange);
    }

    std::uint32_t tableCount() const { return table ? table->recordCount() : 0; }

    std::int64_t count() const {
        if (!isOpen() || broken)
            return 0;
        return filterActive ? static_cast<std::int64_t>(passing.size()) : tableCount();
    }

    std::int64_t visibleOf(std::int64_t position) const {
        if (position < 0)
            return -1;
        if (!filterActive)
            return position;
        auto it =
            std::lower_bound(passing.begin(), passing.end(), static_cast<std::uint32_t>(position));
        return it - passing.begin();
    }

    std::int64_t positionOf(std::int64_t visible) const {
        if (visible < 0 || visible >= count())
            return -1;
        return filterActive ? passing[static_cast<std::size_t>(visible)] : visible;
    }

    void setCurrent(std::int64_t position) {
        if (position != current)
            mark(CurrentChange);
        current = position;
        cached.reset();
    }

    // Makes the record at position current, or when it does not pass the
    // filter, the next one that does, else the last one that does.
    void placeAt(std::int64_t position) {
        cached.reset();
        if (!filterActive) {
            const std::int64_t n = tableCount();
            setCurrent(n == 0 ? -1 : std::min(position, n - 1));
            return;
        }
        auto it = std::lower_bound(passing.begin(), passing.end(),
                                   static_cast<std::uint32_t>(std::max<std::int64_t>(position, 0)));
        if (it != passing.end())
            setCurrent(*it);
        else
            setCurrent(passing.empty() ? -1 : passing.back());
    }

    const px::Record& storedCurrent() const {
        if (!cached) {
            // Only the record itself: a picture stays in the .mb until asked for.
            cached = engine(
                [&] { return table->read(static_cast<std::uint32_t>(current), px::Blobs::Refer); });
        }
        return *cached;
    }

    // The values the current record shows: the edited ones while editing.
    const px::Value* currentValue(int field) const {
        if (isEditing())
            return &buffer[static_cast<std::size_t>(field)];
        if (!isOpen() || current < 0)
            return nullptr;
        const px::Record* record = nullptr;
        try {
            record = &storedCurrent();
        } catch (const StoreError&) {
            // One damaged memo or picture must not hide the rest of the
            // address: the other fields are read one by one, and only the
            // damaged one raises.
            single = engine([&] {
                return table->readField(static_cast<std::uint32_t>(current), field,
                                        px::Blobs::Refer);
            });
            return &*single;
        }
        if (field >= static_cast<int>(record->size()))
            return nullptr;
        return &(*record)[static_cast<std::size_t>(field)];
    }

    // A value for the program: the bytes of a picture that was only referred
    // to are read now, from the record at position, and are not kept.
    QVariant resolved(int field, const px::Value& value, std::int64_t position) const {
        if (std::holds_alternative<px::BlobRef>(value))
            return bytesAt(field, position);
        return variantOf(kindOf(field), value);
    }

    // The bytes of a picture (or other binary field), read from the .mb
    // straight into the QByteArray that the holder, the decoder and the
    // export then share: no copy of the megabytes on this side.
    QVariant bytesAt(int field, std::int64_t position) const {
        QByteArray bytes;
        engine([&] {
            table->readBytesInto(
                static_cast<std::uint32_t>(position), field, [&](std::size_t size) {
                    bytes = QByteArray(static_cast<qsizetype>(size), Qt::Uninitialized);
                    return reinterpret_cast<std::uint8_t*>(bytes.data());
                });
        });
        return bytes.isEmpty() ? QVariant() : QVariant(bytes);
    }

    FieldKind kindOf(int field) const { return fields[static_cast<std::size_t>(field)].kind; }

    int indexOf(const QString& name) const {
        for (std::size_t i = 0; i < fields.size(); ++i)
            if (fields[i].name.compare(name, Qt::CaseInsensitive) == 0)
                return static_cast<int>(i);
        return -1;
    }

    int requireIndex(const QString& name) const {
        const int i = indexOf(name);
        if (i < 0)
            throw fieldNotFound(name);
        return i;
    }

    // --- filter ------------------------------------------------------------

    // The field the expression compares, checked against the open table.
    int filterField(const QString& expression, const FilterExpression& f) const {
        if (f.passesAll())
            return -1;
        const int i = indexOf(f.field);
        if (i < 0)
            throw invalidFilter(expression);
        const FieldKind kind = fields[static_cast<std::size_t>(i)].kind;
        if (kind == FieldKind::Memo || kind == FieldKind::Graphic)
            throw invalidFilter(expression);
        return i;
    }

    void rebuildPassing() {
        passing.clear();
        if (!filterActive)
            return;
        if (recordFilter) {
            passing = recordFilter->passingPositions();
            return;
        }
        const std::uint32_t n = tableCount();
        const int field = filter ? filterField(filterText, *filter) : -1;
        if (field < 0) {
            passing.resize(n);
            for (std::uint32_t i = 0; i < n; ++i)
                passing[i] = i;
            return;
        }
        passing.reserve(n / 8);
        const FilterExpression& f = *filter;
        engine([&] {
            table->scanField(field, [&](std::uint32_t position, const px::Value& value) {
                if (f.matches(textOf(value)))
                    passing.push_back(position);
                return true;
            });
        });
        if (!std::is_sorted(passing.begin(), passing.end()))
            std::sort(passing.begin(), passing.end());
    }

    // --- editing -----------------------------------------------------------

    void flush() {
        if (pendingInputWriters.empty() || flushing || !isOpen())
            return;
        flushing = true;
        try {
            pendingInputWriters.callEach();
        } catch (...) {
            flushing = false;
            throw;
        }
        flushing = false;
    }

    void discard() {
        if (!isEditing())
            return;
        const bool inserting = state == StoreState::Inserting;
        state = StoreState::Browsing;
        buffer.clear();
        modified = false;
        cached.reset();
        mark(StateChange | DataChange);
        if (inserting)
            mark(CurrentChange | RecordsChange);
    }

    // BeforePost, noting the fields it stamps (see stampFields).
    void beforePost() {
        if (!owner->BeforePost)
            return;
        stamping = true;
        try {
            owner->BeforePost();
        } catch (...) {
            stamping = false;
            throw;
        }
        stamping = false;
    }

    void save() {
        if (!isEditing())
            return;
        beforePost();
        if (!isEditing())
            return;
        const bool inserting = state == StoreState::Inserting;
        const bool batched = inserting && bulk.active;
        if (batched && !bulk.batchOpen) {
            change([&] { table->beginBatch(); });
            bulk.batchOpen = true;
            bulk.since.start();
            batchHistoryAt = history.openCount();
        }
        const std::int64_t before = current;
        // The history is never a reason to refuse a save: a record it cannot
        // read is left out of it (undoing an older step then finds it changed).
        RecordChange step;
        bool remembered = true;
        try {
            if (!inserting)
                step.before = imageOf(current, &buffer, step.beforeOrigins);
        } catch (...) {
            remembered = false;
        }
        std::uint32_t position = 0;
        try {
            position = change([&] {
                return inserting ? table->insert(buffer)
                                 : table->update(static_cast<std::uint32_t>(current), buffer);
            });
        } catch (const StoreError& e) {
            if (e.kind() == ErrorKind::Storage && bulk.active)
                endBulkAfterFailure();
            throw;
        }
        tellStored(inserting ? StoredChange::Inserted : StoredChange::Updated,
                   inserting ? -1 : before, position);
        if (remembered)
            rememberWritten(std::move(step), position);
        const bool passes = matchesFilter(buffer, position);
        if (batched)
            countIntoBatch();
        state = StoreState::Browsing;
        buffer.clear();
        modified = false;
        cached.reset();
        mark(StateChange | DataChange | RecordsChange);
        if (inserting)
            mark(CurrentChange);
        lastSaved = position;
        if (batched) {
            // The filter and the listeners catch up when the batch is committed.
            current = position;
            if (bulkBatchFull())
                commitBatch();
            return;
        }
        movePassing(inserting ? -1 : before, position, passes);
        placeAt(position);
    }

    // --- bulk ----------------------------------------------------------------

    void countIntoBatch() {
        ++bulk.inBatch;
        for (const px::Value& v : buffer) {
            if (const auto* text = std::get_if<std::string>(&v))
                bulk.bytes += static_cast<qint64>(text->size());
            else if (const auto* bytes = std::get_if<px::Bytes>(&v))
                bulk.bytes += static_cast<qint64>(bytes->size());
        }
    }

    bool bulkBatchFull() const {
        return bulk.inBatch >= kBatchRecords || bulk.bytes >= kBatchBytes ||
               bulk.since.elapsed() >= kBatchMilliseconds;
    }

    // Commits the open batch; the filter takes its records in and the
    // listeners hear of them once.
    void commitBatch() {
        if (!bulk.batchOpen)
            return;
        bulk.batchOpen = false;
        try {
            change([&] { table->commitBatch(); });
        } catch (const StoreError&) {
            endBulkAfterFailure();
            throw;
        }
        bulk.stored += bulk.inBatch;
        bulk.inBatch = 0;
        bulk.bytes = 0;
        const std::int64_t position = current;
        rebuildPassing();
        placeAt(position);
        mark(RecordsChange | CurrentChange | DataChange);
        const int saved = depth;
        depth = 0;
        deliver();
        depth = saved;
    }

    // The engine rolled the open batch back: the cursor goes where it can.
    void endBulkAfterFailure() {
        history.dropOpenFrom(batchHistoryAt);
        if (bulk.active) {
            bulk.active = false;
            --depth;
            endBulkGroup();
        }
        bulk.batchOpen = false;
        bulk.inBatch = 0;
        bulk.bytes = 0;
        cached.reset();
        if (table && !table->isUsable()) {
            breakDown();
            return;
        }
        tellStored(StoredChange::Reloaded);
        rebuildPassing();
        placeAt(std::min<std::int64_t>(current, tableCount() - 1));
        mark(RecordsChange | CurrentChange | DataChange);
    }

    // Whether a record (as the engine was given it) passes the filter.
    bool matchesFilter(const px::Record& record, std::uint32_t position) const {
        if (!filterActive)
            return true;
        if (recordFilter)
            return recordFilter->passes(static_cast<int>(position));
        const int field = filter ? filterField(filterText, *filter) : -1;
        if (field < 0)
            return true;
        return static_cast<std::size_t>(field) < record.size() &&
               filter->matches(textOf(record[static_cast<std::size_t>(field)]));
    }

    // After one record was saved: the passing positions follow it without
    // rescanning the table. from is its position before (-1 when new).
    void movePassing(std::int64_t from, std::uint32_t to, bool passes) {
        if (!filterActive)
            return;
        if (from >= 0) {
            const auto old = static_cast<std::uint32_t>(from);
            const auto at = std::lower_bound(passing.begin(), passing.end(), old);
            if (at != passing.end() && *at == old)
                passing.erase(at);
            for (std::uint32_t& p : passing)
                if (p > old)
                    --p;
        }
        for (std::uint32_t& p : passing)
            if (p >= to)
                ++p;
        if (passes)
            passing.insert(std::lower_bound(passing.begin(), passing.end(), to), to);
    }

    void settle() {
        requireOpen();
        flush();
        if (!isEditing())
            return;
        if (modified)
            save();
        else
            discard();
    }

    void beginInsert() {
        state = StoreState::Inserting;
        buffer.assign(fields.size(), px::Value{});
        modified = false;
        mark(StateChange | CurrentChange | RecordsChange);
    }

    void setValue(const QString& name, const QVariant& value) {
        requireOpen();
        const int i = requireIndex(name);
        if (!isEditing())
            throw StoreError(tr(kNotEditing));
        px::Value converted = convert(i, value);
        if (stamping) {
            stampFields.resize(fields.size());
            stampFields[static_cast<std::size_t>(i)] = true;
        }
        px::Value& slot = buffer[static_cast<std::size_t>(i)];
        if (slot == converted)
            return;
        slot = std::move(converted);
        modified = true;
        mark(DataChange, fields[static_cast<std::size_t>(i)].name);
    }

    // A value for field i as the engine stores it, by the rules of setValue.
    px::Value convert(int i, const QVariant& value) const {
        const FieldInfo& info = fields[static_cast<std::size_t>(i)];
        px::Value converted;
        const bool empty = value.isNull() || !value.isValid();
        switch (info.kind) {
        case FieldKind::Text:
        case FieldKind::Memo: {
            QString text = value.typeId() == QMetaType::QDateTime ? dateTimeText(value.toDateTime())
                           : value.typeId() == QMetaType::QDate   ? formatGermanDate(value.toDate())
                                                                  : value.toString();
            // A bound entry already stops at the field size. Longer text from
            // elsewhere is refused rather than cut: nothing is stored shortened.
            if (info.kind == FieldKind::Text && info.size > 0 && text.size() > info.size)
                throw StoreError(tr("Der Text ist zu lang für das Feld '%1' (höchstens %2 Zeichen)")
                                     .arg(info.name)
                                     .arg(info.size));
            if (info.kind == FieldKind::Memo) {
                text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
                text.replace(u'\n', QStringLiteral("\r\n"));
            }
            if (!empty && !text.isEmpty())
                converted = text.toStdString();
            break;
        }
        case FieldKind::Date: {
            QDate date;
            if (value.typeId() == QMetaType::QDate)
                date = value.toDate();
            else if (value.typeId() == QMetaType::QDateTime)
                date = value.toDateTime().date();
            else if (!empty)
                date = parseGermanDate(value.toString());
            if (date.isValid())
                converted = toEngineDate(date);
            break;
        }
        case FieldKind::Graphic: {
            if (!empty && value.typeId() != QMetaType::QByteArray)
                throw StoreError(tr("Feld '%1' kann nur ein Bild aufnehmen").arg(info.name));
            const QByteArray bytes = value.toByteArray();
            if (!bytes.isEmpty())
                converted = px::Bytes(bytes.begin(), bytes.end());
            break;
        }
        case FieldKind::Other:
            throw StoreError(tr("Feld '%1' kann nicht geändert werden").arg(info.name));
        }
        return converted;
    }

    // --- history -------------------------------------------------------------

    // The stored record at position as the history keeps it: a picture that
    // next (the record about to be written there, none for a removal) keeps
    // stays a reference; one it replaces or removes is read, since its place
    // in the table is then given up.
    px::Record imageOf(std::int64_t position, const px::Record* next, PictureOrigins& origins) {
        const auto at = static_cast<std::uint32_t>(position);
        px::Record image = engine([&] { return table->read(at, px::Blobs::Refer); });
        for (std::size_t i = 0; i < image.size(); ++i) {
            const auto* ref = std::get_if<px::BlobRef>(&image[i]);
            if (!ref || (next && i < next->size() && (*next)[i] == image[i]))
                continue;
            origins.emplace_back(static_cast<int>(i), *ref);
            image[i] = engine([&] { return table->readField(at, static_cast<int>(i)); });
        }
        return image;
    }

    std::vector<bool> pictureFields() const {
        std::vector<bool> pictures;
        for (const FieldInfo& f : fields)
            pictures.push_back(f.kind == FieldKind::Graphic);
        return pictures;
    }

    void remember(RecordChange step) {
        if (step.before && step.after && sameRecord(*step.before, *step.after))
            return; // written as it was but for the stamp (a save without a change)
        const QString label = history.grouping() ? QString() : changeLabel(step, pictureFields());
        history.add(std::move(step), label);
    }

    void rememberWritten(RecordChange step, std::uint32_t position) noexcept {
        try {
            step.after = engine([&] { return table->read(position, px::Blobs::Refer); });
            remember(std::move(step));
        } catch (...) {
        }
    }

    void endBulkGroup() {
        if (bulkGroup) {
            bulkGroup = false;
            history.end();
            try {
                historyListeners.callAll();
            } catch (...) {
            }
        }
    }

    // The position of the stored record with the key of image (every field
    // when the table has no key), -1 when there is none.
    std::int64_t locate(const px::Record& image) {
        const auto keyFields = static_cast<std::size_t>(table->info().keyFieldCount);
        const std::uint32_t n = tableCount();
        if (keyFields == 0 || image.size() < keyFields) {
            for (std::uint32_t p = 0; p < n; ++p)
                if (engine([&] { return table->read(p, px::Blobs::Refer); }) == image)
                    return p;
            return -1;
        }
        const px::Record key(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(keyFields));
        // Keys that differ in case only sort side by side: the exact one is near.
        const std::uint32_t first = engine([&] { return table->lowerBound(key); });
        for (std::uint32_t p = first; p < n && p < first + 64; ++p) {
            px::Record found = engine([&] { return table->read(p, px::Blobs::Refer); });
            found.resize(keyFields);
            if (found == key)
                return p;
        }
        return -1;
    }

    // image as it is written back: through BeforePost like every save.
    px::Record stamped(px::Record image, bool inserting, std::int64_t at) {
        image.resize(fields.size());
        state = inserting ? StoreState::Inserting : StoreState::Editing;
        current = inserting ? current : at;
        cached.reset();
        buffer = std::move(image);
        modified = true;
        try {
            beforePost();
        } catch (...) {
            state = StoreState::Browsing;
            buffer.clear();
            modified = false;
            throw;
        }
        state = StoreState::Browsing;
        image = std::move(buffer);
        buffer.clear();
        modified = false;
        return image;
    }

    // Equal but for the stamps of BeforePost.
    bool sameRecord(const px::Record& a, const px::Record& b) const {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (a[i] != b[i] && !(i < stampFields.size() && stampFields[i]))
                return false;
        return true;
    }

    static QString nameOf(const px::Record& image) {
        RecordChange change;
        change.before = image;
        // "Löschen: Name, Vorname"
        return changeLabel(change, {}).section(u' ', 1);
    }

    // Writes back what the records of step were before it (Undo), in one
    // batch of the engine; returns what that did, so that it can be written
    // back in turn. A record that is not as the step left it refuses all.
    HistoryStep applyStep(bool undo, const QString& verb) {
        auto refusal = [&](const QString& why) {
            return StoreError(tr("%1 nicht möglich: %2").arg(verb, why));
        };
        // The step's changes are unpacked one at a time, last first.
        const std::size_t count = undo ? history.undoChanges() : history.redoChanges();
        HistoryStep inverse{undo ? history.undoLabel() : history.redoLabel(), {}};
        inverse.changes.reserve(count);
        std::vector<std::pair<px::BlobRef, px::BlobRef>> renamed;
        auto rename = [&](const px::BlobRef& from, const px::BlobRef& to, HistoryStep& also) {
            history.renamePicture(from, to);
            for (RecordChange& c : also.changes)
                for (auto* image : {&c.before, &c.after})
                    if (*image)
                        for (px::Value& v : **image)
                            if (const auto* r = std::get_if<px::BlobRef>(&v); r && *r == from)
                                v = to;
        };
        change([&] { table->beginBatch(); });
        std::int64_t last = current;
        try {
            for (std::size_t n = count; n-- > 0;) {
                const RecordChange c = undo ? history.undoChange(n) : history.redoChange(n);
                const px::Record* from = c.after ? &*c.after : nullptr;
                std::optional<px::Record> before;
                if (c.before) {
                    try {
                        before = history.beforeImage(c);
                    } catch (const std::exception&) {
                        throw refusal(tr("Ein Bild der Adresse „%1“ lässt sich nicht mehr lesen.")
                                          .arg(nameOf(*c.before)));
                    }
                }
                const px::Record* to = before ? &*before : nullptr;
                std::int64_t at = -1;
                if (from) {
                    at = locate(*from);
                    if (at < 0)
                        throw refusal(
                            tr("Die Adresse „%1“ ist nicht mehr vorhanden.").arg(nameOf(*from)));
                    const px::Record stored = engine([&] {
                        return table->read(static_cast<std::uint32_t>(at), px::Blobs::Refer);
                    });
                    if (!sameRecord(stored, *from))
                        throw refusal(
                            tr("Die Adresse „%1“ wurde inzwischen geändert.").arg(nameOf(*from)));
                }
                RecordChange undone;
                if (!to) {
                    undone.before = imageOf(at, nullptr, undone.beforeOrigins);
                    change([&] { table->remove(static_cast<std::uint32_t>(at)); });
                    tellStored(StoredChange::Removed, at);
                    last = at;
                } else {
                    const px::Record written = stamped(*to, from == nullptr, at);
                    if (from)
                        undone.before = imageOf(at, &written, undone.beforeOrigins);
                    std::uint32_t position = 0;
                    try {
                        position = change([&] {
                            return from ? table->update(static_cast<std::uint32_t>(at), written)
                                        : table->insert(written);
                        });
                    } catch (const StoreError& e) {
                        if (e.kind() != ErrorKind::Duplicate)
                            throw;
                        throw refusal(
                            tr("Eine Adresse „%1“ gibt es inzwischen schon.").arg(nameOf(written)));
                    }
                    tellStored(from ? StoredChange::Updated : StoredChange::Inserted, at, position);
                    undone.after = engine([&] { return table->read(position, px::Blobs::Refer); });
                    for (const auto& [field, old] : c.beforeOrigins) {
                        const auto* now = std::get_if<px::BlobRef>(
                            &(*undone.after)[static_cast<std::size_t>(field)]);
                        if (now && *now != old) {
                            rename(old, *now, inverse);
                            renamed.emplace_back(old, *now);
                        }
                    }
                    last = position;
                }
                inverse.changes.push_back(std::move(undone));
            }
            change([&] { table->commitBatch(); });
        } catch (...) {
            for (auto it = renamed.rbegin(); it != renamed.rend(); ++it)
                history.renamePicture(it->second, it->first);
            if (table->isUsable()) {
                try {
                    table->rollbackBatch();
                } catch (...) {
                }
                if (!table->isUsable()) {
                    breakDown();
                    throw;
                }
                tellStored(StoredChange::Reloaded);
                rebuildPassing();
                placeAt(std::min<std::int64_t>(current, tableCount() - 1));
                mark(StateChange | RecordsChange | CurrentChange | DataChange);
            }
            throw;
        }
        rebuildPassing();
        cached.reset();
        placeAt(last);
        mark(StateChange | RecordsChange | CurrentChange | DataChange);
        return inverse;
    }

    // --- opening and closing ------------------------------------------------

    QString resolvedPath() const {
        return RecordStore::tableFileName(QDir::current().absoluteFilePath(boundName));
    }

    void closeNow() {
        if (!isOpen())
            return;
        if (bulk.active && depth > 0)
            --depth;
        if (bulk.batchOpen)
            history.dropOpenFrom(batchHistoryAt);
        if (bulk.active)
            endBulkGroup();
        bulk = Bulk();
        table.reset();
        fields.clear();
        state = StoreState::Closed;
        broken = false;
        reportedFailures.clear();
        current = -1;
        cached.reset();
        buffer.clear();
        modified = false;
        // A filter left on must not narrow the next table unseen.
        filterActive = false;
        recordFilter.reset();
        passing.clear();
        tellStored(StoredChange::Closed);
        mark(StateChange | CurrentChange | DataChange | RecordsChange);
    }
};

RecordStore::RecordStore() : RecordStore(px::defaultFileSystem()) {}

RecordStore::RecordStore(px::FileSystem& fs) : d(std::make_unique<Impl>(fs)) {
    d->owner = this;
}

RecordStore::~RecordStore() = default;

Subscription RecordStore::subscribePendingInput(std::function<void()> write) {
    return d->pendingInputWriters.add(std::move(write));
}

Subscription
RecordStore::subscribeStoredChanges(std::function<void(const StoredChange& change)> listener) {
    return d->storedListeners.add(std::move(listener));
}

Subscription RecordStore::subscribeChanges(
    std::function<void(unsigned changes, const QString& field)> listener) {
    return d->changeListeners.add(std::move(listener));
}

// --- declarations ------------------------------------------------------------

void RecordStore::ClearFieldDeclarations() {
    d->fieldDecls.clear();
}

void RecordStore::DeclareField(const QString& name, FieldKind kind, int size, bool /*required*/) {
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        throw StoreError(tr("Ungültiger Feldname '%1'").arg(name));
    for (const auto& decl : d->fieldDecls)
        if (decl.name.compare(trimmed, Qt::CaseInsensitive) == 0)
            throw StoreError(tr("Doppelter Feldname '%1'").arg(name));
    switch (kind) {
    case FieldKind::Text:
        if (size < 1 || size > 255)
            throw StoreError(tr("Ungültige Größe %1 für Feld '%2'").arg(size).arg(name));
        break;
    case FieldKind::Date:
    case FieldKind::Memo:
    case FieldKind::Graphic:
        size = 0;
        break;
    default:
        throw StoreError(tr("Ungültiger Feldtyp für Feld '%1'").arg(name));
    }
    d->fieldDecls.push_back({trimmed, kind, size});
}

void RecordStore::ClearIndexDeclarations() {
    d->indexDecls.clear();
}

void RecordStore::DeclareIndex(const QString& name, const QString& fields, int options) {
    for (const auto& decl : d->indexDecls)
        if (decl.name.compare(name, Qt::CaseInsensitive) == 0)
            throw StoreError(tr("Doppelter Indexname '%1'").arg(name));
    d->indexDecls.push_back({name, fields, options});
}

QString RecordStore::tableFileName(const QString& name) {
    return QFile::decodeName(px::tableFileName(QFile::encodeName(name).toStdString()).c_str());
}

void RecordStore::BindTable(const QString& fileName) {
    if (d->isOpen())
        throw StoreError(tr(kOpen));
    d->boundName = fileName;
}

void RecordStore::CreateTableFile() {
    if (d->isOpen())
        throw StoreError(tr(kOpen));
    if (d->boundName.trimmed().isEmpty())
        throw StoreError(tr("Kein Tabellenname angegeben"));
    if (d->fieldDecls.empty())
        throw StoreError(tr("Keine Felder deklariert"));

    // The engine keys a table on its first fields, so the primary index must
    // name exactly those, in their order.
    int keyFields = 0;
    bool havePrimary = false;
    for (const auto& index : d->indexDecls) {
        if (!(index.options & Primary) || (index.options & (Descending | Expression)))
            throw StoreError(
                tr("Index '%1' wird nicht unterstützt: nur ein aufsteigender Primärindex")
                    .arg(index.name));
        if (havePrimary)
            throw StoreError(tr("Mehr als ein Primärindex"));
        havePrimary = true;
        const QStringList names = index.fields.split(u';', Qt::SkipEmptyParts);
        if (names.isEmpty())
            throw StoreError(tr("Index '%1' nennt kein Feld").arg(index.name));
        for (qsizetype i = 0; i < names.size(); ++i) {
            const QString wanted = names[i].trimmed();
            auto it = std::find_if(d->fieldDecls.begin(), d->fieldDecls.end(), [&](const auto& f) {
                return f.name.compare(wanted, Qt::CaseInsensitive) == 0;
            });
            if (it == d->fieldDecls.end())
                throw fieldNotFound(wanted);
            if (it - d->fieldDecls.begin() != i)
                throw StoreError(tr("Der Primärindex '%1' muss die ersten Felder der Tabelle in "
                                    "ihrer Reihenfolge umfassen")
                                     .arg(index.name));
            if (it->kind == FieldKind::Memo || it->kind == FieldKind::Graphic)
                throw StoreError(tr("Feld '%1' kann nicht Teil eines Index sein").arg(it->name));
        }
        keyFields = static_cast<int>(names.size());
    }

    std::vector<px::FieldDef> defs;
    for (const auto& decl : d->fieldDecls) {
        px::FieldDef def;
        def.name = decl.name.toStdString();
        switch (decl.kind) {
        case FieldKind::Text:
            def.type = px::FieldType::Alpha;
            def.size = decl.size;
            break;
        case FieldKind::Date:
            def.type = px::FieldType::Date;
            def.size = 4;
            break;
        case FieldKind::Memo:
            def.type = px::FieldType::Memo;
            def.size = 0; // the engine's default: notes of a line or two stay in the record
            break;
        case FieldKind::Graphic:
            def.type = px::FieldType::Graphic;
            def.size = 10;
            break;
        case FieldKind::Other:
            break;
        }
        defs.push_back(def);
    }
    d->path = d->resolvedPath();
    Impl::engine([&] { px::Table::create(encodePath(d->path), defs, keyFields, d->fs); });
    d->history.clear(); // a new table, even where one of the name was
    d->stampFields.clear();
    d->historyTable = d->path;
}

void RecordStore::DeleteTableFile(const QString& fileName) {
    if (d->isOpen())
        throw StoreError(tr(kOpen));
    const QString path = QDir::current().absoluteFilePath(fileName);
    try {
        px::Table::deleteFile(encodePath(path), d->fs);
    } catch (const px::TableInUse& e) {
        throw StoreError(QString::fromUtf8(e.what()));
    } catch (const px::Error&) {
        throw StoreError(tr("Die Datei %1 kann nicht gelöscht werden").arg(fileName));
    }
}

void RecordStore::OpenTable() {
    Impl::Op op(*d);
    if (d->isOpen())
        return;
    if (d->boundName.trimmed().isEmpty())
        throw StoreError(tr("Kein Tabellenname angegeben"));
    d->path = d->resolvedPath();
    const px::Access access = d->openReadOnly ? px::Access::Read : px::Access::Write;
    auto table = Impl::engine([&] { return px::Table::open(encodePath(d->path), access, d->fs); });

    std::vector<FieldInfo> fields;
    for (const auto& def : table->info().fields) {
        FieldInfo info;
        info.name = QString::fromStdString(def.name);
        info.kind = kindOf(def.type);
        info.size = info.kind == FieldKind::Text ? def.size : 0;
        fields.push_back(info);
    }
    for (auto it = d->requiredFields.cbegin(); it != d->requiredFields.cend(); ++it) {
        const bool present = std::any_of(fields.begin(), fields.end(), [&](const FieldInfo& f) {
            return f.name.compare(it.key(), Qt::CaseInsensitive) == 0;
        });
        if (!present)
            throw fieldNotFound(it->name);
    }

    d->table = std::move(table);
    d->fields = std::move(fields);
    if (d->historyTable != d->path) {
        d->history.clear();
        d->stampFields.clear();
        d->historyTable = d->path;
    }
    d->state = StoreState::Browsing;
    d->broken = false;
    d->reportedFailures.clear();
    d->filterActive = false;
    d->passing.clear();
    d->modified = false;
    d->buffer.clear();
    d->cached.reset();
    d->current = d->tableCount() > 0 ? 0 : -1;
    d->mark(StateChange | CurrentChange | DataChange | RecordsChange);
    d->tellStored(StoredChange::Opened);
    // Bound controls show the first record before AfterOpen looks at it.
    d->deliver();
    if (AfterOpen)
        AfterOpen();
}

void RecordStore::OpenTableReadOnly() {
    d->openReadOnly = true;
    try {
        OpenTable();
    } catch (...) {
        d->openReadOnly = false;
        throw;
    }
    d->openReadOnly = false;
}

std::unique_ptr<px::Lock> RecordStore::holdSteady() {
    d->requireOpen();
    return Impl::engine([&] { return d->table->holdSteady(); });
}

void RecordStore::CloseTable() {
    Impl::Op op(*d);
    if (!d->isOpen())
        return;
    // A broken table can store nothing, so it must at least let itself be closed.
    if (BeforeClose && !d->broken)
        BeforeClose();
    d->closeNow();
}

void RecordStore::CloseTableAtShutdown() {
    Impl::Op op(*d);
    d->closeNow();
}

bool RecordStore::IsTableOpen() const {
    return d->isOpen();
}

// --- moving --------------------------------------------------------------------

void RecordStore::GoToFirst() {
    Impl::Op op(*d);
    d->settle();
    d->setCurrent(d->positionOf(0));
}

void RecordStore::GoToLast() {
    Impl::Op op(*d);
    d->settle();
    d->setCurrent(d->positionOf(d->count() - 1));
}

void RecordStore::StepForward() {
    StepBy(1);
}

void RecordStore::StepBack() {
    StepBy(-1);
}

void RecordStore::StepBy(int count) {
    Impl::Op op(*d);
    d->settle();
    const std::int64_t n = d->count();
    if (n == 0)
        return;
    const std::int64_t from = std::max<std::int64_t>(d->visibleOf(d->current), 0);
    const std::int64_t to = std::clamp<std::int64_t>(from + count, 0, n - 1);
    d->setCurrent(d->positionOf(to));
}

int RecordStore::RecordNumber() const {
    if (d->isOpen())
        d->requireUsable();
    if (!d->isOpen() || d->state == StoreState::Inserting || d->current < 0)
        return 0;
    return static_cast<int>(d->current + 1);
}

int RecordStore::CountRecords() const {
    if (d->isOpen())
        d->requireUsable();
    return static_cast<int>(d->count());
}

void RecordStore::moveToVisible(int visibleRow) {
    Impl::Op op(*d);
    d->settle();
    const std::int64_t n = d->count();
    if (n == 0)
        return;
    d->setCurrent(d->positionOf(std::clamp<std::int64_t>(visibleRow, 0, n - 1)));
}

int RecordStore::storedCount() const {
    return d->isOpen() && !d->broken ? static_cast<int>(d->tableCount()) : 0;
}

void RecordStore::scanStored(
    const QString& field,
    const std::function<bool(int position, const QVariant& value)>& visit) const {
    if (!d->isOpen())
        return;
    d->requireUsable();
    const int i = d->requireIndex(field);
    const FieldKind kind = d->kindOf(i);
    Impl::engine([&] {
        d->table->scanField(i, [&](std::uint32_t position, const px::Value& value) {
            return visit(static_cast<int>(position), variantOf(kind, value));
        });
    });
}

QVariant RecordStore::storedValue(int position, const QString& field) const {
    if (!d->isOpen())
        return QVariant();
    d->requireUsable();
    const int i = d->requireIndex(field);
    if (position < 0 || position >= static_cast<std::int64_t>(d->tableCount()))
        return QVariant();
    return variantOf(d->kindOf(i), Impl::engine([&] {
                         return d->table->readField(static_cast<std::uint32_t>(position), i);
                     }));
}

QStringList RecordStore::storedTexts(int position) const {
    QStringList texts;
    if (!d->isOpen())
        return texts;
    d->requireUsable();
    if (position < 0 || position >= static_cast<std::int64_t>(d->tableCount()))
        return texts;
    const px::Record record = Impl::engine(
        [&] { return d->table->read(static_cast<std::uint32_t>(position), px::Blobs::Refer); });
    texts.reserve(static_cast<qsizetype>(d->fields.size()));
    for (std::size_t i = 0; i < d->fields.size(); ++i)
        texts << (i < record.size() ? textOf(d->fields[i].kind, record[i]) : QString());
    return texts;
}

void RecordStore::scanStoredTexts(
    const std::function<bool(int position, const QStringList& texts)>& visit) const {
    const int n = storedCount();
    for (int position = 0; position < n; ++position)
        if (!visit(position, storedTexts(position)))
            return;
}

void RecordStore::moveToStored(int position) {
    Impl::Op op(*d);
    d->requireOpen();
    if (position < 0 || position >= static_cast<std::int64_t>(d->tableCount()))
        throw StoreError(tr(kGone));
    // The key names the record across a save that shifts positions.
    const auto keyFields = static_cast<std::size_t>(d->table->info().keyFieldCount);
    px::Record key;
    if (keyFields > 0) {
        key = Impl::engine([&] { return d->table->read(static_cast<std::uint32_t>(position)); });
        key.resize(keyFields);
    }
    const bool chosenIsEdited = d->state == StoreState::Editing && d->current == position;
    d->lastSaved = -1;
    d->settle();
    std::int64_t target = position;
    if (chosenIsEdited && d->lastSaved >= 0) {
        // Its key may just have changed with the save.
        target = d->lastSaved;
    } else if (keyFields > 0) {
        target = Impl::engine([&] { return d->table->lowerBound(key); });
        if (target >= static_cast<std::int64_t>(d->tableCount()))
            throw StoreError(tr(kGone));
        px::Record found =
            Impl::engine([&] { return d->table->read(static_cast<std::uint32_t>(target)); });
        found.resize(keyFields);
        if (found != key)
            throw StoreError(tr(kGone));
    }
    if (d->filterActive && !std::binary_search(d->passing.begin(), d->passing.end(),
                                               static_cast<std::uint32_t>(target))) {
        d->filterActive = false;
        d->rebuildPassing();
        d->mark(RecordsChange);
    }
    d->setCurrent(target);
}

// --- editing ---------------------------------------------------------------------

void RecordStore::InsertBlankRecord() {
    Impl::Op op(*d);
    d->settle();
    d->beginInsert();
}

void RecordStore::BeginEdit() {
    Impl::Op op(*d);
    d->requireOpen();
    if (d->isEditing())
        return;
    if (d->count() == 0 || d->current < 0) {
        d->beginInsert();
        return;
    }
    d->buffer = d->storedCurrent();
    d->buffer.resize(d->fields.size());
    d->state = StoreState::Editing;
    d->modified = false;
    d->mark(StateChange);
}

int RecordStore::storedPositionOfEditedKey() const {
    d->requireOpen();
    const auto keyFields = static_cast<std::size_t>(d->table->info().keyFieldCount);
    if (!d->isEditing() || keyFields == 0 || d->buffer.size() < keyFields)
        return -1;
    px::Record key(d->buffer.begin(), d->buffer.begin() + static_cast<std::ptrdiff_t>(keyFields));
    const std::uint32_t at = Impl::engine([&] { return d->table->lowerBound(key); });
    // After a refused save the first record not below the key is the one
    // whose key the engine's collation found equal.
    return at < d->tableCount() ? static_cast<int>(at) : -1;
}

void RecordStore::SaveRecord() {
    Impl::Op op(*d);
    if (!d->isOpen())
        return;
    d->requireUsable();
    d->flush();
    d->save();
}

bool RecordStore::HasUnsavedChanges() {
    Impl::Op op(*d);
    // A broken table holds nothing that could still be saved; closing it must not fail here.
    if (!d->isOpen() || d->broken)
        return false;
    d->flush();
    return d->isEditing() && d->modified;
}

void RecordStore::DiscardChanges() {
    Impl::Op op(*d);
    if (d->isOpen())
        d->requireUsable();
    d->discard();
}

void RecordStore::RemoveRecord() {
    Impl::Op op(*d);
    d->requireOpen();
    if (d->state == StoreState::Inserting) {
        d->discard();
        return;
    }
    if (d->count() == 0 || d->current < 0)
        throw StoreError(tr(kEmpty));
    d->discard();
    const std::int64_t removed = d->current;
    RecordChange step;
    bool remembered = true;
    try {
        step.before = d->imageOf(removed, nullptr, step.beforeOrigins);
    } catch (...) {
        remembered = false; // a damaged record can still be removed, not brought back
    }
    d->change([&] { d->table->remove(static_cast<std::uint32_t>(removed)); });
    d->tellStored(StoredChange::Removed, removed);
    if (remembered) {
        try {
            d->remember(std::move(step));
        } catch (...) {
        }
    }
    d->cached.reset();
    d->mark(CurrentChange | DataChange | RecordsChange);
    d->rebuildPassing();
    // The follower moved up into the removed record's position.
    d->placeAt(removed);
}

void RecordStore::changeStored(const std::vector<StoredEdit>& edits) {
    Impl::Op op(*d);
    d->requireOpen();
    if (d->bulk.active)
        throw StoreError(tr("Während eines Imports kann nichts anderes gespeichert werden."));
    d->settle();
    // Every value is converted before the table is touched, so a refused
    // value changes nothing.
    std::vector<px::Record> records(edits.size());
    for (std::size_t n = 0; n < edits.size(); ++n) {
        const StoredEdit& edit = edits[n];
        if (edit.kind == StoredEdit::Remove)
            continue;
        if (edit.values.size() != static_cast<qsizetype>(d->fields.size()))
            throw StoreError(tr("Falsche Anzahl von Feldern für die Tabelle"));
        for (int i = 0; i < static_cast<int>(d->fields.size()); ++i)
            records[n].push_back(d->convert(i, edit.values[i]));
    }
    // Stamped like every saved edit, before anything is written: a refusal of
    // BeforePost changes nothing either.
    const std::int64_t wasCurrent = d->current;
    try {
        for (std::size_t n = 0; n < edits.size(); ++n)
            if (edits[n].kind != StoredEdit::Remove)
                records[n] = d->stamped(std::move(records[n]), edits[n].kind == StoredEdit::Insert,
                                        edits[n].position);
    } catch (...) {
        d->current = wasCurrent;
        throw;
    }
    d->current = wasCurrent;
    std::int64_t last = d->current;
    // All of it is one step of the history (or of the group it is in).
    const bool ownStep = !d->history.grouping();
    if (ownStep)
        d->history.begin(tr("Änderung von %1 Adressen").arg(edits.size()));
    const std::size_t stepAt = d->history.openCount();
    struct EndStep {
        Impl& d;
        bool own;
        ~EndStep() {
            if (own)
                d.history.end();
        }
    } endStep{*d, ownStep};
    d->change([&] { d->table->beginBatch(); });
    try {
        for (std::size_t n = 0; n < edits.size(); ++n) {
            const StoredEdit& edit = edits[n];
            const std::int64_t count = d->tableCount();
            if (edit.kind != StoredEdit::Insert && (edit.position < 0 || edit.position >= count))
                throw StoreError(tr(kGone));
            const auto at = static_cast<std::uint32_t>(std::max(edit.position, 0));
            RecordChange step;
            bool remembered = true;
            try {
                if (edit.kind != StoredEdit::Insert)
                    step.before =
                        d->imageOf(at, edit.kind == StoredEdit::Update ? &records[n] : nullptr,
                                   step.beforeOrigins);
            } catch (...) {
                remembered = false; // never a reason to refuse the change
            }
            switch (edit.kind) {
            case StoredEdit::Insert:
                last = d->change([&] { return d->table->insert(records[n]); });
                d->tellStored(StoredChange::Inserted, -1, last);
                break;
            case StoredEdit::Update:
                last = d->change([&] { return d->table->update(at, records[n]); });
                d->tellStored(StoredChange::Updated, at, last);
                break;
            case StoredEdit::Remove:
                d->change([&] { d->table->remove(at); });
                d->tellStored(StoredChange::Removed, at);
                last = std::min<std::int64_t>(at, count - 2);
                break;
            }
            if (remembered && edit.kind == StoredEdit::Remove) {
                try {
                    d->remember(std::move(step));
                } catch (...) {
                }
            } else if (remembered) {
                d->rememberWritten(std::move(step), static_cast<std::uint32_t>(last));
            }
        }
        d->change([&] { d->table->commitBatch(); });
    } catch (...) {
        d->history.dropOpenFrom(stepAt);
        try {
            d->table->rollbackBatch();
        } catch (...) {
        }
        d->cached.reset();
        if (!d->table->isUsable()) {
            d->breakDown();
            throw;
        }
        d->tellStored(StoredChange::Reloaded);
        d->rebuildPassing();
        d->placeAt(std::min<std::int64_t>(d->current, d->tableCount() - 1));
        d->mark(RecordsChange | CurrentChange | DataChange);
        throw;
    }
    d->cached.reset();
    d->rebuildPassing();
    d->placeAt(last);
    d->mark(RecordsChange | CurrentChange | DataChange);
}

void RecordStore::SetFieldDate(const QString& field, const QDateTime& value) {
    Impl::Op op(*d);
    d->setValue(field, value.isValid() ? QVariant(value) : QVariant());
}

void RecordStore::SetFieldText(const QString& field, const QString& text) {
    Impl::Op op(*d);
    d->setValue(field, text);
}

void RecordStore::setFieldValue(const QString& field, const QVariant& value) {
    Impl::Op op(*d);
    d->setValue(field, value);
}

// --- bulk insertion ----------------------------------------------------------------

// While a bulk runs, one operation stays open (depth), so that the listeners
// hear of nothing until a batch is committed.
void RecordStore::BeginBulk() {
    Impl::Op op(*d);
    d->settle();
    if (d->bulk.active)
        return;
    d->bulk = Impl::Bulk();
    d->bulk.active = true;
    ++d->depth;
    if (!d->history.grouping()) {
        d->history.begin(tr("Import"));
        d->bulkGroup = true;
    }
}

void RecordStore::EndBulk() {
    if (!d->bulk.active)
        return;
    --d->depth;
    Impl::Op op(*d);
    d->settle();
    if (!d->bulk.active)
        return; // a storage failure while settling ended it
    d->bulk.active = false;
    d->commitBatch();
    d->endBulkGroup();
}

void RecordStore::AbandonBulk() noexcept {
    if (!d->bulk.active)
        return;
    --d->depth;
    d->bulk.active = false;
    try {
        Impl::Op op(*d);
        d->discard();
        if (d->bulk.batchOpen) {
            d->bulk.batchOpen = false;
            d->table->rollbackBatch();
            d->endBulkAfterFailure();
        }
    } catch (...) {
    }
    d->endBulkGroup();
}

bool RecordStore::inBulk() const {
    return d->bulk.active;
}

int RecordStore::bulkStored() const {
    return d->bulk.stored;
}

int RecordStore::keyFieldCount() const {
    return d->table ? d->table->info().keyFieldCount : 0;
}

bool RecordStore::fitsCodePage(const QString& text) const {
    return !d->table || d->table->canEncode(text.toStdString());
}

// --- history -----------------------------------------------------------------------

void RecordStore::beginStep(const QString& label) {
    Impl::Op op(*d);
    if (d->isOpen() && !d->history.grouping())
        d->settle(); // what was typed before is a step of its own
    d->history.begin(label);
}

void RecordStore::endStep(const QString& label) {
    if (!d->history.end(label) || d->history.grouping())
        return;
    try {
        d->historyListeners.callAll();
    } catch (...) {
        // A listener answers for itself; endStep ends steps while unwinding.
    }
}

void RecordStore::addStep(const QString& label, std::vector<RecordChange> changes) {
    if (changes.empty())
        return;
    StepGuard step(*this, label);
    for (RecordChange& c : changes)
        d->history.add(std::move(c), QString());
}

Subscription RecordStore::subscribeHistory(std::function<void()> listener) {
    return d->historyListeners.add(std::move(listener));
}

bool RecordStore::canUndo() const {
    return d->history.canUndo() && !d->history.grouping();
}

bool RecordStore::canRedo() const {
    return d->history.canRedo() && !d->history.grouping();
}

QString RecordStore::undoLabel() const {
    return canUndo() ? d->history.undoLabel() : QString();
}

QString RecordStore::redoLabel() const {
    return canRedo() ? d->history.redoLabel() : QString();
}

void RecordStore::Undo() {
    Impl::Op op(*d);
    d->settle();
    if (!canUndo())
        return;
    d->history.undone(d->applyStep(true, tr("Rückgängig")));
}

void RecordStore::Redo() {
    Impl::Op op(*d);
    d->settle();
    if (!canRedo())
        return;
    d->history.redone(d->applyStep(false, tr("Wiederherstellen")));
}

void RecordStore::clearHistory() {
    d->history.clear();
    d->bulkGroup = false;
    d->historyListeners.callAll();
}

qint64 RecordStore::historyBytes() const {
    return d->history.bytes();
}

qint64 RecordStore::historyFileBytes() const {
    return d->history.bytesInFile();
}

void RecordStore::setHistoryBudget(qint64 bytes) {
    d->history.setBytesBudget(bytes);
}

// --- filter ------------------------------------------------------------------------

void RecordStore::SetFilterText(const QString& expression) {
    Impl::Op op(*d);
    const auto parsed = parseFilterExpression(expression);
    if (!parsed)
        throw invalidFilter(expression);
    if (d->isOpen()) {
        d->filterField(expression, *parsed);
        d->settle();
    }
    d->filterText = expression;
    d->filter = parsed;
    d->recordFilter.reset();
    if (d->isOpen() && d->filterActive) {
        d->rebuildPassing();
        d->mark(RecordsChange);
        d->setCurrent(d->positionOf(0));
    }
}

void RecordStore::SetFilterActive(bool active) {
    Impl::Op op(*d);
    d->requireOpen();
    if (active && d->filter && !d->recordFilter)
        d->filterField(d->filterText, *d->filter);
    d->settle();
    d->filterActive = active;
    d->rebuildPassing();
    d->mark(RecordsChange);
    d->setCurrent(d->positionOf(0));
}

void RecordStore::SetFilterRecords(std::shared_ptr<const RecordFilter> filter) {
    Impl::Op op(*d);
    d->requireOpen();
    d->settle();
    d->recordFilter = std::move(filter);
    d->filterActive = d->recordFilter != nullptr;
    d->rebuildPassing();
    d->mark(RecordsChange);
    d->setCurrent(d->positionOf(0));
}

bool RecordStore::hasRecordFilter() const {
    return d->recordFilter != nullptr;
}

bool RecordStore::IsFilterActive() const {
    return d->filterActive;
}

QString RecordStore::filterText() const {
    return d->filterText;
}

// --- reading -----------------------------------------------------------------------

StoreState RecordStore::state() const {
    return d->state;
}

bool RecordStore::isEmpty() const {
    return d->count() == 0;
}

const std::vector<FieldInfo>& RecordStore::fields() const {
    return d->fields;
}

int RecordStore::fieldIndex(const QString& name) const {
    return d->indexOf(name);
}

FieldInfo RecordStore::field(const QString& name) const {
    return d->fields[static_cast<std::size_t>(d->requireIndex(name))];
}

QString RecordStore::fieldText(const QString& field) const {
    if (!d->isOpen())
        return QString();
    d->requireUsable();
    const int i = d->requireIndex(field);
    const px::Value* value = d->currentValue(i);
    return value ? textOf(d->kindOf(i), *value) : QString();
}

QVariant RecordStore::fieldValue(const QString& field) const {
    if (!d->isOpen())
        return QVariant();
    d->requireUsable();
    const int i = d->requireIndex(field);
    const px::Value* value = d->currentValue(i);
    return value ? d->resolved(i, *value, d->current) : QVariant();
}

QString RecordStore::contentKey(const QString& field) const {
    if (!d->isOpen() || d->broken)
        return QString();
    const int i = d->requireIndex(field);
    const px::Value* value = d->currentValue(i);
    const auto* ref = value ? std::get_if<px::BlobRef>(value) : nullptr;
    if (!ref)
        return QString();
    return QStringLiteral("%1/%2/%3").arg(ref->pointer).arg(ref->length).arg(ref->modification);
}

int RecordStore::visibleCount() const {
    return static_cast<int>(d->count());
}

int RecordStore::visiblePosition() const {
    if (!d->isOpen() || d->broken)
        return -1;
    if (d->state == StoreState::Inserting)
        return d->current < 0 ? 0 : static_cast<int>(d->visibleOf(d->current));
    return static_cast<int>(d->visibleOf(d->current));
}

QVariant RecordStore::valueAt(int visibleRow, const QString& field) const {
    if (!d->isOpen())
        return QVariant();
    d->requireUsable();
    const int i = d->requireIndex(field);
    const std::int64_t position = d->positionOf(visibleRow);
    if (position < 0)
        return QVariant();
    if (position == d->current && d->state != StoreState::Inserting) {
        const px::Value* value = d->currentValue(i);
        return value ? d->resolved(i, *value, position) : QVariant();
    }
    if (d->kindOf(i) == FieldKind::Graphic)
        return d->bytesAt(i, position);
    return variantOf(d->kindOf(i), Impl::engine([&] {
                         return d->table->readField(static_cast<std::uint32_t>(position), i);
                     }));
}

QVariantList RecordStore::valuesAt(int visibleRow, bool withPictures) const {
    QVariantList values;
    if (!d->isOpen())
        return values;
    d->requireUsable();
    const std::int64_t position = d->positionOf(visibleRow);
    if (position < 0)
        return values;
    const int count = static_cast<int>(d->fields.size());
    // A picture left out is referred to, never read: its bytes may be megabytes.
    auto valueOf = [&](int i, const px::Value& value) {
        if (std::holds_alternative<px::BlobRef>(value))
            return withPictures ? d->resolved(i, value, position) : QVariant();
        return variantOf(d->kindOf(i), value);
    };
    if (position == d->current && d->state != StoreState::Inserting) {
        for (int i = 0; i < count; ++i) {
            const px::Value* value = d->currentValue(i);
            values << (value ? valueOf(i, *value) : QVariant());
        }
        return values;
    }
    const px::Record record = Impl::engine([&] {
        return d->table->read(static_cast<std::uint32_t>(position),
                              withPictures ? px::Blobs::Read : px::Blobs::Refer);
    });
    for (int i = 0; i < count; ++i)
        values << (i < static_cast<int>(record.size())
                       ? valueOf(i, record[static_cast<std::size_t>(i)])
                       : QVariant());
    return values;
}

QString RecordStore::textAt(int visibleRow, const QString& field) const {
    if (!d->isOpen())
        return QString();
    d->requireUsable();
    const int i = d->requireIndex(field);
    const std::int64_t position = d->positionOf(visibleRow);
    if (position < 0)
        return QString();
    if (position == d->current && d->state != StoreState::Inserting) {
        const px::Value* value = d->currentValue(i);
        return value ? textOf(d->kindOf(i), *value) : QString();
    }
    // A picture has no text: it is referred to, not read.
    return textOf(d->kindOf(i), Impl::engine([&] {
                      return d->table->readField(static_cast<std::uint32_t>(position), i,
                                                 px::Blobs::Refer);
                  }));
}

bool RecordStore::isBroken() const {
    return d->broken;
}

bool RecordStore::claimFailureReport(const QString& text) {
    if (!d->isOpen() || d->reportedFailures.contains(text))
        return false;
    d->reportedFailures.insert(text);
    return true;
}

QString RecordStore::tableFileName() const {
    return d->path.isEmpty() && !d->boundName.isEmpty() ? d->resolvedPath() : d->path;
}

void RecordStore::requireField(const QString& field) {
    if (d->isOpen() && d->indexOf(field) < 0)
        throw fieldNotFound(field);
    Impl::Required& required = d->requiredFields[field.toLower()];
    if (required.count++ == 0)
        required.name = field;
}

void RecordStore::releaseField(const QString& field) {
    auto it = d->requiredFields.find(field.toLower());
    if (it == d->requiredFields.end())
        return;
    if (--it->count == 0)
        d->requiredFields.erase(it);
}

} // namespace vellumo
