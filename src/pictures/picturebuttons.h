// The main window's two picture buttons.
#pragma once

namespace vellumo::pictures {

// "Bild ansehen": the viewer for the current record, modally.
void ButtonSeePicClick();
// "Bild speichern": the picture file chooser, modally; the viewer stays hidden.
void ButtonSavePicClick();

} // namespace vellumo::pictures
