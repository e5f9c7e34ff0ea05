#include "exchange/vcardcodec.h"

#include "address/addressschema.h"
#include "platform/system/system.h"

#include <QCryptographicHash>
#include <QHash>
#include <QSet>

#include <array>
#include <cctype>

namespace vellumo::vcard {

namespace {

// A field of the address table as Qt text, checked against the schema while
// compiling, so a misspelt one does not build.
struct FieldName {
    consteval FieldName(const char* name) : checked(address::fieldName(name)) {}
    operator QString() const {
        return QString::fromLatin1(checked.data(), static_cast<qsizetype>(checked.size()));
    }
    std::string_view checked;
};

// The physical lines of a card with their line ends, a folded continuation
// (a line starting with a blank) joined to the line before.
QList<QByteArray> logicalRawLines(const QByteArray& card) {
    QList<QByteArray> lines;
    qsizetype pos = 0;
    while (pos < card.size()) {
        qsizetype end = card.indexOf('\n', pos);
        end = end < 0 ? card.size() : end + 1;
        QByteArray line = card.mid(pos, end - pos);
        if (!lines.isEmpty() && (line.startsWith(' ') || line.startsWith('\t')))
            lines.last() += line;
        else
            lines.append(line);
        pos = end;
    }
    return lines;
}

QByteArray unfolded(const QByteArray& raw) {
    QByteArray out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '\r' || c == '\n') {
            // A line end followed by one blank is a fold; the blank goes too.
            while (i + 1 < raw.size() && (raw[i + 1] == '\r' || raw[i + 1] == '\n'))
                ++i;
            if (i + 1 < raw.size() && (raw[i + 1] == ' ' || raw[i + 1] == '\t'))
                ++i;
            continue;
        }
        out += c;
    }
    return out;
}

// A changed line written as the original was: folded when it was folded
// (or is too long a line of its own), else on one line as the program that
// wrote it keeps it.
void appendLike(QByteArray& out, const ContentLine& original, const QByteArray& line) {
    const qsizetype end = original.raw.indexOf('\n');
    if (end >= 0 && end + 1 < original.raw.size()) {
        appendContentLine(out, line);
        return;
    }
    out += line;
    out += "\r\n";
}

bool isCardEnd(const ContentLine& line) {
    return line.name == "END" && line.value.trimmed().toUpper() == "VCARD";
}

struct Part {
    FieldName field;
    int component;
};

// The owned components of the structured slots.
constexpr std::array<Part, 2> kNameParts{{{"Name", 0}, {"Vorname", 1}}};
constexpr std::array<Part, 4> kAddressParts{{{"Strasse", 2}, {"Ort", 3}, {"PLZ", 5}, {"Land", 6}}};

QString field(Slot slot) {
    switch (slot) {
    case Slot::Phone1:
        return FieldName("Telefon1");
    case Slot::Phone2:
        return FieldName("Telefon2");
    case Slot::Fax:
        return FieldName("Fax");
    case Slot::Email:
        return FieldName("Email");
    case Slot::Web:
        return FieldName("WWW");
    case Slot::Birthday:
        return FieldName("Geburtstag");
    case Slot::Categories:
        return FieldName("Rubrik");
    case Slot::Note:
        return FieldName("Memo1");
    case Slot::Account:
        return FieldName("KontoNr");
    case Slot::BankCode:
        return FieldName("BLZ");
    case Slot::Bank:
        return FieldName("Institut");
    case Slot::Created:
        return FieldName("Erstellt");
    default:
        return {};
    }
}

