// Reading a file to import piece by piece: the vCard and CSV readers pull
// bytes and lines from here, so a file is never held whole and a line longer
// than its limit costs no more memory than the limit.
#pragma once

#include "exchange/exchange.h"

#include <QByteArray>
#include <QStringDecoder>

#include <memory>
#include <optional>

class QIODevice;

namespace vellumo::exchange {

class ByteInput {
public:
    explicit ByteInput(QIODevice& in);

    // The next byte, or -1 at the end.
    int get() {
        if (pos_ == buffer_.size() && !fill())
            return -1;
        return static_cast<unsigned char>(buffer_[pos_++]);
    }
    int peek() {
        if (pos_ == buffer_.size() && !fill())
            return -1;
        return static_cast<unsigned char>(buffer_[pos_]);
    }
    // One line without its line end (LF or CRLF); false at the end. A line
    // longer than limit is cut there, the rest passed over, and cut set.
    bool readLine(QByteArray& line, qsizetype limit, bool& cut);
    // Up to n of the bytes still to come, without taking them.
    QByteArray ahead(qsizetype n);
    void skip(qsizetype n);
    // From here on the device holds UTF-16LE text, handed out as UTF-8.
    void decodeUtf16();

    // Bytes of the device taken so far, and its size (for progress).
    qint64 position() const;
    qint64 size() const;

private:
    bool fill();

    QIODevice& in_;
    QByteArray buffer_;
    qsizetype pos_ = 0;
    bool atEnd_ = false;
    std::optional<QStringDecoder> utf16_;
    QByteArray raw_; // UTF-16: the chunk before it is decoded
};

// One address after the other, from one of the readers.
class AddressStream {
public:
    virtual ~AddressStream() = default;
    virtual std::optional<Address> next() = 0;
    // CSV and tables: where each column went.
    virtual QStringList columns() const { return {}; }
    virtual QStringList columnNames() const { return {}; }
    virtual QStringList columnTargets() const { return {}; }
    // About the file as a whole.
    virtual QStringList remarks() const { return {}; }
    // How far reading has come in the file's bytes; -1 when the ByteInput
    // the stream reads from says it.
    virtual qint64 position() const { return -1; }
};

std::unique_ptr<AddressStream> vcardStream(ByteInput& input);
std::unique_ptr<AddressStream> csvStream(ByteInput& input, const ColumnChoices& choices = {});
std::unique_ptr<AddressStream> ldifStream(ByteInput& input);
std::unique_ptr<AddressStream> morkStream(ByteInput& input);
// The table readers seek in their file and find its companions (memo file,
// .mb) beside it: in is the file itself (a QFileDevice gives its name; for
// another device, name says what it is).
std::unique_ptr<AddressStream> dbaseStream(QIODevice& in, const QString& name,
                                           const ColumnChoices& choices = {});
std::unique_ptr<AddressStream> paradoxStream(QIODevice& in, const QString& name,
                                             const ColumnChoices& choices = {});

// Every address of bytes held in memory; for CSV, columns (when given) says
// where each column went.
std::vector<Address> readAll(const QByteArray& data, Format format, QStringList* columns = nullptr);

} // namespace vellumo::exchange
