// The sync's copies of a table: which of them stay as days pass (by their
// dates alone), and on disk the copies a run removes, the one made before
// linking never among them, each copy whole.
#include "addresstables.h"
#include "platform/paradox/table.h"
#include "sync/tablesync.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace vellumo;

class TestBackups : public QObject {
    Q_OBJECT

private slots:
    void whichStay();
    void onDisk();
};

void TestBackups::whichStay() {
    const QDateTime now(QDate(2026, 12, 9), QTime(12, 0));
    auto at = [](int day, int hour) { return QDateTime(QDate(2026, 12, day), QTime(hour, 0)); };
    // Out of order, as a directory lists them.
    const QList<QDateTime> made{at(9, 9),  at(8, 19), at(9, 8),  at(2, 10), at(9, 11), at(8, 7),
                                at(3, 10), at(6, 10), at(9, 10), at(10, 6), at(1, 10), at(3, 12)};
    const QList<bool> expected{false, false, true, false, true,  true,
                               true,  true,  true, true,  false, false};
    QCOMPARE(sync::keptBackups(made, now), expected);
    QCOMPARE(sync::keptBackups({at(1, 1)}, now), QList<bool>{true}); // newest two, however old
    QCOMPARE(sync::keptBackups({}, now), QList<bool>{});
}

void TestBackups::onDisk() {
    QTemporaryDir dir;
    const QString table = dir.filePath(QStringLiteral("ADRESSEN.db"));
    testsupport::makeAddressTable(table, testsupport::numberedAddresses(3));
    const QDateTime start(QDate(2026, 12, 1), QTime(9, 0));
    const QString linked = sync::backupTable(table, start, sync::BackupKind::BeforeLink);
    QCOMPARE(QFileInfo(linked).fileName(),
             QStringLiteral("ADRESSEN-Sicherung-vor-Verbinden-20261201-090000.db"));
    // Three runs a day for ten days, two of them in the same second.
    QStringList made;
    for (int day = 0; day < 10; ++day)
        for (const QTime time : {QTime(8, 0), QTime(8, 0), QTime(18, 30)})
            made << QFileInfo(sync::backupTable(table, {start.date().addDays(day), time}))
                        .completeBaseName();
    QCOMPARE(made[1], QStringLiteral("ADRESSEN-Sicherung-20261201-080000-2"));
    const QStringList left =
        QDir(dir.path())
            .entryList({QStringLiteral("ADRESSEN-Sicherung-*.db")}, QDir::Files, QDir::Name);
    QCOMPARE(left, QStringList({QStringLiteral("ADRESSEN-Sicherung-20261204-080000.db"),
                                QStringLiteral("ADRESSEN-Sicherung-20261205-080000.db"),
                                QStringLiteral("ADRESSEN-Sicherung-20261206-080000.db"),
                                QStringLiteral("ADRESSEN-Sicherung-20261207-080000.db"),
                                QStringLiteral("ADRESSEN-Sicherung-20261208-080000.db"),
                                QStringLiteral("ADRESSEN-Sicherung-20261209-080000.db"),
                                QStringLiteral("ADRESSEN-Sicherung-20261210-080000-2.db"),
                                QStringLiteral("ADRESSEN-Sicherung-20261210-080000.db"),
                                QStringLiteral("ADRESSEN-Sicherung-20261210-183000.db"),
                                QStringLiteral("ADRESSEN-Sicherung-vor-Verbinden-20261201-"
                                               "090000.db")}));
    // No companion of a removed copy stays; every copy left opens whole.
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("*20261203*")}, QDir::Files),
             QStringList());
    for (const QString& copy : left)
        QCOMPARE(px::Table::open(dir.filePath(copy).toStdString(), px::Access::Read)->recordCount(),
                 3u);

    // A table linked by an earlier version, with no copy named for the link:
    // its oldest copy is the one from then, and stays.
    QVERIFY(QFile::remove(linked));
    sync::backupTable(table, start.addDays(30));
    QVERIFY(
        QFileInfo::exists(dir.filePath(QStringLiteral("ADRESSEN-Sicherung-20261204-080000.db"))));
    QVERIFY(
        !QFileInfo::exists(dir.filePath(QStringLiteral("ADRESSEN-Sicherung-20261205-080000.db"))));
}

QTEST_GUILESS_MAIN(TestBackups)
#include "tst_backups.moc"
