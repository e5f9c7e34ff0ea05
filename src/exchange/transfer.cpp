#include "exchange/exchange.h"

#include "platform/database/recordstore.h"
#include "platform/system/system.h"

#include "exchange/text.h"
#include "platform/paradox/io.h"
#include "platform/pictures/graphicfield.h"
#include "platform/pictures/limits.h"
#include "platform/settings/profile.h"
#include "search/folding.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QImage>
#include <QLocale>
#include <QSet>
#include <QUuid>

#include <algorithm>
#include <cerrno>

namespace vellumo::exchange {

namespace {

void writeAll(QIODevice& out, const QByteArray& bytes) {
    if (out.write(bytes) == bytes.size())
        return;
    const QString cause =
        out.errorString().isEmpty() ? QStringLiteral("Schreibfehler") : out.errorString();
    throw StoreError(QStringLiteral("Die Datei kann nicht geschrieben werden: %1").arg(cause),
                     ErrorKind::Storage);
}

// "Jürgen Müller", as a report names an address.
QString shownName(const Address& address) {
    const QString name =
        (address.text(QStringLiteral("Vorname")) + u' ' + address.text(QStringLiteral("Name")))
            .trimmed();
    return name.isEmpty() ? QStringLiteral("ohne Namen") : name;
}

QString originText(Format format, int origin) {
    switch (format) {
    case Format::VCard:
    case Format::Mork:
        return QStringLiteral("Karte %1").arg(origin);
    case Format::Dbase:
    case Format::Paradox:
        return QStringLiteral("Satz %1").arg(origin);
    case Format::Ldif:
        return QStringLiteral("Eintrag %1").arg(origin);
    case Format::Csv:
    case Format::SpreadsheetCsv:
        break;
    }
    return QStringLiteral("Zeile %1").arg(origin);
}

QString withoutFullStop(QString text) {
    while (text.endsWith(u'.'))
        text.chop(1);
    return text;
}

// While an address is saved, its own dates win over the stamp every save
// gets; without them the stamps are today's, as for a record typed in.
class KeepDates {
public:
    KeepDates(RecordStore& store) : store_(store), previous_(store.BeforePost) {
        store_.BeforePost = [this] {
            if (previous_)
                previous_();
            if (changed_.isValid())
                store_.SetFieldDate(QStringLiteral("Aenderung"), changed_.startOfDay());
        };
    }
    ~KeepDates() { store_.BeforePost = previous_; }
    KeepDates(const KeepDates&) = delete;
    KeepDates& operator=(const KeepDates&) = delete;
    void setChanged(const QDate& date) { changed_ = date; }

private:
    RecordStore& store_;
    std::function<void()> previous_;
    QDate changed_;
};

// Ends a bulk the import leaves by an error.
struct BulkGuard {
    RecordStore& store;
    ~BulkGuard() { store.AbandonBulk(); }
};

// "Name, Vorname": the key fields of this table.
QString keyFieldNames(const RecordStore& store) {
    QStringList names;
    const int keys = store.keyFieldCount();
    for (int i = 0; i < keys && i < static_cast<int>(store.fields().size()); ++i)
        names << store.fields()[static_cast<std::size_t>(i)].name;
    return names.join(QStringLiteral(", "));
}

// "gleicher Schlüssel (Name, Vorname)".
QString keyDescription(const RecordStore& store) {
    const QString names = keyFieldNames(store);
    return names.isEmpty() ? QStringLiteral("gleicher Schlüssel")
                           : QStringLiteral("gleicher Schlüssel (%1)").arg(names);
}

// The name the window and the handbook give a field ("Memo1" is "Bemerkungen").
QString shownField(const QString& field) {
    return field.compare(QStringLiteral("Memo1"), Qt::CaseInsensitive) == 0
               ? QStringLiteral("Bemerkungen")
               : field;
}

// An address fitted to the table: what it stores, and what had to change.
struct Fitted {
    QVariantMap values;
    QStringList lines;
};

Fitted fitted(const RecordStore& store, const Address& address, int photoSide) {
    Fitted f;
    f.lines = address.changes;
    QStringList notes = address.notes;
    const auto fits = [&store](const QString& text) { return store.fitsCodePage(text); };
    // Characters the table cannot hold are transliterated and listed.
    const auto storable = [&](const QString& field, const QString& text) {
        const QString latin = transliterated(text, fits);
        if (latin != text)
            f.lines << QStringLiteral("%1: \"%2\" als \"%3\" gespeichert (Zeichen, die die "
                                      "Tabelle nicht speichern kann)")
                           .arg(shownField(field), text, latin);
        return latin;
    };
    QVariantMap values = address.values;
    if (!address.uid.isEmpty() && store.fieldIndex(QStringLiteral("UID")) >= 0)
        values.insert(QStringLiteral("UID"), address.uid);
    else if (!address.uid.isEmpty())
        f.lines << QStringLiteral("Die UID der Karte (%1) wurde nicht übernommen: die Tabelle hat "
                                  "kein Feld „UID“")
                       .arg(address.uid);
    QString memo;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const QString& name = it.key();
        const QVariant& value = it.value();
        const int index = store.fieldIndex(name);
        if (index < 0) {
            const QString text = value.typeId() == QMetaType::QDate
                                     ? formatGermanDate(value.toDate())
                                     : value.toString();
            if (!text.isEmpty())
                notes << QStringLiteral("%1: %2").arg(name, text);
            continue;
        }
        const FieldInfo info = store.fields()[static_cast<std::size_t>(index)];
        if (info.kind == FieldKind::Memo) {
            memo = value.toString();
            continue;
        }
        if (info.kind != FieldKind::Text) {
            f.values.insert(info.name, value);
            continue;
        }
        QString text = storable(info.name, value.toString());
        if (info.size > 0 && text.size() > info.size) {
            notes << QStringLiteral("%1: %2").arg(info.name, text);
            f.lines << QStringLiteral(
                           "%1 \"%2\" auf %3 Zeichen gekürzt, vollständig in den Bemerkungen")
                           .arg(info.name, text)
                           .arg(info.size);
            text = text.left(info.size).trimmed();
        }
        if (!text.isEmpty())
            f.values.insert(info.name, text);
    }
    for (const QString& note : notes)
        f.lines << QStringLiteral("In die Bemerkungen übernommen: %1").arg(note);
    if (!notes.isEmpty())
        memo = memo.isEmpty() ? notes.join(u'\n') : memo + u'\n' + notes.join(u'\n');
    if (!memo.isEmpty()) {
        const int index = store.fieldIndex(QStringLiteral("Memo1"));
        if (index >= 0)
            f.values.insert(QStringLiteral("Memo1"), storable(QStringLiteral("Memo1"), memo));
        else
            f.lines << QStringLiteral("Die Bemerkungen wurden weggelassen: die Tabelle hat kein "
                                      "Feld dafür");
    }
    if (!address.photo.isEmpty()) {
        // Decoded only now, one card at a time.
        // Stored at the size the user set for pictures, as the chooser stores one.
        QString error;
        const QByteArray field = pictures::graphicFieldFromPhoto(address.photo, photoSide, &error);
        if (store.fieldIndex(QStringLiteral("Grafik")) < 0)
            f.lines << QStringLiteral("Das Bild wurde weggelassen: die Tabelle hat kein Bildfeld");
        else if (field.isEmpty())
            f.lines << QStringLiteral("Das Bild kann nicht gelesen werden und wurde weggelassen%1")
                           .arg(error.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(error));
        else
            f.values.insert(QStringLiteral("Grafik"), field);
    }
    return f;
}

// True when the stored record at position holds every value the card has:
// storing the card would add nothing. The stamps and the UID say nothing of
// the person; the notes may hold more than the card's.
bool holdsAll(const RecordStore& store, int position, const QVariantMap& values) {
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const QString& field = it.key();
        if (field == u"Erstellt" || field == u"Aenderung" || field == u"UID")
            continue;
        const QVariant stored = store.storedValue(position, field);
        const QVariant& value = it.value();
        if (value.typeId() == QMetaType::QDate) {
            if (stored.toDate() != value.toDate())
                return false;
        } else if (value.typeId() == QMetaType::QByteArray) {
            if (stored.toByteArray() != value.toByteArray())
                return false;
        } else if (store.field(field).kind == FieldKind::Memo) {
            const QStringList have = stored.toString().split(u'\n');
            for (const QString& line : value.toString().split(u'\n'))
                if (!have.contains(line))
                    return false;
        } else if (stored.toString() != value.toString()) {
            return false;
        }
    }
    return true;
}

