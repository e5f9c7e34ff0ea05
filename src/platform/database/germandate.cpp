// German short date texts, as typed into and shown by the date fields.
#include "platform/database/recordstore.h"

#include "platform/system/system.h"

#include <QRegularExpression>

namespace vellumo {

QDate parseGermanDate(const QString& text, const QDate& today) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return QDate();
    static const QRegularExpression form(
        QStringLiteral(R"(^([0-9]{1,2})\.([0-9]{1,2})\.([0-9]{4}|[0-9]{2})$)"));
    const auto match = form.match(trimmed);
    QDate result;
    if (match.hasMatch()) {
        const int day = match.captured(1).toInt();
        const int month = match.captured(2).toInt();
        int year = match.captured(3).toInt();
        if (match.capturedLength(3) == 2) {
            // The hundred years that end twenty years from today.
            const int last = (today.isValid() ? today : now().date()).year() + 20;
            const int first = last - 99;
            year += (first / 100) * 100;
            if (year < first)
                year += 100;
        }
        if (year >= 1)
            result = QDate(year, month, day);
    }
    if (!result.isValid())
        throw StoreError(QString::fromUtf8("'%1' ist kein gültiges Datum").arg(text));
    return result;
}

QString formatGermanDate(const QDate& date) {
    return date.isValid() ? date.toString(u"dd.MM.yyyy") : QString();
}

} // namespace vellumo
