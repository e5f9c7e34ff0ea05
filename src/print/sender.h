// The sender of an envelope or a letter: five lines in ABSENDER.INI in the
// working directory, and whether they are printed.
#pragma once

#include <QString>
#include <QStringList>

namespace vellumo::print {

// ABSENDER.INI in workingDirectory (the current one when empty).
QString senderIniPath(const QString& workingDirectory = QString());

struct SenderSettings {
    QStringList lines; // always five
    bool print = true; // false only for "Drucken" = "0"
};
SenderSettings loadSenderSettings(const QString& iniPath);
// Writes lines 0 to 4 (missing ones empty, later ones not at all) and
// "Drucken". Raises ProfileError at the first key that cannot be written.
void saveSenderSettings(const QString& iniPath, const QStringList& lines, bool print);

} // namespace vellumo::print
