#include "search/index.h"

#include "address/phonenumber.h"
#include "search/folding.h"

#include <QElapsedTimer>

#include <algorithm>
#include <string_view>

namespace search {

namespace {

// An entry: each field's folded text followed by kFieldEnd, then kPhones,
// then per phone number: its field (as 'a' + its place among the phone
// fields), the E.164 digits, kDigitsEnd, the national digits, kFieldEnd.
// Folded text holds no control characters, so none of these occur in it.
constexpr char kFieldEnd = '\x1e';
constexpr char kPhones = '\x1d';
constexpr char kDigitsEnd = '\x1f';

constexpr int kNoRank = 1000;
constexpr int kOtherField = 3;
constexpr int kMemo = 4;

bool isNameField(const QString& name) {
    return name.compare(u"Name", Qt::CaseInsensitive) == 0 ||
           name.compare(u"Vorname", Qt::CaseInsensitive) == 0;
}

bool isPhoneField(const QString& name) {
    const QString lower = name.toLower();
    return lower.startsWith(u"telefon") || lower.startsWith(u"fax") || lower.startsWith(u"mobil") ||
           lower.startsWith(u"handy");
}

// The position of the n-th field end in text (where the first n fields end).
std::size_t endOfFields(std::string_view text, int n) {
    std::size_t at = 0;
    for (int i = 0; i < n; ++i) {
        const std::size_t end = text.find(kFieldEnd, at);
        if (end == std::string_view::npos)
            return text.size();
        at = end + 1;
    }
    return n == 0 ? 0 : at - 1;
}

int positionRank(std::string_view text, std::size_t at) {
    if (at == 0 || text[at - 1] == kFieldEnd)
        return 0;
    return text[at - 1] == ' ' ? 1 : 2;
}

// The matches of one query, for the store's filter; harmless once the index
// is gone (nothing passes).
class QueryFilter : public vellumo::RecordFilter {
public:
    QueryFilter(std::weak_ptr<Index*> index, Query query)
        : index_(std::move(index)), query_(std::move(query)) {}
    std::vector<std::uint32_t> passingPositions() const override {
        const auto index = index_.lock();
        if (!index)
            return {};
        (*index)->complete();
        return (*index)->find(query_, 0).positions;
    }
    bool passes(int position) const override {
        const auto index = index_.lock();
        return index && (*index)->matches(position, query_);
    }

private:
    std::weak_ptr<Index*> index_;
    Query query_;
};

} // namespace

Index::Index(vellumo::RecordStore& store, Building building)
    : store_(store), self_(std::make_shared<Index*>(this)), building_(building) {
    if (building_ == Building::InSteps) {
        step_ = std::make_unique<QTimer>();
        step_->setInterval(0);
        QObject::connect(step_.get(), &QTimer::timeout, [this] {
            readSome(40);
            if (isComplete()) {
                step_->stop();
                if (completed)
                    completed();
            }
        });
    }
    subscription_ = store_.subscribeStoredChanges(
        [this](const vellumo::StoredChange& change) { changed(change); });
    if (store_.IsTableOpen())
        rebuild();
}

Index::~Index() = default;

int Index::recordCount() const {
    return static_cast<int>(entries_.size());
}

std::size_t Index::memoryBytes() const {
    std::size_t bytes = entries_.capacity() * sizeof(std::string);
    for (const std::string& entry : entries_)
        if (entry.capacity() > 15) // longer than fits into the string itself
            bytes += entry.capacity() + 1;
    return bytes;
}

void Index::clear() {
    if (step_)
        step_->stop();
    built_ = 0;
    storedCount_ = 0;
    entries_.clear();
    entries_.shrink_to_fit();
    fields_.clear();
    phoneFields_.clear();
    countryField_ = -1;
    nameFields_ = 0;
    memoFirst_ = 0;
    ++version_;
}

void Index::rebuild() {
    QElapsedTimer timer;
    timer.start();
    clear();
    const std::vector<vellumo::FieldInfo>& fields = store_.fields();
    std::vector<int> names, others, memos;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const vellumo::FieldInfo& f = fields[i];
        const int at = static_cast<int>(i);
        if (f.kind == vellumo::FieldKind::Memo)
            memos.push_back(at);
        else if (f.kind != vellumo::FieldKind::Text ||
                 f.name.compare(u"UID", Qt::CaseInsensitive) == 0)
            continue; // dates, pictures, and the sync's own key
        else if (isNameField(f.name))
            names.push_back(at);
        else
            others.push_back(at);
        if (f.kind == vellumo::FieldKind::Text && isPhoneField(f.name))
            phoneFields_.push_back(at);
        if (f.name.compare(u"Land", Qt::CaseInsensitive) == 0)
            countryField_ = at;
    }
    nameFields_ = static_cast<int>(names.size());
    fields_ = names;
    fields_.insert(fields_.end(), others.begin(), others.end());
    memoFirst_ = static_cast<int>(fields_.size());
    fields_.insert(fields_.end(), memos.begin(), memos.end());

