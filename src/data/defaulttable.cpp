#include "data/defaulttable.h"

#include "data/tablefile.h"

#include "platform/database/recordstore.h"
#include "platform/settings/profile.h"

#include <QFileInfo>

#include <exception>

namespace vellumo::data {

bool OpenDefaultTable(RecordStore& store, const QString& baseCaption, const TableWindow& window,
                      const QString& setupIni) {
    const QString name = ReadSettingText(setupIni, QStringLiteral("Standardtabelle"),
                                         QStringLiteral("FileName"), QStringLiteral("Error"));
    const QFileInfo file(name);
    if (name.isEmpty() || !file.exists() || file.isDir())
        return false;
    try {
        store.CloseTable();
        store.BindTable(name);
        store.OpenTable();
        window.setCaption(tableCaption(baseCaption, name));
        window.enableTableControls();
    } catch (...) {
        // Start-up stays silent whatever the stored name points at.
        try {
            if (!store.IsTableOpen())
                window.disableTableControls();
            window.setCaption(baseCaption);
        } catch (...) {
        }
    }
    return store.IsTableOpen();
}

} // namespace vellumo::data
