// dBase III, dBase IV and FoxPro tables (.dbf), with their memo files (.dbt
// for dBase, .fpt for FoxPro) found beside them whatever the case of their
// names. The code page comes from the language-driver byte; rows marked
// deleted are handed on as such, to be counted, never added. The columns go
// to the address table's fields by their names (ColumnMapping).
//
// Before the first row is handed out the whole file is checked against what
// its header says (rows, row length, every memo pointer inside the memo
// file), so a damaged file is refused with the place named and the table
// stays as it was.
#include "exchange/columns.h"
#include "exchange/input.h"

#include "platform/database/recordstore.h"
#include "platform/paradox/codec.h"
#include "platform/paradox/error.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QTime>

#include <cstring>
#include <optional>

namespace vellumo::exchange {

namespace {

constexpr int kHeaderBytes = 32;
constexpr int kDescriptorBytes = 32;
// A memo longer than this is no note of an address; it is cut there.
constexpr qint64 kMaxMemo = 1 << 20;

std::uint32_t le32(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return std::uint32_t(u[0]) | std::uint32_t(u[1]) << 8 | std::uint32_t(u[2]) << 16 |
           std::uint32_t(u[3]) << 24;
}
std::uint16_t le16(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return static_cast<std::uint16_t>(u[0] | u[1] << 8);
}
std::uint32_t be32(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return std::uint32_t(u[3]) | std::uint32_t(u[2]) << 8 | std::uint32_t(u[1]) << 16 |
           std::uint32_t(u[0]) << 24;
}
std::uint16_t be16(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return static_cast<std::uint16_t>(u[1] | u[0] << 8);
}

bool isFoxPro(unsigned char version) {
    return version == 0x30 || version == 0x31 || version == 0x32 || version == 0xF5 ||
           version == 0xFB;
}

bool isVisualFoxPro(unsigned char version) {
    return version == 0x30 || version == 0x31 || version == 0x32;
}

// The code page a language-driver byte stands for, 0 for one nobody knows.
int codePageOf(unsigned char driver) {
    static const struct {
        unsigned char driver;
        short codePage;
    } kDrivers[] = {
        {0x01, 437},  {0x02, 850},  {0x03, 1252}, {0x04, 10000}, {0x08, 865},  {0x09, 437},
        {0x0A, 850},  {0x0B, 437},  {0x0D, 437},  {0x0E, 850},   {0x0F, 437},  {0x10, 850},
        {0x11, 437},  {0x12, 850},  {0x13, 932},  {0x14, 850},   {0x15, 437},  {0x16, 850},
        {0x17, 865},  {0x18, 437},  {0x19, 437},  {0x1A, 850},   {0x1B, 437},  {0x1C, 863},
        {0x1D, 850},  {0x1F, 852},  {0x22, 852},  {0x23, 852},   {0x24, 860},  {0x25, 850},
        {0x26, 866},  {0x37, 850},  {0x40, 852},  {0x4D, 936},   {0x4E, 949},  {0x4F, 950},
        {0x50, 874},  {0x57, 1252}, {0x58, 1252}, {0x59, 1252},  {0x64, 852},  {0x65, 866},
        {0x66, 865},  {0x67, 861},  {0x6A, 737},  {0x6B, 857},   {0x6C, 863},  {0x78, 950},
        {0x79, 949},  {0x7A, 936},  {0x7B, 932},  {0x7C, 874},   {0x7D, 1255}, {0x7E, 1256},
        {0x86, 737},  {0x87, 852},  {0x88, 857},  {0xC8, 1250},  {0xC9, 1251}, {0xCA, 1254},
        {0xCB, 1253}, {0xCC, 1257},
    };
    for (const auto& d : kDrivers)
        if (d.driver == driver)
            return d.codePage;
    return 0;
}

struct DbfField {
    QString name;
    char type = 'C';
    int offset = 0; // in the row, after the deletion mark
    int length = 0;
    int decimals = 0;
    bool memo = false; // the value is a pointer into the memo file
};

// The memo file: FoxPro (.fpt, big-endian block headers), dBase IV (.dbt with
// FF FF 08 00 block headers) or dBase III (.dbt, text up to 0x1A).
class MemoFile {
public:
    bool open(const QString& path, bool foxPro) {
        file_.setFileName(path);
        if (!file_.open(QIODevice::ReadOnly))
            return false;
        foxPro_ = foxPro;
        size_ = file_.size();
        char header[32] = {};
        file_.read(header, sizeof header);
        if (foxPro_)
            blockSize_ = be16(header + 6);
        else if (le16(header + 20) != 0 && header[16] != 0x03)
            blockSize_ = le16(header + 20); // dBase IV; dBase III has its version 3 at 16
        if (blockSize_ <= 0)
            blockSize_ = 512;
        return true;
    }
    QString name() const { return QFileInfo(file_.fileName()).fileName(); }
    qint64 blockSize() const { return blockSize_; }

