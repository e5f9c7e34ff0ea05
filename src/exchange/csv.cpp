// CSV writing (RFC 4180 UTF-8, or semicolons with a byte order mark for
// spreadsheets) and reading (comma, semicolon or tab; UTF-8, UTF-16LE or
// Windows-1252; columns by header name, as this program, Google Contacts,
// the common mail programs in German and English and spreadsheets name them).
#include "address/bank.h"
#include "exchange/builder.h"
#include "exchange/columns.h"
#include "exchange/exchange.h"
#include "exchange/input.h"
#include "exchange/text.h"
#include "search/folding.h"

#include "platform/database/recordstore.h"

#include <QHash>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

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

// ---- formulas ---------------------------------------------------------------------

// A number or a telephone number ("+49 30 1234", "-5", "(0221) 12 34") is
// no formula, whatever its first character.
bool isNumberLike(const QString& text) {
    static const QRegularExpression number(QStringLiteral("^[+-]?[0-9(][0-9 ()/.,-]*$"));
    return number.match(text).hasMatch();
}

bool startsFormula(const QString& text) {
    static const QString triggers = QStringLiteral("=+-@\t\r");
    return !text.isEmpty() && triggers.contains(text[0]) && !isNumberLike(text);
}

// The text after leading apostrophes: a value that already starts with one
// before a formula character gets one more, so reading gives it back exactly.
bool needsDefusing(const QString& text) {
    qsizetype k = 0;
    while (k < text.size() && text[k] == u'\'')
        ++k;
    return startsFormula(text.mid(k));
}

QString defused(const QString& text) {
    return needsDefusing(text) ? u'\'' + text : text;
}

QString undefused(const QString& text) {
    return text.startsWith(u'\'') && needsDefusing(text.mid(1)) ? text.mid(1) : text;
}

// ---- writing ----------------------------------------------------------------------

QByteArray cell(const QString& raw, char separator) {
    const QString text = defused(raw);
    bool quote = false;
    for (const QChar c : text)
        if (c == u',' || c == u'"' || c == u'\n' || c == u'\r' || c == u';' || c == u'\t') {
            quote = true;
            break;
        }
    Q_UNUSED(separator);
    if (!quote)
        return text.toUtf8();
    QString inner = text;
    inner.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    inner.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    inner.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return '"' + inner.toUtf8() + '"';
}

char separatorFor(Format format) {
    return format == Format::SpreadsheetCsv ? ';' : ',';
}

QByteArray row(const QStringList& cells, Format format) {
    const char separator = separatorFor(format);
    QByteArray out;
    for (qsizetype i = 0; i < cells.size(); ++i) {
        if (i > 0)
            out += separator;
        out += cell(cells[i], separator);
    }
    out += "\r\n";
    return out;
}

QString dateCell(const QDate& date) {
    if (date.isValid() && date.year() == address::kYearUnknown)
        return date.toString(u"dd.MM.");
    return formatGermanDate(date);
}

// ---- reading: what a column holds ---------------------------------------------------

enum class Role {
    Field,    // one field of the table, as named
    Given,    // given names, joined by blanks
    Family,   // family name
    FullName, // used when there is no name
    Company,
    Phone,
    Fax,
    Email,
    Web,
    Street,
    HouseNumber, // joined to the street of its group
    Code,
    Town,
    Region,
    Country,
    Birthday,
    BirthYear,
    BirthMonth,
    BirthDay,
    Memo,
    Note, // into the notes with its label
    Kind, // the kind of the numbered entry of its group (Google: "Phone 1 - Label")
    Iban, // a German one fills empty "BLZ" and "KontoNr", any other goes into the notes
    Skip, // repeats what other columns hold
};

struct Column {
    Role role = Role::Note;
    QString field; // Role::Field
    QString label; // German kind ("Arbeit") or, for Note, what the line says
    QString group; // address parts and numbered entries of one group belong together
    QString header;
};

struct Known {
    const char* header;
    Role role;
    const char* label;
    const char* group;
};

