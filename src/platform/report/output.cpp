#include "platform/report/output.h"

#include "platform/report/preview.h"
#include "platform/ui/messages.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProgressDialog>
#include <QRegularExpression>

namespace vellumo::report {

namespace {

// The progress window of a run: title of the report and the pages so far.
class RunProgress {
public:
    RunProgress(const QString& title, const QString& action, QWidget* parent)
        : dialog_(parent), title_(title), action_(action) {
        dialog_.setWindowTitle(QStringLiteral("Vellumo"));
        dialog_.setCancelButtonText(QStringLiteral("Abbrechen"));
        dialog_.setRange(0, 0);
        dialog_.setMinimumDuration(0);
        dialog_.setWindowModality(Qt::ApplicationModal);
        dialog_.setAutoClose(false);
        dialog_.setAutoReset(false);
        report(0);
        dialog_.show();
        QCoreApplication::processEvents();
        shown_.start();
    }
    // Drawing the window for every page would cost more than the pages;
    // ten times a second is enough to read and to cancel.
    bool report(int pages) {
        if (shown_.isValid() && shown_.elapsed() < 100)
            return !dialog_.wasCanceled();
        dialog_.setLabelText(
            QStringLiteral("%1\n%2 … Seite %3").arg(title_, action_).arg(qMax(pages, 1)));
        QCoreApplication::processEvents();
        shown_.start();
        return !dialog_.wasCanceled();
    }
    std::function<bool(int)> callback() {
        return [this](int pages) { return report(pages); };
    }

private:
    QProgressDialog dialog_;
    QElapsedTimer shown_;
    QString title_;
    QString action_;
};

QString pdfFileName(QString name) {
    if (!name.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive))
        name += QStringLiteral(".pdf");
    return name;
}

} // namespace

QPageSize paperOf(const TQuickReport& report) {
    if (report.Paper.isValid())
        return report.Paper;
    if (report.PaperSize == qrpDefault) {
        const QPrinterInfo printer = QPrinterInfo::defaultPrinter();
        if (!printer.isNull() && printer.defaultPageSize().isValid())
            return printer.defaultPageSize();
    }
    return QPageSize(QPageSize::A4);
}

PageGeometry printerGeometry(const QPrinterInfo& info, const QPageSize& paper) {
    PageGeometry geometry = PageGeometry::fullPage(paper);
    if (info.isNull())
        return geometry;
    QPrinter printer(info, QPrinter::HighResolution);
    printer.setPageSize(paper);
    printer.setPageOrientation(QPageLayout::Portrait);
    QPageLayout layout = printer.pageLayout();
    layout.setUnits(QPageLayout::Point);
    const double bottom = layout.minimumMargins().bottom() * kUnitsPerInch / 72.0;
    geometry.bottom -= std::max(0.0, bottom);
    return geometry;
}

PageGeometry printGeometry(const TQuickReport& report) {
    return printerGeometry(QPrinterInfo::defaultPrinter(), paperOf(report));
}

bool writePdfWithProgress(const TQuickReport& report, const PageGeometry& geometry,
                          const QString& fileName, QWidget* parent) {
    RunProgress progress(report.ReportTitle, QStringLiteral("PDF-Datei wird geschrieben"), parent);
    return writePdf(report, geometry, fileName, progress.callback());
}

bool savePdfAs(const TQuickReport& report, const PageGeometry& geometry, QWidget* parent) {
    QString suggestion = report.ReportTitle;
    suggestion.replace(QRegularExpression(QStringLiteral("[/\\\\:*?\"<>|]")), QStringLiteral("_"));
    QString folder; // the working directory, as ever
    const QString chosen =
        askSaveFileName(parent, QStringLiteral("PdfDialog"), QStringLiteral("Als PDF speichern"),
                        QStringLiteral("PDF-Dateien (*.pdf)"), pdfFileName(suggestion), folder);
    if (chosen.isEmpty())
        return false;
    const QString fileName = pdfFileName(chosen);
    if (writePdfWithProgress(report, geometry, fileName, parent))
        return true;
    showInformation(QStringLiteral("Das Speichern als PDF wurde abgebrochen; %1 ist unverändert.")
                        .arg(QDir::toNativeSeparators(fileName)),
                    parent);
    return false;
}

void Print(const TQuickReport& report, QWidget* parent) {
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    const QPageSize paper = paperOf(report);
    if (info.isNull()) {
        // Qt would silently write nowhere; say so and offer the PDF instead.
        if (confirm(QStringLiteral("Es ist kein Drucker eingerichtet. Möchten Sie stattdessen "
                                   "eine PDF-Datei speichern?"),
                    parent))
            savePdfAs(report, PageGeometry::fullPage(paper), parent);
        return;
    }

    QPrinter printer(info, QPrinter::HighResolution);
    printer.setFullPage(true);
    printer.setDocName(report.ReportTitle);
    printer.setCreator(QStringLiteral("Vellumo"));
    printer.setPageSize(paper);
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setPageMargins(QMarginsF(0, 0, 0, 0));
    const PageGeometry geometry = printerGeometry(info, paper);

    const QString failure = QStringLiteral("Der Drucker \"%1\" kann den Auftrag nicht annehmen")
                                .arg(info.printerName());
    RunProgress progress(report.ReportTitle, QStringLiteral("Seiten werden gedruckt"), parent);
    QPainter painter;
    if (!painter.begin(&printer))
        throw ReportError(failure);
    bool complete = false;
    try {
        complete =
            paintRun(report, geometry, painter, printer, printer.resolution(), progress.callback());
    } catch (...) {
        // A run that failed half way (a record that cannot be read) sends nothing.
        printer.abort();
        painter.end();
        throw;
    }
    if (!complete) {
        printer.abort();
        painter.end();
        showInformation(QStringLiteral("Der Druck wurde abgebrochen; der Drucker erhält nichts."),
                        parent);
        return;
    }
    if (!painter.end() || printer.printerState() == QPrinter::Error)
        throw ReportError(failure);
}

void Preview(const TQuickReport& report, QWidget* parent) {
    std::unique_ptr<PreviewWindow> window;
    try {
        window = std::make_unique<PreviewWindow>(report, printGeometry(report), parent);
    } catch (const std::exception& error) {
        throw ReportError(
            QStringLiteral("Die Vorschau kann nicht beginnen: %1").arg(errorText(error)));
    }
    window->exec();
    // The preview stands for the whole run: the source ends on its last row.
    report.end(window->pagination(), window->pagination().rows - 1);
}

} // namespace vellumo::report