    // Why the memo at block cannot be read, or empty when it can.
    QString problem(std::uint32_t block) {
        const qint64 at = qint64(block) * blockSize_;
        if (at >= size_)
            return QStringLiteral("verweist auf Block %1, die Notizdatei %2 endet vor Block %3")
                .arg(block)
                .arg(name())
                .arg((size_ + blockSize_ - 1) / blockSize_);
        if (foxPro_) {
            char head[8];
            if (!file_.seek(at) || file_.read(head, 8) != 8)
                return QStringLiteral(
                           "verweist auf Block %1, der in der Notizdatei %2 unvollständig "
                           "ist")
                    .arg(block)
                    .arg(name());
            if (at + 8 + qint64(be32(head + 4)) > size_)
                return QStringLiteral("verweist auf Block %1 mit %2 Bytes, die über das Ende der "
                                      "Notizdatei %3 hinausgehen")
                    .arg(block)
                    .arg(be32(head + 4))
                    .arg(name());
        }
        return QString();
    }

    // The memo's bytes (text up to kMaxMemo); nothing when it cannot be read.
    std::optional<QByteArray> read(std::uint32_t block, bool& cut) {
        cut = false;
        const qint64 at = qint64(block) * blockSize_;
        if (at >= size_ || !file_.seek(at))
            return std::nullopt;
        QByteArray bytes;
        if (foxPro_) {
            char head[8];
            if (file_.read(head, 8) != 8)
                return std::nullopt;
            const qint64 length = be32(head + 4);
            if (at + 8 + length > size_)
                return std::nullopt;
            cut = length > kMaxMemo;
            bytes = file_.read(std::min(length, kMaxMemo));
            return be32(head) == 1 ? bytes : QByteArray(); // 0: a picture, 2: an object
        }
        const QByteArray head = file_.peek(8);
        if (head.startsWith("\xFF\xFF\x08\x00")) {
            const qint64 length = qint64(le32(head.constData() + 4)) - 8;
            file_.skip(8);
            cut = length > kMaxMemo;
            bytes = file_.read(std::clamp<qint64>(length, 0, kMaxMemo));
        } else {
            // dBase III: up to the end mark, which some programs write once.
            while (bytes.size() < kMaxMemo) {
                const QByteArray chunk = file_.read(blockSize_);
                if (chunk.isEmpty())
                    break;
                const qsizetype end = chunk.indexOf('\x1A');
                bytes += end < 0 ? chunk : chunk.left(end);
                if (end >= 0)
                    return bytes;
            }
            cut = bytes.size() >= kMaxMemo;
            bytes.truncate(kMaxMemo);
        }
        return bytes;
    }

private:
    QFile file_;
    bool foxPro_ = false;
    qint64 size_ = 0;
    qint64 blockSize_ = 512;
};

// The memo file beside path: NAME.dbt, NAME.DBT, name.Fpt …, the kind the
// table's version names first.
QString memoFileBeside(const QString& path, bool foxPro) {
    const QFileInfo info(path);
    const QDir dir = info.absoluteDir();
    const QString base = info.completeBaseName();
    const QStringList order = foxPro ? QStringList{QStringLiteral("fpt"), QStringLiteral("dbt")}
                                     : QStringList{QStringLiteral("dbt"), QStringLiteral("fpt")};
    const QStringList entries = dir.entryList(QDir::Files);
    for (const QString& suffix : order)
        for (const QString& entry : entries) {
            const QFileInfo candidate(entry);
            if (candidate.completeBaseName().compare(base, Qt::CaseInsensitive) == 0 &&
                candidate.suffix().compare(suffix, Qt::CaseInsensitive) == 0)
                return dir.filePath(entry);
        }
    return QString();
}

class DbaseStream : public AddressStream {
public:
    DbaseStream(QIODevice& in, const QString& name, const ColumnChoices& choices)
        : in_(in), path_(name) {
        shown_ = name.isEmpty() ? QStringLiteral("Die dBase-Datei")
                                : QStringLiteral("Die dBase-Datei %1")
                                      .arg(QDir::toNativeSeparators(QFileInfo(name).fileName()));
        readHeader();
        openMemo();
        check();
        in_.seek(headerLength_);
        names_ = columnNamesOf();
        mapping_.emplace(names_, choices);
        for (const QString& line : mapping_->report())
            columns_ << line;
    }

