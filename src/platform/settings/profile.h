// Profile-string functions: read and write keys of INI files as Windows does.
#pragma once

#include <QString>

namespace vellumo {

QString GetPrivateProfileString(const QString& section, const QString& key,
                                const QString& defaultValue, const QString& fileName);
} // namespace vellumo
