#include "print/letterstyle.h"

#include "address/addresstable.h"
#include "address/postaladdress.h"
#include "platform/system/system.h"
#include "print/pagedrows.h"
#include "print/sender.h"

#include <QFontMetricsF>

#include <cmath>

using namespace vellumo::report;

namespace vellumo::print {

namespace {

constexpr double kUnitsPerMm = kUnitsPerInch / 25.4;
double mm(double millimetres) {
    return millimetres * kUnitsPerMm;
}

// The page by DIN 5008, in millimetres from the paper's top-left corner.
constexpr double kPageWidth = 210;
constexpr double kFieldLeft = 20;
constexpr double kFieldText = 25; // the address on the body's line, inside the field
constexpr double kFieldWidth = 85;
constexpr double kFieldHeight = 45;
constexpr double kFieldTopB = 45;
constexpr double kFieldTopA = 27;
constexpr double kRecipientZone = 27.3; // the lower part of the field
constexpr double kInfoLeft = 125;
constexpr double kBodyLeft = 25;
constexpr double kBodyRight = kPageWidth - 20;
constexpr double kLastLine = 272;     // no body line reaches below
constexpr double kFollowTop = 30;     // body on a later page
constexpr double kPageNumberTop = 15; // "Seite 2 von 3"
constexpr double kMarkLeft = 4;       // printers leave the outer 4 mm blank
constexpr double kFoldMarkLength = 6;
constexpr double kHoleMarkLength = 8;
constexpr int kMaxRecipientLines = 6;
const QString kFamily = QStringLiteral("Liberation Sans");

QFont fontOf(double points, bool bold = false) {
    return reportFont(
        kFamily, std::max(1, static_cast<int>(std::lround(points * kUnitsPerInch / 72.0))), bold);
}

} // namespace

struct LetterStyle::State {
    RowSource* rows = nullptr;
    LetterTemplate letter;
    bool formA = false;
    QString salutation = kDefaultSalutation;
    QString sender;
    QDate today = vellumo::now().date();
    QString templatePath;

    // Of the run under way: the pages of each letter, and where each starts.
    std::vector<int> firstPage; // by letter; one more at the end: the page count

    double fieldTop() const { return formA ? kFieldTopA : kFieldTopB; }

    address::PostalAddress address() const {
        return address::postalAddressOf([this](const QString& f) { return rows->FieldText(f); });
    }

    Letter letterOf(int row) const {
        rows->Seek(row);
        return fillLetter(
            letter, salutation,
            [this](const QString& field) {
                // A field the table lacks (another program's table) is empty.
                try {
                    return rows->FieldText(field);
                } catch (const ReportError&) {
                    return QString();
                }
            },
            today);
    }

    // The body as printed lines, split into pages: the first page's lines
    // start below the subject, the later ones at the top.
    std::vector<QStringList> bodyPages(const Letter& l) const {
        const QFont font = fontOf(11);
        const QFontMetricsF metrics(font);
        const double pitch = metrics.lineSpacing();
        const double width = mm(kBodyRight - kBodyLeft);
        QStringList lines;
        for (const QString& paragraph : l.body)
            lines +=
                paragraph.isEmpty() ? QStringList{QString()} : wrapLine(paragraph, font, width);
        std::vector<QStringList> pages(1);
        double top = bodyTop(!l.subject.isEmpty());
        for (const QString& line : lines) {
            if (top + pitch > mm(kLastLine)) {
                pages.emplace_back();
                top = mm(kFollowTop);
                if (line.isEmpty())
                    continue; // a page does not begin with a blank line
            }
            pages.back() << line;
            top += pitch;
        }
        return pages;
    }

