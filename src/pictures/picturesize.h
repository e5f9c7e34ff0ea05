// The size pictures are stored at: the setting of "&Einstellungen" →
// "&Bildgröße …". Photographs are scaled down to it on "OK" in the chooser.
#pragma once

class QWidget;

namespace vellumo::pictures {

// The long side, in pixels, of the pictures "OK" stores (Setup.ini, section
// "Bilder", key "LangeSeite"); a value outside kMinStoredSide..kMaxStoredSide
// counts as the nearer of the two.
int storedSide();
// "&Bildgröße …": asks for the long side; a number outside the range is
// refused with a message and nothing is written.
void BildgroesseClick(QWidget* parent);

} // namespace vellumo::pictures
