// The program's help: a handbook in Qt Help's format, shown in a window of
// its own with contents, index and full-text search. One window per Help,
// which the main window keeps; not modal.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

class QHelpEngine;
class QTabWidget;
class QTextBrowser;

namespace vellumo::aids {

// The context numbers the dialogs' help buttons ask for.
inline constexpr int kHelpContextSearch = 3;

// The page of the handbook for a context number; empty for an unknown one.
QString helpPageForContext(int context);
// The page of the handbook about window: its property "helpPage" where it has
// one, else the page of its kind of window, else that of the window it
// belongs to; the start page for the main window and whatever has no page.
QString helpPageForWindow(const QWidget* window);
// The address of a page of the handbook ("suchen.html").
QUrl helpPageUrl(const QString& page);

// Where the help collection is looked for, in this order: beside the program,
// in the share directory of an installed program, in the build tree.
QStringList helpCollectionCandidates();
// The first candidate that exists, or "".
QString findHelpCollection();
// The path a person is told about when no candidate exists.
QString expectedHelpCollection();
// Tests point the help elsewhere (also at a file that is not there); "" goes
// back to looking for it.
void setHelpCollection(const QString& path);

class THelpWindow : public QMainWindow {
    Q_OBJECT
public:
    // collection is the .qhc file; when it cannot be read, isReady() is false
    // and errorText() says why.
    THelpWindow(const QString& collection, QWidget* owner);
    ~THelpWindow() override;

    bool isReady() const { return ready_; }
    QString errorText() const { return error_; }
    QHelpEngine& engine() const { return *engine_; }

    void showPage(const QUrl& url);
    QUrl currentPage() const;
    QString currentTitle() const;

private:
    // The entry of the page shown, once the contents are there.
    void markInContents(const QUrl& url);

    QHelpEngine* engine_;
    QTextBrowser* browser_;
    QTabWidget* tabs_;
    bool ready_ = false;
    QString error_;
};

// The help of a main window: its one help window, made on first use (it
// reads the collection) and owned by that main window.
class Help {
public:
    // F1 in any window of owner's (dialogs, message boxes) opens the page of
    // the window in front; the owner's own F1 is its "&Hilfethemen".
    explicit Help(QWidget* owner);
    ~Help();
    Help(const Help&) = delete;
    Help& operator=(const Help&) = delete;
    // Null before the first use, or when the collection could not be read.
    THelpWindow* window() const { return window_; }
    // Makes the window on first use; null, after telling the user why, when
    // the collection is missing or unreadable.
    THelpWindow* windowForUse();
    QWidget* owner() const { return owner_; }

private:
    QWidget* owner_;
    QPointer<THelpWindow> window_;
    QPointer<QObject> keyWatcher_;
};

// "&Hilfethemen": the help window with its contents on the start page.
void Hilfethemen1Click(Help& help);

// A dialog's help button: the page of context in the help window. requester
// is the dialog that asks; while it runs modally the help window goes along
// with it, so that the help can be read and used before the dialog closes.
void showHelpContext(Help& help, int context, QWidget* requester = nullptr);
// The same for a page of the handbook ("suchen.html").
void showHelpPage(Help& help, const QString& page, QWidget* requester = nullptr);

} // namespace vellumo::aids
