// Sheets of labels as the label makers describe them: the gLabels template
// database that Debian ships (glabels-data), read at run time, with a few
// common A4 sheets built in for machines without it. All lengths are
// millimetres from the paper's top-left corner.
#pragma once

#include <QList>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>

#include <optional>

namespace vellumo::labels {

// One regular grid of labels on the sheet; a template may have several
// (staggered sheets).
struct LabelGrid {
    int nx = 1;
    int ny = 1;
    double x0 = 0; // the first label's top-left corner
    double y0 = 0;
    double dx = 0; // from one label's corner to the next one's
    double dy = 0;
};

struct LabelFormat {
    QString brand;       // "Zweckform"
    QString part;        // "3474"
    QString description; // the maker's words, as the database has them
    QString paper;       // "A4", "US-Letter", or "Other"
    QSizeF page;         // the sheet
    QSizeF label;        // one label
    double round = 0;    // corner radius
    QList<LabelGrid> grids;

    QString name() const { return brand + QLatin1Char(' ') + part; } // "Zweckform 3474"
    int labelsPerSheet() const;
    // Label index (0-based, reading order: top row first, left to right) on
    // one sheet; empty for an index past the sheet.
    QRectF cell(int index) const;
    // "3474" and "zweckform 3474" both find Zweckform 3474; every word of the
    // query must occur in brand, part or description.
    bool matches(const QString& query) const;
    // "70 × 37 mm, 24 je Blatt"
    QString summary() const;
};

// A length of the template language: "70mm", "2.5cm", "1in", "12pt", "3pc"
// or a bare number of points; an empty text counts as 0. nullopt for
// anything else.
std::optional<double> lengthInMm(const QString& text);

class LabelCatalogue {
public:
    // Where Debian puts the templates.
    static QString defaultDirectory();

    // Reads every *-templates.xml of directory (with its paper-sizes.xml);
    // falls back to builtIn() when the directory holds none. Templates that
    // cannot be read are left out and named in problems().
    static LabelCatalogue load(const QString& directory = defaultDirectory());
    // Reads one template file; paper sizes by id. For tests and load().
    static QList<LabelFormat> readTemplates(const QByteArray& xml,
                                            const QList<std::pair<QString, QSizeF>>& papers,
                                            QStringList* problems);

    // Zweckform 3474, 3475, 3490, 3425 and Avery L7160 on A4.
    static QList<LabelFormat> builtIn();

    const QList<LabelFormat>& formats() const { return formats_; }
    const QStringList& problems() const { return problems_; }
    bool fromDatabase() const { return fromDatabase_; }

    // "3474" or "Zweckform 3474" (case does not matter); a bare part number
    // that several brands use gives the first in the catalogue's order.
    std::optional<LabelFormat> find(const QString& part) const;
    QList<LabelFormat> search(const QString& query) const;

private:
    QList<LabelFormat> formats_;
    QStringList problems_;
    bool fromDatabase_ = false;
};

} // namespace vellumo::labels
