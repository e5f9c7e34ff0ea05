#include "testsupport.h"

#include "aids/aboutbox.h"
#include "app/hauptformular.h"
#include "app/startup.h"
#include "app/windows.h"
#include "data/formstandardtabelle.h"
#include "find/formsuchen.h"
#include "find/formtabelle.h"
#include "pictures/formbild.h"
#include "pictures/formbildspeichern.h"
#include "print/formetiketten.h"
#include "print/formliste.h"
#include "print/formumschalg.h"
#include "print/printdialogs.h"
#include "print/printstyle.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QTest>

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    // The twelve windows exist once each, in their order, with their designed
    // captions, followed by the print styles' dialogs; only the main window
    // ends the program when closed; they go again with their program-wide
    // pointers.
    void createsTheTwelveWindows() {
        testsupport::Sandbox sandbox;
        {
            vellumo::ProgramWindows windows;
            windows.createAll();
            QStringList captions;
            for (const QWidget* window : windows.windows())
                captions << window->windowTitle();
            QCOMPARE(windows.windows().front(), static_cast<QWidget*>(Hauptformular));
            QCOMPARE(captions, (QStringList{"Vellumo V2.5", "Info", "Umschlag drucken", "FormBild",
                                            "Bild laden", "FormQR", "FormQRListe", "Liste drucken",
                                            "Standardtabelle auswählen", "Person wählen", "Suchen",
                                            "FormTabelle", "Etiketten drucken", "Serienbrief"}));
            QVERIFY(Hauptformular && FormSuchen && FormTabelle && AboutBox);
            QVERIFY(Hauptformular->testAttribute(Qt::WA_QuitOnClose));
            for (const QWidget* window : windows.windows())
                if (window != Hauptformular)
                    QVERIFY2(!window->testAttribute(Qt::WA_QuitOnClose),
                             qPrintable(window->objectName()));
        }
        QVERIFY(!Hauptformular && !AboutBox && !FormSuchen && !FormPersonAuswahl && !FormTabelle);
    }

    // Start-up hands the main window every dialog it opens: each menu item
    // and button reaches the program's own dialog, none says it is missing.
    void mainWindowOpensTheDialogsItWasHanded() {
        testsupport::Sandbox sandbox;
        vellumo::ProgramWindows windows;
        windows.createAll();
        Hauptformular->EnableTableControls();
        Hauptformular->show();
        QVERIFY(QTest::qWaitForWindowExposed(Hauptformular));
        auto opened = [&](const char* control) {
            QWidget* modal = nullptr;
            auto watch = testsupport::whenModal([&](QWidget* shown) {
                modal = shown;
                if (auto* dialog = qobject_cast<QDialog*>(shown))
                    dialog->reject();
            });
            if (auto* action = Hauptformular->findChild<QAction*>(control))
                action->trigger();
            else
                Hauptformular->findChild<QAbstractButton*>(control)->click();
            return modal;
        };
        auto* labels = Hauptformular->findChild<vellumo::print::TFormEtiketten*>();
        QVERIFY(labels);
        const QList<QPair<const char*, QWidget*>> expected{{"Suchen", FormSuchen},
                                                           {"ButtonTabelle", FormTabelle},
                                                           {"Standardtabelle", FormStandardtabelle},
                                                           {"UmschlagDrucken", FormUmschalg},
                                                           {"ListeDrucken", FormListe},
                                                           {"ButtonSeePic", FormBild},
                                                           {"ButtonSavePic", FormBildSpeichern},
                                                           {"ButtonEtiketten", labels}};
        for (const auto& [control, dialog] : expected)
            QVERIFY2(opened(control) == dialog, control);
        Hauptformular->findChild<QAction*>("Info1")->trigger();
        QVERIFY(AboutBox->isVisible());
        AboutBox->hide();
    }

    // A style registered with its dialog is offered like the program's own:
    // on the command line's list of styles, and as an item of "&Datei" after
    // the last print item that follows the table controls and opens its dialog.
    void aRegisteredStyleIsOffered() {
        using namespace vellumo::print;
        registerPrintStyle({QStringLiteral("probe"), QStringLiteral("--probe"), QString(),
                            [](vellumo::report::RowSource* rows) {
                                return createPrintStyle(QStringLiteral("liste"), rows);
                            }});
        registerPrintDialog({QStringLiteral("probe"), QStringLiteral("ProbeDrucken"),
                             QStringLiteral("&Probe …"), QString(),
                             [](const PrintWindowContext& c) {
                                 auto dialog = std::make_unique<QDialog>(c.parent);
                                 dialog->setWindowTitle(QStringLiteral("Probe"));
                                 return dialog;
                             }});
        QVERIFY(createPrintStyle(QStringLiteral("probe"), nullptr));

        testsupport::Sandbox sandbox;
        vellumo::ProgramWindows windows;
        windows.createAll();
        auto* item = Hauptformular->findChild<QAction*>("ProbeDrucken");
        QVERIFY(item);
        const QList<QAction*> file = Hauptformular->findChild<QMenu*>("Datei1")->actions();
        const qsizetype at = file.indexOf(item);
        QVERIFY(at > 0);
        QCOMPARE(file[at - 1]->objectName(), QStringLiteral("SerienbriefDrucken"));

        // Off while no table is open, like the labels beside it.
        item->trigger();
        testsupport::settle();
        QVERIFY(!QApplication::activeModalWidget());
        Hauptformular->EnableTableControls();
        Hauptformular->show();
        QVERIFY(QTest::qWaitForWindowExposed(Hauptformular));
        emit Hauptformular->findChild<QMenu*>("Datei1")->aboutToShow(); // as the menu opens
        QString opened;
        auto watch = testsupport::whenModal([&](QWidget* shown) {
            opened = shown->windowTitle();
            qobject_cast<QDialog*>(shown)->reject();
        });
        item->trigger();
        QCOMPARE(opened, QStringLiteral("Probe"));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
