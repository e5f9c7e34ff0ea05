// The main window's two printing handlers, end to end.
#include "addresstables.h"
#include "testsupport.h"

#include "app/hauptformular.h"
#include "platform/report/preview.h"
#include "print/formetiketten.h"
#include "print/formliste.h"
#include "print/formqr.h"
#include "print/formqrliste.h"
#include "print/formumschalg.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

class TestMainWindowPrint : public QObject {
    Q_OBJECT

    struct Fixture {
        testsupport::Sandbox sandbox;
        THauptformular main;
        TFormQR envelopeLayout;
        TFormUmschalg envelope;
        TFormQRListe listLayout{main.Datenquelle};
        TFormListe list;
        Fixture() {
            envelope.setReportLayout(&envelopeLayout);
            list.setReportLayout(&listLayout);
            main.setDialogs({.umschlag = &envelope, .liste = &list});
            QList<testsupport::Address> rows;
            for (const char* name : {"Albers", "Berger", "Claasen"})
                rows << testsupport::Address{{"Name", name},       {"Vorname", "Eva"},
                                             {"Strasse", "Weg 1"}, {"PLZ", "12345"},
                                             {"Ort", "Bonn"},      {"Telefon1", "0228"}};
            testsupport::makeAddressTable(main.Datentabelle, sandbox.file("Adressen"), rows);
            main.EnableTableControls();
            main.show();
            QVERIFY(QTest::qWaitForWindowExposed(&main));
            QVERIFY(testsupport::activate(&main));
        }
        QLineEdit* edit(const char* name) { return main.findChild<QLineEdit*>(name); }
    };

private slots:
    // The recipient lines are the entry fields as shown, unsaved typing and
    // blanks included; Escape closes the dialog and writes ABSENDER.INI; the
    // record stays current and unchanged.
    void envelopeTakesTheEntryFieldsAsShown() {
        Fixture f;
        QLineEdit* vorname = f.edit("DBEditVorname");
        vorname->setFocus();
        vorname->selectAll();
        testsupport::typeText(vorname, "  Jörg");
        QString recipient;
        testsupport::whenModal([&](QWidget* modal) {
            QCOMPARE(modal, static_cast<QWidget*>(&f.envelope));
            recipient = modal->findChild<QPlainTextEdit*>("Memo")->toPlainText();
            QTest::keyClick(modal, Qt::Key_Escape);
        });
        f.main.findChild<QToolButton*>("ButtonUmschlag")->click();
        QCOMPARE(recipient, QStringLiteral("  Jörg Albers\nWeg 1\n12345 Bonn"));
        QVERIFY(QFile::exists(f.sandbox.file("ABSENDER.INI")));
        QCOMPARE(f.main.Datentabelle.RecordNumber(), 1);
    }

    // A preview of the list ends the dialog; the run saved the pending edit
    // with its first move and leaves the last record current, which the
    // status label tells too. The rows are read without moving the cursor:
    // the bound controls are not refreshed row by row.
    void listPreviewSettlesTheEditAndEndsOnTheLastRecord() {
        Fixture f;
        QLineEdit* ort = f.edit("DBEditOrt");
        ort->setFocus();
        ort->selectAll();
        testsupport::typeText(ort, "Köln");
        bool previewed = false;
        int moves = 0;
        const vellumo::Subscription counting =
            f.main.Datentabelle.subscribeChanges([&](unsigned changes, const QString&) {
                if (changes & vellumo::CurrentChange)
                    ++moves;
            });
        testsupport::whenModal([&](QWidget* modal) {
            QCOMPARE(modal, static_cast<QWidget*>(&f.list));
            testsupport::whenModal([&](QWidget* preview) {
                auto* window = qobject_cast<vellumo::report::PreviewWindow*>(preview);
                previewed = window != nullptr;
                QTRY_VERIFY(window->pagesLaidOut() > 0);
                window->reject();
            });
            modal->findChild<QPushButton*>("VorschauButton")->click();
        });
        f.main.findChild<QToolButton*>("ButtonListe")->click();
        QVERIFY(previewed);
        QVERIFY(!f.list.isVisible());
        QCOMPARE(f.main.Datentabelle.RecordNumber(), 3);
        QCOMPARE(f.edit("DBEditName")->text(), QStringLiteral("Claasen"));
        QCOMPARE(f.main.findChild<QLabel*>("StatusLabel")->text(), QStringLiteral("3/3"));
        QVERIFY2(moves <= 1, qPrintable(QString::number(moves))); // to the last row, once
        f.main.Datentabelle.GoToFirst();
        QCOMPARE(f.main.Datentabelle.fieldText("Ort"), QStringLiteral("Köln"));
    }

    // The label dialog keeps what a run was made with (in one write of
    // Setup.ini) and offers it again the next time.
    void labelChoicesKeptForTheNextTime() {
        Fixture f;
        auto household = [](QWidget& dialog) {
            for (QCheckBox* box : dialog.findChildren<QCheckBox*>())
                if (box->text() == QStringLiteral("Ein Etikett je &Haushalt"))
                    return box;
            return static_cast<QCheckBox*>(nullptr);
        };
        QString sheet;
        {
            vellumo::print::TFormEtiketten labels(f.main.Datenquelle);
            labels.show();
            QVERIFY(labels.formatList()->count() > 1);
            labels.formatList()->setCurrentRow(1);
            sheet = labels.formatList()->currentItem()->text();
            QVERIFY(household(labels) && !household(labels)->isChecked());
            household(labels)->setChecked(true);
            bool previewed = false;
            testsupport::whenModal([&](QWidget* preview) {
                auto* window = qobject_cast<vellumo::report::PreviewWindow*>(preview);
                previewed = window != nullptr;
                window->reject();
            });
            for (QPushButton* button : labels.findChildren<QPushButton*>())
                if (button->text() == QStringLiteral("&Vorschau"))
                    button->click();
            QVERIFY(previewed);
        }
        vellumo::print::TFormEtiketten again(f.main.Datenquelle);
        again.show();
        QCOMPARE(again.formatList()->currentItem()->text(), sheet);
        QVERIFY(household(again)->isChecked());
    }
};

QTEST_MAIN(TestMainWindowPrint)
#include "tst_mainwindow_print.moc"
