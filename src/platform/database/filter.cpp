#include "platform/database/filter.h"

namespace vellumo {

namespace {

bool isNameChar(QChar c) {
    return c.isLetterOrNumber() || c == u'_';
}

void skipBlanks(const QString& s, qsizetype& i) {
    while (i < s.size() && s.at(i).isSpace())
        ++i;
}

} // namespace

bool FilterExpression::matches(const QString& value) const {
    if (passesAll())
        return true;
    if (prefix)
        return value.startsWith(text, Qt::CaseInsensitive);
    return value.compare(text, Qt::CaseInsensitive) == 0;
}

std::optional<FilterExpression> parseFilterExpression(const QString& expression) {
    FilterExpression result;
    qsizetype i = 0;
    skipBlanks(expression, i);
    if (i == expression.size())
        return result;

    const qsizetype nameStart = i;
    while (i < expression.size() && isNameChar(expression.at(i)))
        ++i;
    result.field = expression.mid(nameStart, i - nameStart);
    if (result.field.isEmpty())
        return std::nullopt;

    skipBlanks(expression, i);
    if (i == expression.size() || expression.at(i) != u'=')
        return std::nullopt;
    ++i;
    skipBlanks(expression, i);
    if (i == expression.size() || expression.at(i) != u'\'')
        return std::nullopt;
    ++i;

    // Inside the quotes '' is one apostrophe; any other apostrophe closes, and
    // only blanks may follow it.
    QString text;
    bool closed = false;
    while (i < expression.size()) {
        const QChar c = expression.at(i++);
        if (c != u'\'') {
            text.append(c);
            continue;
        }
        if (i < expression.size() && expression.at(i) == u'\'') {
            text.append(c);
            ++i;
            continue;
        }
        closed = true;
        break;
    }
    if (!closed)
        return std::nullopt;
    skipBlanks(expression, i);
    if (i != expression.size())
        return std::nullopt;

    if (text.size() >= 2 && text.endsWith(u'*')) {
        result.prefix = true;
        text.chop(1);
    }
    result.text = text;
    return result;
}

} // namespace vellumo
