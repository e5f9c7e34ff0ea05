// Addresses in and out of the address table: vCard and CSV.
//
// Two layers. The codecs turn bytes into addresses and back and know no
// table (toVCard, readVCards, toCsvRow, readCsv). The import and export sit
// on the record store (importAddresses, exportRecords). Qt Core and Gui only
// (the picture is re-encoded as PNG), so vellumo-table uses it without widgets.
//
// vCards are written as version 3.0 (UTF-8, CRLF, folded at 75 octets) and
// read in versions 2.1, 3.0 and 4.0. The bank fields and the creation date,
// which vCard has no property for, travel as X-VELLUMO-KONTONR, -BLZ,
// -INSTITUT and -ERSTELLT, so a round trip through a vCard loses nothing.
// CSV is written as UTF-8 with a header row of the field names (the picture
// is left out: no spreadsheet holds it); reading maps columns by header name
// and accepts ",", ";" or tab and UTF-8 or Windows-1252.
//
// Nothing a file holds is dropped without a word: a value without a field of
// its own goes into the notes as a German line ("Telefon (Arbeit): …"), and
// whatever is cut, moved or left out is listed in the import's report.
#pragma once

#include "address/addresstable.h"
#include "exchange/vcardcodec.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QIODevice;

namespace vellumo {

class RecordStore;

namespace exchange {

// Csv: RFC 4180, UTF-8, comma. SpreadsheetCsv: semicolon, UTF-8 with a byte
// order mark, as spreadsheet programs with German settings open it at once.
// The others are read only: dBase III/IV and FoxPro tables (.dbf with their
// .dbt/.fpt), Paradox tables of any schema, LDIF and Thunderbird's Mork
// address book (.mab).
enum class Format { VCard, Csv, SpreadsheetCsv, Dbase, Paradox, Ldif, Mork };

// The fields of the address table in their order ("Name" … "Grafik").
using vellumo::addressFieldNames;

// One address as it travels: values by field name of the address table, as
// RecordStore::setFieldValue takes them (QString for text and memo, QDate for
// the dates, QByteArray with the graphic field's bytes for "Grafik"). Missing
// fields are empty.
struct Address {
    QVariantMap values;
    int origin = 0;       // card number or line number the address came from
    QString problem;      // set when the address cannot be taken at all
    QStringList notes;    // values without a field of their own, as lines for the notes
    QStringList changes;  // what was left out or changed while reading, for the report
    QByteArray photo;     // a picture file's bytes, still encoded; decoded when stored
    QString uid;          // the card's UID
    bool deleted = false; // a row its file marks deleted: reported and counted, never added

