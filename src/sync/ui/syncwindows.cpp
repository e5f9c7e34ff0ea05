#include "sync/ui/syncwindows.h"

#include "platform/carddav/keyring.h"
#include "platform/carddav/syncstate.h"
#include "platform/database/recordstore.h"
#include "platform/settings/profile.h"
#include "platform/ui/messages.h"
#include "sync/link.h"
#include "sync/tablesync.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QHostAddress>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vellumo::sync::ui {

namespace {

const QString kTitle = QStringLiteral("Synchronisation");
const QString kSection = QStringLiteral("Synchronisation");
const QString kAtOpenAndClose = QStringLiteral("BeimOeffnenUndSchliessen");
const QString kNoBooks =
    QStringLiteral("Keine Adressbücher gefunden – beim Verknüpfen wird eines angelegt.");

bool syncAtOpenAndClose() {
    return ReadSettingNumber(setupIniPath(), kSection, kAtOpenAndClose, 0) != 0;
}

// Passwords asked for where there is no keyring: kept for the run only.
QHash<QString, QString>& askedPasswords() {
    static QHash<QString, QString> passwords;
    return passwords;
}

QString accountKey(const QUrl& server, const QString& user) {
    return server.adjusted(QUrl::RemovePath | QUrl::RemoveUserInfo).toString() + u'|' + user;
}

// The wait cursor while something is asked of the keyring or the server
// (the windows keep repainting meanwhile).
class Busy {
public:
    Busy() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~Busy() { QApplication::restoreOverrideCursor(); }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;
};

// An information box whose second, smaller line is what a library said.
void showWithDetail(const QString& text, const QString& detail, QWidget* parent) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("Information"), text,
                    QMessageBox::NoButton, parent);
    if (!detail.isEmpty())
        box.setInformativeText(QStringLiteral("Einzelheiten: %1").arg(detail));
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
}

// The password of the account: from earlier in this run, from the keyring,
// or asked for. False when the user cancelled.
bool passwordFor(const QUrl& book, QString& password, QWidget* parent) {
    const QUrl server = book.adjusted(QUrl::RemoveUserInfo);
    const QString user = book.userName();
    if (user.isEmpty())
        return true;
    const QString key = accountKey(server, user);
    if (askedPasswords().contains(key)) {
        password = askedPasswords().value(key);
        return true;
    }
    std::optional<QString> stored;
    {
        Busy busy;
        stored = carddav::keyring::lookup(server, user);
    }
    if (stored) {
        password = *stored;
        return true;
    }
    bool ok = false;
    password = QInputDialog::getText(
        parent, kTitle, QStringLiteral("Passwort für „%1“ auf %2:").arg(user, server.host()),
        QLineEdit::Password, QString(), &ok);
    if (ok)
        askedPasswords().insert(key, password);
    return ok;
}

// Kept for this run in any case; in the keyring too where it can be. A
// keyring that cannot take it (none, locked, refused) is said once and the
// link goes on.
void keepPassword(const QUrl& server, const QString& user, const QString& password,
                  QWidget* parent) {
    if (user.isEmpty())
        return;
    askedPasswords().insert(accountKey(server, user), password);
    if (password.isEmpty()) // a server that asks for none
        return;
    try {
        Busy busy;
        carddav::keyring::store(server, user, password);
    } catch (const carddav::KeyringError& e) {
        showWithDetail(QStringLiteral("Der Schlüsselbund kann das Passwort nicht speichern; "
                                      "Vellumo behält es bis zum Ende dieses Programmlaufs und "
                                      "fragt beim nächsten Start wieder danach."),
                       e.detail(), parent);
    }
}

// A bare host name means https.
QUrl serverUrl(const QString& typed) {
    const QString text = typed.trimmed();
    const QUrl url = QUrl::fromUserInput(
        text.contains(QStringLiteral("://")) ? text : QStringLiteral("https://") + text);
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != QStringLiteral("https") && url.scheme() != QStringLiteral("http")))
        throw std::runtime_error("Bitte geben Sie die Adresse des Servers ein (https://…)");
    return url;
}

bool isLoopback(const QUrl& url) {
    const QString host = url.host();
    return host == QStringLiteral("localhost") || QHostAddress(host).isLoopback();
}

QString bookName(const QUrl& book) {
    return book.adjusted(QUrl::RemoveUserInfo).toDisplayString();
}