// The key field that tells two different people with equal keys apart:
// "Vorname" where it is one, else the last text field of the key.
QString distinguishingField(const RecordStore& store) {
    const int keys = std::min(store.keyFieldCount(), static_cast<int>(store.fields().size()));
    QString last;
    for (int i = 0; i < keys; ++i) {
        const FieldInfo& info = store.fields()[static_cast<std::size_t>(i)];
        if (info.kind != FieldKind::Text)
            continue;
        if (info.name.compare(QStringLiteral("Vorname"), Qt::CaseInsensitive) == 0)
            return info.name;
        last = info.name;
    }
    return last;
}

// "Hans (2)": the value with its number, cut before the number where the
// field would not hold both.
QString numbered(const QString& value, int number, int size) {
    const QString suffix = QStringLiteral(" (%1)").arg(number);
    QString base = value;
    if (size > 0 && base.size() + suffix.size() > size)
        base = base.left(std::max(0, size - static_cast<int>(suffix.size())));
    return (base.trimmed() + suffix).trimmed();
}

bool hasValue(const QVariantMap& values) {
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const QVariant& v = it.value();
        if (v.typeId() == QMetaType::QDate ? v.toDate().isValid() : !v.toByteArray().isEmpty())
            return true;
    }
    return false;
}

// The UID of a record: its own when the table has the field, otherwise one
// derived from what stays when the person moves (recordUid).
QString uidOf(const RecordStore& store, int row, const Address& address) {
    const QString own = store.fieldIndex(QStringLiteral("UID")) >= 0
                            ? store.textAt(row, QStringLiteral("UID"))
                            : QString();
    return recordUid(own, address.text(QStringLiteral("Name")),
                     address.text(QStringLiteral("Vorname")),
                     address.date(QStringLiteral("Erstellt")));
}

} // namespace

