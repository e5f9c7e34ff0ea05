#include "address/phonenumber.h"

#include <phonenumbers/phonenumberutil.h>

#include <QHash>
#include <QRegularExpression>

#include <optional>
#include <string>

namespace address {

namespace {

using i18n::phonenumbers::PhoneNumberUtil;

const PhoneNumberUtil& util() {
    return *PhoneNumberUtil::GetInstance();
}

struct RegionRules {
    int countryCode = 0;
    QString nationalPrefix; // "0" in most of Europe, empty in Italy
};

// libphonenumber's data, looked up once per region.
const RegionRules& rulesOf(const QString& region) {
    static QHash<QString, RegionRules> known;
    auto it = known.find(region);
    if (it == known.end()) {
        RegionRules rules;
        const std::string code = region.toStdString();
        rules.countryCode = util().GetCountryCodeForRegion(code);
        std::string prefix;
        util().GetNddPrefixForRegion(code, true, &prefix);
        rules.nationalPrefix = QString::fromStdString(prefix);
        it = known.insert(region, rules);
    }
    return *it;
}

// The main region of a country calling code, empty for a code that is none.
QString regionOfCode(int code) {
    static QHash<int, QString> known;
    auto it = known.find(code);
    if (it == known.end()) {
        std::string region;
        util().GetRegionCodeForCountryCode(code, &region);
        it = known.insert(code, region == "ZZ" ? QString() : QString::fromStdString(region));
    }
    return *it;
}

bool isSeparator(QChar c) {
    return c == u' ' || c == u'-' || c == u'/' || c == u'.' || c == u'(' || c == u')' ||
           c == u'\u2013' || c == u'\u00a0';
}

// The first run of digits and separators (with a leading "+"), where the
// number is: "Tel. 0221 / 123 45 67 privat" gives "0221 / 123 45 67 ".
QStringView numberRun(QStringView text) {
    qsizetype begin = 0;
    while (begin < text.size() && !text[begin].isDigit() && text[begin] != u'+')
        ++begin;
    qsizetype end = begin < text.size() && text[begin] == u'+' ? begin + 1 : begin;
    while (end < text.size() && (text[end].isDigit() || isSeparator(text[end])))
        ++end;
    return text.mid(begin, end - begin);
}

} // namespace

QString digitsOf(QStringView text) {
    QString digits;
    digits.reserve(text.size());
    for (QChar c : text)
        if (c >= u'0' && c <= u'9')
            digits += c;
    return digits;
}

PhoneNumber PhoneNumber::parse(QStringView text, QStringView region) {
    PhoneNumber number;
    const QStringView run = numberRun(text);
    // "+49 (0)221": the national prefix some write in brackets after the
    // country code is no part of the number.
    QString written = run.toString();
    const bool plus = written.startsWith(u'+');
    QString digits = digitsOf(written);
    if (digits.isEmpty())
        return number;
    number.region_ = region.isEmpty() ? QStringLiteral("DE") : region.toString().toUpper();
    const RegionRules* home = &rulesOf(number.region_);
    if (home->countryCode == 0) {
        number.region_ = QStringLiteral("DE");
        home = &rulesOf(number.region_);
    }
    const QString international = home->countryCode == 1 ? QStringLiteral("011") : "00";
    if (!plus && digits.startsWith(international)) {
        digits.remove(0, international.size());
        number.international_ = true;
    }
    number.international_ = number.international_ || plus;

    if (number.international_) {
        for (int length = 1; length <= 3 && length < digits.size(); ++length) {
            const int code = digits.left(length).toInt();
            const QString codeRegion = regionOfCode(code);
            if (codeRegion.isEmpty())
                continue;
            number.countryCode_ = code;
            number.region_ = codeRegion;
            QString rest = digits.mid(length);
            const RegionRules& rules = rulesOf(codeRegion);
            // "+49 (0)221" and the mistaken "+49 0221": the national prefix
            // written after the country code.
            const qsizetype bracket = written.indexOf(QStringLiteral("(0)"));
            if (!rules.nationalPrefix.isEmpty() && rest.startsWith(rules.nationalPrefix) &&
                (bracket >= 0 || rules.nationalPrefix == u"0"))
                rest.remove(0, rules.nationalPrefix.size());
            number.nationalPrefix_ = rules.nationalPrefix;
            number.nationalNumber_ = rest;
            return number;
        }
        // No known country code: the digits as they stand.
        number.nationalNumber_ = digits;
        return number;
    }
    number.countryCode_ = home->countryCode;
    number.nationalPrefix_ = home->nationalPrefix;
    if (!home->nationalPrefix.isEmpty() && digits.startsWith(home->nationalPrefix))
        digits.remove(0, home->nationalPrefix.size());
    number.nationalNumber_ = digits;
    return number;
}

QString PhoneNumber::e164Digits() const {
    if (countryCode_ == 0 || nationalNumber_.isEmpty())
        return QString();
    return QString::number(countryCode_) + nationalNumber_;
}

QString regionOfCountry(QStringView country) {
    // The names and the car-plate letters people write into "Land".
    static const QHash<QString, QString> names = [] {
        QHash<QString, QString> n;
        const char* const pairs[][2] = {
            {"deutschland", "DE"},
            {"d", "DE"},
            {"brd", "DE"},
            {"germany", "DE"},
            {"österreich", "AT"},
            {"oesterreich", "AT"},
            {"a", "AT"},
            {"austria", "AT"},
            {"schweiz", "CH"},
            {"ch", "CH"},
            {"switzerland", "CH"},
            {"liechtenstein", "LI"},
            {"fl", "LI"},
            {"frankreich", "FR"},
            {"f", "FR"},
            {"france", "FR"},
            {"italien", "IT"},
            {"i", "IT"},
            {"italy", "IT"},
            {"spanien", "ES"},
            {"e", "ES"},
            {"spain", "ES"},
            {"portugal", "PT"},
            {"p", "PT"},
            {"niederlande", "NL"},
            {"holland", "NL"},
            {"nl", "NL"},
            {"belgien", "BE"},
            {"b", "BE"},
            {"luxemburg", "LU"},
            {"l", "LU"},
            {"dänemark", "DK"},
            {"daenemark", "DK"},
            {"dk", "DK"},
            {"schweden", "SE"},
            {"s", "SE"},
            {"norwegen", "NO"},
            {"n", "NO"},
            {"finnland", "FI"},
            {"fin", "FI"},
            {"polen", "PL"},
            {"pl", "PL"},
            {"tschechien", "CZ"},
            {"cz", "CZ"},
            {"ungarn", "HU"},
            {"h", "HU"},
            {"griechenland", "GR"},
            {"gr", "GR"},
            {"türkei", "TR"},
            {"tuerkei", "TR"},
            {"tr", "TR"},
            {"großbritannien", "GB"},
            {"grossbritannien", "GB"},
            {"england", "GB"},
            {"vereinigtes königreich", "GB"},
            {"gb", "GB"},
            {"uk", "GB"},
            {"irland", "IE"},
            {"irl", "IE"},
            {"usa", "US"},
            {"vereinigte staaten", "US"},
            {"kanada", "CA"},
            {"russland", "RU"},
        };
        for (const auto& pair : pairs)
            n.insert(QString::fromUtf8(pair[0]), QString::fromLatin1(pair[1]));
        return n;
    }();
    const QString key = country.trimmed().toString().toLower().remove(u'.');
    if (key.isEmpty())
        return QStringLiteral("DE");
    if (const auto it = names.constFind(key); it != names.cend())
        return *it;
    if (key.size() == 2 && rulesOf(key.toUpper()).countryCode != 0)
        return key.toUpper();
    return QStringLiteral("DE");
}

// ---- DIN 5008 ---------------------------------------------------------------------

namespace {

using LibraryNumber = i18n::phonenumbers::PhoneNumber;

// A valid number of text read as dialled in region, or nothing.
std::optional<LibraryNumber> validNumber(const std::string& text, const std::string& region) {
    LibraryNumber number;
    if (util().Parse(text, region, &number) != PhoneNumberUtil::NO_PARSING_ERROR ||
        !util().IsValidNumber(number))
        return std::nullopt;
    return number;
}

std::optional<LibraryNumber> readAtHomeOrThere(QStringView text, const std::string& home) {
    // "+49 (0)221": the national prefix some write in brackets after the code.
    QString cleaned = text.trimmed().toString();
    cleaned.replace(QStringLiteral("(0)"), QStringLiteral(" "));
    const std::string written = cleaned.toStdString();
    if (auto number = validNumber(written, "DE"))
        return number;
    if (!home.empty() && home != "DE")
        return validNumber(written, home);
    return std::nullopt;
}

// Area code and number apart, nothing else grouped: DIN 5008 writes the
// subscriber's number in one piece.
QString din5008Form(const LibraryNumber& number, bool national) {
    std::string significant;
    util().GetNationalSignificantNumber(number, &significant);
    const QString digits = QString::fromStdString(significant);
    const auto area = static_cast<qsizetype>(util().GetLengthOfNationalDestinationCode(number));
    const QString grouped =
        area > 0 && area < digits.size() ? digits.left(area) + u' ' + digits.mid(area) : digits;
    if (!national)
        return QStringLiteral("+%1 ").arg(number.country_code()) + grouped;
    std::string region;
    util().GetRegionCodeForNumber(number, &region);
    std::string prefix;
    util().GetNddPrefixForRegion(region, true, &prefix);
    return QString::fromStdString(prefix) + grouped;
}

} // namespace

QString din5008(QStringView text, QStringView homeRegion) {
    const std::string home = homeRegion.toString().toUpper().toStdString();
    auto number = readAtHomeOrThere(text, home);
    QString extension;
    // "0221 123456-78": an extension after a hyphen, where what stands before
    // it is a whole number ("0171-1234567" is one number written with a hyphen).
    static const QRegularExpression hyphened(
        QStringLiteral("^(.*\\d[ /]+\\d[^-]*)-\\s*(\\d{1,5})\\s*$"));
    if (const auto match = hyphened.match(text); match.hasMatch()) {
        if (auto whole = readAtHomeOrThere(match.capturedView(1), home)) {
            number = whole;
            extension = match.captured(2);
        }
    }
    if (!number)
        return QString();
    if (extension.isEmpty() && number->has_extension())
        extension = QString::fromStdString(number->extension());
    std::string region;
    util().GetRegionCodeForNumber(*number, &region);
    QString result = din5008Form(*number, !home.empty() && region == home);
    if (!extension.isEmpty())
        result += u'-' + extension;
    return result;
}

} // namespace address
