// Cut, copy, paste and clear on the main window's fields, from the menu, the
// function keys and the tool buttons.
#include "addresstables.h"
#include "testsupport.h"

#include "app/hauptformular.h"
#include "platform/database/boundcontrols.h"
#include "platform/database/recordstore.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

class tst_Clipboard : public QObject {
    Q_OBJECT

    struct Fixture {
        testsupport::Sandbox sandbox;
        THauptformular main;
        Fixture() {
            testsupport::makeAddressTable(
                main.Datentabelle, sandbox.file("Adressen"),
                {{{"Name", "Adler"}, {"Ort", "Mönchengladbach"}, {"Memo1", "Erste Zeile\nZweite"}},
                 {{"Name", "Berger"}, {"Ort", "Köln"}}});
            main.EnableTableControls();
            main.show();
            QVERIFY(testsupport::activate(&main));
        }
        ~Fixture() { main.Datentabelle.CloseTableAtShutdown(); }
        template <class T> T* get(const char* name) {
            T* found = main.findChild<T*>(QString::fromLatin1(name));
            if (!found)
                qFatal("no control %s", name);
            return found;
        }
        vellumo::DBEdit* edit(const char* name) { return get<vellumo::DBEdit>(name); }
        vellumo::DBMemo* memo() { return get<vellumo::DBMemo>("DBMemoBemerkungen"); }
        QToolButton* button(const char* name) { return get<QToolButton>(name); }
        vellumo::StoreState state() const { return main.Datentabelle.state(); }
        QString stored(const char* field) const {
            return main.Datentabelle.fieldText(QString::fromLatin1(field));
        }
        // Left for the next field, as a person leaves it: the change is saved.
        void leave(QWidget* field) {
            QTest::keyClick(field, Qt::Key_Tab);
            QTRY_VERIFY(!field->hasFocus());
        }
    };

    static QString clipboard() { return QApplication::clipboard()->text(); }
    static void setClipboard(const QString& text) { QApplication::clipboard()->setText(text); }

private slots:
    void keysOnAnEntryField() {
        Fixture f;
        vellumo::DBEdit* ort = f.edit("DBEditOrt");
        ort->setFocus();
        QTRY_VERIFY(ort->hasFocus());
        ort->setSelection(0, 3);

        // F12: the whole place, not only the selected part, and it stays selected.
        setClipboard("vorher");
        QTest::keyClick(ort, Qt::Key_F12);
        QCOMPARE(clipboard(), QStringLiteral("Mönchengladbach"));
        QCOMPARE(ort->selectedText(), QStringLiteral("Mönchengladbach"));
        QCOMPARE(f.state(), vellumo::StoreState::Browsing);

        // Ctrl+X and Ctrl+V go through the menu's handlers and act as the
        // field's own keys would; the record goes into editing.
        QSignalSpy cut(f.get<QAction>("Ausschneiden"), &QAction::triggered);
        QSignalSpy paste(f.get<QAction>("Einfuegen"), &QAction::triggered);
        ort->setSelection(0, 7); // "Mönchen"
        QTest::keyClick(ort, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(cut.count(), 1);
        QCOMPARE(clipboard(), QStringLiteral("Mönchen"));
        QCOMPARE(ort->text(), QStringLiteral("gladbach"));
        QCOMPARE(f.state(), vellumo::StoreState::Editing);
        ort->setCursorPosition(static_cast<int>(ort->text().size()));
        QTest::keyClick(ort, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(paste.count(), 1);
        QCOMPARE(ort->text(), QStringLiteral("gladbachMönchen"));
        // Only the first line of the clipboard goes into a one-line field.
        setClipboard("-Nord\r\nzweite Zeile");
        QTest::keyClick(ort, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(ort->text(), QStringLiteral("gladbachMönchen-Nord"));
        f.leave(ort);
        QCOMPARE(f.stored("Ort"), QStringLiteral("gladbachMönchen-Nord"));
    }

    void toolButtonsOnTheNotes() {
        Fixture f;
        vellumo::DBMemo* memo = f.memo();
        memo->setFocus();
        QTRY_VERIFY(memo->hasFocus());
        QTextCursor cursor = memo->textCursor();
        cursor.setPosition(0);
        cursor.setPosition(5, QTextCursor::KeepAnchor); // "Erste"
        memo->setTextCursor(cursor);

        // A left click cuts only the selection, a right click all of the notes.
        QTest::mouseClick(f.button("ButtonCutAll"), Qt::LeftButton);
        QCOMPARE(clipboard(), QStringLiteral("Erste"));
        QCOMPARE(memo->toPlainText(), QStringLiteral(" Zeile\nZweite"));
        QVERIFY(memo->hasFocus());
        QTest::mouseClick(f.button("ButtonCutAll"), Qt::RightButton);
        QCOMPARE(clipboard(), QStringLiteral(" Zeile\nZweite"));
        QCOMPARE(memo->toPlainText(), QString());
        QVERIFY(memo->hasFocus());
        f.leave(memo);
        QCOMPARE(f.stored("Memo1"), QString());
    }

    // "Feld Löschen" on a record that is only being looked at: the record
    // goes into editing, so the emptied field is stored when it is left.
    void clearingAFieldIsStored() {
        Fixture f;
        vellumo::DBEdit* name = f.edit("DBEditName");
        name->setFocus();
        QTRY_VERIFY(name->hasFocus());
        QCOMPARE(f.state(), vellumo::StoreState::Browsing);
        setClipboard("bleibt");
        // Through the menu as a person opens it: the field keeps the focus.
        QTest::keyClick(&f.main, Qt::Key_B, Qt::AltModifier);
        QTRY_VERIFY(QApplication::activePopupWidget());
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_L);
        QTRY_COMPARE(name->text(), QString());
        QTRY_VERIFY(name->hasFocus());
        QCOMPARE(clipboard(), QStringLiteral("bleibt"));
        QCOMPARE(f.state(), vellumo::StoreState::Editing);
        f.leave(name);
        QCOMPARE(f.state(), vellumo::StoreState::Browsing);
        QCOMPARE(f.stored("Name"), QString());
        QCOMPARE(f.stored("Ort"), QStringLiteral("Mönchengladbach"));
    }

    void nothingHappensOnTheBirthdayButton() {
        Fixture f;
        auto* birthday = f.get<QPushButton>("ButtonGeburtstag");
        birthday->setFocus();
        QTRY_VERIFY(birthday->hasFocus());
        setClipboard("unverändert");
        for (const char* item :
             {"Ausschneiden", "Kopieren", "Einfuegen", "Loeschen", "Feldaus", "Feldkopieren"})
            f.get<QAction>(item)->trigger();
        for (const char* name : {"ButtonCutAll", "ButtonCopyAll", "ButtonPaste"})
            for (Qt::MouseButton mouse : {Qt::LeftButton, Qt::RightButton})
                QTest::mouseClick(f.button(name), mouse);
        QTest::keyClick(birthday, Qt::Key_F11);
        QTest::keyClick(birthday, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(clipboard(), QStringLiteral("unverändert"));
        QCOMPARE(f.state(), vellumo::StoreState::Browsing);
        QCOMPARE(f.edit("DBEditName")->text(), QStringLiteral("Adler"));
        QCOMPARE(f.memo()->toPlainText(), QStringLiteral("Erste Zeile\nZweite"));
        QVERIFY(birthday->hasFocus());
    }
};

QTEST_MAIN(tst_Clipboard)
#include "tst_clipboard.moc"
