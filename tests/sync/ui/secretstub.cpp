// A Secret Service that refuses, for the window tests: it takes the keyring's
// name on the session bus and answers every call to it, after a delay given in
// milliseconds, with an error, as a keyring does whose window the user
// dismissed. It prints one line once it owns the name.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QTimer>

#include <cstdio>

namespace {

class RefusingKeyring : public QDBusVirtualObject {
public:
    explicit RefusingKeyring(int delayMs) : delayMs_(delayMs) {}
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.type() != QDBusMessage::MethodCallMessage)
            return false;
        QTimer::singleShot(delayMs_, [message, connection] {
            connection.send(message.createErrorReply(
                QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"),
                QStringLiteral("Object does not exist at path "
                               "\"/org/freedesktop/secrets/collection/login\"")));
        });
        return true;
    }

private:
    int delayMs_;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int delayMs = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 500;
    QDBusConnection bus = QDBusConnection::sessionBus();
    RefusingKeyring keyring(delayMs);
    if (!bus.registerVirtualObject(QStringLiteral("/"), &keyring, QDBusConnection::SubPath) ||
        !bus.registerService(QStringLiteral("org.freedesktop.secrets"))) {
        std::fprintf(stderr, "secretstub: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::puts("bereit");
    std::fflush(stdout);
    return app.exec();
}
