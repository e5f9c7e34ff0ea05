#include "print/labelstyle.h"

#include "address/postaladdress.h"
#include "print/pagedrows.h"

#include <QFontMetricsF>

#include <cmath>

using namespace vellumo::report;

namespace vellumo::print {

namespace {

constexpr double kUnitsPerMm = kUnitsPerInch / 25.4;
// Room kept free inside a label: printers shift a little, and a text on the
// edge is cut when the label is peeled off.
constexpr double kPadLeftMm = 5.0;
constexpr double kPadRightMm = 4.0;
constexpr double kPadVerticalMm = 3.5;
constexpr double kSmallestPoints = 8.0;

QFont fontOf(const QString& family, double points) {
    return reportFont(family,
                      std::max(1, static_cast<int>(std::lround(points * kUnitsPerInch / 72.0))));
}

} // namespace

struct LabelStyle::State {
    RowSource* rows = nullptr;
    labels::LabelFormat format;
    int start = 1;
    bool household = false;
    QString family = QStringLiteral("Liberation Sans");
    double points = 10;
    double correctionX = 0; // mm
    double correctionY = 0;
    bool calibration = false;
    bool mark = false;

    // Of the run under way.
    int records = 0;
    QList<address::Household> households; // household runs read every address first

    int perSheet() const { return std::max(1, format.labelsPerSheet()); }
    int skipped() const { return std::clamp(start, 1, perSheet()) - 1; }
    int labelCount() const { return household ? static_cast<int>(households.size()) : records; }

    address::PostalAddress address(int record) const {
        rows->Seek(record);
        return address::postalAddressOf([this](const QString& f) { return rows->FieldText(f); });
    }

    // The lines of the label at that place of that sheet; empty for a cell
    // left free or past the last address.
    QStringList lines(int sheet, int cell) const {
        const int label = sheet * perSheet() + cell - skipped();
        if (label < 0 || label >= labelCount())
            return {};
        if (household)
            return households[label].lines;
        return address::postalLines(address(label));
    }

    // The last record a run that ended on that sheet printed.
    int lastRecord(int sheet) const {
        const int label = std::min(labelCount() - 1, (sheet + 1) * perSheet() - skipped() - 1);
        if (label < 0)
            return 0;
        if (!household)
            return label;
        // A household's members may stand far apart: the run got as far as
        // the furthest member of any label printed.
        int furthest = 0;
        for (int i = 0; i <= label; ++i)
            furthest = std::max(furthest, households[i].members.last());
        return furthest;
    }
};

namespace {

// The rows of a label run are its sheets: the records behind them are read
// by the sheet's element, and only those of the sheet laid out.
class Sheets : public PagedRows {
public:
    explicit Sheets(LabelStyle::State& state) : PagedRows(state.rows), state_(state) {}
    int Count() override {
        state_.households.clear();
        state_.records = state_.rows && !state_.calibration ? state_.rows->Count() : 0;
        if (state_.calibration)
            return 1;
        if (state_.household) {
            QList<address::PostalAddress> all;
            all.reserve(state_.records);
            for (int i = 0; i < state_.records; ++i)
                all.append(state_.address(i));
            state_.households = address::householdLabels(all);
        }
        const int used = state_.skipped() + state_.labelCount();
        return state_.labelCount() == 0 ? 0 : (used + state_.perSheet() - 1) / state_.perSheet();
    }
    int sheet() const { return page(); }

protected:
    int lastRowOf(int sheet) const override {
        return state_.records > 0 ? state_.lastRecord(sheet) : -1;
    }

private:
    LabelStyle::State& state_;
};

// One sheet: every label's address, or the cells ruled for calibration.
class SheetElement : public TQRPrintable {
public:
    using TQRPrintable::TQRPrintable;
    void bind(LabelStyle::State& state, const Sheets& sheets) {
        state_ = &state;
        sheets_ = &sheets;
    }

