// Thunderbird's address books: its LDIF export and the Mork file (.mab) it
// kept them in up to version 68. Both readers gather a card's values under
// Thunderbird's own column names ("FirstName", "HomeCity", …) and one
// function places them, so the two kinds of file give the same address.
//
// Mork, as far as address books use it: dictionaries "< (80=FirstName) >"
// name columns and atoms, tables "{1:^80 … }" hold rows "[1(^83^91)(^84=Doe)]"
// whose cells refer to a column and to an atom or give the value literally;
// "$C3$BC" stands for a byte, "\" escapes the next character; a row written
// again later ("[-1 …]" first cuts its cells) replaces what it held. Groups
// "@$${1{@ … @$$}1}@" are the file's later changes and read as written.
#include "exchange/builder.h"
#include "exchange/input.h"
#include "exchange/text.h"

#include "platform/database/recordstore.h"

#include <QDateTime>
#include <QHash>
#include <QMap>
#include <QTimeZone>

#include <map>
#include <optional>

namespace vellumo::exchange {

namespace {

// A card as Thunderbird names its parts; extra: what has no place of its own,
// by the name the file gives it.
struct Card {
    QMap<QString, QString> values;
    QList<std::pair<QString, QString>> extra;
    bool list = false; // a mailing list, no person
};

QString value(const Card& card, const char* name) {
    return card.values.value(QString::fromLatin1(name)).trimmed();
}

Address addressOf(const Card& card, int origin) {
    AddressBuilder b(origin);
    if (card.list) {
        b.fail(QStringLiteral("Eine Verteilerliste (%1) ist keine Adresse")
                   .arg(value(card, "ListName").isEmpty() ? value(card, "DisplayName")
                                                          : value(card, "ListName")));
        return b.finish();
    }
    b.setFamilyAndGiven(value(card, "LastName"), value(card, "FirstName"));
    b.setFullName(value(card, "DisplayName"));
    b.setOrganisation(value(card, "Company"));
    b.addNote(QStringLiteral("Spitzname"), value(card, "NickName"));
    b.addNote(QStringLiteral("Position"), value(card, "JobTitle"));
    b.addNote(QStringLiteral("Abteilung"), value(card, "Department"));
    b.addEmail(value(card, "PrimaryEmail"), QString(), true);
    b.addEmail(value(card, "SecondEmail"), QString(), false);
    b.addPhone(value(card, "WorkPhone"), QStringLiteral("Arbeit"), false);
    b.addPhone(value(card, "HomePhone"), QStringLiteral("Privat"), false);
    b.addPhone(value(card, "CellularNumber"), QStringLiteral("Mobil"), false);
    b.addPhone(value(card, "PagerNumber"), QStringLiteral("Pager"), false);
    b.addPhone(value(card, "FaxNumber"), QString(), true);
    // The home address first: the table keeps one address of a person.
    const auto street = [&](const char* one, const char* two) {
        const QString a = value(card, one), c = value(card, two);
        return a.isEmpty() || c.isEmpty() ? a + c : a + QStringLiteral(", ") + c;
    };
    b.addPostal(street("HomeAddress", "HomeAddress2"), value(card, "HomeZipCode"),
                value(card, "HomeCity"), value(card, "HomeState"), value(card, "HomeCountry"),
                QStringLiteral("Privat"), false);
    b.addPostal(street("WorkAddress", "WorkAddress2"), value(card, "WorkZipCode"),
                value(card, "WorkCity"), value(card, "WorkState"), value(card, "WorkCountry"),
                QStringLiteral("Arbeit"), false);
    b.addUrl(value(card, "WebPage2"), QStringLiteral("Privat"));
    b.addUrl(value(card, "WebPage1"), QStringLiteral("Arbeit"));
    for (int i = 1; i <= 4; ++i)
        b.addNote(QStringLiteral("Benutzerdefiniert %1").arg(i),
                  card.values.value(QStringLiteral("Custom%1").arg(i)));
    const int year = value(card, "BirthYear").toInt();
    const int month = value(card, "BirthMonth").toInt();
    const int day = value(card, "BirthDay").toInt();
    if (month > 0 || day > 0) {
        const QDate date(year > 0 ? year : address::kYearUnknown, month, day);
        if (date.isValid())
            b.setDate(QStringLiteral("Geburtstag"), date.toString(Qt::ISODate), QString());
        else
            b.leaveOut(QStringLiteral("Das Geburtsdatum %1.%2.%3 ist kein gültiges Datum und "
                                      "wurde weggelassen")
                           .arg(day)
                           .arg(month)
                           .arg(year));
    } else if (year > 0) {
        b.addNote(QStringLiteral("Geburtsjahr"), QString::number(year));
    }
    const QString changed = value(card, "LastModified");
    if (!changed.isEmpty()) {
        const QDate date = QDate::fromString(changed, Qt::ISODate);
        if (date.isValid())
            b.setDate(QStringLiteral("Aenderung"), changed, QString());
    }
    for (const auto& [name, text] : card.extra)
        b.addNote(name, text);
    b.appendMemo(card.values.value(QStringLiteral("Notes")));
    return b.finish();
}

// Parts Thunderbird keeps that are no user's data.
bool isBookkeeping(const QString& name) {
    static const QStringList names = {
        QStringLiteral("RecordKey"),
        QStringLiteral("LastRecordKey"),
        QStringLiteral("DbRowID"),
        QStringLiteral("LowercasePrimaryEmail"),
        QStringLiteral("LowercaseListName"),
        QStringLiteral("PopularityIndex"),
        QStringLiteral("PreferMailFormat"),
        QStringLiteral("AllowRemoteContent"),
        QStringLiteral("AddrCharSet"),
        QStringLiteral("PhoneticFirstName"),
        QStringLiteral("PhoneticLastName"),
        QStringLiteral("CardType"),
        QStringLiteral("ListTotalAddresses"),
        QStringLiteral("LastModifiedDate"),
        QStringLiteral("ListName"),
        QStringLiteral("ListDescription"),
        QStringLiteral("ListNickName"),
        QStringLiteral("ns:addrbk:db:table:kind:deleted"),
        QStringLiteral("RecordKey"),
        QStringLiteral("PhotoType"),
        QStringLiteral("PhotoName"),
        QStringLiteral("PhotoURI"),
        QStringLiteral("_AimScreenName"),
        QStringLiteral("uid"),
        QStringLiteral("UID"),
    };
    return names.contains(name) || name.startsWith(u"Address") || name.startsWith(u"ns:");
}

// Thunderbird's names of what every card may hold.
bool isCardPart(const QString& name) {
    static const QStringList names = {
        QStringLiteral("FirstName"),      QStringLiteral("LastName"),
        QStringLiteral("DisplayName"),    QStringLiteral("NickName"),
        QStringLiteral("PrimaryEmail"),   QStringLiteral("SecondEmail"),
        QStringLiteral("WorkPhone"),      QStringLiteral("HomePhone"),
        QStringLiteral("FaxNumber"),      QStringLiteral("PagerNumber"),
        QStringLiteral("CellularNumber"), QStringLiteral("HomeAddress"),
        QStringLiteral("HomeAddress2"),   QStringLiteral("HomeCity"),
        QStringLiteral("HomeState"),      QStringLiteral("HomeZipCode"),
        QStringLiteral("HomeCountry"),    QStringLiteral("WorkAddress"),
        QStringLiteral("WorkAddress2"),   QStringLiteral("WorkCity"),
        QStringLiteral("WorkState"),      QStringLiteral("WorkZipCode"),
        QStringLiteral("WorkCountry"),    QStringLiteral("JobTitle"),
        QStringLiteral("Department"),     QStringLiteral("Company"),
        QStringLiteral("WebPage1"),       QStringLiteral("WebPage2"),
        QStringLiteral("BirthYear"),      QStringLiteral("BirthMonth"),
        QStringLiteral("BirthDay"),       QStringLiteral("Custom1"),
        QStringLiteral("Custom2"),        QStringLiteral("Custom3"),
        QStringLiteral("Custom4"),        QStringLiteral("Notes"),
    };
    return names.contains(name);
}

// ---- LDIF ---------------------------------------------------------------------------

// LDIF attribute (lower case) -> Thunderbird's name.
QString cardPartOfAttribute(const QByteArray& attribute) {
    static const QHash<QByteArray, QString> map = [] {
        const std::pair<const char*, const char*> pairs[] = {
            {"givenname", "FirstName"},
            {"sn", "LastName"},
            {"surname", "LastName"},
            {"cn", "DisplayName"},
            {"commonname", "DisplayName"},
            {"mozillanickname", "NickName"},
            {"xmozillanickname", "NickName"},
            {"mail", "PrimaryEmail"},
            {"mozillasecondemail", "SecondEmail"},
            {"xmozillasecondemail", "SecondEmail"},
            {"telephonenumber", "WorkPhone"},
            {"homephone", "HomePhone"},
            {"facsimiletelephonenumber", "FaxNumber"},
            {"fax", "FaxNumber"},
            {"pager", "PagerNumber"},
            {"pagerphone", "PagerNumber"},
            {"mobile", "CellularNumber"},
            {"cellphone", "CellularNumber"},
            {"carphone", "CellularNumber"},
            {"mozillahomestreet", "HomeAddress"},
            {"mozillahomestreet2", "HomeAddress2"},
            {"mozillahomelocalityname", "HomeCity"},
            {"mozillahomestate", "HomeState"},
            {"mozillahomepostalcode", "HomeZipCode"},
            {"mozillahomecountryname", "HomeCountry"},
            {"street", "WorkAddress"},
            {"streetaddress", "WorkAddress"},
            {"postofficebox", "WorkAddress"},
            {"mozillaworkstreet2", "WorkAddress2"},
            {"l", "WorkCity"},
            {"locality", "WorkCity"},
            {"st", "WorkState"},
            {"region", "WorkState"},
            {"postalcode", "WorkZipCode"},
            {"zip", "WorkZipCode"},
            {"c", "WorkCountry"},
            {"countryname", "WorkCountry"},
            {"title", "JobTitle"},
            {"ou", "Department"},
            {"department", "Department"},
            {"orgunit", "Department"},
            {"o", "Company"},
            {"company", "Company"},
            {"mozillaworkurl", "WebPage1"},
            {"workurl", "WebPage1"},
            {"mozillahomeurl", "WebPage2"},
            {"homeurl", "WebPage2"},
            {"birthyear", "BirthYear"},
            {"birthmonth", "BirthMonth"},
            {"birthday", "BirthDay"},
            {"mozillacustom1", "Custom1"},
            {"custom1", "Custom1"},
            {"mozillacustom2", "Custom2"},
            {"custom2", "Custom2"},
            {"mozillacustom3", "Custom3"},
            {"custom3", "Custom3"},
            {"mozillacustom4", "Custom4"},
            {"custom4", "Custom4"},
            {"description", "Notes"},
            {"notes", "Notes"},
        };
        QHash<QByteArray, QString> m;
        for (const auto& [ldif, part] : pairs)
            m.insert(ldif, QString::fromLatin1(part));
        return m;
    }();
    return map.value(attribute);
}

// What LDIF writes besides the card: the entry's name, its classes, settings.
bool isLdifBookkeeping(const QByteArray& attribute) {
    return attribute == "dn" || attribute == "objectclass" || attribute == "changetype" ||
           attribute == "mozillausehtmlmail" || attribute == "xmozillausehtmlmail" ||
           attribute == "mozilla_aimscreenname" || attribute == "nsaimid" ||
           attribute == "member" || attribute == "uid";
}

// A line longer than this is no part of an address; its entry is refused.
constexpr qsizetype kMaxLdifLine = 1 << 20;

class LdifStream : public AddressStream {
public:
    explicit LdifStream(ByteInput& input) : input_(input) {
        if (input.ahead(3) == "\xEF\xBB\xBF")
            input.skip(3);
    }

