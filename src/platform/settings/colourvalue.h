// Colour values as the settings file keeps them: red in the low byte. Reading
// the text (decimal, or "0x..." hexadecimal) is settingNumberFromText's job.
#pragma once

#include <QColor>

namespace vellumo {

inline QColor colourFromValue(int value) {
    const auto v = static_cast<unsigned>(value);
    return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
}

// The value written back for colour: decimal in the file, red in the low byte.
inline int colourToValue(const QColor& colour) {
    return colour.red() | (colour.green() << 8) | (colour.blue() << 16);
}

} // namespace vellumo
