// The pairs the user said are no duplicates ("keine Dubletten"), kept in a
// small text file beside the table (ADRESSEN.DB: ADRESSEN.keine-dubletten) so
// they are not offered again. A record is named by its key fields as stored;
// when a key changes, its pair may be offered once more, never merged unasked.
//
// One line per pair: the ten key values of both records, separated by tabs;
// a backslash, a tab or a line break inside a value is written \\, \t, \n.
#pragma once

#include "duplicates/finder.h"

#include <QSet>
#include <QString>
#include <QStringList>

namespace duplicates {

class Dismissed {
public:
    static QString fileFor(const QString& tablePath);

    // Reads the file beside the table; none is no pair. False with a German
    // message when it exists and cannot be read.
    bool load(const QString& tablePath, QString* error);
    bool contains(const QStringList& a, const QStringList& b) const;
    void add(const QStringList& a, const QStringList& b);
    // Writes the file whole (replaced at once). False with a German message.
    bool save(QString* error) const;
    int size() const { return static_cast<int>(lines_.size()); }

    // pairs without those dismissed.
    std::vector<Pair> without(std::vector<Pair> pairs, const std::vector<Person>& persons) const;

private:
    static QString lineOf(const QStringList& a, const QStringList& b);
    QString path_;
    QSet<QString> lines_;
};

} // namespace duplicates
