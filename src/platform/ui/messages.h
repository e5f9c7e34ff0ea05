// The standard error display, the German message boxes and the one-line
// input box, shared by every window of the program.
#pragma once

#include <QString>

#include <exception>
#include <functional>
#include <utility>

class QWidget;

namespace vellumo {

// Box titled "Vellumo", error icon, "OK", the text followed by a full stop
// (none is added when the text already ends with one).
void showError(const QString& text, QWidget* parent = nullptr);

// Message boxes whose type sets the title.
void showInformation(const QString& text, QWidget* parent = nullptr);  // "Information", "OK"
void showErrorMessage(const QString& text, QWidget* parent = nullptr); // "Fehler", "OK"
// "Bestätigen" with "&Ja" (default) and "&Nein" (also Esc and the close box);
// true only for "&Ja".
bool confirm(const QString& text, QWidget* parent = nullptr);
// The same box with "&Nein" as default, for a question whose "&Ja" throws
// something away: Enter pressed once too often keeps it.
bool confirmDefaultNo(const QString& text, QWidget* parent = nullptr);

// The box shown by menu items and buttons whose feature is not there yet.
void showNotAvailable(QWidget* parent = nullptr);
inline constexpr const char* kNotAvailableText = "Diese Funktion ist noch nicht verfügbar.";

// One-line input box, centred on the screen: prompt above an edit prefilled
// with value (at most 255 characters), "OK" (default) and "Abbrechen" (also
// Esc). Returns true and the edited text in value for "OK".
bool inputQuery(const QString& title, const QString& prompt, QString& value,
                QWidget* parent = nullptr);

// Asks where to save a file, in the program's own file dialog (named
// objectName, for tests and aids), opening in folder (the working directory
// when empty) with proposed selected and its suffix added to a bare name;
// folder becomes the one chosen. Empty when the user cancels.
QString askSaveFileName(QWidget* parent, const QString& objectName, const QString& title,
                        const QString& filter, const QString& proposed, QString& folder);

// Text of an exception as the user should read it.
QString errorText(const std::exception& error);

// Runs action; any exception it raises ends there and goes to the standard
// error display. Every handler runs through this, so no exception ever
// unwinds through a Qt frame.
void runGuarded(const std::function<void()>& action);

// A slot that runs action guarded: connect(button, &QAbstractButton::clicked,
// this, guarded([this] { NeuClick(); })).
template <class Action> auto guarded(Action action) {
    return [action = std::move(action)](auto&&...) { runGuarded(action); };
}

} // namespace vellumo
