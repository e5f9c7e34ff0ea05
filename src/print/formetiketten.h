// "Etiketten drucken": the sheet from the label makers' formats (searchable
// as you type), the first label of a partly used sheet picked on a small
// picture of it, one label per household, the font, and a correction for the
// printer's shift with a calibration page. Prints the rows it is given (the
// records the main window sees) through the labels print style.
#pragma once

#include "print/labelstyle.h"
#include "print/storerows.h"

#include <QDialog>
#include <QFont>

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace vellumo {
class DataSource;
}

namespace vellumo::print {

// A sheet in small: its cells to click, the chosen first label marked and
// the ones before it shown as used.
class SheetPicker : public QWidget {
    Q_OBJECT
public:
    explicit SheetPicker(QWidget* parent = nullptr);
    void setFormat(const labels::LabelFormat& format);
    int start() const { return start_; } // from 1
    void setStart(int start);
    QSize sizeHint() const override;

signals:
    void startChanged(int start);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QRectF sheetRect() const;
    labels::LabelFormat format_;
    int start_ = 1;
};

class TFormEtiketten : public QDialog {
    Q_OBJECT
public:
    // Prints the records the data source's table shows, in its order.
    explicit TFormEtiketten(DataSource& source, QWidget* parent = nullptr);
    ~TFormEtiketten() override;

    // The sheet, start, household, font and correction as chosen, on style.
    void applyTo(LabelStyle& style) const;
    QLineEdit* searchField() const { return search_; }
    QListWidget* formatList() const { return formats_; }
    SheetPicker* sheetPicker() const { return picker_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void fillFormats();
    void formatChosen();
    void chooseFont();
    void run(const char* what);
    QString correctionKey() const;

    StoreRows rows_;
    QLineEdit* search_;
    QListWidget* formats_;
    QLabel* formatInfo_;
    SheetPicker* picker_;
    QCheckBox* household_;
    QPushButton* fontButton_;
    QDoubleSpinBox* correctionX_;
    QDoubleSpinBox* correctionY_;
    QFont font_;
};

} // namespace vellumo::print
