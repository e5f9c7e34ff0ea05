#include "print/labels/labelformats.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QXmlStreamReader>

#include <algorithm>

namespace vellumo::labels {

namespace {

constexpr double kMmPerPoint = 25.4 / 72.0;

QString attribute(const QXmlStreamReader& xml, const char* name) {
    return xml.attributes().value(QLatin1String(name)).toString();
}

// A length attribute; reports the template by name when it is no length.
double length(const QXmlStreamReader& xml, const char* name, bool* ok) {
    auto mm = lengthInMm(attribute(xml, name));
    if (!mm) {
        *ok = false;
        return 0;
    }
    return *mm;
}

int count(const QXmlStreamReader& xml, const char* name, bool* ok) {
    bool converted = false;
    int n = attribute(xml, name).toInt(&converted);
    if (!converted || n < 1 || n > 1000) {
        *ok = false;
        return 1;
    }
    return n;
}

struct Pending {
    LabelFormat format;
    QString equiv; // the base template's part, same brand
    bool usable = true;
    bool rectangular = false;
};

// Reads one <Template> element; the reader stands on its start.
Pending readTemplate(QXmlStreamReader& xml, const QList<std::pair<QString, QSizeF>>& papers) {
    Pending t;
    bool ok = true;
    t.format.brand = attribute(xml, "brand");
    t.format.part = attribute(xml, "part");
    t.format.description = attribute(xml, "_description");
    if (t.format.description.isEmpty())
        t.format.description = attribute(xml, "description");
    t.equiv = attribute(xml, "equiv");
    t.format.paper = attribute(xml, "size");
    if (t.equiv.isEmpty()) {
        auto paper = std::find_if(papers.begin(), papers.end(),
                                  [&](const auto& p) { return p.first == t.format.paper; });
        if (paper != papers.end()) {
            t.format.page = paper->second;
        } else {
            t.format.page = QSizeF(length(xml, "width", &ok), length(xml, "height", &ok));
            if (t.format.page.isEmpty())
                ok = false;
        }
    }
    bool inRectangle = false;
    while (xml.readNextStartElement() || xml.isEndElement()) {
        if (xml.isEndElement()) {
            if (xml.name() == QLatin1String("Template"))
                break;
            if (xml.name().startsWith(QLatin1String("Label-")))
                inRectangle = false;
            continue;
        }
        const auto name = xml.name();
        if (name == QLatin1String("Label-rectangle") && !t.rectangular) {
            t.rectangular = true;
            inRectangle = true;
            t.format.label = QSizeF(length(xml, "width", &ok), length(xml, "height", &ok));
            // The corner radius is only drawn, never laid out: a bad one
            // ("in" without a number stands in the database) counts as none.
            t.format.round = lengthInMm(attribute(xml, "round")).value_or(0.0);
            if (t.format.label.isEmpty())
                ok = false;
        } else if (name == QLatin1String("Layout") && inRectangle) {
            LabelGrid g;
            g.nx = count(xml, "nx", &ok);
            g.ny = count(xml, "ny", &ok);
            g.x0 = length(xml, "x0", &ok);
            g.y0 = length(xml, "y0", &ok);
            g.dx = length(xml, "dx", &ok);
            g.dy = length(xml, "dy", &ok);
            t.format.grids.append(g);
            xml.skipCurrentElement();
            continue;
        } else if (!name.startsWith(QLatin1String("Label-"))) {
            xml.skipCurrentElement();
            continue;
        }
    }
    if (t.equiv.isEmpty() && (!ok || (t.rectangular && t.format.grids.isEmpty())))
        t.usable = false;
    return t;
}

bool lessByName(const LabelFormat& a, const LabelFormat& b) {
    static const QCollator collator = [] {
        QCollator c{QLocale(QLocale::German, QLocale::Germany)};
        c.setNumericMode(true);
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    if (int c = collator.compare(a.brand, b.brand))
        return c < 0;
    return collator.compare(a.part, b.part) < 0;
}

QList<std::pair<QString, QSizeF>> readPaperSizes(const QString& path) {
    QList<std::pair<QString, QSizeF>> papers{{QStringLiteral("A4"), QSizeF(210, 297)},
                                             {QStringLiteral("US-Letter"), QSizeF(215.9, 279.4)}};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return papers;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement ||
            xml.name() != QLatin1String("Paper-size"))
            continue;
        auto w = lengthInMm(attribute(xml, "width"));
        auto h = lengthInMm(attribute(xml, "height"));
        QString id = attribute(xml, "id");
        if (w && h && *w > 0 && *h > 0 && !id.isEmpty())
            papers.append({id, QSizeF(*w, *h)});
    }
    return papers;
}

} // namespace

