// The print dialogs the main window offers beside the envelope and the list:
// one entry each, naming its print style, the menu item (and tool button)
// that opens it, and how it is made. Start-up makes every registered dialog
// with the other windows, and the main window gives each its item in
// "&Datei" (the form's own item where it has one, else a new one after the
// last print item), switched with the table controls.
//
// A new style's dialog is its file pair in print/ and one line in the list
// of printDialogs() (printdialogs.cpp).
#pragma once

#include <QDialog>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace vellumo {
class DataSource;
}

namespace vellumo::print {

// What a print dialog is made with: the main window's data source, whose
// records (the filter respected) it prints, and its parent.
struct PrintWindowContext {
    DataSource& source;
    QWidget* parent;
};

struct PrintDialogEntry {
    QString style;    // the print style's id (printStyles())
    QString action;   // object name of its menu item
    QString menuText; // the item's text where the main window's form has none
    QString button;   // object name of its tool button; empty for none
    std::function<std::unique_ptr<QDialog>(const PrintWindowContext&)> create;
};

const std::vector<PrintDialogEntry>& printDialogs();
// Adds a dialog after those of the program (a test's own style).
void registerPrintDialog(PrintDialogEntry entry);

// What a print dialog keeps of its choices (key, value) for the next time, in
// its section of Setup.ini, as one replacement of the file: all of them old
// or all new. A file that cannot be written never stops the print.
void keepChoices(const QString& section, const QList<std::pair<QString, QString>>& choices);

} // namespace vellumo::print
