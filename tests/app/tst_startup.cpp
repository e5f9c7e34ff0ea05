#include "testsupport.h"

#include "app/hauptformular.h"
#include "app/startup.h"
#include "app/windows.h"

#include <QTest>

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    // The twelve windows exist once each, in their order, with their designed
    // captions; only the main window ends the program when closed; they go
    // again with their program-wide pointers.
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
                                            "FormTabelle"}));
            QVERIFY(Hauptformular && FormSuchen && FormTabelle && AboutBox);
            QVERIFY(Hauptformular->testAttribute(Qt::WA_QuitOnClose));
            for (const QWidget* window : windows.windows())
                if (window != Hauptformular)
                    QVERIFY2(!window->testAttribute(Qt::WA_QuitOnClose),
                             qPrintable(window->objectName()));
        }
        QVERIFY(!Hauptformular && !AboutBox && !FormSuchen && !FormPersonAuswahl && !FormTabelle);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
