// CSV writing (RFC 4180, UTF-8) and reading (comma or semicolon, UTF-8 or
// Windows-1252, columns by header name).
#include "data/exchange.h"
#include "data/exchangetext.h"

#include "platform/database/recordstore.h"

#include <QHash>

#include <optional>

namespace vellumo::exchange {

namespace {

bool isDateField(const QString& field) {
    return field == u"Geburtstag" || field == u"Erstellt" || field == u"Aenderung";
}

// Every field but the picture: no spreadsheet holds one.
const QStringList& csvFields() {
    static const QStringList fields = [] {
        QStringList names = addressFieldNames();
        names.removeAll(QStringLiteral("Grafik"));
        return names;
    }();
    return fields;
}

QByteArray cell(const QString& text) {
    bool quote = false;
    for (const QChar c : text)
        if (c == u',' || c == u'"' || c == u'\n' || c == u'\r' || c == u';') {
            quote = true;
            break;
        }
    if (!quote)
        return text.toUtf8();
    QString inner = text;
    inner.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    inner.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    inner.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return '"' + inner.toUtf8() + '"';
}

QByteArray row(const QStringList& cells) {
    QByteArray out;
    for (qsizetype i = 0; i < cells.size(); ++i) {
        if (i > 0)
            out += ',';
        out += cell(cells[i]);
    }
    out += "\r\n";
    return out;
}

// The header names a spreadsheet may carry for our fields, besides the
// field names themselves.
QString fieldOfHeader(const QString& header) {
    static const QHash<QString, QString> names = [] {
        QHash<QString, QString> map;
        for (const QString& field : addressFieldNames())
            map.insert(field.toLower(), field);
        const struct {
            const char* alias;
            const char* field;
        } aliases[] = {
            {"nachname", "Name"},
            {"straße", "Strasse"},
            {"postleitzahl", "PLZ"},
            {"stadt", "Ort"},
            {"telefon", "Telefon1"},
            {"telefon 1", "Telefon1"},
            {"telefon 2", "Telefon2"},
            {"telefax", "Fax"},
            {"e-mail", "Email"},
            {"e-mail-adresse", "Email"},
            {"internet", "WWW"},
            {"webseite", "WWW"},
            {"homepage", "WWW"},
            {"url", "WWW"},
            {"kontonummer", "KontoNr"},
            {"konto", "KontoNr"},
            {"bankleitzahl", "BLZ"},
            {"bank", "Institut"},
            {"kreditinstitut", "Institut"},
            {"kategorie", "Rubrik"},
            {"geburtsdatum", "Geburtstag"},
            {"änderung", "Aenderung"},
            {"geändert", "Aenderung"},
            {"bemerkungen", "Memo1"},
            {"bemerkung", "Memo1"},
            {"notiz", "Memo1"},
            {"memo", "Memo1"},
        };
        for (const auto& a : aliases)
            map.insert(QString::fromUtf8(a.alias), QString::fromLatin1(a.field));
        return map;
    }();
    return names.value(header.trimmed().toLower());
}

QChar separatorOf(const QString& text) {
    int comma = 0, semicolon = 0, tab = 0;
    bool quoted = false;
    for (const QChar c : text) {
        if (c == u'"')
            quoted = !quoted;
        else if (!quoted && (c == u'\n' || c == u'\r'))
            break;
        else if (!quoted && c == u',')
            ++comma;
        else if (!quoted && c == u';')
            ++semicolon;
        else if (!quoted && c == u'\t')
            ++tab;
    }
    if (semicolon > comma && semicolon >= tab)
        return u';';
    if (tab > comma && tab > semicolon)
        return u'\t';
    return u',';
}

struct Row {
    QStringList cells;
    int line = 0;
};

// RFC 4180 rows: quoted cells may hold separators, doubled quotes and line
// breaks; rows end in CRLF, LF or CR.
std::vector<Row> rowsOf(const QString& text, QChar separator) {
    std::vector<Row> rows;
    Row current;
    QString cellText;
    int line = 1;
    current.line = 1;
    bool quoted = false;
    bool rowStarted = false;
    auto endRow = [&] {
        current.cells << cellText;
        cellText.clear();
        rows.push_back(std::move(current));
        current = Row();
        rowStarted = false;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (!rowStarted) {
            current.line = line;
            rowStarted = true;
        }
        if (quoted) {
            if (c == u'"') {
                if (i + 1 < text.size() && text[i + 1] == u'"') {
                    cellText += u'"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                if (c == u'\n' || (c == u'\r' && !(i + 1 < text.size() && text[i + 1] == u'\n')))
                    ++line;
                cellText += c;
            }
        } else if (c == u'"') {
            quoted = true;
        } else if (c == separator) {
            current.cells << cellText;
            cellText.clear();
        } else if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            ++line;
            endRow();
        } else {
            cellText += c;
        }
    }
    if (rowStarted)
        endRow();
    return rows;
}

std::optional<QDate> dateOf(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty())
        return QDate();
    // ISO, as vellumo-table dump and many programs write it, with or without a time.
    if (const QDate iso = QDate::fromString(t.left(10), u"yyyy-MM-dd");
        iso.isValid() && (t.size() == 10 || t[10] == u' ' || t[10] == u'T'))
        return iso;
    try {
        // dd.MM.yyyy as the program writes it, also d.M.yy; a time after it is dropped.
        return parseGermanDate(t.section(u' ', 0, 0));
    } catch (const StoreError&) {
        return std::nullopt;
    }
}

} // namespace

