#include "print/sender.h"

#include "platform/settings/profile.h"

#include <QDir>

namespace vellumo::print {

namespace {
const QString kSection = QStringLiteral("Absender");
const QString kPrint = QStringLiteral("Drucken");
} // namespace

QString senderIniPath(const QString& workingDirectory) {
    // QDir joins with one separator, also after a root directory.
    const QDir dir(workingDirectory.isEmpty() ? QDir::currentPath() : workingDirectory);
    return dir.filePath(QStringLiteral("ABSENDER.INI"));
}

SenderSettings loadSenderSettings(const QString& iniPath) {
    SenderSettings settings;
    for (int i = 0; i < 5; ++i)
        settings.lines << GetPrivateProfileString(kSection, QString::number(i), QString(), iniPath);
    settings.print =
        GetPrivateProfileString(kSection, kPrint, QStringLiteral("1"), iniPath) != u"0";
    return settings;
}

void saveSenderSettings(const QString& iniPath, const QStringList& lines, bool print) {
    // One replacement of the file: a crash never leaves a sender mixed from
    // old and new lines.
    QList<ProfileEntry> entries;
    for (int i = 0; i < 5; ++i)
        entries.append({kSection, QString::number(i), lines.value(i)});
    entries.append({kSection, kPrint, print ? QStringLiteral("1") : QStringLiteral("0")});
    WritePrivateProfileStrings(entries, iniPath);
}

} // namespace vellumo::print
