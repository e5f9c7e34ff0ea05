// vellumo-table: look into any Paradox table from the command line.
//
//   vellumo-table info FILE    header facts and the fields
//   vellumo-table dump FILE    every record in key order as CSV (UTF-8)
//   vellumo-table check FILE   exit 0 when sound, 1 with the list of problems
//   vellumo-table compact TABLE   the .mb rewritten without its free space
//   vellumo-table export --vcard|--csv|--csv-tabelle TABLE [FILE]   addresses out (stdout
//                                                     without FILE); exit 1 when a
//                                                     picture could not go with them
//   vellumo-table import TABLE FILE                   addresses in; exit 1 when some were
//                                                     refused, 2 when the table failed to write
//   vellumo-table print --list [--heading TEXT] [--lines] TABLE FILE.pdf   the address list as PDF
//   vellumo-table print --labels PART [--start N] [--household] TABLE FILE.pdf   labels as PDF
//   vellumo-table birthdays [--days N] [--ics] TABLE [FILE]   coming birthdays, or a calendar
//   vellumo-table search TABLE TEXT…                  what the quick search finds, best first,
//                                                     as dump prints it; exit 1 when nothing
//   vellumo-table duplicates TABLE                    the likely duplicate pairs, best first:
//                                                     both keys and the score, tab-separated
//   vellumo-table sync [--link URL --user NAME] TABLE   both ways with a CardDAV address book
//   vellumo-table sync --unlink TABLE                 the table forgets its book
//   vellumo-table create TABLE                        a new, empty address table
//   vellumo-table setting FILE SECTION KEY [VALUE]    one value of a settings file, read or written
//
// Only import, sync, create and compact change a table; the other commands open it for reading.
// Errors go to standard error with exit code 2.
#include "compactcommand.h"
#include "format.h"
#ifdef VELLUMO_TABLE_EXCHANGE
#include "birthdaycommand.h"
#include "duplicatescommand.h"
#include "exchangecommands.h"
#include "printcommand.h"
#include "searchcommand.h"
#include "synccommand.h"
#endif

#include "platform/paradox/table.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace {

// What a command prints is gathered first and written once the table is let
// go: a reader that waited on a slow pipe (dump | less) would hold up every
// save of a program that has the table open.
std::string output;

void out(const std::string& line) {
    output += line;
    output += '\n';
}

int info(px::Table& table, const std::string& path) {
    const px::TableInfo& i = table.info();
    char sort[64];
    std::snprintf(sort, sizeof sort, "0x%02X %s", static_cast<unsigned>(i.sortOrderId),
                  i.sortOrderName.c_str());
    out("Datei:           " + path);
    out("Stufe:           " + i.levelName + " (Dateiversion " + std::to_string(i.fileVersion) +
        ")");
    out("Codepage:        " + std::to_string(i.codePage));
    out("Sortierfolge:    " + std::string(sort));
    out("Blockgröße:      " + std::to_string(i.blockSize) + " Bytes");
    out("Datensätze:      " + std::to_string(table.recordCount()));
    out("Schlüsselfelder: " + std::to_string(i.keyFieldCount));
    out("Indexstufen:     " + std::to_string(i.indexLevels));
    out("Felder:          " + std::to_string(i.fields.size()));
    for (std::size_t n = 0; n < i.fields.size(); ++n) {
        const px::FieldDef& f = i.fields[n];
        char line[160];
        std::snprintf(line, sizeof line, "  %3zu  %-26s %-18s %d%s", n + 1, f.name.c_str(),
                      vtable::fieldKindName(f.type).c_str(), f.size,
                      f.type == px::FieldType::BCD ? " Nachkommastellen" : "");
        out(line);
    }
    return 0;
}

int dump(px::Table& table) {
    const auto& fields = table.info().fields;
    std::vector<std::string> cells;
    for (const auto& f : fields)
        cells.push_back(f.name);
    out(vtable::csvLine(cells));
    const std::uint32_t count = table.recordCount();
    for (std::uint32_t pos = 0; pos < count; ++pos) {
        // A picture shows as its length: no need to read it.
        const px::Record record = table.read(pos, px::Blobs::Refer);
        cells.clear();
        for (std::size_t n = 0; n < fields.size(); ++n)
            cells.push_back(n < record.size() ? vtable::formatValue(fields[n].type, record[n])
                                              : std::string());
        out(vtable::csvLine(cells));
    }
    return 0;
}

