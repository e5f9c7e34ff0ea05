#include "exchange/ui/exchangedialog.h"

#include "duplicates/importcheck.h"
#include "duplicates/ui/formdubletten.h"
#include "exchange/exchange.h"
#include "exchange/ui/importpreview.h"
#include "platform/database/recordstore.h"
#include "platform/settings/profile.h"
#include "platform/system/system.h"
#include "platform/ui/messages.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>

namespace vellumo::exchange {

namespace {

const QString kVCardFilter = QStringLiteral("vCard-Dateien (*.vcf *.vcard)");
const QString kCsvFilter = QStringLiteral("CSV-Dateien, UTF-8 (*.csv)");
const QString kSpreadsheetFilter = QStringLiteral("CSV für Tabellenkalkulationen (*.csv)");

// The dialogs remember their folder for the run, as the open dialog does.
QString& lastFolder() {
    static QString folder;
    return folder;
}

QString chooseFile(QWidget* parent, bool save, QString* selectedFilter,
                   const QString& proposed = QString()) {
    QFileDialog dialog(parent);
    dialog.setObjectName(save ? QStringLiteral("ExportDialog") : QStringLiteral("ImportDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setWindowTitle(save ? QStringLiteral("Exportieren") : QStringLiteral("Importieren"));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(save ? QStringList{kVCardFilter, kCsvFilter, kSpreadsheetFilter}
                               : QStringList{QStringLiteral("Adressen (*.vcf *.vcard *.csv "
                                                            "*.dbf *.db *.ldif *.ldi *.mab)"),
                                             kVCardFilter, QStringLiteral("CSV-Dateien (*.csv)"),
                                             QStringLiteral("dBase und FoxPro (*.dbf)"),
                                             QStringLiteral("Paradox-Tabellen (*.db)"),
                                             QStringLiteral("Thunderbird (*.ldif *.ldi *.mab)"),
                                             QStringLiteral("Alle Dateien (*)")});
    dialog.setDirectory(lastFolder().isEmpty() ? QDir::currentPath() : lastFolder());
    if (save) {
        dialog.setDefaultSuffix(QStringLiteral("vcf"));
        if (!proposed.isEmpty())
            dialog.selectFile(proposed + QStringLiteral(".vcf"));
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                         [&dialog, proposed](const QString& filter) {
                             const QString suffix = filter == kVCardFilter ? QStringLiteral("vcf")
                                                                           : QStringLiteral("csv");
                             dialog.setDefaultSuffix(suffix);
                             if (!proposed.isEmpty())
                                 dialog.selectFile(proposed + u'.' + suffix);
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
    const QString path =
        chooseFile(parent, true, &filter, QFileInfo(store.tableFileName()).completeBaseName());
    if (path.isEmpty())
        return;
    const QString suffix = QFileInfo(path).suffix().toLower();
    const exchange::Format format = filter == kSpreadsheetFilter ? exchange::Format::SpreadsheetCsv
                                    : suffix == u"csv"           ? exchange::Format::Csv
                                    : suffix == u"vcf" || suffix == u"vcard"
                                        ? exchange::Format::VCard
                                    : filter == kCsvFilter ? exchange::Format::Csv
                                                           : exchange::Format::VCard;

    // Gathered first and put in place at the end: a cancelled or failed
    // export leaves an existing file as it was, and says why it failed.
    QBuffer file;
    file.open(QIODevice::WriteOnly);
    std::unique_ptr<QProgressDialog> progress(progressWindow(
        parent, QStringLiteral("Adressen werden exportiert …"), store.visibleCount()));
    QStringList withoutPicture;
    const int written = exchange::exportRecords(
        store, format, file,
        [&](int done, int) {
            progress->setValue(done);
            return !progress->wasCanceled();
        },
        &withoutPicture);
    const bool cancelled = progress->wasCanceled();
    progress.reset();
    if (cancelled)
        return;
    QString error;
    if (!writeFileSafely(path, file.data(), &error))
        throw StoreError(error, ErrorKind::Storage);
    QString text =
        written == 1
            ? QStringLiteral("1 Adresse wurde in %2 gespeichert.").arg(QFileInfo(path).fileName())
            : QStringLiteral("%1 Adressen wurden in %2 gespeichert.")
                  .arg(written)
                  .arg(QFileInfo(path).fileName());
    if (!withoutPicture.isEmpty()) {
        // A long list is cut: the box must fit the screen.
        constexpr int kShown = 10;
        text += QStringLiteral("\n\nNicht jedes Bild konnte gespeichert werden:\n") +
                withoutPicture.mid(0, kShown).join(u'\n');
        if (withoutPicture.size() > kShown)
            text += QStringLiteral("\n… und %1 weitere.").arg(withoutPicture.size() - kShown);
        showErrorMessage(text, parent);
        return;
    }
    showInformation(text, parent);
}

namespace {

// The summary, as an error box when a storage failure or the file stopped the import;
// "Details" shows every card, and the list can be saved as text.
// doubles: the likely duplicates the import brought, offered as a list of
// their own (showDoubles) after the box.
void showReport(const exchange::ImportResult& result, QWidget* parent,
                const duplicates::ImportDuplicates& doubles = {},
                const std::function<void()>& showDoubles = {}) {
    const bool failed = !result.failure.isEmpty() || !result.readFailure.isEmpty();
    QString summary = exchange::summaryText(result);
    if (doubles.pairs > 0)
        summary += doubles.pairs == 1
                       ? QStringLiteral("\n\nEine importierte Adresse ist vermutlich doppelt.")
                       : QStringLiteral("\n\n%1 importierte Adressen sind vermutlich doppelt.")
                             .arg(doubles.pairs);
    QMessageBox box(failed ? QMessageBox::Critical : QMessageBox::Information,
                    failed ? QStringLiteral("Fehler") : QStringLiteral("Information"), summary,
                    QMessageBox::NoButton, parent);
    box.setObjectName(QStringLiteral("ImportReport"));
    QString details = exchange::detailsText(result);
    if (!doubles.lines.isEmpty())
        details += u'\n' + doubles.lines.join(u'\n') + u'\n';
    box.setDetailedText(details);
    QPushButton* show = nullptr;
    if (doubles.pairs > 0 && showDoubles)
        show =
            box.addButton(QStringLiteral("&Doppelte Adressen zeigen …"), QMessageBox::ActionRole);
    QPushButton* save =
        box.addButton(QStringLiteral("Details &speichern …"), QMessageBox::ActionRole);
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    for (;;) {
        box.exec();
        if (show && box.clickedButton() == show) {
            showDoubles();
            return;
        }
        if (box.clickedButton() != save)
            return;
        const QString file = askSaveFileName(parent, QStringLiteral("DetailsDialog"),
                                             QStringLiteral("Details speichern"),
                                             QStringLiteral("Textdateien (*.txt)"),
                                             QStringLiteral("Importbericht.txt"), lastFolder());
        if (file.isEmpty())
            continue;
        QString error;
        if (!writeFileSafely(file, (summary + QStringLiteral("\n\n") + details).toUtf8(), &error))
            showErrorMessage(error, parent);
    }
}

// The likely duplicates of what was added; none when the table cannot be
// read again (the import's own report says what went wrong).
duplicates::ImportDuplicates doublesOf(const RecordStore& store,
                                       const duplicates::AddedRecords& added) {
    try {
        if (store.IsTableOpen() && !store.isBroken())
            return duplicates::importDuplicates(store, added.keys());
    } catch (const std::exception&) {
    }
    return {};
}

} // namespace

void ImportierenClick(RecordStore& store, QWidget* parent, const std::function<void()>& imported) {
    if (!store.IsTableOpen())
        store.BeginEdit(); // raises the closed-table error
    const QString path = chooseFile(parent, false, nullptr);
    if (path.isEmpty())
        return;
    // Where the columns go is shown, and may be changed, before anything is
    // added; the kinds whose properties name their place go straight in.
    ColumnChoices choices;
    {
        ImportPreview preview = previewFile(store, path);
        if (!preview.columnNames.isEmpty()) {
            const QStringList names = preview.columnNames;
            choices = rememberedChoices(names);
            if (!choices.isEmpty())
                preview = previewFile(store, path, choices);
            ImportPreviewDialog dialog(store, path, std::move(preview), choices, parent);
            if (dialog.exec() != QDialog::Accepted)
                return;
            const ColumnChoices chosen = dialog.choices();
            if (chosen != choices) {
                try {
                    rememberChoices(names, chosen);
                } catch (const ProfileError& e) {
                    showErrorMessage(QStringLiteral("Die Zuordnung der Spalten kann nicht "
                                                    "gespeichert werden: %1")
                                         .arg(e.text()),
                                     parent);
                }
            }
            choices = chosen;
        }
    }
    // The window counts the file's bytes: the cards are read as they are added.
    std::unique_ptr<QProgressDialog> progress(
        progressWindow(parent, QStringLiteral("Adressen werden importiert …"), 0));
    exchange::ImportResult result;
    // Notes what the import stores, to name what it brought twice.
    const duplicates::AddedRecords added(store);
    try {
        // The window is redrawn at most ten times a second; setValue
        // also lets it see the cancel button.
        QElapsedTimer redraw;
        redraw.start();
        result = exchange::importFile(
            store, path,
            [&](int done, int total) {
                if (progress->maximum() != total)
                    progress->setMaximum(total);
                if (redraw.elapsed() >= 100) {
                    progress->setValue(done);
                    redraw.restart();
                }
                return !progress->wasCanceled();
            },
            choices);
    } catch (...) {
        progress.reset();
        throw;
    }
    progress.reset();
    if (imported)
        imported();
    if (result.cards.empty() && result.readFailure.isEmpty())
        showInformation(
            QStringLiteral("Die Datei %1 enthält keine Adressen.").arg(QFileInfo(path).fileName()),
            parent);
    else
        showReport(result, parent, doublesOf(store, added), [&] {
            duplicates::ui::TFormDubletten list(store, parent, &added.keys());
            list.exec();
            if (imported)
                imported();
        });
}

} // namespace vellumo::exchange
