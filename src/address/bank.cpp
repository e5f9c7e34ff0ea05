#include "address/bank.h"

#include <ktoblzcheck.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QTimeZone>

#include <array>
#include <string>
#include <string_view>
#include <utility>

namespace vellumo::address {

// ---- IBAN --------------------------------------------------------------------

namespace {

struct Country {
    std::string_view code;
    int length;
};

// The IBAN lengths of the countries in the SWIFT IBAN registry.
constexpr auto kIbanLengths = std::to_array<Country>({
    {"AD", 24}, {"AE", 23}, {"AL", 28}, {"AT", 20}, {"AZ", 28}, {"BA", 20}, {"BE", 16}, {"BG", 22},
    {"BH", 22}, {"BI", 27}, {"BR", 29}, {"BY", 28}, {"CH", 21}, {"CR", 22}, {"CY", 28}, {"CZ", 24},
    {"DE", 22}, {"DJ", 27}, {"DK", 18}, {"DO", 28}, {"EE", 20}, {"EG", 29}, {"ES", 24}, {"FI", 18},
    {"FK", 18}, {"FO", 18}, {"FR", 27}, {"GB", 22}, {"GE", 22}, {"GI", 23}, {"GL", 18}, {"GR", 27},
    {"GT", 28}, {"HR", 21}, {"HU", 28}, {"IE", 22}, {"IL", 23}, {"IQ", 23}, {"IS", 26}, {"IT", 27},
    {"JO", 30}, {"KW", 30}, {"KZ", 20}, {"LB", 28}, {"LC", 32}, {"LI", 21}, {"LT", 20}, {"LU", 20},
    {"LV", 21}, {"LY", 25}, {"MC", 27}, {"MD", 24}, {"ME", 22}, {"MK", 19}, {"MN", 20}, {"MR", 27},
    {"MT", 31}, {"MU", 30}, {"NI", 28}, {"NL", 18}, {"NO", 15}, {"OM", 23}, {"PK", 24}, {"PL", 28},
    {"PS", 29}, {"PT", 25}, {"QA", 29}, {"RO", 24}, {"RS", 22}, {"RU", 33}, {"SA", 24}, {"SC", 31},
    {"SD", 18}, {"SE", 24}, {"SI", 19}, {"SK", 24}, {"SM", 27}, {"SO", 23}, {"ST", 25}, {"SV", 28},
    {"TL", 23}, {"TN", 24}, {"TR", 26}, {"UA", 29}, {"VA", 22}, {"VG", 24}, {"XK", 20},
});

// German names of the countries a user of this program most often meets.
constexpr std::array<std::pair<std::string_view, std::string_view>, 24> kCountryNames{{
    {"AT", "Österreich"},   {"BE", "Belgien"},          {"CH", "der Schweiz"},
    {"CZ", "Tschechien"},   {"DK", "Dänemark"},         {"ES", "Spanien"},
    {"FI", "Finnland"},     {"FR", "Frankreich"},       {"GB", "Großbritannien"},
    {"GR", "Griechenland"}, {"HR", "Kroatien"},         {"HU", "Ungarn"},
    {"IE", "Irland"},       {"IT", "Italien"},          {"LI", "Liechtenstein"},
    {"LU", "Luxemburg"},    {"NL", "den Niederlanden"}, {"NO", "Norwegen"},
    {"PL", "Polen"},        {"PT", "Portugal"},         {"SE", "Schweden"},
    {"SI", "Slowenien"},    {"SK", "der Slowakei"},     {"TR", "der Türkei"},
}};

bool isAsciiLetter(QChar c) {
    return c >= u'A' && c <= u'Z';
}
bool isAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}
bool allDigits(QStringView text) {
    for (QChar c : text)
        if (!isAsciiDigit(c))
            return false;
    return true;
}

// ISO 7064 MOD 97-10 over the IBAN with its first four characters moved to
// the end and letters counted as 10 to 35.
int mod97(QStringView compact) {
    int rest = 0;
    auto add = [&rest](QChar c) {
        const int value = isAsciiDigit(c) ? c.unicode() - u'0' : c.unicode() - u'A' + 10;
        rest = value >= 10 ? (rest * 100 + value) % 97 : (rest * 10 + value) % 97;
    };
    for (QChar c : compact.mid(4))
        add(c);
    for (QChar c : compact.left(4))
        add(c);
    return rest;
}

} // namespace

