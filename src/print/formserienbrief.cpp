#include "print/formserienbrief.h"

#include "address/addresstable.h"
#include "platform/database/datasource.h"
#include "platform/database/recordstore.h"
#include "platform/report/output.h"
#include "platform/settings/profile.h"
#include "platform/system/system.h"
#include "platform/ui/messages.h"
#include "platform/ui/placement.h"
#include "print/printdialogs.h"
#include "print/sender.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace vellumo::print {

namespace {

const QString kSection = QStringLiteral("Serienbrief");

// The current record alone, as the rows of a run.
class CurrentRow : public report::RowSource {
public:
    explicit CurrentRow(RecordStore& store) : rows_(store), store_(store) {}
    void Settle() override { rows_.Settle(); }
    int Count() override {
        row_ = store_.IsTableOpen() ? store_.visiblePosition() : -1;
        return row_ >= 0 ? 1 : 0;
    }
    void Seek(int) override { rows_.Seek(row_); }
    QString FieldText(const QString& field) const override { return rows_.FieldText(field); }
    void RunEnded(int) override {}

private:
    StoreRows rows_;
    RecordStore& store_;
    int row_ = -1;
};

// One row of others, as the rows of its own letter.
class OneOf : public report::RowSource {
public:
    OneOf(report::RowSource& rows, int row) : rows_(rows), row_(row) {}
    int Count() override { return 1; }
    void Seek(int) override { rows_.Seek(row_); }
    QString FieldText(const QString& field) const override { return rows_.FieldText(field); }

private:
    report::RowSource& rows_;
    int row_;
};

// A file name from a record's name, without what file systems refuse.
QString fileNameFor(const QString& name, const QString& vorname) {
    QString base = (name + QLatin1Char(' ') + vorname).simplified();
    static const QString kForbidden = QStringLiteral("/\\:*?\"<>|");
    for (QChar& c : base)
        if (kForbidden.contains(c) || c.unicode() < 32)
            c = u'_';
    return base.isEmpty() ? QStringLiteral("Brief") : base;
}

} // namespace