// What the table writes for a slot of a card of its own: the property with
// its parameters, and the value; empty when the table has no value for it.
QByteArray slotLine(Slot slot, const Fields& f) {
    auto text = [&](const char* head, const QString& value) {
        return value.isEmpty() ? QByteArray() : QByteArray(head) + ':' + escaped(value);
    };
    switch (slot) {
    case Slot::Name:
        return "N:" + escaped(f.value(FieldName("Name"))) + ';' +
               escaped(f.value(FieldName("Vorname"))) + ";;;";
    case Slot::Address: {
        const QString street = f.value(FieldName("Strasse")), town = f.value(FieldName("Ort")),
                      code = f.value(FieldName("PLZ")), country = f.value(FieldName("Land"));
        if ((street + town + code + country).isEmpty())
            return {};
        return "ADR:;;" + escaped(street) + ';' + escaped(town) + ";;" + escaped(code) + ';' +
               escaped(country);
    }
    case Slot::Phone1:
    case Slot::Phone2:
        return text("TEL;TYPE=VOICE", f.value(field(slot)));
    case Slot::Fax:
        return text("TEL;TYPE=FAX", f.value(field(slot)));
    case Slot::Email:
        return text("EMAIL;TYPE=INTERNET", f.value(field(slot)));
    case Slot::Web:
        return text("URL", f.value(field(slot)));
    case Slot::Birthday: {
        const QByteArray v = dateValue(readDate(f.value(field(slot))));
        return v.isEmpty() ? QByteArray() : "BDAY:" + v;
    }
    case Slot::Categories: {
        const QByteArray v = categoriesValue(f.value(field(slot)));
        return v.isEmpty() ? QByteArray() : "CATEGORIES:" + v;
    }
    case Slot::Note:
        return text("NOTE", f.value(field(slot)));
    case Slot::Account:
        return text("X-VELLUMO-KONTONR", f.value(field(slot)));
    case Slot::BankCode:
        return text("X-VELLUMO-BLZ", f.value(field(slot)));
    case Slot::Bank:
        return text("X-VELLUMO-INSTITUT", f.value(field(slot)));
    case Slot::Created: {
        const QDate d = readDate(f.value(field(slot)));
        return d.isValid() ? "X-VELLUMO-ERSTELLT:" + d.toString(Qt::ISODate).toLatin1()
                           : QByteArray();
    }
    default:
        return {};
    }
}

QByteArray photoLine(const QByteArray& bytes, const QByteArray& type, bool version4) {
    if (version4)
        return "PHOTO:data:image/" + type.toLower() + ";base64," + bytes.toBase64();
    return "PHOTO;ENCODING=b;TYPE=" + type + ':' + bytes.toBase64();
}

// A changed line of a slot: its group, name and parameters as they stood,
// the owned components replaced. Empty when nothing is left of it.
QByteArray rebuilt(const ContentLine& line, Slot slot, const Fields& f) {
    auto structured = [&](const auto& parts, int count) {
        QList<QByteArray> c = rawComponents(line.value);
        while (c.size() < count)
            c.append(QByteArray());
        for (const Part& p : parts)
            c[p.component] = escaped(f.value(p.field));
        bool empty = true;
        for (const QByteArray& part : c)
            empty = empty && part.trimmed().isEmpty();
        return empty ? QByteArray() : line.head + ':' + c.join(';');
    };
    if (slot == Slot::Name)
        return structured(kNameParts, 2);
    if (slot == Slot::Address)
        return structured(kAddressParts, 7);
    const QString value = f.value(field(slot));
    if (value.isEmpty())
        return {};
    QByteArray v;
    switch (slot) {
    case Slot::Phone1:
    case Slot::Phone2:
    case Slot::Fax:
        if (line.value.trimmed().toLower().startsWith("tel:"))
            v = "tel:" + QString(value).replace(u' ', u'-').toUtf8();
        else
            v = escaped(value);
        break;
    case Slot::Birthday:
        v = dateValue(readDate(value));
        break;
    case Slot::Created:
        v = readDate(value).toString(Qt::ISODate).toLatin1();
        break;
    case Slot::Categories:
        v = categoriesValue(value);
        break;
    default:
        v = escaped(value);
    }
    return v.isEmpty() ? QByteArray() : line.head + ':' + v;
}

constexpr std::array<Slot, 14> kWrittenSlots{
    {Slot::Address, Slot::Phone1, Slot::Phone2, Slot::Fax, Slot::Email, Slot::Web, Slot::Birthday,
     Slot::Categories, Slot::Note, Slot::Photo, Slot::Account, Slot::BankCode, Slot::Bank,
     Slot::Created}};

} // namespace

