// The chooser's preview: a bitmap drawn at its natural size from the top-left
// corner and clipped, or stretched to fill the area (aspect ratio not kept).
#pragma once

#include <QImage>
#include <QPixmap>
#include <QWidget>

namespace vellumo::pictures {

class PreviewImage : public QWidget {
    Q_OBJECT
public:
    explicit PreviewImage(QWidget* parent = nullptr);

    const QImage& picture() const { return picture_; }
    void setPicture(const QImage& picture);
    bool stretch() const { return stretch_; }
    void setStretch(bool on);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QImage picture_;
    QPixmap
        shown_; // only the part that is drawn: large pictures cost one scaling, not one per paint
    bool stretch_ = false;
};

} // namespace vellumo::pictures
