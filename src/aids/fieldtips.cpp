#include "aids/fieldtips.h"

#include <QHelpEvent>
#include <QLineEdit>
#include <QTextDocument>
#include <QToolTip>

namespace vellumo::aids {

FieldTip::FieldTip(QLineEdit* field) : QObject(field), field_(field) {
    setObjectName(field->objectName() + QStringLiteral("Tip"));
    // Movements without a pressed button reach the field only with tracking.
    field->setMouseTracking(true);
    field->installEventFilter(this);
}

void FieldTip::MouseMove() {
    text_ = field_->text();
    on_ = hasVisibleText(text_);
    field_->setToolTip(on_ ? text_ : QString());
}

bool FieldTip::hasVisibleText(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() > u' ' && c.category() != QChar::Other_Control)
            return true;
    return false;
}

bool FieldTip::eventFilter(QObject* watched, QEvent* event) {
    if (watched != field_)
        return false;
    if (event->type() == QEvent::MouseMove) {
        MouseMove();
    } else if (event->type() == QEvent::ToolTip) {
        if (!on_) {
            QToolTip::hideText();
            event->ignore();
            return true;
        }
        // An address is shown as written: "<" in it is no markup, and blanks
        // around it stay.
        const auto* help = static_cast<QHelpEvent*>(event);
        const QString shown =
            Qt::mightBeRichText(text_) ? Qt::convertFromPlainText(text_, Qt::WhiteSpacePre) : text_;
        QToolTip::showText(help->globalPos(), shown, field_);
        return true;
    }
    return false;
}

} // namespace vellumo::aids
