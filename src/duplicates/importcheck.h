// What an import brought that the table already had: while the import runs,
// AddedRecords notes the key of every record it stores; afterwards
// importDuplicates compares those records with the ones the table had before
// (duplicates/finder.h) and names each likely pair in German for the import's
// details ("vermutlich doppelt: …"), so the user can open the list of just
// those pairs.
#pragma once

#include "duplicates/finder.h"
#include "platform/database/listeners.h"

#include <QSet>
#include <QString>
#include <QStringList>

namespace vellumo {
class RecordStore;
}

namespace duplicates {

class AddedRecords {
public:
    explicit AddedRecords(vellumo::RecordStore& store);
    // The keys (keyText) of the records stored since this was made. A batch
    // rolled back may leave keys of records no longer there; they pair with
    // nothing.
    const QSet<QString>& keys() const { return keys_; }

private:
    vellumo::RecordStore& store_;
    QSet<QString> keys_;
    vellumo::Subscription subscription_;
};

struct ImportDuplicates {
    int pairs = 0;
    QStringList lines; // "vermutlich doppelt: NEW – OLD (reasons)", best first
};

// The likely pairs of one added and one older record of the open table.
ImportDuplicates importDuplicates(const vellumo::RecordStore& store, const QSet<QString>& added);

} // namespace duplicates
