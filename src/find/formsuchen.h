// The search dialog: finds records by one field and a search text.
#pragma once

#include <QColor>
#include <QDialog>

namespace Ui {
class TFormSuchen;
}
namespace vellumo {
class DataSource;
}
class TFormPersonAuswahl;
class QComboBox;
class QLineEdit;

class TFormSuchen : public QDialog {
    Q_OBJECT
public:
    // The dialog works on the shared store and hands several matches to the
    // person selection list.
    TFormSuchen(vellumo::DataSource& source, TFormPersonAuswahl& personAuswahl,
                QWidget* parent = nullptr);
    ~TFormSuchen() override;

    // The colour settings of the main window reach the two input controls.
    void setInputBackground(const QColor& colour); // ComboBox1 and EditSuchenText
    void setInputTextColor(const QColor& colour);  // EditSuchenText only
    QComboBox* comboBox() const;
    QLineEdit* searchTextEdit() const;

    // The help topic the help button asks for.
    static constexpr int kHelpContext = 3;

    // The search operation on the current field caption and search text.
    void runSearch();

signals:
    void helpRequested(int context);
    // After every run of the search operation, whatever its outcome.
    void searchDone();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void ButtonSuchenClick();
    void EditSuchenTextKeyUp(int key);
    void AbbruchButtonClick();
    void HilfeButtonClick();
    void FormKeyPress(QChar key);

    Ui::TFormSuchen* ui;
    vellumo::DataSource& source_;
    TFormPersonAuswahl& personAuswahl_;
    // Enter pressed in the search text and not yet taken by the default button.
    bool enterPending_ = false;
};
