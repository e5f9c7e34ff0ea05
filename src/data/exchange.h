// Addresses in and out of the address table: vCard and CSV.
//
// One record is one vCard or one CSV row. This is the one place outside
// data/addresstable that knows the address fields by name; the record store
// and the engine below stay schema-free. Qt Core and Gui only (the picture is
// re-encoded as PNG), so vellumo-table uses it without widgets.
//
// vCards are written as version 3.0 (UTF-8, CRLF, folded at 75 octets) and
// read in versions 2.1, 3.0 and 4.0. The bank fields and the creation date,
// which vCard has no property for, travel as X-VELLUMO-KONTONR, -BLZ,
// -INSTITUT and -ERSTELLT, so a round trip through a vCard loses nothing.
// CSV is written as UTF-8 with a header row of the field names (the picture
// is left out: no spreadsheet holds it); reading maps columns by header name
// and accepts "," or ";" and UTF-8 or Windows-1252.
#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <vector>

class QIODevice;

namespace vellumo {

class RecordStore;

namespace exchange {

enum class Format { VCard, Csv };

// The fields of the address table in their order ("Name" … "Grafik").
const QStringList& addressFieldNames();

// One address as it travels: values by field name of the address table, as
// RecordStore::setFieldValue takes them (QString for text and memo, QDate for
// the dates, QByteArray with the graphic field's bytes for "Grafik"). Missing
// fields are empty.
struct Address {
    QVariantMap values;
    int origin = 0;  // card number or line number the address came from
    QString problem; // set when the address could not be read at all

    QString text(const QString& field) const { return values.value(field).toString(); }
    QDate date(const QString& field) const { return values.value(field).toDate(); }
    bool isEmpty() const;
};

// The address of a visible row of an open address table; without the picture
// (not even read) unless withPicture.
Address addressAt(const RecordStore& store, int visibleRow, bool withPicture = true);

// vCard 3.0 text of one address, lines ending in CRLF.
QByteArray toVCard(const Address& address);
// Every card of a file, numbered from 1 in origin. A card that cannot be read
// comes back with its problem set; text outside cards is ignored.
std::vector<Address> readVCards(const QByteArray& data);

// CSV: the header row, and one row per address (both ending in CRLF).
QByteArray csvHeader();
QByteArray toCsvRow(const Address& address);
// Rows of a CSV file, origin = the line the row starts on. A file without a
// header naming at least one address field gives one address with the problem.
std::vector<Address> readCsv(const QByteArray& data);

// Chooses the format of a file by its name (".vcf", ".vcard", ".csv") or, for
// other names, by its first bytes.
Format formatOf(const QString& fileName, const QByteArray& start = QByteArray());

// Writes every visible record (the filter respected) to out. A record being
// edited is written as the store shows it. progress(done, total) may return
// false to stop. Returns the number of records written; raises StoreError
// when out refuses to be written.
int exportRecords(const RecordStore& store, Format format, QIODevice& out,
                  const std::function<bool(int, int)>& progress = {});

struct ImportResult {
    int added = 0;
    int skipped = 0; // key already in the table (or earlier in the file)
    int refused = 0; // unreadable, empty, too long, a character the table lacks …
    bool cancelled = false;
    QStringList reasons; // the first few, "Karte 3: …" / "Zeile 7: …"
};

// Adds the addresses to the open table, each saved as any save is (so each
// one is on disk before the next starts). A record still being edited is
// settled first; an error there stops before anything is added. Each added
// record gets "Erstellt" and "Aenderung" from the address, or today when it
// has none. progress(done, total) is asked before each address and may return
// false to cancel; what was added stays.
ImportResult importAddresses(RecordStore& store, const std::vector<Address>& addresses,
                             Format format, const std::function<bool(int, int)>& progress = {});

// The German summary of an import, with the first reasons.
QString summaryText(const ImportResult& result);

} // namespace exchange
} // namespace vellumo
