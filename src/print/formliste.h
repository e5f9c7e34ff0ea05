// The list dialog: heading and grid lines of the address list, printed or
// previewed through the list report layout.
#pragma once

#include <QDialog>

namespace Ui {
class TFormListe;
}
class TFormQRListe;

class TFormListe : public QDialog {
    Q_OBJECT
public:
    explicit TFormListe(QWidget* parent = nullptr);
    ~TFormListe() override;

    // The list layout run by the buttons, handed in by whoever made the dialog.
    void setReportLayout(TFormQRListe* layout) { layout_ = layout; }

    // Shared by "Drucken" and "Vorschau": sets the heading and the grid
    // lines, prints or previews, then closes. An error keeps the dialog open.
    void DruckenButtonClick(QObject* sender);
    // Puts the heading and the grid-line choice on the list layout.
    void PrepareList();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Ui::TFormListe* ui;
    TFormQRListe* layout_ = nullptr;
};