// Headers as other programs write them, lower case. The groups keep the
// parts of one postal address together.
const Known kKnown[] = {
    // names
    {"vorname", Role::Given, "", ""},
    {"first name", Role::Given, "", ""},
    {"given name", Role::Given, "", ""},
    {"weitere vornamen", Role::Given, "", ""},
    {"middle name", Role::Given, "", ""},
    {"additional name", Role::Given, "", ""},
    {"nachname", Role::Family, "", ""},
    {"last name", Role::Family, "", ""},
    {"family name", Role::Family, "", ""},
    {"anzeigename", Role::FullName, "", ""},
    {"display name", Role::FullName, "", ""},
    {"full name", Role::FullName, "", ""},
    {"anrede", Role::Note, "Anrede", ""},
    {"title", Role::Note, "Anrede", ""},
    {"name prefix", Role::Note, "Anrede", ""},
    {"suffix", Role::Note, "Namenszusatz", ""},
    {"name suffix", Role::Note, "Namenszusatz", ""},
    {"spitzname", Role::Note, "Spitzname", ""},
    {"nickname", Role::Note, "Spitzname", ""},
    {"firma", Role::Company, "", ""},
    {"company", Role::Company, "", ""},
    {"organization", Role::Company, "", ""},
    {"organisation", Role::Company, "", ""},
    {"organization name", Role::Company, "", ""},
    {"abteilung", Role::Note, "Abteilung", ""},
    {"department", Role::Note, "Abteilung", ""},
    {"position", Role::Note, "Position", ""},
    {"job title", Role::Note, "Position", ""},
    {"arbeitstitel", Role::Note, "Position", ""},
    // postal addresses
    {"straße", Role::Street, "", "main"},
    {"stadt", Role::Town, "", "main"},
    {"postleitzahl", Role::Code, "", "main"},
    {"straße privat", Role::Street, "Privat", "home"},
    {"straße privat 2", Role::Street, "Privat", "home"},
    {"straße privat 3", Role::Street, "Privat", "home"},
    {"ort privat", Role::Town, "Privat", "home"},
    {"postleitzahl privat", Role::Code, "Privat", "home"},
    {"bundesland/kanton privat", Role::Region, "Privat", "home"},
    {"land/region privat", Role::Country, "Privat", "home"},
    {"home street", Role::Street, "Privat", "home"},
    {"home street 2", Role::Street, "Privat", "home"},
    {"home street 3", Role::Street, "Privat", "home"},
    {"home city", Role::Town, "Privat", "home"},
    {"home postal code", Role::Code, "Privat", "home"},
    {"home state", Role::Region, "Privat", "home"},
    {"home country/region", Role::Country, "Privat", "home"},
    {"home country", Role::Country, "Privat", "home"},
    {"privat: adresse", Role::Street, "Privat", "home"},
    {"privat: adresse 2", Role::Street, "Privat", "home"},
    {"privat: ort", Role::Town, "Privat", "home"},
    {"privat: plz", Role::Code, "Privat", "home"},
    {"privat: bundesland", Role::Region, "Privat", "home"},
    {"privat: land", Role::Country, "Privat", "home"},
    {"home address", Role::Street, "Privat", "home"},
    {"home address 2", Role::Street, "Privat", "home"},
    {"home zipcode", Role::Code, "Privat", "home"},
    {"home zip code", Role::Code, "Privat", "home"},
    {"straße geschäftlich", Role::Street, "Arbeit", "work"},
    {"straße geschäftlich 2", Role::Street, "Arbeit", "work"},
    {"straße geschäftlich 3", Role::Street, "Arbeit", "work"},
    {"ort geschäftlich", Role::Town, "Arbeit", "work"},
    {"postleitzahl geschäftlich", Role::Code, "Arbeit", "work"},
    {"region geschäftlich", Role::Region, "Arbeit", "work"},
    {"bundesland/kanton geschäftlich", Role::Region, "Arbeit", "work"},
    {"land/region geschäftlich", Role::Country, "Arbeit", "work"},
    {"business street", Role::Street, "Arbeit", "work"},
    {"business street 2", Role::Street, "Arbeit", "work"},
    {"business street 3", Role::Street, "Arbeit", "work"},
    {"business city", Role::Town, "Arbeit", "work"},
    {"business postal code", Role::Code, "Arbeit", "work"},
    {"business state", Role::Region, "Arbeit", "work"},
    {"business country/region", Role::Country, "Arbeit", "work"},
    {"business country", Role::Country, "Arbeit", "work"},
    {"dienstlich: adresse", Role::Street, "Arbeit", "work"},
    {"dienstlich: adresse 2", Role::Street, "Arbeit", "work"},
    {"dienstlich: ort", Role::Town, "Arbeit", "work"},
    {"dienstlich: plz", Role::Code, "Arbeit", "work"},
    {"dienstlich: bundesland", Role::Region, "Arbeit", "work"},
    {"dienstlich: land", Role::Country, "Arbeit", "work"},
    {"work address", Role::Street, "Arbeit", "work"},
    {"work address 2", Role::Street, "Arbeit", "work"},
    {"work city", Role::Town, "Arbeit", "work"},
    {"work zipcode", Role::Code, "Arbeit", "work"},
    {"work zip code", Role::Code, "Arbeit", "work"},
    {"work state", Role::Region, "Arbeit", "work"},
    {"work country", Role::Country, "Arbeit", "work"},
    {"weitere straße", Role::Street, "Sonstige", "other"},
    {"weiterer ort", Role::Town, "Sonstige", "other"},
    {"weitere postleitzahl", Role::Code, "Sonstige", "other"},
    {"weiteres bundesland/kanton", Role::Region, "Sonstige", "other"},
    {"weiteres land/region", Role::Country, "Sonstige", "other"},
    {"other street", Role::Street, "Sonstige", "other"},
    {"other city", Role::Town, "Sonstige", "other"},
    {"other postal code", Role::Code, "Sonstige", "other"},
    {"other state", Role::Region, "Sonstige", "other"},
    {"other country/region", Role::Country, "Sonstige", "other"},
    // telephone, fax, e-mail, web
    {"telefon", Role::Phone, "", ""},
    {"telefon geschäftlich", Role::Phone, "Arbeit", ""},
    {"telefon geschäftlich 2", Role::Phone, "Arbeit", ""},
    {"telefon privat", Role::Phone, "Privat", ""},
    {"telefon privat 2", Role::Phone, "Privat", ""},
    {"mobiltelefon", Role::Phone, "Mobil", ""},
    {"mobiltelefon 2", Role::Phone, "Mobil", ""},
    {"autotelefon", Role::Phone, "Auto", ""},
    {"weiteres telefon", Role::Phone, "Sonstige", ""},
    {"haupttelefon", Role::Phone, "", ""},
    {"telefon firma", Role::Phone, "Zentrale", ""},
    {"pager", Role::Phone, "Pager", ""},
    {"business phone", Role::Phone, "Arbeit", ""},
    {"business phone 2", Role::Phone, "Arbeit", ""},
    {"home phone", Role::Phone, "Privat", ""},
    {"home phone 2", Role::Phone, "Privat", ""},
    {"mobile phone", Role::Phone, "Mobil", ""},
    {"car phone", Role::Phone, "Auto", ""},
    {"other phone", Role::Phone, "Sonstige", ""},
    {"primary phone", Role::Phone, "", ""},
    {"company main phone", Role::Phone, "Zentrale", ""},
    {"work phone", Role::Phone, "Arbeit", ""},
    {"mobile number", Role::Phone, "Mobil", ""},
    {"pager number", Role::Phone, "Pager", ""},
    {"tel. dienstlich", Role::Phone, "Arbeit", ""},
    {"tel. privat", Role::Phone, "Privat", ""},
    {"mobil-tel.-nr.", Role::Phone, "Mobil", ""},
    {"pager-nummer", Role::Phone, "Pager", ""},
    {"telefax", Role::Fax, "", ""},
    {"fax geschäftlich", Role::Fax, "Arbeit", ""},
    {"fax privat", Role::Fax, "Privat", ""},
    {"weiteres fax", Role::Fax, "Sonstige", ""},
    {"business fax", Role::Fax, "Arbeit", ""},
    {"home fax", Role::Fax, "Privat", ""},
    {"other fax", Role::Fax, "Sonstige", ""},
    {"fax number", Role::Fax, "", ""},
    {"fax-nummer", Role::Fax, "", ""},
    {"e-mail", Role::Email, "", ""},
    {"e-mail-adresse", Role::Email, "", ""},
    {"e-mail 2: adresse", Role::Email, "", ""},
    {"e-mail 3: adresse", Role::Email, "", ""},
    {"e-mail address", Role::Email, "", ""},
    {"e-mail 2 address", Role::Email, "", ""},
    {"e-mail 3 address", Role::Email, "", ""},
    {"email address", Role::Email, "", ""},
    {"primäre e-mail-adresse", Role::Email, "", ""},
    {"sekundäre e-mail-adresse", Role::Email, "", ""},
    {"primary email", Role::Email, "", ""},
    {"secondary email", Role::Email, "", ""},
    {"webseite", Role::Web, "", ""},
    {"webseite 1", Role::Web, "", ""},
    {"webseite 2", Role::Web, "", ""},
    {"web page", Role::Web, "", ""},
    {"web page 1", Role::Web, "", ""},
    {"web page 2", Role::Web, "", ""},
    {"personal web page", Role::Web, "Privat", ""},
    {"persönliche webseite", Role::Web, "Privat", ""},
    {"homepage", Role::Web, "", ""},
    {"internet", Role::Web, "", ""},
    {"url", Role::Web, "", ""},
    // dates, notes, categories, bank
    {"geburtsdatum", Role::Birthday, "", ""},
    {"birthday", Role::Birthday, "", ""},
    {"geburtsjahr", Role::BirthYear, "", ""},
    {"geburtsmonat", Role::BirthMonth, "", ""},
    {"birth year", Role::BirthYear, "", ""},
    {"birth month", Role::BirthMonth, "", ""},
    {"birth day", Role::BirthDay, "", ""},
    {"notizen", Role::Memo, "", ""},
    {"notes", Role::Memo, "", ""},
    {"bemerkung", Role::Memo, "", ""},
    {"bemerkungen", Role::Memo, "", ""},
    {"notiz", Role::Memo, "", ""},
    {"memo", Role::Memo, "", ""},
    {"kategorie", Role::Field, "Rubrik", ""},
    {"kategorien", Role::Field, "Rubrik", ""},
    {"categories", Role::Field, "Rubrik", ""},
    {"labels", Role::Field, "Rubrik", ""},
    {"group membership", Role::Field, "Rubrik", ""},
    {"kontonummer", Role::Field, "KontoNr", ""},
    {"iban", Role::Iban, "IBAN", ""},
    {"bankleitzahl", Role::Field, "BLZ", ""},
    {"bank", Role::Field, "Institut", ""},
    {"kreditinstitut", Role::Field, "Institut", ""},
    {"änderung", Role::Field, "Aenderung", ""},
    {"geändert", Role::Field, "Aenderung", ""},
    // what looks like a field but is not: an office, an account
    {"büro", Role::Note, "Büro", ""},
    {"location", Role::Note, "Büro", ""},
    {"office location", Role::Note, "Büro", ""},
    {"konto", Role::Note, "Konto", ""},
    {"account", Role::Note, "Konto", ""},
};