QString compactIban(QStringView text) {
    QString compact;
    compact.reserve(text.size());
    for (QChar c : text) {
        if (c.isSpace() || c == u'-' || c == QChar(0x00A0) || c == QChar(0x202F))
            continue;
        compact += c.toUpper();
    }
    return compact;
}

bool looksLikeIban(QStringView text) {
    const QString compact = compactIban(text);
    if (compact.size() < 4 || !isAsciiLetter(compact[0]) || !isAsciiLetter(compact[1]) ||
        !isAsciiDigit(compact[2]) || !isAsciiDigit(compact[3]))
        return false;
    for (QChar c : compact)
        if (!isAsciiLetter(c) && !isAsciiDigit(c))
            return false;
    return true;
}

int ibanLength(QStringView country) {
    for (const Country& entry : kIbanLengths)
        if (country ==
            QLatin1StringView(entry.code.data(), static_cast<qsizetype>(entry.code.size())))
            return entry.length;
    return 0;
}

IbanFault checkIban(QStringView compact) {
    if (!looksLikeIban(compact) || compactIban(compact) != compact)
        return IbanFault::NotAnIban;
    const int length = ibanLength(compact.left(2));
    if (length == 0)
        return IbanFault::UnknownCountry;
    if (compact.size() != length)
        return IbanFault::WrongLength;
    return mod97(compact) == 1 ? IbanFault::None : IbanFault::CheckDigits;
}

QString ibanCountryName(QStringView country) {
    for (const auto& [code, name] : kCountryNames)
        if (country == QLatin1StringView(code.data(), static_cast<qsizetype>(code.size())))
            return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    return country.toString();
}

QString ibanFaultText(IbanFault fault, QStringView typed) {
    const QString compact = compactIban(typed);
    const QString shown = groupInFours(compact);
    switch (fault) {
    case IbanFault::None:
        return QString();
    case IbanFault::NotAnIban:
        return QStringLiteral("„%1“ ist keine IBAN: Sie beginnt mit zwei Buchstaben und zwei "
                              "Ziffern, danach folgen nur Buchstaben und Ziffern")
            .arg(typed.trimmed());
    case IbanFault::UnknownCountry:
        return QStringLiteral("Die IBAN „%1“ ist ungültig: Ein Land „%2“ vergibt keine IBAN")
            .arg(shown, compact.left(2));
    case IbanFault::WrongLength:
        return QStringLiteral("Die IBAN „%1“ ist ungültig: Eine IBAN aus %2 hat %3 Zeichen, "
                              "diese hat %4")
            .arg(shown, ibanCountryName(compact.left(2)))
            .arg(ibanLength(compact.left(2)))
            .arg(compact.size());
    case IbanFault::CheckDigits:
        return QStringLiteral("Die IBAN „%1“ ist ungültig: Ihre Prüfziffer stimmt nicht. Bitte "
                              "prüfen Sie sie auf einen Tippfehler")
            .arg(shown);
    }
    return QString();
}

QString groupInFours(QStringView compact) {
    QString grouped;
    grouped.reserve(compact.size() + compact.size() / 4);
    for (qsizetype i = 0; i < compact.size(); ++i) {
        if (i > 0 && i % 4 == 0)
            grouped += u' ';
        grouped += compact[i];
    }
    return grouped;
}

std::optional<GermanAccount> splitGermanIban(QStringView compact) {
    if (!compact.startsWith(u"DE") || checkIban(compact) != IbanFault::None ||
        !allDigits(compact.mid(4)))
        return std::nullopt;
    return GermanAccount{compact.mid(4, 8).toString(), compact.mid(12, 10).toString()};
}

QString germanIban(QStringView blz, QStringView kontoNr) {
    blz = blz.trimmed();
    kontoNr = kontoNr.trimmed();
    if (blz.size() != 8 || !allDigits(blz) || kontoNr.isEmpty() || kontoNr.size() > 10 ||
        !allDigits(kontoNr))
        return QString();
    const QString base =
        QStringLiteral("DE00") + blz.toString() + kontoNr.toString().rightJustified(10, u'0');
    const int check = 98 - mod97(base);
    return QStringLiteral("DE%1").arg(check, 2, 10, QLatin1Char('0')) + base.mid(4);
}

// ---- Banks ---------------------------------------------------------------------

