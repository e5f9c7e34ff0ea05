#include "platform/carddav/vcardpatch.h"

#include <QHash>

namespace vellumo::carddav {

namespace {

// The physical lines of a card with their line ends, a folded continuation
// (a line starting with a blank) joined to the line before.
QList<QByteArray> logicalRawLines(const QByteArray& card) {
    QList<QByteArray> lines;
    qsizetype pos = 0;
    while (pos < card.size()) {
        qsizetype end = card.indexOf('\n', pos);
        end = end < 0 ? card.size() : end + 1;
        QByteArray line = card.mid(pos, end - pos);
        if (!lines.isEmpty() && (line.startsWith(' ') || line.startsWith('\t')))
            lines.last() += line;
        else
            lines.append(line);
        pos = end;
    }
    return lines;
}

QByteArray unfolded(const QByteArray& raw) {
    QByteArray out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '\r' || c == '\n') {
            // A line end followed by one blank is a fold; the blank goes too.
            while (i + 1 < raw.size() && (raw[i + 1] == '\r' || raw[i + 1] == '\n'))
                ++i;
            if (i + 1 < raw.size() && (raw[i + 1] == ' ' || raw[i + 1] == '\t'))
                ++i;
            continue;
        }
        out += c;
    }
    return out;
}

bool isCardEnd(const ContentLine& line) {
    return line.name == "END" && line.value.trimmed().toUpper() == "VCARD";
}

} // namespace

QList<ContentLine> contentLines(const QByteArray& card) {
    QList<ContentLine> result;
    for (const QByteArray& raw : logicalRawLines(card)) {
        ContentLine line;
        line.raw = raw;
        const QByteArray text = unfolded(raw);
        if (text.trimmed().isEmpty())
            continue;
        // The name ends at the first ';' or ':' (quotes only come later, in
        // parameter values).
        qsizetype nameEnd = 0;
        while (nameEnd < text.size() && text[nameEnd] != ';' && text[nameEnd] != ':')
            ++nameEnd;
        QByteArray name = text.left(nameEnd);
        if (const qsizetype dot = name.indexOf('.'); dot >= 0) {
            line.group = name.left(dot);
            name = name.mid(dot + 1);
        }
        line.name = name.trimmed().toUpper();
        // The value starts at the first ':' outside a quoted parameter value.
        bool quoted = false;
        qsizetype colon = nameEnd;
        for (; colon < text.size(); ++colon) {
            if (text[colon] == '"')
                quoted = !quoted;
            else if (text[colon] == ':' && !quoted)
                break;
        }
        line.params = text.mid(nameEnd, colon - nameEnd);
        line.value = colon < text.size() ? text.mid(colon + 1) : QByteArray();
        result.append(line);
    }
    return result;
}

QByteArray patchCard(const QByteArray& base, const QByteArray& ours, const Keeps& keeps) {
    if (base.trimmed().isEmpty())
        return ours;
    auto claimed = [&](const QList<ContentLine>& lines) {
        QList<bool> flags;
        QHash<QByteArray, int> seen;
        for (const ContentLine& line : lines)
            flags.append(keeps(line, seen[line.name]++));
        return flags;
    };
    const QList<ContentLine> theirs = contentLines(base);
    const QList<ContentLine> mine = contentLines(ours);
    const QList<bool> theirsClaimed = claimed(theirs);
    const QList<bool> mineClaimed = claimed(mine);

    QByteArray replacement;
    for (qsizetype i = 0; i < mine.size(); ++i)
        if (mineClaimed[i]) {
            replacement += mine[i].raw;
            if (!replacement.endsWith('\n'))
                replacement += "\r\n";
        }

    QByteArray out;
    bool placed = false;
    for (qsizetype i = 0; i < theirs.size(); ++i) {
        if (theirsClaimed[i] || (isCardEnd(theirs[i]) && !placed)) {
            if (!placed) {
                out += replacement;
                placed = true;
            }
            if (theirsClaimed[i])
                continue;
        }
        out += theirs[i].raw;
        if (i + 1 < theirs.size() && !out.endsWith('\n'))
            out += "\r\n";
    }
    return out;
}

} // namespace vellumo::carddav
