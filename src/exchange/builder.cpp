#include "exchange/builder.h"

#include "platform/database/recordstore.h"

#include <QRegularExpression>

#include <optional>
#include <utility>

namespace vellumo::exchange {

namespace {

QString withKind(const QString& what, const QString& label) {
    return label.isEmpty() ? what : QStringLiteral("%1 (%2)").arg(what, label);
}

QString postalLine(const QString& street, const QString& code, const QString& town,
                   const QString& country) {
    QStringList parts;
    if (!street.isEmpty())
        parts << street;
    const QString place = (code + u' ' + town).trimmed();
    if (!place.isEmpty())
        parts << place;
    if (!country.isEmpty())
        parts << country;
    return parts.join(QStringLiteral(", "));
}

} // namespace

AddressBuilder::AddressBuilder(int origin) {
    address_.origin = origin;
}

void AddressBuilder::set(const QString& field, const QString& value) {
    if (value.isEmpty())
        address_.values.remove(field);
    else
        address_.values.insert(field, value);
}

bool AddressBuilder::has(const QString& field) const {
    return !address_.text(field).isEmpty();
}

void AddressBuilder::setFamilyAndGiven(const QString& family, const QString& given) {
    set(QStringLiteral("Name"), family.trimmed());
    set(QStringLiteral("Vorname"), given.trimmed());
}

void AddressBuilder::addPhone(const QString& number, const QString& label, bool fax) {
    const QString n = number.trimmed();
    if (n.isEmpty())
        return;
    for (const char* field : {"Telefon1", "Telefon2", "Fax"})
        if (address_.text(QString::fromLatin1(field)) == n)
            return;
    if (fax && !has(QStringLiteral("Fax"))) {
        set(QStringLiteral("Fax"), n);
    } else if (!fax && !has(QStringLiteral("Telefon1"))) {
        set(QStringLiteral("Telefon1"), n);
    } else if (!fax && !has(QStringLiteral("Telefon2"))) {
        set(QStringLiteral("Telefon2"), n);
    } else {
        addNote(withKind(fax ? QStringLiteral("Fax") : QStringLiteral("Telefon"), label), n);
    }
}

void AddressBuilder::addEmail(const QString& mail, const QString& label, bool preferred) {
    const QString m = mail.trimmed();
    if (m.isEmpty() || address_.text(QStringLiteral("Email")) == m)
        return;
    if (!has(QStringLiteral("Email"))) {
        set(QStringLiteral("Email"), m);
        preferredEmail_ = preferred;
    } else if (preferred && !preferredEmail_) {
        addNote(QStringLiteral("E-Mail"), address_.text(QStringLiteral("Email")));
        set(QStringLiteral("Email"), m);
        preferredEmail_ = true;
    } else {
        addNote(withKind(QStringLiteral("E-Mail"), label), m);
    }
}

void AddressBuilder::addPostal(const QString& street, const QString& code, const QString& town,
                               const QString& region, const QString& country, const QString& label,
                               bool preferred) {
    const QString s = street.trimmed(), c = code.trimmed(), r = region.trimmed(),
                  l = country.trimmed();
    const QString t = town.trimmed();
    if ((s + c + t + r + l).isEmpty())
        return;
    if (sawPostal_ && !(preferred && !preferredPostal_)) {
        addNote(withKind(QStringLiteral("Adresse"), label),
                postalLine(s, c, r.isEmpty() ? t : t + QStringLiteral(", ") + r, l));
        return;
    }
    if (sawPostal_) {
        const auto v = [this](const char* f) { return address_.text(QString::fromLatin1(f)); };
        addNote(QStringLiteral("Adresse"), postalLine(v("Strasse"), v("PLZ"), v("Ort"), v("Land")));
    }
    set(QStringLiteral("Strasse"), s);
    set(QStringLiteral("PLZ"), c);
    set(QStringLiteral("Ort"), t);
    set(QStringLiteral("Land"), l);
    addNote(QStringLiteral("Region"), r);
    sawPostal_ = true;
    preferredPostal_ = preferred;
}

void AddressBuilder::addUrl(const QString& url, const QString& label) {
    const QString u = url.trimmed();
    if (u.isEmpty() || address_.text(QStringLiteral("WWW")) == u)
        return;
    if (!has(QStringLiteral("WWW")))
        set(QStringLiteral("WWW"), u);
    else
        addNote(withKind(QStringLiteral("Internet"), label), u);
}

void AddressBuilder::addNote(const QString& what, const QString& value) {
    const QString v = value.trimmed();
    if (!v.isEmpty())
        address_.notes << what + QStringLiteral(": ") + v;
}

void AddressBuilder::appendMemo(const QString& text) {
    if (text.trimmed().isEmpty())
        return;
    const QString before = address_.text(QStringLiteral("Memo1"));
    set(QStringLiteral("Memo1"), before.isEmpty() ? text : before + u'\n' + text);
}

void AddressBuilder::setOrganisation(const QString& organisation) {
    const QString o = organisation.trimmed();
    if (o.isEmpty())
        return;
    if (organisation_.isEmpty())
        organisation_ = o;
    addNote(QStringLiteral("Firma"), o);
}

void AddressBuilder::setDate(const QString& field, const QString& text, const QString& what) {
    const std::optional<QDate> date = parseDate(text);
    if (!date) {
        leaveOut(QStringLiteral("%1 \"%2\" ist kein gültiges Datum und wurde weggelassen")
                     .arg(what, text.trimmed()));
        return;
    }
    if (date->isValid())
        address_.values.insert(field, *date);
}

void AddressBuilder::fail(const QString& problem) {
    if (address_.problem.isEmpty())
        address_.problem = problem;
}

Address AddressBuilder::finish() {
    // A card of a firm, one written without N, or one a phone or groupware
    // made of an e-mail address alone still gets a name, so that it can be
    // found and two of them do not collide on an empty key.
    if (!has(QStringLiteral("Name")) && !has(QStringLiteral("Vorname"))) {
        const QString email = address_.text(QStringLiteral("Email"));
        QString phone;
        for (const char* field : {"Telefon1", "Telefon2", "Fax"})
            if (phone.isEmpty())
                phone = address_.text(QString::fromLatin1(field));
        const std::pair<QString, const char*> sources[] = {
            {organisation_, "der Firma"},
            {fullName_, "dem vollen Namen"},
            {email, "der E-Mail-Adresse"},
            {phone, "der Telefonnummer"},
        };
        for (const auto& [value, from] : sources) {
            if (value.trimmed().isEmpty())
                continue;
            set(QStringLiteral("Name"), value.trimmed());
            leaveOut(QStringLiteral("Name aus %1: \"%2\"")
                         .arg(QString::fromUtf8(from), value.trimmed()));
            break;
        }
    }
    return address_;
}

QString kindLabel(const QStringList& types) {
    static const struct {
        const char* type;
        const char* label;
    } kinds[] = {
        {"CELL", "Mobil"},  {"MOBILE", "Mobil"}, {"PAGER", "Pager"},    {"CAR", "Auto"},
        {"WORK", "Arbeit"}, {"HOME", "Privat"},  {"OTHER", "Sonstige"}, {"MAIN", "Zentrale"},
    };
    QStringList labels;
    for (const auto& k : kinds)
        if (types.contains(QString::fromLatin1(k.type), Qt::CaseInsensitive) &&
            !labels.contains(QString::fromUtf8(k.label)))
            labels << QString::fromUtf8(k.label);
    return labels.join(QStringLiteral(", "));
}

QString kindLabelOfText(const QString& label) {
    static const QRegularExpression words(QStringLiteral("[^A-Za-z]+"));
    QStringList types = label.toUpper().split(words, Qt::SkipEmptyParts);
    const QString known = kindLabel(types);
    if (!known.isEmpty())
        return known;
    QString own = label;
    own.remove(u'*');
    return own.trimmed();
}

std::optional<QDate> parseDate(const QString& text) {
    const QString v = text.trimmed();
    if (v.isEmpty())
        return QDate();
    if (v.startsWith(QStringLiteral("--"))) {
        QString md = v.mid(2);
        md.remove(u'-');
        const QDate date =
            QDate::fromString(QString::number(address::kYearUnknown) + md.left(4), u"yyyyMMdd");
        if (md.size() != 4 || !date.isValid())
            return std::nullopt;
        return date;
    }
    if (v.contains(u'.')) {
        // dd.MM.yyyy as the program writes it, d.M.yy, and dd.MM. without a year.
        const QString day = v.section(u' ', 0, 0);
        if (day.count(u'.') == 2 && day.endsWith(u'.')) {
            const QDate date =
                QDate::fromString(day + QString::number(address::kYearUnknown), u"d.M.yyyy");
            return date.isValid() ? std::optional<QDate>(date) : std::nullopt;
        }
        try {
            return parseGermanDate(day);
        } catch (const StoreError&) {
            return std::nullopt;
        }
    }
    QString day = v.left(v.indexOf(u'T') < 0 ? v.size() : v.indexOf(u'T'));
    day = day.section(u' ', 0, 0);
    day.remove(u'-');
    const QDate date = QDate::fromString(day, u"yyyyMMdd");
    if (day.size() != 8 || !date.isValid())
        return std::nullopt;
    return date;
}

} // namespace vellumo::exchange