namespace {

// The list's texts are ISO 8859-15, which differs from Latin-1 in eight places.
QString fromLatin9(std::string_view bytes) {
    static constexpr std::pair<char16_t, char16_t> kLatin9[] = {
        {0xA4, 0x20AC}, {0xA6, 0x0160}, {0xA8, 0x0161}, {0xB4, 0x017D},
        {0xB8, 0x017E}, {0xBC, 0x0152}, {0xBD, 0x0153}, {0xBE, 0x0178}};
    QString text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    for (QChar& c : text)
        for (const auto& [latin1, latin9] : kLatin9)
            if (c.unicode() == latin1)
                c = QChar(latin9);
    return text;
}

struct Extra {
    QString shortName;
    QString bic;
};

// The Bundesbank's own file ("blz_DATE.txt", fixed columns) beside the
// library's: it alone has the short names and the BICs. The head office of a
// bank code (mark 1) comes first; a branch only gives a BIC the head office
// lacks.
QHash<QString, Extra> readBundesbankFile(const QString& path) {
    QHash<QString, Extra> extras;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return extras;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        if (line.size() < 150)
            continue;
        const std::string_view row(line.constData(), static_cast<std::size_t>(line.size()));
        const QString blz = QString::fromLatin1(row.substr(0, 8).data(), 8);
        const bool headOffice = row[8] == '1';
        const QString shortName = fromLatin9(row.substr(107, 27)).trimmed();
        const QString bic = QString::fromLatin1(row.substr(139, 11).data(), 11).trimmed();
        auto it = extras.find(blz);
        if (it == extras.end()) {
            extras.insert(blz, {shortName, bic});
        } else {
            if (headOffice)
                it->shortName = shortName;
            if (it->bic.isEmpty() || (headOffice && !bic.isEmpty()))
                it->bic = bic;
        }
    }
    return extras;
}

QDate dayOf(std::time_t time) {
    if (time <= 0)
        return QDate();
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(time), QTimeZone::utc()).date();
}

} // namespace

struct BankDirectory::Impl {
    std::unique_ptr<AccountNumberCheck> check;
    QHash<QString, Extra> extras;
    QDate date;

    void load(std::unique_ptr<AccountNumberCheck> loaded, const QString& dataFile) {
        if (!loaded || loaded->bankCount() == 0)
            return;
        check = std::move(loaded);
        date = dayOf(check->dataValidStartDate());
        // "bankdata_20200420.txt" has "blz_20200420.txt" beside it.
        const QFileInfo info(dataFile);
        QString name = info.fileName();
        name.replace(QStringLiteral("bankdata_"), QStringLiteral("blz_"));
        extras = readBundesbankFile(info.dir().filePath(name));
        if (!date.isValid()) {
            static const QRegularExpression dated(QStringLiteral("(\\d{8})\\.txt$"));
            const auto match = dated.match(info.fileName());
            if (match.hasMatch())
                date = QDate::fromString(match.captured(1), QStringLiteral("yyyyMMdd"));
        }
    }
};

BankDirectory::BankDirectory() : d(std::make_unique<Impl>()) {
    try {
        auto check = std::make_unique<AccountNumberCheck>();
        const std::string file = check->getFilenameClosestDateToday();
        d->load(std::move(check), QString::fromStdString(file));
    } catch (...) {
        // Without its data the library can tell nothing: every answer is "unknown".
    }
}

BankDirectory::BankDirectory(const QString& bankDataFile) : d(std::make_unique<Impl>()) {
    if (!QFileInfo::exists(bankDataFile))
        return;
    try {
        d->load(std::make_unique<AccountNumberCheck>(QFile::encodeName(bankDataFile).toStdString()),
                bankDataFile);
    } catch (...) {
    }
}

BankDirectory::~BankDirectory() = default;

const BankDirectory& BankDirectory::installed() {
    static const BankDirectory directory;
    return directory;
}

bool BankDirectory::isAvailable() const {
    return d->check != nullptr;
}

int BankDirectory::bankCount() const {
    return d->check ? static_cast<int>(d->check->bankCount()) : 0;
}

QDate BankDirectory::listDate() const {
    return d->date;
}

QString BankDirectory::libraryVersion() {
    return QString::fromLatin1(AccountNumberCheck::libraryVersion());
}

