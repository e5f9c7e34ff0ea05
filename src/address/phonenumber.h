// Phone numbers as people write them into an address ("0221 / 123 45 67",
// "+49 (0)221 1234567", "0049 221 1234567", "Tel. 0171-1234567 privat"), read
// once into what identifies the number: the country calling code and the
// national significant number, by libphonenumber's data for the region (its
// calling codes and national prefixes).
//
// Reading is cheap (no regular expressions), so a table of a hundred thousand
// addresses is read in a blink; the search and the duplicate finder compare
// numbers by these digits.
#pragma once

#include <QString>
#include <QStringView>

namespace address {

class PhoneNumber {
public:
    PhoneNumber() = default;

    // Reads the first number in text. region is the ISO 3166 code of the
    // country a number without international prefix belongs to ("DE").
    static PhoneNumber parse(QStringView text, QStringView region = u"DE");

    bool isEmpty() const { return nationalNumber_.isEmpty(); }
    // Written with "+" or the international prefix ("00").
    bool isInternational() const { return international_; }
    int countryCode() const { return countryCode_; } // 49; 0 when unknown
    QString region() const { return region_; }       // the number's region ("DE")
    // The national significant number: "2211234567" for any way of writing
    // +49 221 1234567.
    const QString& nationalNumber() const { return nationalNumber_; }
    // Country code and national number: "492211234567" (E.164 without "+");
    // empty when the country code is unknown.
    QString e164Digits() const;
    // As dialled within the country, national prefix included: "02211234567".
    QString nationalDigits() const { return nationalPrefix_ + nationalNumber_; }

private:
    int countryCode_ = 0;
    bool international_ = false;
    QString region_;
    QString nationalPrefix_;
    QString nationalNumber_;
};

// The region (ISO 3166 code) of what an address names as its country:
// "Deutschland", "D", "DE" or nothing give "DE"; "Österreich", "A" and "AT"
// give "AT". Names the list does not know give "DE".
QString regionOfCountry(QStringView country);

// Only the digits of text.
QString digitsOf(QStringView text);

// text as DIN 5008 writes it for an address in homeRegion (ISO 3166, "" for
// a country without a known numbering plan): the area code, a blank, the
// number, an extension after a hyphen ("0221 123456-78") when the number
// belongs to homeRegion; otherwise "+", the calling code and no national
// prefix ("+43 1 5123456"). A number without a calling code is read as
// dialled in Germany, where the user is, and only when it is no valid number
// there as dialled in homeRegion. "" when text is no valid telephone number.
QString din5008(QStringView text, QStringView homeRegion);

} // namespace address
