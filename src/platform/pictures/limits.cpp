#include "platform/pictures/limits.h"

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

} // namespace vellumo::pictures