    std::optional<Address> next() override {
        // Logical lines of one entry: a line starting with a blank continues
        // the one before it.
        QList<QByteArray> lines;
        bool tooLong = false;
        int start = 0;
        QByteArray line;
        bool cut = false;
        while (input_.readLine(line, kMaxLdifLine, cut)) {
            ++lineNumber_;
            tooLong = tooLong || cut;
            if (line.isEmpty()) {
                if (!lines.isEmpty())
                    break;
                continue;
            }
            if (line.startsWith(' ') && !lines.isEmpty()) {
                if (lines.last().size() + line.size() > kMaxLdifLine)
                    tooLong = true;
                else
                    lines.last() += line.mid(1);
                continue;
            }
            if (line.startsWith('#'))
                continue;
            if (lines.isEmpty())
                start = lineNumber_;
            lines << line;
        }
        if (lines.isEmpty())
            return std::nullopt;
        if (lines.size() == 1 && lines.first().toLower().startsWith("version:"))
            return next();
        ++entry_;
        if (tooLong) {
            Address refused;
            refused.origin = entry_;
            refused.problem = QStringLiteral("Eine Zeile des Eintrags (ab Zeile %1) ist länger als "
                                             "1 MiB; der Eintrag wurde nicht gelesen")
                                  .arg(start);
            return refused;
        }
        return addressOfEntry(lines);
    }

private:
    Address addressOfEntry(const QList<QByteArray>& lines) {
        Card card;
        QStringList problems;
        for (const QByteArray& l : lines) {
            const qsizetype colon = l.indexOf(':');
            if (colon <= 0) {
                problems << QString::fromUtf8(l.left(40));
                continue;
            }
            QByteArray attribute = l.left(colon).trimmed().toLower();
            if (const qsizetype option = attribute.indexOf(';'); option >= 0)
                attribute.truncate(option);
            QByteArray raw = l.mid(colon + 1);
            QString text;
            if (raw.startsWith(':')) {
                const auto decoded = QByteArray::fromBase64Encoding(
                    raw.mid(1).trimmed(), QByteArray::AbortOnBase64DecodingErrors);
                if (!decoded) {
                    problems << QString::fromUtf8(attribute);
                    continue;
                }
                text = decodeUtf8Or1252(*decoded);
            } else if (raw.startsWith('<')) {
                card.extra.append(
                    {QString::fromUtf8(attribute),
                     QStringLiteral("Verweis %1").arg(QString::fromUtf8(raw.mid(1).trimmed()))});
                continue;
            } else {
                text = decodeUtf8Or1252(raw.startsWith(' ') ? raw.mid(1) : raw);
            }
            if (attribute == "objectclass" &&
                text.trimmed().compare(QStringLiteral("groupOfNames"), Qt::CaseInsensitive) == 0)
                card.list = true;
            if (attribute == "modifytimestamp") {
                const QDateTime when = QDateTime::fromString(text.trimmed().left(14),
                                                             QStringLiteral("yyyyMMddHHmmss"));
                if (when.isValid())
                    card.values.insert(QStringLiteral("LastModified"),
                                       when.date().toString(Qt::ISODate));
                continue;
            }
            const QString part = cardPartOfAttribute(attribute);
            if (!part.isEmpty()) {
                QString& slot = card.values[part];
                if (slot.isEmpty())
                    slot = text;
                else if (part == u"Notes")
                    slot += u'\n' + text;
                else
                    card.extra.append({QString::fromUtf8(attribute), text});
            } else if (!isLdifBookkeeping(attribute)) {
                card.extra.append({QString::fromUtf8(attribute), text});
            }
        }
        Address address = addressOf(card, entry_);
        for (const QString& p : problems)
            address.changes << QStringLiteral(
                                   "Die Zeile \"%1\" kann nicht gelesen werden und wurde "
                                   "weggelassen")
                                   .arg(p);
        return address;
    }