bool Address::isEmpty() const {
    if (!notes.isEmpty() || !photo.isEmpty())
        return false;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const QVariant& v = it.value();
        if (v.typeId() == QMetaType::QDate ? v.toDate().isValid() : !v.toByteArray().isEmpty())
            return false;
    }
    return true;
}

namespace {

// The address field each field of the open table is (empty for others).
std::vector<QString> addressFieldsOf(const RecordStore& store) {
    std::vector<QString> names;
    for (const FieldInfo& field : store.fields()) {
        QString name;
        for (const QString& known : addressFieldNames())
            if (known.compare(field.name, Qt::CaseInsensitive) == 0)
                name = known;
        names.push_back(name);
    }
    return names;
}

// One read of the record; the picture only when withPicture.
Address addressAt(const RecordStore& store, int visibleRow, const std::vector<QString>& names,
                  bool withPicture = true) {
    Address address;
    address.origin = visibleRow + 1;
    const QVariantList values = store.valuesAt(visibleRow, withPicture);
    for (qsizetype i = 0; i < values.size() && i < qsizetype(names.size()); ++i) {
        const QString& name = names[static_cast<std::size_t>(i)];
        if (!name.isEmpty() && !values[i].isNull())
            address.values.insert(name, values[i]);
    }
    return address;
}

} // namespace

Address addressAt(const RecordStore& store, int visibleRow) {
    return addressAt(store, visibleRow, addressFieldsOf(store));
}

