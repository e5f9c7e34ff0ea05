// The program's view of time and of where it lives, replaceable by tests.
#pragma once

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

// How long the splash stays at least (ms). VELLUMO_SPLASH_MS overrides it.
int splashMinimumMs();

} // namespace vellumo
