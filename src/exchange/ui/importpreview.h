// Before an import of a file whose columns are mapped by their names (CSV,
// dBase, Paradox): where each column goes, changeable, and the first ten
// records as they will arrive in the open table.
#pragma once

#include "exchange/exchange.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QTableWidget;

namespace vellumo {
class RecordStore;
}

namespace vellumo::exchange {

class ImportPreviewDialog : public QDialog {
    Q_OBJECT
public:
    // preview: the file read with choices (as previewFile gives it).
    ImportPreviewDialog(const RecordStore& store, const QString& path, ImportPreview preview,
                        ColumnChoices choices, QWidget* parent = nullptr);

    // Where the user sends each column (empty entries: as its name says).
    ColumnChoices choices() const { return choices_; }

private:
    void choose(int column, const QString& choice);
    void reread();
    void fill();

    const RecordStore& store_;
    QString path_;
    ImportPreview preview_;
    ColumnChoices choices_;
    QStringList automatic_; // where each column goes as its name says
    QLabel* about_ = nullptr;
    QTableWidget* mapping_ = nullptr;
    QTableWidget* records_ = nullptr;
};

} // namespace vellumo::exchange