QString sampleLetterTemplate() {
    QFile file(QStringLiteral(":/letters/Serienbrief.txt"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

TFormSerienbrief::TFormSerienbrief(DataSource& source, QWidget* parent)
    : QDialog(parent), source_(source), rows_(source.store()),
      current_(std::make_unique<CurrentRow>(source.store())) {
    setObjectName(QStringLiteral("FormSerienbrief"));
    setWindowTitle(QStringLiteral("Serienbrief"));

    path_ = new QLineEdit(this);
    path_->setReadOnly(true);
    path_->setAccessibleName(QStringLiteral("Datei der Briefvorlage"));
    path_->setPlaceholderText(QStringLiteral("Mustervorlage (noch nicht gespeichert)"));
    auto* open = new QPushButton(QStringLiteral("Ö&ffnen …"), this);
    auto* save = new QPushButton(QStringLiteral("Speichern &unter …"), this);
    auto* fieldButton = new QPushButton(QStringLiteral("Feld &einfügen"), this);
    auto* fields = new QMenu(fieldButton);
    for (const QString& field : addressFieldNames())
        if (field != u"Grafik")
            fields->addAction(field, this, [this, field] { insertField(field); });
    fields->addSeparator();
    fields->addAction(kSalutation, this, [this] { insertField(kSalutation); });
    fieldButton->setMenu(fields);

    editor_ = new QPlainTextEdit(this);
    editor_->setObjectName(QStringLiteral("Vorlage"));
    editor_->setAccessibleName(QStringLiteral("Briefvorlage"));
    editor_->setTabChangesFocus(true);
    editor_->setMinimumSize(460, 260);
    auto* editorLabel = new QLabel(QStringLiteral("&Vorlage (erste Zeilen \"Betreff:\" und "
                                                  "\"Datum:\", Felder als «Name»):"),
                                   this);
    editorLabel->setBuddy(editor_);

    salutation_ = new QLineEdit(kDefaultSalutation, this);
    salutation_->setObjectName(QStringLiteral("Anrede"));
    form_ = new QComboBox(this);
    form_->setObjectName(QStringLiteral("Form"));
    form_->addItem(QStringLiteral("Form B (Anschriftfeld 45 mm von oben)"), QStringLiteral("B"));
    form_->addItem(QStringLiteral("Form A (Anschriftfeld 27 mm von oben)"), QStringLiteral("A"));
    auto* settings = new QFormLayout;
    settings->addRow(QStringLiteral("&Anrede:"), salutation_);
    settings->addRow(QStringLiteral("Brief&form:"), form_);

    auto* which = new QGroupBox(QStringLiteral("Briefe für"), this);
    currentOnly_ = new QRadioButton(QStringLiteral("den aktuellen &Datensatz"), which);
    all_ = new QRadioButton(QStringLiteral("alle Datensä&tze"), which);
    all_->setChecked(true);
    auto* whichLayout = new QVBoxLayout(which);
    whichLayout->addWidget(currentOnly_);
    whichLayout->addWidget(all_);

    auto* buttons = new QDialogButtonBox(this);
    auto* preview = buttons->addButton(QStringLiteral("Vo&rschau"), QDialogButtonBox::ActionRole);
    auto* print = buttons->addButton(QStringLiteral("&Drucken"), QDialogButtonBox::AcceptRole);
    auto* pdf =
        buttons->addButton(QStringLiteral("Als &PDF speichern …"), QDialogButtonBox::ActionRole);
    auto* files = buttons->addButton(QStringLiteral("&Je Brief eine PDF-Datei …"),
                                     QDialogButtonBox::ActionRole);
    buttons->addButton(QStringLiteral("Schließen"), QDialogButtonBox::RejectRole);
    print->setDefault(true);

    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(path_, 1);
    fileRow->addWidget(open);
    fileRow->addWidget(save);
    fileRow->addWidget(fieldButton);
    auto* lower = new QHBoxLayout;
    lower->addLayout(settings, 1);
    lower->addWidget(which);
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(fileRow);
    outer->addWidget(editorLabel);
    outer->addWidget(editor_, 1);
    outer->addLayout(lower);
    outer->addWidget(buttons);

    connect(open, &QPushButton::clicked, this, guarded([this] { openTemplate(); }));
    connect(save, &QPushButton::clicked, this, guarded([this] { saveTemplate(); }));
    connect(preview, &QPushButton::clicked, this, guarded([this] { run("vorschau"); }));
    connect(print, &QPushButton::clicked, this, guarded([this] { run("drucken"); }));
    connect(pdf, &QPushButton::clicked, this, guarded([this] { run("pdf"); }));
    connect(files, &QPushButton::clicked, this, guarded([this] { run("dateien"); }));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    // The template used last time, else the sample.
    const QString ini = setupIniPath();
    const QString last = ReadSettingText(ini, kSection, QStringLiteral("Vorlage"), QString());
    QFile file(last);
    if (!last.isEmpty() && file.open(QIODevice::ReadOnly)) {
        editor_->setPlainText(QString::fromUtf8(file.readAll()));
        path_->setText(last);
    } else {
        editor_->setPlainText(sampleLetterTemplate());
    }
    salutation_->setText(
        ReadSettingText(ini, kSection, QStringLiteral("Anrede"), kDefaultSalutation));
    form_->setCurrentIndex(ReadSettingText(ini, kSection, QStringLiteral("Form"), QString()) ==
                           u"A");
    centreWhenShown(this);
}

TFormSerienbrief::~TFormSerienbrief() = default;

void TFormSerienbrief::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    const RecordStore& store = source_.store();
    const int count = store.IsTableOpen() ? store.visibleCount() : 0;
    all_->setText(store.IsFilterActive()
                      ? QStringLiteral("die gefilterten Datensä&tze (%1)").arg(count)
                      : QStringLiteral("alle Datensä&tze (%1)").arg(count));
}

void TFormSerienbrief::insertField(const QString& field) {
    editor_->insertPlainText(QStringLiteral("«%1»").arg(field));
    editor_->setFocus();
}

void TFormSerienbrief::openTemplate() {
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Briefvorlage öffnen"), QFileInfo(path_->text()).absolutePath(),
        QStringLiteral("Textdateien (*.txt);;Alle Dateien (*)"));
    if (path.isEmpty())
        return;
    // Checked before it replaces what is in the editor.
    LetterTemplate::load(path, addressFieldNames());
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    editor_->setPlainText(QString::fromUtf8(file.readAll()));
    path_->setText(path);
}

void TFormSerienbrief::saveTemplate() {
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Briefvorlage speichern"),
        path_->text().isEmpty() ? QDir::home().filePath(QStringLiteral("Serienbrief.txt"))
                                : path_->text(),
        QStringLiteral("Textdateien (*.txt)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!writeFileSafely(path, editor_->toPlainText().toUtf8(), &error))
        throw report::ReportError(
            QStringLiteral("Die Briefvorlage kann nicht gespeichert werden: %1").arg(error));
    path_->setText(path);
}

void TFormSerienbrief::applyTo(LetterStyle& style) const {
    style.setOption(QStringLiteral("Text"), editor_->toPlainText());
    style.setOption(QStringLiteral("Anrede"), salutation_->text());
    style.setOption(QStringLiteral("Form"), form_->currentData());
    const SenderSettings sender = loadSenderSettings(senderIniPath());
    style.setOption(QStringLiteral("Absender"),
                    sender.print ? returnLine(sender.lines) : QString());
}

report::RowSource& TFormSerienbrief::chosenRows() {
    return currentOnly_->isChecked() ? *current_ : static_cast<report::RowSource&>(rows_);
}

int TFormSerienbrief::writeLetterFiles(const QString& folder) {
    report::RowSource& rows = chosenRows();
    rows.Settle();
    const int count = rows.Count();
    QProgressDialog progress(QStringLiteral("Briefe werden geschrieben …"),
                             QStringLiteral("Abbrechen"), 0, count, this);
    progress.setWindowTitle(QStringLiteral("Serienbrief"));
    progress.setMinimumDuration(500);
    const QDir dir(folder);
    int written = 0;
    for (int i = 0; i < count && !progress.wasCanceled(); ++i) {
        progress.setValue(i);
        OneOf one(rows, i);
        LetterStyle style(&one);
        applyTo(style);
        rows.Seek(i);
        const QString base = fileNameFor(rows.FieldText(QStringLiteral("Name")),
                                         rows.FieldText(QStringLiteral("Vorname")));
        QString path = dir.filePath(base + QStringLiteral(".pdf"));
        for (int n = 2; QFileInfo::exists(path); ++n)
            path = dir.filePath(QStringLiteral("%1 (%2).pdf").arg(base).arg(n));
        report::writePdf(style.report(), style.geometry(), path);
        ++written;
    }
    progress.setValue(count);
    return written;
}

void TFormSerienbrief::run(const char* what) {
    const QByteArray action(what);
    // Checked before anything is printed: an unknown placeholder is named.
    LetterStyle style(&chosenRows());
    applyTo(style);

    keepChoices(kSection, {{QStringLiteral("Vorlage"), path_->text()},
                           {QStringLiteral("Anrede"), salutation_->text()},
                           {QStringLiteral("Form"), form_->currentData().toString()}});

    if (action == "vorschau") {
        report::Preview(style.report(), this);
    } else if (action == "pdf") {
        report::savePdfAs(style.report(), style.geometry(), this);
    } else if (action == "dateien") {
        const QString folder = QFileDialog::getExistingDirectory(
            this, QStringLiteral("Ordner für die Briefe"), QDir::homePath());
        if (folder.isEmpty())
            return;
        const int written = writeLetterFiles(folder);
        showInformation(QStringLiteral("%1 Briefe wurden als PDF-Dateien in \"%2\" gespeichert.")
                            .arg(written)
                            .arg(QDir::toNativeSeparators(folder)),
                        this);
    } else {
        report::Print(style.report(), this);
    }
}

} // namespace vellumo::print