std::optional<Bank> BankDirectory::bank(QStringView blz) const {
    blz = blz.trimmed();
    if (!d->check || blz.size() != 8 || !allDigits(blz))
        return std::nullopt;
    try {
        const AccountNumberCheck::Record& record = d->check->findBank(blz.toLatin1().toStdString());
        Bank bank{
            fromLatin9(record.bankName).trimmed(), fromLatin9(record.location).trimmed(), {}, {}};
        const auto it = d->extras.constFind(blz.toString());
        if (it != d->extras.cend()) {
            bank.shortName = it->shortName;
            bank.bic = it->bic;
        }
        return bank;
    } catch (...) {
        // The library says "not found" by throwing.
        return std::nullopt;
    }
}

AccountVerdict BankDirectory::checkAccount(QStringView blz, QStringView kontoNr) const {
    blz = blz.trimmed();
    kontoNr = kontoNr.trimmed();
    if (!d->check || blz.size() != 8 || !allDigits(blz) || kontoNr.isEmpty() ||
        kontoNr.size() > 10 || !allDigits(kontoNr))
        return AccountVerdict::NotChecked;
    switch (d->check->check(blz.toLatin1().toStdString(), kontoNr.toLatin1().toStdString())) {
    case AccountNumberCheck::OK:
        return AccountVerdict::Valid;
    case AccountNumberCheck::ERROR:
        return AccountVerdict::Rejected;
    case AccountNumberCheck::BANK_NOT_KNOWN:
        return AccountVerdict::UnknownBank;
    case AccountNumberCheck::UNKNOWN:
        break;
    }
    return AccountVerdict::NotChecked;
}

QString institutText(const Bank& bank, int maxLength) {
    auto withPlace = [&bank](const QString& name) {
        return bank.place.isEmpty() || name.endsWith(bank.place) ? name : name + u' ' + bank.place;
    };
    for (const QString& text : {withPlace(bank.name), withPlace(bank.shortName), bank.shortName})
        if (!text.isEmpty() && (maxLength <= 0 || text.size() <= maxLength))
            return text;
    return bank.name.left(maxLength).trimmed();
}

QString bankCodeWarning(const BankDirectory& directory, QStringView blz) {
    blz = blz.trimmed();
    if (blz.isEmpty())
        return QString();
    if (blz.size() != 8 || !allDigits(blz))
        return QStringLiteral("Eine Bankleitzahl hat acht Ziffern.");
    if (!directory.isAvailable() || directory.bank(blz))
        return QString();
    return QStringLiteral("Die Bankleitzahl %1 steht nicht in der Liste der Bundesbank vom %2. "
                          "Vielleicht ist die Bank neuer als die Liste.")
        .arg(blz.toString(), directory.listDate().toString(QStringLiteral("dd.MM.yyyy")));
}

QString accountWarning(const BankDirectory& directory, QStringView blz, QStringView kontoNr) {
    kontoNr = kontoNr.trimmed();
    if (kontoNr.isEmpty())
        return QString();
    if (kontoNr.size() > 10 || !allDigits(kontoNr))
        return QStringLiteral("Eine Kontonummer hat bis zu zehn Ziffern.");
    if (directory.checkAccount(blz, kontoNr) != AccountVerdict::Rejected)
        return QString();
    return QStringLiteral("Die Prüfziffer der Kontonummer passt nicht zum Verfahren der Bank. "
                          "Bitte prüfen Sie die Nummer auf einen Tippfehler.");
}

// ---- Postcodes -----------------------------------------------------------------

bool isGermany(QStringView land) {
    const QString folded = land.trimmed().toString().toCaseFolded().remove(u'.');
    static const QStringList kGermany{
        QString(),
        QStringLiteral("d"),
        QStringLiteral("de"),
        QStringLiteral("deu"),
        QStringLiteral("brd"),
        QStringLiteral("deutschland"),
        QStringLiteral("germany"),
        QStringLiteral("bundesrepublik deutschland"),
    };
    return kGermany.contains(folded);
}

QString postcodeWarning(QStringView land, QStringView plz) {
    plz = plz.trimmed();
    if (plz.isEmpty() || !isGermany(land))
        return QString();
    if (plz.size() == 5 && allDigits(plz))
        return QString();
    return QStringLiteral("Eine deutsche Postleitzahl hat fünf Ziffern.");
}

} // namespace vellumo::address