    storedCount_ = store_.storedCount();
    entries_.reserve(static_cast<std::size_t>(storedCount_));
    buildMs_ = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    if (step_)
        step_->start();
    else
        readSome(-1);
}

void Index::readSome(qint64 milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (built_ < storedCount_) {
        // A record that cannot be read is kept as one that matches nothing.
        try {
            entries_.push_back(entryOf(store_.storedTexts(built_)));
        } catch (const vellumo::StoreError&) {
            entries_.emplace_back();
        }
        ++built_;
        if (milliseconds >= 0 && (built_ & 255) == 0 && timer.elapsed() >= milliseconds)
            break;
    }
    buildMs_ += static_cast<double>(timer.nsecsElapsed()) / 1e6;
    ++version_;
}

void Index::complete() {
    if (isComplete())
        return;
    readSome(-1);
    if (step_)
        step_->stop();
    if (completed)
        completed();
}

std::string Index::entryOf(const QStringList& texts) const {
    std::string entry;
    entry.reserve(160);
    auto text = [&](int field) {
        return field < texts.size() ? QStringView(texts[field]) : QStringView();
    };
    for (int field : fields_) {
        entry += foldUtf8(text(field));
        entry += kFieldEnd;
    }
    entry += kPhones;
    const QString region =
        countryField_ >= 0 ? address::regionOfCountry(text(countryField_)) : QStringLiteral("DE");
    for (std::size_t j = 0; j < phoneFields_.size(); ++j) {
        const auto number = address::PhoneNumber::parse(text(phoneFields_[j]), region);
        if (number.isEmpty())
            continue;
        entry += static_cast<char>('a' + j);
        entry += number.e164Digits().toStdString();
        entry += kDigitsEnd;
        entry += number.nationalDigits().toStdString();
        entry += kFieldEnd;
    }
    entry.shrink_to_fit();
    return entry;
}

void Index::changed(const vellumo::StoredChange& change) {
    using vellumo::StoredChange;
    auto entryAt = [&](int position) {
        try {
            return entryOf(store_.storedTexts(position));
        } catch (const vellumo::StoreError&) {
            return std::string();
        }
    };
    auto at = [&](int position) {
        return entries_.begin() + std::clamp<std::ptrdiff_t>(position, 0, std::ssize(entries_));
    };
    // While a table is read in steps, a record beyond what is read is read
    // when its turn comes; only the count moves.
    auto insertAt = [&](int position) {
        const bool whole = built_ == storedCount_;
        ++storedCount_;
        if (position < built_ || whole) {
            entries_.insert(at(position), entryAt(position));
            ++built_;
        }
    };
    auto removeAt = [&](int position) {
        --storedCount_;
        if (position < built_) {
            entries_.erase(at(position));
            --built_;
        }
    };
    switch (change.kind) {
    case StoredChange::Opened:
    case StoredChange::Reloaded:
        rebuild();
        return;
    case StoredChange::Closed:
        clear();
        return;
    case StoredChange::Inserted:
        insertAt(change.to);
        break;
    case StoredChange::Updated:
        removeAt(change.from);
        insertAt(change.to);
        break;
    case StoredChange::Removed:
        removeAt(change.from);
        break;
    }
    ++version_;
}