    std::optional<Address> next() override {
        while (row_ < rowCount_) {
            const qint64 rowNumber = ++row_;
            const QByteArray bytes = readRow();
            if (bytes.isEmpty())
                return std::nullopt; // cannot happen after check(); ends cleanly all the same
            Address address = addressOf(bytes, static_cast<int>(rowNumber));
            address.deleted = bytes[0] == '*';
            return address;
        }
        return std::nullopt;
    }

    QStringList columns() const override { return columns_; }
    QStringList columnNames() const override { return names_; }
    QStringList columnTargets() const override { return mapping_->targets(); }
    QStringList remarks() const override { return remarks_; }
    qint64 position() const override {
        return std::min(in_.size(), headerLength_ + row_ * rowLength_);
    }

private:
    [[noreturn]] void damaged(const QString& what) const {
        throw StoreError(QStringLiteral("%1 ist beschädigt: %2").arg(shown_, what));
    }

    void readHeader() {
        const qint64 size = in_.size();
        in_.seek(0);
        const QByteArray head = in_.read(kHeaderBytes);
        if (head.size() < kHeaderBytes)
            damaged(QStringLiteral("sie ist kürzer als ihr Kopf (%1 Bytes)").arg(head.size()));
        version_ = static_cast<unsigned char>(head[0]);
        rowCount_ = le32(head.constData() + 4);
        headerLength_ = le16(head.constData() + 8);
        rowLength_ = le16(head.constData() + 10);
        driver_ = static_cast<unsigned char>(head[29]);
        if (version_ == 0x04 || (version_ & 0x07) == 0x04)
            throw StoreError(
                QStringLiteral(
                    "%1 ist eine Tabelle von dBase 7; gelesen werden dBase III, dBase IV "
                    "und FoxPro")
                    .arg(shown_));
        if (headerLength_ < kHeaderBytes + 1 || headerLength_ > size)
            damaged(QStringLiteral("ihr Kopf nennt %1 Bytes Länge, die Datei hat %2")
                        .arg(headerLength_)
                        .arg(size));
        if (rowLength_ < 1)
            damaged(QStringLiteral("ihr Kopf nennt eine Satzlänge von 0 Bytes"));
        const QByteArray rest = in_.read(headerLength_ - kHeaderBytes);
        int used = 1; // the deletion mark
        for (qsizetype at = 0; at + 1 <= rest.size() && rest[at] != '\x0D';
             at += kDescriptorBytes) {
            if (at + kDescriptorBytes > rest.size())
                damaged(QStringLiteral("die Feldbeschreibungen enden ohne Abschlusszeichen "
                                       "(Byte %1)")
                            .arg(kHeaderBytes + at));
            const char* d = rest.constData() + at;
            DbfField field;
            field.name = QString::fromLatin1(d, static_cast<qsizetype>(qstrnlen(d, 11))).trimmed();
            field.type = static_cast<char>(QChar::toUpper(static_cast<unsigned char>(d[11])));
            field.length = static_cast<unsigned char>(d[16]);
            field.decimals = static_cast<unsigned char>(d[17]);
            field.offset = used;
            field.memo = field.type == 'M' || field.type == 'G' || field.type == 'P' ||
                         (field.type == 'B' && !isVisualFoxPro(version_));
            used += field.length;
            if (used > rowLength_)
                damaged(QStringLiteral("das Feld %1 (Byte %2 des Kopfs) reicht über die Satzlänge "
                                       "von %3 Bytes hinaus")
                            .arg(field.name)
                            .arg(kHeaderBytes + at)
                            .arg(rowLength_));
            fields_.push_back(field);
        }
        if (fields_.empty())
            damaged(QStringLiteral("ihr Kopf beschreibt kein Feld"));
        const qint64 need = headerLength_ + qint64(rowCount_) * rowLength_;
        if (need > size) {
            const qint64 whole = (size - headerLength_) / rowLength_;
            damaged(QStringLiteral("sie endet in Satz %1 von %2 (bei Byte %3; der Kopf verlangt "
                                   "%4 Bytes)")
                        .arg(whole + 1)
                        .arg(rowCount_)
                        .arg(size)
                        .arg(need));
        }

        int codePage = codePageOf(driver_);
        if (codePage == 0) {
            const bool windows = isVisualFoxPro(version_);
            codePage = windows ? 1252 : 850;
            remarks_ << QStringLiteral("Die Datei nennt keinen bekannten Zeichensatz "
                                       "(Sprachtreiber 0x%1); gelesen als Codepage %2 (%3). Stehen "
                                       "Umlaute falsch, war es ein anderer.")
                            .arg(driver_, 2, 16, QChar(u'0'))
                            .arg(codePage)
                            .arg(windows ? QStringLiteral("Windows") : QStringLiteral("DOS"));
        } else {
            remarks_ << QStringLiteral("Zeichensatz: Codepage %1 (laut Sprachtreiber 0x%2).")
                            .arg(codePage)
                            .arg(driver_, 2, 16, QChar(u'0'));
        }
        try {
            codec_.emplace(codePage);
        } catch (const px::Error&) {
            codec_.emplace(850);
            remarks_ << QStringLiteral("Codepage %1 ist hier nicht verfügbar; gelesen als "
                                       "Codepage 850.")
                            .arg(codePage);
        }
    }

