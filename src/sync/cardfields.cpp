#include "sync/cardfields.h"

#include "address/addressschema.h"

#include <QCryptographicHash>

namespace vellumo::sync {

namespace {

// A field of the address table as Qt text; the name is checked against the
// schema while compiling, so a misspelt one does not build.
struct FieldName {
    consteval FieldName(const char* name) : checked(address::fieldName(name)) {}
    operator QString() const {
        return QString::fromLatin1(checked.data(), static_cast<qsizetype>(checked.size()));
    }
    std::string_view checked;
};

} // namespace

// Every field but the picture and the change date, which is the server's.
const QStringList kCardFields = [] {
    QStringList names;
    for (const address::Field& field : address::kFields)
        if (field.kind != address::Kind::Graphic && field.name != FieldName("Aenderung").checked)
            names << QString::fromLatin1(field.name.data(),
                                         static_cast<qsizetype>(field.name.size()));
    return names;
}();

QString pictureKey(const QImage& image) {
    if (image.isNull())
        return {};
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    {
        QImage argb = image.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < argb.height(); ++y) {
            const auto* in = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
            auto* out = reinterpret_cast<QRgb*>(flat.scanLine(y));
            for (int x = 0; x < argb.width(); ++x) {
                const int a = qAlpha(in[x]);
                auto over = [a](int c) { return (c * a + 255 * (255 - a)) / 255; };
                out[x] = qRgb(over(qRed(in[x])), over(qGreen(in[x])), over(qBlue(in[x])));
            }
        }
    }
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(QByteArray::number(flat.width()) + 'x' + QByteArray::number(flat.height()));
    for (int y = 0; y < flat.height(); ++y)
        hash.addData(
            QByteArrayView(reinterpret_cast<const char*>(flat.constScanLine(y)), flat.width() * 4));
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace vellumo::sync