int Index::wordRank(std::string_view text, std::size_t namesEnd, const std::string& word) const {
    int best = kNoRank;
    std::size_t at = text.find(word);
    while (at != std::string_view::npos && at < namesEnd) {
        best = std::min(best, positionRank(text, at));
        if (best == 0)
            return 0;
        at = text.find(word, at + 1);
    }
    if (best != kNoRank || at == std::string_view::npos)
        return best;
    const auto field =
        std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at), kFieldEnd);
    return field >= memoFirst_ ? kMemo : kOtherField;
}

bool Index::phoneMatches(std::string_view phones, const Term& term) const {
    const std::string_view digits = term.digits;
    while (!phones.empty()) {
        const std::size_t end = phones.find(kFieldEnd);
        const std::string_view item =
            phones.substr(1, end == std::string_view::npos ? end : end - 1);
        const std::size_t split = item.find(kDigitsEnd);
        const std::string_view e164 = item.substr(0, split);
        const std::string_view national =
            split == std::string_view::npos ? std::string_view() : item.substr(split + 1);
        switch (term.phone) {
        case PhoneMatch::International:
            if (e164.starts_with(digits))
                return true;
            break;
        case PhoneMatch::National:
            if (national.starts_with(digits))
                return true;
            break;
        case PhoneMatch::Anywhere:
            if (national.find(digits) != std::string_view::npos ||
                e164.find(digits) != std::string_view::npos)
                return true;
            break;
        case PhoneMatch::None:
            return false;
        }
        if (end == std::string_view::npos)
            break;
        phones.remove_prefix(end + 1);
    }
    return false;
}

int Index::termRank(const std::string& entry, const Term& term) const {
    const std::string_view all = entry;
    const std::size_t split = all.find(kPhones);
    const std::string_view text = all.substr(0, split);
    const std::size_t namesEnd = endOfFields(text, nameFields_);
    int rank = 0;
    for (const std::string& word : term.words) {
        rank = std::max(rank, wordRank(text, namesEnd, word));
        if (rank == kNoRank)
            break;
    }
    if (rank != kNoRank || term.phone == PhoneMatch::None || split == std::string_view::npos)
        return rank;
    return phoneMatches(all.substr(split + 1), term) ? kOtherField : kNoRank;
}

bool Index::rankOf(const std::string& entry, const Query& query, int& rank) const {
    rank = 0;
    for (const Term& term : query.terms()) {
        const int r = termRank(entry, term);
        if (r == kNoRank)
            return false;
        rank += r;
    }
    return true;
}

Matches Index::find(const Query& query, int limit) const {
    Matches result;
    if (query.isEmpty())
        return result;
    const bool narrowing = lastVersion_ == version_ && query.narrows(lastQuery_);
    auto visit = [&](std::uint32_t position) {
        int rank = 0;
        if (rankOf(entries_[position], query, rank)) {
            result.positions.push_back(position);
            result.best.push_back({static_cast<int>(position), rank});
        }
    };
    if (narrowing) {
        for (std::uint32_t position : lastPositions_)
            visit(position);
    } else {
        for (std::size_t position = 0; position < entries_.size(); ++position)
            visit(static_cast<std::uint32_t>(position));
    }
    auto better = [](const Match& a, const Match& b) {
        return a.rank != b.rank ? a.rank < b.rank : a.position < b.position;
    };
    const auto keep =
        std::min<std::size_t>(static_cast<std::size_t>(std::max(limit, 0)), result.best.size());
    std::partial_sort(result.best.begin(), result.best.begin() + static_cast<std::ptrdiff_t>(keep),
                      result.best.end(), better);
    result.best.resize(keep);
    lastQuery_ = query;
    lastPositions_ = result.positions;
    lastVersion_ = version_;
    return result;
}

