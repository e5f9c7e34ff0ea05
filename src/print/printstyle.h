// Print styles: each way of printing addresses (the envelope, the list, and
// what comes after) is one style. A style holds a report that lays out its
// pages and names the options a dialog or the command line may set.
//
// A new style is a new file with a class derived from PrintStyle and one
// line in the list of printStyles() (printstyle.cpp).
#pragma once

#include "platform/report/layout.h"

#include <QList>
#include <QString>
#include <QVariant>

#include <memory>
#include <vector>

namespace vellumo::print {

struct StyleOption {
    QString key;     // as setOption takes it
    QString caption; // as the user reads it
    QVariant value;  // the current value; its type is the option's
};

class PrintStyle {
public:
    virtual ~PrintStyle() = default;
    virtual QString name() const = 0; // as the user reads it
    virtual QList<StyleOption> options() const = 0;
    // Raises report::ReportError for a key the style does not name.
    virtual void setOption(const QString& key, const QVariant& value) = 0;
    // The report that lays out the style's pages.
    virtual report::TQuickReport& report() = 0;
};

struct PrintStyleEntry {
    const char* id; // for the command line and the settings
    std::unique_ptr<PrintStyle> (*create)(report::RowSource* rows);
};

// Every style of the program, in the order the user sees them.
const std::vector<PrintStyleEntry>& printStyles();
// The style of that id on those rows (null rows: a style that prints no
// rows); null for an unknown id.
std::unique_ptr<PrintStyle> createPrintStyle(const QString& id, report::RowSource* rows);

// For styles: the error of setOption for a key they do not name.
[[noreturn]] void unknownOption(const QString& style, const QString& key);

} // namespace vellumo::print
