#include "print/printrules.h"

#include "platform/settings/profile.h"

#include <QDir>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextLayout>

namespace vellumo::print {

QStringList recipientLines(const address::PostalAddress& address) {
    return address::postalLines(address, {.asTyped = true});
}

QStringList recipientLines(const QString& vorname, const QString& name, const QString& strasse,
                           const QString& plz, const QString& ort) {
    return recipientLines({vorname, name, strasse, plz, ort, QString()});
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
