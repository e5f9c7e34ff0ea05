// search of vellumo-table: what the program's quick search finds, best first,
// printed as dump prints records (CSV in UTF-8, every column, a header line).
//
// Read-only: the table is held steady while it is read, so another program's
// commits wait until the matches are printed.
#include "searchcommand.h"

#include "format.h"
#include "qtcommand.h"

#include "platform/database/recordstore.h"
#include "platform/paradox/table.h"
#include "search/index.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <cstdio>
#include <exception>
#include <limits>
#include <string>
#include <vector>

namespace vtable {

namespace {

int run(const QString& tableName, const QString& text) {
    const QString path = tableFile(tableName);
    auto table = px::Table::open(QFile::encodeName(path).toStdString(), px::Access::Read);
    const auto steady = table->holdSteady();
    vellumo::RecordStore store;
    store.BindTable(path);
    store.OpenTableReadOnly();
    const search::Index index(store);
    const search::Matches matches =
        index.find(search::Query::parse(text), std::numeric_limits<int>::max());

    const auto& fields = table->info().fields;
    std::vector<std::string> cells;
    for (const auto& f : fields)
        cells.push_back(f.name);
    std::string out = csvLine(cells);
    out += '\n';
    for (const search::Match& match : matches.best) {
        const px::Record record =
            table->read(static_cast<std::uint32_t>(match.position), px::Blobs::Refer);
        cells.clear();
        for (std::size_t n = 0; n < fields.size(); ++n)
            cells.push_back(n < record.size() ? formatValue(fields[n].type, record[n])
                                              : std::string());
        out += csvLine(cells);
        out += '\n';
    }
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0)
        throw vellumo::StoreError(QStringLiteral("Ausgabe fehlgeschlagen"));
    return matches.best.empty() ? 1 : 0;
}

} // namespace

int searchCommand(int argc, char** argv) {
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    if (argc < 4) {
        err(QStringLiteral("Aufruf: vellumo-table search TABELLE TEXT …"));
        return 2;
    }
    const QString tableName = QString::fromLocal8Bit(argv[2]);
    QStringList words;
    for (int i = 3; i < argc; ++i)
        words << QString::fromLocal8Bit(argv[i]);
    if (search::Query::parse(words.join(u' ')).isEmpty()) {
        err(QStringLiteral("Der Suchtext enthält kein Wort und keine Ziffer."));
        return 2;
    }
    try {
        return run(tableName, words.join(u' '));
    } catch (const std::exception& e) {
        err(tableName + QStringLiteral(": ") + QString::fromUtf8(e.what()));
        return 2;
    }
}

} // namespace vtable
