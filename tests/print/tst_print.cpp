#include "testsupport.h"

#include "addresstables.h"
#include "platform/database/datasource.h"
#include "platform/database/recordstore.h"
#include "platform/report/output.h"
#include "platform/settings/profile.h"
#include "print/formliste.h"
#include "print/formqr.h"
#include "print/formqrliste.h"
#include "print/formumschalg.h"
#include "print/printrules.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrinterInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <sys/inotify.h>
#include <unistd.h>

using namespace vellumo;
using namespace vellumo::report;

namespace {

const TextItem* findText(const Page& page, const QString& text) {
    for (const TextItem& item : page.texts)
        if (item.text == text)
            return &item;
    return nullptr;
}

template <class T> T* child(QWidget* form, const char* name) {
    T* widget = form->findChild<T*>(QString::fromUtf8(name));
    if (!widget)
        qFatal("no control %s", name);
    return widget;
}

double mm(double units) {
    return units * 25.4 / 96.0;
}

QList<testsupport::Address> listAddresses(int n) {
    QList<testsupport::Address> addresses;
    for (int i = 1; i <= n; ++i) {
        const QString nr = QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0'));
        addresses << testsupport::Address{{"Name", "Person " + nr},    {"Vorname", "Vorname " + nr},
                                          {"Strasse", "Straße " + nr}, {"PLZ", "1" + nr},
                                          {"Ort", "Ort " + nr},        {"Telefon1", "030 " + nr},
                                          {"Telefon2", "zweite " + nr}};
    }
    return addresses;
}

// VELLUMO_SAMPLES_DIR set: the documents of the tests are kept there as PDF
// (docs/samples is made this way).
void keepSample(const Document& document, const char* name) {
    const QString dir = qEnvironmentVariable("VELLUMO_SAMPLES_DIR");
    if (!dir.isEmpty())
        writePdf(document, dir + u'/' + QString::fromUtf8(name));
}

// Counts how often a file is written in place or replaced by a rename.
class FileWrites {
public:
    explicit FileWrites(const QString& path)
        : name_(QFile::encodeName(QFileInfo(path).fileName())),
          fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        inotify_add_watch(fd_, QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                          IN_MOVED_TO | IN_CLOSE_WRITE);
    }
    ~FileWrites() { ::close(fd_); }
    FileWrites(const FileWrites&) = delete;
    FileWrites& operator=(const FileWrites&) = delete;
    int take() {
        int n = 0;
        alignas(inotify_event) char buffer[8192];
        ssize_t got;
        while ((got = ::read(fd_, buffer, sizeof buffer)) > 0) {
            for (char* p = buffer; p < buffer + got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(p);
                if (event->len > 0 && name_ == event->name)
                    ++n;
                p += sizeof(inotify_event) + event->len;
            }
        }
        return n;
    }

private:
    QByteArray name_;
    int fd_;
};

} // namespace