bool Index::matches(int position, const Query& query) const {
    if (position < 0 || position >= recordCount() || query.isEmpty())
        return false;
    int rank = 0;
    return rankOf(entries_[static_cast<std::size_t>(position)], query, rank);
}

std::vector<FieldHit> Index::hitsAt(int position, const Query& query) const {
    std::vector<FieldHit> hits;
    if (!matches(position, query))
        return hits;
    const QStringList texts = store_.storedTexts(position);
    const std::vector<vellumo::FieldInfo>& fields = store_.fields();
    const QString region = countryField_ >= 0 && countryField_ < texts.size()
                               ? address::regionOfCountry(texts[countryField_])
                               : QStringLiteral("DE");
    for (std::size_t k = 0; k < fields_.size(); ++k) {
        const int field = fields_[k];
        if (field >= texts.size() || texts[field].isEmpty())
            continue;
        FieldHit hit;
        hit.field = fields[static_cast<std::size_t>(field)].name;
        hit.text = texts[field];
        hit.rank = kNoRank;
        std::vector<int> sources;
        const std::string folded = foldUtf8(hit.text, &sources);
        const bool isName = static_cast<int>(k) < nameFields_;
        const bool isMemo = static_cast<int>(k) >= memoFirst_;
        auto mark = [&](std::size_t at, std::size_t length) {
            const int begin = sources[at];
            const int end = at + length < sources.size() ? sources[at + length]
                                                         : static_cast<int>(hit.text.size());
            hit.ranges.emplace_back(begin, std::max(end - begin, 1));
        };
        for (const Term& term : query.terms()) {
            for (const std::string& word : term.words) {
                for (std::size_t at = folded.find(word); at != std::string::npos;
                     at = folded.find(word, at + word.size())) {
                    mark(at, word.size());
                    const int r = isName   ? (at == 0                 ? 0
                                              : folded[at - 1] == ' ' ? 1
                                                                      : 2)
                                  : isMemo ? kMemo
                                           : kOtherField;
                    hit.rank = std::min(hit.rank, r);
                }
            }
            const bool phoneField =
                std::find(phoneFields_.begin(), phoneFields_.end(), field) != phoneFields_.end();
            if (term.phone != PhoneMatch::None && phoneField) {
                const auto number = address::PhoneNumber::parse(hit.text, region);
                const std::string item = std::string(1, 'a') + number.e164Digits().toStdString() +
                                         kDigitsEnd + number.nationalDigits().toStdString();
                if (!number.isEmpty() && phoneMatches(item, term)) {
                    hit.ranges.emplace_back(0, static_cast<int>(hit.text.size()));
                    hit.rank = std::min(hit.rank, kOtherField);
                }
            }
        }
        if (hit.ranges.empty())
            continue;
        // Ranges in order, overlapping ones joined.
        std::sort(hit.ranges.begin(), hit.ranges.end());
        std::vector<std::pair<int, int>> joined;
        for (const auto& [begin, length] : hit.ranges) {
            if (!joined.empty() && begin <= joined.back().first + joined.back().second)
                joined.back().second =
                    std::max(joined.back().second, begin + length - joined.back().first);
            else
                joined.emplace_back(begin, length);
        }
        hit.ranges = std::move(joined);
        hits.push_back(std::move(hit));
    }
    std::stable_sort(hits.begin(), hits.end(),
                     [](const FieldHit& a, const FieldHit& b) { return a.rank < b.rank; });
    return hits;
}

std::shared_ptr<const vellumo::RecordFilter> Index::filterFor(const Query& query) {
    return std::make_shared<QueryFilter>(self_, query);
}

} // namespace search
