#include "platform/report/report.h"

#include "platform/ui/messages.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QScreen>
#include <QToolBar>
#include <QtMath>

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
        font.setPixelSize(qMax(1, qRound(widgetFont.pointSizeF() * UnitsPerInch / 72.0)));
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

void TQRTextElement::printText(Page& page, int bandTop, const QString& text, bool clip) const {
    const QFontMetricsF& metrics = metricsOf(Font);
    const double advance = metrics.horizontalAdvance(text);
    const double top = bandTop + Top;
    double left = Left;
    if (Alignment == taCenter)
        left = Left + (Width - advance) / 2.0;
    TextItem item;
    item.text = text;
    item.font = Font;
    item.color = Color;
    item.origin = QPointF(left, top + metrics.ascent());
    item.extent = QRectF(left, top, advance, metrics.ascent() + metrics.descent());
    if (clip && advance > Width)
        item.clip = QRectF(Left, top, Width, Height);
    page.texts.push_back(std::move(item));
}

void TQRLabel::print(Page& page, int bandTop, const RowSource*) const {
    printText(page, bandTop, Caption, false);
}

void TQRDBText::print(Page& page, int bandTop, const RowSource* rows) const {
    printText(page, bandTop, rows ? rows->FieldText(DataField) : QString(), true);
}

void TQRShape::print(Page& page, int bandTop, const RowSource*) const {
    LineItem item;
    const double top = bandTop + Top;
    if (Shape == qrsVertLine)
        item.line = QLineF(Left, top, Left, top + Height);
    else
        item.line = QLineF(Left, top, Left + Width, top);
    item.width = PenWidth;
    item.style = PenStyle == psDot ? Qt::DotLine : Qt::SolidLine;
    item.color = Color;
    page.lines.push_back(item);
}

void TQRMemo::print(Page& page, int bandTop, const RowSource*) const {
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
            const double top = bandTop + Top + row * pitch;
            if (!piece.isEmpty()) {
                TextItem item;
                item.text = piece;
                item.font = Font;
                item.color = Color;
                item.origin = QPointF(Left, top + ascent);
                item.extent = QRectF(Left, top, metrics.horizontalAdvance(piece), ascent + descent);
                page.texts.push_back(std::move(item));
            }
            ++row;
        }
    }
}

void TQRBand::print(Page& page, int top, const RowSource* rows) const {
    for (const auto& element : elements_)
        if (element->Enabled)
            element->print(page, top, rows);
}

// ---- Report -----------------------------------------------------------------

TQRBand* TQuickReport::addBand(const QString& name, TQRBandType type, int height) {
    bands_.push_back(std::make_unique<TQRBand>(name, type, height));
    return bands_.back().get();
}

QPageSize TQuickReport::paperSize() const {
    if (PaperSize == qrpDefault) {
        const QPrinterInfo printer = QPrinterInfo::defaultPrinter();
        if (!printer.isNull() && printer.defaultPageSize().isValid())
            return printer.defaultPageSize();
    }
    return QPageSize(QPageSize::A4);
}

Document TQuickReport::layout(const std::function<bool(int)>& progress) const {
    return layout(paperSize(), progress);
}

Document TQuickReport::layout(const QPageSize& paper,
                              const std::function<bool(int)>& progress) const {
    Document document;
    document.title = ReportTitle;
    document.pageSize = paper;
    document.cancelled = !run(paper, [&](Page&& page, int number) {
        document.pages.push_back(std::move(page));
        return !progress || progress(number);
    });
    return document;
}

bool TQuickReport::run(const QPageSize& paper,
                       const std::function<bool(Page&&, int)>& pageDone) const {
    const double pageHeight = paper.size(QPageSize::Inch).height() * UnitsPerInch;

    std::vector<const TQRBand*> titles, headers, details;
    for (const auto& band : bands_) {
        if (band->BandType == rbTitle)
            titles.push_back(band.get());
        else if (band->BandType == rbPageHeader)
            headers.push_back(band.get());
        else
            details.push_back(band.get());
    }

    const RowSource* rows = DataSource;
    Page page;
    int number = 0;
    bool stopped = false;
    double y = 0;
    double pageStart = 0; // where the first band after the headers stands
    auto put = [&](const TQRBand* band) {
        band->print(page, qRound(y), rows);
        y += band->Height;
    };
    auto finishPage = [&] {
        const std::size_t texts = page.texts.size();
        const std::size_t lines = page.lines.size();
        if (!pageDone(std::move(page), ++number))
            stopped = true;
        page = Page();
        page.texts.reserve(texts);
        page.lines.reserve(lines);
    };
    auto startPage = [&](bool first) {
        if (!first)
            finishPage();
        y = 0;
        if (first && TitleBeforeHeader)
            for (const TQRBand* band : titles)
                put(band);
        for (const TQRBand* band : headers)
            put(band);
        if (first && !TitleBeforeHeader)
            for (const TQRBand* band : titles)
                put(band);
        pageStart = y;
    };
    auto putDetails = [&] {
        for (const TQRBand* band : details) {
            // A band taller than a whole page still goes on a page of its own.
            if (y + band->Height > pageHeight && y > pageStart)
                startPage(false);
            put(band);
        }
    };

    startPage(true);
    if (!DataSource) {
        putDetails();
    } else if (DataSource->First()) {
        do {
            putDetails();
            if (stopped)
                return false;
        } while (DataSource->Next());
    }
    finishPage();
    return !stopped;
}

