#include "find/quicksearch.h"

#include "find/searchrules.h"
#include "platform/database/datasource.h"
#include "platform/ui/messages.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTextDocument>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace vellumo::find {

namespace {

constexpr int kPositionRole = Qt::UserRole;
constexpr int kRangesRole = Qt::UserRole + 1; // QVariantList of QPoint(start, length)
constexpr int kSnippet = 24;                  // characters of a memo before its hit

// The columns: the three that tell people apart, then where the query matched.
const char* const kShownFields[] = {"Name", "Vorname", "Ort"};

QString captionOf(const QString& field) {
    if (field.compare(u"Memo1", Qt::CaseInsensitive) == 0)
        return QStringLiteral("Bemerkungen");
    for (const QString& caption : searchFieldCaptions())
        if (searchFieldName(caption).compare(field, Qt::CaseInsensitive) == 0)
            return caption;
    return field;
}

QVariantList rangesOf(const search::FieldHit& hit, int shift, int from = 0, int to = -1) {
    QVariantList ranges;
    for (const auto& [begin, length] : hit.ranges) {
        if (begin < from || (to >= 0 && begin >= to))
            continue;
        ranges << QPoint(begin - from + shift, length);
    }
    return ranges;
}

// Paints a cell's text with its hits in bold; the text itself stays plain
// for screen readers and tests.
class HitDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        const QString text = item.text;
        item.text.clear();
        QWidget* view = const_cast<QWidget*>(option.widget);
        QStyle* style = view ? view->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &item, painter, view);

        QString html;
        int at = 0;
        for (const QVariant& v : index.data(kRangesRole).toList()) {
            const QPoint r = v.toPoint();
            if (r.x() < at)
                continue;
            html += text.mid(at, r.x() - at).toHtmlEscaped();
            html += QStringLiteral("<b>") + text.mid(r.x(), r.y()).toHtmlEscaped() +
                    QStringLiteral("</b>");
            at = r.x() + r.y();
        }
        html += text.mid(at).toHtmlEscaped();
        QTextDocument doc;
        doc.setDefaultFont(item.font);
        doc.setDocumentMargin(0);
        doc.setHtml(html);
        const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &item, view);
        painter->save();
        painter->translate(area.left() + 2, area.top() + (area.height() - doc.size().height()) / 2);
        painter->setClipRect(QRect(0, 0, area.width() - 2, area.height()));
        QAbstractTextDocumentLayout::PaintContext context;
        context.palette = item.palette;
        context.palette.setColor(QPalette::Text, item.state & QStyle::State_Selected
                                                     ? item.palette.color(QPalette::HighlightedText)
                                                     : item.palette.color(QPalette::Text));
        doc.documentLayout()->draw(painter, context);
        painter->restore();
    }
};

} // namespace