    ByteInput& input_;
    int lineNumber_ = 0;
    int entry_ = 0;
};

// ---- Mork ---------------------------------------------------------------------------

// A Mork file larger than this is no address book of a person.
constexpr qsizetype kMaxMork = qsizetype(64) << 20;

class MorkParser {
public:
    explicit MorkParser(QByteArray data) : s_(std::move(data)) {}

    // Parses the whole file; raises StoreError naming the place when the
    // file is not Mork or breaks off.
    void parse() {
        while (skipSpace()) {
            const char c = s_[pos_];
            if (c == '<')
                dict();
            else if (c == '{')
                table(QString());
            else if (c == '[')
                row(QString());
            else if (c == '@')
                group();
            else
                broken(QStringLiteral("unerwartetes Zeichen \"%1\"").arg(QChar::fromLatin1(c)));
        }
    }

    struct Row {
        QString scope;
        std::map<QString, QString> cells; // column name -> value
    };
    // Rows in the order they first appear.
    std::vector<QString> order;
    QHash<QString, Row> rows;

private:
    [[noreturn]] void broken(const QString& what) const {
        int line = 1;
        for (qsizetype i = 0; i < pos_ && i < s_.size(); ++i)
            line += s_[i] == '\n';
        throw StoreError(QStringLiteral("Das Thunderbird-Adressbuch ist beschädigt (Zeile %1): %2")
                             .arg(line)
                             .arg(what));
    }

