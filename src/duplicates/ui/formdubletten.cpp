#include "duplicates/ui/formdubletten.h"

#include "duplicates/ui/formzusammenfuehren.h"
#include "platform/database/recordstore.h"
#include "platform/system/system.h"
#include "platform/ui/messages.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace duplicates::ui {

namespace {

constexpr int kPairRole = Qt::UserRole;

QString countText(int count) {
    if (count == 0)
        return QStringLiteral("Keine vermutlich doppelten Adressen gefunden.");
    return count == 1 ? QStringLiteral("1 Paar vermutlich doppelter Adressen.")
                      : QStringLiteral("%1 Paare vermutlich doppelter Adressen.").arg(count);
}

} // namespace

TFormDubletten::TFormDubletten(vellumo::RecordStore& store, QWidget* parent,
                               const QSet<QString>* onlyWith)
    : QDialog(parent), store_(store) {
    setObjectName(QStringLiteral("FormDubletten"));
    setProperty("helpPage", QStringLiteral("dubletten.html"));
    setWindowTitle(QStringLiteral("Doppelte Adressen"));
    if (onlyWith) {
        restricted_ = true;
        onlyWith_ = *onlyWith;
    }
    askMerge = [](MergePlan& plan, QWidget* over) {
        TFormZusammenfuehren form(plan, over);
        return form.exec() == QDialog::Accepted;
    };

    liste_ = new QTreeWidget(this);
    liste_->setObjectName(QStringLiteral("ListeDubletten"));
    liste_->setAccessibleName(QStringLiteral("Vermutlich doppelte Adressen"));
    liste_->setHeaderLabels({QStringLiteral("Punkte"), QStringLiteral("Adresse"),
                             QStringLiteral("vermutlich dieselbe wie"), QStringLiteral("Gründe")});
    liste_->setRootIsDecorated(false);
    liste_->setUniformRowHeights(true);
    liste_->setAllColumnsShowFocus(true);
    liste_->setSelectionMode(QAbstractItemView::SingleSelection);
    liste_->header()->setSectionsMovable(false);
    liste_->installEventFilter(this);

    anzahl_ = new QLabel(this);
    anzahl_->setObjectName(QStringLiteral("LabelAnzahl"));

    const auto button = [this](const QString& text, const char* name) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };
    zusammenfuehren_ = button(QStringLiteral("&Zusammenführen …"), "ButtonZusammenfuehren");
    keineDubletten_ = button(QStringLiteral("&Keine Dubletten"), "ButtonKeineDubletten");
    ueberspringen_ = button(QStringLiteral("Ü&berspringen"), "ButtonUeberspringen");
    auto* schliessen = button(QStringLiteral("&Schließen"), "ButtonSchliessen");
    keineDubletten_->setToolTip(
        QStringLiteral("Die beiden Adressen gehören verschiedenen Personen; das Paar wird "
                       "nicht wieder angeboten"));
    ueberspringen_->setToolTip(QStringLiteral("Das Paar für dieses Mal übergehen"));

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(zusammenfuehren_);
    bottom->addWidget(keineDubletten_);
    bottom->addWidget(ueberspringen_);
    bottom->addStretch();
    bottom->addWidget(schliessen);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(liste_, 1);
    layout->addWidget(anzahl_);
    layout->addLayout(bottom);
    resize(860, 420);

    connect(zusammenfuehren_, &QPushButton::clicked, this,
            vellumo::guarded([this] { ZusammenfuehrenClick(); }));
    connect(keineDubletten_, &QPushButton::clicked, this,
            vellumo::guarded([this] { KeineDublettenClick(); }));
    connect(ueberspringen_, &QPushButton::clicked, this,
            vellumo::guarded([this] { UeberspringenClick(); }));
    connect(schliessen, &QPushButton::clicked, this, &QDialog::reject);
    connect(liste_, &QTreeWidget::itemDoubleClicked, this,
            vellumo::guarded([this] { ZusammenfuehrenClick(); }));
    connect(liste_, &QTreeWidget::currentItemChanged, this, [this] { selectionChanged(); });

    QString error;
    if (!dismissed_.load(store_.tableFileName(), &error))
        vellumo::showErrorMessage(error, parent);
    refresh();
    liste_->setFocus();
}

