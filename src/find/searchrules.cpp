#include "find/searchrules.h"

#include <array>
#include <utility>

namespace vellumo {

const QStringList& searchFieldCaptions() {
    static const QStringList captions{
        QStringLiteral("Vorname"), QStringLiteral("Name"),         QStringLiteral("Straße"),
        QStringLiteral("Land"),    QStringLiteral("Postleitzahl"), QStringLiteral("Ort"),
        QStringLiteral("Rubrik"),  QStringLiteral("Telefon 1"),    QStringLiteral("Telefon 2"),
        QStringLiteral("Fax"),     QStringLiteral("Email"),        QStringLiteral("WWW"),
    };
    return captions;
}

QString searchFieldName(const QString& caption) {
    // Looked up in this order; the first equal caption wins.
    static const std::array<std::pair<const char16_t*, const char16_t*>, 12> mapping{{
        {u"Name", u"Name"},
        {u"Vorname", u"Vorname"},
        {u"Straße", u"Strasse"},
        {u"Postleitzahl", u"PLZ"},
        {u"Ort", u"Ort"},
        {u"Land", u"Land"},
        {u"Telefon 1", u"Telefon1"},
        {u"Telefon 2", u"Telefon2"},
        {u"Fax", u"Fax"},
        {u"Email", u"Email"},
        {u"WWW", u"WWW"},
        {u"Rubrik", u"Rubrik"},
    }};
    for (const auto& [shown, field] : mapping) {
        if (caption == QStringView(shown))
            return QString::fromUtf16(field);
    }
    return QString();
}

QString searchExpression(const QString& fieldName, const QString& searchText) {
    QString quoted = searchText;
    quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
    return fieldName + QStringLiteral(" = '") + quoted + QLatin1Char('\'');
}

} // namespace vellumo
