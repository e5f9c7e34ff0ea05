#include "data/tablefile.h"

#include "address/addresstable.h"
#include "platform/database/recordstore.h"
#include "platform/paradox/error.h"
#include "platform/paradox/restructure.h"
#include "platform/system/system.h"
#include "platform/ui/messages.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLineEdit>
#include <QLocale>
#include <QSplitter>
#include <QTreeView>
#include <QWidget>

#include <algorithm>
#include <stdexcept>

namespace vellumo::data {

namespace {

// Qt's file list writes sizes and dates in the system's locale; the program
// writes them in German whatever that is.
class GermanFileList : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (role == Qt::DisplayRole && files && index.isValid()) {
            const QLocale german(QLocale::German, QLocale::Germany);
            const QModelIndex source = mapToSource(index);
            if (index.column() == 1 && !files->isDir(source))
                return german.formattedDataSize(files->size(source));
            if (index.column() == 3)
                return german.toString(files->lastModified(source),
                                       QStringLiteral("dd.MM.yyyy hh:mm"));
        }
        return QIdentityProxyModel::data(index, role);
    }
};
bool passwordProtected(const QString& path) {
    try {
        return px::isPasswordProtected(QFile::encodeName(path).toStdString());
    } catch (const px::Error&) {
        return false; // a file that cannot be read is no protected table
    }
}

void call(const std::function<void()>& step) {
    if (step)
        step();
}
template <class Arg> void call(const std::function<void(Arg)>& step, const QString& value) {
    if (step)
        step(value);
}
} // namespace

QFileDialog* createOpenDialog(QWidget* parent) {
    auto* dialog = new QFileDialog(parent);
    dialog->setObjectName(QStringLiteral("OpenDialog"));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilter(QString::fromLatin1(kParadoxFilter));
    dialog->setDefaultSuffix(QStringLiteral("db"));
    dialog->setProxyModel(new GermanFileList(dialog));
    dialog->setDirectory(QDir::currentPath());

    // Size, type and date would otherwise be cut to a few characters.
    auto* list = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
    auto* model = dialog->findChild<QFileSystemModel*>();
    if (list && model) {
        QObject::connect(model, &QFileSystemModel::directoryLoaded, list, [list] {
            for (int column = 0; column < list->header()->count(); ++column)
                list->resizeColumnToContents(column);
        });
    }

    if (auto* splitter = dialog->findChild<QSplitter*>(QStringLiteral("splitter")))
        splitter->setSizes({110, 500});

    // Enter in the file name takes the name and closes the dialog, but the
    // completion list would stay floating over the main window.
    if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
        QObject::connect(dialog, &QDialog::finished, name, [name] {
            if (QCompleter* completer = name->completer())
                if (QAbstractItemView* popup = completer->popup())
                    popup->hide();
        });
    }
    return dialog;
}

QString fileNamePart(const QString& path) {
    qsizetype cut = -1;
    for (const QChar separator : {QLatin1Char('/'), QLatin1Char('\\'), QLatin1Char(':')})
        cut = std::max(cut, path.lastIndexOf(separator));
    return path.mid(cut + 1);
}

QString tableCaption(const QString& baseCaption, const QString& path) {
    return baseCaption + QStringLiteral(" - ") + fileNamePart(path);
}

void showClosedTable(const FileWindow& window, const QString& baseCaption) {
    call(window.table.disableTableControls);
    call(window.setStatusText, QString());
    call(window.table.setCaption, baseCaption);
}

void NeuClick(RecordStore& store, const QString& baseCaption, const FileWindow& window) {
    QString name = QStringLiteral("Adressen");
    if (!inputQuery(QStringLiteral("Neue Datenbank erzeugen"),
                    QStringLiteral("Geben Sie den neuen Dateinamen ein"), name, window.owner))
        return;

    // The file the store will create, by the store's own rule, so that the
    // question below guards whatever file would be replaced.
    const QString fileName = RecordStore::tableFileName(name);
    const bool overwrite = QFileInfo(fileName).isFile();
    if (overwrite && !confirm(QStringLiteral("Eine Datei mit diesem Namen existiert bereits! "
                                             "Soll sie überschrieben werden?"),
                              window.owner))
        return;
    if (window.owner)
        window.owner->repaint();

    store.CloseTable();
    try {
        // Deleted only once the open table is closed: it may be this very file.
        // Never while another program writes it (the store takes its lock first).
        if (overwrite)
            store.DeleteTableFile(fileName);

        store.BindTable(name);
        DeclareAddressTable(store, name);
        store.CreateTableFile();
        store.OpenTable();
        call(window.table.setCaption, QString::fromUtf8(kNewCaption) + fileName);
        call(window.table.enableTableControls);
        call(window.focusFirstField);
        store.BeginEdit();
        store.SetFieldDate(QStringLiteral("Erstellt"), now());
    } catch (...) {
        // The old table is gone: the window must not go on showing it.
        if (!store.IsTableOpen())
            showClosedTable(window, baseCaption);
        throw;
    }
}