// Field names of old desktop databases (dBase, FoxPro, other programs'
// Paradox tables), compared folded (foldedName): "STRASSE_NR", "Tel. privat"
// and "TELPRIVAT" are one name. Tried after the headers above.
const Known kOldNames[] = {
    {"name", Role::Family, "", ""},
    {"nachname", Role::Family, "", ""},
    {"familienname", Role::Family, "", ""},
    {"zuname", Role::Family, "", ""},
    {"nname", Role::Family, "", ""},
    {"lastname", Role::Family, "", ""},
    {"surname", Role::Family, "", ""},
    {"vorname", Role::Given, "", ""},
    {"vname", Role::Given, "", ""},
    {"rufname", Role::Given, "", ""},
    {"firstname", Role::Given, "", ""},
    {"firma", Role::Company, "", ""},
    {"firma1", Role::Company, "", ""},
    {"firmenname", Role::Company, "", ""},
    {"titel", Role::Note, "Titel", ""},
    {"anrede", Role::Note, "Anrede", ""},
    {"strasse", Role::Street, "", "main"},
    {"str", Role::Street, "", "main"},
    {"strnr", Role::Street, "", "main"},
    {"strassenr", Role::Street, "", "main"},
    {"strassehnr", Role::Street, "", "main"},
    {"strassehausnr", Role::Street, "", "main"},
    {"strassehausnummer", Role::Street, "", "main"},
    {"anschrift", Role::Street, "", "main"},
    {"adresse", Role::Street, "", "main"},
    {"street", Role::Street, "", "main"},
    {"address", Role::Street, "", "main"},
    {"address1", Role::Street, "", "main"},
    {"hausnr", Role::HouseNumber, "", "main"},
    {"hausnummer", Role::HouseNumber, "", "main"},
    {"hnr", Role::HouseNumber, "", "main"},
    {"nr", Role::HouseNumber, "", "main"},
    {"plz", Role::Code, "", "main"},
    {"postleitzahl", Role::Code, "", "main"},
    {"zip", Role::Code, "", "main"},
    {"zipcode", Role::Code, "", "main"},
    {"postcode", Role::Code, "", "main"},
    {"postalcode", Role::Code, "", "main"},
    {"ort", Role::Town, "", "main"},
    {"wohnort", Role::Town, "", "main"},
    {"stadt", Role::Town, "", "main"},
    {"city", Role::Town, "", "main"},
    {"town", Role::Town, "", "main"},
    {"land", Role::Country, "", "main"},
    {"staat", Role::Country, "", "main"},
    {"country", Role::Country, "", "main"},
    {"bundesland", Role::Region, "", "main"},
    {"tel", Role::Phone, "", ""},
    {"tel1", Role::Phone, "", ""},
    {"telefon", Role::Phone, "", ""},
    {"telefon1", Role::Phone, "", ""},
    {"telprivat", Role::Phone, "Privat", ""},
    {"telpriv", Role::Phone, "Privat", ""},
    {"telefonprivat", Role::Phone, "Privat", ""},
    {"phone", Role::Phone, "", ""},
    {"tel2", Role::Phone, "", ""},
    {"telefon2", Role::Phone, "", ""},
    {"teldienst", Role::Phone, "Arbeit", ""},
    {"teldienstl", Role::Phone, "Arbeit", ""},
    {"telgesch", Role::Phone, "Arbeit", ""},
    {"telbuero", Role::Phone, "Arbeit", ""},
    {"telfirma", Role::Phone, "Arbeit", ""},
    {"telefondienstlich", Role::Phone, "Arbeit", ""},
    {"handy", Role::Phone, "Mobil", ""},
    {"mobil", Role::Phone, "Mobil", ""},
    {"mobiltel", Role::Phone, "Mobil", ""},
    {"telmobil", Role::Phone, "Mobil", ""},
    {"mobile", Role::Phone, "Mobil", ""},
    {"fax", Role::Fax, "", ""},
    {"telefax", Role::Fax, "", ""},
    {"faxnr", Role::Fax, "", ""},
    {"email", Role::Email, "", ""},
    {"mail", Role::Email, "", ""},
    {"emailadresse", Role::Email, "", ""},
    {"www", Role::Web, "", ""},
    {"homepage", Role::Web, "", ""},
    {"internet", Role::Web, "", ""},
    {"webseite", Role::Web, "", ""},
    {"url", Role::Web, "", ""},
    {"geburtstag", Role::Birthday, "", ""},
    {"geburt", Role::Birthday, "", ""},
    {"geburtsdatum", Role::Birthday, "", ""},
    {"gebdatum", Role::Birthday, "", ""},
    {"gebdat", Role::Birthday, "", ""},
    {"geb", Role::Birthday, "", ""},
    {"gebtag", Role::Birthday, "", ""},
    {"birthday", Role::Birthday, "", ""},
    {"bemerkung", Role::Memo, "", ""},
    {"bemerkungen", Role::Memo, "", ""},
    {"bem", Role::Memo, "", ""},
    {"notiz", Role::Memo, "", ""},
    {"notizen", Role::Memo, "", ""},
    {"memo", Role::Memo, "", ""},
    {"kommentar", Role::Memo, "", ""},
    {"info", Role::Memo, "", ""},
    {"notes", Role::Memo, "", ""},
    {"rubrik", Role::Field, "Rubrik", ""},
    {"kategorie", Role::Field, "Rubrik", ""},
    {"gruppe", Role::Field, "Rubrik", ""},
    {"kontonr", Role::Field, "KontoNr", ""},
    {"kontonummer", Role::Field, "KontoNr", ""},
    {"ktonr", Role::Field, "KontoNr", ""},
    {"konto", Role::Field, "KontoNr", ""},
    {"blz", Role::Field, "BLZ", ""},
    {"bankleitzahl", Role::Field, "BLZ", ""},
    {"bank", Role::Field, "Institut", ""},
    {"institut", Role::Field, "Institut", ""},
    {"kreditinstitut", Role::Field, "Institut", ""},
};

