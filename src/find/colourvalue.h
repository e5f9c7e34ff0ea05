// Colour values as the settings file keeps them: red in the low byte.
#pragma once

#include <QColor>

namespace vellumo {

inline QColor colourFromValue(int value) {
    const auto v = static_cast<unsigned>(value);
    return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
}

} // namespace vellumo
