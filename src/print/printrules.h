// The plain rules of envelope and list printing, used by the dialogs and
// called directly by tests.
#pragma once

#include "platform/report/report.h"

#include <QString>
#include <QStringList>

#include <array>

class QPlainTextEdit;

namespace vellumo {
class RecordStore;
}

namespace vellumo::print {

struct EnvelopeFormat {
    const char* text; // UTF-8
    int left;         // recipient block, report units from the page's top-left corner
    int top;
};

inline constexpr std::array<EnvelopeFormat, 5> EnvelopeFormats{{
    {"11.0 x 22.0cm (Umschlag DL)", 470, 230},
    {"11.4 x 16.2cm (Umschlag C6)", 286, 246},
    {"16.2 x 22.9cm (Umschlag C5)", 462, 390},
    {"12.5 x 17.6cm (Umschlag B6)", 334, 278},
    {"17.6 x 25.0cm (Umschlag B5)", 550, 390},
}};

// The three recipient lines from the texts of the entry fields, untrimmed.
QStringList recipientLines(const QString& vorname, const QString& name, const QString& strasse,
                           const QString& plz, const QString& ort);

// ABSENDER.INI in workingDirectory (the current one when empty).
QString senderIniPath(const QString& workingDirectory = QString());

struct SenderSettings {
    QStringList lines; // always five
    bool print = true; // false only for "Drucken" = "0"
};
SenderSettings loadSenderSettings(const QString& iniPath);
// Writes lines 0 to 4 (missing ones empty, later ones not at all) and
// "Drucken". Raises ProfileError at the first key that cannot be written.
void saveSenderSettings(const QString& iniPath, const QStringList& lines, bool print);

// The lines of a text field as it shows them: a typed line that wraps at the
// field's width counts as two or more.
QStringList displayedLines(QPlainTextEdit* edit);

// The record store as the rows of a report: GoToFirst, then StepForward until
// no further record follows (the filter decides which records these are).
class StoreRows : public report::RowSource {
public:
    explicit StoreRows(RecordStore& store) : store_(store) {}
    bool First() override;
    bool Next() override;
    QString FieldText(const QString& field) const override;

private:
    RecordStore& store_;
};

} // namespace vellumo::print