int exportRecords(const RecordStore& store, Format format, QIODevice& out,
                  const std::function<bool(int, int)>& progress, QStringList* withoutPicture) {
    const int total = store.visibleCount();
    if (format != Format::VCard)
        writeAll(out, csvHeader(format));
    // Written in slices: a large table goes out without holding it all.
    QByteArray buffer;
    int written = 0;
    const std::vector<QString> names = addressFieldsOf(store);
    const bool hasPicture =
        format == Format::VCard && store.fieldIndex(QStringLiteral("Grafik")) >= 0;
    QSet<QString> uids;
    for (int row = 0; row < total; ++row) {
        if (progress && row % 64 == 0 && !progress(row, total))
            break;
        // A CSV row has no picture: reading one would cost its megabytes for
        // nothing. A card's picture is read on its own, so that one the .mb
        // cannot give costs this card its photo, not the whole export.
        Address address = addressAt(store, row, names, false);
        if (format == Format::VCard) {
            address.uid = uniqueUid(uidOf(store, row, address), uids);
            QString problem;
            if (hasPicture)
                try {
                    const QVariant picture = store.valueAt(row, QStringLiteral("Grafik"));
                    if (!picture.isNull())
                        address.values.insert(QStringLiteral("Grafik"), picture);
                } catch (const StoreError& e) {
                    problem = withoutFullStop(e.text()) + u'.';
                }
            buffer += toVCard(address, problem.isEmpty() ? &problem : nullptr);
            if (!problem.isEmpty() && withoutPicture)
                withoutPicture->append(QStringLiteral("Adresse %1 (%2): ohne Bild exportiert. %3")
                                           .arg(row + 1)
                                           .arg(shownName(address), problem));
        } else {
            buffer += toCsvRow(address, format);
        }
        ++written;
        if (buffer.size() > (1 << 20)) {
            writeAll(out, buffer);
            buffer.clear();
        }
    }
    writeAll(out, buffer);
    return written;
}

namespace {

// The import itself, over any source of addresses: next() gives the next one
// (nothing at the end), where() how far the source has come and how far it goes.
ImportResult importFrom(RecordStore& store, Format format,
                        const std::function<std::optional<Address>()>& nextAddress,
                        const std::function<std::pair<int, int>()>& where,
                        const std::function<bool(int, int)>& progress) {
    // What the user was typing is stored (or dropped) as before any move; if
    // that fails, the import has not begun.
    if (store.HasUnsavedChanges())
        store.SaveRecord();
    else
        store.DiscardChanges();

    ImportResult result;
    result.format = format;
    const int photoSide = pictures::storedSide();
    const QString duplicate =
        QStringLiteral("schon vorhanden (%1), übersprungen").arg(keyDescription(store));
    KeepDates dates(store);
    store.BeginBulk();
    BulkGuard guard{store};
    std::vector<std::size_t> unsaved; // reports of cards in the batch not yet committed
    int committed = 0;
    const QString lost = QStringLiteral("nicht gespeichert (Schreibfehler)");
    auto notStored = [&](const QString& cause) {
        result.failure = withoutFullStop(cause);
        for (const std::size_t i : unsaved) {
            CardReport& card = result.cards[i];
            if (card.outcome == Outcome::AddedWithChanges)
                --result.changed;
            card.outcome = Outcome::NotStored;
            card.lines.prepend(lost);
            --result.added;
        }
        unsaved.clear();
    };
    // A card that was not added: why comes first in its lines, and it is
    // counted where it belongs.
    auto notAdded = [&result](CardReport& card, Outcome outcome, const QString& why) {
        card.outcome = outcome;
        card.lines.prepend(why);
        result.refused += outcome == Outcome::Refused;
        result.skipped += outcome == Outcome::Skipped;
        result.cards.push_back(card);
    };

    for (;;) {
        if (progress) {
            const auto [done, total] = where();
            if (!progress(done, total)) {
                result.cancelled = true;
                break;
            }
        }
        std::optional<Address> next;
        try {
            next = nextAddress();
        } catch (const StoreError& error) {
            // What was read so far is stored; the rest of the file is not.
            result.readFailure = withoutFullStop(error.text());
            break;
        }
        if (!next)
            break;
        const Address& address = *next;
        CardReport card;
        card.origin = address.origin;
        if (address.deleted) {
            // Passed over, but named: the user may have wanted it back.
            card.outcome = Outcome::Skipped;
            card.lines << QStringLiteral("in der Datei als gelöscht markiert (%1)")
                              .arg(shownName(address));
            ++result.deleted;
            result.cards.push_back(card);
            continue;
        }
        if (!address.problem.isEmpty()) {
            notAdded(card, Outcome::Refused, withoutFullStop(address.problem));
            continue;
        }
        const Fitted f = fitted(store, address, photoSide);
        card.lines = f.lines;
        if (!hasValue(f.values)) {
            notAdded(card, Outcome::Refused, QStringLiteral("keine Angaben"));
            continue;
        }
        try {
            store.InsertBlankRecord();
            for (auto it = f.values.cbegin(); it != f.values.cend(); ++it)
                store.setFieldValue(it.key(), it.value());
            const QDate created = f.values.value(QStringLiteral("Erstellt")).toDate();
            store.SetFieldDate(QStringLiteral("Erstellt"),
                               created.isValid() ? created.startOfDay() : now());
            dates.setChanged(f.values.value(QStringLiteral("Aenderung")).toDate());
            // A key already taken is "schon vorhanden" only where that record
            // holds all the card holds; another person with the same key
            // fields (two namesakes, two cards named by nothing) is added
            // with a number after the distinguishing field, and the report
            // says so.
            QVariantMap values = f.values;
            const QString distinguishing = distinguishingField(store);
            const QString original = values.value(distinguishing).toString();
            for (int number = 2;; ++number) {
                try {
                    store.SaveRecord();
                    if (number > 2)
                        card.lines.prepend(
                            QStringLiteral("Ein anderer Datensatz hat dieselben Schlüsselfelder "
                                           "(%1); hinzugefügt mit %2 \"%3\"")
                                .arg(keyFieldNames(store), shownField(distinguishing),
                                     values.value(distinguishing).toString()));
                    break;
                } catch (const StoreError& error) {
                    if (error.kind() != ErrorKind::Duplicate)
                        throw;
                    const int holder = store.storedPositionOfEditedKey();
                    if (distinguishing.isEmpty() || number > 999 ||
                        (holder >= 0 && holdsAll(store, holder, values)))
                        throw;
                }
                values.insert(distinguishing,
                              numbered(original, number, store.field(distinguishing).size));
                store.setFieldValue(distinguishing, values.value(distinguishing));
            }
        } catch (const StoreError& error) {
            try {
                store.DiscardChanges();
            } catch (const StoreError&) {
            }
            if (error.kind() == ErrorKind::Storage) {
                notAdded(card, Outcome::NotStored, lost);
                notStored(error.text());
                result.added = store.bulkStored();
                return result;
            }
            if (error.kind() == ErrorKind::Duplicate)
                notAdded(card, Outcome::Skipped, duplicate);
            else
                notAdded(card, Outcome::Refused, withoutFullStop(error.text()));
            continue;
        }
        card.outcome = card.lines.isEmpty() ? Outcome::Added : Outcome::AddedWithChanges;
        ++result.added;
        if (!card.lines.isEmpty())
            ++result.changed;
        result.cards.push_back(card);
        unsaved.push_back(result.cards.size() - 1);
        if (store.bulkStored() != committed) {
            committed = store.bulkStored();
            unsaved.clear();
        }
    }
    try {
        store.EndBulk(); // what was added stays, also when cancelled
    } catch (const StoreError& error) {
        if (error.kind() != ErrorKind::Storage)
            throw;
        notStored(error.text());
    }
    if (progress && !result.cancelled && result.failure.isEmpty()) {
        const auto [done, total] = where();
        progress(done, total);
    }
    return result;
}

} // namespace