    bool atEnd() const { return pos_ >= s_.size(); }

    // Blanks and comments; false at the end.
    bool skipSpace() {
        while (!atEnd()) {
            const char c = s_[pos_];
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f') {
                ++pos_;
            } else if (c == '/' && pos_ + 1 < s_.size() && s_[pos_ + 1] == '/') {
                while (!atEnd() && s_[pos_] != '\n')
                    ++pos_;
            } else {
                return true;
            }
        }
        return false;
    }

    void expect(char c) {
        if (!skipSpace() || s_[pos_] != c)
            broken(QStringLiteral("\"%1\" fehlt").arg(QChar::fromLatin1(c)));
        ++pos_;
    }

    // An id, a name or a reference up to one of the stop characters.
    QByteArray token() {
        skipSpace();
        const qsizetype from = pos_;
        while (!atEnd()) {
            const char c = s_[pos_];
            if (c == '(' || c == ')' || c == '[' || c == ']' || c == '{' || c == '}' || c == '<' ||
                c == '>' || c == '=' || c == ' ' || c == '\t' || c == '\r' || c == '\n' ||
                c == '^' || c == ':' || c == '@')
                break;
            ++pos_;
        }
        return s_.mid(from, pos_ - from);
    }

    // A value up to its closing parenthesis: "\" escapes, "$XX" bytes, a
    // backslash before a line end joins the lines.
    QString literal() {
        QByteArray bytes;
        for (;;) {
            if (atEnd())
                broken(QStringLiteral("ein Wert endet nicht"));
            const char c = s_[pos_++];
            if (c == ')')
                break;
            if (c == '\\') {
                if (atEnd())
                    broken(QStringLiteral("ein Wert endet nicht"));
                const char n = s_[pos_++];
                if (n == '\r' && !atEnd() && s_[pos_] == '\n')
                    ++pos_;
                else if (n != '\n' && n != '\r')
                    bytes += n;
            } else if (c == '$' && pos_ + 1 < s_.size()) {
                bool ok = false;
                const int b = s_.mid(pos_, 2).toInt(&ok, 16);
                if (ok) {
                    bytes += static_cast<char>(b);
                    pos_ += 2;
                } else {
                    bytes += c;
                }
            } else if (c == '\r' || c == '\n') {
                continue;
            } else {
                bytes += c;
            }
        }
        return decodeUtf8Or1252(bytes);
    }

