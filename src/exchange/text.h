// Text decoding shared by the vCard and CSV readers.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace vellumo::exchange {

// Windows-1252, the code page of German spreadsheets and old address files.
QString decodeWindows1252(const QByteArray& bytes);
// UTF-8 when the bytes are valid UTF-8, Windows-1252 otherwise.
QString decodeUtf8Or1252(const QByteArray& bytes);
// Decodes in the named character set (UTF-8, ISO-8859-1, Windows-1252 and what
// else Qt knows). ISO-8859-1 is read as Windows-1252, its superset in the
// files that name it. False for a character set nobody knows.
bool decodeCharset(const QByteArray& bytes, const QByteArray& charset, QString& out);

// The text with every character that fits refuses replaced by its Latin
// transliteration (ICU's Any-Latin, then Latin-ASCII for what is still
// refused); what even that cannot express becomes "?". Characters that fit
// stay as they are.
QString transliterated(const QString& text, const std::function<bool(const QString&)>& fits);

} // namespace vellumo::exchange
