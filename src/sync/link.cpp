#include "sync/link.h"

#include "platform/carddav/syncstate.h"
#include "platform/paradox/error.h"
#include "platform/paradox/restructure.h"
#include "platform/paradox/table.h"
#include "sync/tablesync.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

namespace vellumo::sync {

using carddav::DavError;
using carddav::SyncState;

namespace {

const QString kUid = QStringLiteral("UID");

std::string path8(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// The sync state names book from now on; what it knew of another book goes.
void writeState(const QString& tablePath, const QUrl& book) {
    const QString statePath = SyncState::pathFor(tablePath);
    try {
        if (QFileInfo::exists(statePath) && SyncState(statePath).book() != book)
            QFile::remove(statePath);
        SyncState(statePath).commit(book, {}, {}, QString());
    } catch (const carddav::SyncStateError& e) {
        throw SyncError(QString::fromStdString(e.what()));
    }
}

// "…/anna/3f2a…/" → "3f2a…": what tells two books of one name apart.
QString lastSegment(const QUrl& url) {
    const QStringList parts = url.path().split(u'/', Qt::SkipEmptyParts);
    return parts.isEmpty() ? url.toDisplayString() : parts.last();
}

} // namespace

QUrl findBook(carddav::CardDavClient& client) {
    try {
        const QList<carddav::AddressBook> books = client.discover();
        if (books.size() <= 1)
            return books.isEmpty() ? QUrl() : books[0].url;
        QStringList names;
        for (const carddav::AddressBook& b : books)
            names << QStringLiteral("%1 (%2)").arg(b.displayName, b.url.toDisplayString());
        throw SyncError(QStringLiteral("Auf dem Server gibt es mehrere Adressbücher: %1. Bitte "
                                       "geben Sie die Adresse des gewünschten an.")
                            .arg(names.join(QStringLiteral(", "))));
    } catch (const DavError& e) {
        throw SyncError(e.message());
    }
}

QString prepareTable(const QString& tablePath, const QDateTime& now) {
    QString backup;
    try {
        bool hasUid = false;
        {
            auto table = px::Table::open(path8(tablePath), px::Access::Read);
            hasUid = table->fieldIndex(kUid.toStdString()) >= 0;
        }
        if (!hasUid) {
            // Refused before the backup, so a refusal leaves nothing behind.
            const std::string lost = px::lostByRebuild(path8(tablePath));
            if (!lost.empty())
                throw SyncError(
                    QStringLiteral("Die Tabelle %1 wird nicht verbunden: Sekundärindizes und "
                                   "Gültigkeitsprüfungen (%2) gingen beim Anfügen des Feldes "
                                   "„UID“ verloren. Sie bleibt unverändert.")
                        .arg(shown(tablePath), QString::fromStdString(lost)));
            backup = backupTable(tablePath, now, BackupKind::BeforeLink);
            px::appendFields(path8(tablePath), {{"UID", px::FieldType::Alpha, 36}});
        }
    } catch (const px::Error& e) {
        throw SyncError(QStringLiteral("Die Tabelle %1 kann nicht verbunden werden: %2")
                            .arg(shown(tablePath), QString::fromStdString(e.what())));
    }
    return backup;
}

QString linkTable(const QString& tablePath, const QUrl& book, const QDateTime& now) {
    const QString backup = prepareTable(tablePath, now);
    writeState(tablePath, book);
    return backup;
}

LinkOutcome linkToBook(const QString& tablePath, carddav::CardDavClient& client, const QUrl& book,
                       const QString& newBookName, const QString& user, const QDateTime& now) {
    LinkOutcome outcome;
    outcome.backup = prepareTable(tablePath, now);
    QUrl target = book.adjusted(QUrl::RemoveUserInfo);
    try {
        if (target.isEmpty()) {
            const QString name =
                newBookName.trimmed().isEmpty() ? QStringLiteral("Vellumo") : newBookName.trimmed();
            for (const carddav::AddressBook& b : client.discover())
                if (target.isEmpty() && b.displayName == name && client.listAll(b.url).isEmpty()) {
                    target = b.url;
                    outcome.reused = true;
                }
            if (target.isEmpty()) {
                target = client.createAddressBook(name);
                outcome.made = true;
            }
        }
    } catch (const DavError& e) {
        throw SyncError(e.message());
    }
    QUrl linked = target;
    linked.setUserName(user);
    try {
        writeState(tablePath, linked);
    } catch (...) {
        if (outcome.made) {
            try {
                client.remove(target.toString(), QString());
            } catch (const DavError&) {
                // Left empty; the next try finds it by its name and takes it.
            }
        }
        throw;
    }
    outcome.book = linked;
    return outcome;
}

std::optional<QUrl> unlinkTable(const QString& tablePath) {
    const QString statePath = SyncState::pathFor(tablePath);
    if (!QFileInfo::exists(statePath))
        return std::nullopt;
    // A state that cannot be read is forgotten all the same: this is the way out.
    QUrl book;
    try {
        book = SyncState(statePath).book();
    } catch (const carddav::SyncStateError&) {
    }
    std::unique_ptr<px::Table> lock; // no sync run between here and the end
    try {
        lock = px::Table::open(path8(tablePath), px::Access::Write);
    } catch (const px::Error& e) {
        throw SyncError(QStringLiteral("Die Verknüpfung der Tabelle %1 bleibt: %2")
                            .arg(shown(tablePath), QString::fromStdString(e.what())));
    }
    for (const QString& file :
         {statePath, statePath + QStringLiteral("-journal"), statePath + QStringLiteral("-wal"),
          statePath + QStringLiteral("-shm")})
        if (QFileInfo::exists(file) && !QFile::remove(file))
            throw SyncError(QStringLiteral("Die Datei %1 kann nicht gelöscht werden; die "
                                           "Verknüpfung bleibt.")
                                .arg(shown(file)));
    return book;
}

QList<BookChoice> booksToChoose(carddav::CardDavClient& client, const QUrl& linked,
                                const QSet<QString>& tableUids) {
    QList<BookChoice> books;
    const QUrl linkedBook = linked.adjusted(QUrl::RemoveUserInfo);
    try {
        for (const carddav::AddressBook& b : client.discover()) {
            BookChoice choice{b.url, b.displayName, -1, false, {}};
            const QList<carddav::CardRef> cards = client.listAll(b.url);
            choice.cards = static_cast<int>(cards.size());
            choice.holdsTable = b.url == linkedBook;
            // Cards this program wrote are named by their UID.
            for (const carddav::CardRef& card : cards) {
                if (choice.holdsTable)
                    break;
                QString name = card.href.section(u'/', -1);
                if (name.endsWith(QStringLiteral(".vcf")))
                    name.chop(4);
                choice.holdsTable = tableUids.contains(QUrl::fromPercentEncoding(name.toUtf8()));
            }
            books.append(choice);
        }
    } catch (const DavError& e) {
        throw SyncError(e.message());
    }
    labelBooks(books);
    return books;
}

void labelBooks(QList<BookChoice>& books) {
    QHash<QString, int> named;
    for (const BookChoice& b : std::as_const(books))
        ++named[b.displayName];
    for (BookChoice& b : books) {
        QString label = b.displayName.isEmpty() ? b.url.path() : b.displayName;
        QStringList about;
        if (b.cards >= 0)
            about << (b.cards == 1 ? QStringLiteral("1 Adresse")
                                   : QStringLiteral("%1 Adressen").arg(b.cards));
        if (!b.displayName.isEmpty() && named.value(b.displayName) > 1)
            about << lastSegment(b.url);
        if (!about.isEmpty())
            label += QStringLiteral(" (%1)").arg(about.join(QStringLiteral(", ")));
        if (b.holdsTable)
            label += QStringLiteral(" – enthält die Adressen dieser Tabelle");
        b.label = label;
    }
}

} // namespace vellumo::sync
