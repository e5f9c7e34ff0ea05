#include "platform/settings/profile.h"

#include "platform/system/system.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vellumo {
namespace {

const QByteArray kUtf8Bom("\xEF\xBB\xBF");

// The file as lines of raw bytes (each with its own line end), so that a
// change touches only the lines it must and every other byte is written back
// exactly as it was read.
struct IniFile {
    struct Line {
        QByteArray raw; // with its line end, if it had one
        QString text;   // decoded, without line end
    };
    QByteArray bom;
    bool utf8 = true;
    QByteArray newline = "\n";
    std::vector<Line> lines;

    QByteArray serialize() const {
        QByteArray out = bom;
        for (const Line& line : lines)
            out += line.raw;
        return out;
    }
};

// Raised inside a change when the file cannot take what is asked of it.
struct Refused {};

QString decode(QByteArrayView bytes, bool utf8) {
    if (utf8)
        return QString::fromUtf8(bytes);
    QStringDecoder decoder("windows-1252");
    return decoder.decode(bytes);
}

bool isValidUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

IniFile parse(QByteArray data) {
    IniFile file;
    if (data.startsWith(kUtf8Bom)) {
        file.bom = kUtf8Bom;
        data.remove(0, kUtf8Bom.size());
    }
    file.utf8 = !file.bom.isEmpty() || isValidUtf8(data);
    const qsizetype firstEnd = data.indexOf('\n');
    if (firstEnd > 0 && data.at(firstEnd - 1) == '\r')
        file.newline = "\r\n";

    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype end = data.indexOf('\n', start);
        end = end < 0 ? data.size() : end + 1;
        IniFile::Line line;
        line.raw = data.mid(start, end - start);
        QByteArrayView content(line.raw);
        if (content.endsWith('\n'))
            content.chop(1);
        if (content.endsWith('\r'))
            content.chop(1);
        line.text = decode(content, file.utf8);
        file.lines.push_back(std::move(line));
        start = end;
    }
    return file;
}

// "[name]" → name; anything else → nothing. A header without "]" runs to the
// end of the line, as Windows reads it.
std::optional<QString> sectionOf(const QString& text) {
    const QString trimmed = text.trimmed();
    if (!trimmed.startsWith(QLatin1Char('[')))
        return std::nullopt;
    qsizetype close = trimmed.indexOf(QLatin1Char(']'));
    if (close < 0)
        close = trimmed.size();
    return trimmed.mid(1, close - 1).trimmed();
}

bool isComment(const QString& trimmed) {
    return trimmed.startsWith(QLatin1Char(';'));
}

// "key = value" → key and value, both trimmed; comments and lines without "="
// are not entries.
bool entryOf(const QString& text, QString* key, QString* value) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || isComment(trimmed) || trimmed.startsWith(QLatin1Char('[')))
        return false;
    const qsizetype equals = trimmed.indexOf(QLatin1Char('='));
    if (equals < 0)
        return false;
    *key = trimmed.left(equals).trimmed();
    if (value)
        *value = trimmed.mid(equals + 1).trimmed();
    return true;
}

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

struct SectionRange {
    size_t header = 0;
    size_t end = 0; // next header or end of file
};

std::optional<SectionRange> findSection(const IniFile& file, const QString& section,
                                        size_t from = 0) {
    const QString wanted = section.trimmed();
    for (size_t i = from; i < file.lines.size(); ++i) {
        const auto name = sectionOf(file.lines[i].text);
        if (!name || !sameName(*name, wanted))
            continue;
        SectionRange range{i, i + 1};
        while (range.end < file.lines.size() && !sectionOf(file.lines[range.end].text))
            ++range.end;
        return range;
    }
    return std::nullopt;
}

std::optional<size_t> findKey(const IniFile& file, const SectionRange& range, const QString& key,
                              QString* value = nullptr, QString* spelling = nullptr) {
    const QString wanted = key.trimmed();
    for (size_t i = range.header + 1; i < range.end; ++i) {
        QString name;
        if (entryOf(file.lines[i].text, &name, value) && sameName(name, wanted)) {
            if (spelling)
                *spelling = name;
            return i;
        }
    }
    return std::nullopt;
}

// The last entry of the section, or its header: new keys go right after it,
// ahead of blank lines and comments that lead into the next section.
size_t lastEntry(const IniFile& file, const SectionRange& range) {
    size_t last = range.header;
    QString key;
    for (size_t i = range.header + 1; i < range.end; ++i)
        if (entryOf(file.lines[i].text, &key, nullptr))
            last = i;
    return last;
}

IniFile::Line makeLine(const IniFile& file, const QString& text) {
    IniFile::Line line;
    line.text = text;
    if (file.utf8) {
        line.raw = text.toUtf8();
    } else {
        QStringEncoder encoder("windows-1252");
        line.raw = encoder.encode(text);
        // A character Windows-1252 has no place for would come back as "?":
        // refuse rather than store it garbled.
        if (encoder.hasError() || decode(line.raw, false) != text)
            throw Refused{};
    }
    line.raw += file.newline;
    return line;
}

