// A banded report engine, the layout half. A report is a list of bands
// (title, page header, detail) holding labels, field texts, lines, memos and
// pictures at integer positions in report units of 1/96 inch. Laying a
// report out gives pages of plain primitives (texts, lines and pictures,
// still in report units) that tests inspect and that paint on any QPainter:
// a printer, the preview, a PDF writer.
//
// Every band has a fixed height, so where a page begins follows from the
// page number by arithmetic (Pagination): any page can be laid out alone,
// without laying out the pages before it.
//
// The engine knows nothing of the table it prints: rows come through the
// small RowSource interface, and field values by the names the report asks
// for. This half needs Qt Gui only; dialogs, printers and the preview are in
// output.h.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QLineF>
#include <QPageSize>
#include <QPointF>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

class QPainter;
class QPagedPaintDevice;

namespace vellumo::report {

constexpr double kUnitsPerInch = 96.0;

// A failure the user reads, in German (printer refused, file not writable).
class ReportError : public std::runtime_error {
public:
    explicit ReportError(const QString& text) : std::runtime_error(text.toStdString()) {}
    QString text() const { return QString::fromStdString(what()); }
};

// Where the rows of a report come from, read by position so that a page
// can be laid out alone. A run calls Settle, then Count once, then Seek and
// the field values for each row it lays out, and RunEnded with the last row
// it reached.
class RowSource {
public:
    virtual ~RowSource() = default;
    // Makes what is still pending (an edit under way) part of the rows.
    virtual void Settle() {}
    virtual int Count() = 0;
    // Makes row (0-based, below Count) the one the field values come from.
    virtual void Seek(int row) = 0;
    virtual QString FieldText(const QString& field) const = 0;
    // A picture of the row; null when the field holds none.
    virtual QImage FieldPicture(const QString&) const { return {}; }
    virtual void RunEnded(int /*lastRow*/) {}
};

// ---- Page primitives --------------------------------------------------------

// One line of text. origin is the left end of its baseline; extent is where
// the text lands (left/right of its advance, top/bottom of the font's
// ascent/descent). clip, when not null, cuts the text at that box.
struct TextItem {
    QString text;
    QFont font; // pixel size in report units
    QColor color;
    QPointF origin;
    QRectF extent;
    QRectF clip;
};

struct LineItem {
    QLineF line;
    int width = 1;
    Qt::PenStyle style = Qt::SolidLine;
    QColor color;
};

struct ImageItem {
    QRectF rect; // where the picture is drawn, aspect ratio kept
    QImage image;
};

struct Page {
    std::vector<TextItem> texts;
    std::vector<LineItem> lines;
    std::vector<ImageItem> images;
};

// The paper and how far down a band may reach on it: a printer that cannot
// print near the paper's bottom edge ends its pages higher. Positions stay
// measured from the paper's corner.
struct PageGeometry {
    QPageSize paper{QPageSize::A4};
    double bottom = 0; // in report units from the paper's top edge

    static PageGeometry fullPage(const QPageSize& paper);
    double width() const;
};

struct Document {
    QString title;
    QPageSize pageSize;
    std::vector<Page> pages;
    bool cancelled = false;
};

// ---- Report elements ----------------------------------------------------------

enum TQRBandType { rbTitle, rbPageHeader, rbDetail };
enum TQRShapeType { qrsVertLine, qrsHorLine };
enum TPenStyle { psSolid, psDot };
enum TQRPaperSize { qrpDefault, qrpA4 };
enum TAlignment { taLeftJustify, taCenter };

// A font for report elements: size in pixels of 1/96 inch, metrics free of
// screen hinting so that layout is the same for every device.
QFont reportFont(const QString& family, int pixels, bool bold = false, bool underline = false);
// A widget's font (point sizes at 96 dpi) as a report font.
QFont reportFontFrom(const QFont& widgetFont);

class TQRPrintable {
public:
    explicit TQRPrintable(QString name) : Name(std::move(name)) {}
    virtual ~TQRPrintable() = default;
    void setBounds(int left, int top, int width, int height) {
        Left = left;
        Top = top;
        Width = width;
        Height = height;
    }
    // Adds what this element prints when its band's corner stands at origin.
    virtual void print(Page& page, QPoint origin, const RowSource* rows) const = 0;

