// The size pictures are stored at: the setting of "&Einstellungen" →
// "&Bildgröße …". Photographs are scaled down to it on "OK" in the chooser.
#pragma once

#include "platform/pictures/limits.h" // storedSide, the setting itself

class QWidget;

namespace vellumo::pictures {

// "&Bildgröße …": asks for the long side; a number outside the range is
// refused with a message and nothing is written.
void BildgroesseClick(QWidget* parent);

} // namespace vellumo::pictures
