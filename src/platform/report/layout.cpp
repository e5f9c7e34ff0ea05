#include "platform/report/layout.h"

#include <QDir>
#include <QFontMetricsF>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QtMath>

#include <cmath>

#include <algorithm>

namespace vellumo::report {

namespace {

// Text metrics of the last font asked for: the list asks thousands of times
// in a row for the same few fonts.
const QFontMetricsF& metricsOf(const QFont& font) {
    thread_local QFont cachedFont;
    thread_local std::unique_ptr<QFontMetricsF> cached;
    if (!cached || !(cachedFont == font)) {
        cachedFont = font;
        cached = std::make_unique<QFontMetricsF>(font);
    }
    return *cached;
}

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

} // namespace

QFont reportFont(const QString& family, int pixels, bool bold, bool underline) {
    QFont font(family);
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setUnderline(underline);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

QFont reportFontFrom(const QFont& widgetFont) {
    QFont font(widgetFont);
    if (widgetFont.pixelSize() <= 0)
        font.setPixelSize(qMax(1, qRound(widgetFont.pointSizeF() * kUnitsPerInch / 72.0)));
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

int lineHeight(const QFont& font) {
    const QFontMetricsF& metrics = metricsOf(font);
    return qCeil(metrics.ascent() + metrics.descent() - 1e-6);
}

QStringList wrapLine(const QString& text, const QFont& font, double width) {
    const QFontMetricsF& metrics = metricsOf(font);
    QStringList pieces;
    const qsizetype n = text.size();
    qsizetype start = 0;
    if (n == 0)
        return {QString()};
    while (start < n) {
        if (metrics.horizontalAdvance(text.mid(start)) <= width) {
            pieces << text.mid(start);
            break;
        }
        // fit: the longest run from start that stays within width.
        qsizetype fit = start;
        while (fit < n && metrics.horizontalAdvance(text.mid(start, fit + 1 - start)) <= width)
            ++fit;
        qsizetype end = -1;
        qsizetype next = -1;
        if (isBlank(text[fit])) {
            end = fit;
        } else {
            for (qsizetype k = fit; k > start; --k)
                if (isBlank(text[k - 1])) {
                    end = k - 1;
                    break;
                }
        }
        if (end >= start) {
            // Blanks at the break belong to neither line.
            qsizetype cut = end;
            while (cut > start && isBlank(text[cut - 1]))
                --cut;
            next = end;
            while (next < n && isBlank(text[next]))
                ++next;
            end = cut;
        } else {
            // One word wider than the box: break it between characters.
            end = qMax(fit, start + 1);
            next = end;
        }
        pieces << text.mid(start, end - start);
        start = next;
    }
    return pieces;
}

// ---- Elements ---------------------------------------------------------------

void TQRTextElement::printText(Page& page, QPoint origin, const QString& text, bool clip) const {
    const QFontMetricsF& metrics = metricsOf(Font);
    const double advance = metrics.horizontalAdvance(text);
    const double top = origin.y() + Top;
    const int boxLeft = origin.x() + Left;
    double left = boxLeft;
    if (Alignment == taCenter)
        left = boxLeft + (Width - advance) / 2.0;
    TextItem item;
    item.text = text;
    item.font = Font;
    item.color = Color;
    item.origin = QPointF(left, top + metrics.ascent());
    item.extent = QRectF(left, top, advance, metrics.ascent() + metrics.descent());
    if (clip && advance > Width)
        item.clip = QRectF(boxLeft, top, Width, Height);
    page.texts.push_back(std::move(item));
}

void TQRLabel::print(Page& page, QPoint origin, const RowSource*) const {
    printText(page, origin, Caption, false);
}

void TQRDBText::print(Page& page, QPoint origin, const RowSource* rows) const {
    printText(page, origin, rows ? rows->FieldText(DataField) : QString(), true);
}

void TQRShape::print(Page& page, QPoint origin, const RowSource*) const {
    LineItem item;
    const double top = origin.y() + Top;
    const double left = origin.x() + Left;
    if (Shape == qrsVertLine)
        item.line = QLineF(left, top, left, top + Height);
    else
        item.line = QLineF(left, top, left + Width, top);
    item.width = PenWidth;
    item.style = PenStyle == psDot ? Qt::DotLine : Qt::SolidLine;
    item.color = Color;
    page.lines.push_back(item);
}

void TQRMemo::print(Page& page, QPoint origin, const RowSource*) const {
    const QFontMetricsF& metrics = metricsOf(Font);
    const double ascent = metrics.ascent();
    const double descent = metrics.descent();
    const int pitch = lineHeight(Font);
    int row = 0;
    for (const QString& line : Lines) {
        const QStringList pieces = wrapLine(line, Font, Width);
        for (const QString& piece : pieces) {
            if ((row + 1) * pitch > Height)
                return;
            const double top = origin.y() + Top + row * pitch;
            const double left = origin.x() + Left;
            if (!piece.isEmpty()) {
                TextItem item;
                item.text = piece;
                item.font = Font;
                item.color = Color;
                item.origin = QPointF(left, top + ascent);
                item.extent = QRectF(left, top, metrics.horizontalAdvance(piece), ascent + descent);
                page.texts.push_back(std::move(item));
            }
            ++row;
        }
    }
}

void TQRImage::print(Page& page, QPoint origin, const RowSource* rows) const {
    QImage image = !DataField.isEmpty() && rows ? rows->FieldPicture(DataField) : Picture;
    if (image.isNull() || Width <= 0 || Height <= 0)
        return;
    const QSizeF size = QSizeF(image.size()).scaled(Width, Height, Qt::KeepAspectRatio);
    const QPointF corner(origin.x() + Left + (Width - size.width()) / 2.0,
                         origin.y() + Top + (Height - size.height()) / 2.0);
    page.images.push_back(ImageItem{QRectF(corner, size), std::move(image)});
}

void TQRBand::print(Page& page, QPoint origin, const RowSource* rows) const {
    for (const auto& element : elements_)
        if (element->Enabled)
            element->print(page, origin, rows);
}

// ---- Pages ------------------------------------------------------------------

PageGeometry PageGeometry::fullPage(const QPageSize& paper) {
    return PageGeometry{paper, paper.size(QPageSize::Inch).height() * kUnitsPerInch};
}

double PageGeometry::width() const {
    return paper.size(QPageSize::Inch).width() * kUnitsPerInch;
}

int Pagination::pageCount() const {
    if (rows <= firstPage)
        return 1;
    const std::int64_t rest = rows - firstPage;
    return static_cast<int>(1 + (rest + perPage - 1) / perPage);
}

int Pagination::firstRow(int page) const {
    if (page <= 0)
        return 0;
    const std::int64_t row = firstPage + std::int64_t{page - 1} * perPage;
    return static_cast<int>(std::min<std::int64_t>(row, rows));
}

int Pagination::rowsOn(int page) const {
    return std::max(0, firstRow(page + 1) - firstRow(page));
}

// ---- Report -----------------------------------------------------------------

namespace {

struct BandSets {
    std::vector<const TQRBand*> titles, headers, details;
    int titleHeight = 0, headerHeight = 0, rowHeight = 0;
    int columns = 1;
    int columnWidth = 0;

    explicit BandSets(const std::vector<std::unique_ptr<TQRBand>>& bands) {
        for (const auto& band : bands) {
            if (band->BandType == rbTitle) {
                titles.push_back(band.get());
                titleHeight += band->Height;
            } else if (band->BandType == rbPageHeader) {
                headers.push_back(band.get());
                headerHeight += band->Height;
            } else {
                if (details.empty()) {
                    columns = std::max(1, band->Columns);
                    columnWidth = band->ColumnWidth;
                }
                details.push_back(band.get());
                rowHeight += band->Height;
            }
        }
    }
};

} // namespace

TQRBand* TQuickReport::addBand(const QString& name, TQRBandType type, int height) {
    bands_.push_back(std::make_unique<TQRBand>(name, type, height));
    return bands_.back().get();
}

Pagination TQuickReport::begin(const PageGeometry& geometry) const {
    const BandSets sets(bands_);
    Pagination pagination;
    pagination.geometry = geometry;
    if (DataSource) {
        DataSource->Settle();
        pagination.rows = std::max(0, DataSource->Count());
    } else {
        pagination.rows = 1;
    }
    auto fit = [&](int top) {
        if (sets.rowHeight <= 0)
            return std::max(1, pagination.rows);
        // A row taller than the room left still goes on a page of its own.
        const double lines = std::floor((geometry.bottom - top) / sets.rowHeight + 1e-9);
        return std::max(1, static_cast<int>(std::min(lines, 1e6))) * sets.columns;
    };
    pagination.firstPage = fit(sets.titleHeight + sets.headerHeight);
    pagination.perPage = fit(sets.headerHeight);
    return pagination;
}

Page TQuickReport::layoutPage(const Pagination& pagination, int number) const {
    const BandSets sets(bands_);
    const RowSource* rows = DataSource;
    Page page;
    int y = 0;
    auto put = [&](const std::vector<const TQRBand*>& bands) {
        for (const TQRBand* band : bands) {
            band->print(page, QPoint(0, y), rows);
            y += band->Height;
        }
    };
    if (number == 0 && TitleBeforeHeader)
        put(sets.titles);
    put(sets.headers);
    if (number == 0 && !TitleBeforeHeader)
        put(sets.titles);

    const int first = pagination.firstRow(number);
    const int count = pagination.rowsOn(number);
    const int stride = sets.columnWidth > 0
                           ? sets.columnWidth
                           : static_cast<int>(pagination.geometry.width() / sets.columns);
    for (int i = 0; i < count; ++i) {
        if (DataSource)
            DataSource->Seek(first + i);
        QPoint origin((i % sets.columns) * stride, y + (i / sets.columns) * sets.rowHeight);
        for (const TQRBand* band : sets.details) {
            band->print(page, origin, rows);
            origin.ry() += band->Height;
        }
    }
    return page;
}

void TQuickReport::end(const Pagination& pagination, int lastRow) const {
    if (DataSource && pagination.rows > 0)
        DataSource->RunEnded(std::clamp(lastRow, 0, pagination.rows - 1));
}

bool TQuickReport::run(const PageGeometry& geometry,
                       const std::function<bool(Page&&, int)>& pageDone) const {
    const Pagination pagination = begin(geometry);
    const int pages = pagination.pageCount();
    for (int k = 0; k < pages; ++k) {
        if (!pageDone(layoutPage(pagination, k), k + 1)) {
            end(pagination, pagination.firstRow(k) + pagination.rowsOn(k) - 1);
            return false;
        }
    }
    end(pagination, pagination.rows - 1);
    return true;
}

Document TQuickReport::layout(const PageGeometry& geometry,
                              const std::function<bool(int)>& progress) const {
    Document document;
    document.title = ReportTitle;
    document.pageSize = geometry.paper;
    document.cancelled = !run(geometry, [&](Page&& page, int number) {
        document.pages.push_back(std::move(page));
        return !progress || progress(number);
    });
    return document;
}

Document TQuickReport::layout(const QPageSize& paper) const {
    return layout(PageGeometry::fullPage(paper));
}

// ---- Painting -----------------------------------------------------------------

void paintPage(QPainter& painter, const Page& page, double dpiX, double dpiY) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.scale(dpiX / kUnitsPerInch, dpiY / kUnitsPerInch);
    for (const ImageItem& image : page.images) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawImage(image.rect, image.image);
    }
    for (const LineItem& line : page.lines) {
        QPen pen(line.color, line.width, line.style, Qt::FlatCap);
        painter.setPen(pen);
        painter.drawLine(line.line);
    }
    QFont current;
    bool haveFont = false;
    for (const TextItem& text : page.texts) {
        if (!haveFont || !(current == text.font)) {
            painter.setFont(text.font);
            current = text.font;
            haveFont = true;
        }
        painter.setPen(text.color);
        if (!text.clip.isNull()) {
            painter.setClipRect(text.clip);
            painter.drawText(text.origin, text.text);
            painter.setClipping(false);
        } else {
            painter.drawText(text.origin, text.text);
        }
    }
    painter.restore();
}

namespace {

void startPage(QPagedPaintDevice& device, int number) {
    if (number > 1 && !device.newPage())
        throw ReportError(QStringLiteral("Die Seite %1 kann nicht begonnen werden").arg(number));
}

// Paints into a PDF written beside fileName, which replaces it only when
// paint returns true and everything was written.
bool paintPdf(const QString& fileName, const QPageSize& paper, const QString& title,
              const std::function<bool(QPainter&, QPdfWriter&)>& paint) {
    const QString failure =
        QStringLiteral("Kann nicht nach %1 schreiben").arg(QDir::toNativeSeparators(fileName));
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw ReportError(failure);
    bool complete = false;
    {
        QPdfWriter writer(&file);
        writer.setPageSize(paper);
        writer.setPageOrientation(QPageLayout::Portrait);
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setResolution(1200);
        writer.setTitle(title);
        writer.setCreator(QStringLiteral("Vellumo"));
        QPainter painter;
        if (!painter.begin(&writer))
            throw ReportError(failure);
        try {
            complete = paint(painter, writer);
        } catch (...) {
            painter.end();
            throw; // the half-written file is dropped with QSaveFile
        }
        if (!painter.end())
            throw ReportError(failure);
    }
    if (!complete)
        return false;
    if (file.error() != QFileDevice::NoError || !file.commit())
        throw ReportError(failure);
    return true;
}

} // namespace

bool paintRun(const TQuickReport& report, const PageGeometry& geometry, QPainter& painter,
              QPagedPaintDevice& device, double dpi, const std::function<bool(int)>& progress) {
    return report.run(geometry, [&](Page&& page, int number) {
        startPage(device, number);
        paintPage(painter, page, dpi, dpi);
        return !progress || progress(number);
    });
}

bool writePdf(const TQuickReport& report, const PageGeometry& geometry, const QString& fileName,
              const std::function<bool(int)>& progress) {
    return paintPdf(
        fileName, geometry.paper, report.ReportTitle, [&](QPainter& painter, QPdfWriter& writer) {
            return paintRun(report, geometry, painter, writer, writer.resolution(), progress);
        });
}

void writePdf(const Document& document, const QString& fileName) {
    paintPdf(
        fileName, document.pageSize, document.title, [&](QPainter& painter, QPdfWriter& writer) {
            for (std::size_t i = 0; i < document.pages.size(); ++i) {
                startPage(writer, static_cast<int>(i + 1));
                paintPage(painter, document.pages[i], writer.resolution(), writer.resolution());
            }
            return true;
        });
}

} // namespace vellumo::report
