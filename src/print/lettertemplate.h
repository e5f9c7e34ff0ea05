// A serial letter's template: a plain UTF-8 text the user writes, whose first
// lines may be "Betreff: …" and "Datum: …", and whose placeholders are the
// table's field names in French quotes («Vorname», «Ort») and «Anrede», the
// salutation set for the run. A placeholder that names no field is refused
// when the template is read, so a typing error never reaches a letter.
#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

#include <functional>

namespace vellumo::print {

struct LetterTemplate {
    QString subject; // after "Betreff:"; may hold placeholders
    QString date;    // after "Datum:"; empty for the day of printing
    QString body;    // the rest

    // Raises report::ReportError naming the first unknown or unclosed
    // placeholder and its line (counted from 1 in text).
    static LetterTemplate parse(const QString& text, const QStringList& fields);
    // Reads path as UTF-8 and parses it; raises report::ReportError for a
    // file that cannot be read, naming it.
    static LetterTemplate load(const QString& path, const QStringList& fields);
};

// text with every placeholder's name spelt as the table spells it; raises
// report::ReportError for an unknown or unclosed one, saying where it stands
// ("in Zeile 3 der Vorlage", "in der Anrede").
QString checkedPlaceholders(const QString& text, const QStringList& fields, const QString& where);

// The placeholder every template may use beside the fields.
inline const QString kSalutation = QStringLiteral("Anrede");
// The salutation where the user set none.
inline const QString kDefaultSalutation = QStringLiteral("Guten Tag «Vorname» «Name»,");

// A date as a letter writes it: "9. Dezember 2026".
QString letterDate(const QDate& date);

struct Letter {
    QString subject;
    QString date;
    QStringList body; // lines; an empty line is a paragraph break
};

// The letter for one record: fieldText gives a field's text by its name. A
// line with placeholders of which nothing but blanks and punctuation is left
// is left out (an empty template line stays: it parts paragraphs), and the
// blanks an empty value leaves are closed up, so an empty field leaves no
// blank line or double space.
Letter fillLetter(const LetterTemplate& letter, const QString& salutation,
                  const std::function<QString(const QString&)>& fieldText, const QDate& today);

} // namespace vellumo::print
