// bench_report_floor: Qt's own floor for the address list as PDF. A bare
// program that draws the same pages as the list (heading, column labels and
// rules, six texts and five rules per row, 41 rows on the first A4 page and
// 43 on the others) with QPdfWriter at 1200 dpi, from texts made beforehand:
// no table, no report engine, no windows. bench_report measures the program
// against this.
//
//   QT_QPA_PLATFORM=offscreen bench_report_floor [records] [file.pdf]
//
// Prints the seconds of drawing and writing alone.
#include "addressdata.h"
#include "benchutil.h"

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <variant>

namespace {

QFont font(int pixels, bool bold = false, bool underline = false) {
    QFont f(QStringLiteral("Liberation Sans"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    f.setUnderline(underline);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const std::size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    const std::string out =
        argc > 2 ? argv[2]
                 : (std::filesystem::temp_directory_path() / "bench_report_floor.pdf").string();
    bench::AddressGenerator generator;
    const std::vector<px::Record> records = generator.sortedRecords(count);
    struct Row {
        QString cells[6];
    };
    std::vector<Row> rows;
    rows.reserve(count);
    auto text = [](const px::Value& value) {
        const auto* s = std::get_if<std::string>(&value);
        return s ? QString::fromStdString(*s) : QString();
    };
    for (const px::Record& r : records)
        rows.push_back(
            Row{{text(r[0]), text(r[1]), text(r[2]), text(r[3]), text(r[4]), text(r[6])}});

    const int lefts[6] = {30, 184, 306, 477, 535, 670};
    const int widths[6] = {150, 104, 160, 50, 126, 123};
    const int rules[5] = {180, 302, 472, 530, 666};
    const char* labels[6] = {"Name", "Vorname", "Strasse", "PLZ", "Ort", "Telefon"};
    const QFont body = font(11);
    const QFont heading = font(16, true, true);
    const QFontMetricsF metrics(body);

    const auto start = bench::Clock::now();
    int pages = 0;
    {
        QPdfWriter writer(QString::fromStdString(out));
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setResolution(1200);
        QPainter painter(&writer);
        painter.scale(1200 / 96.0, 1200 / 96.0);
        const QPen solid(Qt::black, 1, Qt::SolidLine, Qt::FlatCap);
        const QPen dotted(Qt::black, 1, Qt::DotLine, Qt::FlatCap);
        painter.setPen(solid);
        std::size_t next = 0;
        while (next < rows.size() || pages == 0) {
            if (pages > 0)
                writer.newPage();
            int y = 0;
            if (pages == 0) {
                painter.setFont(heading);
                painter.drawText(QRectF(0, 8, 793, 19), Qt::AlignHCenter | Qt::AlignTop,
                                 QStringLiteral("Überschrift"));
                y = 41;
            }
            painter.setFont(body);
            for (int c = 0; c < 6; ++c)
                painter.drawText(QPointF(lefts[c], y + 19 + 10), QString::fromLatin1(labels[c]));
            painter.drawLine(QLineF(30, y + 36, 793, y + 36));
            for (int x : rules)
                painter.drawLine(QLineF(x, y + 16, x, y + 41));
            y += 41;
            const std::size_t fit = pages == 0 ? 41 : 43;
            for (std::size_t i = 0; i < fit && next < rows.size(); ++i, ++next, y += 25) {
                for (int c = 0; c < 6; ++c) {
                    // Cut at the box only where the text is wider, as the list does.
                    const QString& cell = rows[next].cells[c];
                    const bool clip = metrics.horizontalAdvance(cell) > widths[c];
                    if (clip)
                        painter.setClipRect(QRectF(lefts[c], y + 3, widths[c], 17));
                    painter.drawText(QPointF(lefts[c], y + 3 + 10), cell);
                    if (clip)
                        painter.setClipping(false);
                }
                for (int x : rules)
                    painter.drawLine(QLineF(x, y, x, y + 25));
                painter.setPen(dotted);
                painter.drawLine(QLineF(40, y + 21, 793, y + 21));
                painter.setPen(solid);
            }
            ++pages;
        }
    }
    const double seconds = bench::msSince(start) / 1000.0;
    std::printf("bench_report_floor: %zu records, %d pages\n", count, pages);
    std::printf("  %-44s %12.1f %-10s\n", "Qt floor: list as PDF (drawing and writing)", seconds,
                "s");
    if (argc <= 2)
        std::filesystem::remove(out);
    return 0;
}