qsizetype valueColon(const QByteArray& line) {
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"' && (quoted || (i > 0 && (line[i - 1] == '=' || line[i - 1] == ','))))
            quoted = !quoted;
        else if (c == ':' && !quoted)
            return i;
    }
    return quoted ? line.indexOf(':') : -1;
}

QList<ContentLine> contentLines(const QByteArray& card) {
    QList<ContentLine> result;
    for (const QByteArray& raw : logicalRawLines(card)) {
        ContentLine line;
        line.raw = raw;
        const QByteArray text = unfolded(raw);
        if (text.trimmed().isEmpty())
            continue;
        const qsizetype colon = valueColon(text);
        line.head = colon < 0 ? text : text.left(colon);
        line.value = colon < 0 ? QByteArray() : text.mid(colon + 1);
        qsizetype nameEnd = line.head.indexOf(';');
        if (nameEnd < 0)
            nameEnd = line.head.size();
        QByteArray name = line.head.left(nameEnd);
        if (const qsizetype dot = name.indexOf('.'); dot >= 0) {
            line.group = name.left(dot);
            name = name.mid(dot + 1);
        }
        line.name = name.trimmed().toUpper();
        line.params = line.head.mid(nameEnd);
        result.append(line);
    }
    return result;
}

QByteArray escaped(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
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

QString unescaped(const QByteArray& value) {
    const QString text = QString::fromUtf8(value);
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\' && i + 1 < text.size()) {
            const QChar c = text[++i];
            out += (c == u'n' || c == u'N') ? QChar(u'\n') : c;
        } else {
            out += text[i];
        }
    }
    return out;
}

QList<QByteArray> rawComponents(const QByteArray& value, char separator) {
    QList<QByteArray> parts;
    QByteArray part;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            part += value[i];
            part += value[++i];
        } else if (value[i] == separator) {
            parts << part;
            part.clear();
        } else {
            part += value[i];
        }
    }
    parts << part;
    return parts;
}

void appendLine(QByteArray& out, const QByteArray& line) {
    appendContentLine(out, line);
}

QString dateText(const QByteArray& value) {
    const QString v = QString::fromUtf8(value).trimmed();
    if (v.startsWith(QStringLiteral("--"))) {
        const QString md = QString(v.mid(2)).remove(u'-');
        const QDate d(kYearUnknown, md.left(2).toInt(), md.mid(2, 2).toInt());
        return d.isValid() ? d.toString(Qt::ISODate) : QString();
    }
    const QString digits = v.left(10).remove(u'-');
    const QDate d = QDate::fromString(digits.left(8), QStringLiteral("yyyyMMdd"));
    return d.isValid() ? d.toString(Qt::ISODate) : QString();
}

QDate readDate(const QString& text) {
    return QDate::fromString(text, Qt::ISODate);
}

QByteArray dateValue(const QDate& date) {
    if (!date.isValid())
        return {};
    return date.year() == kYearUnknown ? date.toString(QStringLiteral("--MMdd")).toLatin1()
                                       : date.toString(Qt::ISODate).toLatin1();
}

QString categoriesText(const QByteArray& value) {
    QStringList names;
    for (const QByteArray& part : rawComponents(value, ','))
        if (const QString name = unescaped(part).trimmed(); !name.isEmpty())
            names << name;
    return names.join(QStringLiteral(", "));
}

QByteArray categoriesValue(const QString& text) {
    QList<QByteArray> names;
    for (const QString& name : text.split(u','))
        if (!name.trimmed().isEmpty())
            names << escaped(name.trimmed());
    return names.join(',');
}

QString phoneNumber(const ContentLine& line) {
    return phoneText(unescaped(line.value));
}

QString phoneText(const QString& value) {
    QString number = value.trimmed();
    if (number.startsWith(QStringLiteral("tel:"), Qt::CaseInsensitive))
        number = QString::fromUtf8(QByteArray::fromPercentEncoding(number.mid(4).toUtf8()));
    return number;
}

