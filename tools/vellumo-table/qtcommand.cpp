#include "qtcommand.h"

#include "platform/database/recordstore.h"

namespace vtable {

void print(std::FILE* to, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.data(), 1, static_cast<std::size_t>(bytes.size()), to);
}

void err(const QString& text) {
    print(stderr, QStringLiteral("vellumo-table: ") + text + u'\n');
}

void say(const QString& text) {
    print(stdout, text + u'\n');
}

QString tableFile(const QString& name) {
    return vellumo::RecordStore::tableFileName(name);
}

QString textOf(const px::Value& value) {
    const auto* text = std::get_if<std::string>(&value);
    return text ? QString::fromStdString(*text) : QString();
}

} // namespace vtable