// What finds the current record again once the table is open after a sync:
// its UID (a sync never changes it; a record without one gets it in the run)
// and the values of its key fields. Positions move whenever the sync adds or
// removes a record before it.
struct RecordMark {
    QString uid;
    QStringList key;
    int number = 0; // where it was, for a record the sync removed
};

RecordMark markCurrent(const RecordStore& store) {
    RecordMark mark;
    mark.number = store.RecordNumber();
    if (mark.number == 0)
        return mark;
    if (store.fieldIndex(QStringLiteral("UID")) >= 0)
        mark.uid = store.fieldText(QStringLiteral("UID"));
    const std::vector<FieldInfo>& fields = store.fields();
    for (int i = 0; i < store.keyFieldCount() && i < static_cast<int>(fields.size()); ++i)
        mark.key << store.fieldText(fields[static_cast<std::size_t>(i)].name);
    return mark;
}

void returnTo(RecordStore& store, const RecordMark& mark) {
    int found = -1;
    if (!mark.uid.isEmpty() && store.fieldIndex(QStringLiteral("UID")) >= 0)
        store.scanStored(QStringLiteral("UID"), [&](int position, const QVariant& value) {
            if (value.toString() == mark.uid)
                found = position;
            return found < 0;
        });
    if (found < 0 && !mark.key.isEmpty())
        store.scanStoredTexts([&](int position, const QStringList& texts) {
            if (texts.mid(0, mark.key.size()) == mark.key)
                found = position;
            return found < 0;
        });
    if (found >= 0)
        store.moveToStored(found);
    else if (mark.number > 1)
        store.StepBy(mark.number - 1);
}

// Runs work with the table closed, then opens it again on the record that
// was current; the record being edited is saved first.
template <class Work> void withTableClosed(RecordStore& store, Work work) {
    if (store.HasUnsavedChanges())
        store.SaveRecord();
    else
        store.DiscardChanges();
    const RecordMark mark = markCurrent(store);
    store.CloseTableAtShutdown(); // nothing left to save, no date to stamp
    auto reopen = [&] {
        store.OpenTable();
        returnTo(store, mark);
    };
    try {
        work();
    } catch (...) {
        reopen();
        throw;
    }
    reopen();
}

// Asked for by the user (the menu item): the report is always shown. Run on
// its own (after opening, before closing or ending): only when it has
// something for the user (a conflict, a card not taken, a note).
enum class Report { Always, WhenNeeded };

// False when the user cancelled the password; a failure raises SyncError
// with the table as it was.
bool runSync(RecordStore& store, QWidget* parent, Report shown = Report::Always) {
    const QString table = store.tableFileName();
    const QUrl book = sync::linkedBook(table);
    if (book.isEmpty()) {
        showInformation(QStringLiteral("Die Tabelle ist mit keinem Adressbuch verbunden. Bitte "
                                       "verbinden Sie sie unter „Einstellungen › Synchronisation "
                                       "…“."),
                        parent);
        return true;
    }
    sync::SyncOptions options;
    if (!passwordFor(book, options.password, parent))
        return false;
    QProgressDialog progress(parent);
    progress.setWindowTitle(kTitle);
    progress.setCancelButton(nullptr);
    progress.setRange(0, 0);
    progress.setMinimumDuration(0);
    progress.setLabelText(QStringLiteral("Verbindung zum Server …"));
    progress.show();
    QApplication::processEvents();
    options.progress = [&progress](const QString& step) {
        progress.setLabelText(step + QStringLiteral(" …"));
        QApplication::processEvents();
    };
    options.confirm = [&](const QString& question) { return confirmDefaultNo(question, parent); };
    sync::SyncReport report;
    withTableClosed(store, [&] { report = sync::synchronise(table, options); });
    // What the sync changed here is one step of the table's history.
    const QString step = report.stepLabel(); // before the changes are moved
    store.addStep(step, std::move(report.written));
    progress.close();
    if (shown == Report::WhenNeeded && report.conflicts == 0 && report.notTaken == 0 &&
        report.notes.isEmpty() && !report.photoDropped)
        return true;
    QString text = report.text().trimmed();
    if (report.conflicts > 0)
        text += QStringLiteral("\n\nUnter „Bearbeiten › Konflikte …“ wählen Sie, welcher Wert "
                               "gilt.");
    showInformation(text, parent);
    return true;
}

