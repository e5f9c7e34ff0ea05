// The default-table dialog through its buttons and keys, and the opening of
// the stored table at start-up with its silent fallbacks.
#include "addresstables.h"
#include "data/defaulttable.h"
#include "data/formstandardtabelle.h"
#include "platform/database/recordstore.h"
#include "platform/settings/profile.h"
#include "testsupport.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <sys/stat.h>

using namespace vellumo;
using namespace testsupport;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

// An address table with the given surnames, closed again.
void makeTable(const QString& path, const QStringList& names) {
    QList<testsupport::Address> rows;
    for (const QString& name : names)
        rows << testsupport::Address{{"Name", name}};
    testsupport::makeAddressTable(path, rows);
}

// What the start-up did to the (pretend) main window.
struct WindowLog {
    QString caption = "Vellumo V2.5";
    int enabled = 0;
    int disabled = 0;
    data::TableWindow hooks() {
        return {[this](const QString& c) { caption = c; }, [this] { ++enabled; },
                [this] { ++disabled; }};
    }
};

} // namespace

class TestStandardtabelle : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Sandbox> sandbox_;
    std::unique_ptr<QFileDialog> openDialog_;
    std::unique_ptr<TFormStandardtabelle> form_;
    QString ini() const { return sandbox_->file("Setup.ini"); }
    QLineEdit* edit() const { return form_->findChild<QLineEdit*>("Edit1"); }
    QPushButton* button(const char* name) const { return form_->findChild<QPushButton*>(name); }
    void showForm() {
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    }