// A name folded as the search folds it (umlauts and their spellings, case,
// "-strasse"), with nothing but letters and digits: "Straße Nr.",
// "STRASSE_NR" and "Strasse-Nr" give one name.
QString foldedName(const QString& name) {
    QString out;
    for (const QChar c : search::fold(name))
        if (c.isLetterOrNumber())
            out += c;
    return out;
}

QString normalised(const QString& header) {
    return header.trimmed().toLower().simplified();
}

// Google Contacts: "Phone 1 - Value", "Address 2 - City", "E-mail 1 - Label" …
Column numberedColumn(const QString& header, const QString& key) {
    static const QRegularExpression numbered(
        QStringLiteral("^(e-mail|phone|address|website|organization|organisation) (\\d+) - (.+)$"));
    const QRegularExpressionMatch m = numbered.match(key);
    Column c;
    c.header = header;
    c.label = header;
    if (!m.hasMatch())
        return c;
    const QString kind = m.captured(1), part = m.captured(3);
    c.group = kind + u' ' + m.captured(2);
    if (part == u"type" || part == u"label") {
        c.role = Role::Kind;
    } else if (kind == u"phone" && part == u"value") {
        c.role = Role::Phone;
    } else if (kind == u"e-mail" && part == u"value") {
        c.role = Role::Email;
    } else if (kind == u"website" && part == u"value") {
        c.role = Role::Web;
    } else if (kind == u"address") {
        const QMap<QString, Role> parts = {
            {QStringLiteral("street"), Role::Street},
            {QStringLiteral("extended address"), Role::Street},
            {QStringLiteral("po box"), Role::Street},
            {QStringLiteral("city"), Role::Town},
            {QStringLiteral("postal code"), Role::Code},
            {QStringLiteral("region"), Role::Region},
            {QStringLiteral("country"), Role::Country},
        };
        if (parts.contains(part))
            c.role = parts.value(part);
        else if (part == u"formatted")
            c.role = Role::Skip; // the parts beside it say the same
        if (part == u"po box")
            c.label = QStringLiteral("Postfach");
    } else if (kind.startsWith(u"organi")) {
        if (part == u"name") {
            c.role = Role::Company;
        } else {
            c.role = Role::Note;
            c.label = part == u"title"        ? QStringLiteral("Position")
                      : part == u"department" ? QStringLiteral("Abteilung")
                                              : header;
        }
    }
    return c;
}

