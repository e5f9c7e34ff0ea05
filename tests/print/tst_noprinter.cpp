#include "testsupport.h"

#include "print/formqr.h"
#include "print/formumschalg.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrinterInfo>
#include <QTest>

// Without a print server Qt finds no printer and would print nowhere without
// a word: the user is told and may save the envelope as PDF instead.
class TestNoPrinter : public QObject {
    Q_OBJECT
private slots:
    void offersPdfWhenThereIsNoPrinter() {
        QVERIFY(QPrinterInfo::defaultPrinter().isNull());
        testsupport::Sandbox sandbox;
        TFormQR layout;
        TFormUmschalg dialog;
        dialog.setReportLayout(&layout);
        dialog.show();
        dialog.findChild<QPlainTextEdit*>("Memo")->setPlainText("Ohne Drucker");
        QString question;
        auto watch = testsupport::whenModal([&](QWidget* box) {
            question = testsupport::messageText(box);
            testsupport::whenModal([](QWidget* save) {
                auto* files = qobject_cast<QFileDialog*>(save);
                QVERIFY(files);
                QCOMPARE(files->nameFilters(), QStringList{"PDF-Dateien (*.pdf)"});
                static_cast<QDialog*>(files)->accept();
            });
            testsupport::clickButton(box, "&Ja");
        });
        dialog.DruckenButtonClick();
        watch.cancel();
        QCOMPARE(question, QStringLiteral("Es ist kein Drucker eingerichtet. Möchten Sie "
                                          "stattdessen eine PDF-Datei speichern?"));
        // Suggested: the report title, in the working directory.
        QFile pdf(sandbox.file("Vellumo (Umschlag).pdf"));
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        QVERIFY(pdf.read(5) == "%PDF-");
        QVERIFY(dialog.isVisible());
        dialog.reject();
    }
};

int main(int argc, char** argv) {
    // A print server that is not there, whether or not one runs here.
    qputenv("CUPS_SERVER", "/nonexistent/vellumo-cups.sock");
    QApplication app(argc, argv);
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    TestNoPrinter test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_noprinter.moc"
