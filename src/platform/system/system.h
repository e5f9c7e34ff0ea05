// The program's view of time and of where it lives, replaceable by tests.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>

namespace vellumo {

// Current date and time for the record stamps ("Erstellt", "Aenderung").
QDateTime now();
// Tests fix the clock; an empty function goes back to the system clock.
void setClock(std::function<QDateTime()> clock);

// Directory of the program file, with a trailing "/".
QString programDirectory();
// Tests point the program directory (where Setup.ini lives) elsewhere.
void setProgramDirectory(const QString& directory);

// Writes a whole file the user named, as an export does. A regular file (or
// a new one) is replaced as a whole: written beside it, synced, renamed over
// it (a symbolic link stays and its target is replaced), the directory
// synced, so after a crash it is either the old file or the new one. A named
// pipe or a character device (a terminal, /dev/null) is written to directly
// and stays what it is. A directory, a block device or a socket is refused.
// True only when all of it worked; otherwise false with a German message.
bool writeFileSafely(const QString& path, const QByteArray& data, QString* error);

// Appends one content line of a vCard or iCalendar text: folded after at most
// 75 octets (continuations begin with a space), never inside a UTF-8
// sequence, ended by CRLF.
void appendContentLine(QByteArray& out, const QByteArray& line);

// How long the splash stays at least (ms). VELLUMO_SPLASH_MS overrides it.
int splashMinimumMs();

} // namespace vellumo