bool syncWanted(const RecordStore& store) {
    return store.IsTableOpen() && syncAtOpenAndClose() &&
           !sync::linkedBook(store.tableFileName()).isEmpty();
}

} // namespace

TFormSynchronisation::TFormSynchronisation(RecordStore& store, QWidget* parent)
    : QDialog(parent), store_(store) {
    setObjectName(QStringLiteral("FormSynchronisation"));
    setWindowTitle(kTitle);
    auto* form = new QFormLayout;
    ServerEdit = new QLineEdit(this);
    ServerEdit->setPlaceholderText(QStringLiteral("https://server.example/ oder Adresse des "
                                                  "Adressbuchs"));
    BenutzerEdit = new QLineEdit(this);
    PasswortEdit = new QLineEdit(this);
    PasswortEdit->setEchoMode(QLineEdit::Password);
    auto* abrufen = new QPushButton(QStringLiteral("Adressbücher &abrufen"), this);
    BuchBox = new QComboBox(this);
    BuchBox->setPlaceholderText(QStringLiteral("(noch nicht abgerufen)"));
    NeuesBuchEdit = new QLineEdit(QStringLiteral("Vellumo"), this);
    Hinweis = new QLabel(this);
    Hinweis->setWordWrap(true);
    form->addRow(QStringLiteral("&Server:"), ServerEdit);
    form->addRow(QStringLiteral("&Benutzer:"), BenutzerEdit);
    form->addRow(QStringLiteral("&Passwort:"), PasswortEdit);
    form->addRow(QString(), abrufen);
    form->addRow(QStringLiteral("A&dressbuch:"), BuchBox);
    form->addRow(QStringLiteral("&Neues Adressbuch:"), NeuesBuchEdit);
    form->addRow(QString(), Hinweis);
    OeffnenSchliessenBox =
        new QCheckBox(QStringLiteral("Auch nach dem Ö&ffnen und vor dem Schließen der Tabelle "
                                     "abgleichen"),
                      this);
    OeffnenSchliessenBox->setChecked(syncAtOpenAndClose());
    form->addRow(QString(), OeffnenSchliessenBox);
    auto* note = new QLabel(QStringLiteral("Das Passwort wird im Schlüsselbund der Sitzung "
                                           "gespeichert, nie in einer Datei."),
                            this);
    note->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(this);
    LoesenButton =
        buttons->addButton(QStringLiteral("Verknüpfung &lösen"), QDialogButtonBox::ResetRole);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Abbrechen"), QDialogButtonBox::RejectRole);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addWidget(buttons);
    const QUrl linked = sync::linkedBook(store.tableFileName());
    if (!linked.isEmpty()) {
        const QUrl book = linked.adjusted(QUrl::RemoveUserInfo);
        ServerEdit->setText(book.toString());
        BenutzerEdit->setText(linked.userName());
        BuchBox->addItem(bookName(book), book);
        BuchBox->setCurrentIndex(0);
        fetchedFor_ = accountKey(book, linked.userName());
    }
    showLinkState();
    // The list is the account's: another server or user, another list.
    connect(ServerEdit, &QLineEdit::textEdited, this, [this] { forgetBooks(); });
    connect(BenutzerEdit, &QLineEdit::textEdited, this, [this] { forgetBooks(); });
    connect(BuchBox, &QComboBox::currentIndexChanged, this, [this] {
        NeuesBuchEdit->setEnabled(BuchBox->currentIndex() >= 0 &&
                                  BuchBox->currentData().toUrl().isEmpty());
    });
    NeuesBuchEdit->setEnabled(false);
    connect(abrufen, &QPushButton::clicked, this, guarded([this] { AbrufenClick(); }));
    connect(LoesenButton, &QPushButton::clicked, this, guarded([this] { LoesenClick(); }));
    connect(buttons, &QDialogButtonBox::accepted, this, guarded([this] { OkClick(); }));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    resize(560, sizeHint().height());
}

void TFormSynchronisation::showLinkState() {
    const QUrl linked = sync::linkedBook(store_.tableFileName());
    LoesenButton->setEnabled(!linked.isEmpty());
    Hinweis->setText(
        linked.isEmpty()
            ? QStringLiteral("Die Tabelle ist mit keinem Adressbuch verbunden.")
            : QStringLiteral("Die Tabelle ist mit %1 verbunden.").arg(bookName(linked)));
}