    // "< <(a=c)> (80=FirstName) … >": atoms and, in a dictionary whose
    // scope is columns, the columns' names.
    void dict() {
        expect('<');
        bool columns = false;
        while (skipSpace() && s_[pos_] != '>') {
            if (s_[pos_] == '<') {
                // The dictionary's own settings: "(a=c)" makes it the columns'.
                ++pos_;
                while (skipSpace() && s_[pos_] != '>') {
                    expect('(');
                    const QByteArray key = token();
                    expect('=');
                    const QString v = literal();
                    if (key == "a")
                        columns = v == u"c";
                }
                expect('>');
            } else if (s_[pos_] == '(') {
                ++pos_;
                const QByteArray id = token().toUpper();
                expect('=');
                const QString v = literal();
                (columns ? columns_ : atoms_).insert(QString::fromLatin1(id), v);
            } else {
                broken(QStringLiteral("unerwartetes Zeichen \"%1\" in einem Wörterbuch")
                           .arg(QChar::fromLatin1(s_[pos_])));
            }
            if (atEnd())
                break;
        }
        expect('>');
    }

    // "^80" or "80" or a name: the column or scope it stands for.
    QString reference(bool column) {
        skipSpace();
        if (!atEnd() && s_[pos_] == '^') {
            ++pos_;
            const QString id = QString::fromLatin1(token().toUpper());
            const QHash<QString, QString>& names = column ? columns_ : atoms_;
            const QString known = names.value(id, columns_.value(id));
            return known.isEmpty() ? id : known;
        }
        return QString::fromLatin1(token());
    }