QuickSearch::QuickSearch(DataSource& source, QWidget* boxParent, QWidget* listParent)
    : QObject(boxParent), source_(source),
      index_(std::make_unique<search::Index>(source.store(), search::Index::Building::InSteps)),
      box_(new QLineEdit(boxParent)), listParent_(listParent), popup_(new QFrame(listParent)),
      list_(new QTreeWidget(popup_)), count_(new QLabel(popup_)),
      filterButton_(new QPushButton(popup_)), offButton_(new QPushButton(popup_)) {
    box_->setObjectName(QStringLiteral("Schnellsuche"));
    box_->setAccessibleName(QStringLiteral("Schnellsuche"));
    box_->setPlaceholderText(QStringLiteral("Schnellsuche (Strg+F)"));
    box_->setToolTip(QStringLiteral("Alle Felder durchsuchen: Namen, Orte, Telefonnummern, "
                                    "Bemerkungen (Strg+F, F3)"));
    box_->setClearButtonEnabled(true);
    box_->installEventFilter(this);

    popup_->setObjectName(QStringLiteral("SchnellsucheTreffer"));
    popup_->setFrameShape(QFrame::StyledPanel);
    popup_->setAutoFillBackground(true);
    popup_->hide();
    list_->setObjectName(QStringLiteral("SchnellsucheListe"));
    list_->setAccessibleName(QStringLiteral("Treffer der Schnellsuche"));
    list_->setColumnCount(4);
    list_->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Vorname"),
                            QStringLiteral("Ort"), QStringLiteral("Treffer")});
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setFocusPolicy(Qt::NoFocus); // the keys stay with the box
    list_->setItemDelegate(new HitDelegate(list_));
    list_->header()->setStretchLastSection(true);
    list_->setColumnWidth(0, 110);
    list_->setColumnWidth(1, 90);
    list_->setColumnWidth(2, 90);
    connect(list_, &QTreeWidget::itemClicked, this, guarded([this] { chooseCurrent(); }));

    count_->setObjectName(QStringLiteral("SchnellsucheAnzahl"));
    filterButton_->setText(QStringLiteral("Alle Treffer filtern"));
    filterButton_->setToolTip(QStringLiteral("Nur die Treffer zeigen (Alt+Eingabe)"));
    filterButton_->setFocusPolicy(Qt::NoFocus);
    connect(filterButton_, &QPushButton::clicked, this, guarded([this] { filterMatches(); }));
    offButton_->setText(QStringLiteral("Filter aus"));
    offButton_->setFocusPolicy(Qt::NoFocus);
    offButton_->setEnabled(false);
    connect(offButton_, &QPushButton::clicked, this, guarded([this] { filterOff(); }));

    auto* footer = new QHBoxLayout;
    footer->addWidget(count_, 1);
    footer->addWidget(filterButton_);
    footer->addWidget(offButton_);
    auto* layout = new QVBoxLayout(popup_);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(list_, 1);
    layout->addLayout(footer);

    connect(box_, &QLineEdit::textEdited, this, guarded([this] { textEdited(box_->text()); }));
    // The clear button empties the box without an edit signal.
    connect(box_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text.isEmpty())
            hideList();
    });
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (popup_->isVisible() && now != box_ && !popup_->isAncestorOf(now))
            hideList();
    });
    // Only an open table can be searched; a filter ends with its table.
    auto follow = [this] {
        const RecordStore& store = source_.store();
        box_->setEnabled(store.IsTableOpen());
        if (!store.IsTableOpen())
            hideList();
        const bool on = store.IsTableOpen() && store.IsFilterActive() && store.hasRecordFilter();
        if (on != filtering_) {
            filtering_ = on;
            offButton_->setEnabled(on);
            emit filteringChanged(on);
        }
    };
    // Read in steps: the list says so until the table is read to its end.
    index_->completed = [this] {
        if (popup_->isVisible())
            runGuarded([this] { showMatches(); });
    };
    connect(&source_, &DataSource::stateChanged, this, follow);
    connect(&source_, &DataSource::recordsChanged, this, follow);
    follow();
}

QuickSearch::~QuickSearch() = default;

bool QuickSearch::isFiltering() const {
    return filtering_;
}

void QuickSearch::focusBox() {
    if (!box_->isEnabled())
        return;
    box_->setFocus(Qt::ShortcutFocusReason);
    box_->selectAll();
    if (!box_->text().trimmed().isEmpty())
        showMatches();
}

void QuickSearch::textEdited(const QString& text) {
    // A new search ends the filter of the last one.
    if (isFiltering())
        filterOff();
    query_ = search::Query::parse(text);
    if (query_.isEmpty()) {
        hideList();
        return;
    }
    showMatches();
}

void QuickSearch::showMatches() {
    query_ = search::Query::parse(box_->text());
    const search::Matches matches = index_->find(query_, kListRows);
    const RecordStore& store = source_.store();
    list_->setUpdatesEnabled(false);
    list_->clear();
    QList<QTreeWidgetItem*> rows;
    for (const search::Match& match : matches.best) {
        auto* row = new QTreeWidgetItem;
        row->setData(0, kPositionRole, match.position);
        const std::vector<search::FieldHit> hits = index_->hitsAt(match.position, query_);
        const QStringList texts = store.storedTexts(match.position);
        int column = 0;
        for (const char* name : kShownFields) {
            const int field = store.fieldIndex(QString::fromLatin1(name));
            row->setText(column, field >= 0 && field < texts.size() ? texts[field] : QString());
            ++column;
        }
        // Hits in the three shown fields are marked there; the first hit
        // elsewhere gets the last column.
        const search::FieldHit* other = nullptr;
        for (const search::FieldHit& hit : hits) {
            column = 0;
            bool shown = false;
            for (const char* name : kShownFields) {
                if (hit.field.compare(QString::fromLatin1(name), Qt::CaseInsensitive) == 0) {
                    row->setData(column, kRangesRole, rangesOf(hit, 0));
                    shown = true;
                }
                ++column;
            }
            if (!shown && !other)
                other = &hit;
        }
        if (other) {
            const QString prefix = captionOf(other->field) + QStringLiteral(": ");
            QString text = other->text;
            int from = 0;
            if (text.contains(u'\n') || text.size() > 60) {
                // A memo: the line around its first hit.
                from = std::max(0, (other->ranges.empty() ? 0 : other->ranges.front().first) -
                                       kSnippet);
                text = text.mid(from, 80);
                text.replace(u'\n', u' ');
                if (from > 0)
                    text.prepend(u'…'), --from;
            }
            row->setText(3, prefix + text);
            row->setData(3, kRangesRole,
                         rangesOf(*other, static_cast<int>(prefix.size()), from,
                                  from + static_cast<int>(text.size())));
        }
        rows << row;
    }
    list_->addTopLevelItems(rows);
    if (!rows.isEmpty())
        list_->setCurrentItem(rows.front());
    list_->setUpdatesEnabled(true);
    const int total = static_cast<int>(matches.positions.size());
    const QLocale german(QLocale::German, QLocale::Germany);
    count_->setText(total == 0   ? QStringLiteral("Keine Treffer")
                    : total == 1 ? QStringLiteral("1 Treffer")
                                 : german.toString(total) + QStringLiteral(" Treffer"));
    if (!index_->isComplete())
        count_->setText(count_->text() + QStringLiteral(" – Suchindex wird aufgebaut (%1 von %2) …")
                                             .arg(german.toString(index_->recordCount()),
                                                  german.toString(source_.store().storedCount())));
    filterButton_->setEnabled(total > 0);
    placeList();
    popup_->show();
    popup_->raise();
}

