// The picture viewer: the current record's picture at its natural size (or
// scaled down to fit the screen), with load, delete and back. It owns the record's picture holder
// DBImage1, which follows the current record whether the viewer is shown or not.
#pragma once

#include "pictures/dbimage.h"

#include <QDialog>
#include <QImage>
#include <QMargins>
#include <QRect>
#include <QSize>

namespace Ui {
class TFormBild;
}
class QLabel;
class TFormBildSpeichern;

class TFormBild : public QDialog {
    Q_OBJECT
public:
    // source may be null for a viewer without a table (tests of the frame alone).
    explicit TFormBild(vellumo::DataSource* source = nullptr, QWidget* parent = nullptr);
    ~TFormBild() override;

    vellumo::pictures::DBImage DBImage1;

    // The main window's "Bild ansehen": shows the current record's picture modally.
    void ButtonSeePicClick();

    // Where the viewer goes for a picture of size picture (empty: none) on a
    // screen whose free area is available, with the window manager's frame
    // around it: the picture's area (scaled down, proportions kept, when the
    // window would not fit) and the client area in screen coordinates, the
    // whole window centred in the free area. The client area is the toolbar
    // above the picture, at least 97 wide; a record without a picture gets
    // the empty size, 105 x 105.
    struct Placement {
        QSize area;
        QRect client;
    };
    static Placement placementFor(const QSize& picture, const QRect& available,
                                  const QMargins& frame);

    QLabel* image() const;
    // The chooser the load button opens (the viewer is made first, so it comes later).
    void setChooser(TFormBildSpeichern* chooser) { chooser_ = chooser; }

    void LadenButtonClick();
    void LoeschenButtonClick();
    void SpeedButton1Click();
    void Image1Click();
    void FormKeyPress(QChar key);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void showPicture(const QImage& picture);
    void place();

    Ui::TFormBild* ui;
    vellumo::DataSource* source_;
    TFormBildSpeichern* chooser_ = nullptr;
    QImage shown_;        // the picture of the current showing, at its natural size
    QMargins placedWith_; // the window system's frame it was placed with
};
