// Birthday calendar, help window and about box, driven through the main window.
#include "addresstables.h"
#include "testsupport.h"

#include "aids/aboutbox.h"
#include "aids/calendarrules.h"
#include "aids/formkalender.h"
#include "aids/helpwindow.h"
#include "aids/tcalendar.h"
#include "app/hauptformular.h"
#include "app/startup.h"
#include "app/windows.h"
#include "find/formsuchen.h"
#include "find/formtabelle.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QHelpContentItem>
#include <QHelpContentModel>
#include <QHelpEngine>
#include <QHelpLink>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <functional>

using namespace vellumo::aids;

namespace {
QAction* action(QWidget* window, const char* name) {
    auto* found = window->findChild<QAction*>(name);
    if (!found)
        qFatal("no action %s", name);
    return found;
}
} // namespace

class TestCalendarHelp : public QObject {
    Q_OBJECT
private slots:
    // Day clamping and the year-1 floor of the step buttons.
    void yearAndMonthSteps() {
        QCOMPARE(stepYear(QDate(1996, 2, 29), -1), QDate(1995, 2, 28));
        QCOMPARE(stepYear(QDate(1996, 2, 29), 1), QDate(1997, 2, 28));
        QCOMPARE(stepMonth(QDate(1997, 3, 31), -1), QDate(1997, 2, 28));
        QCOMPARE(stepMonth(QDate(1996, 1, 31), 1), QDate(1996, 2, 29));
        QCOMPARE(stepMonth(QDate(1997, 1, 15), -1), QDate(1996, 12, 15));
        QCOMPARE(stepMonth(QDate(1996, 12, 31), 1), QDate(1997, 1, 31));
        // Below year 1 (and beyond what dd.MM.yyyy holds) nothing changes.
        QCOMPARE(stepYear(QDate(1, 6, 1), -1), QDate(1, 6, 1));
        QCOMPARE(stepMonth(QDate(1, 1, 20), -1), QDate(1, 1, 20));
        QCOMPARE(stepYear(QDate(9999, 6, 1), 1), QDate(9999, 6, 1));
        QCOMPARE(stepMonth(QDate(9999, 12, 5), 1), QDate(9999, 12, 5));
    }

