// vCard writing (3.0) and reading (2.1, 3.0, 4.0).
#include "data/exchange.h"
#include "data/exchangetext.h"

#include "platform/pictures/graphicfield.h"

#include <QBuffer>
#include <QImage>
#include <QList>

#include <cctype>
#include <optional>

namespace vellumo::exchange {

namespace {

// ---- writing ----------------------------------------------------------------------

constexpr int kFoldAt = 75; // octets per line, line break not counted

QByteArray escaped(const QString& text) {
    QByteArray utf8 = text.toUtf8();
    qsizetype special = 0;
    for (const char c : utf8)
        special += (c == '\\' || c == ',' || c == ';' || c == '\n' || c == '\r');
    if (special == 0)
        return utf8; // most values: nothing to escape
    QByteArray out;
    out.reserve(utf8.size() + special);
    for (const char c : utf8) {
        switch (c) {
        case '\\':
        case ',':
        case ';':
            out += '\\';
            out += c;
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Appends one content line, folded so that no line exceeds 75 octets; a
// UTF-8 sequence is never cut.
void addLine(QByteArray& out, const QByteArray& line) {
    qsizetype start = 0;
    int room = kFoldAt;
    while (line.size() - start > room) {
        qsizetype cut = start + room;
        while (cut > start && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
            --cut;
        out += line.mid(start, cut - start);
        out += "\r\n ";
        start = cut;
        room = kFoldAt - 1; // the leading blank counts
    }
    out += line.mid(start);
    out += "\r\n";
}

void addText(QByteArray& out, const char* property, const QString& value) {
    if (!value.isEmpty())
        addLine(out, QByteArray(property) + ':' + escaped(value));
}

QByteArray isoDate(const QDate& date) {
    return date.toString(u"yyyy-MM-dd").toLatin1();
}

QByteArray pngOf(const QByteArray& graphicField) {
    const QImage image = pictures::imageFromGraphicField(graphicField);
    if (image.isNull())
        return {};
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    // Fast compression: the picture is small next to the time zlib's best takes.
    if (!image.save(&buffer, "PNG", 80))
        return {};
    return png;
}

// ---- reading ----------------------------------------------------------------------

struct Property {
    QByteArray name;         // upper case, without group
    QList<QByteArray> types; // upper case, TYPE= values and bare 2.1 parameters
    QByteArray encoding;     // upper case: QUOTED-PRINTABLE, BASE64, B or empty
    QByteArray charset;      // as written
    QByteArray valueKind;    // VALUE=, upper case
    QByteArray value;        // raw, still encoded and escaped
    bool hasType(const char* t) const { return types.contains(QByteArray(t)); }
};

bool isBase64Line(const QByteArray& line) {
    if (line.isEmpty())
        return false;
    for (const char c : line)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' || c == '='))
            return false;
    return true;
}

qsizetype colonOutsideQuotes(const QByteArray& line) {
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ':' && !quoted)
            return i;
    }
    return -1;
}

QList<QByteArray> splitOutsideQuotes(const QByteArray& text, char separator) {
    QList<QByteArray> parts;
    QByteArray part;
    bool quoted = false;
    for (const char c : text) {
        if (c == '"')
            quoted = !quoted;
        if (c == separator && !quoted) {
            parts << part;
            part.clear();
        } else {
            part += c;
        }
    }
    parts << part;
    return parts;
}

QByteArray unquoted(QByteArray text) {
    text = text.trimmed();
    if (text.size() >= 2 && text.startsWith('"') && text.endsWith('"'))
        text = text.mid(1, text.size() - 2);
    return text;
}

bool isQuotedPrintableStart(const QByteArray& line) {
    const qsizetype colon = colonOutsideQuotes(line);
    return colon > 0 && line.left(colon).toUpper().contains("QUOTED-PRINTABLE");
}

// Physical lines to content lines: folded lines (a line starting with a blank
// or tab continues the one before), soft line breaks of quoted-printable
// values, and base64 lines of 2.1 files written without the leading blank.
QList<QByteArray> contentLines(const QByteArray& data) {
    QList<QByteArray> physical = data.split('\n');
    QList<QByteArray> lines;
    bool softBreak = false;
    bool base64 = false;
    for (QByteArray line : physical) {
        if (line.endsWith('\r'))
            line.chop(1);
        const bool continuation = !line.isEmpty() && (line[0] == ' ' || line[0] == '\t');
        if (!lines.isEmpty() && softBreak) {
            lines.last().chop(1); // the '=' of the soft break
            lines.last() += line;
        } else if (!lines.isEmpty() && continuation) {
            lines.last() += line.mid(1);
        } else if (!lines.isEmpty() && base64 && isBase64Line(line)) {
            lines.last() += line;
        } else {
            if (line.trimmed().isEmpty()) {
                base64 = false;
                softBreak = false;
                continue;
            }
            lines << line;
            const qsizetype colon = colonOutsideQuotes(line);
            base64 = colon > 0 && line.left(colon).toUpper().contains("BASE64");
        }
        softBreak = isQuotedPrintableStart(lines.last()) && lines.last().endsWith('=');
    }
    return lines;
}

std::optional<Property> parseLine(const QByteArray& line) {
    const qsizetype colon = colonOutsideQuotes(line);
    if (colon <= 0)
        return std::nullopt;
    Property p;
    p.value = line.mid(colon + 1);
    const QList<QByteArray> head = splitOutsideQuotes(line.left(colon), ';');
    p.name = head.first().trimmed().toUpper();
    if (const qsizetype dot = p.name.lastIndexOf('.'); dot >= 0)
        p.name = p.name.mid(dot + 1);
    for (qsizetype i = 1; i < head.size(); ++i) {
        const QByteArray& param = head[i];
        const qsizetype eq = param.indexOf('=');
        const QByteArray key = (eq < 0 ? QByteArray() : param.left(eq)).trimmed().toUpper();
        const QByteArray value = unquoted(eq < 0 ? param : param.mid(eq + 1));
        if (key == "CHARSET") {
            p.charset = value;
        } else if (key == "ENCODING" || (key.isEmpty() && (value.toUpper() == "QUOTED-PRINTABLE" ||
                                                           value.toUpper() == "BASE64"))) {
            p.encoding = value.toUpper();
        } else if (key == "VALUE") {
            p.valueKind = value.toUpper();
        } else if (key == "TYPE" || key.isEmpty()) {
            for (const QByteArray& t : value.split(','))
                p.types << unquoted(t).toUpper();
        }
    }
    return p;
}

QByteArray quotedPrintableDecoded(const QByteArray& in) {
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == '=' && i + 2 < in.size()) {
            bool ok = false;
            const int byte = in.mid(i + 1, 2).toInt(&ok, 16);
            if (ok) {
                out += static_cast<char>(byte);
                i += 2;
                continue;
            }
        }
        out += in[i];
    }
    return out;
}

struct Decoded {
    QString text;
    QString problem;
};

Decoded textOf(const Property& p) {
    QByteArray bytes = p.value;
    if (p.encoding == "QUOTED-PRINTABLE")
        bytes = quotedPrintableDecoded(bytes);
    Decoded d;
    if (p.charset.isEmpty()) {
        d.text = decodeUtf8Or1252(bytes);
    } else if (!decodeCharset(bytes, p.charset, d.text)) {
        d.problem = QStringLiteral("Der Zeichensatz \"%1\" ist unbekannt")
                        .arg(QString::fromLatin1(p.charset));
    }
    return d;
}

// Splits at unescaped separators, then resolves the escapes of each part.
QStringList components(const QString& value, QChar separator) {
    QStringList parts;
    QString part;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c == u'\\' && i + 1 < value.size()) {
            const QChar next = value[++i];
            if (next == u'n' || next == u'N')
                part += u'\n';
            else
                part += next; // "\\", "\,", "\;" and whatever else was escaped
        } else if (c == separator) {
            parts << part;
            part.clear();
        } else {
            part += c;
        }
    }
    parts << part;
    return parts;
}

