#include "print/lettertemplate.h"

#include "platform/report/layout.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>

namespace vellumo::print {

namespace {

constexpr QChar kOpen = u'«';
constexpr QChar kClose = u'»';

QString capitalised(const QString& text) {
    return text.isEmpty() ? text : text.left(1).toUpper() + text.mid(1);
}

// The field a placeholder names, spelt as the table spells it; empty for none.
QString fieldNamed(const QString& name, const QStringList& fields) {
    if (name.compare(kSalutation, Qt::CaseInsensitive) == 0)
        return kSalutation;
    for (const QString& field : fields)
        if (field.compare(name, Qt::CaseInsensitive) == 0)
            return field;
    return {};
}

QString inLine(int lineNumber) {
    return QStringLiteral("in Zeile %1 der Vorlage").arg(lineNumber);
}

} // namespace

QString checkedPlaceholders(const QString& text, const QStringList& fields, const QString& where) {
    QString out;
    qsizetype at = 0;
    while (true) {
        const qsizetype open = text.indexOf(kOpen, at);
        const qsizetype strayClose = text.indexOf(kClose, at);
        if (strayClose >= 0 && (open < 0 || strayClose < open))
            throw report::ReportError(
                QStringLiteral("%1 steht » ohne « davor").arg(capitalised(where)));
        if (open < 0)
            break;
        const qsizetype close = text.indexOf(kClose, open + 1);
        const qsizetype nextOpen = text.indexOf(kOpen, open + 1);
        if (close < 0 || (nextOpen >= 0 && nextOpen < close))
            throw report::ReportError(
                QStringLiteral("%1 ist ein Platzhalter nicht mit » geschlossen")
                    .arg(capitalised(where)));
        const QString name = text.mid(open + 1, close - open - 1).trimmed();
        const QString field = fieldNamed(name, fields);
        if (field.isEmpty())
            throw report::ReportError(
                QStringLiteral("Der Platzhalter «%1» %2 ist kein Feld der Tabelle")
                    .arg(name, where));
        out += text.mid(at, open - at) + kOpen + field + kClose;
        at = close + 1;
    }
    return out + text.mid(at);
}

namespace {

// text with its placeholders filled. *vanished is set when it had
// placeholders and nothing but blanks and punctuation is left of it.
QString filled(const QString& text, const std::function<QString(const QString&)>& value,
               bool* vanished) {
    QString out;
    qsizetype at = 0;
    bool any = false;
    while (true) {
        const qsizetype open = text.indexOf(kOpen, at);
        if (open < 0)
            break;
        const qsizetype close = text.indexOf(kClose, open + 1);
        out += text.mid(at, open - at) + value(text.mid(open + 1, close - open - 1)).simplified();
        any = true;
        at = close + 1;
    }
    out += text.mid(at);
    if (!any) {
        if (vanished)
            *vanished = false;
        return out;
    }
    // What an empty value left behind: double blanks, a blank before a
    // comma or full stop, blanks at the ends.
    static const QRegularExpression blanks(QStringLiteral("[ \\t]{2,}"));
    static const QRegularExpression beforePunctuation(QStringLiteral(" +([,.;:!?])"));
    out.replace(blanks, QStringLiteral(" "));
    out.replace(beforePunctuation, QStringLiteral("\\1"));
    out = out.trimmed();
    if (vanished)
        *vanished =
            std::none_of(out.begin(), out.end(), [](QChar c) { return c.isLetterOrNumber(); });
    return out;
}

} // namespace

LetterTemplate LetterTemplate::parse(const QString& text, const QStringList& fields) {
    LetterTemplate result;
    QStringList lines = text.split(u'\n');
    for (QString& line : lines)
        if (line.endsWith(u'\r'))
            line.chop(1);
    if (!lines.isEmpty() && lines.first().startsWith(QChar(0xfeff)))
        lines.first().remove(0, 1);
    int first = 0;
    // The head: "Betreff:" and "Datum:" in any order before anything else.
    for (; first < lines.size(); ++first) {
        const QString& line = lines[first];
        if (line.startsWith(QLatin1String("Betreff:"), Qt::CaseInsensitive))
            result.subject = checkedPlaceholders(line.mid(8).trimmed(), fields, inLine(first + 1));
        else if (line.startsWith(QLatin1String("Datum:"), Qt::CaseInsensitive))
            result.date = checkedPlaceholders(line.mid(6).trimmed(), fields, inLine(first + 1));
        else
            break;
    }
    QStringList body;
    for (int i = first; i < lines.size(); ++i)
        body << checkedPlaceholders(lines[i], fields, inLine(i + 1));
    // Blank lines between the head and the text, and after the text, are
    // the page's business.
    while (!body.isEmpty() && body.first().trimmed().isEmpty())
        body.removeFirst();
    while (!body.isEmpty() && body.last().trimmed().isEmpty())
        body.removeLast();
    result.body = body.join(u'\n');
    return result;
}

LetterTemplate LetterTemplate::load(const QString& path, const QStringList& fields) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw report::ReportError(
            QStringLiteral("Die Briefvorlage \"%1\" kann nicht gelesen werden: %2")
                .arg(path, file.errorString()));
    return parse(QString::fromUtf8(file.readAll()), fields);
}

QString letterDate(const QDate& date) {
    static const char* const kMonths[] = {"Januar",    "Februar", "März",     "April",
                                          "Mai",       "Juni",    "Juli",     "August",
                                          "September", "Oktober", "November", "Dezember"};
    return QStringLiteral("%1. %2 %3")
        .arg(date.day())
        .arg(QString::fromUtf8(kMonths[date.month() - 1]))
        .arg(date.year());
}

Letter fillLetter(const LetterTemplate& letter, const QString& salutation,
                  const std::function<QString(const QString&)>& fieldText, const QDate& today) {
    const QString greeting = salutation.isEmpty() ? kDefaultSalutation : salutation;
    std::function<QString(const QString&)> value = [&](const QString& name) -> QString {
        if (name == kSalutation)
            return filled(greeting, fieldText, nullptr);
        return fieldText(name);
    };
    Letter out;
    out.subject = filled(letter.subject, value, nullptr);
    out.date = letter.date.isEmpty() ? letterDate(today) : filled(letter.date, value, nullptr);
    for (const QString& line : letter.body.split(u'\n')) {
        bool vanished = false;
        const QString text = filled(line, value, &vanished);
        if (!vanished)
            out.body << text;
    }
    return out;
}

} // namespace vellumo::print