std::vector<Column> columnsOf(const QStringList& headers) {
    static const QHash<QString, Known> known = [] {
        QHash<QString, Known> map;
        for (const Known& k : kKnown)
            map.insert(QString::fromUtf8(k.header), k);
        return map;
    }();
    static const QHash<QString, Known> oldNames = [] {
        QHash<QString, Known> map;
        for (const Known& k : kOldNames)
            map.insert(foldedName(QString::fromUtf8(k.header)), k);
        return map;
    }();
    QSet<QString> keys;
    for (const QString& h : headers)
        keys.insert(normalised(h));
    // A German mail program writes "Ort" for the office and the towns as
    // "Ort privat" / "Ort geschäftlich"; Google's "Name" is the display name;
    // with "Geburtsjahr" and "Geburtsmonat", "Geburtstag" is only the day.
    const bool mailProgramGerman = keys.contains(QStringLiteral("ort privat")) ||
                                   keys.contains(QStringLiteral("ort geschäftlich")) ||
                                   keys.contains(QStringLiteral("straße privat")) ||
                                   keys.contains(QStringLiteral("straße geschäftlich"));
    const bool google = keys.contains(QStringLiteral("given name")) ||
                        keys.contains(QStringLiteral("family name")) ||
                        keys.contains(QStringLiteral("phone 1 - value")) ||
                        keys.contains(QStringLiteral("e-mail 1 - value"));
    const bool birthdayInParts =
        keys.contains(QStringLiteral("geburtsjahr")) || keys.contains(QStringLiteral("birth year"));

    std::vector<Column> columns;
    for (const QString& header : headers) {
        const QString key = normalised(header);
        Column c;
        c.header = header;
        c.label = header.trimmed();
        const QString field = [&] {
            for (const QString& f : addressFieldNames())
                if (f.compare(key, Qt::CaseInsensitive) == 0)
                    return f;
            return QString();
        }();
        if (key == u"ort" && mailProgramGerman) {
            c.role = Role::Note;
            c.label = QStringLiteral("Büro");
        } else if (key == u"name" && google) {
            c.role = Role::FullName;
        } else if (key == u"geburtstag" && birthdayInParts) {
            c.role = Role::BirthDay;
        } else if (field == u"Grafik") {
            c.role = Role::Note;
        } else if (field == u"Name") {
            c.role = Role::Family;
        } else if (field == u"Vorname") {
            c.role = Role::Given;
        } else if (field == u"Strasse" || field == u"PLZ" || field == u"Ort" || field == u"Land") {
            c.role = field == u"Strasse" ? Role::Street
                     : field == u"PLZ"   ? Role::Code
                     : field == u"Ort"   ? Role::Town
                                         : Role::Country;
            c.group = QStringLiteral("main");
        } else if (field == u"Telefon1" || field == u"Telefon2" || field == u"Fax" ||
                   field == u"Email" || field == u"WWW") {
            c.role = Role::Field; // our own columns: each to its field
            c.field = field;
        } else if (field == u"Memo1") {
            c.role = Role::Memo;
        } else if (!field.isEmpty()) {
            c.role = Role::Field;
            c.field = field;
        } else if (known.contains(key) || oldNames.contains(foldedName(key))) {
            const Known& k =
                known.contains(key) ? known.value(key) : oldNames.value(foldedName(key));
            c.role = k.role;
            if (k.role == Role::Field)
                c.field = QString::fromUtf8(k.label);
            else if (k.label[0] != '\0')
                c.label = QString::fromUtf8(k.label);
            else if (k.role != Role::Note)
                c.label.clear();
            c.group = QString::fromUtf8(k.group);
        } else {
            c = numberedColumn(header, key);
        }
        columns.push_back(c);
    }
    return columns;
}

