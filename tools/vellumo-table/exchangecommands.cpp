// The commands of vellumo-table that go through the program's own libraries:
// export and import (addresses as vCard or CSV), create (a new address table)
// and setting (one value of a settings file such as Setup.ini).
//
// The only part of the tool that links Qt (Core and Gui, for the PNG of the
// picture); info, dump and check stay with the engine alone.
#include "exchangecommands.h"

#include "qtcommand.h"

#include "address/addresstable.h"
#include "duplicates/importcheck.h"
#include "exchange/exchange.h"
#include "platform/database/recordstore.h"
#include "platform/paradox/io.h"
#include "platform/pictures/limits.h"
#include "platform/settings/profile.h"
#include "platform/system/system.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <unistd.h>

namespace vtable {

namespace {

namespace ex = vellumo::exchange;

// Read-only, like dump: exporting never waits for or disturbs a program
// that has the table open. The same exporter as the program's menu, on one
// state of the table gathered before anything is written: a slow target
// must not hold up the saves of a program that has it open. Exit 1 when a
// card went out without its picture (each named on standard error).
int exportTable(ex::Format format, const QString& tablePath, const QString& outPath) {
    vellumo::RecordStore store;
    store.BindTable(tablePath);
    store.OpenTableReadOnly();
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QStringList withoutPicture;
    {
        auto steady = store.holdSteady();
        ex::exportRecords(store, format, buffer, {}, &withoutPicture);
    }
    store.CloseTableAtShutdown();
    const QByteArray& bytes = buffer.data();
    if (outPath.isEmpty()) {
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t n = ::write(STDOUT_FILENO, bytes.constData() + done,
                                      static_cast<std::size_t>(bytes.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                throw vellumo::StoreError(
                    QStringLiteral("Schreiben fehlgeschlagen: %1").arg(ex::systemErrorText(errno)));
            done += n;
        }
    } else {
        QString error;
        if (!vellumo::writeFileSafely(outPath, bytes, &error))
            throw vellumo::StoreError(error);
    }
    for (const QString& line : withoutPicture)
        err(line);
    return withoutPicture.isEmpty() ? 0 : 1;
}

// Through the record store, like the program: in batches, stamped as any
// save, and the table's write lock keeps out a second writer (and refuses a
// table another program is writing). Exit 1 when cards were refused, 2 when
// the table could not be written or the file not read to its end (the report
// says how many are stored).
int importFile(const QString& tablePath, const QString& inPath) {
    vellumo::RecordStore store;
    store.BeforePost = [&store] {
        store.SetFieldDate(QStringLiteral("Aenderung"), vellumo::now());
    };
    store.BindTable(tablePath);
    store.OpenTable();
    // Columns go where the person sent them in the program's preview for
    // files with the same columns, as the program's import does.
    const QStringList columns = ex::previewFile(store, inPath, {}, 1).columnNames;
    const ex::ColumnChoices choices =
        columns.isEmpty() ? ex::ColumnChoices() : ex::rememberedChoices(columns);
    const duplicates::AddedRecords added(store);
    const ex::ImportResult result = ex::importFile(store, inPath, {}, choices);
    // What the import brought that the table had: named like the program's
    // report does; a table that cannot be read again names nothing here.
    duplicates::ImportDuplicates doubles;
    try {
        if (!store.isBroken())
            doubles = duplicates::importDuplicates(store, added.keys());
    } catch (const std::exception&) {
    }
    store.CloseTableAtShutdown();
    say(ex::summaryText(result));
    say(QString());
    say(ex::detailsText(result).trimmed());
    for (const QString& line : doubles.lines)
        say(line);
    if (!result.failure.isEmpty() || !result.readFailure.isEmpty())
        return 2;
    return result.refused > 0 ? 1 : 0;
}

// An empty address table as "&Neu" declares one; an existing file is never
// replaced.
int createTable(const QString& tablePath) {
    const QString file = tableFile(tablePath);
    // "create Adressen.vcf" is an import mixed up, not a table to make.
    if (QFileInfo(file).suffix().compare(QStringLiteral("db"), Qt::CaseInsensitive) != 0)
        throw vellumo::StoreError(
            QStringLiteral("Eine Tabelle heißt NAME oder NAME.db, nicht %1").arg(tablePath));
    if (QFileInfo::exists(file))
        throw vellumo::StoreError(
            QStringLiteral("Die Tabelle %1 gibt es schon; sie bleibt, wie sie ist").arg(file));
    vellumo::RecordStore store;
    store.BindTable(file);
    vellumo::DeclareAddressTable(store, QFileInfo(file).completeBaseName());
    store.CreateTableFile();
    say(QStringLiteral("%1 ist angelegt.").arg(file));
    return 0;
}

// Reads one value (printed; nothing and exit 1 when it is missing) or writes it.
int setting(const QStringList& args) {
    if (args.size() == 4) {
        vellumo::WritePrivateProfileString(args[1], args[2], args[3], args[0]);
        return 0;
    }
    // A stored value never holds a line break, so this default tells "missing".
    const QString missing = QStringLiteral("\n");
    const QString value = vellumo::GetPrivateProfileString(args[1], args[2], missing, args[0]);
    if (value == missing)
        return 1;
    say(value);
    return 0;
}

} // namespace

bool isExchangeCommand(const std::string& command) {
    return command == "export" || command == "import" || command == "create" ||
           command == "setting";
}

int exchangeCommand(int argc, char** argv) {
    // Image plugins (JPEG, GIF in foreign vCards) are found through the application.
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    // The same decoder limit as the program's: what one shows, the other exports.
    vellumo::pictures::applyDecoderLimit();
    // Qt's own warnings (an image plugin's complaint) are not this tool's output.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    const std::string command = argv[1];
    QStringList args;
    for (int i = 2; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    try {
        if (command == "export") {
            const QStringList kinds = {QStringLiteral("--vcard"), QStringLiteral("--csv"),
                                       QStringLiteral("--csv-tabelle")};
            if (args.size() < 2 || args.size() > 3 || !kinds.contains(args[0])) {
                err(QStringLiteral("Aufruf: vellumo-table export --vcard|--csv|--csv-tabelle "
                                   "TABELLE [DATEI]"));
                return 2;
            }
            const ex::Format format = args[0] == u"--vcard" ? ex::Format::VCard
                                      : args[0] == u"--csv" ? ex::Format::Csv
                                                            : ex::Format::SpreadsheetCsv;
            return exportTable(format, args[1], args.value(2));
        }
        if (command == "create") {
            if (args.size() != 1) {
                err(QStringLiteral("Aufruf: vellumo-table create TABELLE"));
                return 2;
            }
            return createTable(args[0]);
        }
        if (command == "setting") {
            if (args.size() != 3 && args.size() != 4) {
                err(QStringLiteral(
                    "Aufruf: vellumo-table setting DATEI ABSCHNITT SCHLÜSSEL [WERT]"));
                return 2;
            }
            return setting(args);
        }
        if (args.size() != 2) {
            err(QStringLiteral("Aufruf: vellumo-table import TABELLE DATEI"));
            return 2;
        }
        return importFile(args[0], args[1]);
    } catch (const std::exception& e) {
        std::fflush(stdout);
        err(QString::fromUtf8(e.what()));
        return 2;
    }
}

} // namespace vtable