QList<Slot> slotsOf(const QList<ContentLine>& lines) {
    QList<Slot> result;
    result.reserve(lines.size());
    QSet<int> taken;
    int phones = 0;
    int depth = 0;
    auto once = [&](Slot s) {
        if (taken.contains(int(s)))
            return Slot::None;
        taken.insert(int(s));
        return s;
    };
    for (const ContentLine& line : lines) {
        const QByteArray& n = line.name;
        Slot s = Slot::None;
        if (n == "BEGIN")
            ++depth;
        else if (n == "END")
            --depth;
        else if (depth != 1)
            s = Slot::None; // an embedded card (AGENT) is not this one
        else if (n == "N")
            s = once(Slot::Name);
        else if (n == "ADR")
            s = once(Slot::Address);
        else if (n == "TEL" && line.hasParam("FAX"))
            s = once(Slot::Fax);
        else if (n == "TEL" && phones < 2)
            s = phones++ == 0 ? Slot::Phone1 : Slot::Phone2;
        else if (n == "EMAIL")
            s = once(Slot::Email);
        else if (n == "URL")
            s = once(Slot::Web);
        else if (n == "BDAY")
            s = once(Slot::Birthday);
        else if (n == "CATEGORIES")
            s = once(Slot::Categories);
        else if (n == "NOTE")
            s = once(Slot::Note);
        else if (n == "PHOTO")
            s = once(Slot::Photo);
        else if (n == "X-VELLUMO-KONTONR")
            s = once(Slot::Account);
        else if (n == "X-VELLUMO-BLZ")
            s = once(Slot::BankCode);
        else if (n == "X-VELLUMO-INSTITUT")
            s = once(Slot::Bank);
        else if (n == "X-VELLUMO-ERSTELLT")
            s = once(Slot::Created);
        result.append(s);
    }
    return result;
}

QStringList fieldsOf(Slot slot) {
    QStringList names;
    if (slot == Slot::Name)
        for (const Part& p : kNameParts)
            names << p.field;
    else if (slot == Slot::Address)
        for (const Part& p : kAddressParts)
            names << p.field;
    else if (const QString f = field(slot); !f.isEmpty())
        names << f;
    return names;
}

QByteArray Photo::key() const {
    if (!present)
        return {};
    const QByteArray& what = bytes.isEmpty() ? source : bytes;
    return (bytes.isEmpty() ? (linked ? "link:" : "raw:") : "data:") +
           QCryptographicHash::hash(what, QCryptographicHash::Sha1).toHex();
}

Photo photoOf(const ContentLine& line) {
    Photo p;
    p.present = true;
    QByteArray v = line.value.trimmed();
    p.source = v;
    auto decode = [&](const QByteArray& data) {
        QByteArray compact;
        compact.reserve(data.size());
        for (const char c : data)
            if (!std::isspace(static_cast<unsigned char>(c)))
                compact += c;
        auto result = QByteArray::fromBase64Encoding(compact);
        if (result.decodingStatus == QByteArray::Base64DecodingStatus::Ok)
            p.bytes = result.decoded;
    };
    if (v.startsWith("data:")) {
        const qsizetype comma = v.indexOf(',');
        if (comma > 0 && v.left(comma).contains(";base64"))
            decode(v.mid(comma + 1));
        return p;
    }
    const qsizetype colon = v.indexOf(':');
    if (line.hasParam("VALUE=URI") || line.hasParam("VALUE=URL") || (colon > 0 && colon < 12)) {
        p.linked = true;
        return p;
    }
    decode(v);
    return p;
}

