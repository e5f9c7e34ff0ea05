// bench_report: the address list and the envelope on a 100,000-record
// address table, measured as the user meets them: with the program's windows
// made and the main window showing the table, as well as without them.
//
//   QT_QPA_PLATFORM=offscreen bench_report [records]
//
// The table is built with the engine in a fresh temporary directory (not
// measured). Figures: a list run's processor time without and with the
// windows, the preview (first page on screen, going to page 1,000 and to
// the last page, memory while paging), the list as PDF against Qt's floor
// (bench_report_floor beside this program draws the same pages bare), one
// envelope as PDF.
#include "addressdata.h"
#include "benchutil.h"
#include "benchwindows.h"

#include "app/hauptformular.h"
#include "app/startup.h"
#include "app/windows.h"
#include "platform/database/datasource.h"
#include "platform/database/recordstore.h"
#include "platform/report/output.h"
#include "platform/report/preview.h"
#include "print/formqr.h"
#include "print/formqrliste.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTimer>

#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using bench::Clock;
using bench::msSince;
using namespace vellumo::report;

void line(const char* what, double value, const char* unit, const char* target) {
    std::printf("  %-48s %10.1f %-6s %s\n", what, value, unit, target);
}

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double residentMb() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1e6;
}

// A whole list run, the pages laid out and dropped: its processor time.
double listRunCpu(const TQuickReport& report) {
    const double start = cpuSeconds();
    report.run(PageGeometry::fullPage(QPageSize(QPageSize::A4)), [](Page&&, int) { return true; });
    return cpuSeconds() - start;
}

// Waits until the preview has painted a page it had not laid out before.
double untilPainted(PreviewWindow& preview, int before, Clock::time_point start) {
    while (preview.pagesLaidOut() == before)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    return msSince(start);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    vellumo::initialiseApplication(app);
    const std::size_t count = bench::countArgument(argc, argv);
    const bench::RunDirectory runDirectory("bench_report");
    const std::string& dir = runDirectory.path();
    const std::string path = runDirectory.file("Adressen.db");
    QDir::setCurrent(QString::fromStdString(dir));
    int status = 0;
    try {
        std::printf("bench_report: %zu address records in %s\n", count, dir.c_str());
        bench::buildAddressTable(path, count);

        double bareCpu = 0;
        {
            vellumo::RecordStore store;
            vellumo::DataSource source(store);
            store.BindTable(QString::fromStdString(path));
            store.OpenTable();
            TFormQRListe list(source);
            list.Punktlinie->Enabled = true;
            bareCpu = listRunCpu(list.QuickReport);
        }

        vellumo::ProgramWindows windows;
        windows.createAll();
        bench::showOnTable(*Hauptformular, path);
        TQuickReport& list = FormQRListe->QuickReport;
        FormQRListe->Punktlinie->Enabled = true;

        const double windowCpu = listRunCpu(list);
        const Pagination pagination = list.begin(printGeometry(list));
        std::printf("  list: %d pages\n", pagination.pageCount());
        line("list run, processor time, no windows", bareCpu, "s", "");
        line("list run, processor time, windows open", windowCpu, "s", "(about the same)");

        double firstMs = 0, thousandMs = 0, lastMs = 0, before = residentMb(), peak = 0;
        int kept = 0;
        auto start = Clock::now();
        QTimer::singleShot(0, [&] {
            auto* preview = qobject_cast<PreviewWindow*>(QApplication::activeModalWidget());
            if (!preview)
                return;
            firstMs = untilPainted(*preview, 0, start);
            auto jump = [&](int page) {
                if (page == preview->currentPage()) // a short list: already there
                    return 0.0;
                const auto from = Clock::now();
                const int laidOut = preview->pagesLaidOut();
                preview->goToPage(page);
                return untilPainted(*preview, laidOut, from);
            };
            thousandMs = jump(std::min(999, preview->pageCount() - 1));
            lastMs = jump(preview->pageCount() - 1);
            // Paging through: memory must not grow with the pages seen.
            for (int page = 0; page < preview->pageCount(); page += 7) {
                jump(page);
                peak = std::max(peak, residentMb());
                kept = std::max(kept, static_cast<int>(preview->pagesKept()));
            }
            preview->reject();
        });
        Preview(list, Hauptformular);
        line("preview: first page on screen", firstMs, "ms", "(<= 300)");
        line("preview: going to page 1,000", thousandMs, "ms", "(<= 100)");
        line("preview: going to the last page", lastMs, "ms", "(<= 100)");
        line("preview: memory after paging through, over before", peak - before, "MB", "(flat)");
        std::printf("  preview: at most %d pages kept at once\n", kept);

        const QString pdf = QString::fromStdString(dir + "/liste.pdf");
        start = Clock::now();
        writePdfWithProgress(list, PageGeometry::fullPage(QPageSize(QPageSize::A4)), pdf,
                             Hauptformular);
        const double pdfSeconds = msSince(start) / 1000.0;
        line("list as PDF, windows open", pdfSeconds, "s", "(<= 1.3 x floor)");
        std::printf("  list PDF: %.1f MB\n",
                    static_cast<double>(std::filesystem::file_size(dir + "/liste.pdf")) / 1e6);

        const QString floor = QCoreApplication::applicationDirPath() + "/bench_report_floor";
        QProcess floorRun;
        floorRun.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        floorRun.start(floor, {QString::number(count)});
        if (floorRun.waitForFinished(-1) && floorRun.exitCode() == 0) {
            const QString out = QString::fromUtf8(floorRun.readAllStandardOutput());
            std::printf("%s", qPrintable(out));
            const QStringList words = out.trimmed().split(u' ', Qt::SkipEmptyParts);
            const double floorSeconds = words.value(words.size() - 2).toDouble();
            if (floorSeconds > 0)
                line("list as PDF against Qt's floor", pdfSeconds / floorSeconds, "x", "(<= 1.3)");
        } else {
            std::printf("  (no %s: no floor figure)\n", qPrintable(floor));
        }

        TFormQR envelope;
        envelope.QRMemo1->Lines =
            QStringList{"Erika Mustermann", "Heidestraße 17", "51147 Köln", "", ""};
        envelope.QRMemo2->Lines = QStringList{"Max Mustermann", "Hauptstraße 1", "10115 Berlin"};
        envelope.QRMemo2->Font = reportFont("MS Sans Serif", 19, true);
        const double envelopeMs = bench::medianMs(11, [&] {
            writePdf(envelope.QuickReport.layout(), QString::fromStdString(dir + "/umschlag.pdf"));
        });
        line("envelope as PDF (median of 11)", envelopeMs, "ms", "(<= 100)");

        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        line("peak memory of the process", static_cast<double>(usage.ru_maxrss) / 1024.0, "MB",
             "(< 400)");
        Hauptformular->Datentabelle.CloseTableAtShutdown();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_report: %s\n", e.what());
        status = 1;
    }
    return status;
}