void ensureLineEnd(IniFile& file, size_t index) {
    IniFile::Line& line = file.lines[index];
    if (!line.raw.endsWith('\n'))
        line.raw += file.newline;
}

void insertLine(IniFile& file, size_t after, IniFile::Line line) {
    ensureLineEnd(file, after);
    file.lines.insert(file.lines.begin() + static_cast<std::ptrdiff_t>(after + 1), std::move(line));
}

QString valueForFile(const QString& value) {
    qsizetype cut = value.size();
    for (const QChar stop : {QChar(u'\r'), QChar(u'\n'), QChar(u'\0')}) {
        const qsizetype at = value.indexOf(stop);
        if (at >= 0 && at < cut)
            cut = at;
    }
    return value.left(cut);
}

bool isUsableName(const QString& name, bool isSection) {
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return false;
    for (const QChar c : trimmed)
        if (c == u'\r' || c == u'\n' || c == u'\0' || (isSection ? c == u']' : c == u'='))
            return false;
    return isSection || !(trimmed.startsWith(QLatin1Char('[')) || isComment(trimmed));
}

QString displayPath(const QString& fileName) {
    return QDir::toNativeSeparators(QFileInfo(fileName).absoluteFilePath());
}

[[noreturn]] void refuse(const QString& fileName) {
    throw ProfileError(QStringLiteral("Kann nicht nach %1 schreiben").arg(displayPath(fileName)));
}

// Loads the file, lets change edit it and writes it back when change says it
// changed something. Everything that stands in the way is refused with the
// file's path before anything is written.
void modify(const QString& fileName, const std::function<bool(IniFile&)>& change) {
    QString target = fileName;
    const QFileInfo given(fileName);
    if (given.isSymLink() && !given.symLinkTarget().isEmpty())
        target = given.symLinkTarget(); // replace the file, keep the link

    const QFileInfo info(target);
    QByteArray old;
    struct stat st {};
    const bool exists = ::stat(QFile::encodeName(target).constData(), &st) == 0;
    if (exists) {
        // A file marked read-only is refused even when the system would let
        // us (as the administrator) replace it.
        if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0 ||
            ::access(QFile::encodeName(target).constData(), W_OK) != 0)
            refuse(fileName);
        QFile file(target);
        if (!file.open(QIODevice::ReadOnly))
            refuse(fileName); // never replace what we could not read
        old = file.readAll();
        if (file.error() != QFileDevice::NoError)
            refuse(fileName);
    }
    if (!isWritableDirectory(info.absolutePath()))
        refuse(fileName);

    IniFile ini = parse(old);
    try {
        if (!change(ini))
            return;
    } catch (const Refused&) {
        refuse(fileName);
    }
    const QByteArray data = ini.serialize();
    if (exists && data == old)
        return;
    // Written beside it, synced and renamed over it: a crash leaves the old
    // file or the new one, never a torn one.
    if (!writeFileSafely(target, data, nullptr))
        refuse(fileName);
}

std::optional<QString>& decidedDirectory() {
    static std::optional<QString> directory;
    return directory;
}

QString chooseSettingsDirectory() {
    const QString program = programDirectory();
    if (isWritableDirectory(program))
        return program;
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    const QString directory = QDir::cleanPath(base + QStringLiteral("/Vellumo")) + QLatin1Char('/');
    QDir().mkpath(directory);
    return directory;
}

} // namespace

QString GetPrivateProfileString(const QString& section, const QString& key,
                                const QString& defaultValue, const QString& fileName) {
    QFile file(fileName);
    if (key.trimmed().isEmpty() || !file.open(QIODevice::ReadOnly))
        return defaultValue;
    const IniFile ini = parse(file.readAll());
    const auto range = findSection(ini, section);
    if (!range)
        return defaultValue;
    QString value;
    if (!findKey(ini, *range, key, &value))
        return defaultValue;
    if (value.size() >= 2 && value.front() == value.back() &&
        (value.front() == u'"' || value.front() == u'\''))
        value = value.mid(1, value.size() - 2);
    if (value.size() > kMaxProfileValueLength) {
        qsizetype cut = kMaxProfileValueLength;
        if (value.at(cut - 1).isHighSurrogate())
            --cut;
        value.truncate(cut);
    }
    return value;
}

namespace {

// Sets one key in the parsed file: the first matching key is replaced, a
// missing one added at the end of its section, a missing section at the end.
void setKey(IniFile& ini, const QString& section, const QString& key, const QString& text) {
    const auto range = findSection(ini, section);
    if (range) {
        QString spelling;
        if (const auto at = findKey(ini, *range, key, nullptr, &spelling)) {
            IniFile::Line line = makeLine(ini, spelling + QLatin1Char('=') + text);
            if (!ini.lines[*at].raw.endsWith('\n'))
                line.raw.chop(ini.newline.size()); // the last line stays unterminated
            ini.lines[*at] = std::move(line);
        } else {
            insertLine(ini, lastEntry(ini, *range),
                       makeLine(ini, key.trimmed() + QLatin1Char('=') + text));
        }
        return;
    }
    if (!ini.lines.empty()) {
        ensureLineEnd(ini, ini.lines.size() - 1);
        if (!ini.lines.back().text.trimmed().isEmpty())
            ini.lines.push_back(makeLine(ini, QString()));
    }
    ini.lines.push_back(makeLine(ini, QLatin1Char('[') + section.trimmed() + QLatin1Char(']')));
    ini.lines.push_back(makeLine(ini, key.trimmed() + QLatin1Char('=') + text));
}

} // namespace

void WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& fileName) {
    WritePrivateProfileStrings({{section, key, value}}, fileName);
}

void WritePrivateProfileStrings(const QList<ProfileEntry>& entries, const QString& fileName) {
    for (const ProfileEntry& entry : entries)
        if (!isUsableName(entry.section, true) || !isUsableName(entry.key, false))
            refuse(fileName);
    modify(fileName, [&](IniFile& ini) {
        for (const ProfileEntry& entry : entries)
            setKey(ini, entry.section, entry.key, valueForFile(entry.value));
        return !entries.isEmpty();
    });
}

void DeletePrivateProfileKey(const QString& section, const QString& key, const QString& fileName) {
    if (!QFileInfo::exists(fileName))
        return;
    modify(fileName, [&](IniFile& ini) {
        const auto range = findSection(ini, section);
        if (!range)
            return false;
        const auto at = findKey(ini, *range, key);
        if (!at)
            return false;
        ini.lines.erase(ini.lines.begin() + static_cast<std::ptrdiff_t>(*at));
        return true;
    });
}

void ErasePrivateProfileSection(const QString& section, const QString& fileName) {
    if (!QFileInfo::exists(fileName))
        return;
    modify(fileName, [&](IniFile& ini) {
        bool changed = false;
        size_t from = 0;
        while (const auto range = findSection(ini, section, from)) {
            // The section ends with its last entry; comments and blank lines
            // after it lead into the next section and stay.
            size_t end = lastEntry(ini, *range) + 1;
            const bool blankBefore =
                range->header == 0 || ini.lines[range->header - 1].text.trimmed().isEmpty();
            if (blankBefore)
                while (end < range->end && ini.lines[end].text.trimmed().isEmpty())
                    ++end;
            ini.lines.erase(ini.lines.begin() + static_cast<std::ptrdiff_t>(range->header),
                            ini.lines.begin() + static_cast<std::ptrdiff_t>(end));
            from = range->header;
            changed = true;
        }
        return changed;
    });
}

int settingNumberFromText(const QString& text, bool* ok) {
    *ok = false;
    if (text.size() > 2 && text.at(0) == u'0' && (text.at(1) == u'x' || text.at(1) == u'X')) {
        quint64 value = 0;
        int digits = 0;
        for (qsizetype i = 2; i < text.size(); ++i) {
            const char16_t c = text.at(i).unicode();
            int digit = -1;
            if (c >= u'0' && c <= u'9')
                digit = c - u'0';
            else if (c >= u'a' && c <= u'f')
                digit = c - u'a' + 10;
            else if (c >= u'A' && c <= u'F')
                digit = c - u'A' + 10;
            if (digit < 0)
                return 0;
            if (value != 0 || digit != 0)
                ++digits; // leading zeros do not count
            if (digits > 8)
                return 0;
            value = value * 16 + static_cast<quint64>(digit);
        }
        *ok = true;
        return static_cast<int>(static_cast<quint32>(value));
    }
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'+' || text.at(i) == u'-')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    if (i == text.size())
        return 0;
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9')
            return 0;
        value = value * 10 + (c - u'0');
        if (value > qint64(1) << 31)
            return 0;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<qint32>::max() || value < std::numeric_limits<qint32>::min())
        return 0;
    *ok = true;
    return static_cast<int>(value);
}

QString ReadSettingText(const QString& path, const QString& section, const QString& key,
                        const QString& defaultText) {
    return GetPrivateProfileString(section, key, defaultText, path);
}

int ReadSettingNumber(const QString& path, const QString& section, const QString& key,
                      int defaultNumber) {
    const QString text = GetPrivateProfileString(section, key, QString(), path);
    bool ok = false;
    const int number = settingNumberFromText(text, &ok);
    return ok ? number : defaultNumber;
}

bool WriteSettingNumber(const QString& path, const QString& section, const QString& key,
                        int number) {
    try {
        WritePrivateProfileString(section, key, QString::number(number), path);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool isWritableDirectory(const QString& directory) {
    struct stat st {};
    const QByteArray name = QFile::encodeName(directory);
    return ::stat(name.constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & 0222) != 0 &&
           ::access(name.constData(), W_OK | X_OK) == 0;
}

void decideSettingsLocation() {
    decidedDirectory() = chooseSettingsDirectory();
}

void resetSettingsLocation() {
    decidedDirectory().reset();
}

QString settingsDirectory() {
    const auto& decided = decidedDirectory();
    return decided ? *decided : chooseSettingsDirectory();
}

QString setupIniPath() {
    return settingsDirectory() + QStringLiteral("Setup.ini");
}

} // namespace vellumo