    void table(const QString&) {
        expect('{');
        token(); // the table's id
        QString scope;
        skipSpace();
        if (!atEnd() && s_[pos_] == ':') {
            ++pos_;
            scope = reference(true);
        }
        while (skipSpace() && s_[pos_] != '}') {
            const char c = s_[pos_];
            if (c == '{') {
                skipBlock('{', '}'); // the table's own settings
            } else if (c == '[') {
                row(scope);
            } else if (c == '-') {
                ++pos_; // a row cut from the table: it may come back, and cards stay cards
                if (skipSpace() && s_[pos_] == '[')
                    row(scope);
                else
                    token();
            } else if (c == '@') {
                group();
            } else if (c == '(') {
                skipBlock('(', ')');
            } else {
                const qsizetype before = pos_;
                token(); // a row named by its id alone
                if (pos_ == before)
                    broken(QStringLiteral("unerwartetes Zeichen \"%1\" in einer Tabelle")
                               .arg(QChar::fromLatin1(c)));
                if (pos_ < s_.size() && s_[pos_] == ':') {
                    ++pos_;
                    reference(true);
                }
            }
            if (atEnd())
                break;
        }
        expect('}');
    }

    void skipBlock(char open, char close) {
        int depth = 0;
        while (!atEnd()) {
            const char c = s_[pos_++];
            if (c == '\\') {
                ++pos_;
                continue;
            }
            if (c == open)
                ++depth;
            else if (c == close && --depth == 0)
                return;
        }
        broken(QStringLiteral("\"%1\" fehlt").arg(QChar::fromLatin1(close)));
    }

    void row(const QString& tableScope) {
        expect('[');
        skipSpace();
        bool cut = false;
        if (!atEnd() && s_[pos_] == '-') {
            cut = true;
            ++pos_;
        }
        const QString id = QString::fromLatin1(token().toUpper());
        QString scope = tableScope;
        skipSpace();
        if (!atEnd() && s_[pos_] == ':') {
            ++pos_;
            scope = reference(true);
        }
        // A row written again without its scope (as in a later group of
        // changes) is the row of that id already read.
        if (scope.isEmpty() && lastScope_.contains(id))
            scope = lastScope_.value(id);
        lastScope_.insert(id, scope);
        const QString key = scope + u'|' + id;
        if (!rows.contains(key))
            order.push_back(key);
        Row& r = rows[key];
        r.scope = scope;
        if (cut)
            r.cells.clear();
        while (skipSpace() && s_[pos_] != ']') {
            if (s_[pos_] == '[') {
                skipBlock('[', ']');
                continue;
            }
            expect('(');
            const QString column = reference(true);
            skipSpace();
            if (atEnd())
                broken(QStringLiteral("eine Zelle endet nicht"));
            if (s_[pos_] == '=') {
                ++pos_;
                r.cells[column] = literal();
            } else if (s_[pos_] == '^') {
                ++pos_;
                const QString atom = QString::fromLatin1(token().toUpper());
                if (!atoms_.contains(atom))
                    broken(QStringLiteral("eine Zelle verweist auf den unbekannten Wert ^%1")
                               .arg(atom));
                r.cells[column] = atoms_.value(atom);
                expect(')');
            } else {
                broken(QStringLiteral("eine Zelle hat keinen Wert"));
            }
            if (atEnd())
                break;
        }
        expect(']');
    }

