#include "search/query.h"

#include "address/phonenumber.h"
#include "search/folding.h"

#include <QRegularExpression>
#include <QStringList>

namespace search {

namespace {

// The fewest digits that make a number in the query a phone number.
constexpr int kPhoneDigits = 4;

bool isNumberPart(QStringView token) {
    for (QChar c : token)
        if (!c.isDigit() && c != u'+' && c != u'(' && c != u')' && c != u'/' && c != u'.' &&
            c != u'-')
            return false;
    return true;
}

Term phoneTerm(const QStringList& tokens) {
    Term term;
    for (const QString& token : tokens) {
        std::string word = foldTyped(token);
        if (!word.empty())
            term.words.push_back(std::move(word));
    }
    const QString written = tokens.join(u' ');
    const QString digits = address::digitsOf(written);
    const QString start = written.trimmed();
    if (start.startsWith(u'+') || digits.startsWith(QStringLiteral("00"))) {
        term.phone = PhoneMatch::International;
        QString international = address::PhoneNumber::parse(written).e164Digits();
        if (international.isEmpty())
            international = digits.startsWith(QStringLiteral("00")) ? digits.mid(2) : digits;
        term.digits = international.toStdString();
    } else if (digits.startsWith(u'0')) {
        term.phone = PhoneMatch::National;
        term.digits = digits.toStdString();
    } else {
        term.phone = PhoneMatch::Anywhere;
        term.digits = digits.toStdString();
    }
    return term;
}

void addWordTerm(std::vector<Term>& terms, const QString& token) {
    std::string word = foldTyped(token);
    if (word.empty())
        return;
    Term term;
    term.words.push_back(std::move(word));
    terms.push_back(std::move(term));
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

Query Query::parse(QStringView text) {
    Query query;
    query.text_ = text.toString();
    const QStringList tokens =
        query.text_.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    // A run of numbers with at least four digits in all is one phone number
    // ("+49 221 1234567"); shorter runs stay words ("5" of a house number).
    for (qsizetype i = 0; i < tokens.size();) {
        if (!isNumberPart(tokens[i])) {
            addWordTerm(query.terms_, tokens[i]);
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < tokens.size() && isNumberPart(tokens[end]))
            ++end;
        const QStringList run = tokens.mid(i, end - i);
        if (address::digitsOf(run.join(QString())).size() >= kPhoneDigits) {
            Term term = phoneTerm(run);
            if (!term.words.empty())
                query.terms_.push_back(std::move(term));
        } else {
            for (const QString& token : run)
                addWordTerm(query.terms_, token);
        }
        i = end;
    }
    return query;
}

bool Query::narrows(const Query& before) const {
    if (before.isEmpty() || terms_.size() < before.terms_.size())
        return false;
    for (std::size_t i = 0; i < before.terms_.size(); ++i) {
        const Term& now = terms_[i];
        const Term& then = before.terms_[i];
        if (now.phone != then.phone || now.words.size() < then.words.size())
            return false;
        for (std::size_t w = 0; w < then.words.size(); ++w)
            if (!contains(now.words[w], then.words[w]))
                return false;
        if (now.phone == PhoneMatch::Anywhere ? !contains(now.digits, then.digits)
                                              : !now.digits.starts_with(then.digits))
            return false;
    }
    return true;
}

} // namespace search
