#include "aids/formgeburtstage.h"

#include "aids/birthdaycalendar.h"
#include "aids/birthdays.h"
#include "platform/database/recordstore.h"
#include "platform/settings/profile.h"
#include "platform/system/system.h"
#include "platform/ui/messages.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

using namespace vellumo;
using namespace vellumo::aids;

namespace {

constexpr int kPositionRole = Qt::UserRole;
const int kReminderChoices[] = {-1, 0, 1, 2, 3, 7, 14};

QString reminderText(int days) {
    if (days < 0)
        return QStringLiteral("keine");
    if (days == 0)
        return QStringLiteral("am Tag selbst");
    return days == 1 ? QStringLiteral("1 Tag vorher") : QStringLiteral("%1 Tage vorher").arg(days);
}

QString daysSuffix(int days) {
    return days == 1 ? QStringLiteral(" Tag") : QStringLiteral(" Tage");
}

QString countText(int count, int days) {
    const QString range = days == 0   ? QStringLiteral("heute")
                          : days == 1 ? QStringLiteral("bis morgen")
                                      : QStringLiteral("in den nächsten %1 Tagen").arg(days);
    if (count == 0)
        return QStringLiteral("Keine Geburtstage %1.").arg(range);
    return count == 1 ? QStringLiteral("1 Geburtstag %1.").arg(range)
                      : QStringLiteral("%1 Geburtstage %2.").arg(count).arg(range);
}

// The export dialog remembers its folder for the run.
QString& lastFolder() {
    static QString folder;
    return folder;
}

} // namespace

TFormGeburtstage::TFormGeburtstage(RecordStore& store, QWidget* parent)
    : QDialog(parent), store_(store) {
    setObjectName(QStringLiteral("FormGeburtstage"));
    setWindowTitle(QStringLiteral("Geburtstage"));
    const BirthdaySettings settings = readBirthdaySettings(setupIniPath());

    tage_ = new QSpinBox(this);
    tage_->setObjectName(QStringLiteral("SpinTage"));
    tage_->setRange(0, kMaxListDays);
    tage_->setValue(settings.days);
    tage_->setSuffix(daysSuffix(settings.days));
    auto* tageLabel = new QLabel(QStringLiteral("&Zeitraum:"), this);
    tageLabel->setBuddy(tage_);

    schalttag_ = new QComboBox(this);
    schalttag_->setObjectName(QStringLiteral("ComboSchalttag"));
    schalttag_->addItems({QStringLiteral("am 28. Februar"), QStringLiteral("am 1. März")});
    schalttag_->setCurrentIndex(static_cast<int>(settings.leapDay));
    auto* schalttagLabel = new QLabel(QStringLiteral("29. &Februar in Gemeinjahren:"), this);
    schalttagLabel->setBuddy(schalttag_);

    liste_ = new QTreeWidget(this);
    liste_->setObjectName(QStringLiteral("ListeGeburtstage"));
    liste_->setAccessibleName(QStringLiteral("Geburtstage"));
    liste_->setHeaderLabels({QStringLiteral("Tag"), QStringLiteral("Datum"), QStringLiteral("Name"),
                             QStringLiteral("Vorname"), QStringLiteral("Alter")});
    liste_->setRootIsDecorated(false);
    liste_->setUniformRowHeights(true);
    liste_->setAllColumnsShowFocus(true);
    liste_->setSelectionMode(QAbstractItemView::SingleSelection);
    liste_->header()->setSectionsMovable(false);
    liste_->installEventFilter(this);

    anzahl_ = new QLabel(this);
    anzahl_->setObjectName(QStringLiteral("LabelAnzahl"));

    erinnerung_ = new QComboBox(this);
    erinnerung_->setObjectName(QStringLiteral("ComboErinnerung"));
    std::vector<int> choices(std::begin(kReminderChoices), std::end(kReminderChoices));
    if (std::find(choices.begin(), choices.end(), settings.reminderDays) == choices.end())
        choices.insert(std::upper_bound(choices.begin(), choices.end(), settings.reminderDays),
                       settings.reminderDays);
    for (int days : choices)
        erinnerung_->addItem(reminderText(days), days);
    erinnerung_->setCurrentIndex(erinnerung_->findData(settings.reminderDays));
    auto* erinnerungLabel = new QLabel(QStringLiteral("&Erinnerung im Kalender:"), this);
    erinnerungLabel->setBuddy(erinnerung_);

    kalender_ = new QPushButton(QStringLiteral("Als &Kalender exportieren …"), this);
    kalender_->setObjectName(QStringLiteral("ButtonKalender"));
    kalender_->setAutoDefault(false);
    auto* schliessen = new QPushButton(QStringLiteral("&Schließen"), this);
    schliessen->setObjectName(QStringLiteral("ButtonSchliessen"));
    schliessen->setAutoDefault(false);

    auto* top = new QHBoxLayout;
    top->addWidget(tageLabel);
    top->addWidget(tage_);
    top->addSpacing(16);
    top->addWidget(schalttagLabel);
    top->addWidget(schalttag_);
    top->addStretch();
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(erinnerungLabel);
    bottom->addWidget(erinnerung_);
    bottom->addWidget(kalender_);
    bottom->addStretch();
    bottom->addWidget(schliessen);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(liste_, 1);
    layout->addWidget(anzahl_);
    layout->addLayout(bottom);
    resize(560, 360);

    connect(tage_, &QSpinBox::valueChanged, this, guarded([this] { TageChange(tage_->value()); }));
    connect(schalttag_, &QComboBox::currentIndexChanged, this,
            guarded([this] { SchalttagChange(schalttag_->currentIndex()); }));
    connect(erinnerung_, &QComboBox::currentIndexChanged, this,
            guarded([this] { ErinnerungChange(erinnerung_->currentIndex()); }));
    connect(liste_, &QTreeWidget::itemDoubleClicked, this, guarded([this] { ListeDblClick(); }));
    connect(kalender_, &QPushButton::clicked, this, guarded([this] { KalenderClick(); }));
    connect(schliessen, &QPushButton::clicked, this, &QDialog::reject);

    refresh();
    liste_->setFocus();
}