    void openMemo() {
        QStringList memoFields;
        for (const DbfField& f : fields_)
            if (f.memo)
                memoFields << f.name;
        if (memoFields.isEmpty())
            return;
        const QString file =
            path_.isEmpty() ? QString() : memoFileBeside(path_, isFoxPro(version_));
        if (!file.isEmpty() &&
            memo_.open(file, isFoxPro(version_) || file.endsWith(u"fpt", Qt::CaseInsensitive))) {
            hasMemo_ = true;
            return;
        }
        const QString expected =
            QFileInfo(path_).completeBaseName() +
            (isFoxPro(version_) ? QStringLiteral(".fpt") : QStringLiteral(".dbt"));
        remarks_ << QStringLiteral("Die Notizdatei %1 fehlt oder kann nicht gelesen werden; "
                                   "übernommen wurde alles außer den Notizfeldern (%2).")
                        .arg(expected, memoFields.join(QStringLiteral(", ")));
    }

    // Memo pointers of the row, 0 for none.
    std::uint32_t pointerOf(const QByteArray& row, const DbfField& f) const {
        const char* p = row.constData() + f.offset;
        if (f.length == 4)
            return le32(p);
        bool ok = false;
        const std::uint32_t block = QByteArray(p, f.length).trimmed().toUInt(&ok);
        return ok ? block : 0;
    }

    // Every memo pointer of the rows to import inside the memo file, before
    // anything is handed out.
    void check() {
        if (!hasMemo_)
            return;
        in_.seek(headerLength_);
        for (std::uint32_t row = 1; row <= rowCount_; ++row) {
            const QByteArray bytes = in_.read(rowLength_);
            if (bytes.size() != rowLength_)
                damaged(QStringLiteral("Satz %1 kann nicht gelesen werden").arg(row));
            if (bytes[0] == '*')
                continue; // a deleted row is passed over, its memos never read
            for (const DbfField& f : fields_) {
                if (!f.memo)
                    continue;
                const std::uint32_t block = pointerOf(bytes, f);
                if (block == 0)
                    continue;
                const QString problem = memo_.problem(block);
                if (!problem.isEmpty())
                    damaged(QStringLiteral("Satz %1, Feld %2 %3").arg(row).arg(f.name, problem));
            }
        }
    }

    QStringList columnNamesOf() const {
        QStringList names;
        for (const DbfField& f : fields_)
            names << (f.type == '0' ? QString() : f.name); // FoxPro's hidden null flags
        return names;
    }

    QByteArray readRow() {
        QByteArray bytes = in_.read(rowLength_);
        return bytes.size() == rowLength_ ? bytes : QByteArray();
    }

    QString text(const char* p, int length) const {
        std::string_view bytes(p, static_cast<std::size_t>(length));
        while (!bytes.empty() && (bytes.back() == ' ' || bytes.back() == '\0'))
            bytes.remove_suffix(1);
        return QString::fromStdString(codec_->decode(bytes));
    }

