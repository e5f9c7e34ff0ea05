#include "data/exchangetext.h"

#include <QStringDecoder>

namespace vellumo::exchange {

QString decodeWindows1252(const QByteArray& bytes) {
    // 0x80..0x9F; the five bytes the code page leaves free stay as they are.
    static const char16_t high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    };
    QString out(bytes.size(), Qt::Uninitialized);
    QChar* to = out.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *to++ = (b >= 0x80 && b < 0xA0) ? QChar(high[b - 0x80]) : QChar(b);
    }
    return out;
}

QString decodeUtf8Or1252(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return decodeWindows1252(bytes);
}

bool decodeCharset(const QByteArray& bytes, const QByteArray& charset, QString& out) {
    const QByteArray name = charset.trimmed().toUpper();
    if (name == "UTF-8" || name == "UTF8") {
        out = decodeUtf8Or1252(bytes);
        return true;
    }
    if (name == "ISO-8859-1" || name == "ISO8859-1" || name == "LATIN1" || name == "WINDOWS-1252" ||
        name == "CP1252" || name == "US-ASCII" || name == "ASCII") {
        out = decodeWindows1252(bytes);
        return true;
    }
    QStringDecoder decoder(name.constData());
    if (!decoder.isValid())
        return false;
    out = decoder.decode(bytes);
    return true;
}

} // namespace vellumo::exchange
