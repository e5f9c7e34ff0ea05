#include "platform/ui/keypreview.h"

#include <QKeyEvent>
#include <QWidget>

namespace vellumo {

void installKeyPreview(QWidget* form) {
    const auto controls = form->findChildren<QWidget*>();
    for (QWidget* control : controls) {
        control->removeEventFilter(form);
        control->installEventFilter(form);
    }
}

int previewedKey(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return 0;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window()->windowType() == Qt::Popup)
        return 0;
    auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Escape:
        return 27;
    default:
        return key->text().size() == 1 ? key->text().at(0).unicode() : 0;
    }
}

} // namespace vellumo