    QString text(const QString& field) const { return values.value(field).toString(); }
    QDate date(const QString& field) const { return values.value(field).toDate(); }
    bool isEmpty() const;
};

// The address of a visible row of an open address table.
Address addressAt(const RecordStore& store, int visibleRow);

// vCard 3.0 text of one address, lines ending in CRLF. uid names the card;
// FN is never empty (the e-mail address or "Unbenannt" when there is no name).
// A picture that does not decode is left out, and *pictureProblem (when
// given) says why; it is emptied otherwise.
QByteArray toVCard(const Address& address, QString* pictureProblem = nullptr);
// Every card of a file, numbered from 1 in origin. A card that cannot be read
// comes back with its problem set; text outside cards is ignored.
std::vector<Address> readVCards(const QByteArray& data);

// CSV: the header row, and one row per address (both ending in CRLF). Cells
// a spreadsheet would take for a formula get a leading apostrophe, which
// readCsv removes again.
QByteArray csvHeader(Format format = Format::Csv);
QByteArray toCsvRow(const Address& address, Format format = Format::Csv);
// Rows of a CSV file, origin = the line the row starts on. A file without a
// header naming at least one address field gives one address with the problem.
// columns, when given, receives one line per column saying where it went.
std::vector<Address> readCsv(const QByteArray& data, QStringList* columns = nullptr);

// Files larger than this are no address lists; the limit also keeps a byte
// count within the int of a progress display.
constexpr qint64 kMaxImportBytes = qint64(256) << 20;

class ByteInput;
class AddressStream;

// Where the user sends the columns of a CSV file or a dBase or Paradox table
// instead of where their names say: one entry per column in the file's
// order, empty for "as the name says", notesChoice() for the notes as
// "Spalte: Wert", otherwise a field of the address table (chosenFields()).
// Entries beyond the columns, or for a field that does not exist, count as
// empty.
using ColumnChoices = QStringList;
QString notesChoice();
// The fields a column may be sent to: the address fields without the
// picture and the dates the import sets itself.
QStringList chosenFields();
// Choices as one line of a settings file ("|Telefon2||Bemerkungen") and back;
// fromChoicesText gives nothing for another number of columns.
QString choicesText(const ColumnChoices& choices);
ColumnChoices fromChoicesText(const QString& text, qsizetype columns);
// The name under which the choices for files with these columns are
// remembered: the same for the same names in the same order, whatever their
// case or spelling of umlauts.
QString choicesKey(const QStringList& columnNames);
// The choices remembered for files with these columns (empty when none),
// and remembering them; choices without an entry forget them. The settings
// file is the program's Setup.ini ("[Importzuordnung]"), for the import
// window and the table tool alike.
ColumnChoices rememberedChoices(const QStringList& columnNames);
void rememberChoices(const QStringList& columnNames, const ColumnChoices& choices);

// Reads addresses one at a time from a device open for reading (kept open
// while reading): a file is never held whole, and a photo stays encoded until
// its card is stored. next() raises StoreError with the German cause when the
// device cannot be read.
class AddressReader {
public:
    AddressReader(QIODevice& in, Format format, const ColumnChoices& choices = {});
    ~AddressReader();
    AddressReader(const AddressReader&) = delete;
    AddressReader& operator=(const AddressReader&) = delete;