QString unescaped(const QString& value) {
    return components(value, QChar(0)).join(QString());
}

QString component(const QStringList& parts, int n) {
    return n < parts.size() ? parts[n].trimmed() : QString();
}

// 1970-05-17, 19700517, 1970-05-17T10:00:00Z, 2021-03-04T12:00:00+01:00.
// A date without a year (--0517) has no place in the table.
std::optional<QDate> dateOf(const QString& value) {
    const QString v = value.trimmed();
    if (v.isEmpty() || v.startsWith(QStringLiteral("--")))
        return QDate();
    QString day = v.left(v.indexOf(u'T') < 0 ? v.size() : v.indexOf(u'T'));
    day.remove(u'-');
    const QDate date = QDate::fromString(day, u"yyyyMMdd");
    if (day.size() != 8 || !date.isValid())
        return std::nullopt;
    return date;
}

class CardReader {
public:
    explicit CardReader(int number) { address_.origin = number; }

    void take(const Property& p) {
        if (!address_.problem.isEmpty())
            return;
        if (p.name == "PHOTO") {
            photo(p);
            return;
        }
        const Decoded d = textOf(p);
        if (!d.problem.isEmpty()) {
            address_.problem = d.problem;
            return;
        }
        // Line breaks inside values are LF here, as in the table's memo.
        QString v = d.text;
        v.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        if (p.name == "N") {
            const QStringList n = components(v, u';');
            set("Name", component(n, 0));
            QString given = component(n, 1);
            if (!component(n, 2).isEmpty())
                given += (given.isEmpty() ? QString() : QStringLiteral(" ")) + component(n, 2);
            set("Vorname", given);
        } else if (p.name == "FN") {
            fullName_ = unescaped(v).trimmed();
        } else if (p.name == "ORG") {
            organisation_ = component(components(v, u';'), 0);
        } else if (p.name == "ADR") {
            if (sawAddress_ && !p.hasType("PREF"))
                return;
            const QStringList a = components(v, u';');
            QString street = component(a, 2);
            if (street.isEmpty() && !component(a, 0).isEmpty())
                street = QStringLiteral("Postfach ") + component(a, 0);
            set("Strasse", street);
            set("Ort", component(a, 3));
            set("PLZ", component(a, 5));
            set("Land", component(a, 6));
            sawAddress_ = true;
        } else if (p.name == "TEL") {
            QString number = unescaped(v).trimmed();
            if (number.startsWith(QStringLiteral("tel:"), Qt::CaseInsensitive))
                number = number.mid(4);
            if (p.hasType("FAX")) {
                if (!has("Fax"))
                    set("Fax", number);
            } else if (!has("Telefon1")) {
                set("Telefon1", number);
            } else if (!has("Telefon2")) {
                set("Telefon2", number);
            }
        } else if (p.name == "EMAIL") {
            if (!has("Email") || p.hasType("PREF"))
                set("Email", unescaped(v).trimmed());
        } else if (p.name == "URL") {
            if (!has("WWW"))
                set("WWW", unescaped(v).trimmed());
        } else if (p.name == "BDAY") {
            setDate("Geburtstag", v, "Das Geburtsdatum");
        } else if (p.name == "REV") {
            setDate("Aenderung", v, "Das Änderungsdatum (REV)");
        } else if (p.name == "X-VELLUMO-ERSTELLT") {
            setDate("Erstellt", v, "Das Erstelldatum");
        } else if (p.name == "CATEGORIES") {
            QStringList categories = components(v, u',');
            for (QString& c : categories)
                c = c.trimmed();
            categories.removeAll(QString());
            set("Rubrik", categories.join(QStringLiteral(", ")));
        } else if (p.name == "NOTE") {
            const QString note = unescaped(v);
            const QString before = address_.text(QStringLiteral("Memo1"));
            set("Memo1", before.isEmpty() ? note : before + u'\n' + note);
        } else if (p.name == "X-VELLUMO-KONTONR") {
            set("KontoNr", unescaped(v).trimmed());
        } else if (p.name == "X-VELLUMO-BLZ") {
            set("BLZ", unescaped(v).trimmed());
        } else if (p.name == "X-VELLUMO-INSTITUT") {
            set("Institut", unescaped(v).trimmed());
        }
    }

