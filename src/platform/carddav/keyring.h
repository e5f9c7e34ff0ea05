// The password of a sync account lives in the desktop's keyring (the Secret
// Service: GNOME Keyring, KWallet), never in Setup.ini or any other file.
// Without a keyring the program asks once per run and keeps it in memory.
#pragma once

#include <QString>
#include <QUrl>

#include <optional>
#include <stdexcept>

namespace vellumo::carddav {

class KeyringError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace keyring {

// Whether a Secret Service answers on the session bus.
bool available();
// The stored password; nullopt when none is stored or there is no keyring.
std::optional<QString> lookup(const QUrl& server, const QString& user);
// Stores or replaces it; raises KeyringError (German) when it cannot.
void store(const QUrl& server, const QString& user, const QString& password);
void remove(const QUrl& server, const QString& user);

} // namespace keyring
} // namespace vellumo::carddav
