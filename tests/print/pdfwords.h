// Words of a PDF as an independent reader finds them (pdftotext -bbox), in
// millimetres from the page's corner: where a printer puts them.
#pragma once

#include <QList>
#include <QProcess>
#include <QRectF>
#include <QRegularExpression>
#include <QString>

namespace testsupport {

struct PdfWord {
    int page; // from 0
    QRectF box;
    QString text;
};

inline QList<PdfWord> pdfWords(const QString& pdf) {
    constexpr double kPointsPerMm = 72.0 / 25.4;
    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"),
                    {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    pdftotext.waitForFinished(30000);
    const QString html = QString::fromUtf8(pdftotext.readAllStandardOutput());
    static const QRegularExpression word(QStringLiteral(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"));
    QList<PdfWord> words;
    int page = -1;
    for (const QString& line : html.split(QLatin1Char('\n'))) {
        if (line.contains(QStringLiteral("<page ")))
            ++page;
        const auto m = word.match(line);
        if (!m.hasMatch())
            continue;
        const QRectF box(QPointF(m.captured(1).toDouble(), m.captured(2).toDouble()) / kPointsPerMm,
                         QPointF(m.captured(3).toDouble(), m.captured(4).toDouble()) /
                             kPointsPerMm);
        words.append({page, box, m.captured(5).replace("&amp;", "&")});
    }
    return words;
}

} // namespace testsupport
