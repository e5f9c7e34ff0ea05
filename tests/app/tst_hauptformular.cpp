#include "testsupport.h"

#include "addresstables.h"
#include "aids/aboutbox.h"
#include "app/hauptformular.h"
#include "platform/database/boundcontrols.h"
#include "platform/database/recordstore.h"
#include "platform/system/system.h"
#ifdef VELLUMO_HAVE_PXLIB
#include "testutil_protect.h"
#endif

#include <QApplication>
#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include <functional>
#include <memory>

using testsupport::clickButton;
using testsupport::messageText;
using testsupport::typeText;
using testsupport::whenModal;

namespace {

const QDate kToday(2024, 5, 17);

struct Address {
    QString name, vorname, ort;
};

// A table made the way "&Neu" makes one, holding the given addresses.
void makeTable(const QString& path, const QList<Address>& addresses) {
    QList<testsupport::Address> rows;
    for (const Address& a : addresses)
        rows << testsupport::Address{{"Name", a.name},
                                     {"Vorname", a.vorname},
                                     {"Ort", a.ort},
                                     {"Erstellt", QDate(2020, 1, 2)}};
    testsupport::makeAddressTable(path, rows);
}

// Every record of a table as "Name|Vorname|Ort|Erstellt|Aenderung", in key order.
QStringList readTable(const QString& path) {
    vellumo::RecordStore store;
    store.BindTable(path);
    store.OpenTable();
    QStringList rows;
    for (int row = 0; row < store.visibleCount(); ++row) {
        QStringList values;
        for (const char* field : {"Name", "Vorname", "Ort", "Erstellt", "Aenderung"})
            values << store.textAt(row, QString::fromLatin1(field));
        rows << values.join('|');
    }
    store.CloseTableAtShutdown();
    return rows;
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Everything of the window that can be switched on or off, by name.
QMap<QString, bool> enabledStates(const THauptformular& window) {
    QMap<QString, bool> states;
    for (const QWidget* widget : window.findChildren<QWidget*>())
        if (!widget->objectName().isEmpty() && !widget->objectName().startsWith("qt_"))
            states[widget->objectName()] = widget->isEnabled();
    for (const QAction* action : window.findChildren<QAction*>())
        if (!action->objectName().isEmpty())
            states["action " + action->objectName()] = action->isEnabled();
    return states;
}

// The controls that only make sense with a table open, as enabledStates
// names them: 10 buttons, 10 menu items, 17 bound entry controls.
const QStringList kTableControls{
    "ButtonUmschlag",      "ButtonListe",         "ButtonCutAll",        "ButtonCopyAll",
    "ButtonPaste",         "ButtonSuchen",        "ButtonTabelle",       "ButtonSeePic",
    "ButtonSavePic",       "ButtonGeburtstag",    "action Schliessen",   "action UmschlagDrucken",
    "action ListeDrucken", "action Ausschneiden", "action Kopieren",     "action Einfuegen",
    "action Loeschen",     "action Feldaus",      "action Feldkopieren", "action Suchen",
    "DBEditName",          "DBEditVorname",       "DBEditStrasse",       "DBEditLand",
    "DBEditPLZ",           "DBEditOrt",           "DBEditGeb",           "DBEditRubrik",
    "DBEditTel1",          "DBEditTel2",          "DBEditFax",           "DBEditEmail",
    "DBEditWWW",           "DBEditKto",           "DBEditBLZ",           "DBEditInst",
    "DBMemoBemerkungen"};

} // namespace

class TestHauptformular : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> sandbox;
    std::unique_ptr<testsupport::FixedClock> clock;
    std::unique_ptr<THauptformular> window;

    // The window's controls by their names.
    template <class T> T* control(const char* name) const {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
    vellumo::DBEdit* edit(const char* name) const { return control<vellumo::DBEdit>(name); }
    vellumo::DBMemo* memo() const { return control<vellumo::DBMemo>("DBMemoBemerkungen"); }
    QLabel* label(const char* name) const { return control<QLabel>(name); }
    QWidget* widget(const char* name) const { return control<QWidget>(name); }
    QAction* action(const char* name) const { return control<QAction>(name); }

    void showWindow() {
        window = std::make_unique<THauptformular>();
        window->show();
        QVERIFY(testsupport::activate(window.get()));
    }

    // "&Öffnen" by its shortcut, the path typed into the dialog's name field.
    void openByDialog(const QString& path) {
        bool answered = false;
        auto watch = whenModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            QVERIFY(dialog);
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            QVERIFY(name);
            // Set rather than typed: the completer's list would take the Enter.
            name->setText(path);
            QTest::keyClick(name, Qt::Key_Return);
            answered = true;
        });
        QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
        // The answer uses this function's locals: it must not outlive it.
        watch.cancel();
        QVERIFY(answered);
        reactivate();
    }

    // The offscreen platform does not give the focus back after a dialog.
    // QTest::qWaitForWindowActive would not do here: it also counts the
    // window as active while the closed dialog still holds the focus.
    void reactivate() { QVERIFY(testsupport::activate(window.get())); }

    // A menu item through the keyboard: Alt + the menu's letter, then the item's.
    void chooseFromMenu(Qt::Key menuKey, Qt::Key itemKey) {
        reactivate(); // the menu bar only listens to the active window
        QTest::keyClick(window.get(), menuKey, Qt::AltModifier);
        QTRY_VERIFY(QApplication::activePopupWidget());
        QTest::keyClick(QApplication::activePopupWidget(), itemKey);
    }