    QString Name;
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    bool Enabled = true; // false: hidden, prints nothing
};

// Text placed in a box: left-aligned from its left edge or centred in its
// width.
class TQRTextElement : public TQRPrintable {
public:
    using TQRPrintable::TQRPrintable;
    QFont Font = reportFont(QStringLiteral("Arial"), 11);
    QColor Color = Qt::black;
    TAlignment Alignment = taLeftJustify;

protected:
    // clip: a text wider than the box is cut at its edge.
    void printText(Page& page, QPoint origin, const QString& text, bool clip) const;
};

// A caption is never cut: it runs on past its box, as an auto-sized label does.
class TQRLabel : public TQRTextElement {
public:
    using TQRTextElement::TQRTextElement;
    void print(Page& page, QPoint origin, const RowSource* rows) const override;
    QString Caption;
};

// A field text is cut at its box, which never stretches.
class TQRDBText : public TQRTextElement {
public:
    using TQRTextElement::TQRTextElement;
    void print(Page& page, QPoint origin, const RowSource* rows) const override;
    QString DataField;
};

// A line along the box's left edge (vertical) or top edge (horizontal).
class TQRShape : public TQRPrintable {
public:
    using TQRPrintable::TQRPrintable;
    void print(Page& page, QPoint origin, const RowSource* rows) const override;
    TQRShapeType Shape = qrsHorLine;
    TPenStyle PenStyle = psSolid;
    int PenWidth = 1;
    QColor Color = Qt::black;
};

// Lines of text one below the other at the height of "A" in the font; a line
// wider than the box breaks at word boundaries; only lines lying wholly
// within the box's height print.
class TQRMemo : public TQRPrintable {
public:
    using TQRPrintable::TQRPrintable;
    void print(Page& page, QPoint origin, const RowSource* rows) const override;
    QStringList Lines;
    QFont Font = reportFont(QStringLiteral("Arial"), 11);
    QColor Color = Qt::black;
};

// A picture scaled into its box with its aspect ratio kept, centred there:
// the row's picture of DataField when that is set, else Picture. Prints
// nothing without a picture.
class TQRImage : public TQRPrintable {
public:
    using TQRPrintable::TQRPrintable;
    void print(Page& page, QPoint origin, const RowSource* rows) const override;
    QImage Picture;
    QString DataField;
};

// The line pitch of a memo in that font: the height of "A" (ascent plus
// descent), rounded up to whole units.
int lineHeight(const QFont& font);
// Breaks text at word boundaries into pieces no wider than width (a word
// wider than width alone breaks between characters), as a word-wrapping
// text field does.
QStringList wrapLine(const QString& text, const QFont& font, double width);

class TQRBand {
public:
    TQRBand(QString name, TQRBandType type, int height)
        : Name(std::move(name)), BandType(type), Height(height) {}
    template <class Element> Element* add(const QString& name) {
        auto element = std::make_unique<Element>(name);
        Element* raw = element.get();
        elements_.push_back(std::move(element));
        return raw;
    }
    const std::vector<std::unique_ptr<TQRPrintable>>& elements() const { return elements_; }
    void print(Page& page, QPoint origin, const RowSource* rows) const;

    QString Name;
    TQRBandType BandType;
    int Height;
    // Detail bands only: rows stand side by side in Columns columns, filled
    // across before down (as on a sheet of labels), each ColumnWidth units
    // right of the one before (0: the paper's width shared out evenly). The
    // detail bands of one report share the first one's columns.
    int Columns = 1;
    int ColumnWidth = 0;

private:
    std::vector<std::unique_ptr<TQRPrintable>> elements_;
};

class TQuickReport;

// Where each page of a run begins, by arithmetic from the fixed band
// heights: page 0 holds the title and the page header, every later page
// the page header, and as many rows as fit above the geometry's bottom (a
// row taller than a page still gets a page of its own).
struct Pagination {
    PageGeometry geometry;
    int rows = 0;      // rows of the run; 1 without a data source
    int firstPage = 0; // rows on page 0
    int perPage = 0;   // rows on every later page
    int pageCount() const;
    int firstRow(int page) const;
    int rowsOn(int page) const;
};

class TQuickReport {
public:
    TQRBand* addBand(const QString& name, TQRBandType type, int height);
    const std::vector<std::unique_ptr<TQRBand>>& bands() const { return bands_; }

    // Begins a run on that geometry: settles the data source and counts its
    // rows.
    Pagination begin(const PageGeometry& geometry) const;
    // Lays out one page of a run begun with begin, and only that page.
    Page layoutPage(const Pagination& pagination, int page) const;
    // Ends a run: the data source is left on lastRow.
    void end(const Pagination& pagination, int lastRow) const;

    // The whole run page by page: pageDone hears each finished page and its
    // number (from 1) and returns false to stop there. False when stopped.
    // The data source is left on the last row laid out.
    bool run(const PageGeometry& geometry, const std::function<bool(Page&&, int)>& pageDone) const;
    // The same run collected (for tests and small reports); progress, when
    // given, hears the number of pages so far and returns false to cancel.
    Document layout(const PageGeometry& geometry,
                    const std::function<bool(int)>& progress = {}) const;
    // On full A4 (or paper, when given).
    Document layout(const QPageSize& paper = QPageSize(QPageSize::A4)) const;

    QString ReportTitle;
    TQRPaperSize PaperSize = qrpA4;
    // A paper of the report's own, such as a sheet of labels in US Letter:
    // when valid, the preview and the printer use it instead of PaperSize.
    QPageSize Paper;
    RowSource* DataSource = nullptr;
    bool TitleBeforeHeader = true;
    bool RestartData = true;

private:
    std::vector<std::unique_ptr<TQRBand>> bands_;
};

// Paints one page on painter, whose device has dpi dots per inch and whose
// origin is the paper's top-left corner.
void paintPage(QPainter& painter, const Page& page, double dpiX, double dpiY);

// Paints a run page by page on an open painter of device (newPage between
// them), never holding more than one page. progress as for layout.
bool paintRun(const TQuickReport& report, const PageGeometry& geometry, QPainter& painter,
              QPagedPaintDevice& device, double dpi, const std::function<bool(int)>& progress);

// Writes a run (or laid-out pages) to a PDF file. The pages go to a
// temporary file beside it that replaces fileName only when complete, so a
// failed or cancelled run leaves an existing file as it was. False when
// progress cancelled; raises ReportError "Kann nicht nach %s schreiben" when
// the file cannot be written.
bool writePdf(const TQuickReport& report, const PageGeometry& geometry, const QString& fileName,
              const std::function<bool(int)>& progress = {});
void writePdf(const Document& document, const QString& fileName);

} // namespace vellumo::report
