// The quick search of the main window: one box ("Schnellsuche") that finds
// anyone as the user types, over every text field and the memo, with German
// spelling and phone numbers folded (search/). Under the box a list shows the
// best matches (Name, Vorname, Ort and the field that matched, the hit
// marked); Up and Down choose among them, Enter goes to the record in the main
// window, Escape closes the list and leaves the record as it was. "Alle
// Treffer filtern" (Alt+Enter) narrows the table to the matches, as a filter
// of the search dialog does; the next search or "Filter aus" ends that.
#pragma once

#include "search/index.h"

#include <QObject>

#include <memory>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QWidget;

namespace vellumo {
class DataSource;
}

namespace vellumo::find {

class QuickSearch : public QObject {
    Q_OBJECT
public:
    // The box is made a child of boxParent (the tool bar), the list of
    // listParent, over whose other children it opens.
    QuickSearch(DataSource& source, QWidget* boxParent, QWidget* listParent);
    ~QuickSearch() override;

    QLineEdit* box() const { return box_; }
    QTreeWidget* list() const { return list_; }
    QFrame* popup() const { return popup_; }
    QPushButton* filterButton() const { return filterButton_; }
    QPushButton* filterOffButton() const { return offButton_; }
    const search::Index& index() const { return *index_; }

    // Ctrl+F and F3: the box gets the focus, its text selected.
    void focusBox();
    // Goes to the chosen match (Enter) and closes the list.
    void chooseCurrent();
    // "Alle Treffer filtern": the table shows just the matches.
    void filterMatches();
    // "Filter aus": the whole table again, on the same record.
    void filterOff();
    bool isFiltering() const;

    // The most matches the list shows.
    static constexpr int kListRows = 50;

signals:
    // The quick search's filter went on or off.
    void filteringChanged(bool on);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void textEdited(const QString& text);
    void showMatches();
    void hideList();
    void placeList();
    void step(int rows);

    DataSource& source_;
    std::unique_ptr<search::Index> index_;
    search::Query query_;
    QLineEdit* box_;
    QWidget* listParent_;
    QFrame* popup_;
    QTreeWidget* list_;
    QLabel* count_;
    QPushButton* filterButton_;
    QPushButton* offButton_;
    bool filtering_ = false;
};

} // namespace vellumo::find
