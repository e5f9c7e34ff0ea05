// The standard error display and the German message boxes used everywhere.
#pragma once

#include <QString>

class QWidget;

namespace vellumo {

// Box titled "Vellumo", error icon, "OK", the text followed by a full stop.
void showError(const QString& text, QWidget* parent = nullptr);

} // namespace vellumo
