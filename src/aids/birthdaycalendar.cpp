#include "aids/birthdaycalendar.h"

#include "platform/system/system.h"

#include <QCryptographicHash>
#include <QSet>

namespace vellumo::aids {

namespace {

// TEXT values: backslash, semicolon, comma and line breaks escaped; other
// control characters cannot stand in a content line and are left out.
QString escapedText(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\\':
            out += QStringLiteral("\\\\");
            break;
        case u';':
            out += QStringLiteral("\\;");
            break;
        case u',':
            out += QStringLiteral("\\,");
            break;
        case u'\n':
            out += QStringLiteral("\\n");
            break;
        default:
            if (c.unicode() >= 0x20 || c == u'\t')
                out += c;
        }
    }
    return out;
}

void appendLine(QByteArray& out, const QString& line) {
    appendContentLine(out, line.toUtf8());
}

QString dateValue(const QDate& date) {
    return QString::asprintf("%04d%02d%02d", date.year(), date.month(), date.day());
}

QString yearlyRule(const QDate& born, LeapDayRule rule) {
    if (born.month() == 2 && born.day() == 29)
        // The last day of February, or the 60th day of the year: 29 February
        // in a leap year, 28 February or 1 March in the others.
        return rule == LeapDayRule::March1 ? QStringLiteral("FREQ=YEARLY;BYYEARDAY=60")
                                           : QStringLiteral("FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=-1");
    return QStringLiteral("FREQ=YEARLY");
}

// Nine in the morning, days before the birthday (whose day starts at 0:00).
QString reminderTrigger(int daysBefore) {
    if (daysBefore <= 0)
        return QStringLiteral("PT9H");
    if (daysBefore == 1)
        return QStringLiteral("-PT15H");
    return QStringLiteral("-P%1DT15H").arg(daysBefore - 1);
}

QString uidOf(const BirthdayPerson& person) {
    // The record's UID names its birthday too: a corrected name or date
    // changes the entry the calendar holds instead of adding a second one.
    if (!person.uid.isEmpty())
        return QStringLiteral("geburtstag-") + person.uid;
    const QString identity =
        person.name + QChar(0x1F) + person.firstName + QChar(0x1F) + dateValue(person.born);
    const QByteArray hash =
        QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha1).toHex().left(32);
    return QStringLiteral("geburtstag-") + QString::fromLatin1(hash);
}

} // namespace

QByteArray birthdayCalendar(const std::vector<BirthdayPerson>& people,
                            const CalendarOptions& options) {
    QByteArray out;
    appendLine(out, QStringLiteral("BEGIN:VCALENDAR"));
    appendLine(out, QStringLiteral("VERSION:2.0"));
    appendLine(out, QStringLiteral("PRODID:-//Vellumo//Geburtstage//DE"));
    appendLine(out, QStringLiteral("CALSCALE:GREGORIAN"));
    appendLine(out, QStringLiteral("X-WR-CALNAME:Geburtstage"));
    const QString stamp = options.stamp.toUTC().toString(u"yyyyMMdd'T'HHmmss'Z'");
    QSet<QString> uids;
    for (const BirthdayPerson& person : people) {
        if (!person.born.isValid())
            continue;
        // Two entries alike in name and birthday still get UIDs of their own,
        // numbered in table order, so they stay apart in the calendar.
        const QString base = uidOf(person);
        QString uid = base;
        for (int n = 2; uids.contains(uid); ++n)
            uid = base + u'-' + QString::number(n);
        uids.insert(uid);
        const QString summary =
            QStringLiteral("Geburtstag %1 %2").arg(person.firstName, person.name).simplified();
        appendLine(out, QStringLiteral("BEGIN:VEVENT"));
        appendLine(out, QStringLiteral("UID:") + uid + QStringLiteral("@vellumo"));
        appendLine(out, QStringLiteral("DTSTAMP:") + stamp);
        appendLine(out, QStringLiteral("DTSTART;VALUE=DATE:") + dateValue(person.born));
        appendLine(out, QStringLiteral("DTEND;VALUE=DATE:") + dateValue(person.born.addDays(1)));
        appendLine(out, QStringLiteral("RRULE:") + yearlyRule(person.born, options.leapDay));
        appendLine(out, QStringLiteral("SUMMARY:") + escapedText(summary));
        appendLine(out, QStringLiteral("TRANSP:TRANSPARENT"));
        if (options.reminderDays >= 0) {
            appendLine(out, QStringLiteral("BEGIN:VALARM"));
            appendLine(out, QStringLiteral("ACTION:DISPLAY"));
            appendLine(out, QStringLiteral("DESCRIPTION:") + escapedText(summary));
            appendLine(out, QStringLiteral("TRIGGER:") + reminderTrigger(options.reminderDays));
            appendLine(out, QStringLiteral("END:VALARM"));
        }
        appendLine(out, QStringLiteral("END:VEVENT"));
    }
    appendLine(out, QStringLiteral("END:VCALENDAR"));
    return out;
}

} // namespace vellumo::aids