    Address finish() {
        // A card of a firm or one written without N still gets a name.
        if (!has("Name") && !has("Vorname")) {
            if (!fullName_.isEmpty())
                set("Name", fullName_);
            else if (!organisation_.isEmpty())
                set("Name", organisation_);
        }
        return address_;
    }

    void fail(const QString& problem) {
        if (address_.problem.isEmpty())
            address_.problem = problem;
    }

private:
    void set(const char* field, const QString& value) {
        const QString name = QString::fromLatin1(field);
        if (value.isEmpty())
            address_.values.remove(name);
        else
            address_.values.insert(name, value);
    }
    bool has(const char* field) const {
        return !address_.text(QString::fromLatin1(field)).isEmpty();
    }
    void setDate(const char* field, const QString& value, const char* what) {
        const std::optional<QDate> date = dateOf(unescaped(value));
        if (!date) {
            fail(QStringLiteral("%1 \"%2\" ist kein gültiges Datum")
                     .arg(QString::fromUtf8(what), value.trimmed()));
            return;
        }
        if (date->isValid())
            address_.values.insert(QString::fromLatin1(field), *date);
    }

    void photo(const Property& p) {
        QByteArray data = p.value;
        if (data.startsWith("data:")) {
            // 4.0: a data URI, data:image/png;base64,....
            const qsizetype comma = data.indexOf(',');
            if (comma < 0 || !data.left(comma).contains(";base64"))
                return;
            data = data.mid(comma + 1);
        } else if (p.encoding != "B" && p.encoding != "BASE64") {
            return; // a link to a picture elsewhere: nothing to fetch
        }
        QByteArray compact;
        compact.reserve(data.size());
        for (const char c : data)
            if (!std::isspace(static_cast<unsigned char>(c)))
                compact += c;
        const QImage image = QImage::fromData(QByteArray::fromBase64(compact));
        if (image.isNull()) {
            fail(QStringLiteral("Das Bild der Karte kann nicht gelesen werden"));
            return;
        }
        QString error;
        const QByteArray field = pictures::graphicFieldFromImage(image, &error);
        if (!error.isEmpty()) {
            fail(error);
            return;
        }
        address_.values.insert(QStringLiteral("Grafik"), field);
    }