QString targetOf(const Column& c) {
    switch (c.role) {
    case Role::Field:
        return c.field;
    case Role::Given:
        return QStringLiteral("Vorname");
    case Role::Family:
        return QStringLiteral("Name");
    case Role::FullName:
        return QStringLiteral("Name (wenn kein Name angegeben ist)");
    case Role::Company:
        return QStringLiteral("Bemerkungen (Firma; Name, wenn kein Name angegeben ist)");
    case Role::Phone:
        return QStringLiteral("Telefon1, Telefon2, weitere in die Bemerkungen");
    case Role::Fax:
        return QStringLiteral("Fax, weitere in die Bemerkungen");
    case Role::Email:
        return QStringLiteral("Email, weitere in die Bemerkungen");
    case Role::Web:
        return QStringLiteral("WWW, weitere in die Bemerkungen");
    case Role::Street:
        return QStringLiteral("Strasse (weitere Anschriften in die Bemerkungen)");
    case Role::HouseNumber:
        return QStringLiteral("Strasse (Hausnummer hinter der Straße)");
    case Role::Code:
        return QStringLiteral("PLZ (weitere Anschriften in die Bemerkungen)");
    case Role::Town:
        return QStringLiteral("Ort (weitere Anschriften in die Bemerkungen)");
    case Role::Region:
        return QStringLiteral("Bemerkungen (Region)");
    case Role::Country:
        return QStringLiteral("Land (weitere Anschriften in die Bemerkungen)");
    case Role::Birthday:
    case Role::BirthYear:
    case Role::BirthMonth:
    case Role::BirthDay:
        return QStringLiteral("Geburtstag");
    case Role::Memo:
        return QStringLiteral("Bemerkungen");
    case Role::Kind:
        return QStringLiteral("Art der Angabe daneben");
    case Role::Skip:
        return QStringLiteral("nicht übernommen (steht auch in den Spalten daneben)");
    case Role::Iban:
        return QStringLiteral("BLZ und KontoNr (eine ausländische IBAN in die Bemerkungen)");
    case Role::Note:
        break;
    }
    return QStringLiteral("Bemerkungen (\"%1: …\")").arg(c.label);
}

// ---- reading: bytes and rows ------------------------------------------------------

// A row longer than this is no address; it is refused without being kept.
constexpr qsizetype kMaxRow = 1 << 20;

// The separator that stands most often outside quotes in the header row.
char separatorOf(const QByteArray& head) {
    int comma = 0, semicolon = 0, tab = 0;
    bool quoted = false;
    for (const char c : head) {
        if (c == '"')
            quoted = !quoted;
        else if (!quoted && (c == '\n' || c == '\r'))
            break;
        else if (!quoted && c == ',')
            ++comma;
        else if (!quoted && c == ';')
            ++semicolon;
        else if (!quoted && c == '\t')
            ++tab;
    }
    if (semicolon > comma && semicolon >= tab)
        return ';';
    if (tab > comma && tab > semicolon)
        return '\t';
    return ',';
}

struct Row {
    QStringList cells;
    int line = 0;
    bool tooLong = false;
};

// The cells of a row as text: UTF-8 when all of them are, else Windows-1252
// (the structure is ASCII, so a character is never split between cells).
QStringList decodedCells(const QList<QByteArray>& cells) {
    QStringList texts;
    texts.reserve(cells.size());
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    for (const QByteArray& c : cells) {
        texts << utf8.decode(c);
        if (utf8.hasError()) {
            texts.clear();
            for (const QByteArray& again : cells)
                texts << decodeWindows1252(again);
            break;
        }
    }
    return texts;
}

// RFC 4180 rows: quoted cells may hold separators, doubled quotes and line
// breaks; rows end in CRLF, LF or CR. A quote counts only at the start of a
// cell, so a stray one inside a cell cannot swallow the rest of the file.
class CsvRows {
public:
    CsvRows(ByteInput& input, char separator) : input_(input), separator_(separator) {}

    bool next(Row& row) {
        QList<QByteArray> cells;
        QByteArray cell;
        qsizetype kept = 0;
        bool quoted = false, started = false, cellStart = true, tooLong = false;
        auto keep = [&](char c) {
            if (++kept > kMaxRow)
                tooLong = true;
            else
                cell += c;
        };
        for (;;) {
            const int c = input_.get();
            if (c < 0) {
                if (!started)
                    return false;
                break;
            }
            if (!started) {
                row.line = line_;
                started = true;
            }
            if (quoted) {
                if (c == '"') {
                    if (input_.peek() == '"') {
                        keep('"');
                        input_.get();
                    } else {
                        quoted = false;
                    }
                } else {
                    if (c == '\n' || (c == '\r' && input_.peek() != '\n'))
                        ++line_;
                    keep(static_cast<char>(c));
                }
            } else if (c == '"' && cellStart) {
                quoted = true;
                cellStart = false;
            } else if (c == separator_) {
                cells << cell;
                cell.clear();
                cellStart = true;
            } else if (c == '\r' || c == '\n') {
                if (c == '\r' && input_.peek() == '\n')
                    input_.get();
                ++line_;
                break;
            } else {
                keep(static_cast<char>(c));
                cellStart = false;
            }
        }
        cells << cell;
        row.tooLong = tooLong;
        row.cells = tooLong ? QStringList() : decodedCells(cells);
        return true;
    }

private:
    ByteInput& input_;
    char separator_;
    int line_ = 1;
};

