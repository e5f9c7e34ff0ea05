// A real CardDAV server for the tests: Radicale on 127.0.0.1 at a free port,
// no authentication, its storage in a private folder, stopped with the
// object. Tests skip where Radicale is not installed.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

namespace vellumo::test {

class Radicale {
public:
    // options: more of Radicale's own ("--server-max-content-length", "4000").
    // log: a file that takes the server's output instead of a pipe nobody
    // reads (with "--logging-level", "info" it names every request).
    explicit Radicale(QStringList options = {}, const QString& log = {});
    ~Radicale();
    // Empty when the server runs; otherwise why it does not (for QSKIP).
    QString problem() const { return problem_; }
    QUrl url() const; // the server's root
    void stop();
    void start(); // again, on the same port and storage

private:
    QStringList options_;
    QTemporaryDir storage_;
    QProcess process_;
    quint16 port_ = 0;
    QString problem_;
};

// vellumo-table run as a test runs it against the server: no password looked
// for, output and errors together; status 128 when it did not end by itself.
struct ToolRun {
    int status = -1;
    QString out;
};
ToolRun runTableTool(const QString& program, const QStringList& args);

} // namespace vellumo::test
