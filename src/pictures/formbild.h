// The picture viewer: the current record's picture at its natural size, with
// load, delete and back. It owns the record's picture holder DBImage1, which
// follows the current record whether the viewer is shown or not.
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

    // The outer frame for a picture area of imageArea on a screen of screen:
    // at least 97 wide, 53 higher than the area, centred with the division
    // truncated toward zero (a window larger than the screen overhangs both edges).
    static QRect frameFor(const QSize& imageArea, const QSize& screen);

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
    void placeFrame();

    Ui::TFormBild* ui;
    vellumo::DataSource* source_;
    TFormBildSpeichern* chooser_ = nullptr;
    QRect outer_;         // the frame the last showing asked for
    QMargins placedWith_; // the window system's frame it was placed with
};