    Format format() const { return format_; }
    // The next card or row, nothing at the end.
    std::optional<Address> next();
    // CSV and tables: one line per column saying where it went (after the
    // first next()).
    QStringList columns() const;
    // CSV and tables: the names of the file's columns, and where each goes
    // (after the first next()); empty for the kinds whose properties name
    // their place themselves (vCard, LDIF, Mork).
    QStringList columnNames() const;
    QStringList columnTargets() const;
    // What the reader has to say about the file as a whole (after the first
    // next()): the code page it assumed, a memo file it did not find.
    QStringList remarks() const;
    // Bytes read so far and the device's size, for a progress display.
    qint64 position() const;
    qint64 size() const;

private:
    Format format_;
    std::unique_ptr<ByteInput> input_;
    std::unique_ptr<AddressStream> stream_;
};

// How many of a file's first bytes detectFormat looks at.
constexpr qsizetype kDetectBytes = 4096;
// The kind of a file by its first bytes, whatever its name: vCard, LDIF and
// Mork by their first line, dBase and Paradox by a header whose parts agree
// with each other, CSV for other text. Nothing for a file that is none of them.
std::optional<Format> detectFormat(const QByteArray& start);
// detectFormat, or by the name (".vcf", ".vcard", ".csv") when the first bytes
// say nothing; CSV otherwise.
Format formatOf(const QString& fileName, const QByteArray& start = QByteArray());
// "vCard", "dBase", "Thunderbird-Adressbuch (Mork)" …, as reports name a kind.
QString formatName(Format format);

// Writes every visible record (the filter respected) to out. A record being
// edited is written as the store shows it. progress(done, total) may return
// false to stop. Returns the number of records written; raises StoreError
// (ErrorKind::Storage, with the German cause) when out refuses to be written.
// A vCard whose picture cannot be read from the table or decoded goes out
// without it, and one German line in *withoutPicture (when given) names the
// record and the cause.
int exportRecords(const RecordStore& store, Format format, QIODevice& out,
                  const std::function<bool(int, int)>& progress = {},
                  QStringList* withoutPicture = nullptr);

// What became of one card or row.
enum class Outcome { Added, AddedWithChanges, Skipped, Refused, NotStored };

struct CardReport {
    int origin = 0;
    Outcome outcome = Outcome::Added;
    QStringList lines; // what was cut, moved to the notes or left out; why it was skipped
};

struct ImportResult {
    int added = 0;   // stored, with or without changes
    int changed = 0; // of added: with something cut, moved to the notes or left out
    int skipped = 0; // key already in the table (or earlier in the file)
    int refused = 0; // nothing usable, or structurally broken
    int deleted = 0; // rows the file marks deleted, passed over
    bool cancelled = false;
    QString failure;     // the storage failure that stopped the import, empty when none
    QString readFailure; // why the file could not be read to its end, empty when it could
    Format format = Format::VCard;
    std::vector<CardReport> cards; // every card or row, in file order
    QStringList columns;           // CSV and tables: where each column went
    QStringList remarks;           // about the file as a whole (code page, a missing memo file)
};

// Adds the addresses to the open table in batches (RecordStore::BeginBulk).
// A record still being edited is settled first; an error there stops before
// anything is added. Each value is fitted to the table: text longer than its
// field is stored cut and kept whole in the notes, characters the table's
// code page lacks are transliterated. Each added record gets "Erstellt" and
// "Aenderung" from the address, or today when it has none. progress(done,
// total) is asked before each address and may return false to cancel; what
// was added stays. A storage failure stops at once: failure says why, added
// how many are stored. Reading stops the same way when the file cannot be
// read any further (readFailure).
ImportResult importAddresses(RecordStore& store, AddressReader& reader,
                             const std::function<bool(int, int)>& progress = {});
ImportResult importAddresses(RecordStore& store, const std::vector<Address>& addresses,
                             Format format, const std::function<bool(int, int)>& progress = {});
// What the history calls an import of a file: "Import von karten.vcf (1.451
// Adressen)".
QString importStepLabel(const QString& fileName, int added);
// The file at path, read as its first bytes say (detectFormat), one card or
// row at a time; progress counts its bytes; choices say where columns go
// instead of where their names say. Raises StoreError with the German cause
// before anything is added when the file cannot be opened, is larger than
// kMaxImportBytes, is no address file, or is the open table itself. The
// import is one step of the store's history (importStepLabel).
ImportResult importFile(RecordStore& store, const QString& path,
                        const std::function<bool(int, int)>& progress = {},
                        const ColumnChoices& choices = {});

// The first records of a file as the import would store them into the open
// table (fitted to its fields), and where each column goes; nothing is
// stored. Rows the file marks deleted are left out, as the import leaves
// them out. Raises StoreError as importFile does.
struct PreviewRecord {
    int origin = 0;
    QVariantMap values; // by field name of the table, as they would be stored
    QStringList lines;  // what would be cut or moved; the reason when refused
    bool refused = false;
};
struct ImportPreview {
    Format format = Format::VCard;
    QStringList columnNames;   // CSV, dBase, Paradox: the file's columns (may hold empty names)
    QStringList columnTargets; // where each of them goes
    QStringList remarks;       // about the file as a whole
    std::vector<PreviewRecord> records;
    bool more = false; // the file holds more than the records shown
};
ImportPreview previewFile(const RecordStore& store, const QString& path,
                          const ColumnChoices& choices = {}, int count = 10);

// The German summary of an import (the counts) and its details (every card
// with what happened to it), as the program shows them and the tool prints.
QString summaryText(const ImportResult& result);
QString detailsText(const ImportResult& result);

// German text of a system error number ("Der Datenträger ist voll").
QString systemErrorText(int error);

} // namespace exchange
} // namespace vellumo