class TestPrint : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QFont::insertSubstitution(QStringLiteral("MS Sans Serif"),
                                  QStringLiteral("Liberation Sans"));
        QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    }

    // A first start shows five empty sender lines, "Keinen Absender drucken"
    // unchecked, and closing writes keys 0 to 4 empty and "Drucken" = 1. Seven
    // typed lines all print, but only five are saved and come back. Only
    // "Drucken" = 0 suppresses the sender. A root directory gives one
    // separator.
    void senderSettingsFirstStartAndFiveLineSave() {
        testsupport::Sandbox sandbox;
        TFormQR layout;
        TFormUmschalg dialog;
        dialog.setReportLayout(&layout);
        auto* sender = child<QPlainTextEdit>(&dialog, "AbsenderMemo");
        auto* noSender = child<QCheckBox>(&dialog, "AbsCheckBox");
        const QString ini = sandbox.file("ABSENDER.INI");
        QCOMPARE(print::senderIniPath(), ini);
        QCOMPARE(print::senderIniPath("/"), QStringLiteral("/ABSENDER.INI"));

        // Six keys, one write: a crash can never leave a sender mixed from
        // old and new lines.
        FileWrites writes(ini);
        dialog.show();
        QCOMPARE(sender->toPlainText(), QStringLiteral("\n\n\n\n"));
        QVERIFY(!noSender->isChecked() && sender->isEnabled());
        dialog.reject();
        QVERIFY(QFile::exists(ini));
        QCOMPARE(writes.take(), 1);
        for (const char* key : {"0", "1", "2", "3", "4"})
            QCOMPARE(GetPrivateProfileString("Absender", key, "x", ini), QString());
        QCOMPARE(GetPrivateProfileString("Absender", "Drucken", "x", ini), QStringLiteral("1"));

        dialog.show();
        sender->setPlainText("A1\nA2\nA3\nA4\nA5\nA6\nA7");
        dialog.PrepareEnvelope();
        const Page page = layout.QuickReport.layout().pages.at(0);
        QVERIFY(findText(page, "A7"));
        QCOMPARE(findText(page, "A1")->extent.topLeft(), QPointF(10, 10));
        dialog.reject();
        QCOMPARE(writes.take(), 1);
        QCOMPARE(GetPrivateProfileString("Absender", "4", "", ini), QStringLiteral("A5"));
        QCOMPARE(GetPrivateProfileString("Absender", "5", "none", ini), QStringLiteral("none"));
        dialog.show();
        QCOMPARE(sender->toPlainText(), QStringLiteral("A1\nA2\nA3\nA4\nA5"));
        dialog.reject();

        WritePrivateProfileString("Absender", "Drucken", "", ini);
        QCOMPARE(print::loadSenderSettings(ini).print, true);
        WritePrivateProfileString("Absender", "Drucken", "0", ini);
        dialog.show();
        QVERIFY(noSender->isChecked() && !sender->isEnabled());
        dialog.reject();
    }

    // The format places the recipient block (DL at 470/230, B5 at 550/390),
    // the sender block stands at 10/10; a format text of the user's own keeps
    // the last position; the two check boxes empty their blocks and disable
    // their memos, and still give one (blank) page. Double clicks on the
    // format box move the choice up and stop at the first entry.
    void envelopePositionsAndCheckBoxes() {
        testsupport::Sandbox sandbox;
        TFormQR layout;
        TFormUmschalg dialog;
        dialog.setReportLayout(&layout);
        dialog.show();
        auto* memo = child<QPlainTextEdit>(&dialog, "Memo");
        auto* combo = child<QComboBox>(&dialog, "ComboBox1");
        QCOMPARE(combo->currentIndex(), 1);
        memo->setPlainText(print::recipientLines("", "Muster", "Weg 1", "12345", "Ort").join('\n'));
        QCOMPARE(memo->toPlainText(), QStringLiteral(" Muster\nWeg 1\n12345 Ort"));
        child<QPlainTextEdit>(&dialog, "AbsenderMemo")->setPlainText("Absender Eins");

        combo->setCurrentIndex(0);
        dialog.PrepareEnvelope();
        Page page = layout.QuickReport.layout().pages.at(0);
        QCOMPARE(findText(page, " Muster")->extent.topLeft(), QPointF(470, 230));
        QCOMPARE(findText(page, "Absender Eins")->extent.topLeft(), QPointF(10, 10));
        // 19-pixel bold font of the memo: lines 22 units apart.
        QCOMPARE(findText(page, "Weg 1")->extent.top(), 230.0 + lineHeight(layout.QRMemo2->Font));
        QCOMPARE(layout.QRMemo2->Font.pixelSize(), 19);

        combo->setCurrentIndex(4);
        combo->setEditText("mein Format");
        dialog.PrepareEnvelope();
        QCOMPARE(QPoint(layout.QRMemo2->Left, layout.QRMemo2->Top), QPoint(470, 230));
        combo->setCurrentIndex(4);
        dialog.PrepareEnvelope();
        QCOMPARE(QPoint(layout.QRMemo2->Left, layout.QRMemo2->Top), QPoint(550, 390));

        QTest::mouseDClick(combo->lineEdit(), Qt::LeftButton);
        QCOMPARE(combo->currentIndex(), 3);
        combo->setCurrentIndex(0);
        QTest::mouseDClick(combo->lineEdit(), Qt::LeftButton);
        QCOMPARE(combo->currentIndex(), 0);
        QCOMPARE(combo->lineEdit()->selectedText(), combo->itemText(0));

        QTest::mouseClick(child<QCheckBox>(&dialog, "AbsCheckBox"), Qt::LeftButton);
        QTest::mouseClick(child<QCheckBox>(&dialog, "AdrCheckBox"), Qt::LeftButton);
        QVERIFY(!memo->isEnabled() && !child<QPlainTextEdit>(&dialog, "AbsenderMemo")->isEnabled());
        dialog.PrepareEnvelope();
        const Document blank = layout.QuickReport.layout();
        QCOMPARE(int(blank.pages.size()), 1);
        QVERIFY(blank.pages[0].texts.empty());
        dialog.reject();
    }

    // The one font dialog opens with the font and colour it last returned,
    // not with the memo's; what it returns goes into the memo of the button
    // pressed and into the print. Escape cancels the font dialog alone.
    void fontDialogOpensWithWhatItLastReturned() {
        testsupport::Sandbox sandbox;
        TFormQR layout;
        TFormUmschalg dialog;
        dialog.setReportLayout(&layout);
        dialog.show();
        QVERIFY(testsupport::activate(&dialog));
        auto* memo = child<QPlainTextEdit>(&dialog, "Memo");
        auto* sender = child<QPlainTextEdit>(&dialog, "AbsenderMemo");
        const QFont senderFont = sender->font();
        int openedWith = 0;
        QFont first;
        QString firstColour;
        testsupport::whenModal([&](QWidget* modal) {
            QCOMPARE(modal, static_cast<QWidget*>(dialog.FontDialog));
            first = dialog.FontDialog->currentFont();
            openedWith = first.pointSize();
            firstColour = dialog.ColourBox->currentText();
            QFont big(QStringLiteral("Liberation Serif"));
            big.setPointSize(20);
            dialog.FontDialog->setCurrentFont(big);
            dialog.ColourBox->setCurrentIndex(dialog.ColourBox->findText("Rot"));
            dialog.FontDialog->accept();
        });
        QTest::mouseClick(child<QPushButton>(&dialog, "ButtonFontEmpfaenger"), Qt::LeftButton);
        // The first time: the dialog's sans, 8 pt, regular, in black.
        QCOMPARE(first.family(), QStringLiteral("Liberation Sans"));
        QVERIFY(!first.bold() && !first.italic());
        QCOMPARE(firstColour, QStringLiteral("Schwarz"));
        QCOMPARE(dialog.ColourBox->count(), 16);
        QCOMPARE(openedWith, 8);
        QCOMPARE(memo->font().pointSize(), 20);
        memo->setPlainText("Zeile");
        dialog.PrepareEnvelope();
        QCOMPARE(layout.QRMemo2->Font.pixelSize(), 27); // 20 pt at 96 dpi
        QCOMPARE(layout.QRMemo2->Color, QColor(Qt::red));
        // Disabled by "Keinen Empfänger drucken", the memo looks disabled.
        QTest::mouseClick(child<QCheckBox>(&dialog, "AdrCheckBox"), Qt::LeftButton);
        QVERIFY(!memo->isEnabled());
        QVERIFY(memo->palette().color(QPalette::Disabled, QPalette::Text) != QColor(Qt::red));
        QTest::mouseClick(child<QCheckBox>(&dialog, "AdrCheckBox"), Qt::LeftButton);

        testsupport::whenModal([&](QWidget*) {
            openedWith = dialog.FontDialog->currentFont().pointSize();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        });
        QTest::mouseClick(child<QPushButton>(&dialog, "ButtonFontAbsender"), Qt::LeftButton);
        QCOMPARE(openedWith, 20);
        QCOMPARE(sender->font(), senderFont);
        QVERIFY(dialog.isVisible());
        dialog.reject();
    }

    // Columns, rules and the heading where the layout puts them; the dotted
    // line only when chosen; the heading's centre the same for a short and a
    // long heading; only Telefon1; three pages with the header repeated; the
    // filter decides the rows and the last record is current afterwards.
    void listLayout() {
        testsupport::Sandbox sandbox;
        RecordStore store;
        DataSource source(store);
        testsupport::makeAddressTable(store, sandbox.file("Adressen"), listAddresses(100));
        TFormQRListe layout(source);
        TFormListe dialog;
        dialog.setReportLayout(&layout);
        dialog.PrepareList();
        store.StepBy(10);

        Document document = layout.QuickReport.layout(QPageSize(QPageSize::A4));
        QCOMPARE(int(document.pages.size()), 3);
        keepSample(document, "liste.pdf");
        QCOMPARE(store.RecordNumber(), 100);
        const Page& first = document.pages[0];
        const TextItem* heading = findText(first, "Überschrift");
        QVERIFY(heading && heading->font.underline() && heading->font.pixelSize() == 16);
        QCOMPARE(heading->extent.center().x(), 396.5);
        QCOMPARE(heading->extent.top(), 8.0);
        const QList<QPair<QString, int>> labels{{"Name", 30}, {"Vorname", 184}, {"Strasse", 306},
                                                {"PLZ", 477}, {"Ort", 535},     {"Telefon", 670}};
        for (const auto& [caption, left] : labels)
            QCOMPARE(findText(first, caption)->extent.topLeft(), QPointF(left, 41 + 19));
        const QList<QPair<QString, int>> fields{{"Person 001", 30},  {"Vorname 001", 184},
                                                {"Straße 001", 306}, {"1001", 477},
                                                {"Ort 001", 535},    {"030 001", 670}};
        for (const auto& [text, left] : fields)
            QCOMPARE(findText(first, text)->extent.topLeft(), QPointF(left, 82 + 3));
        QVERIFY(!findText(first, "zweite 001"));
        QVERIFY(findText(document.pages[1], "Name"));
        QCOMPARE(findText(document.pages[1], "Person 042")->extent.top(), 41.0 + 3);
        QVERIFY(!findText(document.pages[1], "Überschrift"));

        QList<QLineF> solid;
        for (const LineItem& line : first.lines) {
            QCOMPARE(line.style, Qt::SolidLine);
            solid << line.line;
        }
        QVERIFY(solid.contains(QLineF(30, 41 + 36, 793, 41 + 36)));
        for (int x : {180, 302, 472, 530, 666}) {
            QVERIFY(solid.contains(QLineF(x, 41 + 16, x, 82)));
            QVERIFY(solid.contains(QLineF(x, 82, x, 82 + 25)));
        }

        child<QCheckBox>(&dialog, "CheckBoxGitternetz")->setChecked(true);
        child<QLineEdit>(&dialog, "UeberschriftEdit")
            ->setText("Eine sehr viel längere Überschrift");
        dialog.PrepareList();
        store.SetFilterText("Name = 'Person 01*'");
        store.SetFilterActive(true);
        document = layout.QuickReport.layout(QPageSize(QPageSize::A4));
        QCOMPARE(int(document.pages.size()), 1);
        const Page& filtered = document.pages[0];
        heading = findText(filtered, "Eine sehr viel längere Überschrift");
        QCOMPARE(heading->extent.center().x(), 396.5);
        QVERIFY(findText(filtered, "Person 010") && findText(filtered, "Person 019"));
        QVERIFY(!findText(filtered, "Person 009") && !findText(filtered, "Person 020"));
        QCOMPARE(store.fieldText("Name"), QStringLiteral("Person 019"));
        int dotted = 0;
        for (const LineItem& line : filtered.lines)
            if (line.style == Qt::DotLine) {
                QCOMPARE(line.line, QLineF(40, 82 + dotted * 25 + 21, 793, 82 + dotted * 25 + 21));
                ++dotted;
            }
        QCOMPARE(dotted, 10);
    }

    // A printer that cannot print within 5 mm of the paper's edge (the
    // cups-pdf queue "PDF-Rand" of scripts/print-queue.sh) gets its pages
    // ended above that: every row of the list lies within the printable area.
    void listRowsStayInThePrintableArea() {
        const QPrinterInfo printer = QPrinterInfo::printerInfo("PDF-Rand");
        if (printer.isNull())
            QSKIP("No queue PDF-Rand (CUPS not running): scripts/print-queue.sh sets it up");
        testsupport::Sandbox sandbox;
        RecordStore store;
        DataSource source(store);
        testsupport::makeAddressTable(store, sandbox.file("Adressen"), listAddresses(200));
        TFormQRListe layout(source);
        const PageGeometry geometry = printerGeometry(printer, QPageSize(QPageSize::A4));
        const double printable = (297.0 - 5.0) / 25.4 * 96;
        QVERIFY2(qAbs(geometry.bottom - printable) < 0.5,
                 qPrintable(QString::number(geometry.bottom)));
        const Document document = layout.QuickReport.layout(geometry);
        int rules = 0; // at x = 180: one in each page header, one in each row
        for (const Page& page : document.pages)
            for (const LineItem& rule : page.lines)
                if (rule.line.x1() == 180) {
                    QVERIFY2(rule.line.y2() <= printable,
                             qPrintable(QString::number(rule.line.y2())));
                    ++rules;
                }
        QCOMPARE(rules - int(document.pages.size()), 200);
        QCOMPARE(int(document.pages.size()), 5); // 40 rows on the first page, 42 on the others
    }

    // vellumo-table prints the list headless with the same words at the same
    // places as the program's PDF of it, on two pages.
    void commandLineListEqualsTheProgramsPdf() {
        if (QStandardPaths::findExecutable("pdftotext").isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        testsupport::Sandbox sandbox;
        RecordStore store;
        DataSource source(store);
        testsupport::makeAddressTable(store, sandbox.file("Adressen"), listAddresses(60));
        TFormQRListe layout(source);
        TFormListe dialog;
        dialog.setReportLayout(&layout);
        child<QLineEdit>(&dialog, "UeberschriftEdit")->setText("Kunden 2026");
        child<QCheckBox>(&dialog, "CheckBoxGitternetz")->setChecked(true);
        dialog.PrepareList();
        const QString ours = sandbox.file("programm.pdf");
        QVERIFY(
            writePdf(layout.QuickReport, PageGeometry::fullPage(QPageSize(QPageSize::A4)), ours));

        const QString theirs = sandbox.file("werkzeug.pdf");
        QProcess tool;
        tool.setProcessEnvironment([] {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove("QT_QPA_PLATFORM");
            env.remove("DISPLAY");
            return env;
        }());
        // The table named as in the program, without ".db".
        tool.start(VELLUMO_TABLE_TOOL, {"print", "--list", "--heading", "Kunden 2026", "--lines",
                                        sandbox.file("Adressen"), theirs});
        QVERIFY(tool.waitForFinished(30000));
        QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());

        auto words = [&](const QString& pdf) {
            QProcess run;
            run.start("pdftotext", {"-bbox", pdf, "-"});
            run.waitForFinished(20000);
            QStringList lines;
            for (const QString& line : QString::fromUtf8(run.readAllStandardOutput()).split('\n'))
                if (line.contains("<word") || line.contains("<page"))
                    lines << line.trimmed();
            return lines;
        };
        const QStringList expected = words(ours);
        QCOMPARE(expected.filter(QRegularExpression("^<page")).size(), 2);
        QVERIFY(expected.filter("Kunden").size() == 1 && expected.filter("Person").size() == 60);
        QCOMPARE(words(theirs), expected);
    }

    // The envelope as PDF: pdftotext finds the words at the same millimetres
    // as the layout (recipient C6 at 75.7/65.1 mm, sender at 2.6/2.6 mm).
    void envelopePdfPositions() {
        if (QStandardPaths::findExecutable("pdftotext").isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        testsupport::Sandbox sandbox;
        TFormQR layout;
        TFormUmschalg dialog;
        dialog.setReportLayout(&layout);
        dialog.show();
        child<QPlainTextEdit>(&dialog, "Memo")
            ->setPlainText("Max Mustermann\nHauptstr. 1\n10115 Berlin");
        child<QPlainTextEdit>(&dialog, "AbsenderMemo")
            ->setPlainText("Erika Musterfrau\nHeidestraße 17\n51147 Köln");
        dialog.PrepareEnvelope();
        dialog.reject();
        const QString pdf = sandbox.file("umschlag.pdf");
        writePdf(layout.QuickReport.layout(), pdf);
        keepSample(layout.QuickReport.layout(), "umschlag-c6.pdf");
        QProcess run;
        run.start("pdftotext", {"-bbox", pdf, sandbox.file("words.html")});
        QVERIFY(run.waitForFinished(20000) && run.exitCode() == 0);
        QFile html(sandbox.file("words.html"));
        QVERIFY(html.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(html.readAll());
        QCOMPARE(text.count("<page width=\"595"), 1); // one A4 page
        auto wordAt = [&](const QString& word) {
            const QRegularExpression re("xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\"[^>]*>" +
                                        QRegularExpression::escape(word) + "<");
            const QRegularExpressionMatch m = re.match(text);
            if (!m.hasMatch())
                qFatal("word %s not in the PDF", qPrintable(word));
            return QPointF(m.captured(1).toDouble() * 25.4 / 72,
                           m.captured(2).toDouble() * 25.4 / 72);
        };
        const QPointF max = wordAt("Max");
        QVERIFY2(qAbs(max.x() - mm(286)) < 0.6, qPrintable(QString::number(max.x())));
        QVERIFY2(qAbs(max.y() - mm(246)) < 0.6, qPrintable(QString::number(max.y())));
        const QPointF street = wordAt("Hauptstr.");
        QVERIFY(qAbs(street.y() - mm(246 + 22)) < 0.6);
        const QPointF erika = wordAt("Erika");
        QVERIFY(qAbs(erika.x() - mm(10)) < 0.6 && qAbs(erika.y() - mm(10)) < 0.6);
    }

    // Printing goes to the system's default printer: with the cups-pdf queue
    // that scripts/test.sh sets up, the envelope arrives as a PDF file.
    void envelopeReachesTheDefaultPrinter() {
        const QPrinterInfo printer = QPrinterInfo::defaultPrinter();
        if (printer.isNull())
            QSKIP("No default printer (CUPS not running): scripts/test.sh starts cupsd with a "
                  "cups-pdf queue as the default printer");
        testsupport::Sandbox sandbox;
        const QDir out(QDir::homePath() + "/PDF");
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        TFormQR layout;
        TFormUmschalg dialog;
        dialog.setReportLayout(&layout);
        dialog.show();
        child<QPlainTextEdit>(&dialog, "Memo")->setPlainText("Drucker Test\nWeg 1\n12345 Ort");
        dialog.DruckenButtonClick();
        QVERIFY(dialog.isVisible()); // printing leaves the dialog open
        dialog.reject();
        QString found;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const QFileInfo& file : out.entryInfoList({"*.pdf"}, QDir::Files))
                    if (file.lastModified() >= before && file.size() > 0)
                        found = file.absoluteFilePath();
                return !found.isEmpty();
            }(),
            30000);
        QFile pdf(found);
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        QVERIFY(pdf.read(5) == "%PDF-");
    }
};

QTEST_MAIN(TestPrint)
#include "tst_print.moc"
