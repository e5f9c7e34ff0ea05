// "Bearbeiten › Nummern vereinheitlichen": the phone and fax fields of the
// address shown, or of every address shown through the filter, rewritten by
// DIN 5008 (address/phonenumber.h). Only what the user asks for is rewritten;
// a number that cannot be read, or whose new form would not fit its field,
// stays as it is and is listed.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace vellumo {
class RecordStore;
}

namespace vellumo::data {

enum class PhoneScope { Record, Shown };

struct PhoneReport {
    int numbers = 0;   // fields rewritten
    int addresses = 0; // addresses saved with them
    QStringList left;  // "Adler, Anna – Telefon 1: „keine“ (…)"
};

// Rewrites and saves; raises what the store raises (what was saved stays).
// PhoneScope::Shown is one step of the history, undone at once.
PhoneReport unifyPhoneNumbers(RecordStore& store, PhoneScope scope);
QString phoneReportText(const PhoneReport& report);

void NummernVereinheitlichenClick(RecordStore& store, PhoneScope scope, QWidget* window);

} // namespace vellumo::data
