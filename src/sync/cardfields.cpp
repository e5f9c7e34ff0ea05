#include "sync/cardfields.h"

#include "data/addressschema.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDate>

namespace vellumo::sync {

namespace {

// A field of the address table as Qt text; the name is checked against the
// schema while compiling, so a misspelt one does not build.
struct FieldName {
    consteval FieldName(const char* name) : checked(address::fieldName(name)) {}
    operator QString() const {
        return QString::fromLatin1(checked.data(), static_cast<qsizetype>(checked.size()));
    }
    std::string_view checked;
};

} // namespace

// Every field but the picture and the change date, which is the server's.
const QStringList kCardFields = [] {
    QStringList names;
    for (const address::Field& field : address::kFields)
        if (field.kind != address::Kind::Graphic && field.name != FieldName("Aenderung").checked)
            names << QString::fromLatin1(field.name.data(),
                                         static_cast<qsizetype>(field.name.size()));
    return names;
}();

namespace {

constexpr int kNoYear = 1604;

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

// Components of a structured value (N, ADR), split at unescaped ';'.
QStringList components(const QByteArray& value) {
    QStringList parts;
    QByteArray part;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            part += value[i];
            part += value[++i];
        } else if (value[i] == ';') {
            parts << unescaped(part);
            part.clear();
        } else {
            part += value[i];
        }
    }
    parts << unescaped(part);
    return parts;
}

QByteArray escaped(const QString& text) {
    QString out;
    for (const QChar c : text) {
        if (c == u'\\' || c == u';' || c == u',')
            out += u'\\';
        if (c == u'\r')
            continue;
        out += c == u'\n' ? QStringLiteral("\\n") : QString(c);
    }
    return out.toUtf8();
}

bool isFax(const carddav::ContentLine& line) {
    return line.params.toUpper().contains("FAX");
}

QString isoDate(const QByteArray& value) {
    const QString v = QString::fromUtf8(value).trimmed();
    if (v.startsWith(QStringLiteral("--"))) {
        const QString md = QString(v.mid(2)).remove(u'-');
        const QDate d(kNoYear, md.left(2).toInt(), md.mid(2, 2).toInt());
        return d.isValid() ? d.toString(Qt::ISODate) : QString();
    }
    const QString digits = v.left(10).remove(u'-');
    const QDate d = QDate::fromString(digits.left(8), QStringLiteral("yyyyMMdd"));
    return d.isValid() ? d.toString(Qt::ISODate) : QString();
}

// Folded at 75 octets, never inside a UTF-8 sequence.
void addLine(QByteArray& out, const QByteArray& line) {
    qsizetype start = 0;
    bool first = true;
    while (start < line.size()) {
        qsizetype end = std::min(line.size(), start + (first ? 75 : 74));
        while (end < line.size() && end > start + 1 && (line[end] & 0xC0) == 0x80)
            --end;
        if (!first)
            out += ' ';
        out += line.mid(start, end - start);
        out += "\r\n";
        start = end;
        first = false;
    }
}

void addText(QByteArray& out, const char* property, const QString& value) {
    if (!value.isEmpty())
        addLine(out, QByteArray(property) + ':' + escaped(value));
}

} // namespace

CardContent readCard(const QByteArray& card) {
    CardContent c;
    int phones = 0;
    bool fax = false;
    auto setOnce = [&](const QString& field, const QString& value) {
        if (!c.fields.contains(field) && !value.isEmpty())
            c.fields.insert(field, value);
    };
    QHash<QByteArray, int> seen;
    for (const carddav::ContentLine& line : carddav::contentLines(card)) {
        const int ordinal = seen[line.name]++;
        const QByteArray& n = line.name;
        if (n == "UID") {
            c.uid = unescaped(line.value).trimmed();
        } else if (n == "N" && ordinal == 0) {
            const QStringList p = components(line.value);
            setOnce(FieldName("Name"), p.value(0).trimmed());
            setOnce(FieldName("Vorname"), p.value(1).trimmed());
        } else if (n == "ADR" && ordinal == 0) {
            const QStringList p = components(line.value);
            setOnce(FieldName("Strasse"), p.value(2).trimmed());
            setOnce(FieldName("Ort"), p.value(3).trimmed());
            setOnce(FieldName("PLZ"), p.value(5).trimmed());
            setOnce(FieldName("Land"), p.value(6).trimmed());
        } else if (n == "TEL") {
            if (isFax(line)) {
                if (!fax)
                    setOnce(FieldName("Fax"), unescaped(line.value).trimmed());
                fax = true;
            } else if (phones < 2) {
                setOnce(phones == 0 ? FieldName("Telefon1") : FieldName("Telefon2"),
                        unescaped(line.value).trimmed());
                ++phones;
            }
        } else if (n == "EMAIL" && ordinal == 0) {
            setOnce(FieldName("Email"), unescaped(line.value).trimmed());
        } else if (n == "URL" && ordinal == 0) {
            setOnce(FieldName("WWW"), unescaped(line.value).trimmed());
        } else if (n == "BDAY" && ordinal == 0) {
            setOnce(FieldName("Geburtstag"), isoDate(line.value));
        } else if (n == "X-VELLUMO-ERSTELLT") {
            setOnce(FieldName("Erstellt"), isoDate(line.value));
        } else if (n == "CATEGORIES" && ordinal == 0) {
            setOnce(FieldName("Rubrik"), unescaped(line.value).trimmed());
        } else if (n == "NOTE" && ordinal == 0) {
            setOnce(FieldName("Memo1"), unescaped(line.value));
        } else if (n == "X-VELLUMO-KONTONR") {
            setOnce(FieldName("KontoNr"), unescaped(line.value).trimmed());
        } else if (n == "X-VELLUMO-BLZ") {
            setOnce(FieldName("BLZ"), unescaped(line.value).trimmed());
        } else if (n == "X-VELLUMO-INSTITUT") {
            setOnce(FieldName("Institut"), unescaped(line.value).trimmed());
        } else if (n == "PHOTO" && ordinal == 0) {
            const QByteArray v = line.value.trimmed();
            // vCard 3.0 "ENCODING=b", vCard 4.0 "data:image/png;base64,…"; a
            // link to a picture elsewhere is not fetched.
            if (v.startsWith("data:")) {
                const qsizetype comma = v.indexOf(',');
                if (comma > 0)
                    c.photo = QByteArray::fromBase64(v.mid(comma + 1));
            } else if (line.params.toUpper().contains("ENCODING=B") ||
                       line.params.toUpper().contains("BASE64")) {
                c.photo = QByteArray::fromBase64(v);
            }
        }
    }
    return c;
}