ImportResult importAddresses(RecordStore& store, AddressReader& reader,
                             const std::function<bool(int, int)>& progress) {
    ImportResult result = importFrom(
        store, reader.format(), [&reader] { return reader.next(); },
        [&reader] {
            return std::pair<int, int>(static_cast<int>(reader.position()),
                                       static_cast<int>(reader.size()));
        },
        progress);
    result.columns = reader.columns();
    result.remarks = reader.remarks();
    return result;
}

ImportResult importAddresses(RecordStore& store, const std::vector<Address>& addresses,
                             Format format, const std::function<bool(int, int)>& progress) {
    std::size_t n = 0;
    return importFrom(
        store, format,
        [&]() -> std::optional<Address> {
            if (n == addresses.size())
                return std::nullopt;
            return addresses[n++];
        },
        [&] {
            return std::pair<int, int>(static_cast<int>(n), static_cast<int>(addresses.size()));
        },
        progress);
}

QString importStepLabel(const QString& fileName, int added) {
    return QStringLiteral("Import von %1 (%2 %3)")
        .arg(fileName, QLocale(QLocale::German).toString(added),
             added == 1 ? QStringLiteral("Adresse") : QStringLiteral("Adressen"));
}

namespace {

// The file at path opened and its kind told, with the checks both the import
// and its preview make before anything is read.
Format openForImport(QFile& in, const RecordStore& store, const QString& path) {
    const QString shown = QDir::toNativeSeparators(path);
    in.setFileName(path);
    if (!in.open(QIODevice::ReadOnly))
        throw StoreError(QStringLiteral("Die Datei %1 kann nicht gelesen werden: %2")
                             .arg(shown, systemErrorText(errno)));
    if (in.size() > kMaxImportBytes)
        throw StoreError(QStringLiteral("Die Datei %1 ist mit %2 MB zu groß für eine Adressliste "
                                        "(höchstens %3 MB)")
                             .arg(shown)
                             .arg(in.size() >> 20)
                             .arg(kMaxImportBytes >> 20));
    const QByteArray start = in.peek(kDetectBytes);
    const std::optional<Format> format = detectFormat(start);
    if (!format)
        throw StoreError(QStringLiteral("Die Datei %1 ist keine Adressdatei, die Vellumo lesen "
                                        "kann. Gelesen werden vCard, CSV, dBase und FoxPro (.dbf), "
                                        "Paradox-Tabellen (.db), LDIF und Thunderbird-Adressbücher "
                                        "(.mab)")
                             .arg(shown));
    if (*format == Format::Paradox &&
        QFileInfo(path).canonicalFilePath() == QFileInfo(store.tableFileName()).canonicalFilePath())
        throw StoreError(QStringLiteral("Die Tabelle %1 ist die geöffnete Tabelle selbst; sie "
                                        "kann nicht in sich importiert werden")
                             .arg(shown));
    return formatOf(path, start);
}

} // namespace

