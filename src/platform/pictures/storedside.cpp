// The one setting of the pictures, apart from limits.cpp so that what only
// converts pictures needs no settings file.
#include "platform/pictures/limits.h"

#include "platform/settings/profile.h"

#include <algorithm>

namespace vellumo::pictures {

int storedSide() {
    return std::clamp(ReadSettingNumber(setupIniPath(), QStringLiteral("Bilder"),
                                        QStringLiteral("LangeSeite"), kDefaultStoredSide),
                      kMinStoredSide, kMaxStoredSide);
}

} // namespace vellumo::pictures