std::optional<double> lengthInMm(const QString& text) {
    QString t = text.trimmed();
    if (t.isEmpty())
        return 0.0;
    struct Unit {
        const char* suffix;
        double mm;
    };
    static constexpr Unit kUnits[] = {
        {"mm", 1.0}, {"cm", 10.0}, {"in", 25.4}, {"pt", kMmPerPoint}, {"pc", 12 * kMmPerPoint}};
    double factor = kMmPerPoint;
    for (const Unit& u : kUnits) {
        if (t.endsWith(QLatin1String(u.suffix))) {
            factor = u.mm;
            t.chop(2);
            break;
        }
    }
    bool ok = false;
    double value = t.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < -10000 || value > 10000)
        return std::nullopt;
    return value * factor;
}

int LabelFormat::labelsPerSheet() const {
    int n = 0;
    for (const LabelGrid& g : grids)
        n += g.nx * g.ny;
    return n;
}

QRectF LabelFormat::cell(int index) const {
    QList<QPointF> corners;
    for (const LabelGrid& g : grids)
        for (int row = 0; row < g.ny; ++row)
            for (int col = 0; col < g.nx; ++col)
                corners.append(QPointF(g.x0 + col * g.dx, g.y0 + row * g.dy));
    if (index < 0 || index >= corners.size())
        return {};
    // Reading order over all grids: rows from the top, within a row from the
    // left (a hundredth of a millimetre apart counts as one row).
    std::stable_sort(corners.begin(), corners.end(), [](const QPointF& a, const QPointF& b) {
        if (std::abs(a.y() - b.y()) > 0.01)
            return a.y() < b.y();
        return a.x() < b.x();
    });
    return QRectF(corners[index], label);
}

bool LabelFormat::matches(const QString& query) const {
    const QString haystack = brand + QLatin1Char(' ') + part + QLatin1Char(' ') + description;
    const QStringList words = query.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return std::all_of(words.begin(), words.end(),
                       [&](const QString& w) { return haystack.contains(w, Qt::CaseInsensitive); });
}

QString LabelFormat::summary() const {
    auto mm = [](double v) { return QLocale(QLocale::German).toString(v, 'g', 4); };
    return QStringLiteral("%1 × %2 mm, %3 je Blatt")
        .arg(mm(label.width()), mm(label.height()))
        .arg(labelsPerSheet());
}

QString LabelCatalogue::defaultDirectory() {
    return QStringLiteral("/usr/share/libglabels-3.0/templates");
}

QList<LabelFormat> LabelCatalogue::readTemplates(const QByteArray& data,
                                                 const QList<std::pair<QString, QSizeF>>& papers,
                                                 QStringList* problems) {
    QXmlStreamReader xml(data);
    QList<Pending> pending;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement &&
            xml.name() == QLatin1String("Template"))
            pending.append(readTemplate(xml, papers));
    }
    if (xml.hasError() && problems)
        problems->append(QStringLiteral("XML-Fehler in Zeile %1: %2")
                             .arg(xml.lineNumber())
                             .arg(xml.errorString()));
    QList<LabelFormat> formats;
    for (const Pending& p : pending) {
        if (!p.equiv.isEmpty()) {
            auto base = std::find_if(pending.begin(), pending.end(), [&](const Pending& b) {
                return b.equiv.isEmpty() && b.format.brand == p.format.brand &&
                       b.format.part == p.equiv;
            });
            if (base == pending.end()) {
                // The base may stand in another file of the same brand: kept
                // for the catalogue to resolve.
                LabelFormat alias = p.format;
                alias.description = QStringLiteral("=") + p.equiv;
                formats.append(alias);
                continue;
            }
            if (!base->usable || !base->rectangular)
                continue;
            LabelFormat copy = base->format;
            copy.part = p.format.part;
            formats.append(copy);
        } else if (!p.usable) {
            if (problems)
                problems->append(
                    QStringLiteral("Vorlage „%1“ ist nicht lesbar.").arg(p.format.name()));
        } else if (p.rectangular) {
            formats.append(p.format);
        }
    }
    return formats;
}

