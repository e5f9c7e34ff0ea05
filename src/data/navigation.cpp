#include "data/navigation.h"

#include "platform/database/recordstore.h"
#include "platform/system/system.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace vellumo::data {

RecordButton recordButtonOf(const QObject* sender, std::initializer_list<const QObject*> buttons) {
    int index = 0;
    for (const QObject* button : buttons) {
        if (sender && sender == button && index < static_cast<int>(RecordButton::None))
            return static_cast<RecordButton>(index);
        ++index;
    }
    return RecordButton::None;
}

QString recordPosition(const RecordStore& store) {
    return QStringLiteral("%1/%2").arg(store.RecordNumber()).arg(store.CountRecords());
}

void ButtonFirstClick(RecordStore& store, RecordButton button, const RecordWindow& window) {
    switch (button) {
    case RecordButton::First:
        store.GoToFirst();
        break;
    case RecordButton::Prior:
        store.StepBack();
        break;
    case RecordButton::Next:
        store.StepForward();
        break;
    case RecordButton::Last:
        store.GoToLast();
        break;
    case RecordButton::Add:
        store.InsertBlankRecord();
        store.SetFieldDate(QStringLiteral("Erstellt"), vellumo::now());
        break;
    case RecordButton::Delete:
        if (window.confirm(QString::fromUtf8(kDeleteQuestion)))
            store.RemoveRecord();
        break;
    case RecordButton::None:
        break;
    }
    // Without a table there is no position to show; "0/0" would suggest an
    // empty table.
    if (store.IsTableOpen())
        window.setStatusText(recordPosition(store));
}

namespace {
bool returningFocus = false;
} // namespace

void DBEditNameExit(RecordStore& store, QWidget* control) {
    if (returningFocus)
        return;
    try {
        if (store.HasUnsavedChanges())
            store.SaveRecord();
    } catch (...) {
        if (control) {
            QTimer::singleShot(0, control, [control = QPointer<QWidget>(control)] {
                if (!control || !control->isEnabled() || !control->isVisible())
                    return;
                returningFocus = true;
                control->setFocus(Qt::OtherFocusReason);
                returningFocus = false;
            });
        }
        throw;
    }
}

} // namespace vellumo::data
