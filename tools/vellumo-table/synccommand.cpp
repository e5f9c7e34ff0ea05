// sync of vellumo-table: the program's sync from the command line, for
// scripts and tests. With --link it links the table first (the field "UID"
// added after a backup, as the program does after asking). The password
// comes from the keyring or VELLUMO_SYNC_PASSWORD; none for a server
// without authentication. A sync that would delete many records, or follow
// a server that went empty, is refused unless --allow-deletes is given.
// --unlink makes the table forget its book (records and "UID" stay, the
// server is not touched).
#include "synccommand.h"

#include "qtcommand.h"

#include "platform/carddav/keyring.h"
#include "sync/link.h"
#include "sync/tablesync.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <csignal>
#include <cstdio>

namespace vtable {

namespace {

namespace sync = vellumo::sync;
namespace carddav = vellumo::carddav;

int usage() {
    print(stderr, QStringLiteral("Aufruf: vellumo-table sync [--link URL --user NAME] "
                                 "[--allow-deletes] [--allow-http] [--take local|server] "
                                 "TABELLE\n"
                                 "        vellumo-table sync --unlink TABELLE\n"));
    return 2;
}

QString passwordFor(const QUrl& server, const QString& user, QString* missing = nullptr) {
    const QByteArray fromEnvironment = qgetenv("VELLUMO_SYNC_PASSWORD");
    if (!fromEnvironment.isNull())
        return QString::fromUtf8(fromEnvironment);
    if (user.isEmpty())
        return {};
    if (const auto stored = carddav::keyring::lookup(server, user))
        return *stored;
    if (missing)
        *missing = QStringLiteral("Es wurde kein Passwort gefunden: weder im Schlüsselbund des "
                                  "Desktops (Benutzer %1 bei %2) noch in der Umgebungsvariablen "
                                  "VELLUMO_SYNC_PASSWORD.")
                       .arg(user, server.host());
    return {};
}

// Plain http to another machine only with --allow-http, after the warning.
bool plainHttpRefused(const QUrl& url, bool allowed) {
    if (!carddav::needsPlainHttpConsent(url) || allowed)
        return false;
    err(carddav::plainHttpWarning(url) +
        QStringLiteral(" Mit --allow-http wird trotzdem verbunden."));
    return true;
}

void listConflicts(const QString& table) {
    const QList<carddav::SyncConflict> open = sync::openConflicts(table);
    QStringList uids;
    for (const carddav::SyncConflict& c : open)
        uids << c.uid;
    const QHash<QString, QString> names = sync::recordNames(table, uids);
    for (const carddav::SyncConflict& c : open)
        if (!c.cut)
            print(stdout, QStringLiteral("Konflikt: %1, Feld %2: hier „%3“, auf dem Server „%4“.\n")
                              .arg(names.value(c.uid, c.uid), c.field, c.local, c.server));
}

} // namespace

int syncCommand(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString link, user, table;
    bool allowDeletes = false, allowHttp = false, unlink = false;
    QString take;
    const QStringList args = app.arguments().mid(2);
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--link") && i + 1 < args.size())
            link = args[++i];
        else if (args[i] == QStringLiteral("--user") && i + 1 < args.size())
            user = args[++i];
        else if (args[i] == QStringLiteral("--allow-deletes"))
            allowDeletes = true;
        else if (args[i] == QStringLiteral("--allow-http"))
            allowHttp = true;
        else if (args[i] == QStringLiteral("--take") && i + 1 < args.size() &&
                 (args[i + 1] == QStringLiteral("local") ||
                  args[i + 1] == QStringLiteral("server")))
            take = args[++i];
        else if (args[i] == QStringLiteral("--unlink"))
            unlink = true;
        else if (!args[i].startsWith(QStringLiteral("--")) && table.isEmpty())
            table = args[i];
        else
            return usage();
    }
    if (table.isEmpty() || (!user.isEmpty() && link.isEmpty()) ||
        (unlink && (!link.isEmpty() || allowDeletes)))
        return usage();
    table = tableFile(table);
    if (!QFileInfo::exists(table)) {
        err(QStringLiteral("Die Tabelle %1 gibt es nicht.").arg(table));
        return 2;
    }
    try {
        if (unlink) {
            const std::optional<QUrl> was = sync::unlinkTable(table);
            if (!was)
                print(stdout,
                      QStringLiteral("Die Tabelle %1 ist mit keinem Adressbuch verbunden.\n")
                          .arg(table));
            else
                print(stdout,
                      QStringLiteral("Die Tabelle %1 ist nicht mehr mit %2 verbunden. Ihre "
                                     "Adressen und das Feld \"UID\" bleiben; das "
                                     "Adressbuch auf dem Server ist unverändert.\n")
                          .arg(table, was->isEmpty()
                                          ? QStringLiteral("ihrem Adressbuch")
                                          : was->adjusted(QUrl::RemoveUserInfo).toDisplayString()));
            return 0;
        }
        if (!link.isEmpty()) {
            const QUrl given = carddav::serverUrlFromUserInput(link);
            if (plainHttpRefused(given, allowHttp))
                return 2;
            carddav::CardDavClient client({given, user, passwordFor(given, user)});
            client.allowPlainHttp(allowHttp);
            // A new book ("Vellumo", for an account without one) is made
            // only after the table's own steps.
            const sync::LinkOutcome linked =
                sync::linkToBook(table, client, sync::findBook(client), QStringLiteral("Vellumo"),
                                 user, QDateTime::currentDateTime());
            print(stdout, QStringLiteral("Verbunden mit %1%2.\n")
                              .arg(linked.book.toDisplayString(),
                                   linked.made ? QStringLiteral(" (neu angelegt)") : QString()));
            if (!linked.backup.isEmpty())
                print(stdout,
                      QStringLiteral("Feld \"UID\" angefügt; Sicherung: %1\n").arg(linked.backup));
        }
        const QUrl book = sync::linkedBook(table);
        if (plainHttpRefused(book, allowHttp))
            return 2;
        sync::SyncOptions options;
        QString missing;
        options.password =
            passwordFor(book.adjusted(QUrl::RemoveUserInfo), book.userName(), &missing);
        options.allowPlainHttp = allowHttp;
        options.confirm = [allowDeletes](const QString& question) {
            print(stderr, question + u'\n');
            if (!allowDeletes)
                print(stderr, QStringLiteral("Mit --allow-deletes wird trotzdem abgeglichen.\n"));
            return allowDeletes;
        };
        // Crash tests: the process dies after so many cards written.
        const int crashAfter = qEnvironmentVariableIntValue("VELLUMO_SYNC_CRASH_AFTER_UPLOADS");
        if (crashAfter > 0)
            options.afterUpload = [crashAfter, written = 0]() mutable {
                if (++written == crashAfter)
                    std::raise(SIGKILL);
            };
        sync::SyncReport report;
        try {
            report = sync::synchronise(table, options);
        } catch (const sync::SyncError& e) {
            err(missing.isEmpty() ? e.text() : e.text() + u' ' + missing);
            return 2;
        }
        print(stdout, report.text());
        listConflicts(table);
        if (report.conflicts > 0 && !take.isEmpty()) {
            // Each open decision taken as asked, then sent in a second run.
            for (const carddav::SyncConflict& c : sync::openConflicts(table))
                if (!c.cut)
                    sync::resolveConflict(table, c, take == QStringLiteral("server"));
            report = sync::synchronise(table, options);
            print(stdout, report.text());
        }
        // Some cards not taken, or decisions left open: the run is not whole.
        return report.conflicts > 0 || report.notTaken > 0 ? 1 : 0;
    } catch (const sync::SyncError& e) {
        err(e.text());
        return 2;
    }
}

} // namespace vtable
