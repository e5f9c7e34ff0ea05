// Labels for 10,000 addresses: the whole run to PDF, and the first page as
// the preview asks for it (laid out alone).
#include "addressdata.h"
#include "print/labelstyle.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>

namespace {

class Rows : public vellumo::report::RowSource {
public:
    explicit Rows(std::vector<px::Record> records) : records_(std::move(records)) {}
    int Count() override { return static_cast<int>(records_.size()); }
    void Seek(int row) override { row_ = static_cast<std::size_t>(row); }
    QString FieldText(const QString& field) const override {
        static const QStringList kFields{"Name", "Vorname", "Strasse", "PLZ", "Ort", "Land"};
        const auto column = static_cast<std::size_t>(kFields.indexOf(field));
        const auto* text = std::get_if<std::string>(&records_[row_][column]);
        return text ? QString::fromStdString(*text) : QString();
    }

private:
    std::vector<px::Record> records_;
    std::size_t row_ = 0;
};

double cpuMs() {
    return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    Rows rows(bench::AddressGenerator().sortedRecords(10000));
    vellumo::print::LabelStyle style(&rows);
    style.setOption(QStringLiteral("Format"), QStringLiteral("Zweckform 3474"));

    QElapsedTimer timer;
    const double cpuFirst = cpuMs();
    timer.start();
    const auto pagination = style.report().begin(style.geometry());
    const auto first = style.report().layoutPage(pagination, 0);
    std::printf("first page of %d sheets laid out alone: %.1f ms wall, %.1f ms processor time "
                "(%zu lines of text)\n",
                pagination.pageCount(), static_cast<double>(timer.nsecsElapsed()) / 1e6,
                cpuMs() - cpuFirst, first.texts.size());

    QTemporaryDir dir;
    const double cpu = cpuMs();
    timer.restart();
    vellumo::report::writePdf(style.report(), style.geometry(), dir.filePath("etiketten.pdf"));
    std::printf("10,000 labels to PDF: %.0f ms wall, %.0f ms processor time\n",
                static_cast<double>(timer.nsecsElapsed()) / 1e6, cpuMs() - cpu);
    return 0;
}
