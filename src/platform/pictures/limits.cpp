#include "platform/pictures/limits.h"

#include <QImage>
#include <QImageReader>

#include <algorithm>
#include <cmath>

namespace vellumo::pictures {

void applyDecoderLimit() {
    if (QImageReader::allocationLimit() != kDecoderAllocationLimitMiB)
        QImageReader::setAllocationLimit(kDecoderAllocationLimitMiB);
}

QSize storedSize(const QSize& size, int longSide) {
    const int side = std::clamp(longSide, kMinStoredSide, kMaxStoredSide);
    const int longest = std::max(size.width(), size.height());
    if (size.isEmpty() || longest <= side)
        return size;
    const double scale = double(side) / longest;
    return {std::max(1, int(std::lround(size.width() * scale))),
            std::max(1, int(std::lround(size.height() * scale)))};
}

QImage scaledForStorage(const QImage& image, int longSide) {
    const QSize stored = storedSize(image.size(), longSide);
    if (stored == image.size())
        return image;
    return image.scaled(stored, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace vellumo::pictures
