// The envelope dialog: format, recipient and sender text, their fonts, and
// printing the envelope through the envelope report layout.
#pragma once

#include "address/postaladdress.h"

#include <QColor>
#include <QDialog>
#include <QFont>
#include <QStringList>

namespace Ui {
class TFormUmschalg;
}
class TFormQR;
class QComboBox;
class QFontDialog;
class QPlainTextEdit;

class TFormUmschalg : public QDialog {
    Q_OBJECT
public:
    explicit TFormUmschalg(QWidget* parent = nullptr);
    ~TFormUmschalg() override;

    // The envelope layout printed to, handed in by whoever made the dialog.
    void setReportLayout(TFormQR* layout) { layout_ = layout; }

    // Fills the recipient lines from the address as the main window shows it
    // and shows the dialog modally.
    int ShowFor(const vellumo::address::PostalAddress& address);

    // Shared by both font buttons; opens with the font and colour it last
    // returned (the dialog's sans, 8 pt, regular, window text the first time).
    QFontDialog* FontDialog;
    QComboBox* ColourBox; // "Farbe" within FontDialog: the sixteen standard colours

    // Prints the envelope from the dialog's state (also the default button).
    void DruckenButtonClick();
    // Puts the dialog's state on the envelope layout (format, lines, fonts).
    void PrepareEnvelope();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void done(int result) override;

private:
    void FormCreate();
    void FormShow();
    void ComboBox1DblClick();
    void AbsCheckBoxClick(QObject* sender);
    void ButtonFontEmpfaengerClick(QObject* sender);
    void FormClose();
    void addColourChoice();
    static void setTextColour(QWidget* memo, const QColor& colour);

    Ui::TFormUmschalg* ui;
    TFormQR* layout_ = nullptr;
    QFont lastFont_;
    QColor lastColour_;
};