    double bodyTop(bool subject) const {
        const double afterField = mm(fieldTop() + kFieldHeight + 8.46);
        if (!subject)
            return afterField;
        return afterField + 2 * QFontMetricsF(fontOf(11, true)).lineSpacing();
    }
};

namespace {

// The pages of the letters: row n of the run is page n of them all.
class LetterPages : public PagedRows {
public:
    explicit LetterPages(LetterStyle::State& state) : PagedRows(state.rows), state_(state) {}
    int Count() override {
        state_.firstPage.assign(1, 0);
        const int letters = state_.rows ? state_.rows->Count() : 0;
        for (int i = 0; i < letters; ++i)
            state_.firstPage.push_back(
                state_.firstPage.back() +
                static_cast<int>(state_.bodyPages(state_.letterOf(i)).size()));
        return state_.firstPage.back();
    }
    int letterOf(int page) const {
        const auto& starts = state_.firstPage;
        const auto after = std::upper_bound(starts.begin(), starts.end(), page);
        return static_cast<int>(after - starts.begin()) - 1;
    }

protected:
    int lastRowOf(int page) const override {
        return state_.firstPage.size() > 1 ? letterOf(page) : -1;
    }

private:
    LetterStyle::State& state_;
};

void addText(Page& page, const QString& text, const QFont& font, double left, double top) {
    const QFontMetricsF metrics(font);
    TextItem item;
    item.text = text;
    item.font = font;
    item.color = Qt::black;
    item.origin = QPointF(left, top + metrics.ascent());
    item.extent =
        QRectF(left, top, metrics.horizontalAdvance(text), metrics.ascent() + metrics.descent());
    page.texts.push_back(std::move(item));
}

void addRightAligned(Page& page, const QString& text, const QFont& font, double right, double top) {
    addText(page, text, font, right - QFontMetricsF(font).horizontalAdvance(text), top);
}

// One page of one letter.
class LetterPage : public TQRPrintable {
public:
    using TQRPrintable::TQRPrintable;
    void bind(LetterStyle::State& state, const LetterPages& pages) {
        state_ = &state;
        pages_ = &pages;
    }

    void print(Page& page, QPoint, const RowSource*) const override {
        const LetterStyle::State& s = *state_;
        const int letter = pages_->letterOf(pages_->page());
        const int first = s.firstPage[static_cast<std::size_t>(letter)];
        const int count = s.firstPage[static_cast<std::size_t>(letter) + 1] - first;
        const int number = pages_->page() - first; // from 0
        const Letter l = s.letterOf(letter);
        const std::vector<QStringList> body = s.bodyPages(l);
        marks(page);
        const QFont text = fontOf(11);
        const double pitch = QFontMetricsF(text).lineSpacing();
        double top = mm(kFollowTop);
        if (number == 0) {
            head(page, l, count);
            top = s.bodyTop(!l.subject.isEmpty());
        } else {
            addRightAligned(page, QStringLiteral("Seite %1 von %2").arg(number + 1).arg(count),
                            fontOf(9), mm(kBodyRight), mm(kPageNumberTop));
        }
        if (static_cast<std::size_t>(number) < body.size())
            for (const QString& line : body[static_cast<std::size_t>(number)]) {
                if (!line.isEmpty())
                    addText(page, line, text, mm(kBodyLeft), top);
                top += pitch;
            }
    }

private:
    // Folding marks where the sheet is folded for the window envelope, and
    // the hole mark at half the height.
    void marks(Page& page) const {
        const bool a = state_->formA;
        for (double y : {a ? 87.0 : 105.0, a ? 192.0 : 210.0})
            page.lines.push_back(
                {QLineF(mm(kMarkLeft), mm(y), mm(kMarkLeft + kFoldMarkLength), mm(y)), 1,
                 Qt::SolidLine, Qt::black});
        page.lines.push_back(
            {QLineF(mm(kMarkLeft), mm(148.5), mm(kMarkLeft + kHoleMarkLength), mm(148.5)), 1,
             Qt::SolidLine, Qt::black});
    }

    void head(Page& page, const Letter& l, int pages) const {
        const LetterStyle::State& s = *state_;
        const double field = s.fieldTop();
        const double recipientTop = field + kFieldHeight - kRecipientZone;
        if (!s.sender.isEmpty()) {
            // Small, at the foot of the return zone, within the field's width.
            const QFont small = fontOf(7);
            const QFontMetricsF metrics(small);
            QString line = metrics.elidedText(s.sender, Qt::ElideRight,
                                              mm(kFieldLeft + kFieldWidth - kFieldText - 1));
            const double height = metrics.ascent() + metrics.descent();
            addText(page, line, small, mm(kFieldText), mm(recipientTop - 1) - height);
        }
        const QFont text = fontOf(11);
        const QFontMetricsF metrics(text);
        double top = mm(recipientTop + 0.3);
        for (const QString& line :
             address::postalLines(s.address(), {.maxLines = kMaxRecipientLines})) {
            addText(page,
                    metrics.elidedText(line, Qt::ElideRight,
                                       mm(kFieldLeft + kFieldWidth - kFieldText - 1)),
                    text, mm(kFieldText), top);
            top += metrics.lineSpacing();
        }
        // The information block: the date, and the page count of a longer letter.
        double infoTop = mm(field + 5);
        addText(page, l.date, text, mm(kInfoLeft), infoTop);
        if (pages > 1)
            addText(page, QStringLiteral("Seite 1 von %1").arg(pages), text, mm(kInfoLeft),
                    infoTop + metrics.lineSpacing());
        if (!l.subject.isEmpty())
            addText(page, l.subject, fontOf(11, true), mm(kBodyLeft),
                    mm(field + kFieldHeight + 8.46));
    }