private slots:
    void init() {
        sandbox = std::make_unique<testsupport::Sandbox>();
        clock = std::make_unique<testsupport::FixedClock>(QDateTime(kToday, QTime(10, 30)));
    }
    void cleanup() {
        if (window) {
            // Skip the end-of-program save: each test checks its own files.
            window->Datentabelle.CloseTableAtShutdown();
            window.reset();
        }
        clock.reset();
        sandbox.reset();
    }

    void startsWithoutTable() {
        showWindow();
        QCOMPARE(window->windowTitle(), QStringLiteral("Vellumo V2.5"));
        // The designed 353 pixels and one row for the IBAN under the bank fields.
        QCOMPARE(window->centralWidget()->size(), QSize(625, 393));
        QVERIFY(!(window->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(label("StatusLabel")->text(), QString());

        QCOMPARE(kTableControls.size(), 37);
        const QMap<QString, bool> states = enabledStates(*window);
        for (const QString& control : kTableControls) {
            QVERIFY2(states.contains(control), qPrintable(control));
            QVERIFY2(!states[control], qPrintable(control));
        }
        for (QWidget* usable :
             {widget("ButtonFirst"), widget("ButtonPrior"), widget("ButtonNext"),
              widget("ButtonLast"), widget("ButtonAdd"), widget("ButtonDelete"),
              widget("ButtonNeu"), widget("ButtonOeffnen"), widget("SpeedButton2")})
            QVERIFY2(usable->isEnabled(), qPrintable(usable->objectName()));
        for (QAction* usable :
             {action("Neu"), action("Oeffnen"), action("Ende"), action("Standardtabelle"),
              action("Standardeinstellungen1"), action("Hilfethemen1"), action("Info1")})
            QVERIFY2(usable->isEnabled(), qPrintable(usable->objectName()));
    }

    // The two routines switch the 37 table controls and the labels button
    // beside them, and not one thing more.
    void tableControlsSwitchExactlyTheSet() {
        showWindow();
        const QMap<QString, bool> before = enabledStates(*window);
        window->EnableTableControls();
        const QMap<QString, bool> after = enabledStates(*window);
        QStringList changed;
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            if (after.value(it.key()) != it.value())
                changed << it.key();
        QStringList expected = kTableControls + QStringList{"ButtonEtiketten"};
        for (const QAction* extra : window->extraTableActions())
            expected << "action " + extra->objectName();
        changed.sort();
        expected.sort();
        QCOMPARE(changed, expected);

        window->EnableTableControls(); // idempotent
        QCOMPARE(enabledStates(*window), after);
        window->DisableTableControls();
        QCOMPARE(enabledStates(*window), before);
        QVERIFY(!window->findChild<QAction*>("N3")->isEnabled());
    }

    // A menu item added beside the 37 follows them when its menu opens, and a
    // trigger that comes while they are off (a shortcut under a stale state)
    // runs nothing.
    void extraTableActionsFollowTheSwitch() {
        showWindow();
        auto* datei = window->findChild<QMenu*>("Datei1");
        auto* extra = datei->addAction(QStringLiteral("&Etwas Neues"));
        int runs = 0;
        window->addTableAction(extra, [&runs] { ++runs; });
        QCOMPARE(window->extraTableActions(),
                 (QList<QAction*>{action("BildAnsehen"), action("BildSpeichern"),
                                  action("Tabellenansicht"), action("EtikettenDrucken"),
                                  action("SerienbriefDrucken"), action("Exportieren"),
                                  action("Importieren"), action("Geburtstage"),
                                  action("DoppelteAdressen"), action("Synchronisation"),
                                  action("JetztSynchronisieren"), action("Konflikte"),
                                  action("NummernAdresse"), action("NummernAlle"), extra}));
        QVERIFY(!extra->isEnabled());

        window->EnableTableControls();
        datei->popup(QPoint(0, 0));
        QVERIFY(extra->isEnabled() && action("Exportieren")->isEnabled());
        datei->hide();
        extra->trigger();
        QCOMPARE(runs, 1);

        window->DisableTableControls();
        extra->trigger();
        QCOMPARE(runs, 1);
        datei->popup(QPoint(0, 0));
        QVERIFY(!extra->isEnabled() && !action("Importieren")->isEnabled());
        datei->hide();
    }

    // Every item of every menu has a letter of its own within its menu; only
    // the five colour items are designed without one.
    void everyMenuItemHasItsOwnKey() {
        showWindow();
        QStringList faults;
        std::function<void(QMenu*, const QString&)> walk = [&](QMenu* menu, const QString& path) {
            QMap<QChar, QStringList> byKey;
            for (QAction* item : menu->actions()) {
                if (item->isSeparator() || !item->isVisible())
                    continue;
                const QString text = item->text();
                static const QRegularExpression kKey(QStringLiteral("(?<!&)&([^&])"));
                const QRegularExpressionMatch key = kKey.match(text);
                if (!key.hasMatch()) {
                    if (path != QStringLiteral("Einstellungen › Farben"))
                        faults << QStringLiteral("%1: „%2“ hat keinen Tastenbuchstaben")
                                      .arg(path, text);
                } else {
                    byKey[key.captured(1).at(0).toLower()] << text;
                }
                if (item->menu())
                    walk(item->menu(), path + QStringLiteral(" › ") + QString(text).remove('&'));
            }
            for (auto it = byKey.cbegin(); it != byKey.cend(); ++it)
                if (it.value().size() > 1)
                    faults << QStringLiteral("%1: „%2“ teilen sich %3")
                                  .arg(path, it.value().join(QStringLiteral("“, „")), it.key());
        };
        QMap<QChar, QStringList> menus;
        for (QAction* top : window->menuBar()->actions()) {
            menus[top->text().at(top->text().indexOf('&') + 1).toLower()] << top->text();
            walk(top->menu(), QString(top->text()).remove('&'));
        }
        for (const QStringList& sharing : std::as_const(menus))
            QVERIFY2(sharing.size() == 1, qPrintable(sharing.join(", ")));
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));

        // Alt+E, S sets the standard colours at once.
        QSignalSpy standard(action("Standardeinstellungen1"), &QAction::triggered);
        chooseFromMenu(Qt::Key_E, Qt::Key_S);
        QTRY_COMPARE(standard.count(), 1);
        QVERIFY(!QApplication::activePopupWidget());
    }

    // The table view and the two picture windows, reached by keys alone; the
    // items follow the table controls, so their keys do nothing without a table.
    void toolButtonsWithoutMouse() {
        showWindow();
        const QList<std::pair<const char*, QKeySequence>> items{
            {"Tabellenansicht", QKeySequence(Qt::CTRL | Qt::Key_T)},
            {"BildAnsehen", QKeySequence(Qt::CTRL | Qt::Key_B)},
            {"BildSpeichern", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B)}};
        for (const auto& [name, keys] : items) {
            QAction* item = action(name);
            QCOMPARE(item->shortcut(), keys);
            // The screen reader says the button's hint for the item too.
            const QString button = QStringLiteral("Button") +
                                   (QString(name) == "Tabellenansicht" ? QStringLiteral("Tabelle")
                                    : QString(name) == "BildAnsehen"   ? QStringLiteral("SeePic")
                                                                       : QStringLiteral("SavePic"));
            QCOMPARE(QString(item->text()).remove('&'), widget(qPrintable(button))->toolTip());
            QVERIFY(widget(qPrintable(button))
                        ->accessibleDescription()
                        .contains(keys.toString(QKeySequence::NativeText)
                                      .replace("Ctrl", "Strg")
                                      .replace("Shift", "Umschalt")));
            QVERIFY(!item->isEnabled());
        }
        window->EnableTableControls();
        for (const auto& [name, keys] : items) {
            QString said;
            auto watch = whenModal([&](QWidget* modal) {
                said = messageText(modal);
                clickButton(modal, "OK");
            });
            reactivate();
            QTest::keySequence(window.get(), keys);
            QTRY_VERIFY2(!said.isEmpty(), name);
            watch.cancel();
            QCOMPARE(said, QStringLiteral("Diese Funktion ist noch nicht verfügbar."));
        }
    }

    // The menu keys reach "&Info ...", which shows the about box beside the
    // main window instead of over it.
    void infoMenuShowsTheAboutBox() {
        showWindow();
        TAboutBox box;
        window->setDialogs({.about = &box});
        chooseFromMenu(Qt::Key_H, Qt::Key_I); // "&Hilfe" / "&Info ..."
        QTRY_VERIFY(box.isVisible());
        QVERIFY(!QApplication::activeModalWidget());
        box.hide();
    }

    void openingGoodAndBadFiles() {
        makeTable(sandbox->file("Kunden.db"),
                  {{"Meier", "Anna", "Bonn"}, {"Zander", "Kurt", "Köln"}});
        QFile junk(sandbox->file("kaputt.db"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(3000, 'x'));
        junk.close();
        showWindow();

        openByDialog(sandbox->file("Kunden.db"));
        QCOMPARE(window->windowTitle(), QStringLiteral("Vellumo V2.0 - Kunden.db"));
        QCOMPARE(label("StatusLabel")->text(), QStringLiteral("1/2"));
        QCOMPARE(edit("DBEditName")->text(), QStringLiteral("Meier"));
        QCOMPARE(label("ErstelltDBText")->text(), QStringLiteral("02.01.2020"));
        const QMap<QString, bool> open = enabledStates(*window);
        for (const QString& control : kTableControls)
            QVERIFY2(open.value(control), qPrintable(control));
        QTRY_COMPARE(QApplication::focusWidget(), edit("DBEditName"));

        // The bound fields follow the cursor, whoever moves it.
        window->Datentabelle.StepForward();
        QCOMPARE(edit("DBEditName")->text(), QStringLiteral("Zander"));
        QCOMPARE(edit("DBEditOrt")->text(), QStringLiteral("Köln"));

        // A file that is no table: no message, the earlier table closed,
        // everything off, the base caption; the status label keeps its text.
        int boxes = 0;
        // The file dialog opens first and may reach this answer before the
        // dialog's own one does: it keeps watching for a box after it.
        std::function<void(QWidget*)> countBoxes = [&](QWidget* modal) {
            if (qobject_cast<QMessageBox*>(modal)) {
                ++boxes;
                modal->close();
            } else {
                whenModal(countBoxes, 1500);
            }
        };
        whenModal(countBoxes, 1500);
        openByDialog(sandbox->file("kaputt.db"));
        testsupport::settle();
        QCOMPARE(boxes, 0);
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(!window->Datentabelle.IsTableOpen());
        QCOMPARE(window->windowTitle(), QStringLiteral("Vellumo V2.0"));
        const QMap<QString, bool> failed = enabledStates(*window);
        for (const QString& control : kTableControls)
            QVERIFY2(!failed.value(control, true), qPrintable(control));
        QCOMPARE(edit("DBEditName")->text(), QString());

        // The dialog proposes the file chosen last time.
        QString proposed;
        whenModal([&](QWidget* modal) {
            proposed = modal->findChild<QLineEdit*>("fileNameEdit")->text();
            QTest::keyClick(modal, Qt::Key_Escape);
        });
        QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(proposed, QStringLiteral("kaputt.db"));
    }

    // Paradox tables are listed whatever the case of their extension.
    void openDialogListsTablesInAnyCase() {
        for (const char* name : {"klein.db", "GROSS.DB", "Mixed.Db", "notiz.txt"}) {
            QFile file(sandbox->file(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        showWindow();
        QStringList listed;
        whenModal([&](QWidget* modal) {
            auto* view = modal->findChild<QListView*>("listView");
            QVERIFY(view);
            auto listedNames = [&] {
                QStringList names;
                const QModelIndex root = view->rootIndex();
                for (int row = 0; row < view->model()->rowCount(root); ++row)
                    names << view->model()->index(row, 0, root).data().toString();
                names.sort();
                return names;
            };
            QTRY_COMPARE_WITH_TIMEOUT(listedNames().size(), 3, 3000);
            listed = listedNames();
            QTest::keyClick(modal, Qt::Key_Escape);
        });
        QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(listed, (QStringList{"GROSS.DB", "Mixed.Db", "klein.db"}));
    }

    // The open dialog writes sizes and dates in German whatever the system
    // locale, and its completion list goes with it when Enter takes a name.
    void openDialogSpeaksGermanAndTakesItsListAlong() {
        makeTable(sandbox->file("Kunden.db"), {{"Meier", "Anna", "Bonn"}});
        showWindow();
        QString size, date;
        QWidget* popup = nullptr;
        bool popupShown = false;
        auto watch = whenModal([&](QWidget* modal) {
            auto* view = modal->findChild<QTreeView*>("treeView");
            QVERIFY(view);
            auto cell = [&](int column) {
                const QModelIndex root = view->rootIndex();
                return view->model()->rowCount(root) == 0
                           ? QString()
                           : view->model()->index(0, column, root).data().toString();
            };
            QTRY_COMPARE_WITH_TIMEOUT(cell(0), QStringLiteral("Kunden.db"), 3000);
            size = cell(1);
            date = cell(3);
            auto* name = modal->findChild<QLineEdit*>("fileNameEdit");
            QVERIFY(name && name->completer());
            popup = name->completer()->popup();
            // As the completer opens it after typing (which it does a little
            // later, once it has listed the folder).
            popup->show();
            QTRY_VERIFY(popup->isVisible());
            popupShown = true;
            name->setText(sandbox->file("Kunden.db"));
            QTest::keyClick(name, Qt::Key_Return);
        });
        QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
        watch.cancel();
        QVERIFY(popupShown);
        QVERIFY(!popup->isVisible());
        QVERIFY(window->Datentabelle.IsTableOpen());
        QVERIFY2(
            QRegularExpression("^\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d$").match(date).hasMatch(),
            qPrintable(date));
        QVERIFY2(size.contains(',') && size.endsWith("KiB"), qPrintable(size));
    }

    void fileNamePart() {
        QCOMPARE(THauptformular::fileNamePart("/home/anna/Kunden.db"), QStringLiteral("Kunden.db"));
        QCOMPARE(THauptformular::fileNamePart("C:\\Daten\\Kunden.db"), QStringLiteral("Kunden.db"));
        QCOMPARE(THauptformular::fileNamePart("C:Kunden.db"), QStringLiteral("Kunden.db"));
        QCOMPARE(THauptformular::fileNamePart("Kunden.db"), QStringLiteral("Kunden.db"));
    }

    void enterMovesLikeTab() {
        makeTable(sandbox->file("Kunden.db"), {{"Meier", "Anna", "Bonn"}});
        showWindow();
        openByDialog(sandbox->file("Kunden.db"));
        edit("DBEditName")->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), edit("DBEditName"));

        QTest::keyClick(edit("DBEditName"), Qt::Key_Return);
        QTRY_COMPARE(QApplication::focusWidget(), edit("DBEditVorname"));
        QTest::keyClick(edit("DBEditVorname"), Qt::Key_Return, Qt::ShiftModifier);
        QTRY_COMPARE(QApplication::focusWidget(), edit("DBEditName"));

        // From the last field of "Anschrift" on to the first of "Sonstiges".
        edit("DBEditOrt")->setFocus();
        QTest::keyClick(edit("DBEditOrt"), Qt::Key_Enter, Qt::KeypadModifier);
        QTRY_COMPARE(QApplication::focusWidget(), edit("DBEditGeb"));

        // The memo keeps Enter as a line break.
        memo()->setFocus();
        QTest::keyClicks(memo(), "eins");
        QTest::keyClick(memo(), Qt::Key_Return);
        QTest::keyClicks(memo(), "zwei");
        testsupport::settle();
        QCOMPARE(QApplication::focusWidget(), memo());
        QCOMPARE(memo()->toPlainText(), QStringLiteral("eins\nzwei"));

        // Tab leaves the memo like any field, and its text is saved.
        QTest::keyClick(memo(), Qt::Key_Tab);
        QTRY_COMPARE(QApplication::focusWidget(), edit("DBEditTel1"));
        QCOMPARE(window->Datentabelle.state(), vellumo::StoreState::Browsing);
        QCOMPARE(window->Datentabelle.fieldText("Memo1"), QStringLiteral("eins\nzwei"));
    }

    void newTable() {
        makeTable(sandbox->file("Kunden.db"), {{"Meier", "Anna", "Bonn"}});
        showWindow();
        openByDialog(sandbox->file("Kunden.db"));

        // Cancelled: nothing changes.
        whenModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
        QTest::keyClick(window.get(), Qt::Key_N, Qt::ControlModifier);
        reactivate();
        QCOMPARE(window->windowTitle(), QStringLiteral("Vellumo V2.0 - Kunden.db"));
        QVERIFY(window->Datentabelle.IsTableOpen());
        QVERIFY(!QFile::exists(sandbox->file("Adressen.db")));

        // "&Nein" to overwriting an existing file: that file stays as it was.
        const QByteArray before = fileBytes(sandbox->file("Kunden.db"));
        QString question;
        whenModal([&](QWidget* modal) {
            auto* edit = modal->findChild<QLineEdit*>("Edit");
            edit->clear();
            typeText(edit, "Kunden");
            whenModal([&](QWidget* box) {
                question = messageText(box);
                clickButton(box, "&Nein");
            });
            QTest::keyClick(edit, Qt::Key_Return);
        });
        QTest::keyClick(window.get(), Qt::Key_N, Qt::ControlModifier);
        reactivate();
        QCOMPARE(
            question,
            QStringLiteral("Eine Datei mit diesem Namen existiert bereits! Soll sie überschrieben "
                           "werden?"));
        QCOMPARE(window->windowTitle(), QStringLiteral("Vellumo V2.0 - Kunden.db"));
        QVERIFY(window->Datentabelle.IsTableOpen());
        QCOMPARE(fileBytes(sandbox->file("Kunden.db")), before);

        // Through to a new table under the proposed name.
        whenModal([](QWidget* modal) { clickButton(modal, "OK"); });
        QTest::keyClick(window.get(), Qt::Key_N, Qt::ControlModifier);
        reactivate();
        QVERIFY(QFile::exists(sandbox->file("Adressen.db")));
        QCOMPARE(window->windowTitle(), QStringLiteral("Vellumo V1.0 - Adressen.db"));
        QCOMPARE(label("StatusLabel")->text(), QStringLiteral("0/0"));
        QCOMPARE(window->Datentabelle.state(), vellumo::StoreState::Inserting);
        QCOMPARE(label("ErstelltDBText")->text(), QStringLiteral("17.05.2024"));
        QTRY_COMPARE(QApplication::focusWidget(), edit("DBEditName"));
        QVERIFY(edit("DBEditName")->isEnabled());
        // The table that was open got its BeforeClose save.
        QCOMPARE(readTable(sandbox->file("Kunden.db")),
                 QStringList{"Meier|Anna|Bonn|02.01.2020|17.05.2024"});

        // Typing the first address and leaving the field stores it.
        typeText(edit("DBEditName"), "Müller");
        QTest::keyClick(edit("DBEditName"), Qt::Key_Tab);
        QTRY_COMPARE(window->Datentabelle.state(), vellumo::StoreState::Browsing);
        window->Datentabelle.CloseTableAtShutdown();
        QCOMPARE(readTable(sandbox->file("Adressen.db")),
                 QStringList{"Müller|||17.05.2024|17.05.2024"});
    }

    // Whatever name is typed, the file it would replace is asked about; a
    // name with a directory is used as typed.
    void newTableNames() {
        makeTable(sandbox->file("Kunden.db"), {{"Meier", "Anna", "Bonn"}});
        const QByteArray before = fileBytes(sandbox->file("Kunden.db"));
        showWindow();
        auto typeName = [&](const QString& name, QString* question) {
            whenModal([=](QWidget* modal) {
                auto* edit = modal->findChild<QLineEdit*>("Edit");
                edit->clear();
                typeText(edit, name);
                if (question)
                    whenModal([=](QWidget* box) {
                        *question = messageText(box);
                        clickButton(box, "&Nein");
                    });
                QTest::keyClick(edit, Qt::Key_Return);
            });
            QTest::keyClick(window.get(), Qt::Key_N, Qt::ControlModifier);
            reactivate();
        };

        QString question;
        typeName("Kunden.db", &question);
        QVERIFY(question.startsWith("Eine Datei mit diesem Namen existiert bereits!"));
        QCOMPARE(fileBytes(sandbox->file("Kunden.db")), before);
        QVERIFY(!window->Datentabelle.IsTableOpen());

        QVERIFY(QDir(sandbox->path()).mkdir("Daten"));
        typeName("Daten/Firma", nullptr);
        QCOMPARE(window->windowTitle(), QStringLiteral("Vellumo V1.0 - Daten/Firma.db"));
        QVERIFY(QFile::exists(sandbox->file("Daten/Firma.db")));
        QVERIFY(window->Datentabelle.IsTableOpen());
    }

    void closingStoresTheCurrentRecord() {
        makeTable(sandbox->file("Kunden.db"), {{"Meier", "Anna", "Bonn"}});
        showWindow();
        openByDialog(sandbox->file("Kunden.db"));
        edit("DBEditOrt")->setFocus();
        edit("DBEditOrt")->selectAll();
        typeText(edit("DBEditOrt"), "Köln"); // not left: still pending in the field

        chooseFromMenu(Qt::Key_D, Qt::Key_S); // "&Datei" / "&Schließen"
        QTRY_VERIFY(!window->Datentabelle.IsTableOpen());
        QCOMPARE(window->windowTitle(), QStringLiteral("Vellumo V2.0"));
        QCOMPARE(label("StatusLabel")->text(), QString());
        QVERIFY(!edit("DBEditOrt")->isEnabled());
        QCOMPARE(readTable(sandbox->file("Kunden.db")),
                 QStringList{"Meier|Anna|Köln|02.01.2020|17.05.2024"});
    }

    // A person without a mouse: open a table, go to the third record, change
    // "Ort" and save, with nothing but keys, each going where the keyboard's
    // key would go (an open list of completions first, else the focus).
    void keyboardOnlyEditsTheThirdRecord() {
        makeTable(sandbox->file("Kunden.db"), {{"Albers", "Anna", "Bonn"},
                                               {"Berger", "Bernd", "Celle"},
                                               {"Conrad", "Clara", "Dresden"},
                                               {"Dietz", "Doris", "Essen"}});
        showWindow();
        auto press = [](int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
            QWidget* target = QApplication::activePopupWidget();
            if (!target)
                target = QApplication::focusWidget();
            QVERIFY(target);
            QTest::keyClick(target, Qt::Key(key), modifiers);
        };
        // Tabs (Shift+Tab backwards) until the focus is on target; a control
        // the keyboard cannot reach fails here.
        auto tabTo = [&](QWidget* target, Qt::KeyboardModifiers modifiers) {
            for (int step = 0; step < 40 && QApplication::focusWidget() != target; ++step)
                press(Qt::Key_Tab, modifiers);
            QCOMPARE(QApplication::focusWidget(), target);
        };

        // "&Öffnen" by its shortcut; the dialog's name field has the focus.
        bool typed = false;
        auto watch = whenModal([&](QWidget*) {
            typeText(QApplication::focusWidget(), sandbox->file("Kunden.db"));
            press(Qt::Key_Return);
            if (QApplication::activeModalWidget()) // the completions took the first
                press(Qt::Key_Return);
            typed = true;
        });
        press(Qt::Key_O, Qt::ControlModifier);
        watch.cancel();
        QVERIFY(typed);
        reactivate();
        QTRY_COMPARE(label("StatusLabel")->text(), QStringLiteral("1/4"));
        QTRY_COMPARE(QApplication::focusWidget(), edit("DBEditName"));

        // The record buttons come after the groups and the tool bar, so back
        // from the first field: "Datensatz löschen", "… hinzufügen", "zum
        // Ende …", then "einen Datensatz weiter".
        tabTo(widget("ButtonNext"), Qt::ShiftModifier);
        press(Qt::Key_Space);
        press(Qt::Key_Space);
        QTRY_COMPARE(label("StatusLabel")->text(), QStringLiteral("3/4"));

        tabTo(edit("DBEditOrt"), Qt::NoModifier);
        press(Qt::Key_A, Qt::ControlModifier);
        typeText(edit("DBEditOrt"), QStringLiteral("Görlitz"));
        press(Qt::Key_Tab); // leaving the field saves
        QTRY_COMPARE(window->Datentabelle.state(), vellumo::StoreState::Browsing);

        window->Datentabelle.CloseTableAtShutdown();
        QCOMPARE(readTable(sandbox->file("Kunden.db")),
                 (QStringList{"Albers|Anna|Bonn|02.01.2020|", "Berger|Bernd|Celle|02.01.2020|",
                              "Conrad|Clara|Görlitz|02.01.2020|17.05.2024",
                              "Dietz|Doris|Essen|02.01.2020|"}));
    }

    // "&Rückgängig" and "&Wiederherstellen" name the step they take back;
    // Ctrl+Z in a field with typing of its own stays the field's.
    void undoAndRedoByMenuAndKeys() {
        makeTable(sandbox->file("Kunden.db"),
                  {{"Albers", "Anna", "Bonn"}, {"Berger", "Bernd", "Celle"}});
        showWindow();
        openByDialog(sandbox->file("Kunden.db"));
        QAction* undo = action("Rueckgaengig");
        QAction* redo = action("Wiederherstellen");
        QCOMPARE(undo->text(), QString("&Rückgängig"));
        QVERIFY(!undo->isEnabled() && !redo->isEnabled());

        QLineEdit* ort = edit("DBEditOrt");
        ort->setFocus();
        ort->selectAll();
        typeText(ort, "Görlitz");
        QTest::keyClick(ort, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(ort->text(), QString("Bonn")); // the field's own
        typeText(ort, "Görlitz");
        QTest::keyClick(ort, Qt::Key_Tab); // leaving the field saves
        QTRY_COMPARE(window->Datentabelle.state(), vellumo::StoreState::Browsing);
        QCOMPARE(undo->text(), QString("&Rückgängig: Änderung: Albers, Anna"));

        // In a field without typing of its own, Ctrl+Z is the menu's.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Z, Qt::ControlModifier);
        QTRY_COMPARE(ort->text(), QString("Bonn"));
        QCOMPARE(redo->text(), QString("&Wiederherstellen: Änderung: Albers, Anna"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Y, Qt::ControlModifier);
        QTRY_COMPARE(ort->text(), QString("Görlitz"));

        window->Datentabelle.GoToLast();
        window->Datentabelle.RemoveRecord();
        chooseFromMenu(Qt::Key_B, Qt::Key_R);
        QTRY_COMPARE(label("StatusLabel")->text(), QStringLiteral("2/2"));
        QCOMPARE(edit("DBEditName")->text(), QString("Berger"));
        chooseFromMenu(Qt::Key_B, Qt::Key_W);
        QTRY_COMPARE(window->Datentabelle.CountRecords(), 1);
        QVERIFY(redo->text() == "&Wiederherstellen" && !redo->isEnabled());

        window->Datentabelle.CloseTableAtShutdown();
        QCOMPARE(readTable(sandbox->file("Kunden.db")),
                 QStringList{"Albers|Anna|Görlitz|02.01.2020|17.05.2024"});
    }

    void editingRules() {
        makeTable(sandbox->file("Kunden.db"), {{"Meier", "Anna", "Bonn"}});
        showWindow();
        openByDialog(sandbox->file("Kunden.db"));
        vellumo::RecordStore& store = window->Datentabelle;

        // Input stops at the field's size.
        edit("DBEditPLZ")->setFocus();
        QTest::keyClicks(edit("DBEditPLZ"), "1234567");
        QCOMPARE(edit("DBEditPLZ")->text(), QStringLiteral("12345"));
        QCOMPARE(store.state(), vellumo::StoreState::Editing);

        // Esc puts the stored value back.
        QTest::keyClick(edit("DBEditPLZ"), Qt::Key_Escape);
        QCOMPARE(edit("DBEditPLZ")->text(), QString());

        // Leaving without a change saves nothing.
        QTest::keyClick(edit("DBEditPLZ"), Qt::Key_Tab);
        QTRY_COMPARE(window->focusWidget(), edit("DBEditOrt"));
        QCOMPARE(label("DatumDBText")->text(), QString());

        // A bad date: reported once, selected, the focus back in the field,
        // nothing saved.
        edit("DBEditGeb")->setFocus();
        QTest::keyClicks(edit("DBEditGeb"), "31.02.2020");
        QStringList shown;
        auto answer = [&](QWidget* modal) {
            shown << messageText(modal);
            clickButton(modal, "OK");
        };
        whenModal(answer);
        QTest::keyClick(edit("DBEditGeb"), Qt::Key_Tab);
        QTRY_COMPARE(shown.size(), 1);
        QTRY_COMPARE(QApplication::focusWidget(), edit("DBEditGeb"));
        testsupport::settle();
        QCOMPARE(shown, QStringList{"'31.02.2020' ist kein gültiges Datum."});
        QCOMPARE(edit("DBEditGeb")->selectedText(), QStringLiteral("31.02.2020"));
        QCOMPARE(store.fieldText("Aenderung"), QString());

        // Corrected, the same Tab saves and stamps the change.
        QTest::keyClicks(edit("DBEditGeb"), "29.2.24");
        QTest::keyClick(edit("DBEditGeb"), Qt::Key_Tab);
        QTRY_COMPARE(store.state(), vellumo::StoreState::Browsing);
        QCOMPARE(edit("DBEditGeb")->text(), QStringLiteral("29.02.2024"));
        QCOMPARE(label("DatumDBText")->text(), QStringLiteral("17.05.2024"));
    }

    // "&Neu" that fails after closing the table that was open, and "&Öffnen"
    // of a file that is no table: the window says the table is closed.
    void failedNewOrOpenShowsTheClosedTable() {
        makeTable(sandbox->file("Kunden.db"), {{"Meier", "Anna", "Bonn"}});
        QFile junk(sandbox->file("kaputt.db"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(3000, 'x'));
        junk.close();
        showWindow();
        auto expectClosed = [&](const char* step) {
            QVERIFY2(!window->Datentabelle.IsTableOpen(), step);
            QCOMPARE(window->windowTitle(), QStringLiteral("Vellumo V2.0"));
            QCOMPARE(label("StatusLabel")->text(), QString());
            for (const QObject* control : window->tableControls()) {
                const auto* action = qobject_cast<const QAction*>(control);
                const auto* widget = qobject_cast<const QWidget*>(control);
                QVERIFY2(action ? !action->isEnabled() : !widget->isEnabled(),
                         qPrintable(control->objectName()));
            }
        };
        auto newTableFails = [&](const QString& name) {
            QString error;
            whenModal([&, name](QWidget* modal) {
                auto* edit = modal->findChild<QLineEdit*>("Edit");
                edit->setText(name);
                whenModal([&](QWidget* box) {
                    error = messageText(box);
                    clickButton(box, "OK");
                });
                QTest::keyClick(edit, Qt::Key_Return);
            });
            QTest::keyClick(window.get(), Qt::Key_N, Qt::ControlModifier);
            reactivate();
            return error.remove(QChar(0x200B));
        };

        openByDialog(sandbox->file("Kunden.db"));
        QCOMPARE(label("StatusLabel")->text(), QStringLiteral("1/1"));
        QString error = newTableFails("Fehlt/Adressen");
        QVERIFY2(error.endsWith("Das Verzeichnis existiert nicht."), qPrintable(error));
        expectClosed("missing directory");
        // Typing in a field of the closed window starts nothing.
        QVERIFY(!edit("DBEditName")->isEnabled());

        openByDialog(sandbox->file("Kunden.db"));
        error = newTableFails(QString(255, 'n'));
        QVERIFY2(error.endsWith("Der Dateiname ist zu lang."), qPrintable(error));
        expectClosed("name too long");

        openByDialog(sandbox->file("Kunden.db"));
        QCOMPARE(label("StatusLabel")->text(), QStringLiteral("1/1"));
        openByDialog(sandbox->file("kaputt.db"));
        expectClosed("no table");
        QCOMPARE(readTable(sandbox->file("Kunden.db")).size(), 1);
    }

#ifdef VELLUMO_HAVE_PXLIB
    // A table protected by a password opens for reading with a note, and
    // "Kennwortschutz entfernen" copies it into one without, the original
    // left as it was.
    void protectedTableReadsAndLosesItsPasswordInACopy() {
        const QString locked = sandbox->file("Geheim.db");
        makeTable(locked, {{"Meier", "Anna", "Bonn"}, {"Zander", "Kurt", "Köln"}});
        const QStringList rows = readTable(locked);
        const QString blobs = sandbox->file("Geheim.mb");
        testutil::protectWithPassword(QFile::encodeName(locked).toStdString(),
                                      QFile::exists(blobs) ? QFile::encodeName(blobs).toStdString()
                                                           : std::string(),
                                      "Geheimnis");
        const QByteArray before = fileBytes(locked);
        showWindow();

        QString note;
        std::function<void(QWidget*)> takeNote = [&](QWidget* modal) {
            if (qobject_cast<QMessageBox*>(modal)) {
                note = messageText(modal);
                clickButton(modal, "OK");
            } else {
                whenModal(takeNote, 1500);
            }
        };
        whenModal(takeNote, 1500);
        openByDialog(locked);
        testsupport::settle();
        QVERIFY2(note.contains("mit einem Kennwort geschützt"), qPrintable(note));
        QCOMPARE(
            window->windowTitle(),
            QStringLiteral("Vellumo V2.0 - Geheim.db (mit Kennwort geschützt, nur zum Lesen)"));
        QCOMPARE(edit("DBEditName")->text(), QStringLiteral("Meier"));

        QString proposed, done;
        whenModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            QVERIFY(dialog && dialog->objectName() == "KennwortschutzDialog");
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            proposed = name->text();
            whenModal([&](QWidget* box) {
                done = messageText(box);
                clickButton(box, "OK");
            });
            QTest::keyClick(name, Qt::Key_Return);
        });
        action("KennwortschutzEntfernen")->trigger();
        reactivate();
        QCOMPARE(proposed, QStringLiteral("Geheim ohne Kennwort.db"));
        QVERIFY2(done.contains("ist angelegt"), qPrintable(done));
        QCOMPARE(readTable(sandbox->file("Geheim ohne Kennwort.db")), rows);
        QCOMPARE(fileBytes(locked), before);
    }
#endif

    // The question after a failed save at the end takes Enter as "&Nein":
    // pressing Enter twice keeps the program and the typed text.
    void exitQuestionDefaultsToNo() {
        const QString table = sandbox->file("Kunden.db");
        makeTable(table, {{"Meier", "Anna", "Bonn"}, {"Zander", "Anna", "Bonn"}});
        showWindow();
        openByDialog(table);
        window->Datentabelle.StepForward();
        edit("DBEditName")->setFocus();
        edit("DBEditName")->selectAll();
        typeText(edit("DBEditName"), "Meier");
        QString question;
        whenModal([&](QWidget* error) {
            whenModal([&](QWidget* box) {
                question = messageText(box);
                QTest::keyClick(box, Qt::Key_Return);
            });
            QTest::keyClick(error, Qt::Key_Return);
        });
        QVERIFY(!window->close());
        QVERIFY(question.startsWith("Die Änderungen konnten nicht gespeichert werden."));
        QVERIFY(window->isVisible());
        QCOMPARE(edit("DBEditName")->text(), QStringLiteral("Meier"));
        QVERIFY(window->Datentabelle.HasUnsavedChanges());
    }

    // Ending the program saves what was typed, but no record that holds only
    // its automatic creation date, and asks when the save fails.
    void endOfProgram() {
        const QString table = sandbox->file("Kunden.db");
        makeTable(
            table,
            {{"Meier", "Anna", "Bonn"}, {"Zander", "Anna", "Bonn"}, {"Zander", "Kurt", "Köln"}});
        const QStringList untouched = readTable(table);

        // Unchanged: nothing stamped.
        showWindow();
        openByDialog(table);
        QVERIFY(window->close());
        QCOMPARE(readTable(table), untouched);

        // Typed text still in the field is kept.
        showWindow();
        openByDialog(table);
        window->Datentabelle.GoToLast();
        edit("DBEditOrt")->setFocus();
        edit("DBEditOrt")->selectAll();
        typeText(edit("DBEditOrt"), "Kiel");
        QVERIFY(window->close());
        const QStringList kept{"Meier|Anna|Bonn|02.01.2020|", "Zander|Anna|Bonn|02.01.2020|",
                               "Zander|Kurt|Kiel|02.01.2020|17.05.2024"};
        QCOMPARE(readTable(table), kept);

        // A blank new record is not stored.
        showWindow();
        openByDialog(table);
        window->Datentabelle.InsertBlankRecord();
        window->Datentabelle.SetFieldDate("Erstellt", vellumo::now());
        QVERIFY(window->close());
        QCOMPARE(readTable(table), kept);

        // A key violation: the error, then the question; "&Nein" keeps the
        // program open with the typed text, "&Ja" ends without it.
        showWindow();
        openByDialog(table);
        window->Datentabelle.StepForward();
        edit("DBEditName")->setFocus();
        edit("DBEditName")->selectAll();
        typeText(edit("DBEditName"), "Meier");
        QStringList texts;
        auto answerWith = [&](const QString& button) {
            whenModal([&, button](QWidget* error) {
                texts << messageText(error);
                whenModal([&, button](QWidget* question) {
                    texts << messageText(question);
                    clickButton(question, button);
                });
                clickButton(error, "OK");
            });
        };
        answerWith("&Nein");
        QVERIFY(!window->close());
        QVERIFY(window->isVisible());
        QCOMPARE(texts.size(), 2);
        QCOMPARE(texts[1],
                 QStringLiteral("Die Änderungen konnten nicht gespeichert werden. Trotzdem "
                                "beenden und die Änderungen verwerfen?"));
        QCOMPARE(edit("DBEditName")->text(), QStringLiteral("Meier"));

        texts.clear();
        answerWith("&Ja");
        QVERIFY(window->close());
        QCOMPARE(texts.size(), 2);
        QCOMPARE(readTable(table), kept);
    }
};

QTEST_MAIN(TestHauptformular)
#include "tst_hauptformular.moc"