void TFormSynchronisation::forgetBooks() {
    if (fetchedFor_.isEmpty() && BuchBox->count() == 0)
        return;
    BuchBox->clear();
    fetchedFor_.clear();
    NeuesBuchEdit->setEnabled(false);
    showLinkState();
}

bool TFormSynchronisation::plainHttpAllowed(const QUrl& server) {
    if (server.scheme() != QStringLiteral("http") || isLoopback(server) ||
        plainHttpOk_ == server.host())
        return true;
    if (!confirmDefaultNo(QStringLiteral("Die Verbindung zu %1 ist nicht verschlüsselt (http): "
                                         "Passwort und Adressen gingen lesbar durch das Netz. "
                                         "Trotzdem unverschlüsselt verbinden?")
                              .arg(server.host()),
                          this))
        return false;
    plainHttpOk_ = server.host();
    return true;
}

bool TFormSynchronisation::fetchBooks() {
    const QUrl server = serverUrl(ServerEdit->text());
    const QString user = BenutzerEdit->text().trimmed();
    if (!plainHttpAllowed(server))
        return false;
    QSet<QString> uids;
    if (store_.fieldIndex(QStringLiteral("UID")) >= 0)
        store_.scanStored(QStringLiteral("UID"), [&](int, const QVariant& value) {
            if (!value.toString().isEmpty())
                uids.insert(value.toString());
            return true;
        });
    QList<sync::BookChoice> books;
    {
        Busy busy;
        carddav::CardDavClient client({server, user, PasswortEdit->text()});
        client.allowPlainHttp(plainHttpOk_ == server.host()); // confirmed above
        books = sync::booksToChoose(client, sync::linkedBook(store_.tableFileName()), uids);
    }
    BuchBox->clear();
    int current = 0;
    for (const sync::BookChoice& b : books) {
        if (b.holdsTable)
            current = BuchBox->count();
        BuchBox->addItem(b.label, b.url);
    }
    BuchBox->addItem(QStringLiteral("Neues Adressbuch anlegen"));
    BuchBox->setCurrentIndex(current);
    NeuesBuchEdit->setEnabled(books.isEmpty());
    fetchedFor_ = accountKey(server, user);
    if (books.isEmpty()) {
        Hinweis->setText(kNoBooks);
        showInformation(kNoBooks, this);
    } else {
        Hinweis->setText(books.size() == 1
                             ? QStringLiteral("1 Adressbuch gefunden.")
                             : QStringLiteral("%1 Adressbücher gefunden.").arg(books.size()));
    }
    return true;
}

void TFormSynchronisation::AbrufenClick() {
    fetchBooks();
}

void TFormSynchronisation::OkClick() {
    const QUrl server = serverUrl(ServerEdit->text());
    const QString user = BenutzerEdit->text().trimmed();
    const QString password = PasswortEdit->text();
    if (!plainHttpAllowed(server))
        return;
    if (fetchedFor_ != accountKey(server, user)) {
        // Nothing fetched for this account yet: a book's own address links
        // that book; for a server the user chooses from the list first.
        if (!fetchBooks())
            return;
        const QUrl only = BuchBox->count() == 2 ? BuchBox->itemData(0).toUrl() : QUrl();
        if (only.isEmpty() || only != server.adjusted(QUrl::RemoveUserInfo)) {
            if (BuchBox->count() > 1)
                showInformation(QStringLiteral("Bitte wählen Sie ein Adressbuch (oder „Neues "
                                               "Adressbuch anlegen“) und bestätigen Sie mit "
                                               "„OK“."),
                                this);
            return;
        }
    }
    const QUrl book = BuchBox->currentData().toUrl();
    const QString newBook = NeuesBuchEdit->text().trimmed();
    if (BuchBox->currentIndex() < 0)
        throw std::runtime_error("Bitte wählen Sie ein Adressbuch");
    if (book.isEmpty() && newBook.isEmpty())
        throw std::runtime_error("Bitte geben Sie den Namen des neuen Adressbuchs ein");
    const QString table = store_.tableFileName();
    const QDateTime now = QDateTime::currentDateTime();
    if (store_.fieldIndex(QStringLiteral("UID")) < 0 &&
        !confirm(QStringLiteral("Zum Abgleich bekommt die Tabelle das Feld „UID“, das jede Adresse "
                                "auf dem Telefon wie hier erkennt. Vorher werden ihre drei "
                                "Dateien gesichert als „%1“. Fortfahren?")
                     .arg(QFileInfo(sync::backupPathFor(table, now, sync::BackupKind::BeforeLink))
                              .fileName()),
                 this))
        return;
    keepPassword(server, user, password, this);
    if (OeffnenSchliessenBox->isChecked() != syncAtOpenAndClose() &&
        !WriteSettingNumber(setupIniPath(), kSection, kAtOpenAndClose,
                            OeffnenSchliessenBox->isChecked() ? 1 : 0))
        showErrorMessage(QStringLiteral("Die Einstellung kann nicht in %1 gespeichert werden")
                             .arg(QDir::toNativeSeparators(setupIniPath())),
                         this);
    // The book is made on the server (when asked for) only now, after every
    // step here succeeded.
    sync::LinkOutcome outcome;
    withTableClosed(store_, [&] {
        Busy busy;
        carddav::CardDavClient client({server, user, password});
        client.allowPlainHttp(plainHttpOk_ == server.host());
        outcome = sync::linkToBook(table, client, book, newBook, user, now);
    });
    accept();
    if (confirm(QStringLiteral("Die Tabelle ist mit %1 verbunden%2. Jetzt synchronisieren?")
                    .arg(bookName(outcome.book),
                         outcome.made ? QStringLiteral(" (neu angelegt)") : QString()),
                parentWidget()))
        runSync(store_, parentWidget());
}