Card readCard(const QByteArray& bytes) {
    Card c;
    auto set = [&](const QString& name, const QString& value) {
        if (!value.isEmpty())
            c.fields.insert(name, value);
    };
    const QList<ContentLine> lines = contentLines(bytes);
    const QList<Slot> owned = slotsOf(lines);
    QString organisation;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const ContentLine& line = lines[i];
        switch (owned[i]) {
        case Slot::Name: {
            const QList<QByteArray> parts = rawComponents(line.value);
            for (const Part& p : kNameParts)
                set(p.field, unescaped(parts.value(p.component)).trimmed());
            break;
        }
        case Slot::Address: {
            const QList<QByteArray> parts = rawComponents(line.value);
            for (const Part& p : kAddressParts)
                set(p.field, unescaped(parts.value(p.component)).trimmed());
            break;
        }
        case Slot::Phone1:
        case Slot::Phone2:
        case Slot::Fax:
            set(field(owned[i]), phoneNumber(line));
            break;
        case Slot::Birthday:
        case Slot::Created:
            set(field(owned[i]), dateText(line.value));
            break;
        case Slot::Categories:
            set(field(owned[i]), categoriesText(line.value));
            break;
        case Slot::Note:
            set(field(owned[i]), unescaped(line.value));
            break;
        case Slot::Photo:
            c.photo = photoOf(line);
            break;
        case Slot::None:
            if (line.name == "UID" && c.uid.isEmpty())
                c.uid = unescaped(line.value).trimmed();
            else if (line.name == "FN" && c.fullName.isEmpty())
                c.fullName = unescaped(line.value).trimmed();
            else if (line.name == "ORG" && organisation.isEmpty()) {
                QStringList parts;
                for (const QByteArray& part : rawComponents(line.value))
                    if (const QString t = unescaped(part).trimmed(); !t.isEmpty())
                        parts << t;
                organisation = parts.join(QStringLiteral(", "));
            }
            break;
        default:
            set(field(owned[i]), unescaped(line.value).trimmed());
        }
    }
    // A card without a name of its parts (a business, a card only named):
    // the table shows it by its FN, else by its organisation.
    if (!c.fields.contains(FieldName("Name")) && !c.fields.contains(FieldName("Vorname")))
        set(FieldName("Name"), c.fullName.isEmpty() ? organisation : c.fullName);
    return c;
}

QString fullNameOf(const Fields& f) {
    QString full = (f.value(FieldName("Vorname")) + u' ' + f.value(FieldName("Name"))).trimmed();
    for (const FieldName name : {FieldName("Email"), FieldName("Telefon1"), FieldName("Telefon2")})
        if (full.isEmpty())
            full = f.value(name).trimmed();
    return full.isEmpty() ? QStringLiteral("Unbenannt") : full;
}

QByteArray writeCard(const NewCard& card) {
    QByteArray out;
    out.reserve(512);
    appendLine(out, "BEGIN:VCARD");
    appendLine(out, "VERSION:3.0");
    appendLine(out, slotLine(Slot::Name, card.fields));
    appendLine(out, "FN:" + escaped(fullNameOf(card.fields)));
    if (!card.uid.isEmpty())
        appendLine(out, "UID:" + escaped(card.uid));
    for (const Slot s : kWrittenSlots) {
        const QByteArray line =
            s == Slot::Photo ? (card.photo.isEmpty() ? QByteArray()
                                                     : photoLine(card.photo, card.photoType, false))
                             : slotLine(s, card.fields);
        if (!line.isEmpty())
            appendLine(out, line);
    }
    if (!card.revision.isEmpty())
        appendLine(out, "REV:" + card.revision);
    appendLine(out, "END:VCARD");
    return out;
}

