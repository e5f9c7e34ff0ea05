// Assembling one address from what a vCard or a CSV row holds, shared by both
// readers so that they place values alike: the first phones, e-mail address,
// postal address and web address fill the table's fields; further ones, and
// what has no field at all (company, title, nickname), become German lines
// for the notes. Dates that cannot be read are left out and listed.
#pragma once

#include "exchange/exchange.h"

#include <optional>

namespace vellumo::exchange {

class AddressBuilder {
public:
    explicit AddressBuilder(int origin);

    // Sets a text field; an empty value clears it.
    void set(const QString& field, const QString& value);
    bool has(const QString& field) const;
    void setFamilyAndGiven(const QString& family, const QString& given);
    void setFullName(const QString& name) { fullName_ = name.trimmed(); }

    // label: a German kind ("Arbeit", "Mobil") or empty.
    void addPhone(const QString& number, const QString& label, bool fax);
    void addEmail(const QString& mail, const QString& label, bool preferred);
    // region (a state, a county) has no field and goes into the notes.
    void addPostal(const QString& street, const QString& code, const QString& town,
                   const QString& region, const QString& country, const QString& label,
                   bool preferred);
    void addUrl(const QString& url, const QString& label);
    // A line for the notes: "what: value".
    void addNote(const QString& what, const QString& value);
    void appendMemo(const QString& text);
    void setOrganisation(const QString& organisation);
    // A date field from text; a text that is no date is left out and listed
    // under what ("Das Geburtsdatum").
    void setDate(const QString& field, const QString& text, const QString& what);
    void setPhoto(const QByteArray& bytes) { address_.photo = bytes; }
    void setUid(const QString& uid) { address_.uid = uid.trimmed(); }
    void leaveOut(const QString& why) { address_.changes << why; }
    void fail(const QString& problem);
    bool failed() const { return !address_.problem.isEmpty(); }

    Address finish();

private:
    Address address_;
    QString fullName_;
    QString organisation_;
    bool preferredEmail_ = false;
    bool preferredPostal_ = false;
    bool sawPostal_ = false;
};

// The German kind of a phone, e-mail or address from vCard TYPE values or
// the words of a CSV header ("WORK" -> "Arbeit", "CELL" -> "Mobil").
QString kindLabel(const QStringList& types);
// The same for a free label ("Mobile", "* Work", "Arbeit"): its words as
// types, or the label itself when none is known.
QString kindLabelOfText(const QString& label);

// 1970-05-17, 19700517, 1970-05-17T10:00:00Z, 17.05.1970, 17.5.70; without a
// year (--0517, --05-17, 17.05.) the year address::kYearUnknown. A null date for empty text,
// nothing for text that is no date.
std::optional<QDate> parseDate(const QString& text);

} // namespace vellumo::exchange
