#include "platform/ui/accessibility.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace vellumo {

namespace {

// Marks a name taken from the hint, so that a new hint replaces it while a
// name the form gives stays.
constexpr char kFromHint[] = "vellumoNameFromHint";
constexpr char kFinePicture[] = "vellumoFinePicture";

// Qt 6.4 takes a picture's "@2x" source only from twice the scale on and
// blows the small one up at 125 % and 150 %. Offered as one more size of the
// picture, the fine source is scaled down there instead and stays sharp.
void offerFinePicture(QAbstractButton* button) {
    QIcon icon = button->icon();
    const QSize size = button->iconSize();
    if (icon.isNull() || button->devicePixelRatio() <= 1.0 ||
        button->property(kFinePicture).toBool())
        return;
    QImage fine = icon.pixmap(size, 2.0).toImage();
    if (fine.width() < 2 * size.width() && fine.height() < 2 * size.height())
        return;
    fine.setDevicePixelRatio(1.0);
    icon.addPixmap(QPixmap::fromImage(fine));
    button->setProperty(kFinePicture, true);
    button->setIcon(icon);
}

class HintNames : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type != QEvent::Polish && type != QEvent::ToolTipChange)
            return false;
        auto* button = qobject_cast<QAbstractButton*>(watched);
        if (!button)
            return false;
        if (type == QEvent::Polish)
            offerFinePicture(button);
        if (!button->text().isEmpty())
            return false;
        const bool ours = button->property(kFromHint).toBool();
        if (!button->accessibleName().isEmpty() && !ours)
            return false;
        button->setAccessibleName(button->toolTip());
        button->setProperty(kFromHint, !button->toolTip().isEmpty());
        return false;
    }
};

} // namespace

void nameButtonsAndSharpenPictures(QApplication& app) {
    const QString name = QStringLiteral("vellumoHintNames");
    if (app.findChild<QObject*>(name, Qt::FindDirectChildrenOnly))
        return;
    auto* names = new HintNames(&app);
    names->setObjectName(name);
    app.installEventFilter(names);
}

} // namespace vellumo
