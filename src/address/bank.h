// Bank details as the address table keeps them ("BLZ" and "KontoNr", the
// fields of the years before SEPA) and as people copy them today, the IBAN.
//
// A German IBAN is "DE", two check digits, the eight-digit bank code and the
// ten-digit account number, so the table's two fields hold it whole and the
// IBAN is computed from them, never stored. A foreign IBAN has no place in
// those fields. Check digits follow ISO 7064 MOD 97-10 (ISO 13616).
//
// The bank behind a bank code and its account check-digit method come from
// KtoBlzCheck, which ships the Bundesbank's bank code list: its data can be
// older than a bank, so an unknown code or a rejected account number is a
// warning for the user, never a reason to refuse what was typed.
#pragma once

#include <QDate>
#include <QString>
#include <QStringView>

#include <memory>
#include <optional>

namespace vellumo::address {

// ---- IBAN --------------------------------------------------------------------

// text as an IBAN in its electronic form: spaces (also non-breaking ones) and
// hyphens dropped, letters upper-case. Nothing else is changed.
QString compactIban(QStringView text);

// True when text, compacted, begins the way only an IBAN begins: two letters
// and two digits, then letters and digits only. An account number never does,
// so such a text in the account field means the user pasted an IBAN.
bool looksLikeIban(QStringView text);

// The length of an IBAN of that country (two upper-case letters), 0 for a
// country without IBANs.
int ibanLength(QStringView country);

enum class IbanFault {
    None,
    NotAnIban,      // not two letters, two digits and letters and digits after them
    UnknownCountry, // no IBAN with these first two letters
    WrongLength,    // too short or too long for its country
    CheckDigits,    // the check digits do not fit: a typing error
};

// Checks a compacted IBAN: its form, its length for its country and its
// check digits.
IbanFault checkIban(QStringView compact);

// The German message for a fault of typed (as the user typed it).
QString ibanFaultText(IbanFault fault, QStringView typed);

// Groups of four for reading and printing: "DE89 3704 0044 0532 0130 00".
QString groupInFours(QStringView compact);

// The country of an IBAN in German ("Österreich"); the two letters where the
// country has no German name here.
QString ibanCountryName(QStringView country);

struct GermanAccount {
    QString blz;     // eight digits
    QString kontoNr; // ten digits, with the leading zeros of the IBAN
};

// The bank code and account number of a valid German IBAN; nothing for any
// other text (a foreign IBAN, a fault).
std::optional<GermanAccount> splitGermanIban(QStringView compact);

// The IBAN of a German account in its compact form, "" when the two fields do
// not make one: the bank code is not eight digits or the account number not
// one to ten digits (spaces around them are passed over).
QString germanIban(QStringView blz, QStringView kontoNr);

// ---- Banks ---------------------------------------------------------------------

struct Bank {
    QString name;      // "Commerzbank"
    QString place;     // "Köln"
    QString shortName; // the list's short form, at most 27 characters
    QString bic;       // "COBADEFFXXX", "" when the list gives none
};

// The text for the field "Kreditinstitut" of maxLength characters (0: any):
// name and place, or the list's short form with the place or alone where
// they do not fit, or the name cut to the field as a last resort.
QString institutText(const Bank& bank, int maxLength);

enum class AccountVerdict {
    Valid,       // the bank's method accepts the check digit
    Rejected,    // the bank's method rejects it: likely a typing error
    NotChecked,  // the method is not known to the library, or no number to check
    UnknownBank, // the bank code is not in the list
};

// The bank code list and the check-digit methods of KtoBlzCheck, read once on
// first use. Without the library's data files every answer is "unknown"
// (isAvailable() false) and nothing else fails.
class BankDirectory {
public:
    // The list the library ships, read at the first call.
    static const BankDirectory& installed();
    // A list from the given KtoBlzCheck data file ("bankdata_DATE.txt"; the
    // BICs from "blz_DATE.txt" beside it), for tests.
    explicit BankDirectory(const QString& bankDataFile);
    ~BankDirectory();
    BankDirectory(const BankDirectory&) = delete;
    BankDirectory& operator=(const BankDirectory&) = delete;

    bool isAvailable() const;
    int bankCount() const;
    // The day the list's data are valid from, invalid without a list.
    QDate listDate() const;
    // The library's version ("1.53").
    static QString libraryVersion();

    // The bank of an eight-digit bank code; nothing for an unknown code or
    // text that is not one.
    std::optional<Bank> bank(QStringView blz) const;
    AccountVerdict checkAccount(QStringView blz, QStringView kontoNr) const;

private:
    BankDirectory();
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The warning beside the bank code or the account number, "" when there is
// nothing to say (also when a field is empty or the list is not installed).
QString bankCodeWarning(const BankDirectory& directory, QStringView blz);
QString accountWarning(const BankDirectory& directory, QStringView blz, QStringView kontoNr);

// ---- Postcodes -----------------------------------------------------------------

// True for an empty "Land" and the ways people write Germany in it.
bool isGermany(QStringView land);

// The warning beside the postcode: a German address has five digits there.
// "" when there is nothing to say (an empty postcode, another country).
QString postcodeWarning(QStringView land, QStringView plz);

} // namespace vellumo::address
