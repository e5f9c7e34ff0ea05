#include "app/hauptformular.h"

#include "address/addresstable.h"
#include "address/bank.h"
#include "aids/aboutbox.h"
#include "aids/clipboard.h"
#include "aids/colours.h"
#include "aids/fieldtips.h"
#include "aids/formgeburtstage.h"
#include "aids/formkalender.h"
#include "aids/helpwindow.h"
#include "app/tableactions.h"
#include "data/addressfields.h"
#include "data/defaulttable.h"
#include "data/formstandardtabelle.h"
#include "data/navigation.h"
#include "data/phonenumbers.h"
#include "data/tablefile.h"
#include "data/undoactions.h"
#include "duplicates/ui/formdubletten.h"
#include "exchange/ui/exchangedialog.h"
#include "find/formsuchen.h"
#include "find/formtabelle.h"
#include "find/quicksearch.h"
#include "pictures/formbild.h"
#include "pictures/formbildspeichern.h"
#include "pictures/picturesize.h"
#include "platform/database/boundcontrols.h"
#include "platform/settings/colourvalue.h"
#include "platform/settings/profile.h"
#include "platform/system/system.h"
#include "platform/ui/messages.h"
#include "platform/ui/placement.h"
#include "print/formliste.h"
#include "print/formumschalg.h"
#include "print/printdialogs.h"
#include "sync/ui/syncwindows.h"

#include "ui_hauptformular.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>

#include <stdexcept>

using vellumo::guarded;

// The pictures live in the windows library, which is static: register them
// before the first window needs them.
static void initialiseResources() {
    Q_INIT_RESOURCE(resources);
}

namespace {

constexpr int kDefaultWindowColour = 12632256; // silver

} // namespace

