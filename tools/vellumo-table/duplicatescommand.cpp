// duplicates of vellumo-table: what "Doppelte Adressen" lists, one pair a
// line: the key fields of one record (Name;Vorname;Strasse;PLZ;Ort as
// stored), a tab, the other's, a tab, the score 0-100; best first. Pairs the
// user marked as no duplicates are left out, as in the program.
//
// Read-only: the table is held steady while it is read.
#include "duplicatescommand.h"

#include "qtcommand.h"

#include "duplicates/dismissed.h"
#include "duplicates/finder.h"
#include "platform/database/recordstore.h"

#include <QCoreApplication>

#include <exception>

namespace vtable {

namespace {

int run(const QString& tableName) {
    const QString path = tableFile(tableName);
    vellumo::RecordStore store;
    store.BindTable(path);
    store.OpenTableReadOnly();
    std::vector<duplicates::Person> persons;
    {
        const auto steady = store.holdSteady();
        persons = duplicates::readPersons(store);
    }
    duplicates::Dismissed dismissed;
    QString error;
    if (!dismissed.load(store.tableFileName(), &error)) {
        err(error);
        return 2;
    }
    QString out;
    for (const duplicates::Pair& pair :
         dismissed.without(duplicates::findPairs(persons), persons)) {
        out += duplicates::keyText(persons[static_cast<std::size_t>(pair.first)]) + u'\t' +
               duplicates::keyText(persons[static_cast<std::size_t>(pair.second)]) + u'\t' +
               QString::number(pair.likeness.score) + u'\n';
    }
    print(stdout, out);
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        throw vellumo::StoreError(QStringLiteral("Ausgabe fehlgeschlagen"));
    return 0;
}

} // namespace

int duplicatesCommand(int argc, char** argv) {
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    if (argc != 3) {
        err(QStringLiteral("Aufruf: vellumo-table duplicates TABELLE"));
        return 2;
    }
    const QString tableName = QString::fromLocal8Bit(argv[2]);
    try {
        return run(tableName);
    } catch (const std::exception& e) {
        err(tableName + QStringLiteral(": ") + QString::fromUtf8(e.what()));
        return 2;
    }
}

} // namespace vtable
