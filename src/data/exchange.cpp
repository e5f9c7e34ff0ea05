#include "data/exchange.h"

#include "platform/database/recordstore.h"
#include "platform/paradox/error.h"
#include "platform/system/system.h"

#include <QFileInfo>
#include <QIODevice>

namespace vellumo::exchange {

namespace {

// Reasons named in the summary; the counts cover the rest.
constexpr int kShownReasons = 8;

void writeAll(QIODevice& out, const QByteArray& bytes) {
    if (out.write(bytes) != bytes.size())
        throw StoreError(
            QStringLiteral("Die Datei kann nicht geschrieben werden: %1").arg(out.errorString()));
}

QString originText(Format format, int origin) {
    return format == Format::VCard ? QStringLiteral("Karte %1").arg(origin)
                                   : QStringLiteral("Zeile %1").arg(origin);
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

} // namespace

const QStringList& addressFieldNames() {
    static const QStringList names = {
        QStringLiteral("Name"),       QStringLiteral("Vorname"),  QStringLiteral("Strasse"),
        QStringLiteral("PLZ"),        QStringLiteral("Ort"),      QStringLiteral("Land"),
        QStringLiteral("Telefon1"),   QStringLiteral("Telefon2"), QStringLiteral("Fax"),
        QStringLiteral("Email"),      QStringLiteral("WWW"),      QStringLiteral("KontoNr"),
        QStringLiteral("BLZ"),        QStringLiteral("Institut"), QStringLiteral("Rubrik"),
        QStringLiteral("Geburtstag"), QStringLiteral("Erstellt"), QStringLiteral("Aenderung"),
        QStringLiteral("Memo1"),      QStringLiteral("Grafik"),
    };
    return names;
}

bool Address::isEmpty() const {
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const QVariant& v = it.value();
        if (v.typeId() == QMetaType::QDate ? v.toDate().isValid() : !v.toByteArray().isEmpty())
            return false;
    }
    return true;
}

Address addressAt(const RecordStore& store, int visibleRow, bool withPicture) {
    Address address;
    address.origin = visibleRow + 1;
    for (const QString& field : addressFieldNames()) {
        if (!withPicture && field == u"Grafik")
            continue;
        const QVariant value = store.valueAt(visibleRow, field);
        if (!value.isNull())
            address.values.insert(field, value);
    }
    return address;
}

Format formatOf(const QString& fileName, const QByteArray& start) {
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == u"vcf" || suffix == u"vcard")
        return Format::VCard;
    if (suffix == u"csv")
        return Format::Csv;
    QByteArray head = start.left(200).trimmed();
    if (head.startsWith("\xEF\xBB\xBF"))
        head = head.mid(3).trimmed();
    return head.toUpper().startsWith("BEGIN:VCARD") ? Format::VCard : Format::Csv;
}

int exportRecords(const RecordStore& store, Format format, QIODevice& out,
                  const std::function<bool(int, int)>& progress) {
    const int total = store.visibleCount();
    if (format == Format::Csv)
        writeAll(out, csvHeader());
    // Written in slices: a large table goes out without holding it all.
    QByteArray buffer;
    int written = 0;
    for (int row = 0; row < total; ++row) {
        if (progress && row % 64 == 0 && !progress(row, total))
            break;
        // A CSV row has no picture: reading one would cost its megabytes for nothing.
        const Address address = addressAt(store, row, format == Format::VCard);
        buffer += format == Format::VCard ? toVCard(address) : toCsvRow(address);
        ++written;
        if (buffer.size() > (1 << 20)) {
            writeAll(out, buffer);
            buffer.clear();
        }
    }
    writeAll(out, buffer);
    return written;
}

ImportResult importAddresses(RecordStore& store, const std::vector<Address>& addresses,
                             Format format, const std::function<bool(int, int)>& progress) {
    // What the user was typing is stored (or dropped) as before any move; if
    // that fails, the import has not begun.
    if (store.HasUnsavedChanges())
        store.SaveRecord();
    else
        store.DiscardChanges();

    const QString keyViolation = QString::fromUtf8(px::KeyViolation().what());
    ImportResult result;
    auto note = [&](const Address& address, const QString& reason) {
        if (result.reasons.size() < kShownReasons)
            result.reasons << originText(format, address.origin) + QStringLiteral(": ") +
                                  withoutFullStop(reason);
    };

    KeepDates dates(store);
    const int total = static_cast<int>(addresses.size());
    for (int n = 0; n < total; ++n) {
        if (progress && !progress(n, total)) {
            result.cancelled = true;
            break;
        }
        const Address& address = addresses[static_cast<std::size_t>(n)];
        if (!address.problem.isEmpty()) {
            ++result.refused;
            note(address, address.problem);
            continue;
        }
        if (address.isEmpty()) {
            ++result.refused;
            note(address, QStringLiteral("keine Angaben"));
            continue;
        }
        store.InsertBlankRecord();
        try {
            for (const QString& field : addressFieldNames())
                if (address.values.contains(field))
                    store.setFieldValue(field, address.values.value(field));
            const QDate created = address.date(QStringLiteral("Erstellt"));
            store.SetFieldDate(QStringLiteral("Erstellt"),
                               created.isValid() ? created.startOfDay() : now());
            dates.setChanged(address.date(QStringLiteral("Aenderung")));
            store.SaveRecord();
            ++result.added;
        } catch (const StoreError& error) {
            store.DiscardChanges();
            if (error.text() == keyViolation) {
                ++result.skipped;
                note(address, QStringLiteral("schon vorhanden (gleicher Name, Vorname, Straße, PLZ "
                                             "und Ort), übersprungen"));
            } else {
                ++result.refused;
                note(address, error.text());
            }
        }
    }
    if (progress && !result.cancelled)
        progress(total, total);
    return result;
}

QString summaryText(const ImportResult& result) {
    auto count = [](int n, const char* one, const char* many) {
        return QStringLiteral("%1 %2").arg(n).arg(QString::fromUtf8(n == 1 ? one : many));
    };
    QString text = result.cancelled ? QStringLiteral("Der Import wurde abgebrochen.\n")
                                    : QStringLiteral("Der Import ist beendet.\n");
    text += count(result.added, "Adresse hinzugefügt", "Adressen hinzugefügt") +
            QStringLiteral(", ") + count(result.skipped, "übersprungen", "übersprungen") +
            QStringLiteral(" (schon vorhanden), ") +
            count(result.refused, "abgewiesen", "abgewiesen") + QStringLiteral(".");
    if (result.cancelled && result.added > 0)
        text += QStringLiteral("\nDie bis dahin hinzugefügten Adressen bleiben in der Tabelle.");
    if (!result.reasons.isEmpty()) {
        text += QStringLiteral("\n\n") + result.reasons.join(u'\n');
        if (result.skipped + result.refused > result.reasons.size())
            text += QStringLiteral("\n…");
    }
    return text;
}

} // namespace vellumo::exchange
