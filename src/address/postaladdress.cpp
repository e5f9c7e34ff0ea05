#include "address/postaladdress.h"

#include <QHash>

namespace vellumo::address {

namespace {

QString clean(const QString& s) {
    return s.simplified();
}

QString fullName(const PostalAddress& a) {
    return clean(clean(a.vorname) + QLatin1Char(' ') + clean(a.name));
}

// A German postcode written the old way ("D-12345", "D 12345") loses its
// country mark: the post sorts by the five digits alone.
QString domesticPostcode(const QString& plz) {
    QString p = clean(plz);
    if (p.size() > 2 && (p.startsWith(QLatin1String("D-"), Qt::CaseInsensitive) ||
                         p.startsWith(QLatin1String("D "), Qt::CaseInsensitive)))
        p = p.mid(2).trimmed();
    return p;
}

QString joinNames(const QStringList& names) {
    if (names.size() <= 1)
        return names.value(0);
    return names.mid(0, names.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" und ") +
           names.last();
}

} // namespace

bool isDomestic(const QString& land) {
    static const QStringList kGermany{
        QStringLiteral("deutschland"), QStringLiteral("germany"),
        QStringLiteral("d"),           QStringLiteral("de"),
        QStringLiteral("deu"),         QStringLiteral("ger"),
        QStringLiteral("brd"),         QStringLiteral("bundesrepublik deutschland"),
        QStringLiteral("allemagne"),   QStringLiteral("germania"),
        QStringLiteral("alemania"),    QStringLiteral("duitsland")};
    QString l = clean(land).toLower();
    l.remove(QLatin1Char('.'));
    return l.isEmpty() || kGermany.contains(l);
}

QStringList postalLines(const PostalAddress& address, const PostalStyle& style) {
    QStringList lines;
    auto add = [&](const QString& line) {
        if (!clean(line).isEmpty())
            lines.append(style.asTyped ? line : clean(line));
    };
    const bool domestic = isDomestic(address.land);
    add(style.asTyped ? address.vorname + QLatin1Char(' ') + address.name : fullName(address));
    add(address.strasse);
    const QString plz = domestic ? domesticPostcode(address.plz)
                                 : (style.asTyped ? address.plz : clean(address.plz));
    add(plz + QLatin1Char(' ') + (style.asTyped ? address.ort : clean(address.ort)));
    if (!domestic)
        add(clean(address.land).toUpper());
    if (style.maxLines > 0 && lines.size() > style.maxLines)
        lines = lines.mid(lines.size() - style.maxLines);
    return lines;
}

QList<Household> householdLabels(const QList<PostalAddress>& addresses) {
    QList<QList<int>> households;
    QHash<QString, qsizetype> byPlace;
    for (int i = 0; i < addresses.size(); ++i) {
        const PostalAddress& a = addresses[i];
        const bool placed = !clean(a.strasse).isEmpty() && !clean(a.ort).isEmpty();
        const QString key = (clean(a.strasse) + QLatin1Char('\n') + domesticPostcode(a.plz) +
                             QLatin1Char('\n') + clean(a.ort))
                                .toCaseFolded();
        auto found = placed ? byPlace.constFind(key) : byPlace.cend();
        if (found != byPlace.cend()) {
            households[*found].append(i);
        } else {
            if (placed)
                byPlace.insert(key, households.size());
            households.append(QList<int>{i});
        }
    }
    QList<Household> labels;
    for (const QList<int>& members : households) {
        PostalAddress first = addresses[members.first()];
        QStringList lines = postalLines(first);
        if (members.size() > 1) {
            QStringList names;
            bool sameName = true;
            for (int i : members) {
                sameName =
                    sameName &&
                    clean(addresses[i].name).compare(clean(first.name), Qt::CaseInsensitive) == 0;
                const QString n = fullName(addresses[i]);
                if (!n.isEmpty() && !names.contains(n))
                    names.append(n);
            }
            const QString nameLine = sameName && !clean(first.name).isEmpty()
                                         ? QStringLiteral("Familie ") + clean(first.name)
                                         : joinNames(names);
            if (!fullName(first).isEmpty())
                lines[0] = nameLine;
            else if (!nameLine.isEmpty())
                lines.prepend(nameLine);
        }
        labels.append({lines, members});
    }
    return labels;
}

} // namespace vellumo::address