THauptformular::THauptformular(QWidget* parent)
    : QMainWindow(parent), Datenquelle(Datentabelle), ui(new Ui::THauptformular) {
    initialiseResources();
    ui->setupUi(this);
    setObjectName(QStringLiteral("Hauptformular"));

    // A fixed frame: system menu, minimise and close, no maximise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    // One row more than the designed 353 pixels: the IBAN under the bank fields.
    constexpr int kClientHeight = 353 + vellumo::data::FieldAids::kRowHeight;
    centralWidget()->setFixedSize(625, kClientHeight);
    setFixedSize(625, menuBar()->sizeHint().height() + kClientHeight);
    vellumo::centreWhenShown(this);

    // The separators carry the names of the menu design; N3 stays disabled.
    const struct {
        QMenu* menu;
        QStringList names;
    } separators[] = {{ui->Datei1, {"N1", "N2"}},
                      {ui->Bearbeiten1, {"N3", "N4"}},
                      {ui->Einstellungen1, {"N7"}},
                      {ui->Hilfe1, {"N5"}}};
    for (const auto& entry : separators) {
        int next = 0;
        for (QAction* action : entry.menu->actions())
            if (action->isSeparator() && next < entry.names.size())
                action->setObjectName(entry.names[next++]);
    }
    if (auto* n3 = ui->Bearbeiten1->findChild<QAction*>(QStringLiteral("N3")))
        n3->setEnabled(false);

    openDialog_ = vellumo::data::createOpenDialog(this);
    openDialog_->installEventFilter(this);
    connect(openDialog_, &QFileDialog::fileSelected, this,
            [this](const QString& file) { lastOpenFile_ = file; });

    Datentabelle.AfterOpen = [this] { DatentabelleAfterOpen(); };
    Datentabelle.BeforeClose = [this] { DatentabelleBeforeClose(); };
    Datentabelle.BeforePost = [this] { DatentabelleBeforePost(); };

    colours_ = new vellumo::aids::ColourSettings(
        this,
        [this](vellumo::aids::ColourKey key, const QColor& colour) { applyColour(key, colour); });
    new vellumo::aids::FieldTip(ui->DBEditEmail);
    new vellumo::aids::FieldTip(ui->DBEditWWW);
    Kalender = new TKalDlg(this);
    help_ = std::make_unique<vellumo::aids::Help>(this);
    tableActions_ = new vellumo::TableActions([this] { return tableControlsOn_; }, this);
    bindControls();
    placeIbanRow();
    connectHandlers();

    // The Enter rule sees every key of the window's controls before they do.
    for (QWidget* child : centralWidget()->findChildren<QWidget*>())
        child->installEventFilter(this);
    // The quick search handles its own keys (Enter goes to the match), so it
    // comes after the rule; its box sits in the tool bar's free stretch, its
    // list opens over the entry fields. Made before the default table opens,
    // so its index reads that table at once.
    quickSearch_ = new vellumo::find::QuickSearch(Datenquelle, ui->Panel1, centralWidget());
    quickSearch_->box()->setGeometry(372, 5, 218, 23);
    setTabOrder(ui->ButtonSavePic, quickSearch_->box());
    setTabOrder(quickSearch_->box(), ui->SpeedButton2);
    auto* quick = new QAction(QStringLiteral("Sch&nellsuche"), this);
    quick->setObjectName(QStringLiteral("Schnellsuche1"));
    quick->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_F), QKeySequence(Qt::Key_F3)});
    auto* filterOff = new QAction(QStringLiteral("&Filter aus"), this);
    filterOff->setObjectName(QStringLiteral("FilterAus"));
    filterOff->setEnabled(false);
    ui->Suchen1->insertActions(ui->Geburtstage, {quick, filterOff});
    connect(quick, &QAction::triggered, quickSearch_, [this] { quickSearch_->focusBox(); });
    connect(filterOff, &QAction::triggered, this, guarded([this] { quickSearch_->filterOff(); }));
    connect(quickSearch_, &vellumo::find::QuickSearch::filteringChanged, filterOff,
            &QAction::setEnabled);

    // The tool bar keeps its own colour whatever the window colour is.
    ui->Panel1->setAutoFillBackground(true);
    QPalette panel = ui->Panel1->palette();
    panel.setColor(QPalette::Window, vellumo::colourFromValue(kDefaultWindowColour));
    ui->Panel1->setPalette(panel);
    centralWidget()->setAutoFillBackground(true);

    // Group captions sit on the frame line, as the layout's positions assume.
    groupStyle_.reset(QStyleFactory::create(QStringLiteral("Windows")));
    if (groupStyle_)
        for (QGroupBox* group :
             {ui->AnschriftGroupBox, ui->SonstGroupBox, ui->KommGroupBox, ui->BankGroupBox})
            group->setStyle(groupStyle_.get());

    FormCreate();
}

THauptformular::~THauptformular() {
    // The controls go before the table they show.
    delete centralWidget();
    delete ui;
}

template <class Dialog> Dialog& THauptformular::given(Dialog* dialog) const {
    if (!dialog)
        throw std::runtime_error(vellumo::kNotAvailableText);
    return *dialog;
}

void THauptformular::FormCreate() {
    BaseCaption = QStringLiteral("Vellumo V2.0");
    colours_->load();
    vellumo::data::OpenDefaultTable(Datentabelle, BaseCaption,
                                    {[this](const QString& caption) { setWindowTitle(caption); },
                                     [this] { EnableTableControls(); },
                                     [this] { DisableTableControls(); }},
                                    vellumo::setupIniPath());
}

void THauptformular::AfterStart() {
    vellumo::sync::ui::syncAtOpenOrClose(Datentabelle, this);
    vellumo::aids::showBirthdaysAtStart(Datentabelle, this);
}