// One row into an address: the parts of a postal address gathered by group
// (home first, as the table keeps one address of a person), numbered entries
// with the kind from their label column.
Address addressOf(const Row& source, const std::vector<Column>& columns) {
    AddressBuilder builder(source.line);
    QStringList given;
    QString family, fullName, memo;
    int year = 0, month = 0, day = 0;
    QMap<QString, QString> kinds; // group -> kind label of its numbered entries
    struct Postal {
        QStringList street;
        QString number, code, town, region, country, label;
    };
    QStringList postalOrder;
    QMap<QString, Postal> postals;
    struct Later {
        Role role;
        QString value, label, group;
    };
    std::vector<Later> contacts; // phones, faxes, e-mail and web in column order
    QString iban, blz, kontoNr;

    for (qsizetype i = 0; i < source.cells.size() && i < qsizetype(columns.size()); ++i) {
        const Column& c = columns[static_cast<std::size_t>(i)];
        QString raw = undefused(source.cells[i]);
        raw.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        const QString value = c.role == Role::Memo ? raw : raw.trimmed();
        if (value.trimmed().isEmpty())
            continue;
        switch (c.role) {
        case Role::Field:
            if (isDateField(c.field))
                builder.setDate(c.field, value,
                                QStringLiteral("Das Datum in \"%1\"").arg(c.header));
            else
                builder.set(c.field, value);
            if (c.field == u"BLZ")
                blz = value;
            else if (c.field == u"KontoNr")
                kontoNr = value;
            break;
        case Role::Iban:
            iban = value;
            break;
        case Role::Given:
            given << value;
            break;
        case Role::Family:
            family = value;
            break;
        case Role::FullName:
            fullName = value;
            break;
        case Role::Company:
            builder.setOrganisation(value);
            break;
        case Role::Phone:
        case Role::Fax:
        case Role::Email:
        case Role::Web:
            // Google puts several values into one cell, separated by " ::: ".
            for (const QString& part : value.split(QStringLiteral(":::")))
                contacts.push_back({c.role, part.trimmed(), c.label, c.group});
            break;
        case Role::Street:
        case Role::HouseNumber:
        case Role::Code:
        case Role::Town:
        case Role::Region:
        case Role::Country: {
            const QString group = c.group.isEmpty() ? QStringLiteral("main") : c.group;
            if (!postals.contains(group))
                postalOrder << group;
            Postal& p = postals[group];
            if (!c.label.isEmpty() && c.label != u"Postfach" && p.label.isEmpty())
                p.label = c.label;
            if (c.role == Role::Street)
                p.street << (c.label == u"Postfach" ? QStringLiteral("Postfach ") + value : value);
            else if (c.role == Role::HouseNumber)
                p.number = value;
            else if (c.role == Role::Code)
                p.code = value;
            else if (c.role == Role::Town)
                p.town = value;
            else if (c.role == Role::Region)
                p.region = value;
            else
                p.country = value;
            break;
        }
        case Role::Birthday:
            builder.setDate(QStringLiteral("Geburtstag"), value,
                            QStringLiteral("Das Geburtsdatum"));
            break;
        case Role::BirthYear:
            year = value.toInt();
            break;
        case Role::BirthMonth:
            month = value.toInt();
            break;
        case Role::BirthDay:
            day = value.toInt();
            break;
        case Role::Memo:
            memo = memo.isEmpty() ? value : memo + u'\n' + value;
            break;
        case Role::Kind:
            kinds.insert(c.group, value);
            break;
        case Role::Skip:
            break;
        case Role::Note:
            builder.addNote(c.label, value);
            break;
        }
    }
    if (!family.isEmpty() || !given.isEmpty())
        builder.setFamilyAndGiven(family, given.join(u' '));
    builder.setFullName(fullName);

    // The home address first: the table keeps one address of a person.
    std::stable_sort(
        postalOrder.begin(), postalOrder.end(), [](const QString& a, const QString& b) {
            auto rank = [](const QString& g) { return g == u"main" ? 0 : g == u"home" ? 1 : 2; };
            return rank(a) < rank(b);
        });
    for (const QString& group : postalOrder) {
        const Postal& p = postals.value(group);
        const QString label = kinds.contains(group) ? kindLabelOfText(kinds.value(group)) : p.label;
        const QString street = p.street.join(QStringLiteral(", "));
        builder.addPostal(p.number.isEmpty() ? street : (street + u' ' + p.number).trimmed(),
                          p.code, p.town, p.region, p.country, label, false);
    }
    for (const Later& l : contacts) {
        const QString kind = kinds.value(l.group);
        const QString label = kind.isEmpty() ? l.label : kindLabelOfText(kind);
        if (l.role == Role::Email)
            builder.addEmail(l.value, label, false);
        else if (l.role == Role::Web)
            builder.addUrl(l.value, label);
        else
            builder.addPhone(l.value, label,
                             l.role == Role::Fax || kind.contains(u"fax", Qt::CaseInsensitive));
    }
    if (year > 0 || month > 0 || day > 0) {
        const QDate date(year > 0 ? year : address::kYearUnknown, month, day);
        if (date.isValid())
            builder.setDate(QStringLiteral("Geburtstag"), date.toString(Qt::ISODate), QString());
        else
            builder.leaveOut(QStringLiteral("Das Geburtsdatum %1.%2.%3 ist kein gültiges Datum und "
                                            "wurde weggelassen")
                                 .arg(day)
                                 .arg(month)
                                 .arg(year));
    }
    // The IBAN column this program writes repeats "BLZ" and "KontoNr"; another
    // program's may be all a row has of its bank details.
    if (!iban.isEmpty()) {
        const QString compact = address::compactIban(iban);
        const auto german = address::splitGermanIban(compact);
        if (german && blz.isEmpty() && kontoNr.isEmpty()) {
            builder.set(QStringLiteral("BLZ"), german->blz);
            builder.set(QStringLiteral("KontoNr"), german->kontoNr);
        } else if (!german || address::germanIban(blz, kontoNr) != compact) {
            builder.addNote(QStringLiteral("IBAN"), iban);
        }
    }
    builder.appendMemo(memo);
    return builder.finish();
}