void TFormSynchronisation::LoesenClick() {
    const QString table = store_.tableFileName();
    const QUrl linked = sync::linkedBook(table);
    if (linked.isEmpty())
        return showLinkState();
    if (!confirmDefaultNo(QStringLiteral("Die Tabelle vergisst ihre Verbindung zu %1 und was der "
                                         "Abgleich über das Adressbuch weiß, auch offene "
                                         "Konflikte. Die Adressen bleiben hier und auf dem "
                                         "Server. Verknüpfung lösen?")
                              .arg(bookName(linked)),
                          this))
        return;
    withTableClosed(store_, [&] { sync::unlinkTable(table); });
    forgetBooks();
    showLinkState();
    showInformation(QStringLiteral("Die Tabelle ist nicht mehr mit %1 verbunden. Ihre Adressen "
                                   "und das Feld „UID“ bleiben; das Adressbuch auf dem Server "
                                   "ist unverändert. Wird sie wieder damit verbunden, findet der "
                                   "Abgleich jede Adresse an ihrer UID wieder.")
                        .arg(bookName(linked)),
                    this);
}

TFormKonflikte::TFormKonflikte(RecordStore& store, QWidget* parent)
    : QDialog(parent), store_(store) {
    setObjectName(QStringLiteral("FormKonflikte"));
    setWindowTitle(QStringLiteral("Konflikte"));
    Liste = new QTableWidget(0, 4, this);
    Liste->setAccessibleName(QStringLiteral("Konflikte"));
    Liste->setHorizontalHeaderLabels({QStringLiteral("Adresse"), QStringLiteral("Feld"),
                                      QStringLiteral("Hier"), QStringLiteral("Auf dem Server")});
    Liste->setSelectionBehavior(QAbstractItemView::SelectRows);
    Liste->setSelectionMode(QAbstractItemView::SingleSelection);
    Liste->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Liste->setTabKeyNavigation(false);
    Liste->horizontalHeader()->setStretchLastSection(true);
    Liste->verticalHeader()->hide();
    auto* server = new QPushButton(QStringLiteral("&Server-Wert übernehmen"), this);
    auto* mine = new QPushButton(QStringLiteral("&Eigenen Wert behalten"), this);
    auto* close = new QPushButton(QStringLiteral("Schließen"), this);
    auto* row = new QHBoxLayout;
    row->addWidget(server);
    row->addWidget(mine);
    row->addStretch();
    row->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    auto* note = new QLabel(QStringLiteral("Diese Felder wurden hier und auf dem Server "
                                           "verschieden geändert. Die Tabelle zeigt ihren Wert, "
                                           "bis Sie wählen; der nächste Abgleich gleicht beide "
                                           "Seiten an."),
                            this);
    note->setWordWrap(true);
    layout->addWidget(note);
    layout->addWidget(Liste);
    layout->addLayout(row);
    connect(server, &QPushButton::clicked, this, guarded([this] { decide(true); }));
    connect(mine, &QPushButton::clicked, this, guarded([this] { decide(false); }));
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    decisions_ = {server, mine};
    resize(640, 320);
    refresh();
}

