#include "testsupport.h"

#include "platform/system/system.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

class TestSupport : public QObject {
    Q_OBJECT
private slots:
    void sandboxIsolatesDirectories() {
        const QString before = QDir::currentPath();
        {
            testsupport::Sandbox box;
            QVERIFY(box.isValid());
            QCOMPARE(QDir::currentPath(), QDir(box.path()).canonicalPath());
            QCOMPARE(vellumo::programDirectory(), box.path() + "/");
        }
        QCOMPARE(QDir::currentPath(), before);
    }
    void fixedClock() {
        const QDateTime at(QDate(2024, 2, 29), QTime(12, 0));
        testsupport::FixedClock clock(at);
        QCOMPARE(vellumo::now(), at);
    }
    void answersModalBoxAndTypesUmlauts() {
        QLineEdit edit;
        edit.show();
        testsupport::typeText(&edit, QStringLiteral("Müller-Lüdenscheidt, Straße"));
        QCOMPARE(edit.text(), QStringLiteral("Müller-Lüdenscheidt, Straße"));

        QString seen;
        testsupport::whenModal([&](QWidget* modal) {
            seen = testsupport::messageText(modal);
            testsupport::clickButton(modal, QStringLiteral("&Nein"));
        });
        QMessageBox box(QMessageBox::Question, "Bestätigen", "Wirklich?");
        box.addButton("&Ja", QMessageBox::YesRole);
        auto* no = box.addButton("&Nein", QMessageBox::NoRole);
        box.exec();
        QCOMPARE(seen, QStringLiteral("Wirklich?"));
        QVERIFY(box.clickedButton() == no);
    }
    // A withdrawn answer stays silent, and the window that owned a closed box
    // really has the keyboard again (not only its closed box's transient parent).
    void withdrawnAnswerAndActivationAfterABox() {
        QWidget window;
        window.show();
        QVERIFY(testsupport::activate(&window));
        bool withdrawnRan = false;
        auto withdrawn = testsupport::whenModal([&](QWidget*) { withdrawnRan = true; });
        withdrawn.cancel();
        auto watch = testsupport::whenModal(
            [](QWidget* modal) { testsupport::clickButton(modal, QStringLiteral("OK")); });
        QMessageBox box(QMessageBox::Information, "Information", "Fertig.", QMessageBox::NoButton,
                        &window);
        box.addButton("OK", QMessageBox::AcceptRole);
        box.exec();
        QVERIFY(watch.answered());
        QVERIFY(!withdrawn.answered());
        QVERIFY(!withdrawnRan);
        QVERIFY(testsupport::activate(&window));
        QCOMPARE(QApplication::activeWindow(), &window);
    }
};

QTEST_MAIN(TestSupport)
#include "tst_testsupport.moc"