void THauptformular::bindControls() {
    const struct {
        vellumo::DBEdit* edit;
        const char* field;
    } edits[] = {
        {ui->DBEditName, "Name"},       {ui->DBEditVorname, "Vorname"},
        {ui->DBEditStrasse, "Strasse"}, {ui->DBEditLand, "Land"},
        {ui->DBEditPLZ, "PLZ"},         {ui->DBEditOrt, "Ort"},
        {ui->DBEditGeb, "Geburtstag"},  {ui->DBEditRubrik, "Rubrik"},
        {ui->DBEditTel1, "Telefon1"},   {ui->DBEditTel2, "Telefon2"},
        {ui->DBEditFax, "Fax"},         {ui->DBEditEmail, "Email"},
        {ui->DBEditWWW, "WWW"},         {ui->DBEditKto, "KontoNr"},
        {ui->DBEditBLZ, "BLZ"},         {ui->DBEditInst, "Institut"},
    };
    for (const auto& entry : edits) {
        entry.edit->setDataField(&Datenquelle, QString::fromLatin1(entry.field));
        vellumo::DBEdit* edit = entry.edit;
        connect(edit, &vellumo::DBEdit::exited, this,
                guarded([this, edit] { DBEditNameExit(edit); }));
    }
    ui->DBMemoBemerkungen->setDataField(&Datenquelle, QStringLiteral("Memo1"));
    connect(ui->DBMemoBemerkungen, &vellumo::DBMemo::exited, this,
            guarded([this] { DBEditNameExit(ui->DBMemoBemerkungen); }));
    ui->ErstelltDBText->setDataField(&Datenquelle, QStringLiteral("Erstellt"));
    ui->DatumDBText->setDataField(&Datenquelle, QStringLiteral("Aenderung"));
    // The position follows the cursor wherever it moved: a search, a grid, a list run.
    auto showPosition = [this] {
        if (Datentabelle.IsTableOpen() && !Datentabelle.isBroken())
            ShowRecordPosition();
    };
    connect(&Datenquelle, &vellumo::DataSource::currentChanged, this, showPosition);
    connect(&Datenquelle, &vellumo::DataSource::recordsChanged, this, showPosition);
}

// The bank group and the notes beside it grow by the IBAN's row.
void THauptformular::placeIbanRow() {
    constexpr int kGrowth = vellumo::data::FieldAids::kRowHeight;
    for (QWidget* grown :
         {static_cast<QWidget*>(ui->BankGroupBox), static_cast<QWidget*>(ui->SonstGroupBox),
          static_cast<QWidget*>(ui->DBMemoBemerkungen)})
        grown->resize(grown->width(), grown->height() + kGrowth);
    fieldAids_ = new vellumo::data::FieldAids(
        Datenquelle,
        {ui->DBEditKto, ui->DBEditBLZ, ui->DBEditInst, ui->DBEditPLZ, ui->DBEditLand,
         ui->DBMemoBemerkungen},
        ui->BankGroupBox, vellumo::address::BankDirectory::installed());
}