void paintPage(QPainter& painter, const Page& page, double dpiX, double dpiY) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.scale(dpiX / UnitsPerInch, dpiY / UnitsPerInch);
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

void paintDocument(QPainter& painter, QPagedPaintDevice& device, const Document& document,
                   double dpi) {
    for (std::size_t i = 0; i < document.pages.size(); ++i) {
        if (i > 0 && !device.newPage())
            throw ReportError(QStringLiteral("Die Seite %1 kann nicht begonnen werden").arg(i + 1));
        paintPage(painter, document.pages[i], dpi, dpi);
    }
}

// Paints each page of a run on device as soon as it is laid out, so that no
// run holds more than one page.
bool paintRun(const TQuickReport& report, const QPageSize& paper, QPainter& painter,
              QPagedPaintDevice& device, double dpi, const std::function<bool(int)>& progress) {
    return report.run(paper, [&](Page&& page, int number) {
        if (number > 1 && !device.newPage())
            throw ReportError(
                QStringLiteral("Die Seite %1 kann nicht begonnen werden").arg(number));
        paintPage(painter, page, dpi, dpi);
        return !progress || progress(number);
    });
}

// The progress window of a run: title of the report and the pages so far.
class RunProgress {
public:
    RunProgress(const QString& title, const QString& action, QWidget* parent)
        : dialog_(parent), title_(title), action_(action) {
        dialog_.setWindowTitle(QStringLiteral("Vellumo"));
        dialog_.setCancelButtonText(QStringLiteral("Abbrechen"));
        dialog_.setRange(0, 0);
        dialog_.setMinimumDuration(0);
        dialog_.setWindowModality(Qt::ApplicationModal);
        dialog_.setAutoClose(false);
        dialog_.setAutoReset(false);
        report(0);
        dialog_.show();
        QCoreApplication::processEvents();
        shown_.start();
    }
    // Drawing the window for every page would cost more than the pages;
    // ten times a second is enough to read and to cancel.
    bool report(int pages) {
        if (shown_.isValid() && shown_.elapsed() < 100)
            return !dialog_.wasCanceled();
        dialog_.setLabelText(
            QStringLiteral("%1\n%2 … Seite %3").arg(title_, action_).arg(qMax(pages, 1)));
        QCoreApplication::processEvents();
        shown_.start();
        return !dialog_.wasCanceled();
    }
    void setAction(const QString& action) { action_ = action; }
    QProgressDialog& dialog() { return dialog_; }

private:
    QProgressDialog dialog_;
    QElapsedTimer shown_;
    QString title_;
    QString action_;
};

QString pdfFileName(QString name) {
    if (!name.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive))
        name += QStringLiteral(".pdf");
    return name;
}

} // namespace

namespace {

// A PDF writer on fileName with the paper's origin at the page's corner.
class PdfTarget {
public:
    PdfTarget(const QString& fileName, const QPageSize& paper, const QString& title)
        : writer(fileName), failure(QStringLiteral("Kann nicht nach %1 schreiben")
                                        .arg(QDir::toNativeSeparators(fileName))) {
        writer.setPageSize(paper);
        writer.setPageOrientation(QPageLayout::Portrait);
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setResolution(1200);
        writer.setTitle(title);
        writer.setCreator(QStringLiteral("Vellumo"));
        if (!painter.begin(&writer))
            throw ReportError(failure);
    }
    void finish() {
        if (!painter.end())
            throw ReportError(failure);
    }
    QPdfWriter writer;
    QPainter painter;
    QString failure;
};

} // namespace

void writePdf(const Document& document, const QString& fileName) {
    PdfTarget target(fileName, document.pageSize, document.title);
    paintDocument(target.painter, target.writer, document, target.writer.resolution());
    target.finish();
}