private slots:
    void init() {
        sandbox_ = std::make_unique<Sandbox>();
        resetSettingsLocation();
        openDialog_ = std::make_unique<QFileDialog>();
        openDialog_->setOption(QFileDialog::DontUseNativeDialog);
        openDialog_->setNameFilter("Paradox-Dateien (*.db)");
        form_ = std::make_unique<TFormStandardtabelle>(*openDialog_);
    }
    void cleanup() {
        form_.reset();
        openDialog_.reset();
        ::chmod(QFile::encodeName(ini()).constData(), 0644);
        sandbox_.reset();
    }

    void okStoresTheTextAndLeavesOtherSectionsAlone() {
        writeAll(ini(), "[Colors]\r\nFenster=255\r\n[Standardtabelle]\r\nFileName=/alt.db\r\n");
        showForm();
        QCOMPARE(edit()->text(), QString("/alt.db"));
        edit()->clear();
        QTest::keyClicks(edit(), "/daten/Kunden.db");
        QTest::mouseClick(button("OkButton"), Qt::LeftButton);
        QVERIFY(!form_->isVisible());
        QCOMPARE(
            readAll(ini()),
            QByteArray(
                "[Colors]\r\nFenster=255\r\n[Standardtabelle]\r\nFileName=/daten/Kunden.db\r\n"));

        // Each showing reloads the box from the file, whatever was typed before.
        writeAll(ini(), "[Standardtabelle]\nFileName=/neu.db\n");
        showForm();
        QCOMPARE(edit()->text(), QString("/neu.db"));
        // An empty box is stored as an empty value.
        edit()->clear();
        QTest::keyClick(edit(), Qt::Key_Return);
        QVERIFY(!form_->isVisible());
        QCOMPARE(readAll(ini()), QByteArray("[Standardtabelle]\nFileName=\n"));
    }

    void loeschenErasesTheSectionAbbruchAndEscWriteNothing() {
        const QByteArray before = "[Standardtabelle]\nFileName=/a.db\n\n[Colors]\nText=0\n";
        writeAll(ini(), before);
        showForm();
        QTest::keyClicks(edit(), "xyz");
        QTest::mouseClick(button("AbbruchButton"), Qt::LeftButton);
        QVERIFY(!form_->isVisible());
        showForm();
        QCOMPARE(edit()->text(), QString("/a.db"));
        QTest::keyClicks(edit(), "xyz");
        QTest::keyClick(edit(), Qt::Key_Escape);
        QVERIFY(!form_->isVisible());
        QCOMPARE(readAll(ini()), before);

        showForm();
        QTest::mouseClick(button("LoeschenButton"), Qt::LeftButton);
        QVERIFY(!form_->isVisible());
        QCOMPARE(readAll(ini()), QByteArray("[Colors]\nText=0\n"));
        showForm();
        QCOMPARE(edit()->text(), QString());
    }

    void browseUsesTheOpenDialogWithItsTitle() {
        makeTable(sandbox_->file("Kunden.db"), {});
        showForm();
        QString title;
        whenModal([&](QWidget* modal) {
            title = modal->windowTitle();
            // The path typed into the name field, as a person may do; the
            // directory listing is filled in the background and may lag.
            auto* name = modal->findChild<QLineEdit*>("fileNameEdit");
            if (name)
                name->setText(sandbox_->file("Kunden.db"));
            QMetaObject::invokeMethod(modal, name ? "accept" : "reject");
        });
        QTest::mouseClick(form_->findChild<QToolButton*>("SpeedButton1"), Qt::LeftButton);
        QCOMPARE(title, QString("Ausgewählte Datei wird bei Programmstart geöffnet:"));
        QCOMPARE(edit()->text(), sandbox_->file("Kunden.db"));

        // Browsing again and cancelling changes nothing; "&Abbruch" writes nothing.
        whenModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
        QTest::mouseClick(form_->findChild<QToolButton*>("SpeedButton1"), Qt::LeftButton);
        QCOMPARE(edit()->text(), sandbox_->file("Kunden.db"));
        QTest::mouseClick(button("AbbruchButton"), Qt::LeftButton);
        QVERIFY(!QFile::exists(ini()));
    }

    void aRefusedWriteIsReportedAndStoresNothing() {
        writeAll(ini(), "[Standardtabelle]\nFileName=/a.db\n");
        QCOMPARE(::chmod(QFile::encodeName(ini()).constData(), 0444), 0);
        showForm();
        QTest::keyClicks(edit(), "x");
        QString message;
        whenModal([&](QWidget* modal) {
            message = messageText(modal);
            clickButton(modal, "OK");
        });
        QTest::mouseClick(button("OkButton"), Qt::LeftButton);
        QCOMPARE(message, "Kann nicht nach " + ini() + " schreiben.");
        QVERIFY(!form_->isVisible());
        QCOMPARE(readAll(ini()), QByteArray("[Standardtabelle]\nFileName=/a.db\n"));

        message.clear();
        showForm();
        whenModal([&](QWidget* modal) {
            message = messageText(modal);
            clickButton(modal, "OK");
        });
        QTest::mouseClick(button("LoeschenButton"), Qt::LeftButton);
        QCOMPARE(message, "Kann nicht nach " + ini() + " schreiben.");
        QCOMPARE(readAll(ini()), QByteArray("[Standardtabelle]\nFileName=/a.db\n"));
    }

    void startUpTriesAFileNamedError() {
        // With no stored default the name "Error" is looked for in the working directory.
        writeAll(sandbox_->file("Error"), "not a table");
        RecordStore store;
        WindowLog window;
        QVERIFY(!data::OpenDefaultTable(store, "Vellumo V2.0", window.hooks(), setupIniPath()));
        QCOMPARE(window.caption, QString("Vellumo V2.0"));
        QCOMPARE(window.disabled, 1);
    }

    // A first run through scripts/run.sh: the example table is made once from
    // the vCard in resources/, becomes the default table and opens at start-up.
    void exampleTableIsMadeOnceAndOpensAtStartUp() {
        auto runScript = [&](const QString& setupIni, const QString& dataHome) {
            QProcess script;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("XDG_DATA_HOME", dataHome);
            script.setProcessEnvironment(environment);
            script.start("bash", {VELLUMO_SOURCE_DIR "/scripts/example-table.sh",
                                  VELLUMO_TABLE_TOOL, setupIni});
            const bool ended = script.waitForFinished(60000);
            return ended && script.exitStatus() == QProcess::NormalExit ? script.exitCode() : -1;
        };
        writeAll(ini(), "[Colors]\r\nFenster=255\r\n");
        QCOMPARE(runScript(ini(), sandbox_->file("daten")), 0);
        const QString example = sandbox_->file("daten/Vellumo/Beispiel.db");
        QCOMPARE(ReadSettingText(ini(), "Standardtabelle", "FileName", ""), example);
        QCOMPARE(ReadSettingText(ini(), "Colors", "Fenster", ""), QString("255"));

        {
            RecordStore store;
            WindowLog log;
            QVERIFY(data::OpenDefaultTable(store, "Vellumo V2.0", log.hooks(), ini()));
            QCOMPARE(log.caption, QString("Vellumo V2.0 - Beispiel.db"));
            QCOMPARE(store.CountRecords(), 12);
            QCOMPARE(store.textAt(0, "Name"), QString("Bäcker"));
            QCOMPARE(store.textAt(11, "Name"), QString("Zöllner"));
            int pictures = 0;
            int birthdays = 0;
            for (int row = 0; row < store.visibleCount(); ++row) {
                pictures += store.valueAt(row, "Grafik").toByteArray().isEmpty() ? 0 : 1;
                birthdays += store.textAt(row, "Geburtstag").isEmpty() ? 0 : 1;
            }
            QCOMPARE(pictures, 1);
            QCOMPARE(birthdays, 10);
            store.CloseTableAtShutdown();
        }

        // Once: a default the user cleared stays cleared, the table as it is.
        ErasePrivateProfileSection("Standardtabelle", ini());
        const QByteArray table = readAll(example);
        QCOMPARE(runScript(ini(), sandbox_->file("daten")), 0);
        QCOMPARE(ReadSettingText(ini(), "Standardtabelle", "FileName", "-"), QString("-"));
        QCOMPARE(readAll(example), table);

        // Where no table can be made, the script fails and sets no default.
        writeAll(sandbox_->file("keinOrdner"), "a file where the data folder would be");
        QVERIFY(runScript(sandbox_->file("Anderes.ini"), sandbox_->file("keinOrdner")) > 0);
        QVERIFY(!QFile::exists(sandbox_->file("Anderes.ini")));
    }
};

QTEST_MAIN(TestStandardtabelle)
#include "tst_standardtabelle.moc"
