#include "platform/system/system.h"

#include "platform/paradox/io.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vellumo {
namespace {
std::function<QDateTime()>& clockFunction() {
    static std::function<QDateTime()> clock;
    return clock;
}
QString& programDirectoryOverride() {
    static QString directory;
    return directory;
}
} // namespace

QDateTime now() {
    const auto& clock = clockFunction();
    return clock ? clock() : QDateTime::currentDateTime();
}

void setClock(std::function<QDateTime()> clock) {
    clockFunction() = std::move(clock);
}

QString programDirectory() {
    QString dir = programDirectoryOverride();
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath();
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

void setProgramDirectory(const QString& directory) {
    programDirectoryOverride() = directory;
}

int splashMinimumMs() {
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("VELLUMO_SPLASH_MS", &ok);
    return ok && ms >= 0 ? ms : 3000;
}

namespace {

// The engine's German texts of system errors, as sentences; two read better
// for writing a file or a pipe than the engine's words for opening a table.
QString reasonOf(int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("Das Verzeichnis existiert nicht.");
    case EPIPE:
        return QStringLiteral("Das lesende Programm hat die Pipe geschlossen.");
    default:
        return QString::fromStdString(px::systemErrorText(err)) + u'.';
    }
}

// Writes everything; a reader that closed its pipe is an error (EPIPE), not
// the end of the program: SIGPIPE is held back meanwhile and taken away.
bool writeAll(int fd, const QByteArray& data) {
    sigset_t pipeOnly, before;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &before);
    const char* p = data.constData();
    qsizetype left = data.size();
    bool ok = true;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        p += n;
        left -= n;
    }
    const int err = errno;
    if (!ok && err == EPIPE && !alreadyPending) {
        const timespec none{0, 0};
        sigtimedwait(&pipeOnly, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    errno = err;
    return ok;
}

} // namespace

void appendContentLine(QByteArray& out, const QByteArray& line) {
    constexpr qsizetype kMaxLineOctets = 75;
    qsizetype start = 0;
    qsizetype room = kMaxLineOctets;
    while (line.size() - start > room) {
        qsizetype end = start + room;
        while (end > start && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80)
            --end;
        out += line.mid(start, end - start);
        out += "\r\n ";
        start = end;
        room = kMaxLineOctets - 1;
    }
    out += line.mid(start);
    out += "\r\n";
}

bool writeFileSafely(const QString& path, const QByteArray& data, QString* error) {
    const QString shown = QDir::toNativeSeparators(path);
    auto fail = [&](const QString& reason) {
        if (error)
            *error =
                QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2").arg(shown, reason);
        return false;
    };
    QString target = path;
    const QFileInfo given(path);
    if (given.isSymLink() && !given.canonicalFilePath().isEmpty())
        target = given.canonicalFilePath(); // replace the file, keep the link
    const QByteArray name = QFile::encodeName(target);
    struct stat st {};
    const bool exists = ::stat(name.constData(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        return fail(
            QStringLiteral("Das ist ein Verzeichnis. Bitte geben Sie einen Dateinamen an."));
    if (exists && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
        // Whoever reads from it waits for this data: replacing it with a
        // regular file would leave them waiting for good.
        const int fd = ::open(name.constData(), O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            return fail(reasonOf(errno));
        const bool ok = writeAll(fd, data);
        const int err = errno;
        ::close(fd);
        return ok || fail(reasonOf(err));
    }
    if (exists && !S_ISREG(st.st_mode))
        return fail(QStringLiteral("Das ist keine gewöhnliche Datei (ein Gerät oder Socket); sie "
                                   "wird nicht überschrieben."));

    const QFileInfo info(target);
    const QByteArray directory = QFile::encodeName(info.absolutePath());
    static int counter = 0;
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = directory + "/." + QFile::encodeName(info.fileName()) + ".tmp-" +
               QByteArray::number(::getpid()) + "-" + QByteArray::number(++counter);
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return fail(reasonOf(errno));
    }
    if (fd < 0)
        return fail(reasonOf(EEXIST));
    // Keep owner and permissions of the file replaced; failing to keep the
    // owner (not running as root) is normal.
    if (exists)
        (void)!::fchown(fd, st.st_uid, st.st_gid);
    bool ok = !exists || ::fchmod(fd, st.st_mode & 07777) == 0;
    ok = ok && writeAll(fd, data) && ::fsync(fd) == 0;
    int err = errno;
    ok = (::close(fd) == 0 || (err = errno, false)) && ok;
    ok = ok && (::rename(temp.constData(), name.constData()) == 0 || (err = errno, false));
    if (!ok) {
        ::unlink(temp.constData());
        return fail(reasonOf(err));
    }
    // The new name must survive a power cut too before the export says done.
    const int dirFd = ::open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return fail(reasonOf(errno));
    const bool synced = ::fsync(dirFd) == 0 || errno == EINVAL; // some file systems cannot
    err = errno;
    ::close(dirFd);
    return synced || fail(reasonOf(err));
}

} // namespace vellumo
