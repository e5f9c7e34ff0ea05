#include "radicale.h"

#include <QDeadlineTimer>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace vellumo::test {

Radicale::Radicale(QStringList options, const QString& log) : options_(std::move(options)) {
    if (!log.isEmpty())
        process_.setStandardOutputFile(log, QIODevice::Append);
    if (QStandardPaths::findExecutable(QStringLiteral("radicale")).isEmpty()) {
        problem_ = QStringLiteral("Radicale ist nicht installiert (Debian-Paket radicale).");
        return;
    }
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) {
        problem_ = QStringLiteral("Kein freier Port auf 127.0.0.1.");
        return;
    }
    port_ = probe.serverPort();
    probe.close();
    start();
}

Radicale::~Radicale() {
    stop();
}

QUrl Radicale::url() const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port_));
}

void Radicale::start() {
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(
        QStringLiteral("radicale"),
        QStringList{QStringLiteral("--config"), QString(), QStringLiteral("--server-hosts"),
                    QStringLiteral("127.0.0.1:%1").arg(port_), QStringLiteral("--auth-type"),
                    QStringLiteral("none"), QStringLiteral("--storage-filesystem-folder"),
                    storage_.filePath(QStringLiteral("collections")),
                    QStringLiteral("--logging-level"), QStringLiteral("warning")} +
            options_);
    QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired() && process_.state() != QProcess::NotRunning) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port_);
        if (socket.waitForConnected(200))
            return;
        QThread::msleep(100);
    }
    problem_ = QStringLiteral("Radicale startet nicht: %1")
                   .arg(QString::fromLocal8Bit(process_.readAll()).trimmed());
}

void Radicale::stop() {
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(2000);
    }
}

ToolRun runTableTool(const QString& program, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VELLUMO_SYNC_PASSWORD"), QString()); // no authentication
    p.setProcessEnvironment(env);
    p.start(program, args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : 128,
            QString::fromUtf8(p.readAll())};
}

} // namespace vellumo::test
