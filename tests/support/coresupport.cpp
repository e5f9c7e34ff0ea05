// What tests without widgets need too: private directories, a fixed clock,
// the sample tables. Links Qt Core only, so the store and settings tests also
// build in the sanitizer tree.
#include "testsupport.h"

#include "platform/system/system.h"

#include <QDir>

namespace testsupport {

Sandbox::Sandbox() : previousWorkingDir_(QDir::currentPath()) {
    QDir::setCurrent(dir_.path());
    vellumo::setProgramDirectory(dir_.path());
}

Sandbox::~Sandbox() {
    QDir::setCurrent(previousWorkingDir_);
    vellumo::setProgramDirectory(QString());
}

QString Sandbox::path() const {
    return dir_.path();
}
QString Sandbox::file(const QString& name) const {
    return dir_.filePath(name);
}

FixedClock::FixedClock(const QDateTime& at) : at_(at) {
    vellumo::setClock([this] { return at_; });
}
FixedClock::~FixedClock() {
    vellumo::setClock({});
}
void FixedClock::set(const QDateTime& at) {
    at_ = at;
}

QString sharedDir() {
    QString dir = qEnvironmentVariable("VELLUMO_SHARED_DIR");
    if (dir.isEmpty())
        dir = QStringLiteral(VELLUMO_SHARED_DIR_DEFAULT);
    return QDir(dir).exists(QStringLiteral("paradox-samples")) ? dir : QString();
}

} // namespace testsupport
