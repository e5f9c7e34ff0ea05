// Profile-string functions: read and write keys of INI files the way Windows
// does, so that files other programs wrote and other programs reading ours
// agree with us.
//
// - Section and key names are compared without regard to case; the first
//   matching section and, inside it, the first matching key win.
// - Lines outside the one being changed stay byte for byte as they were:
//   comments, blank lines, odd spacing, duplicates, line ends (CRLF stays CRLF).
// - A file that is valid UTF-8 is read and written as UTF-8; any other file
//   is taken as Windows-1252 and written back in Windows-1252.
// - Every call opens the file by name, does one thing and lets it go again,
//   so other programs may edit the file between two calls.
// - A write replaces the file atomically (written beside it, synced, renamed);
//   WritePrivateProfileStrings writes several keys in one such replacement.
#pragma once

#include <QList>
#include <QString>

#include <stdexcept>

namespace vellumo {

// A write or erase the system refused; the text names the file:
// "Kann nicht nach <full path> schreiben".
class ProfileError : public std::runtime_error {
public:
    explicit ProfileError(const QString& text) : std::runtime_error(text.toStdString()) {}
    QString text() const { return QString::fromStdString(what()); }
};

// Longest value a read returns; longer values are cut.
constexpr int kMaxProfileValueLength = 1023;

// The value of key in section, or defaultValue when the file, the section or
// the key is missing or the file cannot be read. Reading never fails. Blanks
// around the value and one pair of enclosing quotes are dropped.
QString GetPrivateProfileString(const QString& section, const QString& key,
                                const QString& defaultValue, const QString& fileName);

// Creates the file and the section when missing, replaces the first matching
// key or adds it at the end of the section. Line breaks in value end it there
// (they would split the entry). Raises ProfileError when the file cannot be
// written: a read-only file or directory, a missing directory, a name that
// cannot stand in an INI file, or a value the file's encoding cannot hold.
void WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& fileName);

// Several keys in one go, in the order given, as one replacement of the file:
// a crash leaves all of them old or all new, never a mix. Nothing is written
// when one name is unusable.
struct ProfileEntry {
    QString section, key, value;
};
void WritePrivateProfileStrings(const QList<ProfileEntry>& entries, const QString& fileName);

// Removes the first matching key from section; nothing happens when it is missing.
void DeletePrivateProfileKey(const QString& section, const QString& key, const QString& fileName);

// Removes every section of that name with all its lines. A missing file or
// section is left alone (no file is created).
void ErasePrivateProfileSection(const QString& section, const QString& fileName);

// Text → number by the settings rule: more than two characters beginning with
// "0x"/"0X" are hexadecimal (up to 8 digits, taken as 32 bits), anything else
// must be a whole decimal number in the 32-bit range. ok tells whether it converted.
int settingNumberFromText(const QString& text, bool* ok);

// The shared settings routines: each opens the file, does one thing, lets it go.
QString ReadSettingText(const QString& path, const QString& section, const QString& key,
                        const QString& defaultText);
int ReadSettingNumber(const QString& path, const QString& section, const QString& key,
                      int defaultNumber);
// Written in decimal; any error is swallowed and gives false.
bool WriteSettingNumber(const QString& path, const QString& section, const QString& key,
                        int number);

// True when files can be created in directory: it exists, the system allows
// writing and it is not marked read-only (no write permission bit at all,
// which we respect even for the administrator).
bool isWritableDirectory(const QString& directory);

// Where Setup.ini lives: the program directory when it is writable, otherwise
// $XDG_CONFIG_HOME/Vellumo/ (default ~/.config/Vellumo/), which is created.
// decideSettingsLocation() fixes the choice for the rest of the run; the
// program calls it once at start-up. Before that (and after a reset, which
// tests use) every call decides afresh.
void decideSettingsLocation();
void resetSettingsLocation();
QString settingsDirectory(); // with a trailing "/"
QString setupIniPath();      // settingsDirectory() + "Setup.ini"

} // namespace vellumo
