// Text decoding shared by the vCard and CSV readers.
#pragma once

#include <QByteArray>
#include <QString>

namespace vellumo::exchange {

// Windows-1252, the code page of German spreadsheets and old address files.
QString decodeWindows1252(const QByteArray& bytes);
// UTF-8 when the bytes are valid UTF-8, Windows-1252 otherwise.
QString decodeUtf8Or1252(const QByteArray& bytes);
// Decodes in the named character set (UTF-8, ISO-8859-1, Windows-1252 and what
// else Qt knows). ISO-8859-1 is read as Windows-1252, its superset in the
// files that name it. False for a character set nobody knows.
bool decodeCharset(const QByteArray& bytes, const QByteArray& charset, QString& out);

} // namespace vellumo::exchange