void THauptformular::connectHandlers() {
    auto onAction = [this](QAction* action, auto handler) {
        connect(action, &QAction::triggered, this, guarded(handler));
    };
    auto onButton = [this](QAbstractButton* button, auto handler) {
        connect(button, &QAbstractButton::clicked, this, guarded(handler));
    };

    onAction(ui->Neu, [this] { NeuClick(); });
    onButton(ui->ButtonNeu, [this] { NeuClick(); });
    onAction(ui->Oeffnen, [this] { OeffnenClick(); });
    onButton(ui->ButtonOeffnen, [this] { OeffnenClick(); });
    onAction(ui->Schliessen, [this] { SchliessenClick(); });
    onAction(ui->Ende, [this] { EndeClick(); });
    onButton(ui->SpeedButton2, [this] { EndeClick(); });

    auto suchenClick = [this] { given(dialogs_.suchen).exec(); };
    onAction(ui->Suchen, suchenClick);
    onButton(ui->ButtonSuchen, suchenClick);
    // The three tool buttons without a menu path of their own get one with a
    // shortcut, so the table view and the pictures are reached without a mouse.
    const auto bildAnsehen = [this] { given(dialogs_.bild).ButtonSeePicClick(); };
    const auto bildSpeichern = [this] { given(dialogs_.bildSpeichern).showModal(); };
    const auto tabellenansicht = [this] { given(dialogs_.tabelle).exec(); };
    onButton(ui->ButtonSeePic, bildAnsehen);
    onButton(ui->ButtonSavePic, bildSpeichern);
    onButton(ui->ButtonTabelle, tabellenansicht);
    addTableAction(ui->BildAnsehen, bildAnsehen);
    addTableAction(ui->BildSpeichern, bildSpeichern);
    addTableAction(ui->Tabellenansicht, tabellenansicht);
    onAction(ui->Standardtabelle, [this] { given(dialogs_.standardtabelle).exec(); });
    onAction(ui->Bildgroesse, [this] { vellumo::pictures::BildgroesseClick(this); });

    auto* undo = new QAction(this);
    undo->setObjectName(QStringLiteral("Rueckgaengig"));
    auto* redo = new QAction(this);
    redo->setObjectName(QStringLiteral("Wiederherstellen"));
    vellumo::data::addUndoActions(ui->Bearbeiten1, undo, redo, Datentabelle, Datenquelle);
    onAction(ui->Ausschneiden, [this] { AusschneidenClick(); });
    onButton(ui->ButtonCutAll, [this] { AusschneidenClick(); });
    onAction(ui->Kopieren, [this] { KopierenClick(); });
    onButton(ui->ButtonCopyAll, [this] { KopierenClick(); });
    onAction(ui->Einfuegen, [this] { EinfuegenClick(); });
    onButton(ui->ButtonPaste, [this] { EinfuegenClick(); });
    onAction(ui->Loeschen, [this] { LoeschenClick(); });
    onAction(ui->Feldaus, [this] { FeldausClick(); });
    onAction(ui->Feldkopieren, [this] { FeldkopierenClick(); });
    vellumo::aids::onMouseUp(ui->ButtonCutAll, [this](Qt::MouseButton button) {
        vellumo::runGuarded([&] { ButtonCutAllMouseUp(button); });
    });
    vellumo::aids::onMouseUp(ui->ButtonCopyAll, [this](Qt::MouseButton button) {
        vellumo::runGuarded([&] { ButtonCopyAllMouseUp(button); });
    });

    onAction(ui->EingabefelderHintergrund, [this] { EingabefelderHintergrundClick(); });
    onAction(ui->EingabefelderText, [this] { EingabefelderTextClick(); });
    onAction(ui->Text, [this] { TextClick(); });
    onAction(ui->Gruppentext, [this] { GruppentextClick(); });
    onAction(ui->Fenster, [this] { FensterClick(); });
    onAction(ui->Standardeinstellungen1, [this] { Standardeinstellungen1Click(); });

    onButton(ui->ButtonGeburtstag, [this] {
        vellumo::aids::ButtonGeburtstagClick(*Kalender, ui->ButtonGeburtstag, Datentabelle);
    });
    onAction(ui->Hilfethemen1, [this] { vellumo::aids::Hilfethemen1Click(*help_); });
    onAction(ui->Info1, [this] { vellumo::aids::Info1Click(dialogs_.about); });

    onAction(ui->UmschlagDrucken, [this] { UmschlagDruckenClick(); });
    onButton(ui->ButtonUmschlag, [this] { UmschlagDruckenClick(); });
    onAction(ui->ListeDrucken, [this] { ListeDruckenClick(); });
    onButton(ui->ButtonListe, [this] { ListeDruckenClick(); });
    connectPrintDialogs();
    addTableAction(ui->Exportieren,
                   [this] { vellumo::exchange::ExportierenClick(Datentabelle, this); });
    addTableAction(ui->Importieren, [this] {
        vellumo::exchange::ImportierenClick(Datentabelle, this, [this] { ShowRecordPosition(); });
    });
    // Works on any protected table, the open one or one chosen, so it needs none open.
    auto* unprotect = new QAction(QStringLiteral("&Kennwortschutz entfernen …"), this);
    unprotect->setObjectName(QStringLiteral("KennwortschutzEntfernen"));
    const QList<QAction*> fileItems = ui->Datei1->actions();
    ui->Datei1->insertAction(fileItems.value(fileItems.indexOf(ui->Importieren) + 1), unprotect);
    onAction(unprotect, [this] {
        vellumo::data::KennwortschutzEntfernenClick(Datentabelle, *openDialog_, this);
    });
    addTableAction(ui->Geburtstage,
                   [this] { vellumo::aids::GeburtstageClick(Datentabelle, this); });
    auto* doppelte = new QAction(QStringLiteral("&Doppelte Adressen …"), this);
    doppelte->setObjectName(QStringLiteral("DoppelteAdressen"));
    ui->Suchen1->addAction(doppelte);
    addTableAction(doppelte, [this] {
        duplicates::ui::DoppelteAdressenClick(Datentabelle, this);
        ShowRecordPosition();
    });
    addTableAction(ui->Synchronisation,
                   [this] { vellumo::sync::ui::SynchronisationClick(Datentabelle, this); });
    addTableAction(ui->JetztSynchronisieren, [this] {
        vellumo::sync::ui::JetztSynchronisierenClick(Datentabelle, this);
        ShowRecordPosition();
    });
    addTableAction(ui->Konflikte,
                   [this] { vellumo::sync::ui::KonflikteClick(Datentabelle, this); });
    // "Bearbeiten › Nummern vereinheitlichen": for the address shown or all shown.
    QMenu* nummern = ui->Bearbeiten1->addMenu(QStringLiteral("Nummern &vereinheitlichen"));
    nummern->setObjectName(QStringLiteral("NummernVereinheitlichen"));
    const struct {
        const char* name;
        const char* caption;
        vellumo::data::PhoneScope scope;
    } phoneItems[] = {
        {"NummernAdresse", "Diese &Adresse", vellumo::data::PhoneScope::Record},
        {"NummernAlle", "Alle &gezeigten Adressen", vellumo::data::PhoneScope::Shown},
    };
    for (const auto& item : phoneItems) {
        QAction* action = nummern->addAction(QString::fromUtf8(item.caption));
        action->setObjectName(QString::fromLatin1(item.name));
        addTableAction(action, [this, scope = item.scope] {
            vellumo::data::NummernVereinheitlichenClick(Datentabelle, scope, this);
        });
    }
    vellumo::aids::initBirthdaysAtStart(ui->GeburtstageBeimStart);
    onAction(ui->GeburtstageBeimStart,
             [this] { vellumo::aids::GeburtstageBeimStartClick(ui->GeburtstageBeimStart, this); });

    for (QToolButton* button : {ui->ButtonFirst, ui->ButtonPrior, ui->ButtonNext, ui->ButtonLast,
                                ui->ButtonAdd, ui->ButtonDelete})
        onButton(button, [this, button] { ButtonFirstClick(button); });
}