ImportResult importFile(RecordStore& store, const QString& path,
                        const std::function<bool(int, int)>& progress,
                        const ColumnChoices& choices) {
    QFile in;
    const Format format = openForImport(in, store, path);
    AddressReader reader(in, format, choices);
    // The whole import is one step of the store's history, named by its file
    // and, once known, by how many addresses it added.
    const QString name = QFileInfo(path).fileName();
    RecordStore::StepGuard step(store, QStringLiteral("Import von %1").arg(name));
    ImportResult result = importAddresses(store, reader, progress);
    step.relabel(importStepLabel(name, result.added));
    return result;
}

ImportPreview previewFile(const RecordStore& store, const QString& path,
                          const ColumnChoices& choices, int count) {
    QFile in;
    ImportPreview preview;
    preview.format = openForImport(in, store, path);
    AddressReader reader(in, preview.format, choices);
    while (std::optional<Address> next = reader.next()) {
        if (next->deleted)
            continue;
        if (static_cast<int>(preview.records.size()) == count) {
            preview.more = true;
            break;
        }
        PreviewRecord record;
        record.origin = next->origin;
        if (!next->problem.isEmpty()) {
            record.refused = true;
            record.lines << withoutFullStop(next->problem);
        } else {
            Fitted f = fitted(store, *next, pictures::storedSide());
            record.values = std::move(f.values);
            record.lines = std::move(f.lines);
        }
        preview.records.push_back(std::move(record));
    }
    preview.columnNames = reader.columnNames();
    preview.columnTargets = reader.columnTargets();
    preview.remarks = reader.remarks();
    return preview;
}

QString choicesText(const ColumnChoices& choices) {
    return choices.join(u'|');
}

ColumnChoices fromChoicesText(const QString& text, qsizetype columns) {
    const ColumnChoices choices = text.split(u'|');
    if (text.isEmpty() || choices.size() != columns)
        return {};
    const QStringList fields = chosenFields();
    ColumnChoices sound;
    for (const QString& c : choices)
        sound << (c == notesChoice() || fields.contains(c) ? c : QString());
    return sound;
}

QString choicesKey(const QStringList& columnNames) {
    QStringList folded;
    for (const QString& name : columnNames)
        folded << search::fold(name);
    return QString::fromLatin1(
        QCryptographicHash::hash(folded.join(QChar(0x1F)).toUtf8(), QCryptographicHash::Sha1)
            .toHex()
            .left(16));
}

namespace {
const QString kChoicesSection = QStringLiteral("Importzuordnung");
} // namespace

ColumnChoices rememberedChoices(const QStringList& columnNames) {
    const QString text = GetPrivateProfileString(kChoicesSection, choicesKey(columnNames),
                                                 QString(), setupIniPath());
    return fromChoicesText(text, columnNames.size());
}