QByteArray csvHeader() {
    return row(csvFields());
}

QByteArray toCsvRow(const Address& address) {
    QStringList cells;
    for (const QString& field : csvFields())
        cells << (isDateField(field) ? formatGermanDate(address.date(field)) : address.text(field));
    return row(cells);
}

std::vector<Address> readCsv(const QByteArray& data) {
    QByteArray bytes = data;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.mid(3);
    const QString text = decodeUtf8Or1252(bytes);
    const std::vector<Row> rows = rowsOf(text, separatorOf(text));

    std::vector<Address> addresses;
    if (rows.empty())
        return addresses;
    QStringList columns; // field of each column, empty for columns we do not know
    bool any = false;
    for (const QString& header : rows.front().cells) {
        QString field = fieldOfHeader(header);
        if (field == u"Grafik" || columns.contains(field))
            field.clear();
        any = any || !field.isEmpty();
        columns << field;
    }
    if (!any) {
        Address bad;
        bad.origin = 1;
        bad.problem = QStringLiteral("Die erste Zeile nennt keines der Felder der Adresstabelle "
                                     "(Name, Vorname, Strasse, PLZ, Ort, …)");
        addresses.push_back(bad);
        return addresses;
    }

    for (std::size_t r = 1; r < rows.size(); ++r) {
        const Row& source = rows[r];
        Address address;
        address.origin = source.line;
        bool blank = true;
        for (qsizetype c = 0; c < source.cells.size() && c < columns.size(); ++c) {
            const QString& field = columns[c];
            const QString& value = source.cells[c];
            if (!value.trimmed().isEmpty())
                blank = false;
            if (field.isEmpty())
                continue;
            if (isDateField(field)) {
                const std::optional<QDate> date = dateOf(value);
                if (!date) {
                    if (address.problem.isEmpty())
                        address.problem =
                            QStringLiteral("\"%1\" im Feld %2 ist kein gültiges Datum")
                                .arg(value.trimmed(), field);
                } else if (date->isValid()) {
                    address.values.insert(field, *date);
                }
            } else if (field == u"Memo1") {
                QString memo = value;
                memo.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
                if (!memo.isEmpty())
                    address.values.insert(field, memo);
            } else if (const QString t = value.trimmed(); !t.isEmpty()) {
                address.values.insert(field, t);
            }
        }
        if (!blank)
            addresses.push_back(std::move(address));
    }
    return addresses;
}

} // namespace vellumo::exchange