    // The heading's grey copy lies behind the text by the same fraction of
    // the text at scale 1 and 2, and inside the label, never cut off by it.
    void headingShadowAtEveryScale() {
        Label3D label;
        QFont font = label.font();
        font.setPixelSize(13);
        label.setFont(font);
        label.setAlignment(Qt::AlignCenter);
        label.setText(QStringLiteral("Dezember"));
        label.resize(81, 17);
        QPalette palette = label.palette();
        palette.setColor(QPalette::WindowText, Qt::blue);
        label.setPalette(palette);
        for (const int scale : {1, 2}) {
            QImage image(label.size() * scale, QImage::Format_RGB32);
            image.setDevicePixelRatio(scale);
            image.fill(Qt::white);
            label.render(&image);
            // Ink boxes of the blue text and of the grey copy, in device pixels.
            QRect text, shadow;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) {
                    const QColor c = image.pixelColor(x, y);
                    if (c.blue() > c.red() + 80)
                        text |= QRect(x, y, 1, 1);
                    else if (c.red() < 200 && qAbs(c.red() - c.blue()) < 12)
                        shadow |= QRect(x, y, 1, 1);
                }
            QVERIFY2(!text.isEmpty() && !shadow.isEmpty(), qPrintable(QString::number(scale)));
            const QPoint offset = shadow.bottomRight() - text.bottomRight();
            const int depth = qRound(label.shadowDepth() * scale);
            QVERIFY2(qAbs(offset.x() - depth) <= 1 && qAbs(offset.y() - depth) <= 1,
                     qPrintable(QStringLiteral("scale %1: offset %2,%3, depth %4")
                                    .arg(scale)
                                    .arg(offset.x())
                                    .arg(offset.y())
                                    .arg(depth)));
            QVERIFY2(shadow.bottom() < image.height() - 1 && shadow.right() < image.width() - 1,
                     qPrintable(
                         QStringLiteral("scale %1: the copy reaches the label's edge").arg(scale)));
        }
    }

    // 1 March 1997 is a Saturday: day 1 in the last column of the first week,
    // the 31st in the sixth week row; blank cells cannot be chosen.
    void monthStartingOnSaturday() {
        TCalendar grid;
        grid.resize(171, 115);
        grid.setDate(QDate(1997, 3, 10));
        QStringList header;
        for (int column = 0; column < 7; ++column)
            header << grid.cellText(0, column);
        QCOMPARE(header, (QStringList{"So", "Mo", "Di", "Mi", "Do", "Fr", "Sa"}));
        QCOMPARE(grid.cellText(1, 6), QStringLiteral("1"));
        QCOMPARE(grid.cellText(1, 5), QString());
        QCOMPARE(grid.cellText(6, 1), QStringLiteral("31"));
        QCOMPARE(grid.cellText(6, 2), QString());
        QCOMPARE(grid.selectedCell(), QPoint(1, 3)); // the 10th, a Monday

        QTest::mouseClick(&grid, Qt::LeftButton, {}, grid.cellRect(1, 0).center());
        QCOMPARE(grid.date(), QDate(1997, 3, 10));
        QTest::mouseClick(&grid, Qt::LeftButton, {}, grid.cellRect(0, 3).center());
        QCOMPARE(grid.date(), QDate(1997, 3, 10));
        QTest::mouseClick(&grid, Qt::LeftButton, {}, grid.cellRect(6, 1).center());
        QCOMPARE(grid.date(), QDate(1997, 3, 31));
        QCOMPARE(grid.selectedCell(), QPoint(1, 6));
    }

    void screenEdgeRules() {
        const QRect screen(0, 0, 640, 480);
        QCOMPARE(calendarPosition({500, 100}, screen), QPoint(288, 100));
        QCOMPARE(calendarPosition({445, 100}, screen), QPoint(445, 100));
        QCOMPARE(calendarPosition({100, 300}, screen), QPoint(100, 92));
        QCOMPARE(calendarPosition({100, 267}, screen), QPoint(100, 267));
    }

    // The "..." button on a table without records: the calendar opens on today
    // beside the button, a month back reads "Dezember" 1996, Esc keeps the
    // date, and a new record being inserted holds it.
    void pickOnEmptyTableStartsRecord() {
        testsupport::Sandbox sandbox;
        testsupport::FixedClock clock(QDateTime(QDate(1997, 1, 15), QTime(10, 0)));
        THauptformular main;
        testsupport::makeAddressTable(main.Datentabelle, sandbox.file("Leer"), {});
        main.EnableTableControls();
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        QVERIFY(testsupport::activate(&main));
        auto* button = main.findChild<QPushButton*>("ButtonGeburtstag");
        QVERIFY(button && button->isEnabled());

        QString opened, stepped;
        QRect where;
        bool frameless = false;
        testsupport::whenModal([&](QWidget* modal) {
            auto* form = qobject_cast<TFormKalender*>(modal);
            QVERIFY(form);
            where = form->geometry();
            frameless = form->windowFlags().testFlag(Qt::FramelessWindowHint);
            opened = form->shownMonth() + " " + form->shownYear() + " " +
                     form->date().toString("dd.MM.yyyy");
            form->findChild<QAbstractButton*>("MonatMinusButton")->click();
            stepped = form->shownMonth() + " " + form->shownYear();
            QTest::keyClick(form->calendar(), Qt::Key_Escape);
        });
        button->click();

        QCOMPARE(opened, QStringLiteral("Januar 1997 15.01.1997"));
        QCOMPARE(stepped, QStringLiteral("Dezember 1996"));
        QVERIFY(frameless);
        QCOMPARE(where.size(), QSize(187, 186));
        const QPoint anchor = button->mapToGlobal(QPoint(button->width(), 0));
        QCOMPARE(where.topLeft(), calendarPosition(anchor, button->screen()->geometry()));
        QCOMPARE(main.Datentabelle.state(), vellumo::StoreState::Inserting);
        QCOMPARE(main.Datentabelle.fieldText("Geburtstag"), QStringLiteral("15.12.1996"));
        QCOMPARE(main.findChild<QLineEdit*>("DBEditGeb")->text(), QStringLiteral("15.12.1996"));
    }

    // From 29 February a year forward and back gives 28 February; "Ok" writes
    // that over the stored birthday, and the record stays in editing until a
    // move stores it.
    void okWritesShownDateOverStoredBirthday() {
        testsupport::Sandbox sandbox;
        testsupport::FixedClock clock(QDateTime(QDate(2024, 2, 29), QTime(9, 0)));
        THauptformular main;
        testsupport::makeAddressTable(
            main.Datentabelle, sandbox.file("Adressen"),
            {{{"Name", "Alt"}, {"Geburtstag", "07.05.1961"}}, {{"Name", "Berg"}}});
        main.EnableTableControls();
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        QString years;
        testsupport::whenModal([&](QWidget* modal) {
            auto* form = qobject_cast<TFormKalender*>(modal);
            QVERIFY(form);
            form->findChild<QAbstractButton*>("JahrPlusButton")->click();
            years = form->shownYear() + " " + form->date().toString("dd.MM.yyyy");
            form->findChild<QAbstractButton*>("JahrMinusButton")->click();
            form->findChild<QAbstractButton*>("OkButton")->click();
        });
        main.findChild<QPushButton*>("ButtonGeburtstag")->click();
        QCOMPARE(years, QStringLiteral("2025 28.02.2025"));
        QCOMPARE(main.Datentabelle.state(), vellumo::StoreState::Editing);
        QCOMPARE(main.Datentabelle.fieldText("Geburtstag"), QStringLiteral("28.02.2024"));
        main.Datentabelle.StepForward();
        main.Datentabelle.GoToFirst();
        QCOMPARE(main.Datentabelle.fieldText("Name"), QStringLiteral("Alt"));
        QCOMPARE(main.Datentabelle.fieldText("Geburtstag"), QStringLiteral("28.02.2024"));
    }

    // "&Hilfethemen" opens one help window on the start page; the search
    // dialog's help button shows the search page in it, usable while the
    // dialog is open, and the window goes back to the main window after.
    void helpWindowAndSearchTopic() {
        testsupport::Sandbox sandbox;
        QCOMPARE(helpPageForContext(TFormSuchen::kHelpContext), QStringLiteral("suchen.html"));
        QVERIFY2(!findHelpCollection().isEmpty(), qPrintable(expectedHelpCollection()));
        vellumo::ProgramWindows windows;
        windows.createAll();
        testsupport::makeAddressTable(Hauptformular->Datentabelle, sandbox.file("Adressen"),
                                      testsupport::numberedAddresses(3));
        Hauptformular->EnableTableControls();
        Hauptformular->show();
        QVERIFY(QTest::qWaitForWindowExposed(Hauptformular));

        action(Hauptformular, "Hilfethemen1")->trigger();
        THelpWindow* help = Hauptformular->help().window();
        QVERIFY(help && help->isVisible());
        QCOMPARE(help->parentWidget(), static_cast<QWidget*>(Hauptformular));
        QCOMPARE(help->currentPage(), helpPageUrl("index.html"));
        QCOMPARE(help->currentTitle(), QStringLiteral("Vellumo-Handbuch"));
        action(Hauptformular, "Hilfethemen1")->trigger();
        QCOMPARE(Hauptformular->help().window(), help);
        QCOMPARE(Hauptformular->findChildren<THelpWindow*>().size(), 1);
        // Contents and index come from the collection.
        QVERIFY(help->engine().contentModel()->rowCount() > 0 ||
                QTest::qWaitFor([&] { return help->engine().contentModel()->rowCount() > 0; }));
        QVERIFY(!help->engine().documentsForIdentifier("suchen").isEmpty() ||
                !help->engine().documentsForKeyword("Suchen").isEmpty());

        QUrl shown;
        QWidget* parentWhileOpen = nullptr;
        testsupport::whenModal([&](QWidget* modal) {
            QCOMPARE(modal, static_cast<QWidget*>(FormSuchen));
            FormSuchen->findChild<QPushButton*>("HilfeButton")->click();
            shown = help->currentPage();
            parentWhileOpen = help->parentWidget();
            QTest::keyClick(FormSuchen, Qt::Key_Escape);
        });
        action(Hauptformular, "Suchen")->trigger();
        QCOMPARE(shown, helpPageUrl("suchen.html"));
        QCOMPARE(parentWhileOpen, static_cast<QWidget*>(FormSuchen));
        QCOMPARE(help->currentTitle(), QStringLiteral("Suchen"));
        QCOMPARE(help->parentWidget(), static_cast<QWidget*>(Hauptformular));
        QVERIFY(help->isVisible());

        // F1 opens the page of the window in front: the start page for the
        // main window (the key stands beside "&Hilfethemen"), the search page
        // in the search dialog, whichever control has the focus.
        QCOMPARE(action(Hauptformular, "Hilfethemen1")->shortcut(), QKeySequence(Qt::Key_F1));
        help->showPage(helpPageUrl("bilder.html"));
        QVERIFY(testsupport::activate(Hauptformular));
        QTest::keyClick(Hauptformular->focusWidget() ? Hauptformular->focusWidget()
                                                     : static_cast<QWidget*>(Hauptformular),
                        Qt::Key_F1);
        QCOMPARE(help->currentPage(), helpPageUrl("index.html"));
        shown.clear();
        testsupport::whenModal([&](QWidget*) {
            QTest::keyClick(FormSuchen->focusWidget(), Qt::Key_F1);
            shown = help->currentPage();
            QTest::keyClick(FormSuchen, Qt::Key_Escape);
        });
        action(Hauptformular, "Suchen")->trigger();
        QCOMPARE(shown, helpPageUrl("suchen.html"));
        QCOMPARE(helpPageForWindow(Hauptformular), QStringLiteral("index.html"));
        QCOMPARE(helpPageForWindow(FormTabelle), QStringLiteral("tabellenansicht.html"));

        // The start page lists every page of the contents tree.
        const QString start = QString::fromUtf8(help->engine().fileData(helpPageUrl("index.html")));
        QStringList missing;
        std::function<void(QHelpContentItem*)> visit = [&](QHelpContentItem* item) {
            const QString page = item->url().fileName();
            if (page != QStringLiteral("index.html") &&
                !start.contains(QStringLiteral("href=\"%1\"").arg(page)))
                missing << page;
            for (int i = 0; i < item->childCount(); ++i)
                visit(item->child(i));
        };
        QHelpContentModel* tree = help->engine().contentModel();
        for (int row = 0; row < tree->rowCount(); ++row)
            visit(tree->contentItemAt(tree->index(row, 0)));
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(", ")));
    }

    // Without a help file a German box names where it was expected.
    void missingHelpFileNamesThePath() {
        testsupport::Sandbox sandbox;
        const QString missing = sandbox.file("nirgends/vellumo.qhc");
        setHelpCollection(missing);
        THauptformular main;
        main.show();
        QString text;
        testsupport::whenModal([&](QWidget* modal) {
            text = testsupport::messageText(modal);
            testsupport::clickButton(modal, "OK");
        });
        action(&main, "Hilfethemen1")->trigger();
        setHelpCollection({});
        QVERIFY2(text.contains(missing), qPrintable(text));
        QVERIFY2(text.startsWith("Die Hilfedatei wurde nicht gefunden"), qPrintable(text));
        QVERIFY(!main.help().window());
    }

    // "&Info ..." twice leaves one box, not modal; Esc and Enter close it.
    void aboutBoxOnceAndModeless() {
        testsupport::Sandbox sandbox;
        THauptformular main;
        TAboutBox box;
        main.setDialogs({.about = &box});
        main.show();
        action(&main, "Info1")->trigger();
        action(&main, "Info1")->trigger();
        QVERIFY(box.isVisible());
        QVERIFY(!QApplication::activeModalWidget());
        int boxes = 0;
        for (QWidget* window : QApplication::topLevelWidgets())
            boxes += window->isVisible() && qobject_cast<TAboutBox*>(window) ? 1 : 0;
        QCOMPARE(boxes, 1);
        QCOMPARE(box.windowTitle(), QStringLiteral("Info"));
        QCOMPARE(box.size(), QSize(318, 181));
        QVERIFY(testsupport::activate(&box));
        QTest::keyClick(&box, Qt::Key_Escape);
        QVERIFY(!box.isVisible());
        action(&main, "Info1")->trigger();
        QVERIFY(testsupport::activate(&box));
        QTest::keyClick(box.focusWidget() ? box.focusWidget() : &box, Qt::Key_Return);
        QVERIFY(!box.isVisible());
    }
};

QTEST_MAIN(TestCalendarHelp)
#include "tst_calendar_help.moc"
