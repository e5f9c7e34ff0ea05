// Figures for pictures: the chooser's preview of a 12-megapixel JPEG, "OK"
// storing it (syncs included), and moving between records with 1-megapixel
// pictures while the record's picture holder follows.
#include "benchutil.h"
#include "fixtures.h"

#include "data/addresstable.h"
#include "platform/database/datasource.h"
#include "platform/database/recordstore.h"
#include "platform/pictures/conversion.h"
#include "pictures/formbild.h"
#include "pictures/formbildspeichern.h"
#include "platform/pictures/graphicfield.h"
#include "pictures/previewimage.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>

namespace {

double cpuMs(std::clock_t since) {
    return double(std::clock() - since) * 1000.0 / CLOCKS_PER_SEC;
}

void openAddressTable(vellumo::RecordStore& store, const QString& path) {
    store.BindTable(path);
    vellumo::DeclareAddressTable(store, QStringLiteral("Adressen"));
    store.CreateTableFile();
    store.OpenTable();
    store.BeforePost = [&store] {
        store.SetFieldDate(QStringLiteral("Aenderung"), QDateTime::currentDateTime());
    };
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString pictures = dir.filePath("bilder");
    QDir().mkpath(pictures);
    {
        QFile f(pictures + "/foto.jpeg");
        f.open(QIODevice::WriteOnly);
        f.write(fixtures::bigJpeg(4000, 3000));
    }

    std::printf("12-megapixel JPEG (4000 x 3000), five runs each:\n");
    for (int run = 0; run < 5; ++run) {
        vellumo::RecordStore store;
        vellumo::DataSource source(store);
        openAddressTable(store, dir.filePath(QStringLiteral("Adressen%1").arg(run)));
        store.InsertBlankRecord();
        store.SetFieldText(QStringLiteral("Name"), QStringLiteral("Muster"));
        store.SaveRecord();
        TFormBild viewer(&source);
        TFormBildSpeichern chooser(&source, &viewer.DBImage1);
        chooser.setDirectory(pictures);
        chooser.showModeless();
        app.processEvents();

        auto start = bench::Clock::now();
        std::clock_t cpu = std::clock();
        chooser.fileList()->setCurrentRow(0);
        chooser.preview()->repaint();
        const double preview = bench::msSince(start), previewCpu = cpuMs(cpu);
        if (chooser.preview()->picture().width() != 4000)
            std::printf("  no preview!\n");

        start = bench::Clock::now();
        cpu = std::clock();
        chooser.okButton()->click();
        const double ok = bench::msSince(start), okCpu = cpuMs(cpu);
        std::printf(
            "  preview %6.0f ms (cpu %6.0f)   OK and save %6.0f ms (cpu %6.0f)   stored %lld "
            "bytes\n",
            preview, previewCpu, ok, okCpu,
            static_cast<long long>(store.fieldValue("Grafik").toByteArray().size()));
    }

    // Where the time of "OK" goes: the same steps one by one.
    {
        vellumo::RecordStore store;
        vellumo::DataSource source(store);
        openAddressTable(store, dir.filePath("Schritte"));
        store.InsertBlankRecord();
        store.SetFieldText(QStringLiteral("Name"), QStringLiteral("Muster"));
        store.SaveRecord();
        const QImage photo = vellumo::pictures::convertPictureFile(pictures + "/foto.jpeg");
        std::vector<double> encode, set, save;
        for (int run = 0; run < 3; ++run) {
            auto start = bench::Clock::now();
            const QByteArray bitmap = vellumo::pictures::graphicFieldFromImage(photo, nullptr);
            encode.push_back(bench::msSince(start));
            start = bench::Clock::now();
            store.BeginEdit();
            store.setFieldValue(QStringLiteral("Grafik"), bitmap);
            set.push_back(bench::msSince(start));
            start = bench::Clock::now();
            store.SaveRecord();
            save.push_back(bench::msSince(start));
        }
        std::printf(
            "  of which (medians): bitmap %.0f ms, into the record %.0f ms, SaveRecord with "
            "syncs %.0f ms\n",
            bench::median(encode), bench::median(set), bench::median(save));
    }

    // Thirty records with 1-megapixel pictures; the holder follows every move.
    vellumo::RecordStore store;
    vellumo::DataSource source(store);
    openAddressTable(store, dir.filePath("Bilder"));
    const QImage photo = [] {
        QImage image;
        image.loadFromData(fixtures::bigJpeg(1000, 1000), "JPEG");
        return image;
    }();
    const QByteArray field = vellumo::pictures::graphicFieldFromImage(photo, nullptr);
    for (int i = 0; i < 30; ++i) {
        store.InsertBlankRecord();
        store.SetFieldText(QStringLiteral("Name"),
                           QStringLiteral("Person %1").arg(i, 2, 10, QChar('0')));
        store.setFieldValue(QStringLiteral("Grafik"), field);
        store.SaveRecord();
    }
    TFormBild viewer(&source);
    store.GoToFirst();
    std::vector<double> moves;
    double cpuTotal = 0;
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 29; ++i) {
            const auto start = bench::Clock::now();
            const std::clock_t cpu = std::clock();
            store.StepForward();
            moves.push_back(bench::msSince(start));
            cpuTotal += cpuMs(cpu);
        }
        store.GoToFirst();
    }
    const double worst = *std::max_element(moves.begin(), moves.end());
    std::printf("Moves between records with 1-megapixel pictures (%zu moves, %lld-byte "
                "bitmaps): median %.2f ms, worst %.2f ms, cpu %.2f ms per move\n",
                moves.size(), static_cast<long long>(field.size()), bench::median(moves), worst,
                cpuTotal / double(moves.size()));
    return 0;
}
