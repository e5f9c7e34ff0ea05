#include "platform/carddav/merge.h"

#include <QSet>

namespace vellumo::carddav {

FieldMerge mergeFields(const Fields& base, const Fields& local, const Fields& server) {
    FieldMerge m;
    QSet<QString> names;
    for (const Fields* f : {&base, &local, &server})
        for (auto it = f->cbegin(); it != f->cend(); ++it)
            names.insert(it.key());
    QStringList ordered(names.begin(), names.end());
    ordered.sort();
    for (const QString& name : ordered) {
        const QString b = base.value(name), l = local.value(name), s = server.value(name);
        QString result = l;
        if (l == s) {
            result = l;
        } else if (l == b) {
            result = s;
            m.serverChanges = true;
        } else if (s == b) {
            m.localChanges = true;
        } else {
            // Both changed it, differently: ours stays, theirs waits for the
            // user, and the server must not get ours before the user chose.
            m.conflicts.append({name, l, s});
        }
        if (!result.isEmpty())
            m.merged.insert(name, result);
    }
    return m;
}

CardAction decide(bool hasBase, Side local, Side server) {
    if (!hasBase) {
        if (local.present && server.present)
            return CardAction::Merge;
        if (local.present)
            return CardAction::Upload;
        if (server.present)
            return CardAction::Download;
        return CardAction::Nothing;
    }
    if (!local.present && !server.present)
        return CardAction::Forget;
    if (!server.present)
        // Deleted on the server: an edit made here since brings it back.
        return local.changed ? CardAction::Upload : CardAction::DeleteLocal;
    if (!local.present)
        return server.changed ? CardAction::Download : CardAction::DeleteServer;
    if (local.changed && server.changed)
        return CardAction::Merge;
    if (local.changed)
        return CardAction::Upload;
    if (server.changed)
        return CardAction::Download;
    return CardAction::Nothing;
}

} // namespace vellumo::carddav
