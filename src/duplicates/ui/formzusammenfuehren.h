// The merge of two addresses, field by field: both records side by side, the
// fields whose values differ marked, the fuller value proposed and either one
// chosen by a click or Space; the last column shows the merged record as it
// will be stored, the notes with the values not taken. "&Zusammenführen"
// accepts (the caller writes the merge), "Abbrechen" changes nothing.
#pragma once

#include "duplicates/merge.h"

#include <QDialog>

class QTableWidget;
class QTableWidgetItem;

namespace duplicates::ui {

class TFormZusammenfuehren : public QDialog {
    Q_OBJECT
public:
    // plan is changed by the user's choices while the dialog is open.
    TFormZusammenfuehren(MergePlan& plan, QWidget* parent = nullptr);

    // The row of a field, -1 when it has none.
    int rowOf(const QString& field) const;
    // Takes the value of the other record (true) or of the kept one.
    void choose(int row, bool other);

private:
    void itemChanged(QTableWidgetItem* item);
    void showResult();

    MergePlan& plan_;
    QTableWidget* tabelle_;
    bool filling_ = false;
};

} // namespace duplicates::ui
