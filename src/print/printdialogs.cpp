#include "print/printdialogs.h"

#include "platform/settings/profile.h"
#include "print/formetiketten.h"
#include "print/formserienbrief.h"

namespace vellumo::print {

namespace {

std::vector<PrintDialogEntry>& registry() {
    static std::vector<PrintDialogEntry> dialogs{
        {QStringLiteral("etiketten"), QStringLiteral("EtikettenDrucken"),
         QStringLiteral("E&tiketten drucken …"), QStringLiteral("ButtonEtiketten"),
         [](const PrintWindowContext& c) -> std::unique_ptr<QDialog> {
             return std::make_unique<TFormEtiketten>(c.source, c.parent);
         }},
        {QStringLiteral("serienbrief"), QStringLiteral("SerienbriefDrucken"),
         QStringLiteral("Se&rienbrief …"), QString(),
         [](const PrintWindowContext& c) -> std::unique_ptr<QDialog> {
             return std::make_unique<TFormSerienbrief>(c.source, c.parent);
         }},
    };
    return dialogs;
}

} // namespace

const std::vector<PrintDialogEntry>& printDialogs() {
    return registry();
}

void registerPrintDialog(PrintDialogEntry entry) {
    registry().push_back(std::move(entry));
}

void keepChoices(const QString& section, const QList<std::pair<QString, QString>>& choices) {
    QList<ProfileEntry> entries;
    for (const auto& [key, value] : choices)
        entries.append({section, key, value});
    try {
        WritePrivateProfileStrings(entries, setupIniPath());
    } catch (const std::exception&) {
        // The print goes on; the choices are offered as before next time.
    }
}

} // namespace vellumo::print
