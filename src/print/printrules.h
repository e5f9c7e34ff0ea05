// The plain rules of envelope and list printing, used by the dialogs and
// called directly by tests.
#pragma once

#include "address/postaladdress.h"
#include "print/envelopestyle.h"
#include "print/sender.h"

#include <QString>
#include <QStringList>

class QPlainTextEdit;

namespace vellumo::print {

// The envelope's recipient lines: the post's lines of the address, each
// field's text as the entry fields show it (blanks kept), so that what the
// user typed is what is printed.
QStringList recipientLines(const address::PostalAddress& address);
QStringList recipientLines(const QString& vorname, const QString& name, const QString& strasse,
                           const QString& plz, const QString& ort);

// The lines of a text field as it shows them: a typed line that wraps at the
// field's width counts as two or more.
QStringList displayedLines(QPlainTextEdit* edit);

} // namespace vellumo::print
