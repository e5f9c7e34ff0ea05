// Print styles: each way of printing addresses (the envelope, the list, and
// what comes after) is one style. A style holds a report that lays out its
// pages and names the options a dialog or the command line may set.
//
// A new style is a file pair with a class derived from PrintStyle and one
// line in the list of printStyles() (printstyle.cpp); the command line
// (vellumo-table print) offers it from that line and its options alone. Its
// dialog, if the program has one, is one line in printDialogs()
// (print/printdialogs.cpp).
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
    // The values a choice offers, as the user reads them; setOption takes
    // the index (an int value) or the text. Empty for a free value.
    QStringList choices = {};
    // On the command line ("--heading"); empty where it has none there. A
    // bool option is a flag without a value; the others name their value
    // in the usage text by argument ("TEXT").
    QString flag = {};
    QString argument = {};
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
    // The paper the style is laid out for where no printer says otherwise
    // (a PDF, the preview before a printer is chosen).
    virtual report::PageGeometry geometry() const;
};

struct PrintStyleEntry {
    QString id; // for the settings and the dialogs' registry
    // On the command line ("--list"); empty for a style it does not offer.
    QString flag;
    // The option the command line's style flag takes as its value ("--labels
    // 3474" sets "Format"); empty where the flag takes none.
    QString flagValue;
    std::unique_ptr<PrintStyle> (*create)(report::RowSource* rows);
};

// Every style of the program, in the order the user sees them.
const std::vector<PrintStyleEntry>& printStyles();
// Adds a style after those of the program (a plug-in, a test's own style).
void registerPrintStyle(PrintStyleEntry entry);
// The style of that id on those rows (null rows: a style that prints no
// rows); null for an unknown id.
std::unique_ptr<PrintStyle> createPrintStyle(const QString& id, report::RowSource* rows);

// For styles: the error of setOption for a key they do not name.
[[noreturn]] void unknownOption(const QString& style, const QString& key);

} // namespace vellumo::print
