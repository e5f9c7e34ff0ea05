#include "exchange/text.h"

#include <QStringDecoder>

#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <map>
#include <memory>
#include <string>

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

namespace {

QString throughIcu(const char* id, const QString& text) {
    // One instance each for the run; ICU builds them from rules, which takes a while.
    static std::map<std::string, std::unique_ptr<icu::Transliterator>> cache;
    auto& slot = cache[id];
    if (!slot) {
        UErrorCode status = U_ZERO_ERROR;
        slot.reset(icu::Transliterator::createInstance(icu::UnicodeString::fromUTF8(id),
                                                       UTRANS_FORWARD, status));
        if (U_FAILURE(status))
            slot.reset();
    }
    if (!slot)
        return text;
    icu::UnicodeString u(reinterpret_cast<const UChar*>(text.utf16()),
                         static_cast<int32_t>(text.size()));
    slot->transliterate(u);
    return QString(reinterpret_cast<const QChar*>(u.getBuffer()), u.length());
}

// Replaces the runs of characters fits refuses by what convert makes of them.
QString replaceRefused(const QString& text, const std::function<bool(const QString&)>& fits,
                       const std::function<QString(const QString&)>& convert) {
    QString out, run;
    for (qsizetype i = 0; i < text.size(); ++i) {
        qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString c = text.mid(i, n);
        i += n - 1;
        if (fits(c)) {
            if (!run.isEmpty())
                out += convert(run);
            run.clear();
            out += c;
        } else {
            run += c;
        }
    }
    if (!run.isEmpty())
        out += convert(run);
    return out;
}

} // namespace

QString transliterated(const QString& text, const std::function<bool(const QString&)>& fits) {
    if (fits(text))
        return text;
    const QString latin =
        replaceRefused(text, fits, [](const QString& run) { return throughIcu("Any-Latin", run); });
    const QString ascii = replaceRefused(
        latin, fits, [](const QString& run) { return throughIcu("Latin-ASCII", run); });
    return replaceRefused(ascii, fits,
                          [](const QString& run) { return QString(run.size(), u'?'); });
}

} // namespace vellumo::exchange
