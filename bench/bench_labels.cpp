// bench_labels: labels for the addresses of a 10,000-record table on
// Zweckform 3474, as a person prints them: the program's windows made, the
// main window showing the table, the sheet and options taken from the labels
// dialog.
//
//   QT_QPA_PLATFORM=offscreen bench_labels [records]
//
// The table is built with the engine in a fresh directory (not measured).
// Figures: the first page of the preview on screen, and the whole run to PDF
// with its progress window, in wall-clock and processor time.
#include "benchutil.h"
#include "benchwindows.h"

#include "app/hauptformular.h"
#include "app/startup.h"
#include "app/windows.h"
#include "platform/report/output.h"
#include "platform/report/preview.h"
#include "print/formetiketten.h"
#include "print/labelstyle.h"
#include "print/storerows.h"

#include <QApplication>
#include <QLineEdit>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

using bench::Clock;
using bench::msSince;

double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    vellumo::initialiseApplication(app);
    const std::size_t count = bench::countArgument(argc, argv, 10000);
    try {
        const bench::RunDirectory dir("bench_labels");
        std::printf("bench_labels: %zu address records in %s\n", count, dir.path().c_str());
        const std::string path = dir.file("Adressen.db");
        bench::buildAddressTable(path, count);

        vellumo::ProgramWindows windows;
        windows.createAll();
        bench::showOnTable(*Hauptformular, path);

        auto* dialog = Hauptformular->findChild<vellumo::print::TFormEtiketten*>();
        dialog->searchField()->setText(QStringLiteral("3474"));
        vellumo::print::StoreRows rows(Hauptformular->Datentabelle);
        vellumo::print::LabelStyle style(&rows);
        dialog->applyTo(style);
        style.setOption(QStringLiteral("Markieren"), true); // as the preview runs it
        std::printf("  sheet: %s\n", qPrintable(style.format().name()));

        double firstMs = 0, firstCpu = 0;
        int pages = 0;
        const double cpuBefore = cpuMs();
        const auto start = Clock::now();
        QTimer::singleShot(0, [&] {
            auto* preview =
                qobject_cast<vellumo::report::PreviewWindow*>(QApplication::activeModalWidget());
            if (!preview)
                return;
            while (preview->pagesLaidOut() == 0)
                QApplication::processEvents(QEventLoop::AllEvents, 5);
            firstMs = msSince(start);
            firstCpu = cpuMs() - cpuBefore;
            pages = preview->pageCount();
            preview->reject();
        });
        vellumo::report::Preview(style.report(), Hauptformular);
        std::printf("  %-44s %8.1f ms wall %8.1f ms cpu  (<= 300 ms)\n",
                    "preview: first page on screen", firstMs, firstCpu);
        std::printf("  preview: %d sheets\n", pages);

        style.setOption(QStringLiteral("Markieren"), false);
        const double cpuPdf = cpuMs();
        const auto pdfStart = Clock::now();
        vellumo::report::writePdfWithProgress(style.report(), style.geometry(),
                                              QString::fromStdString(dir.file("etiketten.pdf")),
                                              Hauptformular);
        std::printf("  %-44s %8.0f ms wall %8.0f ms cpu  (<= 2000 ms)\n", "all labels to PDF",
                    msSince(pdfStart), cpuMs() - cpuPdf);
        Hauptformular->Datentabelle.CloseTableAtShutdown();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_labels: %s\n", e.what());
        return 1;
    }
    return 0;
}
