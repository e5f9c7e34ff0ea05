#include "data/exchangedialog.h"

#include "data/exchange.h"
#include "platform/database/recordstore.h"
#include "platform/system/system.h"
#include "platform/ui/messages.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QProgressDialog>

namespace vellumo::data {

namespace {

const QString VCardFilter = QStringLiteral("vCard-Dateien (*.vcf)");
const QString CsvFilter = QStringLiteral("CSV-Dateien (*.csv)");

// The dialogs remember their folder for the run, as the open dialog does.
QString& lastFolder() {
    static QString folder;
    return folder;
}

QString chooseFile(QWidget* parent, bool save, QString* selectedFilter) {
    QFileDialog dialog(parent);
    dialog.setObjectName(save ? QStringLiteral("ExportDialog") : QStringLiteral("ImportDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setWindowTitle(save ? QStringLiteral("Exportieren") : QStringLiteral("Importieren"));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(save ? QStringList{VCardFilter, CsvFilter}
                               : QStringList{QStringLiteral("Adressen (*.vcf *.csv)"), VCardFilter,
                                             CsvFilter, QStringLiteral("Alle Dateien (*)")});
    dialog.setDirectory(lastFolder().isEmpty() ? QDir::currentPath() : lastFolder());
    if (save) {
        dialog.setDefaultSuffix(QStringLiteral("vcf"));
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                         [&dialog](const QString& filter) {
                             dialog.setDefaultSuffix(filter == CsvFilter ? QStringLiteral("csv")
                                                                         : QStringLiteral("vcf"));
                         });
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    if (selectedFilter)
        *selectedFilter = dialog.selectedNameFilter();
    const QString file = dialog.selectedFiles().first();
    lastFolder() = QFileInfo(file).absolutePath();
    return file;
}

QProgressDialog* progressWindow(QWidget* parent, const QString& label, int total) {
    auto* progress = new QProgressDialog(label, QStringLiteral("Abbrechen"), 0, total, parent);
    progress->setObjectName(QStringLiteral("ExchangeProgress"));
    progress->setWindowTitle(QStringLiteral("Vellumo"));
    progress->setWindowModality(Qt::ApplicationModal);
    progress->setMinimumDuration(400);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    return progress;
}

} // namespace

void ExportierenClick(RecordStore& store, QWidget* parent) {
    // The record on screen goes out as it is stored.
    if (store.HasUnsavedChanges())
        store.SaveRecord();
    QString filter;
    const QString path = chooseFile(parent, true, &filter);
    if (path.isEmpty())
        return;
    const QString suffix = QFileInfo(path).suffix().toLower();
    const exchange::Format format = suffix == u"csv" ? exchange::Format::Csv
                                    : suffix == u"vcf" || suffix == u"vcard"
                                        ? exchange::Format::VCard
                                    : filter == CsvFilter ? exchange::Format::Csv
                                                          : exchange::Format::VCard;

    // Gathered first and put in place at the end: a cancelled or failed
    // export leaves an existing file as it was.
    QBuffer file;
    file.open(QIODevice::WriteOnly);
    std::unique_ptr<QProgressDialog> progress(progressWindow(
        parent, QStringLiteral("Adressen werden exportiert …"), store.visibleCount()));
    const int written = exchange::exportRecords(store, format, file, [&](int done, int) {
        progress->setValue(done);
        return !progress->wasCanceled();
    });
    const bool cancelled = progress->wasCanceled();
    progress.reset();
    if (cancelled)
        return;
    QString error;
    if (!writeFileSafely(path, file.data(), &error))
        throw StoreError(error);
    showInformation(
        written == 1
            ? QStringLiteral("1 Adresse wurde in %2 gespeichert.").arg(QFileInfo(path).fileName())
            : QStringLiteral("%1 Adressen wurden in %2 gespeichert.")
                  .arg(written)
                  .arg(QFileInfo(path).fileName()),
        parent);
}

void ImportierenClick(RecordStore& store, QWidget* parent) {
    if (!store.IsTableOpen())
        store.BeginEdit(); // raises the closed-table error
    const QString path = chooseFile(parent, false, nullptr);
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw StoreError(QStringLiteral("Die Datei %1 kann nicht gelesen werden: %2")
                             .arg(QDir::toNativeSeparators(path), file.errorString()));
    const QByteArray data = file.readAll();
    file.close();
    const exchange::Format format = exchange::formatOf(path, data);
    const std::vector<exchange::Address> addresses =
        format == exchange::Format::VCard ? exchange::readVCards(data) : exchange::readCsv(data);

    std::unique_ptr<QProgressDialog> progress(
        progressWindow(parent, QStringLiteral("Adressen werden importiert …"),
                       static_cast<int>(addresses.size())));
    exchange::ImportResult result;
    try {
        result = exchange::importAddresses(store, addresses, format, [&](int done, int) {
            progress->setValue(done);
            return !progress->wasCanceled();
        });
    } catch (...) {
        progress.reset();
        throw;
    }
    progress.reset();
    if (addresses.empty())
        showInformation(
            QStringLiteral("Die Datei %1 enthält keine Adressen.").arg(QFileInfo(path).fileName()),
            parent);
    else
        showInformation(exchange::summaryText(result), parent);
}

} // namespace vellumo::data
