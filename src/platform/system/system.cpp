#include "platform/system/system.h"

#include <QCoreApplication>
#include <QDir>

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

void setClock(std::function<QDateTime()> clock) { clockFunction() = std::move(clock); }

QString programDirectory() {
    QString dir = programDirectoryOverride();
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath();
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

void setProgramDirectory(const QString& directory) { programDirectoryOverride() = directory; }

int splashMinimumMs() {
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("VELLUMO_SPLASH_MS", &ok);
    return ok && ms >= 0 ? ms : 3000;
}

} // namespace vellumo
