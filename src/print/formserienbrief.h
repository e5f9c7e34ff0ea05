// "&Serienbrief …": a letter to each address by DIN 5008, for window
// envelopes. The template is a plain text the user writes here (with "Feld
// einfügen") or opens from a file and saves where they like; the letters go
// to the preview, the printer, one PDF, or one PDF per letter named after
// the record, for the current record or all the records the table shows
// (the filter respected).
#pragma once

#include "print/letterstyle.h"
#include "print/storerows.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;

namespace vellumo {
class DataSource;
}

namespace vellumo::print {

class TFormSerienbrief : public QDialog {
    Q_OBJECT
public:
    explicit TFormSerienbrief(DataSource& source, QWidget* parent = nullptr);
    ~TFormSerienbrief() override;

    // The template, salutation, form, sender and records as chosen, on style.
    void applyTo(LetterStyle& style) const;
    // Writes one PDF per letter into folder, each named after its record;
    // an existing file is never replaced (a number is added). The number of
    // files written; stops early when the progress window is cancelled.
    int writeLetterFiles(const QString& folder);

    QPlainTextEdit* editor() const { return editor_; }
    QLineEdit* salutation() const { return salutation_; }
    QComboBox* form() const { return form_; }
    QRadioButton* currentOnly() const { return currentOnly_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void openTemplate();
    void saveTemplate();
    void insertField(const QString& field);
    void run(const char* what);
    report::RowSource& chosenRows();

    DataSource& source_;
    StoreRows rows_;
    std::unique_ptr<report::RowSource> current_;
    QLineEdit* path_;
    QPlainTextEdit* editor_;
    QLineEdit* salutation_;
    QComboBox* form_;
    QRadioButton* currentOnly_;
    QRadioButton* all_;
};

// The sample template that comes with the program.
QString sampleLetterTemplate();

} // namespace vellumo::print