// Each registered print dialog gets its menu item (the form's own, or a new
// one after the last print item of "&Datei") and its tool button, and opens
// as the dialog start-up made for its style.
void THauptformular::connectPrintDialogs() {
    QAction* last = ui->ListeDrucken;
    for (const vellumo::print::PrintDialogEntry& entry : vellumo::print::printDialogs()) {
        auto* action = findChild<QAction*>(entry.action);
        if (!action) {
            action = new QAction(entry.menuText, this);
            action->setObjectName(entry.action);
            const QList<QAction*> items = ui->Datei1->actions();
            const qsizetype at = items.indexOf(last);
            ui->Datei1->insertAction(items.value(at + 1), action);
        }
        last = action;
        const QString style = entry.style;
        const auto open = [this, style] {
            const auto found = dialogs_.printing.find(style);
            given(found == dialogs_.printing.end() ? nullptr : found->second).exec();
        };
        addTableAction(action, open);
        if (auto* button =
                entry.button.isEmpty() ? nullptr : findChild<QToolButton*>(entry.button)) {
            connect(button, &QAbstractButton::clicked, this, guarded(open));
            printButtons_.append(button);
        }
    }
}

void THauptformular::UmschlagDruckenClick() {
    given(dialogs_.umschlag).ShowFor(currentAddress());
}

