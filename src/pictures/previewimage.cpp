#include "pictures/previewimage.h"

#include <QPainter>

namespace vellumo::pictures {

PreviewImage::PreviewImage(QWidget* parent) : QWidget(parent) {}

void PreviewImage::setPicture(const QImage& picture) {
    picture_ = picture;
    shown_ = QPixmap();
    update();
}

void PreviewImage::setStretch(bool on) {
    if (stretch_ == on)
        return;
    stretch_ = on;
    shown_ = QPixmap();
    update();
}

void PreviewImage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    shown_ = QPixmap();
}

void PreviewImage::paintEvent(QPaintEvent*) {
    if (picture_.isNull())
        return;
    if (shown_.isNull()) {
        if (stretch_)
            shown_ = QPixmap::fromImage(
                picture_.scaled(size(), Qt::IgnoreAspectRatio, Qt::FastTransformation));
        else
            shown_ = QPixmap::fromImage(
                picture_.copy(QRect(QPoint(0, 0), size()).intersected(picture_.rect())));
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, shown_);
}

} // namespace vellumo::pictures