void TFormGeburtstage::refresh() {
    const QDate today = now().date();
    const int days = tage_->value();
    const auto due =
        dueBirthdays(store_, today, days, static_cast<LeapDayRule>(schalttag_->currentIndex()));
    liste_->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(due.size()));
    for (const DueBirthday& one : due) {
        auto* item =
            new QTreeWidgetItem(QStringList{dayText(one.date, today), formatGermanDate(one.date),
                                            one.name, one.firstName, ageText(one.age)});
        item->setData(0, kPositionRole, one.position);
        items.append(item);
    }
    liste_->addTopLevelItems(items);
    for (int column = 0; column < liste_->columnCount(); ++column)
        liste_->resizeColumnToContents(column);
    if (!items.isEmpty())
        liste_->setCurrentItem(items.first());
    anzahl_->setText(countText(static_cast<int>(due.size()), days));
}

int TFormGeburtstage::shownCount() const {
    return liste_->topLevelItemCount();
}

bool TFormGeburtstage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == liste_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            runGuarded([this] { ListeDblClick(); });
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TFormGeburtstage::ListeDblClick() {
    const QTreeWidgetItem* item = liste_->currentItem();
    if (!item)
        return;
    store_.moveToStored(item->data(0, kPositionRole).toInt());
    accept();
}

void TFormGeburtstage::TageChange(int days) {
    tage_->setSuffix(daysSuffix(days));
    settingStored(writeBirthdayDays(setupIniPath(), days));
    refresh();
}

void TFormGeburtstage::SchalttagChange(int index) {
    settingStored(writeLeapDayRule(setupIniPath(), static_cast<LeapDayRule>(index)));
    refresh();
}

void TFormGeburtstage::ErinnerungChange(int index) {
    settingStored(writeReminderDays(setupIniPath(), erinnerung_->itemData(index).toInt()));
}

void TFormGeburtstage::settingStored(bool stored) {
    if (stored || settingFailureShown_)
        return;
    settingFailureShown_ = true;
    showErrorMessage(QStringLiteral("Die Einstellung kann nicht in %1 gespeichert werden; sie gilt "
                                    "nur, solange dieses Fenster offen ist")
                         .arg(QDir::toNativeSeparators(setupIniPath())),
                     this);
}

void TFormGeburtstage::KalenderClick() {
    const std::vector<BirthdayPerson> people = everyBirthday(store_);
    if (people.empty()) {
        showInformation(QStringLiteral("Keine Adresse der Tabelle hat einen Geburtstag."), this);
        return;
    }
    const QString path = askSaveFileName(
        this, QStringLiteral("KalenderDialog"), QStringLiteral("Als Kalender exportieren"),
        QStringLiteral("Kalender (*.ics)"), QStringLiteral("Geburtstage.ics"), lastFolder());
    if (path.isEmpty())
        return;

    CalendarOptions options;
    options.leapDay = static_cast<LeapDayRule>(schalttag_->currentIndex());
    options.reminderDays = erinnerung_->currentData().toInt();
    options.stamp = now();
    const QByteArray calendar = birthdayCalendar(people, options);
    QString error;
    if (!writeFileSafely(path, calendar, &error))
        throw StoreError(error);
    const int count = static_cast<int>(people.size());
    showInformation(count == 1 ? QStringLiteral("1 Geburtstag wurde in %1 gespeichert.")
                                     .arg(QFileInfo(path).fileName())
                               : QStringLiteral("%1 Geburtstage wurden in %2 gespeichert.")
                                     .arg(count)
                                     .arg(QFileInfo(path).fileName()),
                    this);
}

namespace vellumo::aids {

void GeburtstageClick(RecordStore& store, QWidget* parent) {
    if (!holdsBirthdays(store)) {
        showInformation(QStringLiteral("Diese Tabelle hat kein Feld „Geburtstag“."), parent);
        return;
    }
    TFormGeburtstage form(store, parent);
    form.exec();
}

void showBirthdaysAtStart(RecordStore& store, QWidget* parent) {
    if (!store.IsTableOpen() || !holdsBirthdays(store))
        return;
    const BirthdaySettings settings = readBirthdaySettings(setupIniPath());
    if (!settings.atStart ||
        dueBirthdays(store, now().date(), kStartDays, settings.leapDay).empty())
        return;
    GeburtstageClick(store, parent);
}

void initBirthdaysAtStart(QAction* item) {
    item->setCheckable(true);
    item->setChecked(readBirthdaySettings(setupIniPath()).atStart);
}

void GeburtstageBeimStartClick(QAction* item, QWidget* parent) {
    const bool wanted = item->isChecked();
    if (writeBirthdaysAtStart(setupIniPath(), wanted))
        return;
    item->setChecked(!wanted);
    showErrorMessage(QStringLiteral("Die Einstellung kann nicht in %1 gespeichert werden")
                         .arg(QDir::toNativeSeparators(setupIniPath())),
                     parent);
}

} // namespace vellumo::aids
