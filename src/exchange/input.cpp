#include "exchange/input.h"

#include "platform/database/recordstore.h"

#include <QBuffer>
#include <QFileDevice>
#include <QIODevice>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vellumo::exchange {

namespace {

// Large enough that a read costs little per byte, small beside any limit.
constexpr qint64 kChunk = 64 * 1024;

} // namespace

ByteInput::ByteInput(QIODevice& in) : in_(in) {}

bool ByteInput::fill() {
    // Keep what was not taken yet (ahead() may ask beyond the buffer).
    buffer_.remove(0, pos_);
    pos_ = 0;
    const qsizetype before = buffer_.size();
    // A UTF-16 chunk that ends inside a character yields nothing yet.
    while (!atEnd_ && buffer_.size() == before) {
        // No more than the device still holds: a small file costs a small
        // buffer, and the buffers are used again from chunk to chunk.
        const qint64 left = in_.isSequential() ? kChunk : in_.size() - in_.pos();
        const qint64 want = std::clamp<qint64>(left, 1, kChunk);
        QByteArray& into = utf16_ ? raw_ : buffer_;
        const qsizetype at = utf16_ ? 0 : buffer_.size();
        into.resize(at + want);
        errno = 0;
        const qint64 n = in_.read(into.data() + at, want);
        into.resize(at + std::max<qint64>(n, 0));
        if (n < 0)
            throw StoreError(QStringLiteral("Die Datei kann nicht weiter gelesen werden: %1")
                                 .arg(errno != 0 ? systemErrorText(errno) : in_.errorString()),
                             ErrorKind::Storage);
        atEnd_ = n == 0;
        if (utf16_ && n > 0)
            buffer_ += QString(utf16_->decode(raw_)).toUtf8();
    }
    return buffer_.size() > before;
}

bool ByteInput::readLine(QByteArray& line, qsizetype limit, bool& cut) {
    line.clear();
    cut = false;
    bool any = false;
    for (;;) {
        if (pos_ == buffer_.size() && !fill())
            break;
        any = true;
        const char* start = buffer_.constData() + pos_;
        const qsizetype available = buffer_.size() - pos_;
        const void* found = std::memchr(start, '\n', static_cast<std::size_t>(available));
        const qsizetype length = found ? static_cast<const char*>(found) - start : available;
        const qsizetype room = limit - line.size();
        if (length > room)
            cut = true;
        if (room > 0)
            line.append(start, std::min(length, room));
        pos_ += found ? length + 1 : length;
        if (found)
            break;
    }
    if (line.endsWith('\r'))
        line.chop(1);
    return any;
}

QByteArray ByteInput::ahead(qsizetype n) {
    while (buffer_.size() - pos_ < n && fill()) {
    }
    return buffer_.mid(pos_, n);
}

void ByteInput::skip(qsizetype n) {
    while (n-- > 0 && get() >= 0) {
    }
}

void ByteInput::decodeUtf16() {
    // What is buffered already is the start of the text, still undecoded.
    const QByteArray raw = buffer_.mid(pos_);
    utf16_.emplace(QStringDecoder::Utf16LE);
    buffer_ = QString(utf16_->decode(raw)).toUtf8();
    pos_ = 0;
}

qint64 ByteInput::position() const {
    // What was read ahead is not done yet; UTF-16 text took about two bytes
    // for each one it is now.
    const qint64 ahead = qint64(buffer_.size() - pos_) * (utf16_ ? 2 : 1);
    return std::max<qint64>(0, in_.pos() - ahead);
}

qint64 ByteInput::size() const {
    return in_.size();
}

namespace {

QString deviceName(QIODevice& in) {
    if (const auto* file = qobject_cast<QFileDevice*>(&in))
        return file->fileName();
    return QString();
}

std::unique_ptr<AddressStream> streamFor(Format format, QIODevice& in, ByteInput& input,
                                         const ColumnChoices& choices) {
    switch (format) {
    case Format::VCard:
        return vcardStream(input);
    case Format::Csv:
    case Format::SpreadsheetCsv:
        return csvStream(input, choices);
    case Format::Dbase:
        return dbaseStream(in, deviceName(in), choices);
    case Format::Paradox:
        return paradoxStream(in, deviceName(in), choices);
    case Format::Ldif:
        return ldifStream(input);
    case Format::Mork:
        return morkStream(input);
    }
    return csvStream(input);
}

} // namespace

AddressReader::AddressReader(QIODevice& in, Format format, const ColumnChoices& choices)
    : format_(format), input_(std::make_unique<ByteInput>(in)),
      stream_(streamFor(format, in, *input_, choices)) {}

AddressReader::~AddressReader() = default;

std::optional<Address> AddressReader::next() {
    return stream_->next();
}

QStringList AddressReader::columns() const {
    return stream_->columns();
}

QStringList AddressReader::columnNames() const {
    return stream_->columnNames();
}

QStringList AddressReader::columnTargets() const {
    return stream_->columnTargets();
}

QStringList AddressReader::remarks() const {
    return stream_->remarks();
}

qint64 AddressReader::position() const {
    const qint64 own = stream_->position();
    return own >= 0 ? own : input_->position();
}

qint64 AddressReader::size() const {
    return input_->size();
}

std::vector<Address> readAll(const QByteArray& data, Format format, QStringList* columns) {
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    AddressReader reader(buffer, format);
    std::vector<Address> addresses;
    while (std::optional<Address> address = reader.next())
        addresses.push_back(std::move(*address));
    if (columns)
        *columns = reader.columns();
    return addresses;
}

} // namespace vellumo::exchange