// Rows one at a time: the header names the columns, blank rows are passed
// over. UTF-8 (with or without a byte order mark), UTF-16LE or Windows-1252.
// The columns by their names, and where the user sent a column instead.
std::vector<Column> chosenColumns(const QStringList& headers, const ColumnChoices& choices) {
    std::vector<Column> columns = columnsOf(headers);
    for (qsizetype i = 0; i < headers.size() && i < choices.size(); ++i) {
        const QString& choice = choices[i];
        if (choice.isEmpty() || headers[i].trimmed().isEmpty())
            continue;
        Column c;
        if (choice != notesChoice() && chosenFields().contains(choice))
            c = columnsOf({choice}).front(); // as a column of that name
        c.header = headers[i];
        if (c.role == Role::Note)
            c.label = headers[i].trimmed();
        columns[static_cast<std::size_t>(i)] = c;
    }
    return columns;
}

class CsvStream : public AddressStream {
public:
    CsvStream(ByteInput& input, const ColumnChoices& choices) : choices_(choices) {
        const QByteArray head = input.ahead(4);
        if (head.startsWith("\xFF\xFE")) {
            input.skip(2);
            input.decodeUtf16();
        } else if (head.startsWith("\xEF\xBB\xBF")) {
            input.skip(3);
        } else if (head.size() >= 4 && head[1] == '\0' && head[3] == '\0' && head[0] != '\0') {
            input.decodeUtf16(); // UTF-16LE without a mark: Latin text has every second byte zero
        }
        rows_.emplace(input, separatorOf(input.ahead(64 * 1024)));
    }

    std::optional<Address> next() override {
        if (!started_) {
            started_ = true;
            Row header;
            done_ = !rows_->next(header);
            if (done_)
                return std::nullopt;
            names_ = header.cells;
            columns_ = chosenColumns(header.cells, choices_);
            bool any = false;
            for (const Column& c : columns_) {
                any = any || c.role != Role::Note;
                targets_ << (c.header.trimmed().isEmpty() ? QString() : targetOf(c));
                if (!c.header.trimmed().isEmpty())
                    report_ << QStringLiteral("\"%1\" → %2").arg(c.header.trimmed(), targetOf(c));
            }
            if (!any) {
                done_ = true;
                Address bad;
                bad.origin = 1;
                bad.problem = QStringLiteral("Die erste Zeile nennt keines der Felder der "
                                             "Adresstabelle (Name, Vorname, Strasse, PLZ, Ort, …)");
                return bad;
            }
        }
        Row row;
        while (!done_ && rows_->next(row)) {
            if (row.tooLong) {
                Address refused;
                refused.origin = row.line;
                refused.problem = QStringLiteral("Die Zeile ist länger als 1 MiB und wurde "
                                                 "nicht gelesen");
                return refused;
            }
            bool blank = true;
            for (const QString& cellText : row.cells)
                blank = blank && cellText.trimmed().isEmpty();
            if (!blank)
                return addressOf(row, columns_);
        }
        done_ = true;
        return std::nullopt;
    }

    QStringList columns() const override { return report_; }
    QStringList columnNames() const override { return names_; }
    QStringList columnTargets() const override { return targets_; }

private:
    ColumnChoices choices_;
    std::optional<CsvRows> rows_;
    std::vector<Column> columns_;
    QStringList names_, targets_;
    QStringList report_;
    bool started_ = false;
    bool done_ = false;
};

} // namespace

QString notesChoice() {
    return QStringLiteral("Bemerkungen");
}

QStringList chosenFields() {
    QStringList fields;
    for (const QString& f : addressFieldNames())
        if (f != u"Grafik" && f != u"Erstellt" && f != u"Aenderung")
            fields << f;
    return fields;
}

struct ColumnMapping::Columns {
    std::vector<Column> list;
};

ColumnMapping::ColumnMapping(const QStringList& names, const ColumnChoices& choices)
    : columns_(std::make_unique<Columns>(Columns{chosenColumns(names, choices)})) {}

ColumnMapping::~ColumnMapping() = default;

bool ColumnMapping::mapsAny() const {
    for (const Column& c : columns_->list)
        if (c.role != Role::Note)
            return true;
    return false;
}

QStringList ColumnMapping::targets() const {
    QStringList list;
    for (const Column& c : columns_->list)
        list << (c.header.trimmed().isEmpty() ? QString() : targetOf(c));
    return list;
}

QStringList ColumnMapping::report() const {
    QStringList lines;
    for (const Column& c : columns_->list)
        if (!c.header.trimmed().isEmpty())
            lines << QStringLiteral("\"%1\" → %2").arg(c.header.trimmed(), targetOf(c));
    return lines;
}

Address ColumnMapping::address(const QStringList& cells, int origin) const {
    Row row;
    row.cells = cells;
    row.line = origin;
    return addressOf(row, columns_->list);
}

std::unique_ptr<AddressStream> csvStream(ByteInput& input, const ColumnChoices& choices) {
    return std::make_unique<CsvStream>(input, choices);
}

std::vector<Address> readCsv(const QByteArray& data, QStringList* columnsReport) {
    return readAll(data, Format::Csv, columnsReport);
}

// After the fields, the IBAN that "BLZ" and "KontoNr" make: what a bank's
// transfer form asks for today.
QByteArray csvHeader(Format format) {
    QByteArray header =
        format == Format::SpreadsheetCsv ? QByteArray("\xEF\xBB\xBF") : QByteArray();
    return header + row(csvFields() + QStringList{QStringLiteral("IBAN")}, format);
}

QByteArray toCsvRow(const Address& address, Format format) {
    QStringList cells;
    for (const QString& field : csvFields())
        cells << (isDateField(field) ? dateCell(address.date(field)) : address.text(field));
    cells << address::groupInFours(address::germanIban(address.text(QStringLiteral("BLZ")),
                                                       address.text(QStringLiteral("KontoNr"))));
    return row(cells, format);
}

} // namespace vellumo::exchange
