// bench_report: speed and memory of the address list and the envelope on a
// 100,000-record address table.
//
//   QT_QPA_PLATFORM=offscreen bench_report [records]
//
// The table is built with the engine in a fresh temporary directory (not
// measured). Figures: laying the list out (records per second), the list's
// preview on screen (from the call until the preview window shows, progress
// window included), writing the list as PDF (laid out page by page, with the
// progress window), one envelope as PDF, and the process's peak memory.
#include "addressdata.h"
#include "benchutil.h"

#include "platform/database/datasource.h"
#include "platform/database/recordstore.h"
#include "print/formqr.h"
#include "print/formqrliste.h"
#include "platform/report/report.h"

#include <QApplication>
#include <QPrintPreviewDialog>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using bench::Clock;
using bench::msSince;

void line(const char* what, double value, const char* unit, const char* target) {
    std::printf("  %-44s %12.1f %-10s %s\n", what, value, unit, target);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    const std::size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    std::string dirTemplate = (std::filesystem::temp_directory_path() / "bench_report.XXXXXX");
    if (!::mkdtemp(dirTemplate.data())) {
        std::perror("bench_report: mkdtemp");
        return 2;
    }
    const std::string dir = dirTemplate;
    const std::string path = dir + "/Adressen.db";
    int status = 0;
    try {
        std::printf("bench_report: %zu address records in %s\n", count, dir.c_str());
        bench::buildAddressTable(path, count);
        vellumo::RecordStore store;
        vellumo::DataSource source(store);
        store.BindTable(QString::fromStdString(path));
        store.OpenTable();
        TFormQRListe list(source);
        list.Punktlinie->Enabled = true;

        auto start = Clock::now();
        int pages = 0;
        list.QuickReport.run(list.QuickReport.paperSize(), [&](vellumo::report::Page&&, int n) {
            pages = n;
            return true;
        });
        const double layoutMs = msSince(start);
        std::printf("  list: %d pages\n", pages);
        line("list layout", static_cast<double>(count) / (layoutMs / 1000.0), "records/s",
             "(>= 20000)");

        double previewMs = 0;
        start = Clock::now();
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto* preview =
                    qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
                preview && preview->isVisible()) {
                previewMs = msSince(start);
                preview->reject();
            }
        });
        poll.start(5);
        list.QuickReport.Preview();
        poll.stop();
        line("list preview on screen", previewMs / 1000.0, "s", "(<= 3)");

        start = Clock::now();
        list.QuickReport.writePdf(QString::fromStdString(dir + "/liste.pdf"));
        line("list as PDF (layout and writing)", msSince(start) / 1000.0, "s", "(<= 10)");
        std::printf("  list PDF: %.1f MB\n",
                    static_cast<double>(std::filesystem::file_size(dir + "/liste.pdf")) / 1e6);

        TFormQR envelope;
        envelope.QRMemo1->Lines =
            QStringList{"Erika Mustermann", "Heidestraße 17", "51147 Köln", "", ""};
        envelope.QRMemo2->Lines = QStringList{"Max Mustermann", "Hauptstraße 1", "10115 Berlin"};
        envelope.QRMemo2->Font = vellumo::report::reportFont("MS Sans Serif", 19, true);
        const double envelopeMs = bench::medianMs(11, [&] {
            vellumo::report::writePdf(envelope.QuickReport.layout(),
                                      QString::fromStdString(dir + "/umschlag.pdf"));
        });
        line("envelope as PDF (median of 11)", envelopeMs, "ms", "(<= 100)");

        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        line("peak memory of the process", static_cast<double>(usage.ru_maxrss) / 1024.0, "MB",
             "(< 400)");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_report: %s\n", e.what());
        status = 1;
    }
    std::filesystem::remove_all(dir);
    return status;
}
