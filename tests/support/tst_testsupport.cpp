#include "testsupport.h"

#include "system/system.h"

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
};

QTEST_MAIN(TestSupport)
#include "tst_testsupport.moc"