bool TQuickReport::writePdf(const QString& fileName, QWidget* parent) const {
    const QPageSize paper = paperSize();
    RunProgress progress(ReportTitle, QStringLiteral("PDF-Datei wird geschrieben"), parent);
    bool complete = false;
    {
        PdfTarget target(fileName, paper, ReportTitle);
        try {
            complete =
                paintRun(*this, paper, target.painter, target.writer, target.writer.resolution(),
                         [&](int page) { return progress.report(page); });
        } catch (...) {
            target.painter.end();
            QFile::remove(fileName); // no half a list behind
            throw;
        }
        target.finish();
    }
    if (!complete)
        QFile::remove(fileName); // cancelled: no half a list behind
    return complete;
}

bool TQuickReport::savePdfAs(QWidget* parent) const {
    QFileDialog dialog(parent, QStringLiteral("Als PDF speichern"), QDir::currentPath(),
                       QStringLiteral("PDF-Dateien (*.pdf)"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("pdf"));
    QString suggestion = ReportTitle;
    suggestion.replace(QRegularExpression(QStringLiteral("[/\\\\:*?\"<>|]")), QStringLiteral("_"));
    dialog.selectFile(pdfFileName(suggestion));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    return writePdf(pdfFileName(dialog.selectedFiles().constFirst()), parent);
}

void TQuickReport::Print(QWidget* parent) const {
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull()) {
        // Qt would silently write nowhere; say so and offer the PDF instead.
        if (confirm(QStringLiteral("Es ist kein Drucker eingerichtet. Möchten Sie stattdessen "
                                   "eine PDF-Datei speichern?"),
                    parent))
            savePdfAs(parent);
        return;
    }

    QPrinter printer(info, QPrinter::HighResolution);
    printer.setFullPage(true);
    printer.setDocName(ReportTitle);
    printer.setCreator(QStringLiteral("Vellumo"));
    const QPageSize paper = paperSize();
    printer.setPageSize(paper);
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setPageMargins(QMarginsF(0, 0, 0, 0));

    const QString failure = QStringLiteral("Der Drucker \"%1\" kann den Auftrag nicht annehmen")
                                .arg(info.printerName());
    RunProgress progress(ReportTitle, QStringLiteral("Seiten werden gedruckt"), parent);
    QPainter painter;
    if (!painter.begin(&printer))
        throw ReportError(failure);
    bool complete = false;
    try {
        complete = paintRun(*this, paper, painter, printer, printer.resolution(),
                            [&](int page) { return progress.report(page); });
    } catch (...) {
        // A run that failed half way (a record that cannot be read) sends nothing.
        printer.abort();
        painter.end();
        throw;
    }
    if (!complete) {
        printer.abort();
        painter.end();
        return;
    }
    if (!painter.end() || printer.printerState() == QPrinter::Error)
        throw ReportError(failure);
}

void TQuickReport::Preview(QWidget* parent) const {
    const QPageSize paper = paperSize();
    QPrinter printer(QPrinter::HighResolution);
    printer.setFullPage(true);
    printer.setDocName(ReportTitle);
    printer.setPageSize(paper);
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setPageMargins(QMarginsF(0, 0, 0, 0));

    QPrintPreviewDialog dialog(&printer, parent);
    dialog.setWindowTitle(QStringLiteral("Druckvorschau – %1").arg(ReportTitle));
    // The pages are laid out while the preview asks for them, and dropped as
    // soon as they are drawn: a long list never stands twice in memory.
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog,
                     [this, &dialog, paper](QPrinter* target) {
                         runGuarded([&] {
                             RunProgress progress(ReportTitle,
                                                  QStringLiteral("Seiten werden aufbereitet"),
                                                  dialog.isVisible() ? &dialog : nullptr);
                             QPainter painter;
                             if (!painter.begin(target))
                                 return;
                             paintRun(*this, paper, painter, *target, target->resolution(),
                                      [&](int page) { return progress.report(page); });
                         });
                     });
    if (QToolBar* bar = dialog.findChild<QToolBar*>()) {
        bar->addSeparator();
        QAction* pdf = bar->addAction(QStringLiteral("Als PDF speichern …"));
        pdf->setObjectName(QStringLiteral("AlsPdfSpeichern"));
        pdf->setToolTip(QStringLiteral("Als PDF speichern …"));
        QObject::connect(pdf, &QAction::triggered, &dialog,
                         [this, &dialog] { runGuarded([&] { savePdfAs(&dialog); }); });
    }
    // Wide enough for every tool button, "Als PDF speichern …" included.
    if (const QScreen* screen = dialog.screen()) {
        const QRect room = screen->availableGeometry();
        dialog.resize(qMin(1000, room.width() - 20), qMin(800, room.height() - 40));
    }
    dialog.exec();
}

} // namespace vellumo::report
