// The rules of the search dialog, kept apart from the window so they can be
// checked without one.
#pragma once

#include <QString>
#include <QStringList>

namespace vellumo {

// The entries of the search dialog's field list, in the order shown.
const QStringList& searchFieldCaptions();

// Table field searched for a caption; empty when the text equals no caption.
// Captions are compared exactly, case included.
QString searchFieldName(const QString& caption);

// The filter expression comparing one field with the search text, e.g.
// PLZ = '12345'. Apostrophes in the text are doubled, so the text always
// stays one quoted value whatever the user typed.
QString searchExpression(const QString& fieldName, const QString& searchText);

} // namespace vellumo
