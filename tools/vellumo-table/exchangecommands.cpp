// export and import of vellumo-table: addresses as vCard or CSV.
//
// The only part of the tool that links Qt (Core and Gui, for the PNG of the
// picture); info, dump and check stay with the engine alone.
#include "exchangecommands.h"

#include "data/exchange.h"
#include "platform/database/recordstore.h"
#include "platform/paradox/table.h"
#include "platform/pictures/limits.h"
#include "platform/system/system.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <exception>

namespace vtable {

namespace {

namespace ex = vellumo::exchange;

constexpr qint64 kJulianDayOfDayZero = 1721425; // engine day 1 = 1 January 0001

void err(const QString& text) {
    const QByteArray bytes = (QStringLiteral("vellumo-table: ") + text + u'\n').toUtf8();
    std::fwrite(bytes.data(), 1, static_cast<std::size_t>(bytes.size()), stderr);
}

void say(const QString& text) {
    const QByteArray bytes = (text + u'\n').toUtf8();
    std::fwrite(bytes.data(), 1, static_cast<std::size_t>(bytes.size()), stdout);
}

QVariant variantOf(const px::Value& value, bool memo) {
    if (const auto* text = std::get_if<std::string>(&value)) {
        QString s = QString::fromStdString(*text);
        if (memo)
            s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        return s;
    }
    if (const auto* date = std::get_if<px::Date>(&value))
        return date->day > 0 ? QDate::fromJulianDay(date->day + kJulianDayOfDayZero) : QDate();
    if (const auto* bytes = std::get_if<px::Bytes>(&value))
        return QByteArray(reinterpret_cast<const char*>(bytes->data()),
                          static_cast<qsizetype>(bytes->size()));
    return QVariant();
}

// Read-only, like dump: exporting never waits for or disturbs a program
// that has the table open.
int exportTable(ex::Format format, const QString& tablePath, const QString& outPath) {
    auto table = px::Table::open(QFile::encodeName(tablePath).toStdString(), px::Access::Read);
    const QStringList& names = ex::addressFieldNames();
    std::vector<int> columns;
    for (const QString& name : names) {
        const int column = table->fieldIndex(name.toStdString());
        if (column < 0)
            throw vellumo::StoreError(QStringLiteral("Feld '%1' nicht gefunden").arg(name));
        columns.push_back(column);
    }

    // One state of the table, gathered before anything is written: a slow
    // target must not hold up the saves of a program that has it open.
    QByteArray buffer;
    if (format == ex::Format::Csv)
        buffer += ex::csvHeader();
    auto steady = table->holdSteady();
    const std::uint32_t count = table->recordCount();
    for (std::uint32_t position = 0; position < count; ++position) {
        // CSV has no picture: it is referred to, not read.
        const px::Record record =
            table->read(position, format == ex::Format::Csv ? px::Blobs::Refer : px::Blobs::Read);
        ex::Address address;
        address.origin = static_cast<int>(position) + 1;
        for (qsizetype n = 0; n < names.size(); ++n) {
            const auto column = static_cast<std::size_t>(columns[static_cast<std::size_t>(n)]);
            if (column >= record.size())
                continue;
            const QVariant value = variantOf(record[column], names[n] == u"Memo1");
            if (!value.isNull())
                address.values.insert(names[n], value);
        }
        buffer += format == ex::Format::VCard ? ex::toVCard(address) : ex::toCsvRow(address);
    }
    steady.reset();
    table.reset();
    if (outPath.isEmpty()) {
        QFile standardOut;
        if (!standardOut.open(stdout, QIODevice::WriteOnly, QFileDevice::DontCloseHandle) ||
            standardOut.write(buffer) != buffer.size() || !standardOut.flush())
            throw vellumo::StoreError(
                QStringLiteral("Schreiben fehlgeschlagen: %1").arg(standardOut.errorString()));
        return 0;
    }
    QString error;
    if (!vellumo::writeFileSafely(outPath, buffer, &error))
        throw vellumo::StoreError(error);
    return 0;
}

// Through the record store, like the program: each address is saved on its
// own, stamped as any save, and the table's write lock keeps out a second
// writer (and refuses a table another program is writing).
int importFile(const QString& tablePath, const QString& inPath) {
    QFile in(inPath);
    if (!in.open(QIODevice::ReadOnly))
        throw vellumo::StoreError(
            QStringLiteral("%1 kann nicht gelesen werden: %2").arg(inPath, in.errorString()));
    const QByteArray data = in.readAll();
    const ex::Format format = ex::formatOf(inPath, data);
    const std::vector<ex::Address> addresses =
        format == ex::Format::VCard ? ex::readVCards(data) : ex::readCsv(data);

    vellumo::RecordStore store;
    for (const QString& name : ex::addressFieldNames())
        store.requireField(name);
    store.BeforePost = [&store] {
        store.SetFieldDate(QStringLiteral("Aenderung"), vellumo::now());
    };
    store.BindTable(tablePath);
    store.OpenTable();
    const ex::ImportResult result = ex::importAddresses(store, addresses, format);
    store.CloseTableAtShutdown();
    say(ex::summaryText(result));
    return result.refused > 0 ? 1 : 0;
}

} // namespace

bool isExchangeCommand(const std::string& command) {
    return command == "export" || command == "import";
}

int exchangeCommand(int argc, char** argv) {
    // Image plugins (JPEG, GIF in foreign vCards) are found through the application.
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    // The same decoder limit as the program's: what one shows, the other exports.
    vellumo::pictures::applyDecoderLimit();
    const std::string command = argv[1];
    QStringList args;
    for (int i = 2; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    try {
        if (command == "export") {
            if (args.size() < 2 || args.size() > 3 ||
                (args[0] != u"--vcard" && args[0] != u"--csv")) {
                err(QStringLiteral("Aufruf: vellumo-table export --vcard|--csv TABELLE [DATEI]"));
                return 2;
            }
            return exportTable(args[0] == u"--vcard" ? ex::Format::VCard : ex::Format::Csv, args[1],
                               args.value(2));
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
