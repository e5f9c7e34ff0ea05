#include "print/printstyle.h"

#include "print/envelopestyle.h"
#include "print/labelstyle.h"
#include "print/liststyle.h"

namespace vellumo::print {

const std::vector<PrintStyleEntry>& printStyles() {
    static const std::vector<PrintStyleEntry> styles{
        {"umschlag",
         [](report::RowSource*) -> std::unique_ptr<PrintStyle> {
             return std::make_unique<EnvelopeStyle>();
         }},
        {"liste",
         [](report::RowSource* rows) -> std::unique_ptr<PrintStyle> {
             return std::make_unique<ListStyle>(rows);
         }},
        {"etiketten",
         [](report::RowSource* rows) -> std::unique_ptr<PrintStyle> {
             return std::make_unique<LabelStyle>(rows);
         }},
    };
    return styles;
}

std::unique_ptr<PrintStyle> createPrintStyle(const QString& id, report::RowSource* rows) {
    for (const PrintStyleEntry& entry : printStyles())
        if (id == QLatin1String(entry.id))
            return entry.create(rows);
    return nullptr;
}

void unknownOption(const QString& style, const QString& key) {
    throw report::ReportError(
        QStringLiteral("Der Druckstil \"%1\" kennt keine Einstellung \"%2\"").arg(style, key));
}

} // namespace vellumo::print