void THauptformular::ListeDruckenClick() {
    given(dialogs_.liste).exec();
}

// ---- Datei -----------------------------------------------------------------

void THauptformular::NeuClick() {
    vellumo::data::NeuClick(Datentabelle, BaseCaption, fileWindow());
}

void THauptformular::OeffnenClick() {
    vellumo::data::OeffnenClick(Datentabelle, *openDialog_, BaseCaption, fileWindow());
    vellumo::sync::ui::syncAtOpenOrClose(Datentabelle, this);
}

void THauptformular::SchliessenClick() {
    vellumo::sync::ui::syncAtOpenOrClose(Datentabelle, this);
    vellumo::data::SchliessenClick(Datentabelle, BaseCaption, fileWindow());
}

void THauptformular::EndeClick() {
    close();
}

QString THauptformular::fileNamePart(const QString& path) {
    return vellumo::data::fileNamePart(path);
}

vellumo::data::FileWindow THauptformular::fileWindow() {
    return {{[this](const QString& caption) { setWindowTitle(caption); },
             [this] { EnableTableControls(); }, [this] { DisableTableControls(); }},
            [this](const QString& text) { ui->StatusLabel->setText(text); },
            [this] { ui->DBEditName->setFocus(); },
            this};
}

// ---- Table events --------------------------------------------------------------

void THauptformular::DatentabelleAfterOpen() {
    ShowRecordPosition();
}

void THauptformular::DatentabelleBeforeClose() {
    Datentabelle.BeginEdit();
    Datentabelle.SaveRecord();
}

void THauptformular::DatentabelleBeforePost() {
    Datentabelle.SetFieldDate(QStringLiteral("Aenderung"), vellumo::now());
}

void THauptformular::ShowRecordPosition() {
    ui->StatusLabel->setText(vellumo::data::recordPosition(Datentabelle));
}

// ---- Record bar and entry fields ---------------------------------------------

void THauptformular::DBEditNameExit(QWidget* sender) {
    fieldAids_->fieldLeft(sender);
    vellumo::data::DBEditNameExit(Datentabelle, sender);
}

void THauptformular::ButtonFirstClick(QObject* sender) {
    vellumo::data::ButtonFirstClick(
        Datentabelle,
        vellumo::data::recordButtonOf(sender, {ui->ButtonFirst, ui->ButtonPrior, ui->ButtonNext,
                                               ui->ButtonLast, ui->ButtonAdd, ui->ButtonDelete}),
        {[this](const QString& text) { ui->StatusLabel->setText(text); },
         [this](const QString& question) { return vellumo::confirm(question, this); }});
}

// ---- Clipboard -------------------------------------------------------------------
// A click on a menu item or a tool button never takes the focus (the buttons
// take it from Tab only): the focus widget is the field the user was typing in.

void THauptformular::AusschneidenClick() {
    vellumo::aids::cutSelection(focusWidget());
}
void THauptformular::KopierenClick() {
    vellumo::aids::copySelection(focusWidget());
}
void THauptformular::EinfuegenClick() {
    vellumo::aids::pasteClipboard(focusWidget());
}
void THauptformular::LoeschenClick() {
    vellumo::aids::clearField(focusWidget());
}
void THauptformular::FeldausClick() {
    vellumo::aids::cutWholeField(focusWidget());
}
void THauptformular::FeldkopierenClick() {
    vellumo::aids::copyWholeField(focusWidget());
}

void THauptformular::ButtonCutAllMouseUp(Qt::MouseButton button) {
    if (button == Qt::RightButton)
        vellumo::aids::cutWholeField(focusWidget());
}

void THauptformular::ButtonCopyAllMouseUp(Qt::MouseButton button) {
    if (button == Qt::RightButton)
        vellumo::aids::copyWholeField(focusWidget());
}

// ---- Control states --------------------------------------------------------------