QByteArray patchCard(const QByteArray& server, const Fields& before, const Fields& after,
                     const PhotoChange& photo, const QByteArray& revision, const QString& uid) {
    if (server.trimmed().isEmpty())
        return writeCard({after, uid,
                          photo.kind == PhotoChange::Replace ? photo.bytes : QByteArray(),
                          photo.type, revision});
    auto changed = [&](Slot s) {
        for (const QString& f : fieldsOf(s))
            if (before.value(f) != after.value(f))
                return true;
        return false;
    };
    QSet<int> changedSlots;
    for (int s = 0; s < int(Slot::Count); ++s)
        if (Slot(s) != Slot::Photo && changed(Slot(s)))
            changedSlots.insert(s);
    if (changedSlots.isEmpty() && photo.kind == PhotoChange::Keep)
        return server;
    const bool nameChanged = changedSlots.contains(int(Slot::Name));

    const QList<ContentLine> lines = contentLines(server);
    const QList<Slot> owned = slotsOf(lines);
    bool version4 = false;
    for (const ContentLine& line : lines)
        version4 = version4 || (line.name == "VERSION" && line.value.trimmed() == "4.0");

    // Each line's new form: its raw bytes, a rebuilt line, or nothing.
    struct Out {
        QByteArray bytes;
        bool raw = true;
        bool dropped = false;
    };
    QList<Out> out(lines.size());
    QSet<int> present;
    QSet<QByteArray> groupsDropped, groupsKept;
    bool hasFullName = false, hasRevision = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const ContentLine& line = lines[i];
        const Slot s = owned[i];
        Out& o = out[i];
        present.insert(int(s));
        if (s == Slot::Photo) {
            const Photo theirs = photoOf(line);
            // A link or a picture the table could not read is never taken away.
            const bool foreign = theirs.bytes.isEmpty();
            if (photo.kind == PhotoChange::Replace) {
                const QByteArray ours = photoLine(photo.bytes, photo.type, version4);
                if (foreign) {
                    QByteArray both;
                    appendLine(both, ours);
                    o.bytes = both + line.raw;
                } else {
                    appendLine(o.bytes, ours);
                }
                o.raw = false;
            } else if (photo.kind == PhotoChange::Remove && !foreign) {
                o.dropped = true;
            }
        } else if (s != Slot::None && changedSlots.contains(int(s))) {
            const QByteArray line2 = rebuilt(line, s, after);
            if (line2.isEmpty())
                o.dropped = true;
            else
                appendLike(o.bytes, line, line2);
            o.raw = false;
        } else if (line.name == "FN" && !hasFullName) {
            hasFullName = true;
            if (nameChanged) {
                appendLike(o.bytes, line, line.head + ':' + escaped(fullNameOf(after)));
                o.raw = false;
            }
        } else if (line.name == "REV" && !revision.isEmpty()) {
            hasRevision = true;
            appendLike(o.bytes, line, line.head + ':' + revision);
            o.raw = false;
        }
        if (!line.group.isEmpty() && line.name != "X-ABLABEL")
            (o.dropped ? groupsDropped : groupsKept).insert(line.group.toLower());
    }

    // What the card lacks goes in before its end.
    QByteArray added;
    if (nameChanged && !present.contains(int(Slot::Name)))
        appendLine(added, slotLine(Slot::Name, after));
    if (nameChanged && !hasFullName)
        appendLine(added, "FN:" + escaped(fullNameOf(after)));
    for (const Slot s : kWrittenSlots) {
        if (present.contains(int(s)))
            continue;
        if (s == Slot::Photo) {
            if (photo.kind == PhotoChange::Replace)
                appendLine(added, photoLine(photo.bytes, photo.type, version4));
        } else if (changedSlots.contains(int(s))) {
            if (const QByteArray line = slotLine(s, after); !line.isEmpty())
                appendLine(added, line);
        }
    }
    if (!hasRevision && !revision.isEmpty())
        appendLine(added, "REV:" + revision);

    QByteArray result;
    result.reserve(server.size() + added.size());
    qsizetype end = -1;
    for (qsizetype i = lines.size() - 1; i >= 0 && end < 0; --i)
        if (isCardEnd(lines[i]))
            end = i;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const ContentLine& line = lines[i];
        if (i == end)
            result += added;
        const QByteArray group = line.group.toLower();
        // A label whose property went goes with it.
        if (line.name == "X-ABLABEL" && groupsDropped.contains(group) &&
            !groupsKept.contains(group))
            continue;
        if (out[i].dropped)
            continue;
        if (out[i].raw) {
            result += line.raw;
            if (!result.endsWith('\n'))
                result += "\r\n";
        } else {
            result += out[i].bytes;
        }
    }
    if (end < 0)
        result += added;
    return result;
}

} // namespace vellumo::vcard
