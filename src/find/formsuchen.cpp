#include "find/formsuchen.h"

#include "find/formpersonauswahl.h"
#include "find/searchrules.h"
#include "platform/database/datasource.h"
#include "platform/database/recordstore.h"
#include "platform/settings/colourvalue.h"
#include "platform/settings/profile.h"
#include "platform/ui/keypreview.h"
#include "platform/ui/messages.h"
#include "platform/ui/placement.h"
#include "ui_formsuchen.h"

#include <QFile>
#include <QKeyEvent>
#include <QMetaMethod>
#include <QStyle>

namespace {
// Background of the two input controls when Setup.ini names none (85FAFA).
constexpr int kDefaultInputBackground = 8780538;
} // namespace

TFormSuchen::TFormSuchen(vellumo::DataSource& source, TFormPersonAuswahl& personAuswahl,
                         QWidget* parent)
    : QDialog(parent), ui(new Ui::TFormSuchen), source_(source), personAuswahl_(personAuswahl) {
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    setFixedSize(271, 126);
    ui->ComboBox1->addItems(vellumo::searchFieldCaptions());
    // The typed field caption is taken as typed: completing "name" to "Name"
    // would search a field the user did not name.
    ui->ComboBox1->setCompleter(nullptr);
    // The tool bar's magnifier when the program carries it.
    const QString magnifier = QStringLiteral(":/icons/suchen.png");
    ui->ButtonSuchen->setIcon(QFile::exists(magnifier)
                                  ? QIcon(magnifier)
                                  : style()->standardIcon(QStyle::SP_DialogOkButton));
    ui->HilfeButton->setIcon(style()->standardIcon(QStyle::SP_DialogHelpButton));
    ui->AbbruchButton->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));

    connect(ui->ButtonSuchen, &QPushButton::clicked, this, [this] { ButtonSuchenClick(); });
    connect(ui->HilfeButton, &QPushButton::clicked, this, [this] { HilfeButtonClick(); });
    connect(ui->AbbruchButton, &QPushButton::clicked, this, [this] { AbbruchButtonClick(); });
    vellumo::installKeyPreview(this);
    vellumo::centreWhenShown(this);
    FormCreate();
}

TFormSuchen::~TFormSuchen() {
    delete ui;
}

QComboBox* TFormSuchen::comboBox() const {
    return ui->ComboBox1;
}
QLineEdit* TFormSuchen::searchTextEdit() const {
    return ui->EditSuchenText;
}

void TFormSuchen::setInputBackground(const QColor& colour) {
    for (QWidget* control :
         {static_cast<QWidget*>(ui->ComboBox1), static_cast<QWidget*>(ui->EditSuchenText)}) {
        QPalette palette = control->palette();
        palette.setColor(QPalette::Base, colour);
        control->setPalette(palette);
    }
    // The combo's own edit field draws the text area.
    if (QLineEdit* edit = ui->ComboBox1->lineEdit()) {
        QPalette palette = edit->palette();
        palette.setColor(QPalette::Base, colour);
        edit->setPalette(palette);
    }
}

void TFormSuchen::setInputTextColor(const QColor& colour) {
    QPalette palette = ui->EditSuchenText->palette();
    palette.setColor(QPalette::Text, colour);
    ui->EditSuchenText->setPalette(palette);
}

void TFormSuchen::FormCreate() {
    const int background =
        vellumo::ReadSettingNumber(vellumo::setupIniPath(), QStringLiteral("Colors"),
                                   QStringLiteral("Eingabe"), kDefaultInputBackground);
    setInputBackground(vellumo::colourFromValue(background));
}

void TFormSuchen::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TFormSuchen::FormShow() {
    enterPending_ = false;
    ui->ComboBox1->setCurrentIndex(1);
    ui->EditSuchenText->setFocus();
    ui->EditSuchenText->clear();
}

void TFormSuchen::ButtonSuchenClick() {
    setResult(QDialog::Accepted);
    enterPending_ = false;
    runSearch();
    // The dialog closes even when the search failed.
    done(QDialog::Accepted);
}

void TFormSuchen::EditSuchenTextKeyUp(int key) {
    // Only the release of an Enter pressed in the search text runs the
    // search; a release after the button's search (or of a key pressed before
    // the dialog opened) must not search a second time.
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return;
    if (!enterPending_ || !isVisible())
        return;
    enterPending_ = false;
    runSearch();
}

void TFormSuchen::AbbruchButtonClick() {
    done(QDialog::Rejected);
}

void TFormSuchen::HilfeButtonClick() {
    // Until the program's help is connected, say so instead of doing nothing.
    if (!isSignalConnected(QMetaMethod::fromSignal(&TFormSuchen::helpRequested))) {
        vellumo::showNotAvailable(this);
        return;
    }
    emit helpRequested(kHelpContext);
}

void TFormSuchen::FormKeyPress(QChar key) {
    if (key.unicode() == 27)
        done(QDialog::Rejected);
}

bool TFormSuchen::eventFilter(QObject* watched, QEvent* event) {
    const int key = vellumo::previewedKey(watched, event);
    if (key == 27) {
        FormKeyPress(QChar(key));
        return true;
    }
    if (watched == ui->EditSuchenText) {
        if (event->type() == QEvent::KeyPress) {
            auto* press = static_cast<QKeyEvent*>(event);
            // Enter in the search text is the search that leaves the dialog
            // open: it must not reach the default button, which closes it.
            if (press->key() == Qt::Key_Return || press->key() == Qt::Key_Enter) {
                if (!press->isAutoRepeat())
                    enterPending_ = true;
                return true;
            }
        } else if (event->type() == QEvent::KeyRelease) {
            auto* release = static_cast<QKeyEvent*>(event);
            if (!release->isAutoRepeat())
                EditSuchenTextKeyUp(release->key());
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TFormSuchen::runSearch() {
    vellumo::runGuarded([this] {
        vellumo::RecordStore& store = source_.store();
        store.SetFilterActive(false);
        const QString field = vellumo::searchFieldName(ui->ComboBox1->currentText());
        store.SetFilterText(vellumo::searchExpression(field, ui->EditSuchenText->text()));
        store.SetFilterActive(true);
        const int matches = store.CountRecords();
        if (matches == 0) {
            store.SetFilterActive(false);
            vellumo::showInformation(QStringLiteral("Keinen entsprechenden Datensatz gefunden!"),
                                     this);
        } else if (matches == 1) {
            const int match = store.RecordNumber();
            store.SetFilterActive(false);
            store.StepBy(match - store.RecordNumber());
        } else {
            personAuswahl_.exec();
        }
    });
    emit searchDone();
}