    QString cell(const QByteArray& row, const DbfField& f, Address& address) {
        const char* p = row.constData() + f.offset;
        switch (f.type) {
        case 'C':
        case 'V':
            return text(p, f.length);
        case 'N':
        case 'F':
            return QString::fromLatin1(p, f.length).trimmed();
        case 'D': {
            const QString raw = QString::fromLatin1(p, f.length).trimmed();
            const QDate date = QDate::fromString(raw, QStringLiteral("yyyyMMdd"));
            return date.isValid() ? date.toString(QStringLiteral("dd.MM.yyyy")) : raw;
        }
        case 'L': {
            const char c = static_cast<char>(QChar::toUpper(static_cast<unsigned char>(p[0])));
            return c == 'T' || c == 'Y' || c == 'J' ? QStringLiteral("ja")
                   : c == 'F' || c == 'N'           ? QStringLiteral("nein")
                                                    : QString();
        }
        case 'I':
            return f.length == 4 ? QString::number(static_cast<std::int32_t>(le32(p))) : QString();
        case 'Y':
            if (f.length == 8) {
                // Ten-thousandths, exact: a double would round the last digits.
                std::int64_t v = 0;
                std::memcpy(&v, p, 8);
                const bool negative = v < 0;
                const std::uint64_t magnitude =
                    negative ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
                QString fraction = QString::number(magnitude % 10000).rightJustified(4, u'0');
                while (fraction.size() > 2 && fraction.endsWith(u'0'))
                    fraction.chop(1);
                return (negative ? QStringLiteral("-") : QString()) +
                       QString::number(magnitude / 10000) + u'.' + fraction;
            }
            return QString();
        case 'B':
            if (!f.memo && f.length == 8) {
                double v = 0;
                std::memcpy(&v, p, 8);
                return QString::number(v);
            }
            break;
        case 'T':
            if (f.length == 8) {
                // The day as a Julian day number, then milliseconds since midnight.
                const QDate date = QDate::fromJulianDay(static_cast<std::int32_t>(le32(p)));
                if (!date.isValid() || le32(p) == 0)
                    return QString();
                const QTime time = QTime::fromMSecsSinceStartOfDay(
                    static_cast<int>(std::min<std::uint32_t>(le32(p + 4), 24 * 3600 * 1000 - 1)));
                return date.toString(QStringLiteral("dd.MM.yyyy")) +
                       (time == QTime(0, 0) ? QString()
                                            : u' ' + time.toString(QStringLiteral("HH:mm:ss")));
            }
            return QString();
        default:
            break;
        }
        if (!f.memo)
            return QString();
        const std::uint32_t block = pointerOf(row, f);
        if (block == 0 || !hasMemo_ || row[0] == '*') // a deleted row's memo was not checked
            return QString();
        bool cut = false;
        const std::optional<QByteArray> bytes = memo_.read(block, cut);
        if (!bytes)
            return QString();
        if (f.type != 'M') {
            if (!bytes->isEmpty())
                address.changes << QStringLiteral("Das Feld %1 (Bild oder Objekt) wurde nicht "
                                                  "übernommen")
                                       .arg(f.name);
            return QString();
        }
        if (cut)
            address.changes << QStringLiteral("Die Notiz in %1 ist länger als 1 MiB und wurde "
                                              "dort abgeschnitten")
                                   .arg(f.name);
        return text(bytes->constData(), static_cast<int>(bytes->size()));
    }

    Address addressOf(const QByteArray& row, int number) {
        Address memoChanges;
        QStringList cells;
        cells.reserve(static_cast<qsizetype>(fields_.size()));
        for (const DbfField& f : fields_)
            cells << (f.type == '0' ? QString() : cell(row, f, memoChanges));
        Address address = mapping_->address(cells, number);
        address.changes += memoChanges.changes;
        return address;
    }

    QIODevice& in_;
    QString path_;
    QString shown_;
    unsigned char version_ = 0;
    unsigned char driver_ = 0;
    std::uint32_t rowCount_ = 0;
    qint64 headerLength_ = 0;
    qint64 rowLength_ = 0;
    qint64 row_ = 0;
    std::vector<DbfField> fields_;
    std::optional<px::Codec> codec_;
    MemoFile memo_;
    bool hasMemo_ = false;
    std::optional<ColumnMapping> mapping_;
    QStringList names_;
    QStringList columns_;
    QStringList remarks_;
};

} // namespace

std::unique_ptr<AddressStream> dbaseStream(QIODevice& in, const QString& name,
                                           const ColumnChoices& choices) {
    return std::make_unique<DbaseStream>(in, name, choices);
}

} // namespace vellumo::exchange
