// vCard writing (3.0) and reading (2.1, 3.0, 4.0).
#include "exchange/builder.h"
#include "exchange/exchange.h"
#include "exchange/input.h"
#include "exchange/text.h"
#include "exchange/vcardcodec.h"

#include "platform/pictures/graphicfield.h"
#include "platform/system/system.h"

#include <QBuffer>
#include <QImage>
#include <QList>

#include <cctype>
#include <functional>
#include <optional>

namespace vellumo::exchange {

namespace {

// ---- writing ----------------------------------------------------------------------

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

// A content line longer than this is left out (a photo may be longer); a
// card is a few kilobytes, so these only stop files made to exhaust memory.
constexpr qsizetype kMaxLine = 1 << 20;
constexpr qsizetype kMaxPhotoLine = 16 << 20;

struct Property {
    QByteArray name;         // upper case, without group
    QList<QByteArray> types; // upper case, TYPE= values and bare 2.1 parameters
    QByteArray encoding;     // upper case: QUOTED-PRINTABLE, BASE64, B or empty
    QByteArray charset;      // as written
    QByteArray valueKind;    // VALUE=, upper case
    QByteArray value;        // raw, still encoded and escaped
    bool hasType(const char* t) const { return types.contains(QByteArray(t)); }
    QStringList typeList() const {
        QStringList list;
        for (const QByteArray& t : types)
            list << QString::fromLatin1(t);
        return list;
    }
};

bool isBase64Line(const QByteArray& line) {
    if (line.isEmpty())
        return false;
    for (const char c : line)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' || c == '='))
            return false;
    return true;
}

// What keeps a separator from splitting: parameters quote it ("a;b"),
// values escape it (a\;b, where \n is a line break).
enum class Shield { Quotes, Backslash };

// Splits at the separators the rule leaves open; with Backslash the escapes
// of each part are resolved as well.
template <typename Text, typename Char>
QList<Text> splitAt(const Text& text, Char separator, Shield rule) {
    QList<Text> parts;
    Text part;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const Char c = text[i];
        if (rule == Shield::Backslash && c == Char(u'\\') && i + 1 < text.size()) {
            const Char next = text[++i];
            // "\\", "\,", "\;" and whatever else was escaped stand for themselves
            part += next == Char(u'n') || next == Char(u'N') ? Char(u'\n') : next;
            continue;
        }
        if (rule == Shield::Quotes && c == Char(u'"'))
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

// Physical lines to content lines: folded lines (a line starting with a blank
// or tab continues the one before), soft line breaks of quoted-printable
// values, and base64 lines of 2.1 files written without the leading blank.
// Whether a line is quoted-printable or base64 is decided once, where it
// starts, so a long line costs its length and no more. A content line longer
// than the longest photo is cut there and says so.
class ContentLines {
public:
    explicit ContentLines(ByteInput& input) : input_(input) {}

    bool next(QByteArray& out, bool& cut) {
        for (;;) {
            QByteArray line;
            bool lineCut = false;
            if (!input_.readLine(line, kMaxPhotoLine + 1, lineCut)) {
                if (!have_)
                    return false;
                return take(out, cut);
            }
            const bool continuation = !line.isEmpty() && (line[0] == ' ' || line[0] == '\t');
            if (have_ && softBreak_) {
                current_.chop(1); // the '=' of the soft break
                append(line, 0, lineCut);
            } else if (have_ && continuation) {
                append(line, 1, lineCut);
            } else if (have_ && base64_ && isBase64Line(line)) {
                append(line, 0, lineCut);
            } else {
                const bool emitted = have_ && take(out, cut);
                if (line.trimmed().isEmpty()) {
                    base64_ = false;
                    softBreak_ = false;
                    if (emitted)
                        return true;
                    continue;
                }
                current_ = std::move(line);
                have_ = true;
                cut_ = lineCut;
                const qsizetype colon = vcard::valueColon(current_);
                const QByteArray head = colon > 0 ? current_.left(colon).toUpper() : QByteArray();
                base64_ = head.contains("BASE64");
                quotedPrintable_ = head.contains("QUOTED-PRINTABLE");
                softBreak_ = quotedPrintable_ && current_.endsWith('=');
                if (emitted)
                    return true;
                continue;
            }
            softBreak_ = quotedPrintable_ && current_.endsWith('=');
        }
    }

private:
    void append(const QByteArray& line, qsizetype from, bool lineCut) {
        const qsizetype length = line.size() - from;
        if (cut_ || lineCut || current_.size() + length > kMaxPhotoLine) {
            cut_ = true; // the rest is passed over
            return;
        }
        current_.append(line.constData() + from, length);
    }

    bool take(QByteArray& out, bool& cut) {
        out = std::move(current_);
        cut = cut_;
        current_.clear();
        have_ = false;
        cut_ = false;
        return true;
    }

    ByteInput& input_;
    QByteArray current_;
    bool have_ = false;
    bool cut_ = false;
    bool softBreak_ = false;
    bool base64_ = false;
    bool quotedPrintable_ = false;
};

std::optional<Property> parseLine(const QByteArray& line) {
    const qsizetype colon = vcard::valueColon(line);
    if (colon <= 0)
        return std::nullopt;
    Property p;
    p.value = line.mid(colon + 1);
    const QList<QByteArray> head = splitAt(line.left(colon), ';', Shield::Quotes);
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
        } else if (key == "PREF") {
            p.types << "PREF";
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

QStringList components(const QString& value, QChar separator) {
    return splitAt(value, separator, Shield::Backslash);
}

QString unescaped(const QString& value) {
    return components(value, QChar(0)).join(QString());
}

QString component(const QStringList& parts, int n) {
    return n < parts.size() ? parts[n].trimmed() : QString();
}

QString joined(const QStringList& parts, const QString& separator) {
    QStringList kept;
    for (const QString& p : parts)
        if (!p.trimmed().isEmpty())
            kept << p.trimmed();
    return kept.join(separator);
}

// Base64 as cards carry it: with blanks and line breaks in between.
QByteArray base64Decoded(const QByteArray& data, bool* ok) {
    QByteArray compact;
    compact.reserve(data.size());
    for (const char c : data)
        if (!std::isspace(static_cast<unsigned char>(c)))
            compact += c;
    auto result = QByteArray::fromBase64Encoding(compact);
    *ok = result.decodingStatus == QByteArray::Base64DecodingStatus::Ok && !compact.isEmpty();
    return result.decoded;
}

QString withKind(const QString& what, const QString& label) {
    return label.isEmpty() ? what : QStringLiteral("%1 (%2)").arg(what, label);
}

// vCard 4.0 GENDER: a letter, then a free text ("F;Frau").
QString genderText(const QString& value) {
    const QStringList parts = components(value, u';');
    const QString sex = component(parts, 0).toUpper();
    QString text = sex == u"F"   ? QStringLiteral("weiblich")
                   : sex == u"M" ? QStringLiteral("männlich")
                   : sex == u"O" ? QStringLiteral("divers")
                   : sex == u"N" ? QStringLiteral("keine Angabe")
                   : sex == u"U" ? QStringLiteral("unbekannt")
                                 : component(parts, 0);
    const QString identity = component(parts, 1);
    if (!identity.isEmpty())
        text = text.isEmpty() ? identity : text + QStringLiteral(" (") + identity + u')';
    return text;
}

// A date as the table shows dates ("12.06.1993", "12.06." without a year);
// a text that is no date stays as written.
QString dateText(const QString& value) {
    const std::optional<QDate> date = parseDate(value);
    if (!date || !date->isValid())
        return value.trimmed();
    return date->year() == address::kYearUnknown ? date->toString(u"dd.MM.")
                                                 : date->toString(u"dd.MM.yyyy");
}

// Properties of other programs that have no field but a plain meaning: they
// become German lines of the notes.
const char* noteLabel(const QByteArray& name) {
    static const struct {
        const char* property;
        const char* label;
    } kLabels[] = {
        {"IMPP", "Chat"},
        {"X-AIM", "Chat (AIM)"},
        {"X-ICQ", "Chat (ICQ)"},
        {"X-JABBER", "Chat (Jabber)"},
        {"X-MSN", "Chat (MSN)"},
        {"X-SKYPE", "Chat (Skype)"},
        {"X-SKYPE-USERNAME", "Chat (Skype)"},
        {"X-GOOGLE-TALK", "Chat (Google Talk)"},
        {"X-TWITTER", "Twitter"},
        {"GEO", "Position"},
        {"TZ", "Zeitzone"},
        {"LANG", "Sprache"},
        {"RELATED", "Beziehung"},
        {"X-SPOUSE", "Ehepartner"},
        {"X-MS-SPOUSE", "Ehepartner"},
        {"X-EVOLUTION-SPOUSE", "Ehepartner"},
        {"X-KADDRESSBOOK-X-SPOUSENAME", "Ehepartner"},
        {"X-MANAGER", "Vorgesetzte(r)"},
        {"X-EVOLUTION-MANAGER", "Vorgesetzte(r)"},
        {"X-ASSISTANT", "Assistenz"},
        {"X-EVOLUTION-ASSISTANT", "Assistenz"},
        {"X-ABRELATEDNAMES", "Beziehung"},
        {"LABEL", "Anschrift (Etikett)"},
        {"X-PHONETIC-FIRST-NAME", "Vorname (Aussprache)"},
        {"X-PHONETIC-LAST-NAME", "Name (Aussprache)"},
        {"X-MAIDENNAME", "Geburtsname"},
        {"EXPERTISE", "Fachgebiet"},
        {"HOBBY", "Hobby"},
        {"INTEREST", "Interesse"},
        {"ORG-DIRECTORY", "Verzeichnis"},
    };
    for (const auto& entry : kLabels)
        if (name == entry.property)
            return entry.label;
    return nullptr;
}

// What describes the card itself rather than the person, and labels other
// lines (an Apple "X-ABLabel" names its item's kind): nothing of the person
// is lost without them.
bool isCardMetadata(const QByteArray& name) {
    static const char* const kMetadata[] = {
        "VERSION",
        "PRODID",
        "REV",
        "UID",
        "KIND",
        "SOURCE",
        "NAME",
        "MAILER",
        "CLASS",
        "SORT-STRING",
        "X-ABLABEL",
        "X-ABSHOWAS",
        "X-ABUID",
        "X-ABADR",
        "CLIENTPIDMAP",
        "AGENT",
        "BEGIN",
        "END",
        "X-MOZILLA-HTML",
        "X-EVOLUTION-FILE-AS",
        "X-EVOLUTION-LIST",
        "X-EVOLUTION-BLOG-URL",
        "X-EVOLUTION-VIDEO-URL",
        "X-MS-OL-DEFAULT-POSTAL-ADDRESS",
        "X-MS-OL-DESIGN",
    };
    for (const char* entry : kMetadata)
        if (name == entry)
            return true;
    return false;
}

class CardReader {
public:
    explicit CardReader(int number) : builder_(number) {}

    void take(const Property& p) {
        if (builder_.failed())
            return;
        if (p.name == "PHOTO") {
            photo(p);
            return;
        }
        if (p.value.size() > kMaxLine) {
            tooLong(p);
            return;
        }
        QByteArray bytes = p.value;
        if (p.encoding == "QUOTED-PRINTABLE")
            bytes = quotedPrintableDecoded(bytes);
        QString v;
        if (p.charset.isEmpty()) {
            v = decodeUtf8Or1252(bytes);
        } else if (!decodeCharset(bytes, p.charset, v)) {
            v = decodeUtf8Or1252(bytes);
            builder_.leaveOut(
                QStringLiteral("Der Zeichensatz \"%1\" ist unbekannt; %2 wurde als UTF-8 gelesen")
                    .arg(QString::fromLatin1(p.charset), QString::fromLatin1(p.name)));
        }
        // Line breaks inside values are LF here, as in the table's memo.
        v.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        const QString label = kindLabel(p.typeList());
        const bool preferred = p.hasType("PREF");
        if (p.name == "N") {
            const QStringList n = components(v, u';');
            QString given = component(n, 1);
            if (!component(n, 2).isEmpty())
                given += (given.isEmpty() ? QString() : QStringLiteral(" ")) + component(n, 2);
            builder_.setFamilyAndGiven(component(n, 0), given);
            builder_.addNote(QStringLiteral("Anrede"), component(n, 3));
            builder_.addNote(QStringLiteral("Namenszusatz"), component(n, 4));
        } else if (p.name == "FN") {
            builder_.setFullName(unescaped(v));
        } else if (p.name == "ORG") {
            builder_.setOrganisation(joined(components(v, u';'), QStringLiteral(", ")));
        } else if (p.name == "TITLE") {
            builder_.addNote(QStringLiteral("Position"), unescaped(v));
        } else if (p.name == "ROLE") {
            builder_.addNote(QStringLiteral("Funktion"), unescaped(v));
        } else if (p.name == "NICKNAME") {
            builder_.addNote(QStringLiteral("Spitzname"), unescaped(v));
        } else if (p.name == "ADR") {
            const QStringList a = components(v, u';');
            QString street = joined({component(a, 2), component(a, 1)}, QStringLiteral(", "));
            if (street.isEmpty() && !component(a, 0).isEmpty())
                street = QStringLiteral("Postfach ") + component(a, 0);
            builder_.addPostal(street, component(a, 5), component(a, 3), component(a, 4),
                               component(a, 6), label, preferred);
        } else if (p.name == "TEL") {
            builder_.addPhone(vcard::phoneText(unescaped(v)), label, p.hasType("FAX"));
        } else if (p.name == "EMAIL") {
            builder_.addEmail(unescaped(v), label, preferred);
        } else if (p.name == "URL") {
            builder_.addUrl(unescaped(v), label);
        } else if (p.name == "BDAY") {
            builder_.setDate(QStringLiteral("Geburtstag"), unescaped(v),
                             QStringLiteral("Das Geburtsdatum"));
        } else if (p.name == "REV") {
            builder_.setDate(QStringLiteral("Aenderung"), unescaped(v),
                             QStringLiteral("Das Änderungsdatum (REV)"));
        } else if (p.name == "X-VELLUMO-ERSTELLT") {
            builder_.setDate(QStringLiteral("Erstellt"), unescaped(v),
                             QStringLiteral("Das Erstelldatum"));
        } else if (p.name == "CATEGORIES") {
            builder_.set(QStringLiteral("Rubrik"),
                         joined(components(v, u','), QStringLiteral(", ")));
        } else if (p.name == "NOTE") {
            builder_.appendMemo(unescaped(v));
        } else if (p.name == "UID") {
            builder_.setUid(unescaped(v));
        } else if (p.name == "X-VELLUMO-KONTONR") {
            builder_.set(QStringLiteral("KontoNr"), unescaped(v).trimmed());
        } else if (p.name == "X-VELLUMO-BLZ") {
            builder_.set(QStringLiteral("BLZ"), unescaped(v).trimmed());
        } else if (p.name == "X-VELLUMO-INSTITUT") {
            builder_.set(QStringLiteral("Institut"), unescaped(v).trimmed());
        } else if (p.name == "GENDER" || p.name == "X-GENDER") {
            builder_.addNote(QStringLiteral("Geschlecht"), genderText(v));
        } else if (p.name == "ANNIVERSARY" || p.name == "X-ANNIVERSARY") {
            builder_.addNote(QStringLiteral("Jahrestag"), dateText(unescaped(v)));
        } else if (p.name == "X-ABDATE") {
            builder_.addNote(withKind(QStringLiteral("Datum"), label), dateText(unescaped(v)));
        } else if (const char* what = noteLabel(p.name)) {
            builder_.addNote(withKind(QString::fromUtf8(what), label),
                             p.name == "GEO" || p.name == "IMPP" || p.name == "RELATED"
                                 ? unescaped(v)
                                 : joined(components(v, u';'), QStringLiteral(", ")));
        } else if (!isCardMetadata(p.name) && !unescaped(v).trimmed().isEmpty()) {
            // Whatever else a program wrote has no place here: the report says so.
            builder_.leaveOut(QStringLiteral("Die Angabe %1 (\"%2\") hat kein Feld und wurde "
                                             "weggelassen")
                                  .arg(QString::fromLatin1(p.name), unescaped(v).left(80)));
        }
    }

    // A line cut while reading: only its name is known for sure.
    void tooLong(const Property& p) {
        if (p.name == "PHOTO")
            builder_.leaveOut(
                QStringLiteral("Das Bild ist größer als 16 MiB und wurde weggelassen"));
        else
            builder_.leaveOut(QStringLiteral("Eine Zeile %1 von mehr als 1 MiB wurde weggelassen")
                                  .arg(QString::fromLatin1(p.name)));
    }

    Address finish() { return builder_.finish(); }
    void fail(const QString& problem) { builder_.fail(problem); }
    void leaveOut(const QString& why) { builder_.leaveOut(why); }

private:
    // The picture stays encoded (as its file's bytes) until the card is
    // stored; only a link to a picture elsewhere is left out.
    void photo(const Property& p) {
        QByteArray data = p.value.trimmed();
        if (data.size() > kMaxPhotoLine) {
            tooLong(p);
            return;
        }
        if (data.startsWith("data:")) {
            // 4.0: a data URI, data:image/png;base64,....
            const qsizetype comma = data.indexOf(',');
            if (comma < 0 || !data.left(comma).contains(";base64")) {
                builder_.leaveOut(QStringLiteral("Das Bild der Karte kann nicht gelesen werden und "
                                                 "wurde weggelassen"));
                return;
            }
            data = data.mid(comma + 1);
        } else if (p.encoding != "B" && p.encoding != "BASE64") {
            // Mail programs write bare base64 without ENCODING; a link has a scheme.
            const qsizetype colon = data.indexOf(':');
            if (p.valueKind == "URI" || p.valueKind == "URL" || (colon > 0 && colon < 12)) {
                builder_.leaveOut(QStringLiteral("Das Bild liegt nur als Verweis vor (%1) und "
                                                 "wurde weggelassen")
                                      .arg(QString::fromUtf8(data.left(80))));
                return;
            }
        }
        bool ok = false;
        const QByteArray bytes = base64Decoded(data, &ok);
        if (!ok) {
            builder_.leaveOut(QStringLiteral(
                "Das Bild der Karte kann nicht gelesen werden und wurde weggelassen"));
            return;
        }
        builder_.setPhoto(bytes);
    }

    AddressBuilder builder_;
};

// Cards one at a time, numbered from 1; text outside cards is passed over.
class VCardStream : public AddressStream {
public:
    explicit VCardStream(ByteInput& input) : lines_(input) {
        if (input.ahead(3) == "\xEF\xBB\xBF")
            input.skip(3);
    }

    std::optional<Address> next() override {
        QByteArray line;
        bool cut = false;
        while (lines_.next(line, cut)) {
            const std::optional<Property> p = parseLine(line);
            if (!p)
                continue;
            const QByteArray value = p->value.trimmed().toUpper();
            if (p->name == "BEGIN" && value == "VCARD" && !cut) {
                if (card_ && (agentOpen_ || nested_ > 0)) {
                    ++nested_; // an embedded card (AGENT) belongs to its outer card
                    agentOpen_ = false;
                    continue;
                }
                if (card_) {
                    // The card before lacks its END: it ends here, as far as
                    // it goes, and this line begins the next one.
                    card_->leaveOut(QStringLiteral("Die Karte endet ohne END:VCARD; gelesen "
                                                   "wurde sie bis zum Beginn der nächsten"));
                    Address address = card_->finish();
                    card_.emplace(++number_);
                    return address;
                }
                card_.emplace(++number_);
            } else if (p->name == "END" && value == "VCARD" && !cut) {
                if (nested_ > 0) {
                    --nested_;
                } else if (card_) {
                    Address address = card_->finish();
                    card_.reset();
                    return address;
                }
            } else if (card_ && nested_ == 0) {
                // A 2.1 AGENT with an empty value carries its card on the next lines.
                agentOpen_ = p->name == "AGENT" && p->value.trimmed().isEmpty();
                if (cut)
                    card_->tooLong(*p);
                else if (p->name == "VERSION" && value != "2.1" && value != "3.0" && value != "4.0")
                    card_->fail(QStringLiteral("Die vCard-Version %1 wird nicht unterstützt")
                                    .arg(QString::fromLatin1(p->value.trimmed())));
                else
                    card_->take(*p);
            }
        }
        if (!card_)
            return std::nullopt;
        card_->fail(QStringLiteral("Die Karte ist unvollständig (END:VCARD fehlt)"));
        Address address = card_->finish();
        card_.reset();
        return address;
    }

private:
    ContentLines lines_;
    std::optional<CardReader> card_;
    int number_ = 0;
    int nested_ = 0;
    bool agentOpen_ = false;
};

} // namespace

std::unique_ptr<AddressStream> vcardStream(ByteInput& input) {
    return std::make_unique<VCardStream>(input);
}

std::vector<Address> readVCards(const QByteArray& data) {
    return readAll(data, Format::VCard);
}

QByteArray toVCard(const Address& a, QString* pictureProblem) {
    if (pictureProblem)
        pictureProblem->clear();
    vcard::NewCard card;
    for (auto it = a.values.cbegin(); it != a.values.cend(); ++it) {
        if (it.key() == QStringLiteral("Grafik") || it.key() == QStringLiteral("Aenderung"))
            continue;
        const QString text = it.value().typeId() == QMetaType::QDate
                                 ? it.value().toDate().toString(Qt::ISODate)
                                 : it.value().toString();
        if (!text.isEmpty())
            card.fields.insert(it.key(), text);
    }
    card.uid = a.uid;
    const QByteArray picture = a.values.value(QStringLiteral("Grafik")).toByteArray();
    if (!picture.isEmpty()) {
        card.photo = pngOf(picture);
        if (card.photo.isEmpty() && pictureProblem)
            *pictureProblem = QStringLiteral("Das gespeicherte Bild ist beschädigt oder kein "
                                             "Windows-Bitmap.");
    }
    if (const QDate changed = a.date(QStringLiteral("Aenderung")); changed.isValid())
        card.revision = isoDate(changed);
    return vcard::writeCard(card);
}

} // namespace vellumo::exchange
