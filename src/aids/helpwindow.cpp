#include "aids/helpwindow.h"

#include "help_location.h"
#include "platform/system/system.h"
#include "platform/ui/messages.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QHelpContentModel>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QHelpIndexWidget>
#include <QHelpLink>
#include <QHelpSearchEngine>
#include <QHelpSearchQueryWidget>
#include <QHelpSearchResultWidget>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QSplitter>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTranslator>
#include <QVBoxLayout>

namespace vellumo::aids {

namespace {

const QString kCollectionName = QStringLiteral("vellumo.qhc");
const QString kHelpNamespace = QStringLiteral("org.vellumo.help");
const QString kHelpFolder = QStringLiteral("handbuch");
const QString kStartPage = QStringLiteral("index.html");

QString& overridePath() {
    static QString path;
    return path;
}

// Qt's own help widgets ("Suchen nach:", …) speak German like the rest.
void installHelpTranslation() {
    static bool done = false;
    if (done || !qApp)
        return;
    done = true;
    auto* translator = new QTranslator(qApp);
    if (translator->load(QLocale(QLocale::German), QStringLiteral("qt_help"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

// The full-text index is kept beside the collection. An installed collection
// usually lies where the user cannot write, so it is read from a copy in the
// user's cache, renewed whenever the installed files change.
QString writableCollection(const QString& collection) {
    const QFileInfo info(collection);
    if (QFileInfo(info.absolutePath()).isWritable())
        return collection;
    const QString cache =
        QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/help");
    if (!QDir().mkpath(cache))
        return collection;
    const QDir source = info.absoluteDir();
    QStringList files = source.entryList({QStringLiteral("*.qch")}, QDir::Files);
    files << info.fileName();
    for (const QString& name : files) {
        const QFileInfo from(source.filePath(name));
        const QFileInfo to(cache + QLatin1Char('/') + name);
        if (to.exists() && to.size() == from.size() && to.lastModified() >= from.lastModified())
            continue;
        QFile::remove(to.filePath());
        if (!QFile::copy(from.filePath(), to.filePath()))
            return collection;
        QFile(to.filePath())
            .setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                            QFile::ReadOther);
    }
    return cache + QLatin1Char('/') + info.fileName();
}

// Shows the handbook's pages, which live inside the help collection.
class HelpBrowser : public QTextBrowser {
public:
    HelpBrowser(QHelpEngine& engine, QWidget* parent) : QTextBrowser(parent), engine_(engine) {
        setOpenLinks(true);
        setOpenExternalLinks(false);
    }
    QVariant loadResource(int type, const QUrl& name) override {
        if (name.scheme() == QLatin1String("qthelp"))
            return engine_.fileData(name);
        return QTextBrowser::loadResource(type, name);
    }

private:
    QHelpEngine& engine_;
};

} // namespace

namespace {
// F1 in a window of the owner's other than the owner itself (which has the
// key on "&Hilfethemen"): the page of that window. Message boxes made without
// a parent belong to the program too.
class HelpKey : public QObject {
public:
    HelpKey(Help& help, QObject* parent) : QObject(parent), help_(help) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_F1 || key->modifiers() != Qt::NoModifier || key->isAutoRepeat())
            return false;
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget)
            return false;
        QWidget* front = widget->window();
        if (front == help_.owner() || qobject_cast<THelpWindow*>(front) || !belongsToOwner(front))
            return false;
        showHelpPage(help_, helpPageForWindow(front), front);
        return true;
    }

private:
    bool belongsToOwner(const QWidget* window) const {
        for (const QWidget* at = window; at; at = at->parentWidget())
            if (at == help_.owner())
                return true;
        return window->parentWidget() == nullptr;
    }
    Help& help_;
};
} // namespace

Help::Help(QWidget* owner) : owner_(owner) {
    if (qApp) {
        keyWatcher_ = new HelpKey(*this, owner);
        qApp->installEventFilter(keyWatcher_);
    }
}

Help::~Help() {
    delete keyWatcher_.data();
}

THelpWindow* Help::windowForUse() {
    if (window_)
        return window_;
    const QString collection = findHelpCollection();
    if (collection.isEmpty()) {
        showErrorMessage(QStringLiteral("Die Hilfedatei wurde nicht gefunden. Erwartet wird sie "
                                        "hier:\n%1")
                             .arg(QDir::toNativeSeparators(expectedHelpCollection())),
                         owner_);
        return nullptr;
    }
    auto* created = new THelpWindow(collection, owner_);
    if (!created->isReady()) {
        const QString error = created->errorText();
        delete created;
        showErrorMessage(QStringLiteral("Die Hilfedatei %1 kann nicht gelesen werden: %2")
                             .arg(QDir::toNativeSeparators(collection), error),
                         owner_);
        return nullptr;
    }
    window_ = created;
    return window_;
}

namespace {

void bringToFront(THelpWindow* window) {
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

QString helpPageForContext(int context) {
    switch (context) {
    case kHelpContextSearch:
        return QStringLiteral("suchen.html");
    default:
        return {};
    }
}

QString helpPageForWindow(const QWidget* window) {
    // By the kind of window, so that a dialog made anew for each use has its
    // page as well as one made at start-up.
    static const QHash<QString, QString> kPages{
        {QStringLiteral("TFormSuchen"), QStringLiteral("suchen.html")},
        {QStringLiteral("TFormPersonAuswahl"), QStringLiteral("personauswahl.html")},
        {QStringLiteral("TFormTabelle"), QStringLiteral("tabellenansicht.html")},
        {QStringLiteral("TFormUmschalg"), QStringLiteral("umschlag.html")},
        {QStringLiteral("TFormListe"), QStringLiteral("liste.html")},
        {QStringLiteral("TFormEtiketten"), QStringLiteral("etiketten.html")},
        {QStringLiteral("TFormBild"), QStringLiteral("bilder.html")},
        {QStringLiteral("TFormBildSpeichern"), QStringLiteral("bilder.html")},
        {QStringLiteral("TFormKalender"), QStringLiteral("kalender.html")},
        {QStringLiteral("TFormGeburtstage"), QStringLiteral("geburtstage.html")},
        {QStringLiteral("TFormStandardtabelle"), QStringLiteral("standardtabelle.html")},
        {QStringLiteral("TFormSynchronisation"), QStringLiteral("synchronisation.html")},
        {QStringLiteral("TFormKonflikte"), QStringLiteral("synchronisation.html")},
        {QStringLiteral("QColorDialog"), QStringLiteral("farben.html")},
        {QStringLiteral("QFileDialog"), QStringLiteral("dateien.html")},
        {QStringLiteral("QMessageBox"), QStringLiteral("meldungen.html")},
    };
    // Standard dialogs that stand for one command.
    static const QHash<QString, QString> kNamed{
        {QStringLiteral("ExportDialog"), QStringLiteral("austausch.html")},
        {QStringLiteral("ImportDialog"), QStringLiteral("austausch.html")},
    };
    for (const QWidget* at = window; at; at = at->parentWidget()) {
        at = at->window();
        const QVariant own = at->property("helpPage");
        if (own.isValid())
            return own.toString();
        if (const auto named = kNamed.constFind(at->objectName()); named != kNamed.cend())
            return *named;
        for (const QMetaObject* kind = at->metaObject(); kind; kind = kind->superClass()) {
            QString name = QString::fromLatin1(kind->className());
            name = name.mid(name.lastIndexOf(QLatin1Char(':')) + 1);
            const auto found = kPages.constFind(name);
            if (found != kPages.cend())
                return *found;
        }
    }
    return kStartPage;
}

QUrl helpPageUrl(const QString& page) {
    return QUrl(QStringLiteral("qthelp://%1/%2/%3").arg(kHelpNamespace, kHelpFolder, page));
}

QStringList helpCollectionCandidates() {
    if (!overridePath().isEmpty())
        return {overridePath()};
    const QString program = programDirectory();
    return {QDir::cleanPath(program + QStringLiteral("help/") + kCollectionName),
            QDir::cleanPath(program + QStringLiteral("../share/vellumo/help/") + kCollectionName),
            QDir::cleanPath(QStringLiteral(VELLUMO_BUILD_HELP_DIR "/") + kCollectionName)};
}

QString findHelpCollection() {
    for (const QString& candidate : helpCollectionCandidates())
        if (QFileInfo(candidate).isFile())
            return candidate;
    return {};
}

QString expectedHelpCollection() {
    const QStringList candidates = helpCollectionCandidates();
    // An installed program lies in a "bin" directory; its help in "share".
    if (candidates.size() > 1 && QDir(programDirectory()).dirName() == QLatin1String("bin"))
        return candidates[1];
    return candidates.first();
}

void setHelpCollection(const QString& path) {
    overridePath() = path;
}

THelpWindow::THelpWindow(const QString& collection, QWidget* owner)
    : QMainWindow(owner, Qt::Window) {
    installHelpTranslation();
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Vellumo-Hilfe"));
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(780, 540);

    engine_ = new QHelpEngine(writableCollection(collection), this);
    ready_ = engine_->setupData() && engine_->registeredDocumentations().contains(kHelpNamespace);
    error_ =
        engine_->error().isEmpty() ? QStringLiteral("Das Handbuch fehlt darin.") : engine_->error();

    auto* splitter = new QSplitter(this);
    tabs_ = new QTabWidget(splitter);
    tabs_->setAccessibleName(QStringLiteral("Hilfethemen"));
    browser_ = new HelpBrowser(*engine_, splitter);
    browser_->setObjectName(QStringLiteral("HelpBrowser"));
    browser_->setAccessibleName(QStringLiteral("Hilfeseite"));
    splitter->addWidget(tabs_);
    splitter->addWidget(browser_);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({230, 550});
    setCentralWidget(splitter);

    QHelpContentWidget* contents = engine_->contentWidget();
    contents->setAccessibleName(QStringLiteral("Inhalt"));
    tabs_->addTab(contents, QStringLiteral("Inhalt"));
    connect(contents, &QHelpContentWidget::linkActivated, this, &THelpWindow::showPage);
    // The handbook is small: all its chapters in view at once.
    connect(engine_->contentModel(), &QHelpContentModel::contentsCreated, this, [this, contents] {
        contents->expandAll();
        markInContents(currentPage());
    });

    auto* indexPage = new QWidget(tabs_);
    auto* indexLayout = new QVBoxLayout(indexPage);
    auto* lookFor = new QLineEdit(indexPage);
    lookFor->setObjectName(QStringLiteral("IndexFilter"));
    lookFor->setPlaceholderText(QStringLiteral("Stichwort eingeben"));
    QHelpIndexWidget* index = engine_->indexWidget();
    index->setAccessibleName(QStringLiteral("Stichwörter"));
    indexLayout->addWidget(new QLabel(QStringLiteral("&Stichwort:"), indexPage));
    static_cast<QLabel*>(indexLayout->itemAt(0)->widget())->setBuddy(lookFor);
    indexLayout->addWidget(lookFor);
    indexLayout->addWidget(index);
    tabs_->addTab(indexPage, QStringLiteral("Index"));
    connect(lookFor, &QLineEdit::textChanged, index,
            [index](const QString& text) { index->filterIndices(text); });
    connect(lookFor, &QLineEdit::returnPressed, index, &QHelpIndexWidget::activateCurrentItem);
    connect(index, &QHelpIndexWidget::documentActivated, this,
            [this](const QHelpLink& link, const QString&) { showPage(link.url); });
    connect(index, &QHelpIndexWidget::documentsActivated, this,
            [this](const QList<QHelpLink>& links, const QString&) {
                if (!links.isEmpty())
                    showPage(links.first().url);
            });

    QHelpSearchEngine* search = engine_->searchEngine();
    auto* searchPage = new QWidget(tabs_);
    auto* searchLayout = new QVBoxLayout(searchPage);
    searchLayout->addWidget(search->queryWidget());
    searchLayout->addWidget(search->resultWidget(), 1);
    tabs_->addTab(searchPage, QStringLiteral("Suche"));
    connect(search->queryWidget(), &QHelpSearchQueryWidget::search, search,
            [search] { search->search(search->queryWidget()->searchInput()); });
    connect(search->resultWidget(), &QHelpSearchResultWidget::requestShowLink, this,
            &THelpWindow::showPage);
    if (ready_)
        search->reindexDocumentation();
}

THelpWindow::~THelpWindow() = default;

void THelpWindow::showPage(const QUrl& url) {
    browser_->setSource(url);
    markInContents(url);
}

void THelpWindow::markInContents(const QUrl& url) {
    const QModelIndex entry = engine_->contentWidget()->indexOf(url);
    if (entry.isValid())
        engine_->contentWidget()->setCurrentIndex(entry);
}

QUrl THelpWindow::currentPage() const {
    return browser_->source();
}

QString THelpWindow::currentTitle() const {
    return browser_->documentTitle();
}

void Hilfethemen1Click(Help& help) {
    THelpWindow* window = help.windowForUse();
    if (!window)
        return;
    window->showPage(helpPageUrl(kStartPage));
    bringToFront(window);
}

void showHelpContext(Help& help, int context, QWidget* requester) {
    showHelpPage(help, helpPageForContext(context), requester);
}

void showHelpPage(Help& help, const QString& page, QWidget* requester) {
    THelpWindow* window = help.windowForUse();
    if (!window)
        return;
    window->showPage(helpPageUrl(page.isEmpty() ? kStartPage : page));

    // A modal dialog blocks every window that is not its own. Lend the help
    // window to the dialog while it runs; it goes back to its owner after.
    auto* dialog = qobject_cast<QDialog*>(requester);
    if (dialog && dialog->isVisible() && QApplication::activeModalWidget() == dialog &&
        window->parentWidget() != dialog) {
        const QRect where = window->geometry();
        const bool wasShown = window->isVisible();
        window->setParent(dialog, window->windowFlags());
        if (wasShown)
            window->setGeometry(where);
        QPointer<THelpWindow> lent = window;
        QPointer<QWidget> home = help.owner();
        QObject::connect(
            dialog, &QDialog::finished, window,
            [lent, home] {
                if (!lent)
                    return;
                const bool shown = lent->isVisible();
                const QRect at = lent->geometry();
                lent->setParent(home, lent->windowFlags());
                lent->setGeometry(at);
                if (shown)
                    lent->show();
            },
            Qt::SingleShotConnection);
    }
    bringToFront(window);
}

} // namespace vellumo::aids
