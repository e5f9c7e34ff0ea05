// birthdays of vellumo-table: the list of the coming birthdays as the
// program's window shows it, or every birthday as an iCalendar file.
//
// Read-only like export: it never waits for or disturbs a program that has
// the table open.
#include "birthdaycommand.h"

#include "qtcommand.h"

#include "address/addresstable.h"
#include "aids/birthdaycalendar.h"
#include "aids/birthdays.h"
#include "platform/database/enginedate.h"
#include "platform/database/recordstore.h"
#include "platform/paradox/table.h"
#include "platform/system/system.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <exception>

namespace vtable {

namespace {

namespace aids = vellumo::aids;

int column(px::Table& table, const char* name) {
    const int found = table.fieldIndex(name);
    if (found < 0)
        throw vellumo::StoreError(
            QStringLiteral("Feld '%1' nicht gefunden").arg(QString::fromLatin1(name)));
    return found;
}

void writeOut(const QString& path, const QByteArray& bytes) {
    if (path.isEmpty()) {
        if (std::fwrite(bytes.data(), 1, static_cast<std::size_t>(bytes.size()), stdout) !=
                static_cast<std::size_t>(bytes.size()) ||
            std::fflush(stdout) != 0)
            throw vellumo::StoreError(QStringLiteral("Schreiben fehlgeschlagen"));
        return;
    }
    QString error;
    if (!vellumo::writeFileSafely(path, bytes, &error))
        throw vellumo::StoreError(error);
}

int run(bool calendar, int days, const QString& tablePath, const QString& outPath) {
    auto table =
        px::Table::open(QFile::encodeName(tableFile(tablePath)).toStdString(), px::Access::Read);
    const int born = column(*table, "Geburtstag");
    const int name = column(*table, "Name");
    const int firstName = column(*table, "Vorname");
    const QDate today = vellumo::now().date();
    QByteArray out;
    if (calendar) {
        // Each entry is named by its record's UID, as in the program's export.
        const int uid = table->fieldIndex("UID");
        const int created = table->fieldIndex("Erstellt");
        std::vector<aids::BirthdayPerson> people;
        table->scanField(born, [&](std::uint32_t position, const px::Value& value) {
            const QDate date = vellumo::fromEngineValue(value);
            if (!date.isValid())
                return true;
            aids::BirthdayPerson person{textOf(table->readField(position, name)),
                                        textOf(table->readField(position, firstName)), date,
                                        QString()};
            person.uid = vellumo::recordUid(
                uid >= 0 ? textOf(table->readField(position, uid)) : QString(), person.name,
                person.firstName,
                created >= 0 ? vellumo::fromEngineValue(table->readField(position, created))
                             : QDate());
            people.push_back(std::move(person));
            return true;
        });
        aids::CalendarOptions options;
        options.stamp = vellumo::now();
        out = aids::birthdayCalendar(people, options);
    } else {
        aids::DueCollector collector(today, days, aids::LeapDayRule::February28);
        table->scanField(born, [&](std::uint32_t position, const px::Value& value) {
            collector.add(static_cast<int>(position), vellumo::fromEngineValue(value));
            return true;
        });
        for (const aids::DueBirthday& due : collector.take()) {
            const auto position = static_cast<std::uint32_t>(due.position);
            const QStringList cells{
                aids::dayText(due.date, today), vellumo::formatGermanDate(due.date),
                textOf(table->readField(position, name)),
                textOf(table->readField(position, firstName)), aids::ageText(due.age)};
            out += (cells.join(u'\t') + u'\n').toUtf8();
        }
    }
    writeOut(outPath, out);
    return 0;
}

} // namespace

int birthdayCommand(int argc, char** argv) {
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    const QString usage =
        QStringLiteral("Aufruf: vellumo-table birthdays [--days N] [--ics] TABELLE [DATEI]");
    bool calendar = false;
    int days = 14;
    QStringList files;
    for (int i = 2; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == u"--ics") {
            calendar = true;
        } else if (arg == u"--days" && i + 1 < argc) {
            bool ok = false;
            days = QString::fromLocal8Bit(argv[++i]).toInt(&ok);
            if (!ok || days < 0 || days > aids::kMaxListDays) {
                err(QStringLiteral("--days erwartet eine Zahl von 0 bis %1")
                        .arg(aids::kMaxListDays));
                return 2;
            }
        } else if (arg.startsWith(u"--")) {
            err(usage);
            return 2;
        } else {
            files << arg;
        }
    }
    if (files.isEmpty() || files.size() > 2) {
        err(usage);
        return 2;
    }
    try {
        return run(calendar, days, files[0], files.value(1));
    } catch (const std::exception& e) {
        std::fflush(stdout);
        err(files[0] + QStringLiteral(": ") + QString::fromUtf8(e.what()));
        return 2;
    }
}

} // namespace vtable