QList<QObject*> THauptformular::tableControls() const {
    return {ui->ButtonUmschlag,   ui->ButtonListe,      ui->ButtonCutAll,  ui->ButtonCopyAll,
            ui->ButtonPaste,      ui->ButtonSuchen,     ui->ButtonTabelle, ui->ButtonSeePic,
            ui->ButtonSavePic,    ui->ButtonGeburtstag, ui->Schliessen,    ui->UmschlagDrucken,
            ui->ListeDrucken,     ui->Ausschneiden,     ui->Kopieren,      ui->Einfuegen,
            ui->Loeschen,         ui->Feldaus,          ui->Feldkopieren,  ui->Suchen,
            ui->DBEditName,       ui->DBEditVorname,    ui->DBEditStrasse, ui->DBEditLand,
            ui->DBEditPLZ,        ui->DBEditOrt,        ui->DBEditGeb,     ui->DBEditRubrik,
            ui->DBEditTel1,       ui->DBEditTel2,       ui->DBEditFax,     ui->DBEditEmail,
            ui->DBEditWWW,        ui->DBEditKto,        ui->DBEditBLZ,     ui->DBEditInst,
            ui->DBMemoBemerkungen};
}

namespace {
void switchControls(const QList<QObject*>& controls, bool enabled) {
    for (QObject* control : controls) {
        if (auto* action = qobject_cast<QAction*>(control))
            action->setEnabled(enabled);
        else if (auto* widget = qobject_cast<QWidget*>(control))
            widget->setEnabled(enabled);
    }
}
} // namespace

// The print styles' buttons are always in sight, and the menu items added
// beside the 37 carry shortcuts that work only while they are enabled: both
// are switched
// with them.
void THauptformular::EnableTableControls() {
    switchControls(tableControls(), true);
    for (QToolButton* button : printButtons_)
        button->setEnabled(true);
    tableControlsOn_ = true;
    if (tableActions_)
        tableActions_->follow();
}
void THauptformular::DisableTableControls() {
    switchControls(tableControls(), false);
    for (QToolButton* button : printButtons_)
        button->setEnabled(false);
    tableControlsOn_ = false;
    if (tableActions_)
        tableActions_->follow();
}

void THauptformular::addTableAction(QAction* action, std::function<void()> handler) {
    tableActions_->add(action, std::move(handler));
}

QList<QAction*> THauptformular::extraTableActions() const {
    return tableActions_->actions();
}

// ---- Colours ---------------------------------------------------------------------

using vellumo::aids::ColourKey;

void THauptformular::EingabefelderHintergrundClick() {
    colours_->choose(ColourKey::Eingabe);
}
void THauptformular::EingabefelderTextClick() {
    colours_->choose(ColourKey::EingabeText);
}
void THauptformular::TextClick() {
    colours_->choose(ColourKey::Text);
}
void THauptformular::GruppentextClick() {
    colours_->choose(ColourKey::Gruppentext);
}
void THauptformular::FensterClick() {
    colours_->choose(ColourKey::Fenster);
}
void THauptformular::Standardeinstellungen1Click() {
    colours_->setStandardColours();
}

void THauptformular::applyColour(ColourKey key, const QColor& colour) {
    switch (key) {
    case ColourKey::Eingabe:
        return setEntryBackground(colour);
    case ColourKey::EingabeText:
        return setEntryText(colour);
    case ColourKey::Text:
        return setLabelText(colour);
    case ColourKey::Gruppentext:
        return setGroupText(colour);
    case ColourKey::Fenster:
        return setWindowColour(colour);
    }
}

vellumo::address::PostalAddress THauptformular::currentAddress() const {
    return {ui->DBEditVorname->text(), ui->DBEditName->text(), ui->DBEditStrasse->text(),
            ui->DBEditPLZ->text(),     ui->DBEditOrt->text(),  ui->DBEditLand->text()};
}