int check(px::Table& table) {
    px::Table::CheckResult result = table.check();
    if (result.problems.empty()) {
        // The structure is sound; a record whose contents cannot be read (a memo
        // pointing nowhere, text that does not decode) is still a problem.
        const std::uint32_t count = table.recordCount();
        for (std::uint32_t pos = 0; pos < count; ++pos) {
            try {
                table.read(pos);
            } catch (const px::Error& e) {
                result.problems.push_back("Datensatz " + std::to_string(pos + 1) + ": " + e.what());
                if (result.problems.size() >= 100)
                    break;
            }
        }
    }
    for (const auto& w : result.warnings)
        out("Warnung: " + w);
    for (const auto& p : result.problems)
        out("Fehler: " + p);
    if (result.problems.empty()) {
        out("In Ordnung.");
        return 0;
    }
    return 1;
}

int usage() {
    std::fprintf(stderr, "Aufruf: vellumo-table info|dump|check DATEI\n"
                         "        vellumo-table compact TABELLE\n");
#ifdef VELLUMO_TABLE_EXCHANGE
    std::fprintf(stderr,
                 "        vellumo-table export --vcard|--csv|--csv-tabelle TABELLE [DATEI]\n"
                 "        vellumo-table import TABELLE DATEI\n"
                 "        vellumo-table print --list [--heading TEXT] [--lines] TABELLE "
                 "DATEI.pdf\n"
                 "        vellumo-table print --labels BOGEN [--start N] [--household] TABELLE "
                 "DATEI.pdf\n"
                 "        vellumo-table birthdays [--days N] [--ics] TABELLE [DATEI]\n"
                 "        vellumo-table search TABELLE TEXT ...\n"
                 "        vellumo-table duplicates TABELLE\n"
                 "        vellumo-table sync [--link URL --user NAME] TABELLE\n"
                 "        vellumo-table sync --unlink TABELLE\n"
                 "        vellumo-table create TABELLE\n"
                 "        vellumo-table setting DATEI ABSCHNITT SCHLÜSSEL [WERT]\n");
#endif
    return 2;
}

} // namespace

int main(int argc, char** argv) {
#ifdef VELLUMO_TABLE_EXCHANGE
    if (argc >= 2 && vtable::isExchangeCommand(argv[1]))
        return vtable::exchangeCommand(argc, argv);
    if (argc >= 2 && std::string(argv[1]) == "birthdays")
        return vtable::birthdayCommand(argc, argv);
    if (argc >= 2 && std::string(argv[1]) == "search")
        return vtable::searchCommand(argc, argv);
    if (argc >= 2 && std::string(argv[1]) == "duplicates")
        return vtable::duplicatesCommand(argc, argv);
    if (argc >= 2 && std::string(argv[1]) == "print")
        return vtable::printCommand(argc, argv);
    if (argc >= 2 && std::string(argv[1]) == "sync")
        return vtable::syncCommand(argc, argv);
#endif
    if (argc != 3)
        return usage();
    const std::string command = argv[1];
    const std::string path = px::tableFileName(argv[2]);
    if (command == "compact")
        return vtable::compactCommand(path);
    if (command != "info" && command != "dump" && command != "check")
        return usage();
    try {
        // check lists what is wrong with a table the others refuse as damaged.
        auto table = command == "check" ? px::Table::openForCheck(path)
                                        : px::Table::open(path, px::Access::Read);
        int rc = 0;
        {
            // One state of the table throughout, however many commits
            // another program makes meanwhile.
            const auto steady = table->holdSteady();
            if (command == "info")
                rc = info(*table, path);
            else if (command == "dump")
                rc = dump(*table);
            else
                rc = check(*table);
        }
        table.reset();
        if (std::fwrite(output.data(), 1, output.size(), stdout) != output.size() ||
            std::fflush(stdout) != 0) {
            std::fprintf(stderr, "vellumo-table: Ausgabe fehlgeschlagen: %s\n",
                         px::systemErrorText(errno).c_str());
            return 2;
        }
        return rc;
    } catch (const std::exception& e) {
        std::fwrite(output.data(), 1, output.size(), stdout);
        std::fflush(stdout);
        std::fprintf(stderr, "vellumo-table: %s: %s\n", path.c_str(), e.what());
        return 2;
    }
}
