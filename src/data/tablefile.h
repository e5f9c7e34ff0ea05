// The menu "Datei" on the shared address table: new, open, close, and the
// settling of the current record when the program ends.
#pragma once

#include "data/defaulttable.h"

#include <QString>

class QFileDialog;
class QWidget;

namespace vellumo {
class RecordStore;
}

namespace vellumo::data {

// What the file operations need of the main window beyond TableWindow.
struct FileWindow {
    TableWindow table;
    std::function<void(const QString&)> setStatusText; // the status label
    std::function<void()> focusFirstField;             // DBEditName
    QWidget* owner = nullptr;                          // parent of the boxes, repainted
};

inline constexpr const char* kNewCaption = "Vellumo V1.0 - ";
// The open dialog lists tables whatever the case of their extension.
inline constexpr const char* kParadoxFilter = "Paradox-Dateien (*.db *.DB *.Db *.dB)";
// What the main window says of a table protected by a password.
inline constexpr const char* kProtectedCaption = " (mit Kennwort geschützt, nur zum Lesen)";
inline constexpr const char* kProtectedNote =
    "Die Tabelle ist mit einem Kennwort geschützt. Vellumo zeigt sie nur zum Lesen; "
    "Änderungen werden nicht gespeichert. Eine ungeschützte Kopie zum Bearbeiten legt "
    "„Datei › Kennwortschutz entfernen …“ an.";

// The main window's open dialog (Qt's own, so it looks the same everywhere):
// existing Paradox files, the list's columns as wide as their content, and
// the file name's completion list closed with the dialog.
QFileDialog* createOpenDialog(QWidget* parent);

// The text after the last "/", "\" or ":": what a caption shows of a path.
QString fileNamePart(const QString& path);
// baseCaption + " - " + the file-name part of path.
QString tableCaption(const QString& baseCaption, const QString& path);

// After a failed "&Neu" or "&Öffnen" that closed the old table: controls off,
// the base caption, an empty status label.
void showClosedTable(const FileWindow& window, const QString& baseCaption);

// "&Neu": asks for the name (and before replacing a file), creates the table,
// opens it and starts its first record with "Erstellt" set. An error after
// the old table was closed leaves the window showing the closed state and is
// raised to the caller's standard error display.
void NeuClick(RecordStore& store, const QString& baseCaption, const FileWindow& window);

// "&Öffnen" through openDialog (its title reset first). A file that cannot be
// opened leaves the table closed without a word. A table protected by a
// password opens for reading only, says so in a box and in the caption.
void OeffnenClick(RecordStore& store, QFileDialog& openDialog, const QString& baseCaption,
                  const FileWindow& window);

// "&Kennwortschutz entfernen …": the open table when it is protected by a
// password, else one chosen through openDialog, is copied into an
// unprotected table whose name the person picks (the save dialog asks
// before a file is replaced); the protected table stays as it is. A failure
// is raised to the caller's standard error display.
void KennwortschutzEntfernenClick(RecordStore& store, QFileDialog& openDialog, QWidget* owner);

// "&Schließen": saves what is unsaved, closes, shows the closed state.
void SchliessenClick(RecordStore& store, const QString& baseCaption, const FileWindow& window);

// Whether the record being inserted holds nothing but its automatic
// creation date.
bool holdsOnlyCreationStamp(const RecordStore& store);

// End of the program: stores what the person typed, drops a new record that
// holds only its creation date. When the save fails the error is shown and
// the person is asked whether to end anyway ("&Nein" is the default); false
// keeps the program open.
bool settleBeforeEnd(RecordStore& store, QWidget* owner);

} // namespace vellumo::data