QList<QWidget*> THauptformular::entryControls() const {
    return {ui->DBEditName,        ui->DBEditVorname, ui->DBEditStrasse, ui->DBEditLand,
            ui->DBEditPLZ,         ui->DBEditOrt,     ui->DBEditGeb,     ui->DBEditRubrik,
            ui->DBMemoBemerkungen, ui->DBEditTel1,    ui->DBEditTel2,    ui->DBEditFax,
            ui->DBEditEmail,       ui->DBEditWWW,     ui->DBEditKto,     ui->DBEditBLZ,
            ui->DBEditInst};
}

QList<QWidget*> THauptformular::ibanLines() const {
    return {fieldAids_->ibanLine(), fieldAids_->bicLine()};
}

QList<QLabel*> THauptformular::labelControls() const {
    return {ui->NameLabel,   ui->VornameLabel,  ui->StrasseLabel,   ui->LandLabel,
            ui->PLZLabel,    ui->OrtLabel,      ui->GebLabel,       ui->RubrikLabel,
            ui->Tel1Label,   ui->Tel2Label,     ui->FaxLabel,       ui->EmailLabel,
            ui->WWWLabel,    ui->KtoLabel,      ui->BLZLabel,       ui->InstLabel,
            ui->StatusLabel, ui->ErstelltLabel, ui->ErstelltDBText, ui->AenderLabel,
            ui->DatumDBText};
}

namespace {
void setRole(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}
} // namespace

void THauptformular::setEntryBackground(const QColor& colour) {
    for (QWidget* control : entryControls() + ibanLines())
        setRole(control, QPalette::Base, colour);
}

void THauptformular::setEntryText(const QColor& colour) {
    for (QWidget* control : entryControls() + ibanLines()) {
        QPalette palette = control->palette();
        palette.setColor(QPalette::Active, QPalette::Text, colour);
        palette.setColor(QPalette::Inactive, QPalette::Text, colour);
        control->setPalette(palette);
    }
}

void THauptformular::setLabelText(const QColor& colour) {
    for (QLabel* label : labelControls() + fieldAids_->labels())
        setRole(label, QPalette::WindowText, colour);
}

void THauptformular::setGroupText(const QColor& colour) {
    for (QGroupBox* group :
         {ui->AnschriftGroupBox, ui->SonstGroupBox, ui->KommGroupBox, ui->BankGroupBox})
        setRole(group, QPalette::WindowText, colour);
}

void THauptformular::setWindowColour(const QColor& colour) {
    setRole(centralWidget(), QPalette::Window, colour);
}

// ---- Keys ------------------------------------------------------------------------

bool THauptformular::eventFilter(QObject* watched, QEvent* event) {
    if (watched == openDialog_) {
        // The file name field shows the name chosen last time.
        if (event->type() == QEvent::Show && !lastOpenFile_.isEmpty())
            openDialog_->selectFile(lastOpenFile_);
        return false;
    }
    if (vellumo::aids::leaveClipboardKeysToMenu(watched, event) ||
        vellumo::data::leaveUndoKeyToMenu(watched, event))
        return true;
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        return FormKeyPress(watched, key->key(), key->modifiers());
    }
    return false;
}

bool THauptformular::FormKeyPress(QObject* watched, int key, Qt::KeyboardModifiers modifiers) {
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    QWidget* memo = ui->DBMemoBemerkungen;
    if (!widget || widget == memo || memo->isAncestorOf(widget))
        return false;
    // Like a dialog's next-control request: done once the key has been handled.
    const bool forward = !(modifiers & Qt::ShiftModifier);
    QTimer::singleShot(0, this, [this, forward] { focusNextPrevChild(forward); });
    return true;
}

// ---- End of the program ------------------------------------------------------------

void THauptformular::closeEvent(QCloseEvent* event) {
    if (!vellumo::data::settleBeforeEnd(Datentabelle, this) ||
        !vellumo::sync::ui::syncBeforeEnd(Datentabelle, this)) {
        event->ignore();
        return;
    }
    try {
        Datentabelle.CloseTableAtShutdown();
    } catch (const std::exception&) {
        // Nothing left to keep: what could be saved was saved above.
    }
    event->accept();
}
