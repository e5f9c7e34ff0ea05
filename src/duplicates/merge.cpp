#include "duplicates/merge.h"

#include "address/addressschema.h"
#include "address/phonenumber.h"
#include "search/folding.h"

#include <QHash>

namespace duplicates {

namespace {

using vellumo::FieldKind;

bool isPhoneField(const QString& field) {
    return field.compare(u"Telefon1", Qt::CaseInsensitive) == 0 ||
           field.compare(u"Telefon2", Qt::CaseInsensitive) == 0 ||
           field.compare(u"Fax", Qt::CaseInsensitive) == 0;
}

bool isEmptyValue(const QVariant& v) {
    if (v.isNull() || !v.isValid())
        return true;
    if (v.typeId() == QMetaType::QString)
        return v.toString().trimmed().isEmpty();
    if (v.typeId() == QMetaType::QByteArray)
        return v.toByteArray().isEmpty();
    if (v.typeId() == QMetaType::QDate)
        return !v.toDate().isValid();
    return false;
}

QString dateText(const QDate& date) {
    if (date.year() == vellumo::address::kYearUnknown)
        return date.toString(QStringLiteral("dd.MM."));
    return vellumo::formatGermanDate(date);
}

// Two values that say the same: equal, the same text in another spelling
// ("Mueller", "Müller"; "Str." and "Straße"), the same phone number written
// otherwise, the same day with and without its year.
bool sayTheSame(const FieldMerge& f) {
    const QVariant& a = f.keep;
    const QVariant& b = f.drop;
    if (isEmptyValue(a) || isEmptyValue(b))
        return isEmptyValue(a) && isEmptyValue(b);
    if (f.kind == FieldKind::Graphic)
        return a.toByteArray() == b.toByteArray();
    if (f.kind == FieldKind::Date) {
        const QDate x = a.toDate(), y = b.toDate();
        return x == y || (x.month() == y.month() && x.day() == y.day() &&
                          (x.year() == vellumo::address::kYearUnknown ||
                           y.year() == vellumo::address::kYearUnknown));
    }
    const QString x = a.toString(), y = b.toString();
    if (x == y || search::fold(x) == search::fold(y))
        return true;
    if (isPhoneField(f.field)) {
        const auto px = ::address::PhoneNumber::parse(x);
        const auto py = ::address::PhoneNumber::parse(y);
        return !px.isEmpty() && px.nationalNumber() == py.nationalNumber() &&
               px.countryCode() == py.countryCode();
    }
    return false;
}

int letterCount(const QString& text) {
    int n = 0;
    for (QChar c : text)
        n += c.isLetterOrNumber() ? 1 : 0;
    return n;
}

int nonAsciiCount(const QString& text) {
    int n = 0;
    for (QChar c : text)
        n += c.unicode() > 127 ? 1 : 0;
    return n;
}

// Whether the other record's value is the fuller one.
bool dropIsFuller(const FieldMerge& f) {
    if (isEmptyValue(f.keep))
        return !isEmptyValue(f.drop);
    if (isEmptyValue(f.drop))
        return false;
    switch (f.kind) {
    case FieldKind::Graphic:
        return f.drop.toByteArray().size() > f.keep.toByteArray().size();
    case FieldKind::Date:
        return f.keep.toDate().year() == vellumo::address::kYearUnknown &&
               f.drop.toDate().year() != vellumo::address::kYearUnknown;
    default: {
        const QString k = f.keep.toString(), d = f.drop.toString();
        // One value in two spellings: "Müller" rather than "Mueller",
        // "Straße" rather than "Str.", as the name is written.
        if (search::fold(k) == search::fold(d) && nonAsciiCount(d) != nonAsciiCount(k))
            return nonAsciiCount(d) > nonAsciiCount(k);
        return letterCount(d) > letterCount(k);
    }
    }
}

QString shownValue(const FieldMerge& f, const QVariant& v) {
    if (f.kind == FieldKind::Date)
        return dateText(v.toDate());
    return v.toString().simplified();
}

} // namespace

QString fieldLabel(const QString& field) {
    static const QHash<QString, QString> labels{
        {QStringLiteral("strasse"), QStringLiteral("Straße")},
        {QStringLiteral("telefon1"), QStringLiteral("Telefon 1")},
        {QStringLiteral("telefon2"), QStringLiteral("Telefon 2")},
        {QStringLiteral("email"), QStringLiteral("E-Mail")},
        {QStringLiteral("www"), QStringLiteral("Internet")},
        {QStringLiteral("kontonr"), QStringLiteral("Konto-Nr.")},
        {QStringLiteral("grafik"), QStringLiteral("Bild")},
        {QStringLiteral("memo1"), QStringLiteral("Bemerkungen")},
        {QStringLiteral("aenderung"), QStringLiteral("Änderung")},
    };
    return labels.value(field.toLower(), field);
}

MergePlan planMerge(const std::vector<vellumo::FieldInfo>& fields, const QVariantList& a,
                    const QVariantList& b, bool* keepIsA) {
    const auto indexOf = [&](QStringView name) {
        for (std::size_t i = 0; i < fields.size(); ++i)
            if (fields[i].name.compare(name, Qt::CaseInsensitive) == 0)
                return static_cast<int>(i);
        return -1;
    };
    const auto value = [](const QVariantList& values, int i) {
        return i >= 0 && i < values.size() ? values[i] : QVariant();
    };
    // The record that stays: the one a sync knows by its UID, else the older.
    const int uid = indexOf(u"UID");
    const int created = indexOf(u"Erstellt");
    bool aStays = true;
    const bool aUid = !isEmptyValue(value(a, uid)), bUid = !isEmptyValue(value(b, uid));
    if (aUid != bUid) {
        aStays = aUid;
    } else {
        const QDate ca = value(a, created).toDate(), cb = value(b, created).toDate();
        if (ca.isValid() && cb.isValid() && cb < ca)
            aStays = false;
    }
    if (keepIsA)
        *keepIsA = aStays;
    const QVariantList& keep = aStays ? a : b;
    const QVariantList& drop = aStays ? b : a;

    MergePlan plan;
    for (std::size_t n = 0; n < fields.size(); ++n) {
        const int i = static_cast<int>(n);
        FieldMerge f;
        f.field = fields[n].name;
        f.kind = fields[n].kind;
        f.keep = value(keep, i);
        f.drop = value(drop, i);
        if (i == uid)
            f.rule = FieldMerge::Identity;
        else if (i == created)
            f.rule = FieldMerge::Older;
        else if (f.field.compare(u"Aenderung", Qt::CaseInsensitive) == 0)
            f.rule = FieldMerge::Changed;
        else if (f.kind == FieldKind::Memo)
            f.rule = FieldMerge::Notes;
        else if (f.kind == FieldKind::Other || sayTheSame(f))
            f.rule = FieldMerge::Same;
        else
            f.rule = FieldMerge::Choice;
        // Also for values that say the same: the fuller spelling is kept.
        f.takeDrop = f.kind != FieldKind::Other && dropIsFuller(f);
        plan.fields.push_back(std::move(f));
    }
    return plan;
}

MergePlan planMerge(const vellumo::RecordStore& store, int a, int b) {
    const auto valuesOf = [&](int position) {
        QVariantList values;
        for (const vellumo::FieldInfo& f : store.fields())
            values << store.storedValue(position, f.name);
        return values;
    };
    bool keepIsA = true;
    MergePlan plan = planMerge(store.fields(), valuesOf(a), valuesOf(b), &keepIsA);
    plan.keep = keepIsA ? a : b;
    plan.drop = keepIsA ? b : a;
    plan.keepTexts = store.storedTexts(plan.keep);
    plan.dropTexts = store.storedTexts(plan.drop);
    return plan;
}

QStringList notesLines(const MergePlan& plan) {
    QStringList lines;
    for (const FieldMerge& f : plan.fields) {
        if (f.rule != FieldMerge::Choice || f.kind == FieldKind::Graphic)
            continue;
        const QVariant& notTaken = f.takeDrop ? f.keep : f.drop;
        if (isEmptyValue(notTaken))
            continue;
        lines << QStringLiteral("%1 (alt): %2").arg(fieldLabel(f.field), shownValue(f, notTaken));
    }
    return lines;
}

QVariantList mergedValues(const MergePlan& plan, const QDate& today) {
    QVariantList values;
    for (const FieldMerge& f : plan.fields) {
        switch (f.rule) {
        case FieldMerge::Choice:
        case FieldMerge::Same:
            values << (f.takeDrop ? f.drop : f.keep);
            break;
        case FieldMerge::Identity:
            values << (isEmptyValue(f.keep) ? f.drop : f.keep);
            break;
        case FieldMerge::Older: {
            const QDate k = f.keep.toDate(), d = f.drop.toDate();
            values << (d.isValid() && (!k.isValid() || d < k) ? f.drop : f.keep);
            break;
        }
        case FieldMerge::Changed:
            values << QVariant(today);
            break;
        case FieldMerge::Notes: {
            QStringList parts;
            const QString k = f.keep.toString().trimmed(), d = f.drop.toString().trimmed();
            if (!k.isEmpty())
                parts << k;
            if (!d.isEmpty() && !k.contains(d))
                parts << d;
            const QStringList lines = notesLines(plan);
            if (!lines.isEmpty())
                parts << lines.join(u'\n');
            values << (parts.isEmpty() ? QVariant() : QVariant(parts.join(u'\n')));
            break;
        }
        }
    }
    return values;
}

void mergeRecords(vellumo::RecordStore& store, const MergePlan& plan, const QDate& today) {
    // A record being edited is stored first: its save may move the positions,
    // which the check below then notices.
    store.SaveRecord();
    const int count = store.storedCount();
    if (plan.keep < 0 || plan.drop < 0 || plan.keep == plan.drop || plan.keep >= count ||
        plan.drop >= count || store.storedTexts(plan.keep) != plan.keepTexts ||
        store.storedTexts(plan.drop) != plan.dropTexts)
        throw vellumo::StoreError(QStringLiteral(
            "Die Adressen wurden inzwischen geändert. Bitte suchen Sie die Dubletten erneut."));
    using Edit = vellumo::RecordStore::StoredEdit;
    // The other record goes first, so the kept one may take its key.
    const int keepAfter = plan.drop < plan.keep ? plan.keep - 1 : plan.keep;
    const QVariantList merged = mergedValues(plan, today);
    // One step of the history, to be undone as a whole.
    QStringList name;
    for (const QVariant& part : merged.mid(0, 2))
        if (!part.toString().isEmpty())
            name << part.toString();
    const vellumo::RecordStore::StepGuard step(
        store, QStringLiteral("Zusammenführen: %1").arg(name.join(QStringLiteral(", "))));
    store.changeStored({Edit{Edit::Remove, plan.drop, {}}, Edit{Edit::Update, keepAfter, merged}});
}

} // namespace duplicates
