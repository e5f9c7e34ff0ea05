#include "testsupport.h"

#include "platform/ui/messages.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <stdexcept>

using testsupport::clickButton;
using testsupport::messageText;
using testsupport::whenModal;

namespace {

struct Seen {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
};

Seen describe(QWidget* modal) {
    Seen seen;
    seen.title = modal->windowTitle();
    seen.text = messageText(modal);
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        seen.icon = box->icon();
        for (QAbstractButton* button : box->buttons())
            seen.buttons << button->text();
    }
    return seen;
}

} // namespace

class TestMessages : public QObject {
    Q_OBJECT
private slots:
    // The standard error display adds one full stop, never a second one.
    void standardErrorDisplay_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << "Operation bei leerer Datenmenge nicht ausführbar"
                               << "Operation bei leerer Datenmenge nicht ausführbar.";
        QTest::newRow("full stop") << "Schon zu Ende."
                                   << "Schon zu Ende.";
        QTest::newRow("empty") << ""
                               << ".";
    }
    void standardErrorDisplay() {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        Seen seen;
        whenModal([&](QWidget* modal) {
            seen = describe(modal);
            clickButton(modal, "OK");
        });
        vellumo::showError(text);
        QCOMPARE(seen.title, QStringLiteral("Vellumo"));
        QCOMPARE(seen.text, shown);
        QCOMPARE(seen.icon, QMessageBox::Critical);
        QCOMPARE(seen.buttons, QStringList{"OK"});
    }

    void typedBoxesSetTheirTitles() {
        Seen info, error;
        whenModal([&](QWidget* modal) {
            info = describe(modal);
            QTest::keyClick(modal, Qt::Key_Escape);
        });
        vellumo::showNotAvailable();
        QCOMPARE(info.title, QStringLiteral("Information"));
        QCOMPARE(info.text, QStringLiteral("Diese Funktion ist noch nicht verfügbar."));
        QCOMPARE(info.icon, QMessageBox::Information);
        QCOMPARE(info.buttons, QStringList{"OK"});

        whenModal([&](QWidget* modal) {
            error = describe(modal);
            clickButton(modal, "OK");
        });
        vellumo::showErrorMessage("Kaputt");
        QCOMPARE(error.title, QStringLiteral("Fehler"));
        QCOMPARE(error.text, QStringLiteral("Kaputt"));
    }

    // Only "&Ja" confirms; Enter takes the default "&Ja", Esc means "&Nein".
    void confirmation() {
        Seen seen;
        whenModal([&](QWidget* modal) {
            seen = describe(modal);
            clickButton(modal, "&Ja");
        });
        QVERIFY(vellumo::confirm("Wirklich?"));
        QCOMPARE(seen.title, QStringLiteral("Bestätigen"));
        QCOMPARE(seen.buttons, (QStringList{"&Ja", "&Nein"}));

        whenModal([](QWidget* modal) { clickButton(modal, "&Nein"); });
        QVERIFY(!vellumo::confirm("Wirklich?"));
        whenModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
        QVERIFY(!vellumo::confirm("Wirklich?"));
        whenModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Return); });
        QVERIFY(vellumo::confirm("Wirklich?"));
        whenModal([](QWidget* modal) { modal->close(); });
        QVERIFY(!vellumo::confirm("Wirklich?"));

        // A question whose "&Ja" throws something away: Enter keeps it.
        whenModal([&](QWidget* modal) {
            seen = describe(modal);
            QTest::keyClick(modal, Qt::Key_Return);
        });
        QVERIFY(!vellumo::confirmDefaultNo("Verwerfen?"));
        QCOMPARE(seen.buttons, (QStringList{"&Ja", "&Nein"}));
        whenModal([](QWidget* modal) { clickButton(modal, "&Ja"); });
        QVERIFY(vellumo::confirmDefaultNo("Verwerfen?"));
    }

    // A path longer than the screen is wide wraps inside the box, which stays
    // on the screen, and every character of it is still shown.
    void longPathsWrap() {
        const QString path = "/home/anna/" + QString(12, 'x') + "/" +
                             QStringList(QList<QString>(30, "Verzeichnis")).join('/') +
                             "/Adressen.db";
        const QString text =
            "Die Datei kann nicht geöffnet werden: \"" + path + "\": Der Dateiname ist zu lang.";
        QString shown;
        int width = 0;
        whenModal([&](QWidget* modal) {
            shown = messageText(modal);
            width = modal->width();
            clickButton(modal, "OK");
        });
        vellumo::showError(text);
        QVERIFY2(width < 800, qPrintable(QString::number(width)));
        QCOMPARE(shown.remove(QChar(0x200B)), text);
    }

    void inputBox() {
        // Prefilled and selected: typing replaces the proposal; Enter is "OK".
        QString value = "Adressen";
        QString title, prompt;
        whenModal([&](QWidget* modal) {
            title = modal->windowTitle();
            prompt = modal->findChild<QLabel*>("Prompt")->text();
            auto* edit = modal->findChild<QLineEdit*>("Edit");
            QCOMPARE(edit->text(), QStringLiteral("Adressen"));
            testsupport::typeText(edit, "Kunden");
            QTest::keyClick(edit, Qt::Key_Return);
        });
        QVERIFY(vellumo::inputQuery("Neue Datenbank erzeugen", "Geben Sie den neuen Dateinamen ein",
                                    value));
        QCOMPARE(value, QStringLiteral("Kunden"));
        QCOMPARE(title, QStringLiteral("Neue Datenbank erzeugen"));
        QCOMPARE(prompt, QStringLiteral("Geben Sie den neuen Dateinamen ein"));

        // Esc and "Abbrechen" leave the value alone.
        whenModal([](QWidget* modal) {
            testsupport::typeText(modal->findChild<QLineEdit*>("Edit"), "x");
            QTest::keyClick(modal, Qt::Key_Escape);
        });
        QVERIFY(!vellumo::inputQuery("T", "P", value));
        whenModal([](QWidget* modal) { clickButton(modal, "Abbrechen"); });
        QVERIFY(!vellumo::inputQuery("T", "P", value));
        QCOMPARE(value, QStringLiteral("Kunden"));

        // At most 255 characters go in.
        QString longName(300, QLatin1Char('a'));
        whenModal([](QWidget* modal) {
            auto* edit = modal->findChild<QLineEdit*>("Edit");
            edit->end(false);
            QTest::keyClicks(edit, "bbb");
            clickButton(modal, "OK");
        });
        QVERIFY(vellumo::inputQuery("T", "P", longName));
        QCOMPARE(longName, QString(255, QLatin1Char('a')));
    }

    // A handler's exception ends in the standard error display, not in Qt.
    void guardedHandlers() {
        QPushButton button("Los");
        int runs = 0;
        QObject::connect(&button, &QPushButton::clicked, &button, vellumo::guarded([&] {
            ++runs;
            throw std::runtime_error("Feld 'Name' nicht gefunden");
        }));
        QString seen;
        whenModal([&](QWidget* modal) {
            seen = messageText(modal);
            clickButton(modal, "OK");
        });
        button.show();
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(runs, 1);
        QCOMPARE(seen, QStringLiteral("Feld 'Name' nicht gefunden."));
    }
};

QTEST_MAIN(TestMessages)
#include "tst_messages.moc"