QByteArray writeCard(const Fields& f, const QByteArray& photo, const QString& uid) {
    QByteArray out = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
    addLine(out, "UID:" + escaped(uid));
    const QString name = f.value(FieldName("Name"));
    const QString given = f.value(FieldName("Vorname"));
    addLine(out, "N:" + escaped(name) + ';' + escaped(given) + ";;;");
    QString full = (given + u' ' + name).trimmed();
    if (full.isEmpty())
        full = f.value(FieldName("Email"));
    addLine(out, "FN:" + escaped(full.isEmpty() ? QStringLiteral("Unbenannt") : full));
    const QString street = f.value(FieldName("Strasse")), town = f.value(FieldName("Ort")),
                  code = f.value(FieldName("PLZ")), country = f.value(FieldName("Land"));
    if (!(street + town + code + country).isEmpty())
        addLine(out, "ADR;TYPE=HOME:;;" + escaped(street) + ';' + escaped(town) + ";;" +
                         escaped(code) + ';' + escaped(country));
    addText(out, "TEL;TYPE=VOICE", f.value(FieldName("Telefon1")));
    addText(out, "TEL;TYPE=VOICE", f.value(FieldName("Telefon2")));
    addText(out, "TEL;TYPE=FAX", f.value(FieldName("Fax")));
    addText(out, "EMAIL;TYPE=INTERNET", f.value(FieldName("Email")));
    addText(out, "URL", f.value(FieldName("WWW")));
    const QDate birthday = QDate::fromString(f.value(FieldName("Geburtstag")), Qt::ISODate);
    if (birthday.isValid())
        addLine(out, "BDAY:" + (birthday.year() == kNoYear
                                    ? birthday.toString(QStringLiteral("--MMdd")).toLatin1()
                                    : birthday.toString(Qt::ISODate).toLatin1()));
    addText(out, "CATEGORIES", f.value(FieldName("Rubrik")));
    addText(out, "NOTE", f.value(FieldName("Memo1")));
    if (!photo.isEmpty())
        addLine(out, "PHOTO;ENCODING=b;TYPE=PNG:" + photo.toBase64());
    addText(out, "X-VELLUMO-KONTONR", f.value(FieldName("KontoNr")));
    addText(out, "X-VELLUMO-BLZ", f.value(FieldName("BLZ")));
    addText(out, "X-VELLUMO-INSTITUT", f.value(FieldName("Institut")));
    addText(out, "X-VELLUMO-ERSTELLT", f.value(FieldName("Erstellt")));
    out += "END:VCARD\r\n";
    return out;
}

bool keeps(const carddav::ContentLine& line, int ordinal) {
    // patchCard asks about every line of a card in order; a first TEL starts
    // the count of that card's phones afresh.
    static thread_local int phones = 0;
    static thread_local bool fax = false;
    const QByteArray& n = line.name;
    if (n == "TEL") {
        if (ordinal == 0) {
            phones = 0;
            fax = false;
        }
        if (isFax(line)) {
            const bool first = !fax;
            fax = true;
            return first;
        }
        return phones++ < 2;
    }
    if (n == "N" || n == "FN" || n == "BDAY" || n == "X-VELLUMO-KONTONR" || n == "X-VELLUMO-BLZ" ||
        n == "X-VELLUMO-INSTITUT" || n == "X-VELLUMO-ERSTELLT")
        return true;
    return ordinal == 0 && (n == "ADR" || n == "EMAIL" || n == "URL" || n == "CATEGORIES" ||
                            n == "NOTE" || n == "PHOTO");
}

QString pictureKey(const QImage& image) {
    if (image.isNull())
        return {};
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    {
        QImage argb = image.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < argb.height(); ++y) {
            const auto* in = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
            auto* out = reinterpret_cast<QRgb*>(flat.scanLine(y));
            for (int x = 0; x < argb.width(); ++x) {
                const int a = qAlpha(in[x]);
                auto over = [a](int c) { return (c * a + 255 * (255 - a)) / 255; };
                out[x] = qRgb(over(qRed(in[x])), over(qGreen(in[x])), over(qBlue(in[x])));
            }
        }
    }
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(QByteArray::number(flat.width()) + 'x' + QByteArray::number(flat.height()));
    for (int y = 0; y < flat.height(); ++y)
        hash.addData(
            QByteArrayView(reinterpret_cast<const char*>(flat.constScanLine(y)), flat.width() * 4));
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace vellumo::sync