LabelCatalogue LabelCatalogue::load(const QString& directory) {
    LabelCatalogue catalogue;
    QDir dir(directory);
    const QStringList files =
        dir.entryList({QStringLiteral("*-templates.xml")}, QDir::Files, QDir::Name);
    if (!files.isEmpty()) {
        const auto papers = readPaperSizes(dir.filePath(QStringLiteral("paper-sizes.xml")));
        for (const QString& name : files) {
            QFile file(dir.filePath(name));
            if (!file.open(QIODevice::ReadOnly)) {
                catalogue.problems_.append(
                    QStringLiteral("%1 kann nicht gelesen werden.").arg(file.fileName()));
                continue;
            }
            catalogue.formats_.append(readTemplates(file.readAll(), papers, &catalogue.problems_));
        }
        // Aliases whose base stood in another file.
        QHash<QString, LabelFormat> bases;
        for (const LabelFormat& f : catalogue.formats_)
            if (!f.description.startsWith(QLatin1Char('=')))
                bases.insert(f.brand + QLatin1Char('\n') + f.part, f);
        for (auto it = catalogue.formats_.begin(); it != catalogue.formats_.end();) {
            if (!it->description.startsWith(QLatin1Char('='))) {
                ++it;
                continue;
            }
            auto base = bases.constFind(it->brand + QLatin1Char('\n') + it->description.mid(1));
            if (base == bases.cend()) {
                it = catalogue.formats_.erase(it);
                continue;
            }
            QString part = it->part;
            *it = *base;
            it->part = part;
            ++it;
        }
    }
    if (catalogue.formats_.isEmpty()) {
        catalogue.formats_ = builtIn();
    } else {
        catalogue.fromDatabase_ = true;
    }
    std::stable_sort(catalogue.formats_.begin(), catalogue.formats_.end(), lessByName);
    return catalogue;
}

QList<LabelFormat> LabelCatalogue::builtIn() {
    auto a4 = [](const char* brand, const char* part, const char* description, double w, double h,
                 LabelGrid grid) {
        LabelFormat f;
        f.brand = QString::fromUtf8(brand);
        f.part = QString::fromUtf8(part);
        f.description = QString::fromUtf8(description);
        f.paper = QStringLiteral("A4");
        f.page = QSizeF(210, 297);
        f.label = QSizeF(w, h);
        f.grids = {grid};
        return f;
    };
    // Points converted as the database states them, so both agree exactly.
    const double pt = kMmPerPoint;
    return {
        a4("Avery", "L7160", "Mailing labels", 181.4 * pt, 108.0 * pt,
           {3, 7, 21.2 * pt, 43.9 * pt, 187.2 * pt, 108.0 * pt}),
        a4("Zweckform", "3425", "Address Labels", 105, 57, {2, 5, 0, 6, 105, 57}),
        a4("Zweckform", "3474", "Address Labels", 70, 37, {3, 8, 0, 0, 70, 37}),
        a4("Zweckform", "3475", "Address Labels", 198.570 * pt, 102.121 * pt,
           {3, 8, 0, 12.566 * pt, 198.570 * pt, 102.121 * pt}),
        a4("Zweckform", "3490", "Rectangular Copier Labels", 198.425 * pt, 102.047 * pt,
           {3, 8, 0, 12.557 * pt, 198.425 * pt, 102.047 * pt}),
    };
}

std::optional<LabelFormat> LabelCatalogue::find(const QString& part) const {
    const QString wanted = part.simplified();
    for (const LabelFormat& f : formats_)
        if (f.name().compare(wanted, Qt::CaseInsensitive) == 0)
            return f;
    for (const LabelFormat& f : formats_)
        if (f.part.compare(wanted, Qt::CaseInsensitive) == 0)
            return f;
    return std::nullopt;
}

QList<LabelFormat> LabelCatalogue::search(const QString& query) const {
    QList<LabelFormat> found;
    for (const LabelFormat& f : formats_)
        if (f.matches(query))
            found.append(f);
    return found;
}

} // namespace vellumo::labels
