// "&Doppelte Adressen …" in "&Suchen": the likely duplicate pairs of the
// table, best first, with their score and why; a pair is merged (the merge
// dialog), marked as no duplicates (remembered beside the table) or skipped.
// Made anew for every use, modal: the table does not change under it but by
// its own merges, after which the list is read again.
#pragma once

#include "duplicates/dismissed.h"
#include "duplicates/finder.h"
#include "duplicates/merge.h"

#include <QDialog>
#include <QSet>

#include <functional>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace vellumo {
class RecordStore;
}

namespace duplicates::ui {

class TFormDubletten : public QDialog {
    Q_OBJECT
public:
    // onlyWith: the keys (Name;Vorname;Strasse;PLZ;Ort as stored) of the
    // records an import added; when given, only their pairs with records the
    // table had before are listed.
    explicit TFormDubletten(vellumo::RecordStore& store, QWidget* parent = nullptr,
                            const QSet<QString>* onlyWith = nullptr);

    void refresh();
    int shownCount() const;

    // How a merge is asked for: shows the plan, lets the user choose, and
    // returns true to merge. The merge dialog by default; tests answer here.
    std::function<bool(MergePlan& plan, QWidget* parent)> askMerge;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ZusammenfuehrenClick();
    void KeineDublettenClick();
    void UeberspringenClick();
    void selectionChanged();
    const Pair* currentPair() const;
    void removeCurrent();

    vellumo::RecordStore& store_;
    bool restricted_ = false;
    QSet<QString> onlyWith_;
    std::vector<Person> persons_;
    std::vector<Pair> pairs_;
    Dismissed dismissed_;
    QTreeWidget* liste_;
    QLabel* anzahl_;
    QPushButton* zusammenfuehren_;
    QPushButton* keineDubletten_;
    QPushButton* ueberspringen_;
};

// The menu item: the list over parent.
void DoppelteAdressenClick(vellumo::RecordStore& store, QWidget* parent);

} // namespace duplicates::ui
