// The five colours of the main window: chosen, stored in Setup.ini, applied
// again at the next start; the search dialog follows the entry fields.
#include "testsupport.h"

#include "app/hauptformular.h"
#include "app/startup.h"
#include "app/windows.h"
#include "find/formsuchen.h"
#include "platform/settings/profile.h"

#include <QAction>
#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

using testsupport::whenModal;

class tst_Colours : public QObject {
    Q_OBJECT

    static QString stored(const char* key) {
        return vellumo::GetPrivateProfileString("Colors", key, "(none)", vellumo::setupIniPath());
    }
    static QColor role(const QWidget* widget, QPalette::ColorRole which) {
        return widget->palette().color(QPalette::Active, which);
    }
    static QAction* item(const char* name) {
        auto* action = Hauptformular->findChild<QAction*>(name);
        if (!action)
            qFatal("no menu item %s", name);
        return action;
    }

    // Chooses colour in the colour dialog opened by the menu item; returns the
    // colour the dialog opened with.
    static QColor choose(const char* menuItem, const QColor& colour, bool confirm = true) {
        QColor openedWith;
        auto watch = whenModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<QColorDialog*>(modal);
            QVERIFY(dialog);
            QCOMPARE(dialog->objectName(), QStringLiteral("ColorDialog"));
            openedWith = dialog->currentColor();
            dialog->setCurrentColor(colour);
            if (confirm)
                dialog->accept();
            else
                dialog->reject();
        });
        item(menuItem)->trigger();
        watch.cancel();
        if (!watch.answered())
            qWarning("no colour dialog for %s", menuItem);
        return openedWith;
    }

private slots:
    void chosenColoursSurviveARestart() {
        testsupport::Sandbox sandbox;
        const QColor blue(0, 0, 255), green(0, 128, 0), rose(255, 200, 200);
        auto windows = std::make_unique<vellumo::ProgramWindows>();
        windows->createAll();
        QLineEdit* searchText = FormSuchen->searchTextEdit();
        const QColor plainText = role(searchText, QPalette::Text);

        // The dialog opens with black first, then with the colour it last returned.
        QCOMPARE(choose("Text", blue), QColor(Qt::black));
        QCOMPARE(stored("Text"), QStringLiteral("16711680"));
        QCOMPARE(choose("EingabefelderText", green), blue);
        QCOMPARE(choose("EingabefelderHintergrund", rose), green);
        QCOMPARE(stored("Eingabe"), QStringLiteral("13158655"));
        // The search dialog follows both entry colours, its combo box only the background.
        QCOMPARE(role(searchText, QPalette::Text), green);
        QCOMPARE(role(searchText, QPalette::Base), rose);
        QCOMPARE(role(FormSuchen->comboBox(), QPalette::Base), rose);
        QVERIFY(role(FormSuchen->comboBox(), QPalette::Text) != green);

        windows.reset();
        windows = std::make_unique<vellumo::ProgramWindows>();
        windows->createAll();
        for (QLabel* label : Hauptformular->labelControls())
            QVERIFY2(role(label, QPalette::WindowText) == blue, qPrintable(label->objectName()));
        QVERIFY(Hauptformular->findChild<QLabel*>("ErstelltDBText"));
        for (QWidget* entry : Hauptformular->entryControls()) {
            QVERIFY2(role(entry, QPalette::Text) == green, qPrintable(entry->objectName()));
            QVERIFY2(role(entry, QPalette::Base) == rose, qPrintable(entry->objectName()));
        }
        // The search dialog reads only the background at its start.
        searchText = FormSuchen->searchTextEdit();
        QCOMPARE(role(searchText, QPalette::Text), plainText);
        QCOMPARE(role(searchText, QPalette::Base), rose);
    }

    void storedValuesAndStandardColours() {
        testsupport::Sandbox sandbox;
        vellumo::WritePrivateProfileString("Colors", "Eingabe", "0x0000FF",
                                           vellumo::setupIniPath());
        vellumo::WritePrivateProfileString("Colors", "Fenster", "grün", vellumo::setupIniPath());
        vellumo::ProgramWindows windows;
        windows.createAll();
        QWidget* name = Hauptformular->findChild<QWidget*>("DBEditName");
        QCOMPARE(role(name, QPalette::Base), QColor(255, 0, 0));
        QCOMPARE(role(Hauptformular->centralWidget(), QPalette::Window), QColor(192, 192, 192));

        // A cancelled dialog changes and writes nothing.
        const QByteArray before = [] {
            QFile file(vellumo::setupIniPath());
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }();
        choose("Fenster", QColor(Qt::blue), false);
        QFile file(vellumo::setupIniPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
        QCOMPARE(role(Hauptformular->centralWidget(), QPalette::Window), QColor(192, 192, 192));

        // "Standardfarben" asks nothing and stores the standard set.
        auto watch = whenModal([](QWidget* modal) { modal->close(); }, 500);
        item("Standardeinstellungen1")->trigger();
        testsupport::settle();
        QVERIFY(!watch.answered());
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(stored("Eingabe"), QStringLiteral("16777215"));
        QCOMPARE(stored("EingabeText"), QStringLiteral("0"));
        QCOMPARE(stored("Text"), QStringLiteral("0"));
        QCOMPARE(stored("Gruppentext"), QStringLiteral("0"));
        QCOMPARE(stored("Fenster"), QStringLiteral("12632256"));
        QCOMPARE(role(name, QPalette::Base), QColor(Qt::white));
        QCOMPARE(role(FormSuchen->searchTextEdit(), QPalette::Base), QColor(Qt::white));
    }
};

QTEST_MAIN(tst_Colours)
#include "tst_colours.moc"
