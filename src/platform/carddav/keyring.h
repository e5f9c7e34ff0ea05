// The password of a sync account lives in the desktop's keyring (the Secret
// Service: GNOME Keyring, KWallet), never in Setup.ini or any other file.
// Without a keyring the program asks once per run and keeps it in memory.
//
// A keyring may take its time: it can show its own window (create or unlock
// a keyring) and wait for the user there. Every call here therefore talks to
// it on a thread of its own while the calling thread's event loop goes on
// (user input held back), so the program's windows keep repainting.
#pragma once

#include <QString>
#include <QUrl>

#include <optional>
#include <stdexcept>

namespace vellumo::carddav {

// what() is the German sentence alone; the keyring's own words (D-Bus,
// libsecret, often English) are only the detail.
class KeyringError : public std::runtime_error {
public:
    KeyringError(const QString& text, const QString& detail)
        : std::runtime_error(text.toStdString()), detail_(detail) {}
    QString text() const { return QString::fromStdString(what()); }
    QString detail() const { return detail_; }

private:
    QString detail_;
};

namespace keyring {

// Whether a Secret Service answers on the session bus.
bool available();
// The stored password; nullopt when none is stored or there is no keyring.
std::optional<QString> lookup(const QUrl& server, const QString& user);
// Stores or replaces it; raises KeyringError when it cannot (no keyring,
// locked, or the user refused in the keyring's window).
void store(const QUrl& server, const QString& user, const QString& password);
void remove(const QUrl& server, const QString& user);

} // namespace keyring
} // namespace vellumo::carddav
