// A banded report engine. A report is a list of bands (title, page header,
// detail) holding labels, field texts, lines and memos at integer positions
// in report units of 1/96 inch. Laying a report out gives pages of plain
// primitives (texts and lines, still in report units) that tests inspect and
// that paint on any QPainter: a printer, the preview, a PDF writer.
//
// The engine knows nothing of the table it prints: rows come through the
// small RowSource interface, and field texts by the names the report asks for.
#pragma once

#include <QColor>
#include <QFont>
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
class QWidget;

namespace vellumo::report {

constexpr double UnitsPerInch = 96.0;

// A failure the user reads, in German (printer refused, file not writable).
class ReportError : public std::runtime_error {
public:
    explicit ReportError(const QString& text) : std::runtime_error(text.toStdString()) {}
    QString text() const { return QString::fromStdString(what()); }
};

// Where the rows of a report come from. First makes the first row current
// (false when there is none), Next the following one (false when no further
// row follows; the current row then stays where it is).
class RowSource {
public:
    virtual ~RowSource() = default;
    virtual bool First() = 0;
    virtual bool Next() = 0;
    virtual QString FieldText(const QString& field) const = 0;
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

struct Page {
    std::vector<TextItem> texts;
    std::vector<LineItem> lines;
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
    // Adds what this element prints when its band stands at bandTop.
    virtual void print(Page& page, int bandTop, const RowSource* rows) const = 0;

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
    void printText(Page& page, int bandTop, const QString& text, bool clip) const;
};

// A caption is never cut: it runs on past its box, as an auto-sized label does.
class TQRLabel : public TQRTextElement {
public:
    using TQRTextElement::TQRTextElement;
    void print(Page& page, int bandTop, const RowSource* rows) const override;
    QString Caption;
};

// A field text is cut at its box, which never stretches.
class TQRDBText : public TQRTextElement {
public:
    using TQRTextElement::TQRTextElement;
    void print(Page& page, int bandTop, const RowSource* rows) const override;
    QString DataField;
};

// A line along the box's left edge (vertical) or top edge (horizontal).
class TQRShape : public TQRPrintable {
public:
    using TQRPrintable::TQRPrintable;
    void print(Page& page, int bandTop, const RowSource* rows) const override;
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
    void print(Page& page, int bandTop, const RowSource* rows) const override;
    QStringList Lines;
    QFont Font = reportFont(QStringLiteral("Arial"), 11);
    QColor Color = Qt::black;
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
    void print(Page& page, int top, const RowSource* rows) const;

    QString Name;
    TQRBandType BandType;
    int Height;

private:
    std::vector<std::unique_ptr<TQRPrintable>> elements_;
};

class TQuickReport {
public:
    TQRBand* addBand(const QString& name, TQRBandType type, int height);
    const std::vector<std::unique_ptr<TQRBand>>& bands() const { return bands_; }

    // The paper the report is laid out on: A4, or the default printer's
    // default paper (A4 when there is no printer).
    QPageSize paperSize() const;

    // Lays the report out. progress, when given, hears the number of pages
    // begun so far and returns false to cancel (the document comes back
    // with cancelled set). With a data source the run starts at the first
    // row and leaves the source on the last row it printed.
    Document layout(const std::function<bool(int)>& progress = {}) const;
    Document layout(const QPageSize& paper, const std::function<bool(int)>& progress = {}) const;
    // The same run page by page: pageDone hears each finished page and its
    // number (from 1) and returns false to stop there. False when stopped.
    bool run(const QPageSize& paper, const std::function<bool(Page&&, int)>& pageDone) const;

    // Lays out and sends the pages straight to the system's default printer,
    // with a progress window that can cancel. Without a printer the user may
    // save the pages as PDF instead. Raises ReportError when the printer
    // fails.
    void Print(QWidget* parent = nullptr) const;
    // Lays out and shows the pages in a modal preview, from which they can
    // also be printed or saved as PDF. Returns when the preview closes.
    void Preview(QWidget* parent = nullptr) const;
    // Runs the report into a PDF file, with the progress window; false when
    // the user cancelled (no file is left then). Raises ReportError "Kann
    // nicht nach %s schreiben" when the file cannot be written.
    bool writePdf(const QString& fileName, QWidget* parent = nullptr) const;
    // Asks for a PDF file name (German save dialog, "*.pdf", the title as
    // suggestion) and writes the report there; false when cancelled.
    bool savePdfAs(QWidget* parent = nullptr) const;

    QString ReportTitle;
    TQRPaperSize PaperSize = qrpA4;
    RowSource* DataSource = nullptr;
    bool TitleBeforeHeader = true;
    bool RestartData = true;

private:
    std::vector<std::unique_ptr<TQRBand>> bands_;
};

// Paints one page on painter, whose device has dpi dots per inch and whose
// origin is the paper's top-left corner.
void paintPage(QPainter& painter, const Page& page, double dpiX, double dpiY);
// Writes laid-out pages to a PDF file; raises ReportError "Kann nicht nach
// %s schreiben" when the file cannot be written.
void writePdf(const Document& document, const QString& fileName);

} // namespace vellumo::report
