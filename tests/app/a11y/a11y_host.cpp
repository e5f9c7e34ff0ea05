// The program's windows on a small table, driven line by line from stdin, so
// that the accessibility walk can open each window the way its menu item or
// button does and look at it through the accessibility bus:
//
//   trigger NAME   clicks the main window's button or menu item NAME
//   exec NAME      shows the dialog NAME modally (one that no button opens)
//   close          closes the window in front (the main window stays)
//   quit           ends without storing anything
//
// Every command is answered with one line "ok" or "error: …" on stdout.
#include "testsupport.h"

#include "addresstables.h"
#include "app/hauptformular.h"
#include "app/startup.h"
#include "app/windows.h"
#include "find/formpersonauswahl.h"
#include "platform/database/recordstore.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDate>
#include <QDialog>
#include <QFile>
#include <QMenu>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

void reply(const QString& line) {
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

void makeTable(const QString& path) {
    // A birthday tomorrow for Berger, so the birthday list has a line to walk.
    const QString tomorrow =
        QDate::currentDate().addDays(1).toString(u"dd.MM.") + QStringLiteral("1984");
    testsupport::makeAddressTable(
        path,
        {{{"Name", "Albers"}, {"Vorname", "Anna"}, {"Ort", "Bonn"}},
         {{"Name", "Berger"}, {"Vorname", "Bernd"}, {"Ort", "Celle"}, {"Geburtstag", tomorrow}},
         {{"Name", "Conrad"}, {"Vorname", "Clara"}, {"Ort", "Dresden"}},
         {{"Name", "Conrad"}, {"Vorname", "Carl"}, {"Ort", "Essen"}}});
}

QWidget* frontWindow() {
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return QApplication::activeWindow();
}

QString run(const QString& command, const QString& name) {
    if (command == QLatin1String("trigger")) {
        if (auto* action = Hauptformular->findChild<QAction*>(name)) {
            // Some items take their state when their menu opens.
            for (QObject* shownIn : action->associatedObjects())
                if (auto* menu = qobject_cast<QMenu*>(shownIn))
                    Q_EMIT menu->aboutToShow();
            if (!action->isEnabled())
                return QStringLiteral("error: %1 is disabled").arg(name);
            QTimer::singleShot(0, action, &QAction::trigger);
            return QStringLiteral("ok");
        }
        if (auto* button = Hauptformular->findChild<QAbstractButton*>(name)) {
            if (!button->isEnabled())
                return QStringLiteral("error: %1 is disabled").arg(name);
            QTimer::singleShot(0, button, &QAbstractButton::click);
            return QStringLiteral("ok");
        }
        return QStringLiteral("error: no control ") + name;
    }
    if (command == QLatin1String("exec")) {
        QDialog* dialog = name == QLatin1String("FormPersonAuswahl") ? FormPersonAuswahl : nullptr;
        if (!dialog)
            return QStringLiteral("error: no dialog ") + name;
        QTimer::singleShot(0, dialog, [dialog] { dialog->exec(); });
        return QStringLiteral("ok");
    }
    if (command == QLatin1String("close")) {
        QWidget* front = frontWindow();
        if (!front || front == Hauptformular)
            return QStringLiteral("error: no window in front");
        if (auto* dialog = qobject_cast<QDialog*>(front))
            dialog->reject();
        else
            front->close();
        return QStringLiteral("ok");
    }
    if (command == QLatin1String("quit")) {
        Hauptformular->Datentabelle.CloseTableAtShutdown();
        QTimer::singleShot(0, qApp, [] { QApplication::exit(0); });
        return QStringLiteral("ok");
    }
    return QStringLiteral("error: unknown command ") + command;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The sandbox first: it is the program directory, where Setup.ini is looked for.
    testsupport::Sandbox sandbox;
    vellumo::initialiseApplication(app);
    const QString table = sandbox.file(QStringLiteral("ADRESSEN.DB"));
    makeTable(table);
    QFile setup(sandbox.file(QStringLiteral("Setup.ini")));
    if (!setup.open(QIODevice::WriteOnly))
        return 2;
    setup.write("[Standardtabelle]\nFileName=" + table.toUtf8() + "\n");
    setup.close();

    vellumo::ProgramWindows windows;
    windows.createAll();
    Hauptformular->show();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QTextStream in(stdin);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        const QString line = in.readLine();
        if (line.isNull()) {
            input.setEnabled(false);
            QApplication::exit(0);
            return;
        }
        const QString command = line.section(QLatin1Char(' '), 0, 0);
        reply(run(command, line.section(QLatin1Char(' '), 1)));
    });
    QTimer::singleShot(0, &app, [] { reply(QStringLiteral("ready")); });
    const int result = app.exec();
    windows.destroy();
    return result;
}