void TFormKonflikte::refresh() {
    const QList<carddav::SyncConflict> conflicts = sync::openConflicts(store_.tableFileName());
    // The address of each record, by UID.
    QHash<QString, QString> names;
    // A table never linked to a book has no UID field, and no conflicts.
    const bool linked = store_.fieldIndex(QStringLiteral("UID")) >= 0;
    for (int row = 0; linked && row < store_.visibleCount(); ++row)
        names.insert(store_.textAt(row, QStringLiteral("UID")),
                     (store_.textAt(row, QStringLiteral("Vorname")) + u' ' +
                      store_.textAt(row, QStringLiteral("Name")))
                         .trimmed());
    Liste->setRowCount(0);
    for (const carddav::SyncConflict& c : conflicts) {
        const int row = Liste->rowCount();
        Liste->insertRow(row);
        auto* who = new QTableWidgetItem(names.value(c.uid, c.uid));
        who->setData(Qt::UserRole, QVariant::fromValue(c.uid));
        who->setData(Qt::UserRole + 1, c.cut);
        Liste->setItem(row, 0, who);
        Liste->setItem(row, 1, new QTableWidgetItem(c.field));
        Liste->setItem(
            row, 2, new QTableWidgetItem(c.cut ? c.local + QStringLiteral(" (gekürzt)") : c.local));
        Liste->setItem(row, 3, new QTableWidgetItem(c.server));
    }
    Liste->resizeColumnsToContents();
    if (Liste->rowCount() > 0)
        Liste->selectRow(0);
    for (QPushButton* decision : decisions_)
        decision->setEnabled(Liste->rowCount() > 0);
}

void TFormKonflikte::decide(bool takeServer) {
    const int row = Liste->currentRow();
    if (row < 0)
        return;
    const QList<carddav::SyncConflict> conflicts = sync::openConflicts(store_.tableFileName());
    const carddav::SyncConflict& c = conflicts.value(row);
    if (c.cut && takeServer)
        throw std::runtime_error("Der Wert des Servers passt nicht in das Feld; die Tabelle "
                                 "zeigt, was hineinpasst, und der Server behält ihn ganz");
    if (takeServer) {
        int found = -1;
        for (int r = 0; r < store_.visibleCount() && found < 0; ++r)
            if (store_.textAt(r, QStringLiteral("UID")) == c.uid)
                found = r;
        if (found < 0)
            throw std::runtime_error("Die Adresse zu diesem Konflikt ist nicht mehr in der Tabelle "
                                     "(oder vom Filter verborgen)");
        store_.moveToVisible(found);
        store_.BeginEdit();
        store_.SetFieldText(c.field, c.server);
        store_.SaveRecord();
    }
    carddav::SyncState(carddav::SyncState::pathFor(store_.tableFileName())).resolve(c.uid, c.field);
    refresh();
}

void SynchronisationClick(RecordStore& store, QWidget* parent) {
    TFormSynchronisation form(store, parent);
    form.exec();
}

void JetztSynchronisierenClick(RecordStore& store, QWidget* parent) {
    runSync(store, parent);
}

void KonflikteClick(RecordStore& store, QWidget* parent) {
    TFormKonflikte form(store, parent);
    form.exec();
}

void syncAtOpenOrClose(RecordStore& store, QWidget* parent) {
    runGuarded([&] {
        if (syncWanted(store))
            runSync(store, parent, Report::WhenNeeded);
    });
}

bool syncBeforeEnd(RecordStore& store, QWidget* parent) {
    QString failure;
    try {
        if (syncWanted(store))
            runSync(store, parent, Report::WhenNeeded);
        return true;
    } catch (const std::exception& e) {
        failure = errorText(e);
    }
    // Nothing is lost by ending: the table keeps its changes, and the next
    // sync sends them.
    return confirm(QStringLiteral("Der Abgleich mit dem Adressbuch ist misslungen: %1\n\n"
                                  "Die Änderungen dieser Tabelle gehen beim nächsten Abgleich "
                                  "zum Server. Vellumo trotzdem beenden?")
                       .arg(failure),
                   parent);
}

} // namespace vellumo::sync::ui
