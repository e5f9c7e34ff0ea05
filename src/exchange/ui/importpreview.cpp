#include "exchange/ui/importpreview.h"

#include "exchange/columns.h"
#include "platform/database/recordstore.h"
#include "platform/settings/profile.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vellumo::exchange {

namespace {

QString shownValue(const QVariant& value) {
    if (value.typeId() == QMetaType::QDate)
        return formatGermanDate(value.toDate());
    if (value.typeId() == QMetaType::QByteArray)
        return QStringLiteral("(Bild)");
    return value.toString().replace(u'\n', QStringLiteral(" ¶ "));
}

} // namespace

ImportPreviewDialog::ImportPreviewDialog(const RecordStore& store, const QString& path,
                                         ImportPreview preview, ColumnChoices choices,
                                         QWidget* parent)
    : QDialog(parent), store_(store), path_(path), preview_(std::move(preview)),
      choices_(std::move(choices)) {
    setObjectName(QStringLiteral("ImportPreview"));
    setWindowTitle(QStringLiteral("Importieren – Vorschau"));
    while (choices_.size() < preview_.columnNames.size())
        choices_ << QString();
    automatic_ = ColumnMapping(preview_.columnNames).targets();

    auto* layout = new QVBoxLayout(this);
    about_ = new QLabel(this);
    about_->setWordWrap(true);
    layout->addWidget(about_);

    auto* mappingBox = new QGroupBox(QStringLiteral("&Zuordnung der Spalten"), this);
    auto* mappingLayout = new QVBoxLayout(mappingBox);
    mapping_ = new QTableWidget(mappingBox);
    mapping_->setObjectName(QStringLiteral("Zuordnung"));
    mapping_->setColumnCount(2);
    mapping_->setHorizontalHeaderLabels(
        {QStringLiteral("Spalte der Datei"), QStringLiteral("kommt nach")});
    mapping_->verticalHeader()->hide();
    mapping_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    mapping_->horizontalHeader()->setStretchLastSection(true);
    mapping_->setSelectionMode(QAbstractItemView::NoSelection);
    mappingLayout->addWidget(mapping_);
    layout->addWidget(mappingBox, 2);

    const QStringList fields = chosenFields();
    for (int i = 0; i < preview_.columnNames.size(); ++i) {
        const QString name = preview_.columnNames[i].trimmed();
        if (name.isEmpty())
            continue; // a picture or a file's bookkeeping: no choice
        const int row = mapping_->rowCount();
        mapping_->insertRow(row);
        auto* item = new QTableWidgetItem(name);
        item->setFlags(Qt::ItemIsEnabled);
        mapping_->setItem(row, 0, item);
        auto* combo = new QComboBox(mapping_);
        combo->setObjectName(QStringLiteral("Spalte%1").arg(i));
        combo->setAccessibleName(QStringLiteral("%1 kommt nach").arg(name));
        combo->addItem(QString(), QString()); // "as the name says", its text set in fill()
        for (const QString& f : fields)
            combo->addItem(f, f);
        combo->addItem(QStringLiteral("Bemerkungen (\"%1: Wert\")").arg(name), notesChoice());
        combo->setCurrentIndex(std::max(0, combo->findData(choices_.value(i))));
        connect(combo, &QComboBox::activated, this,
                [this, combo, i](int index) { choose(i, combo->itemData(index).toString()); });
        mapping_->setCellWidget(row, 1, combo);
    }

    auto* recordsBox = new QGroupBox(QStringLiteral("Die ersten &Sätze, wie sie ankommen"), this);
    auto* recordsLayout = new QVBoxLayout(recordsBox);
    records_ = new QTableWidget(recordsBox);
    records_->setObjectName(QStringLiteral("Vorschau"));
    records_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // One line per record: a wrapped cell would cut the accents of its first line.
    records_->setWordWrap(false);
    records_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    recordsLayout->addWidget(records_);
    layout->addWidget(recordsBox, 3);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* start =
        buttons->addButton(QStringLiteral("&Importieren"), QDialogButtonBox::AcceptRole);
    start->setDefault(true);
    QPushButton* reset =
        buttons->addButton(QStringLiteral("Wie die &Namen sagen"), QDialogButtonBox::ResetRole);
    buttons->addButton(QStringLiteral("Abbrechen"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(reset, &QPushButton::clicked, this, [this] {
        for (QString& c : choices_)
            c.clear();
        for (QComboBox* combo : mapping_->findChildren<QComboBox*>())
            combo->setCurrentIndex(0);
        reread();
    });
    layout->addWidget(buttons);
    fill();
    resize(860, 640);
}

void ImportPreviewDialog::choose(int column, const QString& choice) {
    if (choices_.value(column) == choice)
        return;
    choices_[column] = choice;
    reread();
}

void ImportPreviewDialog::reread() {
    // The file is read again: a choice may join or part columns (a street
    // and its house number), and the fitting to the table depends on it.
    preview_ = previewFile(store_, path_, choices_);
    fill();
}

void ImportPreviewDialog::fill() {
    QStringList about;
    about << QStringLiteral("%1 (%2)").arg(QDir::toNativeSeparators(QFileInfo(path_).fileName()),
                                           formatName(preview_.format));
    about += preview_.remarks;
    about << QStringLiteral("Jede Spalte kommt dorthin, wohin ihr Name sagt; was keinem Feld "
                            "entspricht, kommt als „Spalte: Wert“ in die Bemerkungen. Eine andere "
                            "Zuordnung merkt sich Vellumo für Dateien mit denselben Spalten.");
    about_->setText(about.join(u'\n'));

    for (QComboBox* combo : mapping_->findChildren<QComboBox*>()) {
        const int column = combo->objectName().mid(6).toInt();
        combo->setItemText(0,
                           QStringLiteral("wie der Name sagt: %1").arg(automatic_.value(column)));
    }

    // The table's fields that any of the records fills, in the table's order.
    QStringList shown;
    for (const FieldInfo& f : store_.fields())
        for (const PreviewRecord& r : preview_.records)
            if (r.values.contains(f.name)) {
                shown << f.name;
                break;
            }
    records_->clear();
    records_->setColumnCount(static_cast<int>(shown.size()) + 1);
    QStringList headers = shown;
    headers << QStringLiteral("Bemerkungen zum Import");
    records_->setHorizontalHeaderLabels(headers);
    records_->setRowCount(static_cast<int>(preview_.records.size()));
    QStringList rows;
    for (int r = 0; r < static_cast<int>(preview_.records.size()); ++r) {
        const PreviewRecord& record = preview_.records[static_cast<std::size_t>(r)];
        rows << QString::number(record.origin);
        for (int c = 0; c < shown.size(); ++c)
            if (record.values.contains(shown[c]))
                records_->setItem(r, c, new QTableWidgetItem(shownValue(record.values[shown[c]])));
        auto* remark =
            new QTableWidgetItem((record.refused ? QStringLiteral("abgewiesen: ") : QString()) +
                                 record.lines.join(QStringLiteral("; ")));
        remark->setToolTip(record.lines.join(u'\n'));
        records_->setItem(r, static_cast<int>(shown.size()), remark);
    }
    records_->setVerticalHeaderLabels(rows);
    records_->resizeColumnsToContents();
    for (int c = 0; c < records_->columnCount(); ++c)
        records_->setColumnWidth(c, std::min(records_->columnWidth(c), 260));
}

} // namespace vellumo::exchange
