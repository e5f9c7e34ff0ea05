// libFuzzer target for the graphic field: the bytes a table from any tool may
// hold in "Grafik", decoded as the viewer and the vCard export decode them.
// The input is taken as it is, with the 8-byte prefix put in front and with
// its first 8 bytes lost (the three forms the decoder meets). A picture that
// comes out must be within the one limit and encode back; anything else (a
// crash, undefined behaviour, a huge allocation, a hang) is a finding.
#include "platform/pictures/graphicfield.h"
#include "platform/pictures/limits.h"

#include <QByteArray>
#include <QImage>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void decode(const QByteArray& field) {
    const QImage image = vellumo::pictures::imageFromGraphicField(field);
    if (image.isNull())
        return;
    if (qint64(image.width()) * image.height() > vellumo::pictures::kMaxPicturePixels)
        std::abort();
    // Small pictures also go back into a field: the round trip must hold.
    if (qint64(image.width()) * image.height() <= 4096) {
        QString error;
        const QByteArray again = vellumo::pictures::graphicFieldFromImage(image, &error);
        if (again.isEmpty() ||
            vellumo::pictures::imageFromGraphicField(again).size() != image.size())
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    decode(bytes);
    decode(vellumo::pictures::withGraphicPrefix(bytes));
    if (bytes.size() > 8)
        decode(bytes.mid(8));
    return 0;
}