    LetterStyle::State* state_ = nullptr;
    const LetterPages* pages_ = nullptr;
};

} // namespace

QString returnLine(const QStringList& senderLines) {
    QStringList parts;
    for (const QString& line : senderLines)
        if (!line.trimmed().isEmpty())
            parts << line.simplified();
    return parts.join(QStringLiteral(" · "));
}

LetterStyle::LetterStyle(RowSource* rows) : state_(std::make_unique<State>()) {
    state_->rows = rows;
    // The envelope's sender, as the return line above the window.
    const SenderSettings sender = loadSenderSettings(senderIniPath());
    if (sender.print)
        state_->sender = returnLine(sender.lines);
    auto pages = std::make_unique<LetterPages>(*state_);
    QuickReport.ReportTitle = QStringLiteral("Vellumo (Serienbrief)");
    QuickReport.Paper = QPageSize(QPageSize::A4);
    QuickReport.DataSource = pages.get();
    // One detail row a page: the band is taller than any paper.
    TQRBand* band = QuickReport.addBand(QStringLiteral("Brief"), rbDetail, 1 << 20);
    band->add<LetterPage>(QStringLiteral("Briefseite"))->bind(*state_, *pages);
    pages_ = std::move(pages);
}

LetterStyle::~LetterStyle() = default;

QList<StyleOption> LetterStyle::options() const {
    const State& s = *state_;
    return {{QStringLiteral("Vorlage"),
             QStringLiteral("Briefvorlage"),
             s.templatePath,
             {},
             {},
             QStringLiteral("VORLAGE")},
            {QStringLiteral("Form"),
             QStringLiteral("Form nach DIN 5008"),
             s.formA ? QStringLiteral("A") : QStringLiteral("B"),
             {QStringLiteral("A"), QStringLiteral("B")},
             QStringLiteral("--form"),
             QStringLiteral("A|B")},
            {QStringLiteral("Anrede"), QStringLiteral("Anrede"), s.salutation},
            {QStringLiteral("Absender"), QStringLiteral("Rücksendeangabe"), s.sender},
            {QStringLiteral("Datum"), QStringLiteral("Datum"), s.today}};
}

void LetterStyle::setOption(const QString& key, const QVariant& value) {
    State& s = *state_;
    if (key == u"Vorlage") {
        s.letter = LetterTemplate::load(value.toString(), addressFieldNames());
        s.templatePath = value.toString();
    } else if (key == u"Text") {
        s.letter = LetterTemplate::parse(value.toString(), addressFieldNames());
        s.templatePath.clear();
    } else if (key == u"Form") {
        const QString form = value.toString().trimmed().toUpper();
        if (form != u"A" && form != u"B")
            throw ReportError(
                QStringLiteral("Die Form \"%1\" gibt es nicht (A oder B)").arg(value.toString()));
        s.formA = form == u"A";
    } else if (key == u"Anrede") {
        s.salutation = checkedPlaceholders(value.toString(), addressFieldNames(),
                                           QStringLiteral("in der Anrede"));
    } else if (key == u"Absender") {
        s.sender = value.toString();
    } else if (key == u"Datum") {
        s.today = value.toDate();
    } else {
        unknownOption(name(), key);
    }
}

PageGeometry LetterStyle::geometry() const {
    return PageGeometry::fullPage(QPageSize(QPageSize::A4));
}

Letter LetterStyle::letterFor(int row) const {
    return state_->letterOf(row);
}

} // namespace vellumo::print
