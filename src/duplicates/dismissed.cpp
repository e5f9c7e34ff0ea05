#include "duplicates/dismissed.h"

#include "platform/system/system.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace duplicates {

namespace {

QString escaped(QString value) {
    value.replace(u'\\', QStringLiteral("\\\\"));
    value.replace(u'\t', QStringLiteral("\\t"));
    value.replace(u'\n', QStringLiteral("\\n"));
    value.replace(u'\r', QStringLiteral("\\r"));
    return value;
}

QString joined(const QStringList& key) {
    QStringList parts;
    for (const QString& v : key)
        parts << escaped(v);
    return parts.join(u'\t');
}

} // namespace

QString Dismissed::fileFor(const QString& tablePath) {
    const QFileInfo info(tablePath);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(".keine-dubletten"));
}

QString Dismissed::lineOf(const QStringList& a, const QStringList& b) {
    // One order for both ways round.
    QString x = joined(a), y = joined(b);
    if (y < x)
        std::swap(x, y);
    return x + u'\t' + y;
}

bool Dismissed::load(const QString& tablePath, QString* error) {
    path_ = fileFor(tablePath);
    lines_.clear();
    QFile file(path_);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("Die Liste der Paare, die keine Dubletten sind, kann nicht "
                                    "gelesen werden: %1 (%2)")
                         .arg(path_, file.errorString());
        return false;
    }
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        lines_.insert(QString::fromUtf8(line));
    }
    return true;
}

bool Dismissed::contains(const QStringList& a, const QStringList& b) const {
    return lines_.contains(lineOf(a, b));
}

void Dismissed::add(const QStringList& a, const QStringList& b) {
    lines_.insert(lineOf(a, b));
}

bool Dismissed::save(QString* error) const {
    QStringList sorted(lines_.begin(), lines_.end());
    sorted.sort();
    QByteArray data = "# Paare, die keine Dubletten sind (je Zeile die Schlüsselfelder beider "
                      "Adressen)\n";
    for (const QString& line : sorted)
        data += line.toUtf8() + '\n';
    QString why;
    if (vellumo::writeFileSafely(path_, data, &why))
        return true;
    if (error)
        *error = why;
    return false;
}

std::vector<Pair> Dismissed::without(std::vector<Pair> pairs,
                                     const std::vector<Person>& persons) const {
    if (lines_.isEmpty())
        return pairs;
    pairs.erase(std::remove_if(pairs.begin(), pairs.end(),
                               [&](const Pair& p) {
                                   return contains(persons[static_cast<std::size_t>(p.first)].key,
                                                   persons[static_cast<std::size_t>(p.second)].key);
                               }),
                pairs.end());
    return pairs;
}

} // namespace duplicates
