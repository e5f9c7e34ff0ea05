// GLib names a struct member "signals", which Qt defines as a macro: the
// keyring's headers come first, with the macro out of the way.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include "platform/carddav/keyring.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <exception>
#include <optional>
#include <thread>

namespace vellumo::carddav::keyring {

namespace {

const SecretSchema* schema() {
    static const SecretSchema kSchema = {"de.vellumo.CardDAV",
                                         SECRET_SCHEMA_NONE,
                                         {{"server", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                          {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                          {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                         0,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr};
    return &kSchema;
}

// The server as the key: scheme, host and port, so every address book of one
// server shares the account's password.
QByteArray serverKey(const QUrl& server) {
    return server
        .adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment |
                  QUrl::RemoveUserInfo)
        .toString()
        .toUtf8();
}

QString takeMessage(GError* error) {
    QString text = QString::fromUtf8(error ? error->message : "unbekannter Fehler");
    if (error)
        g_error_free(error);
    return text;
}

// Runs work on a thread of its own; meanwhile the calling thread's events
// (timers, repaints, network) go on, user input waits for the end.
template <class Work> auto offThread(Work work) -> decltype(work()) {
    using Result = decltype(work());
    auto* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return work();
    std::optional<Result> result;
    std::exception_ptr failure;
    QEventLoop loop;
    std::thread worker([&] {
        try {
            result.emplace(work());
        } catch (...) {
            failure = std::current_exception();
        }
        // Queued: delivered once the loop runs, however early the work ends.
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
    return std::move(*result);
}

} // namespace

bool available() {
    return offThread([] {
        GError* error = nullptr;
        SecretService* service =
            secret_service_get_sync(SECRET_SERVICE_LOAD_COLLECTIONS, nullptr, &error);
        if (!service) {
            takeMessage(error);
            return false;
        }
        g_object_unref(service);
        return true;
    });
}

std::optional<QString> lookup(const QUrl& server, const QString& user) {
    return offThread([&]() -> std::optional<QString> {
        GError* error = nullptr;
        const QByteArray key = serverKey(server), name = user.toUtf8();
        gchar* password =
            secret_password_lookup_sync(schema(), nullptr, &error, "server", key.constData(),
                                        "user", name.constData(), nullptr);
        if (error || !password) {
            takeMessage(error);
            return std::nullopt;
        }
        QString result = QString::fromUtf8(password);
        secret_password_free(password);
        return result;
    });
}

void store(const QUrl& server, const QString& user, const QString& password) {
    offThread([&] {
        GError* error = nullptr;
        const QByteArray key = serverKey(server), name = user.toUtf8(), secret = password.toUtf8();
        const QByteArray label =
            QStringLiteral("Vellumo: %1 auf %2").arg(user, QString::fromUtf8(key)).toUtf8();
        if (!secret_password_store_sync(schema(), SECRET_COLLECTION_DEFAULT, label.constData(),
                                        secret.constData(), nullptr, &error, "server",
                                        key.constData(), "user", name.constData(), nullptr))
            throw KeyringError(
                QStringLiteral("Das Passwort kann nicht im Schlüsselbund gespeichert werden."),
                takeMessage(error));
        return true;
    });
}

void remove(const QUrl& server, const QString& user) {
    offThread([&] {
        GError* error = nullptr;
        const QByteArray key = serverKey(server), name = user.toUtf8();
        secret_password_clear_sync(schema(), nullptr, &error, "server", key.constData(), "user",
                                   name.constData(), nullptr);
        if (error)
            throw KeyringError(
                QStringLiteral("Das Passwort kann nicht aus dem Schlüsselbund entfernt werden."),
                takeMessage(error));
        return true;
    });
}

} // namespace vellumo::carddav::keyring