    void print(Page& page, QPoint, const RowSource*) const override {
        const int cells = state_->format.labelsPerSheet();
        for (int cell = 0; cell < cells; ++cell) {
            QRectF mm =
                state_->format.cell(cell).translated(state_->correctionX, state_->correctionY);
            const QRectF box(mm.left() * kUnitsPerMm, mm.top() * kUnitsPerMm,
                             mm.width() * kUnitsPerMm, mm.height() * kUnitsPerMm);
            if (state_->calibration)
                rule(page, box, cell);
            else
                address(page, box, state_->lines(sheets_->sheet(), cell));
        }
    }

private:
    void rule(Page& page, const QRectF& box, int cell) const {
        const QPointF corners[] = {box.topLeft(), box.topRight(), box.bottomRight(),
                                   box.bottomLeft()};
        for (int i = 0; i < 4; ++i)
            page.lines.push_back(
                {QLineF(corners[i], corners[(i + 1) % 4]), 1, Qt::SolidLine, Qt::black});
        const QPointF c = box.center();
        page.lines.push_back(
            {QLineF(c - QPointF(10, 0), c + QPointF(10, 0)), 1, Qt::SolidLine, Qt::black});
        page.lines.push_back(
            {QLineF(c - QPointF(0, 10), c + QPointF(0, 10)), 1, Qt::SolidLine, Qt::black});
        const QFont font = fontOf(state_->family, 8);
        const QFontMetricsF metrics(font);
        const QString number = QString::number(cell + 1);
        const QPointF origin(box.left() + 6, box.top() + 6 + metrics.ascent());
        page.texts.push_back({number,
                              font,
                              Qt::black,
                              origin,
                              QRectF(origin.x(), box.top() + 6, metrics.horizontalAdvance(number),
                                     metrics.ascent() + metrics.descent()),
                              {}});
    }

    void address(Page& page, const QRectF& box, const QStringList& lines) const {
        if (lines.isEmpty())
            return;
        const QRectF inner =
            box.adjusted(kPadLeftMm * kUnitsPerMm, kPadVerticalMm * kUnitsPerMm,
                         -kPadRightMm * kUnitsPerMm, -kPadVerticalMm * kUnitsPerMm);
        // The largest size from the chosen one down to 8 pt at which every
        // line fits; a line that still does not is cut at the label's room.
        QFont font;
        double widest = 0;
        int pitch = 0;
        for (double pt = state_->points;; pt -= 0.5) {
            font = fontOf(state_->family, std::max(pt, kSmallestPoints));
            const QFontMetricsF metrics(font);
            widest = 0;
            for (const QString& line : lines)
                widest = std::max(widest, metrics.horizontalAdvance(line));
            pitch = lineHeight(font);
            if ((widest <= inner.width() &&
                 pitch * static_cast<double>(lines.size()) <= inner.height()) ||
                pt <= kSmallestPoints)
                break;
        }
        const QFontMetricsF metrics(font);
        const double blockHeight = pitch * static_cast<double>(lines.size());
        double top = inner.top() + std::max(0.0, (inner.height() - blockHeight) / 2.0);
        for (const QString& line : lines) {
            const double advance = metrics.horizontalAdvance(line);
            TextItem item;
            item.text = line;
            item.font = font;
            item.color = Qt::black;
            item.origin = QPointF(inner.left(), top + metrics.ascent());
            item.extent = QRectF(inner.left(), top, advance, metrics.ascent() + metrics.descent());
            if (advance > inner.width() || top + pitch > inner.bottom() + 0.5) {
                item.clip = inner;
                if (state_->mark)
                    page.lines.push_back(
                        {QLineF(inner.left(), top + pitch, inner.right(), top + pitch), 2,
                         Qt::SolidLine, Qt::red});
            }
            page.texts.push_back(std::move(item));
            top += pitch;
        }
    }