    // "@$${ID{@" begins a group of changes, "@$$}ID}@" ends it, and
    // "@$$}~abort~ID}@" drops it (Thunderbird wrote it no further).
    void group() {
        const qsizetype end = s_.indexOf("}@", pos_);
        const qsizetype begin = s_.indexOf("{@", pos_);
        const qsizetype stop = std::min(end < 0 ? s_.size() : end, begin < 0 ? s_.size() : begin);
        if (stop >= s_.size())
            broken(QStringLiteral("eine Änderungsgruppe endet nicht"));
        const bool opens = stop == begin && s_.mid(pos_, 4) == "@$${";
        pos_ = stop + 2;
        if (!opens)
            return;
        // A group Thunderbird gave up on is none of the book's changes: passed
        // over up to its end mark.
        const qsizetype close = s_.indexOf("@$$}", pos_);
        if (close >= 0 && s_.mid(close + 4, 7) == "~abort~") {
            const qsizetype after = s_.indexOf("}@", close);
            if (after < 0)
                broken(QStringLiteral("eine Änderungsgruppe endet nicht"));
            pos_ = after + 2;
        }
    }

    QByteArray s_;
    qsizetype pos_ = 0;
    QHash<QString, QString> columns_;
    QHash<QString, QString> atoms_;
    QHash<QString, QString> lastScope_; // row id -> the scope it was last read in
};

class MorkStream : public AddressStream {
public:
    explicit MorkStream(ByteInput& input) {
        QByteArray data = input.ahead(kMaxMork + 1);
        if (data.size() > kMaxMork)
            throw StoreError(QStringLiteral("Das Thunderbird-Adressbuch ist größer als 64 MB"));
        size_ = data.size();
        MorkParser parser(std::move(data));
        parser.parse();
        for (const QString& key : parser.order) {
            const MorkParser::Row& r = parser.rows.value(key);
            const bool card = r.scope.contains(u"card");
            const bool list = r.scope.contains(u"list");
            if ((!card && !list) || r.cells.empty())
                continue;
            Card c;
            c.list = list;
            for (const auto& [column, text] : r.cells) {
                if (isCardPart(column) || column == u"ListName")
                    c.values.insert(column, text);
                else if (column == u"LastModifiedDate") {
                    bool ok = false;
                    const qint64 seconds = text.toLongLong(&ok, 16);
                    if (ok && seconds > 0)
                        c.values.insert(QStringLiteral("LastModified"),
                                        QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc())
                                            .date()
                                            .toString(Qt::ISODate));
                } else if (!isBookkeeping(column) && !text.trimmed().isEmpty())
                    c.extra.append({column, text});
            }
            cards_.push_back(std::move(c));
        }
    }

    std::optional<Address> next() override {
        if (next_ >= cards_.size())
            return std::nullopt;
        const std::size_t at = next_++;
        return addressOf(cards_[at], static_cast<int>(at + 1));
    }

    qint64 position() const override {
        return cards_.empty() ? size_ : size_ * qint64(next_) / qint64(cards_.size());
    }

private:
    std::vector<Card> cards_;
    std::size_t next_ = 0;
    qint64 size_ = 0;
};

} // namespace

std::unique_ptr<AddressStream> ldifStream(ByteInput& input) {
    return std::make_unique<LdifStream>(input);
}

std::unique_ptr<AddressStream> morkStream(ByteInput& input) {
    return std::make_unique<MorkStream>(input);
}

} // namespace vellumo::exchange
