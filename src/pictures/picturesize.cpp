#include "pictures/picturesize.h"

#include "platform/pictures/limits.h"
#include "platform/settings/profile.h"
#include "platform/ui/messages.h"

#include <algorithm>

namespace vellumo::pictures {

namespace {
// The setting storedSide reads.
const QString kSection = QStringLiteral("Bilder");
const QString kKey = QStringLiteral("LangeSeite");
} // namespace

void BildgroesseClick(QWidget* parent) {
    QString value = QString::number(storedSide());
    const QString prompt =
        QStringLiteral("Längste Seite gespeicherter Bilder in Pixeln (%1 bis %2):")
            .arg(kMinStoredSide)
            .arg(kMaxStoredSide);
    if (!inputQuery(QStringLiteral("Bildgröße"), prompt, value, parent))
        return;
    bool ok = false;
    const int side = value.trimmed().toInt(&ok);
    if (!ok || side < kMinStoredSide || side > kMaxStoredSide) {
        showErrorMessage(
            QStringLiteral("„%1“ ist keine gültige Bildgröße: erlaubt sind ganze Zahlen "
                           "von %2 bis %3.")
                .arg(value.trimmed())
                .arg(kMinStoredSide)
                .arg(kMaxStoredSide),
            parent);
        return;
    }
    if (!WriteSettingNumber(setupIniPath(), kSection, kKey, side))
        showErrorMessage(QStringLiteral("Die Bildgröße kann nicht in „%1“ gespeichert werden.")
                             .arg(setupIniPath()),
                         parent);
}

} // namespace vellumo::pictures