    LabelStyle::State* state_ = nullptr;
    const Sheets* sheets_ = nullptr;
};

} // namespace

LabelStyle::LabelStyle(RowSource* rows) : state_(std::make_unique<State>()) {
    state_->rows = rows;
    const auto& formats = catalogue().formats();
    const auto first = catalogue().find(QStringLiteral("Zweckform 3474"));
    setFormat(first ? *first : formats.value(0));

    auto sheets = std::make_unique<Sheets>(*state_);
    QuickReport.ReportTitle = QStringLiteral("Vellumo (Etiketten)");
    QuickReport.DataSource = sheets.get();
    // One detail row a sheet: the band is taller than any paper.
    TQRBand* band = QuickReport.addBand(QStringLiteral("Bogen"), rbDetail, 1 << 20);
    band->add<SheetElement>(QStringLiteral("Etikettenbogen"))->bind(*state_, *sheets);
    sheets_ = std::move(sheets);
}

LabelStyle::~LabelStyle() = default;

const labels::LabelCatalogue& LabelStyle::catalogue() {
    static const labels::LabelCatalogue catalogue = labels::LabelCatalogue::load();
    return catalogue;
}

void LabelStyle::setFormat(const labels::LabelFormat& format) {
    state_->format = format;
    // The sheet is the paper, A4 or US Letter, whatever the printer would take.
    QuickReport.Paper = QPageSize(format.page, QPageSize::Millimeter);
}

const labels::LabelFormat& LabelStyle::format() const {
    return state_->format;
}

QList<StyleOption> LabelStyle::options() const {
    const State& s = *state_;
    return {{QStringLiteral("Format"),
             QStringLiteral("Etikettenbogen"),
             s.format.name(),
             {},
             {},
             QStringLiteral("BOGEN")},
            {QStringLiteral("Start"),
             QStringLiteral("Erstes Etikett"),
             s.start,
             {},
             QStringLiteral("--start"),
             QStringLiteral("N")},
            {QStringLiteral("Haushalt"),
             QStringLiteral("Ein Etikett je Haushalt"),
             s.household,
             {},
             QStringLiteral("--household")},
            {QStringLiteral("Schrift"), QStringLiteral("Schriftart"), s.family},
            {QStringLiteral("Groesse"), QStringLiteral("Schriftgröße"), s.points},
            {QStringLiteral("KorrekturX"), QStringLiteral("Korrektur rechts (mm)"), s.correctionX},
            {QStringLiteral("KorrekturY"), QStringLiteral("Korrektur unten (mm)"), s.correctionY},
            {QStringLiteral("Kalibrierung"), QStringLiteral("Kalibrierseite"), s.calibration},
            {QStringLiteral("Markieren"), QStringLiteral("Zu lange Zeilen markieren"), s.mark}};
}

void LabelStyle::setOption(const QString& key, const QVariant& value) {
    State& s = *state_;
    if (key == QLatin1String("Format")) {
        const auto found = catalogue().find(value.toString());
        if (!found)
            throw ReportError(QStringLiteral("Der Etikettenbogen \"%1\" ist nicht bekannt")
                                  .arg(value.toString()));
        setFormat(*found);
    } else if (key == QLatin1String("Start")) {
        s.start = std::clamp(value.toInt(), 1, s.perSheet());
    } else if (key == QLatin1String("Haushalt")) {
        s.household = value.toBool();
    } else if (key == QLatin1String("Schrift")) {
        s.family = value.toString();
    } else if (key == QLatin1String("Groesse")) {
        s.points = std::clamp(value.toDouble(), kSmallestPoints, 72.0);
    } else if (key == QLatin1String("KorrekturX")) {
        s.correctionX = std::clamp(value.toDouble(), -20.0, 20.0);
    } else if (key == QLatin1String("KorrekturY")) {
        s.correctionY = std::clamp(value.toDouble(), -20.0, 20.0);
    } else if (key == QLatin1String("Kalibrierung")) {
        s.calibration = value.toBool();
    } else if (key == QLatin1String("Markieren")) {
        s.mark = value.toBool();
    } else {
        unknownOption(name(), key);
    }
}

PageGeometry LabelStyle::geometry() const {
    return PageGeometry::fullPage(QuickReport.Paper);
}

} // namespace vellumo::print