void TFormDubletten::refresh() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        persons_ = readPersons(store_);
        std::vector<bool> isNew;
        if (restricted_) {
            isNew.reserve(persons_.size());
            for (const Person& p : persons_)
                isNew.push_back(onlyWith_.contains(keyText(p)));
        }
        pairs_ = dismissed_.without(findPairs(persons_, restricted_ ? &isNew : nullptr), persons_);
    } catch (...) {
        QApplication::restoreOverrideCursor();
        throw;
    }
    QApplication::restoreOverrideCursor();
    liste_->clear();
    QList<QTreeWidgetItem*> items;
    for (std::size_t n = 0; n < pairs_.size(); ++n) {
        const Pair& pair = pairs_[n];
        auto* item = new QTreeWidgetItem(
            QStringList{QString::number(pair.likeness.score),
                        shortText(persons_[static_cast<std::size_t>(pair.first)]),
                        shortText(persons_[static_cast<std::size_t>(pair.second)]),
                        pair.likeness.reasons.join(QStringLiteral(", "))});
        item->setData(0, kPairRole, static_cast<int>(n));
        item->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
        items.append(item);
    }
    liste_->addTopLevelItems(items);
    for (int column = 0; column < liste_->columnCount(); ++column)
        liste_->resizeColumnToContents(column);
    if (!items.isEmpty())
        liste_->setCurrentItem(items.first());
    anzahl_->setText(countText(static_cast<int>(items.size())));
    selectionChanged();
}

int TFormDubletten::shownCount() const {
    return liste_->topLevelItemCount();
}

bool TFormDubletten::eventFilter(QObject* watched, QEvent* event) {
    if (watched == liste_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            vellumo::runGuarded([this] { ZusammenfuehrenClick(); });
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

const Pair* TFormDubletten::currentPair() const {
    const QTreeWidgetItem* item = liste_->currentItem();
    if (!item)
        return nullptr;
    return &pairs_[static_cast<std::size_t>(item->data(0, kPairRole).toInt())];
}

void TFormDubletten::selectionChanged() {
    const bool any = currentPair() != nullptr;
    for (QPushButton* b : {zusammenfuehren_, keineDubletten_, ueberspringen_})
        b->setEnabled(any);
}

void TFormDubletten::removeCurrent() {
    delete liste_->currentItem();
    anzahl_->setText(countText(liste_->topLevelItemCount()));
    selectionChanged();
}

void TFormDubletten::ZusammenfuehrenClick() {
    const Pair* pair = currentPair();
    if (!pair)
        return;
    MergePlan plan = planMerge(store_, persons_[static_cast<std::size_t>(pair->first)].position,
                               persons_[static_cast<std::size_t>(pair->second)].position);
    if (!askMerge(plan, this))
        return;
    const int row = liste_->indexOfTopLevelItem(liste_->currentItem());
    mergeRecords(store_, plan, vellumo::now().date());
    // The positions moved: the list is read again, near where it was.
    refresh();
    if (liste_->topLevelItemCount() > 0)
        liste_->setCurrentItem(
            liste_->topLevelItem(std::min(row, liste_->topLevelItemCount() - 1)));
}

void TFormDubletten::KeineDublettenClick() {
    const Pair* pair = currentPair();
    if (!pair)
        return;
    dismissed_.add(persons_[static_cast<std::size_t>(pair->first)].key,
                   persons_[static_cast<std::size_t>(pair->second)].key);
    removeCurrent();
    QString error;
    if (!dismissed_.save(&error))
        throw vellumo::StoreError(
            error + QStringLiteral(". Das Paar wird nur bis zum Schließen der Liste übergangen"));
}

void TFormDubletten::UeberspringenClick() {
    if (currentPair())
        removeCurrent();
}

void DoppelteAdressenClick(vellumo::RecordStore& store, QWidget* parent) {
    // A record being edited is stored first, as every move does.
    store.SaveRecord();
    TFormDubletten form(store, parent);
    form.exec();
}

} // namespace duplicates::ui