void rememberChoices(const QStringList& columnNames, const ColumnChoices& choices) {
    bool any = false;
    for (const QString& c : choices)
        any = any || !c.isEmpty();
    if (any)
        WritePrivateProfileString(kChoicesSection, choicesKey(columnNames), choicesText(choices),
                                  setupIniPath());
    else
        DeletePrivateProfileKey(kChoicesSection, choicesKey(columnNames), setupIniPath());
}

QString summaryText(const ImportResult& result) {
    auto count = [](int n, const char* one, const char* many) {
        return QStringLiteral("%1 %2").arg(n).arg(QString::fromUtf8(n == 1 ? one : many));
    };
    QString text;
    if (!result.failure.isEmpty())
        text = QStringLiteral("Der Import wurde wegen eines Schreibfehlers abgebrochen: %1.\n")
                   .arg(result.failure);
    else if (!result.readFailure.isEmpty())
        text = QStringLiteral("Der Import wurde abgebrochen. %1.\n").arg(result.readFailure);
    else if (result.cancelled)
        text = QStringLiteral("Der Import wurde abgebrochen.\n");
    else
        text = QStringLiteral("Der Import ist beendet.\n");
    text += count(result.added, "Adresse hinzugefügt", "Adressen hinzugefügt");
    if (result.changed > 0)
        text += QStringLiteral(" (davon %1 mit Änderungen)").arg(result.changed);
    text += QStringLiteral(", ") + count(result.skipped, "übersprungen", "übersprungen") +
            QStringLiteral(" (schon vorhanden), ") +
            count(result.refused, "abgewiesen", "abgewiesen") + QStringLiteral(".");
    if (result.deleted > 0)
        text += result.deleted == 1
                    ? QStringLiteral("\n1 in der Datei als gelöscht markierter Satz wurde nicht "
                                     "übernommen.")
                    : QStringLiteral("\n%1 in der Datei als gelöscht markierte Sätze wurden nicht "
                                     "übernommen.")
                          .arg(result.deleted);
    for (const QString& remark : result.remarks)
        text += u'\n' + remark;
    if (!result.failure.isEmpty())
        text += result.added == 1
                    ? QStringLiteral("\nGespeichert ist 1 Adresse; die übrigen nicht.")
                    : QStringLiteral("\nGespeichert sind %1 Adressen; die übrigen nicht.")
                          .arg(result.added);
    else if (!result.readFailure.isEmpty())
        text += QStringLiteral("\nDie bis dahin gelesenen Adressen sind gespeichert; der Rest der "
                               "Datei nicht.");
    else if (result.cancelled && result.added > 0)
        text += QStringLiteral("\nDie bis dahin hinzugefügten Adressen bleiben in der Tabelle.");
    if (result.changed + result.skipped + result.refused + result.deleted > 0)
        text +=
            QStringLiteral("\nWas gekürzt, in die Bemerkungen übernommen oder weggelassen wurde, "
                           "nennen die Details.");
    return text;
}

namespace {

QString outcomeText(Outcome outcome) {
    switch (outcome) {
    case Outcome::Added:
        return QStringLiteral("hinzugefügt");
    case Outcome::AddedWithChanges:
        return QStringLiteral("hinzugefügt mit Änderungen");
    case Outcome::Skipped:
        return QStringLiteral("übersprungen");
    case Outcome::Refused:
        return QStringLiteral("abgewiesen");
    case Outcome::NotStored:
        return QStringLiteral("nicht gespeichert");
    }
    return {};
}

} // namespace

QString detailsText(const ImportResult& result) {
    QString text;
    if (!result.columns.isEmpty())
        text += QStringLiteral("Spalten:\n  ") + result.columns.join(QStringLiteral("\n  ")) +
                QStringLiteral("\n\n");
    for (const CardReport& card : result.cards) {
        text += originText(result.format, card.origin) + QStringLiteral(": ") +
                outcomeText(card.outcome) + u'\n';
        for (const QString& line : card.lines)
            text += QStringLiteral("  ") + line + u'\n';
    }
    return text;
}

QString systemErrorText(int error) {
    return QString::fromStdString(px::systemErrorText(error));
}

} // namespace vellumo::exchange
