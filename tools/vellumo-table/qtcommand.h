// What the tool's Qt-side commands share: output in UTF-8 and the values of
// a table as Qt types. format.h stays free of Qt for the engine-only build.
#pragma once

#include "platform/paradox/table.h"

#include <QString>

#include <cstdio>

namespace vtable {

// The text in UTF-8, as it stands.
void print(std::FILE* to, const QString& text);
// "vellumo-table: TEXT" and a line break on standard error.
void err(const QString& text);
// The text and a line break on standard output.
void say(const QString& text);

// The table's file for a name given with or without ".db".
QString tableFile(const QString& name);

// Empty unless the value is text; dates go through platform/database/enginedate.h.
QString textOf(const px::Value& value);

} // namespace vtable
