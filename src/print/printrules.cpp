#include "print/printrules.h"

#include "platform/settings/profile.h"

#include <QDir>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextLayout>

namespace vellumo::print {

namespace {
const QString kSection = QStringLiteral("Absender");
const QString kPrint = QStringLiteral("Drucken");
} // namespace

QStringList recipientLines(const address::PostalAddress& address) {
    return address::postalLines(address, {.asTyped = true});
}

QStringList recipientLines(const QString& vorname, const QString& name, const QString& strasse,
                           const QString& plz, const QString& ort) {
    return recipientLines({vorname, name, strasse, plz, ort, QString()});
}

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

QStringList displayedLines(QPlainTextEdit* edit) {
    QStringList lines;
    QTextDocument* document = edit->document();
    auto* layout = qobject_cast<QPlainTextDocumentLayout*>(document->documentLayout());
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        const QString text = block.text();
        if (layout)
            layout->ensureBlockLayout(block);
        const QTextLayout* lineLayout = block.layout();
        if (!lineLayout || lineLayout->lineCount() <= 1) {
            lines << text;
            continue;
        }
        for (int i = 0; i < lineLayout->lineCount(); ++i) {
            const QTextLine line = lineLayout->lineAt(i);
            QString piece = text.mid(line.textStart(), line.textLength());
            // The blank at a soft break belongs to neither line.
            if (i + 1 < lineLayout->lineCount())
                while (piece.endsWith(u' '))
                    piece.chop(1);
            lines << piece;
        }
    }
    return lines;
}

} // namespace vellumo::print
