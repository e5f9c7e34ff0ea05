// The dialog that sets or clears the table opened by itself at every start.
#pragma once

#include <QDialog>

namespace Ui {
class TFormStandardtabelle;
}
class QFileDialog;

class TFormStandardtabelle : public QDialog {
    Q_OBJECT
public:
    // openDialog is the main window's open dialog: browsing shows it with a
    // title of its own, which the main window's "&Öffnen" resets before use.
    explicit TFormStandardtabelle(QFileDialog& openDialog, QWidget* parent = nullptr);
    ~TFormStandardtabelle() override;

    static constexpr const char* kBrowseTitle =
        "Ausgewählte Datei wird bei Programmstart geöffnet:";

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormActivate();
    void SpeedButton1Click();
    void OkButtonClick();
    void LoeschenButtonClick();
    void AbbruchButtonClick();
    void FormKeyPress(QChar key);

    Ui::TFormStandardtabelle* ui;
    QFileDialog& openDialog_;
};