void OeffnenClick(RecordStore& store, QFileDialog& openDialog, const QString& baseCaption,
                  const FileWindow& window) {
    // The default-table dialog gives the same dialog a title of its own.
    openDialog.setWindowTitle(QStringLiteral("Öffnen"));
    openDialog.setNameFilter(QString::fromLatin1(kParadoxFilter));
    if (openDialog.exec() != QDialog::Accepted)
        return;
    const QStringList chosen = openDialog.selectedFiles();
    if (chosen.isEmpty())
        return;
    const QString path = chosen.first();
    if (window.owner)
        window.owner->repaint();

    store.CloseTable();
    try {
        store.BindTable(path);
        // A table protected by a password is read, never written.
        const bool locked = passwordProtected(path);
        if (locked)
            store.OpenTableReadOnly();
        else
            store.OpenTable();
        call(window.table.setCaption,
             tableCaption(baseCaption, path) +
                 (locked ? QString::fromUtf8(kProtectedCaption) : QString()));
        call(window.table.enableTableControls);
        call(window.focusFirstField);
        if (locked)
            showInformation(QString::fromUtf8(kProtectedNote), window.owner);
    } catch (const std::exception&) {
        // A file that is no table (or not ours) is left closed without a word.
        if (!store.IsTableOpen())
            showClosedTable(window, baseCaption);
        else
            call(window.table.setCaption, baseCaption);
    }
}

void KennwortschutzEntfernenClick(RecordStore& store, QFileDialog& openDialog, QWidget* owner) {
    QString source = store.IsTableOpen() ? store.tableFileName() : QString();
    if (source.isEmpty() || !passwordProtected(source)) {
        openDialog.setWindowTitle(QStringLiteral("Kennwortschutz entfernen"));
        openDialog.setNameFilter(QString::fromLatin1(kParadoxFilter));
        if (openDialog.exec() != QDialog::Accepted || openDialog.selectedFiles().isEmpty())
            return;
        source = openDialog.selectedFiles().constFirst();
        if (!passwordProtected(source)) {
            showInformation(QStringLiteral("Die Tabelle %1 ist nicht mit einem Kennwort geschützt.")
                                .arg(fileNamePart(source)),
                            owner);
            return;
        }
    }
    // A name that is free, beside the table; the dialog asks before the
    // person picks one that is taken.
    const QFileInfo info(source);
    QString proposed = info.completeBaseName() + QStringLiteral(" ohne Kennwort.db");
    for (int n = 2; QFileInfo::exists(info.dir().filePath(proposed)); ++n)
        proposed = info.completeBaseName() + QStringLiteral(" ohne Kennwort %1.db").arg(n);
    QString folder = info.absolutePath();
    const QString target = askSaveFileName(owner, QStringLiteral("KennwortschutzDialog"),
                                           QStringLiteral("Ungeschützte Kopie speichern"),
                                           QString::fromLatin1(kParadoxFilter), proposed, folder);
    if (target.isEmpty())
        return;
    try {
        px::writeUnprotectedCopy(QFile::encodeName(source).toStdString(),
                                 QFile::encodeName(target).toStdString(),
                                 QFileInfo::exists(target));
    } catch (const px::Error& e) {
        throw StoreError(QStringLiteral("Die ungeschützte Kopie wurde nicht angelegt: %1")
                             .arg(QString::fromUtf8(e.what())));
    }
    showInformation(
        QStringLiteral("Die ungeschützte Kopie %1 ist angelegt; %2 bleibt, wie sie war.")
            .arg(fileNamePart(target), fileNamePart(source)),
        owner);
}

void SchliessenClick(RecordStore& store, const QString& baseCaption, const FileWindow& window) {
    if (store.HasUnsavedChanges())
        store.SaveRecord();
    store.CloseTable();
    showClosedTable(window, baseCaption);
}

bool holdsOnlyCreationStamp(const RecordStore& store) {
    for (const FieldInfo& field : store.fields()) {
        if (field.name.compare(QStringLiteral("Erstellt"), Qt::CaseInsensitive) == 0)
            continue;
        const QVariant value = store.fieldValue(field.name);
        if (value.isNull())
            continue;
        if (value.typeId() == QMetaType::QString && value.toString().isEmpty())
            continue;
        if (value.typeId() == QMetaType::QByteArray && value.toByteArray().isEmpty())
            continue;
        if (value.typeId() == QMetaType::QDate && !value.toDate().isValid())
            continue;
        return false;
    }
    return true;
}

bool settleBeforeEnd(RecordStore& store, QWidget* owner) {
    if (!store.IsTableOpen())
        return true;
    try {
        // Asking writes the text still pending in an entry field first.
        if (!store.HasUnsavedChanges())
            return true;
        if (store.state() == StoreState::Inserting && holdsOnlyCreationStamp(store)) {
            store.DiscardChanges();
            return true;
        }
        store.SaveRecord();
        return true;
    } catch (const std::exception& error) {
        showError(errorText(error), owner);
        // Enter pressed once too often must not throw the edit away.
        return confirmDefaultNo(QStringLiteral("Die Änderungen konnten nicht gespeichert werden. "
                                               "Trotzdem beenden und die Änderungen verwerfen?"),
                                owner);
    }
}

} // namespace vellumo::data
