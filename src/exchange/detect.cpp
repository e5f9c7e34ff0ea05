// The kind of a file to import, by its contents: a ".csv" that is really a
// dBase table, or an "adressen.dat" that is a vCard, is read as what it is.
#include "exchange/exchange.h"

#include <QFileInfo>

namespace vellumo::exchange {

namespace {

unsigned byteAt(const QByteArray& b, qsizetype i) {
    return i < b.size() ? static_cast<unsigned char>(b[i]) : 0u;
}

unsigned le16At(const QByteArray& b, qsizetype i) {
    return byteAt(b, i) | byteAt(b, i + 1) << 8;
}

// dBase III/IV, FoxPro: a known version byte, a plausible date of the last
// change, a header of 32 bytes plus whole field descriptors, and a first
// descriptor with a name and a known type.
bool isDbase(const QByteArray& b) {
    if (b.size() < 65)
        return false;
    static const unsigned versions[] = {0x02, 0x03, 0x30, 0x31, 0x32, 0x43, 0x63, 0x83,
                                        0x8B, 0x8E, 0xCB, 0xF5, 0xFB, 0x04, 0x8C};
    bool known = false;
    for (const unsigned v : versions)
        known = known || byteAt(b, 0) == v;
    const unsigned month = byteAt(b, 2), day = byteAt(b, 3);
    if (!known || month > 12 || day > 31)
        return false;
    const unsigned header = le16At(b, 8), row = le16At(b, 10);
    if (header < 65 || row < 1)
        return false;
    const unsigned first = byteAt(b, 32), type = byteAt(b, 43);
    const bool nameStart = (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z') ||
                           first == '_' || first >= 0x80;
    static const QByteArray types("CNFDLMGBPIYTVQ0@+OW");
    const unsigned upper = type >= 'a' && type <= 'z' ? type - 32 : type;
    return nameStart && type != 0 && types.contains(static_cast<char>(upper));
}

// Paradox .db: a keyed or unkeyed table with a sound block size, file
// version and field count.
bool isParadox(const QByteArray& b) {
    if (b.size() < 0x58)
        return false;
    const unsigned type = byteAt(b, 4), block = byteAt(b, 5), version = byteAt(b, 0x39);
    const unsigned fields = le16At(b, 0x21), header = le16At(b, 2), record = le16At(b, 0);
    return (type == 0 || type == 2) &&
           (block == 1 || block == 2 || block == 4 || block == 8 || block == 16 || block == 32) &&
           version >= 3 && version <= 12 && fields >= 1 && fields <= 255 && header >= 0x58 &&
           record >= 1;
}

bool looksLikeText(const QByteArray& b) {
    if (b.startsWith("\xFF\xFE") || b.startsWith("\xFE\xFF"))
        return true;
    // UTF-16LE without a mark: Latin text has every second byte zero.
    if (b.size() >= 4 && b[1] == '\0' && b[3] == '\0' && b[0] != '\0')
        return true;
    int control = 0;
    for (const char c : b) {
        const auto u = static_cast<unsigned char>(c);
        if (u == 0)
            return false;
        if (u < 0x20 && u != '\t' && u != '\n' && u != '\r' && u != '\f' && u != 0x1A)
            ++control;
    }
    return control * 20 <= b.size(); // a stray control character is no binary file
}

} // namespace

std::optional<Format> detectFormat(const QByteArray& start) {
    if (isDbase(start))
        return Format::Dbase;
    if (isParadox(start))
        return Format::Paradox;
    QByteArray head = start.left(kDetectBytes);
    if (head.startsWith("\xEF\xBB\xBF"))
        head = head.mid(3);
    head = head.trimmed();
    if (head.startsWith("//") && head.left(200).contains("<mdb:mork"))
        return Format::Mork;
    if (head.left(11).toUpper() == "BEGIN:VCARD")
        return Format::VCard;
    // LDIF: the first line that is no comment names the version or an entry.
    for (const QByteArray& line : head.split('\n')) {
        const QByteArray l = line.trimmed().toLower();
        if (l.isEmpty() || l.startsWith('#'))
            continue;
        if (l.startsWith("dn:") || l.startsWith("version:"))
            return Format::Ldif;
        break;
    }
    if (!looksLikeText(start.left(kDetectBytes)))
        return std::nullopt;
    // Cards after a line of something else (a mail's header, a note).
    if (head.toUpper().contains("\nBEGIN:VCARD"))
        return Format::VCard;
    return Format::Csv;
}

Format formatOf(const QString& fileName, const QByteArray& start) {
    const std::optional<Format> format = detectFormat(start);
    if (format && *format != Format::Csv)
        return *format;
    // Text that is no other kind: the name may still say vCard.
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == u"vcf" || suffix == u"vcard")
        return Format::VCard;
    return Format::Csv;
}

QString formatName(Format format) {
    switch (format) {
    case Format::VCard:
        return QStringLiteral("vCard");
    case Format::Csv:
    case Format::SpreadsheetCsv:
        return QStringLiteral("CSV");
    case Format::Dbase:
        return QStringLiteral("dBase");
    case Format::Paradox:
        return QStringLiteral("Paradox");
    case Format::Ldif:
        return QStringLiteral("LDIF");
    case Format::Mork:
        return QStringLiteral("Thunderbird-Adressbuch (Mork)");
    }
    return {};
}

} // namespace vellumo::exchange
