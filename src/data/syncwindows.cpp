#include "data/syncwindows.h"

#include "platform/carddav/keyring.h"
#include "platform/carddav/syncstate.h"
#include "platform/database/recordstore.h"
#include "platform/settings/profile.h"
#include "platform/ui/messages.h"
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
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vellumo::data {

namespace {

const QString kTitle = QStringLiteral("Synchronisation");
const QString kSection = QStringLiteral("Synchronisation");
const QString kAtOpenAndClose = QStringLiteral("BeimOeffnenUndSchliessen");

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

// The password of the account: from the keyring, from earlier in this run,
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
    if (const auto stored = carddav::keyring::lookup(server, user)) {
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

// Runs work with the table closed, then opens it again on the record that
// was current; the record being edited is saved first.
template <class Work> void withTableClosed(RecordStore& store, Work work) {
    if (store.HasUnsavedChanges())
        store.SaveRecord();
    else
        store.DiscardChanges();
    const int number = store.RecordNumber();
    store.CloseTableAtShutdown(); // nothing left to save, no date to stamp
    auto reopen = [&] {
        store.OpenTable();
        if (number > 1)
            store.StepBy(number - 1);
    };
    try {
        work();
    } catch (...) {
        reopen();
        throw;
    }
    reopen();
}

void runSync(RecordStore& store, QWidget* parent) {
    const QString table = store.tableFileName();
    const QUrl book = sync::linkedBook(table);
    if (book.isEmpty()) {
        showInformation(QStringLiteral("Die Tabelle ist mit keinem Adressbuch verbunden. Bitte "
                                       "verbinden Sie sie unter „Einstellungen › Synchronisation "
                                       "…“."),
                        parent);
        return;
    }
    sync::SyncOptions options;
    if (!passwordFor(book, options.password, parent))
        return;
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
    progress.close();
    QString text = report.text().trimmed();
    if (report.conflicts > 0)
        text += QStringLiteral("\n\nUnter „Bearbeiten › Konflikte …“ wählen Sie, welcher Wert "
                               "gilt.");
    showInformation(text, parent);
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
    NeuesBuchEdit = new QLineEdit(QStringLiteral("Vellumo"), this);
    form->addRow(QStringLiteral("&Server:"), ServerEdit);
    form->addRow(QStringLiteral("&Benutzer:"), BenutzerEdit);
    form->addRow(QStringLiteral("&Passwort:"), PasswortEdit);
    form->addRow(QString(), abrufen);
    form->addRow(QStringLiteral("A&dressbuch:"), BuchBox);
    form->addRow(QStringLiteral("&Neues Adressbuch:"), NeuesBuchEdit);
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
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Abbrechen"), QDialogButtonBox::RejectRole);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addWidget(buttons);
    BuchBox->addItem(QStringLiteral("Neues Adressbuch anlegen"));
    const QUrl linked = sync::linkedBook(store.tableFileName());
    if (!linked.isEmpty()) {
        ServerEdit->setText(linked.adjusted(QUrl::RemoveUserInfo).toString());
        BenutzerEdit->setText(linked.userName());
        BuchBox->insertItem(0, linked.adjusted(QUrl::RemoveUserInfo).toString(),
                            linked.adjusted(QUrl::RemoveUserInfo));
        BuchBox->setCurrentIndex(0);
    }
    connect(abrufen, &QPushButton::clicked, this, guarded([this] { AbrufenClick(); }));
    connect(buttons, &QDialogButtonBox::accepted, this, guarded([this] { OkClick(); }));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    resize(520, sizeHint().height());
}

void TFormSynchronisation::AbrufenClick() {
    const QUrl url = QUrl::fromUserInput(ServerEdit->text().trimmed());
    if (!url.isValid() || url.host().isEmpty())
        throw std::runtime_error("Bitte geben Sie die Adresse des Servers ein");
    carddav::CardDavClient client({url, BenutzerEdit->text().trimmed(), PasswortEdit->text()});
    QList<carddav::AddressBook> books;
    try {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        books = client.discover();
        QApplication::restoreOverrideCursor();
    } catch (const carddav::DavError& e) {
        QApplication::restoreOverrideCursor();
        throw std::runtime_error(e.message().toStdString());
    }
    BuchBox->clear();
    for (const carddav::AddressBook& b : books)
        BuchBox->addItem(b.displayName.isEmpty() ? b.url.toString() : b.displayName, b.url);
    BuchBox->addItem(QStringLiteral("Neues Adressbuch anlegen"));
}

void TFormSynchronisation::OkClick() {
    const QUrl server = QUrl::fromUserInput(ServerEdit->text().trimmed());
    const QString user = BenutzerEdit->text().trimmed();
    if (!server.isValid() || server.host().isEmpty())
        throw std::runtime_error("Bitte geben Sie die Adresse des Servers ein");
    carddav::CardDavClient client({server, user, PasswortEdit->text()});
    QUrl book = BuchBox->currentData().toUrl();
    try {
        if (book.isEmpty())
            book = BuchBox->count() > 1 || !NeuesBuchEdit->text().trimmed().isEmpty()
                       ? client.createAddressBook(NeuesBuchEdit->text().trimmed())
                       : sync::findBook(client, QStringLiteral("Vellumo"));
    } catch (const carddav::DavError& e) {
        throw std::runtime_error(e.message().toStdString());
    }
    const QString table = store_.tableFileName();
    const QDateTime now = QDateTime::currentDateTime();
    if (store_.fieldIndex(QStringLiteral("UID")) < 0 &&
        !confirm(QStringLiteral("Zum Abgleich bekommt die Tabelle das Feld „UID“, das jede Adresse "
                                "auf dem Telefon wie hier erkennt. Vorher werden ihre drei "
                                "Dateien gesichert als „%1“. Fortfahren?")
                     .arg(QFileInfo(sync::backupPathFor(table, now)).fileName()),
                 this))
        return;
    // An empty password is one too (a server that asks for none).
    if (!user.isEmpty()) {
        if (!PasswortEdit->text().isEmpty() && carddav::keyring::available())
            carddav::keyring::store(server, user, PasswortEdit->text());
        askedPasswords().insert(accountKey(server, user), PasswortEdit->text());
    }
    if (OeffnenSchliessenBox->isChecked() != syncAtOpenAndClose() &&
        !WriteSettingNumber(setupIniPath(), kSection, kAtOpenAndClose,
                            OeffnenSchliessenBox->isChecked() ? 1 : 0))
        showErrorMessage(QStringLiteral("Die Einstellung kann nicht in %1 gespeichert werden")
                             .arg(QDir::toNativeSeparators(setupIniPath())),
                         this);
    book.setUserName(user);
    withTableClosed(store_, [&] { sync::linkTable(table, book, now); });
    accept();
    if (confirm(QStringLiteral("Die Tabelle ist mit %1 verbunden. Jetzt synchronisieren?")
                    .arg(book.adjusted(QUrl::RemoveUserInfo).toDisplayString()),
                parentWidget()))
        runSync(store_, parentWidget());
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
    if (!store.IsTableOpen() || !syncAtOpenAndClose() ||
        sync::linkedBook(store.tableFileName()).isEmpty())
        return;
    runGuarded([&] { runSync(store, parent); });
}

} // namespace vellumo::data
