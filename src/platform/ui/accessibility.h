// What a screen reader and a scaled screen need beyond what the forms declare.
#pragma once

class QApplication;

namespace vellumo {

// A screen reader announces a button by its text. A picture button has none,
// so from now on every button without text and without a name of its own is
// named by its hint, the tool tip a mouse user reads: the windows made later,
// Qt's own dialogs and a hint changed later included. On a scaled screen every
// button's picture is drawn from its finest source ("name@2x.png").
void nameButtonsAndSharpenPictures(QApplication& app);

} // namespace vellumo
