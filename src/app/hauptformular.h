#pragma once

#include "address/postaladdress.h"
#include "platform/database/datasource.h"
#include "platform/database/recordstore.h"

#include <QColor>
#include <QList>
#include <QMainWindow>
#include <QString>
#include <QStyle>

#include <functional>
#include <map>
#include <memory>

namespace vellumo::data {
struct FileWindow;
class FieldAids;
} // namespace vellumo::data
namespace Ui {
class THauptformular;
}
class QAction;
class QFileDialog;
class QLabel;
class TAboutBox;
class TFormBild;
class TFormBildSpeichern;
class TFormListe;
class TFormStandardtabelle;
class QToolButton;
class QDialog;
class TFormSuchen;
class TFormTabelle;
class TFormUmschalg;
class TKalDlg;
namespace vellumo {
class TableActions;
}
namespace vellumo::find {
class QuickSearch;
}

namespace vellumo::aids {
enum class ColourKey;
class ColourSettings;
class Help;
} // namespace vellumo::aids

// The main window: menus, tool bar, record bar and the entry fields of the
// current address. It owns the one address table of the program and its data
// source; every dialog works on these.
class THauptformular : public QMainWindow {
    Q_OBJECT
public:
    explicit THauptformular(QWidget* parent = nullptr);
    ~THauptformular() override;

    // The address table and the source every bound control of the program
    // follows. Declared in this order: the source must go first.
    vellumo::RecordStore Datentabelle;
    vellumo::DataSource Datenquelle;

    // The birthday calendar beside "Geburtstag".
    TKalDlg* Kalender = nullptr;

    // The dialogs the window opens. They work on its data source, so they are
    // made after it and handed in by ProgramWindows (app/startup.h); a window
    // built without one (a test of the window alone) tells the user that the
    // feature is not there.
    struct Dialogs {
        TAboutBox* about = nullptr;
        TFormUmschalg* umschlag = nullptr;
        TFormBild* bild = nullptr;
        TFormBildSpeichern* bildSpeichern = nullptr;
        TFormListe* liste = nullptr;
        TFormStandardtabelle* standardtabelle = nullptr;
        TFormSuchen* suchen = nullptr;
        TFormTabelle* tabelle = nullptr;
        // The dialogs of the registered print styles (print/printdialogs.h),
        // by the style's id.
        std::map<QString, QDialog*> printing = {};
    };
    void setDialogs(const Dialogs& dialogs) { dialogs_ = dialogs; }

    // The stem of the caption after an open or a close.
    QString BaseCaption;

    // Shared with the default-table dialog, which shows it with its own title.
    QFileDialog& OpenDialog() const { return *openDialog_; }

    // Once the window is up: the default table synced where the user asked
    // for it, then the coming birthdays, when the user asked for them.
    void AfterStart();

    // Menu "Datei".
    void NeuClick();
    void OeffnenClick();
    void SchliessenClick();
    void EndeClick();

    // Events of the address table.
    void DatentabelleAfterOpen();
    void DatentabelleBeforeClose();
    void DatentabelleBeforePost();

    // The 37 controls that only make sense with an open table, switched
    // together and in this order.
    QList<QObject*> tableControls() const;
    void EnableTableControls();
    void DisableTableControls();
    // Menu items beside the 37 that need an open table too (export, import,
    // what comes next): each comes in with one line in connectHandlers,
    // addTableAction(ui->Item, [this] { subsystem::ItemClick(...); }), and
    // takes the state of the 37 whenever its menu opens (app/tableactions.h).
    void addTableAction(QAction* action, std::function<void()> handler);
    QList<QAction*> extraTableActions() const;

    // Shared exit handler of the 17 entry controls.
    void DBEditNameExit(QWidget* sender);
    // Shared click handler of the six record buttons.
    void ButtonFirstClick(QObject* sender);
    // "<record number>/<count>".
    void ShowRecordPosition();

    // Printing: the envelope of the current address, the list of all.
    void UmschlagDruckenClick();
    void ListeDruckenClick();
    // The registered print styles' dialogs (labels and what comes after).
    void connectPrintDialogs();

    // Menu "Bearbeiten" and the clipboard buttons, on the field that has the
    // focus; the buttons' right click works on the whole field.
    void AusschneidenClick();
    void KopierenClick();
    void EinfuegenClick();
    void LoeschenClick();
    void FeldausClick();
    void FeldkopierenClick();
    void ButtonCutAllMouseUp(Qt::MouseButton button);
    void ButtonCopyAllMouseUp(Qt::MouseButton button);

    // Menu "Einstellungen": the five colours and the standard set.
    void EingabefelderHintergrundClick();
    void EingabefelderTextClick();
    void TextClick();
    void GruppentextClick();
    void FensterClick();
    void Standardeinstellungen1Click();
    // The colour dialog and what the other windows follow.
    vellumo::aids::ColourSettings& colours() const { return *colours_; }
    // The help window, which the dialogs' help buttons show as well.
    vellumo::aids::Help& help() const { return *help_; }
    // The box of the tool bar that finds anyone as the user types.
    vellumo::find::QuickSearch& quickSearch() const { return *quickSearch_; }

    // The five colours of the main window (default values at start-up).
    void setEntryBackground(const QColor& colour); // the 17 entry controls
    void setEntryText(const QColor& colour);       // the 17 entry controls
    void setLabelText(const QColor& colour);       // field labels, status, dates
    void setGroupText(const QColor& colour);       // captions of the four groups
    void setWindowColour(const QColor& colour);    // the window behind it all

    // What the other subsystems see of the form: the address as shown, the
    // entry controls and labels (the colour groups), the colour setters above.
    vellumo::address::PostalAddress currentAddress() const;
    QList<QWidget*> entryControls() const; // the 17, in the order of the colour group
    QList<QLabel*> labelControls() const;  // the 21 of the label group

    // Caption after opening path: base caption, " - " and the file-name part.
    static QString fileNamePart(const QString& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    Ui::THauptformular* ui;

    void FormCreate();
    bool FormKeyPress(QObject* watched, int key, Qt::KeyboardModifiers modifiers);
    void connectHandlers();
    void bindControls();
    void placeIbanRow();
    QList<QWidget*> ibanLines() const; // the IBAN and BIC lines, coloured as entries
    template <class Dialog> Dialog& given(Dialog* dialog) const;
    vellumo::data::FileWindow fileWindow();

    void applyColour(vellumo::aids::ColourKey key, const QColor& colour);

    Dialogs dialogs_;
    QFileDialog* openDialog_;
    vellumo::TableActions* tableActions_;
    vellumo::data::FieldAids* fieldAids_ = nullptr;
    bool tableControlsOn_ = false;
    QList<QToolButton*> printButtons_;
    vellumo::aids::ColourSettings* colours_;
    std::unique_ptr<vellumo::aids::Help> help_;
    vellumo::find::QuickSearch* quickSearch_ = nullptr;
    QString lastOpenFile_;
    std::unique_ptr<QStyle> groupStyle_;
};
