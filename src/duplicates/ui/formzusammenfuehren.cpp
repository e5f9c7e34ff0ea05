#include "duplicates/ui/formzusammenfuehren.h"

#include "address/addressschema.h"
#include "platform/system/system.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace duplicates::ui {

namespace {

enum Column { kField, kKeep, kDrop, kResult };

QString shown(const FieldMerge& f, const QVariant& value) {
    if (value.isNull() || !value.isValid())
        return QString();
    switch (f.kind) {
    case vellumo::FieldKind::Date: {
        const QDate date = value.toDate();
        return date.year() == vellumo::address::kYearUnknown
                   ? date.toString(QStringLiteral("dd.MM."))
                   : vellumo::formatGermanDate(date);
    }
    case vellumo::FieldKind::Graphic: {
        const qsizetype bytes = value.toByteArray().size();
        return bytes == 0 ? QString() : QStringLiteral("Bild (%1 KB)").arg((bytes + 1023) / 1024);
    }
    case vellumo::FieldKind::Memo:
        return value.toString().replace(u'\n', QStringLiteral(" ⏎ "));
    default:
        return value.toString();
    }
}

} // namespace

TFormZusammenfuehren::TFormZusammenfuehren(MergePlan& plan, QWidget* parent)
    : QDialog(parent), plan_(plan) {
    setObjectName(QStringLiteral("FormZusammenfuehren"));
    setProperty("helpPage", QStringLiteral("dubletten.html"));
    setWindowTitle(QStringLiteral("Adressen zusammenführen"));

    auto* hinweis = new QLabel(
        QStringLiteral("Gelb markierte Felder unterscheiden sich: wählen Sie den Wert, der bleiben "
                       "soll (Klick oder Leertaste). Der andere Wert kommt in die Bemerkungen, die "
                       "zweite Adresse wird gelöscht."),
        this);
    hinweis->setWordWrap(true);

    tabelle_ = new QTableWidget(static_cast<int>(plan.fields.size()), 4, this);
    tabelle_->setObjectName(QStringLiteral("TabelleFelder"));
    tabelle_->setAccessibleName(QStringLiteral("Felder der beiden Adressen"));
    tabelle_->setHorizontalHeaderLabels(
        {QStringLiteral("Feld"), QStringLiteral("Adresse 1 (bleibt)"),
         QStringLiteral("Adresse 2 (wird gelöscht)"), QStringLiteral("Zusammengeführt")});
    tabelle_->verticalHeader()->hide();
    tabelle_->setSelectionMode(QAbstractItemView::SingleSelection);
    tabelle_->setSelectionBehavior(QAbstractItemView::SelectItems);
    tabelle_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tabelle_->setTabKeyNavigation(false);
    tabelle_->horizontalHeader()->setStretchLastSection(true);
    const QColor differs(255, 244, 179);
    filling_ = true;
    for (int row = 0; row < static_cast<int>(plan.fields.size()); ++row) {
        const FieldMerge& f = plan.fields[static_cast<std::size_t>(row)];
        auto* name = new QTableWidgetItem(fieldLabel(f.field));
        auto* keep = new QTableWidgetItem(shown(f, f.keep));
        auto* drop = new QTableWidgetItem(shown(f, f.drop));
        auto* result = new QTableWidgetItem;
        for (QTableWidgetItem* item : {name, keep, drop, result})
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        if (f.rule == FieldMerge::Choice) {
            QFont bold = name->font();
            bold.setBold(true);
            name->setFont(bold);
            name->setText(name->text() + QStringLiteral(" ≠"));
            for (QTableWidgetItem* item : {keep, drop}) {
                item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
                item->setBackground(differs);
            }
            keep->setCheckState(f.takeDrop ? Qt::Unchecked : Qt::Checked);
            drop->setCheckState(f.takeDrop ? Qt::Checked : Qt::Unchecked);
        }
        tabelle_->setItem(row, kField, name);
        tabelle_->setItem(row, kKeep, keep);
        tabelle_->setItem(row, kDrop, drop);
        tabelle_->setItem(row, kResult, result);
    }
    filling_ = false;
    showResult();
    tabelle_->resizeColumnsToContents();
    tabelle_->resizeRowsToContents();
    for (int column : {kKeep, kDrop})
        tabelle_->setColumnWidth(column, std::min(tabelle_->columnWidth(column), 220));

    auto* buttons = new QDialogButtonBox(this);
    auto* ok = buttons->addButton(QStringLiteral("&Zusammenführen"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("ButtonZusammenfuehren"));
    ok->setDefault(true);
    auto* cancel = buttons->addButton(QStringLiteral("Abbrechen"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("ButtonAbbrechen"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(tabelle_, &QTableWidget::itemChanged, this,
            [this](QTableWidgetItem* item) { itemChanged(item); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(hinweis);
    layout->addWidget(tabelle_, 1);
    layout->addWidget(buttons);
    resize(820, 560);
    tabelle_->setFocus();
}

int TFormZusammenfuehren::rowOf(const QString& field) const {
    for (int row = 0; row < static_cast<int>(plan_.fields.size()); ++row)
        if (plan_.fields[static_cast<std::size_t>(row)].field.compare(field, Qt::CaseInsensitive) ==
            0)
            return row;
    return -1;
}

void TFormZusammenfuehren::choose(int row, bool other) {
    if (row < 0 || row >= static_cast<int>(plan_.fields.size()))
        return;
    FieldMerge& f = plan_.fields[static_cast<std::size_t>(row)];
    if (f.rule != FieldMerge::Choice)
        return;
    f.takeDrop = other;
    filling_ = true;
    tabelle_->item(row, kKeep)->setCheckState(other ? Qt::Unchecked : Qt::Checked);
    tabelle_->item(row, kDrop)->setCheckState(other ? Qt::Checked : Qt::Unchecked);
    filling_ = false;
    showResult();
}

void TFormZusammenfuehren::itemChanged(QTableWidgetItem* item) {
    if (filling_ || (item->column() != kKeep && item->column() != kDrop))
        return;
    // The two values of a row are one choice: checking one takes it, and
    // unchecking one takes the other.
    const bool checked = item->checkState() == Qt::Checked;
    choose(item->row(), (item->column() == kDrop) == checked);
}

void TFormZusammenfuehren::showResult() {
    const QVariantList values = mergedValues(plan_, vellumo::now().date());
    for (int row = 0; row < static_cast<int>(plan_.fields.size()); ++row)
        tabelle_->item(row, kResult)
            ->setText(shown(plan_.fields[static_cast<std::size_t>(row)], values.value(row)));
}

} // namespace duplicates::ui