    Address address_;
    QString fullName_;
    QString organisation_;
    bool sawAddress_ = false;
};

} // namespace

QByteArray toVCard(const Address& a) {
    QByteArray out;
    out.reserve(512);
    addLine(out, "BEGIN:VCARD");
    addLine(out, "VERSION:3.0");
    const QString name = a.text(QStringLiteral("Name"));
    const QString given = a.text(QStringLiteral("Vorname"));
    addLine(out, "N:" + escaped(name) + ';' + escaped(given) + ";;;");
    addLine(out, "FN:" + escaped((given + u' ' + name).trimmed()));
    const QString street = a.text(QStringLiteral("Strasse"));
    const QString town = a.text(QStringLiteral("Ort"));
    const QString code = a.text(QStringLiteral("PLZ"));
    const QString country = a.text(QStringLiteral("Land"));
    if (!(street + town + code + country).isEmpty())
        addLine(out, "ADR:;;" + escaped(street) + ';' + escaped(town) + ";;" + escaped(code) + ';' +
                         escaped(country));
    addText(out, "TEL;TYPE=VOICE", a.text(QStringLiteral("Telefon1")));
    addText(out, "TEL;TYPE=VOICE", a.text(QStringLiteral("Telefon2")));
    addText(out, "TEL;TYPE=FAX", a.text(QStringLiteral("Fax")));
    addText(out, "EMAIL;TYPE=INTERNET", a.text(QStringLiteral("Email")));
    addText(out, "URL", a.text(QStringLiteral("WWW")));
    if (const QDate birthday = a.date(QStringLiteral("Geburtstag")); birthday.isValid())
        addLine(out, "BDAY:" + isoDate(birthday));
    // One category: a comma in it is part of the text.
    addText(out, "CATEGORIES", a.text(QStringLiteral("Rubrik")));
    addText(out, "NOTE", a.text(QStringLiteral("Memo1")));
    const QByteArray picture = a.values.value(QStringLiteral("Grafik")).toByteArray();
    if (!picture.isEmpty())
        if (const QByteArray png = pngOf(picture); !png.isEmpty())
            addLine(out, "PHOTO;ENCODING=b;TYPE=PNG:" + png.toBase64());
    addText(out, "X-VELLUMO-KONTONR", a.text(QStringLiteral("KontoNr")));
    addText(out, "X-VELLUMO-BLZ", a.text(QStringLiteral("BLZ")));
    addText(out, "X-VELLUMO-INSTITUT", a.text(QStringLiteral("Institut")));
    if (const QDate created = a.date(QStringLiteral("Erstellt")); created.isValid())
        addLine(out, "X-VELLUMO-ERSTELLT:" + isoDate(created));
    if (const QDate changed = a.date(QStringLiteral("Aenderung")); changed.isValid())
        addLine(out, "REV:" + isoDate(changed));
    addLine(out, "END:VCARD");
    return out;
}

std::vector<Address> readVCards(const QByteArray& data) {
    std::vector<Address> cards;
    std::optional<CardReader> card;
    int number = 0;
    int nested = 0;
    QByteArray content = data;
    if (content.startsWith("\xEF\xBB\xBF"))
        content = content.mid(3);
    for (const QByteArray& line : contentLines(content)) {
        const std::optional<Property> p = parseLine(line);
        if (!p)
            continue;
        const QByteArray value = p->value.trimmed().toUpper();
        if (p->name == "BEGIN" && value == "VCARD") {
            if (card) {
                ++nested; // an embedded card (AGENT) belongs to its outer card
                continue;
            }
            card.emplace(++number);
        } else if (p->name == "END" && value == "VCARD") {
            if (nested > 0) {
                --nested;
            } else if (card) {
                cards.push_back(card->finish());
                card.reset();
            }
        } else if (card && nested == 0) {
            if (p->name == "VERSION" && value != "2.1" && value != "3.0" && value != "4.0")
                card->fail(QStringLiteral("Die vCard-Version %1 wird nicht unterstützt")
                               .arg(QString::fromLatin1(p->value.trimmed())));
            else
                card->take(*p);
        }
    }
    if (card) {
        card->fail(QStringLiteral("Die Karte ist unvollständig (END:VCARD fehlt)"));
        cards.push_back(card->finish());
    }
    return cards;
}

} // namespace vellumo::exchange