void QuickSearch::placeList() {
    const int rows = std::clamp(list_->topLevelItemCount(), 3, 10);
    const int rowHeight = std::max(list_->sizeHintForRow(0), box_->fontMetrics().height() + 4);
    const int height = std::min(listParent_->height() - 8,
                                list_->header()->sizeHint().height() + rows * rowHeight +
                                    filterButton_->sizeHint().height() + 16);
    const int width = std::min(listParent_->width() - 8, 520);
    const QPoint below = box_->mapTo(listParent_->window(), QPoint(box_->width(), box_->height()));
    const QPoint at = listParent_->mapFrom(listParent_->window(), below);
    popup_->setGeometry(std::clamp(at.x() - width, 4, listParent_->width() - width - 4), at.y() + 2,
                        width, height);
}

void QuickSearch::hideList() {
    popup_->hide();
}

void QuickSearch::step(int rows) {
    const int count = list_->topLevelItemCount();
    if (count == 0)
        return;
    const int now = list_->currentItem() ? list_->indexOfTopLevelItem(list_->currentItem()) : 0;
    list_->setCurrentItem(list_->topLevelItem(std::clamp(now + rows, 0, count - 1)));
}

void QuickSearch::chooseCurrent() {
    QTreeWidgetItem* row = list_->currentItem();
    if (!popup_->isVisible() || !row)
        return;
    const int position = row->data(0, kPositionRole).toInt();
    hideList();
    source_.store().moveToStored(position);
}

void QuickSearch::filterMatches() {
    query_ = search::Query::parse(box_->text());
    if (query_.isEmpty() || !source_.store().IsTableOpen())
        return;
    hideList();
    source_.store().SetFilterRecords(index_->filterFor(query_));
}

void QuickSearch::filterOff() {
    RecordStore& store = source_.store();
    if (!store.IsTableOpen() || !store.hasRecordFilter() || !store.IsFilterActive())
        return;
    const int position = store.RecordNumber() - 1;
    store.SetFilterActive(false);
    if (position >= 0)
        store.moveToStored(position);
}

bool QuickSearch::eventFilter(QObject* watched, QEvent* event) {
    if (watched != box_ || event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const int visibleRows =
        std::max(1, list_->viewport()->height() / std::max(1, list_->sizeHintForRow(0)));
    switch (key->key()) {
    case Qt::Key_Down:
    case Qt::Key_Up:
    case Qt::Key_PageDown:
    case Qt::Key_PageUp:
        if (!popup_->isVisible()) {
            if (box_->text().trimmed().isEmpty())
                return false;
            runGuarded([this] { showMatches(); });
            return true;
        }
        step(key->key() == Qt::Key_Down     ? 1
             : key->key() == Qt::Key_Up     ? -1
             : key->key() == Qt::Key_PageUp ? -visibleRows
                                            : visibleRows);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (key->modifiers() & Qt::AltModifier)
            runGuarded([this] { filterMatches(); });
        else
            runGuarded([this] { chooseCurrent(); });
        return true;
    case Qt::Key_Escape:
        if (!popup_->isVisible())
            return false;
        hideList();
        return true;
    default:
        return false;
    }
}

} // namespace vellumo::find
