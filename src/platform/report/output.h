// A banded report engine, the output half: the printer, PDF files chosen by
// the user, the preview, the progress window and the questions on the way.
// Laying out is layout.h's; everything here streams the pages of a run and
// keeps none of them.
#pragma once

#include "platform/report/layout.h"

class QPrinterInfo;
class QWidget;

namespace vellumo::report {

// The paper a report is laid out on: its own paper when it has one, else A4
// or the default printer's default paper (A4 when there is no printer).
QPageSize paperOf(const TQuickReport& report);
// The paper on that printer: its pages end where the printer stops printing
// above the paper's bottom edge.
PageGeometry printerGeometry(const QPrinterInfo& printer, const QPageSize& paper);
// The geometry the preview and the printer use: that of the default
// printer, the full paper without one.
PageGeometry printGeometry(const TQuickReport& report);

// Lays out and sends the pages straight to the system's default printer,
// with a progress window that can cancel. Without a printer the user may
// save the pages as PDF instead. Raises ReportError when the printer fails.
void Print(const TQuickReport& report, QWidget* parent = nullptr);
// Shows the report in the preview window, modally, laying out only the pages
// looked at; from there it can be printed or saved as PDF. Returns when the
// preview closes; the data source is left on its last row.
void Preview(const TQuickReport& report, QWidget* parent = nullptr);
// Runs the report into a PDF file on geometry, with the progress window;
// false when the user cancelled (an existing file is then left as it was).
// Raises ReportError "Kann nicht nach %s schreiben" when the file cannot be
// written.
bool writePdfWithProgress(const TQuickReport& report, const PageGeometry& geometry,
                          const QString& fileName, QWidget* parent = nullptr);
// Asks for a PDF file name (German save dialog, "*.pdf", the title as
// suggestion) and writes the report there; false when cancelled.
bool savePdfAs(const TQuickReport& report, const PageGeometry& geometry, QWidget* parent = nullptr);

} // namespace vellumo::report
