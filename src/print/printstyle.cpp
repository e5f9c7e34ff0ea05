#include "print/printstyle.h"

#include "print/envelopestyle.h"
#include "print/labelstyle.h"
#include "print/letterstyle.h"
#include "print/liststyle.h"

namespace vellumo::print {

namespace {

std::vector<PrintStyleEntry>& registry() {
    static std::vector<PrintStyleEntry> styles{
        {QStringLiteral("umschlag"), QString(), QString(),
         [](report::RowSource*) -> std::unique_ptr<PrintStyle> {
             return std::make_unique<EnvelopeStyle>();
         }},
        {QStringLiteral("liste"), QStringLiteral("--list"), QString(),
         [](report::RowSource* rows) -> std::unique_ptr<PrintStyle> {
             return std::make_unique<ListStyle>(rows);
         }},
        {QStringLiteral("etiketten"), QStringLiteral("--labels"), QStringLiteral("Format"),
         [](report::RowSource* rows) -> std::unique_ptr<PrintStyle> {
             return std::make_unique<LabelStyle>(rows);
         }},
        {QStringLiteral("serienbrief"), QStringLiteral("--letters"), QStringLiteral("Vorlage"),
         [](report::RowSource* rows) -> std::unique_ptr<PrintStyle> {
             return std::make_unique<LetterStyle>(rows);
         }},
    };
    return styles;
}

} // namespace

const std::vector<PrintStyleEntry>& printStyles() {
    return registry();
}

void registerPrintStyle(PrintStyleEntry entry) {
    registry().push_back(std::move(entry));
}

report::PageGeometry PrintStyle::geometry() const {
    return report::PageGeometry::fullPage(QPageSize(QPageSize::A4));
}

std::unique_ptr<PrintStyle> createPrintStyle(const QString& id, report::RowSource* rows) {
    for (const PrintStyleEntry& entry : printStyles())
        if (id == entry.id)
            return entry.create(rows);
    return nullptr;
}

void unknownOption(const QString& style, const QString& key) {
    throw report::ReportError(
        QStringLiteral("Der Druckstil \"%1\" kennt keine Einstellung \"%2\"").arg(style, key));
}

} // namespace vellumo::print
