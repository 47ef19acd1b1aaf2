// The box lookups and placements of a whole window, kept compact (BoxRecords and PlacementRecords,
// kep_explain_account.h).
#include <limits.h>

#include <algorithm>
#include <utility>

#include "registration/kep_explain_account.h"

KEP_EXPLAIN_NAMESPACE_BEGIN
namespace {

// The place of `line` in `records`, sorted by line (each with a `line`), or (size_t)-1: looked for
// first at *next, where the line after the one found last stands when the lines are asked in order.
template <class Records>
size_t place_of(const Records& records, tag_t line, size_t* next) {
    if (*next < records.size() && records[*next].line == line) {
        return (*next)++;
    }
    auto it = std::lower_bound(records.begin(), records.end(), line,
                               [](const typename Records::value_type& r, tag_t key) { return r.line < key; });
    if (it == records.end() || it->line != line) {
        return static_cast<size_t>(-1);
    }
    *next = static_cast<size_t>(it - records.begin()) + 1;
    return *next - 1;
}

// Orders records (each with a `line` and the order `taken` in which it was taken) by line, those of
// a line in the order taken; a walk meets most lines in the order of their tags already.
template <class Records>
void sort_by_line(Records& records) {
    using Record = typename Records::value_type;
    const auto before = [](const Record& x, const Record& y) {
        return x.line != y.line ? x.line < y.line : x.taken < y.taken;
    };
    if (!std::is_sorted(records.begin(), records.end(), before)) {
        std::sort(records.begin(), records.end(), before);
    }
}

}  // namespace

// A plain account is one whose every other field is as a fresh account has it: no steps, reasons,
// visualisation datasets left out, structure or forms asked for, and the lookup over. Everything it
// holds goes into the record; its preferences, of which a window reads a few, by their place in
// preferences_. False leaves the places of the preferences it went through in preference_refs_.
bool BoxRecords::keep_plain(const BoxAccount& a, Plain* p) {
    if (!a.steps.empty() || !a.reason.empty() || !a.reasons.empty() || !a.ignored.empty() ||
        !a.structure_listed.empty() || a.unknown_relation || !a.box_forms_asked.empty() || a.open ||
        !a.done) {
        return false;
    }
    if (a.path.empty()) {
        p->path = 0;
    } else if (a.path == "representation") {
        p->path = 1;
    } else if (a.path == "collection") {
        p->path = 2;
    } else {
        return false;
    }
    const size_t room = UINT_MAX - tags_.size();
    if (a.datasets.size() > room || a.names_wanted.size() > room - a.datasets.size() ||
        a.related.size() > room - a.datasets.size() - a.names_wanted.size()) {
        return false;
    }
    p->preferences_at = static_cast<unsigned>(preference_refs_.size());
    p->preferences = 0;
    for (const auto& read : a.preferences) {
        auto known = std::find(preferences_.begin(), preferences_.end(), read);
        if (known == preferences_.end()) {
            if (preferences_.size() == kMostPreferences) {
                return false;
            }
            known = preferences_.insert(preferences_.end(), read);
        }
        preference_refs_.push_back(static_cast<unsigned>(known - preferences_.begin()));
        ++p->preferences;
    }
    p->choice = 0;
    if (!a.choice.empty()) {
        auto known = std::find(choices_.begin(), choices_.end(), a.choice);
        if (known == choices_.end()) {
            if (choices_.size() == UCHAR_MAX) {
                return false;
            }
            known = choices_.insert(choices_.end(), a.choice);
        }
        p->choice = static_cast<unsigned char>(known - choices_.begin() + 1);
    }
    p->dataset = a.dataset;
    p->mod_on_host = a.mod_on_host;
    p->tags_at = static_cast<unsigned>(tags_.size());
    p->datasets = static_cast<unsigned>(a.datasets.size());
    p->names = static_cast<unsigned>(a.names_wanted.size());
    p->related = static_cast<unsigned>(a.related.size());
    p->related_seen = a.related_seen;
    p->has_box = a.has_box;
    std::copy(a.box, a.box + 6, p->box);
    return true;
}

void BoxRecords::add(tag_t line, BoxAccount& account) {
    if (taken_.size() >= UINT_MAX || plain_.size() >= UINT_MAX || whole_.size() >= UINT_MAX) {
        throw std::bad_alloc();
    }
    Plain plain;
    Entry entry{line, static_cast<unsigned>(taken_.size()), 0, false};
    const size_t tags = tags_.size();
    const size_t refs = preference_refs_.size();
    try {
        if (keep_plain(account, &plain)) {
            tags_.insert(tags_.end(), account.datasets.begin(), account.datasets.end());
            tags_.insert(tags_.end(), account.names_wanted.begin(), account.names_wanted.end());
            tags_.insert(tags_.end(), account.related.begin(), account.related.end());
            entry.at = static_cast<unsigned>(plain_.size());
            plain_.push_back(plain);
        } else {
            preference_refs_.resize(refs);
            entry.at = static_cast<unsigned>(whole_.size());
            entry.whole = true;
            whole_.push_back(std::move(account));
        }
        taken_.push_back(entry);
    } catch (...) {
        // Nothing half taken stays: the records are as they were (a moved account stays moved).
        tags_.resize(tags);
        preference_refs_.resize(refs);
        if (entry.whole && whole_.size() > entry.at) {
            whole_.pop_back();
        } else if (!entry.whole && plain_.size() > entry.at) {
            plain_.pop_back();
        }
        throw;
    }
}

void BoxRecords::settle() {
    order_.assign(taken_.begin(), taken_.end());
    taken_.clear();
    taken_.shrink_to_fit();
    sort_by_line(order_);
    // The last account of a line stands.
    size_t kept = 0;
    for (size_t i = 0; i < order_.size(); ++i) {
        if (kept != 0 && order_[kept - 1].line == order_[i].line) {
            order_[kept - 1] = order_[i];
        } else {
            order_[kept++] = order_[i];
        }
    }
    order_.resize(kept);
}

size_t BoxRecords::index_of(tag_t line) const { return place_of(order_, line, &next_); }

bool BoxRecords::take(tag_t line, BoxAccount* out) {
    const size_t i = index_of(line);
    if (i == kNone) {
        return false;
    }
    const Entry& entry = order_[i];
    if (entry.whole) {
        *out = std::move(whole_[entry.at]);
        return true;
    }
    const Plain& p = plain_[entry.at];
    BoxAccount& a = *out;
    a.reset();
    a.path.assign(p.path == 1 ? "representation" : p.path == 2 ? "collection" : "");
    a.dataset = p.dataset;
    a.has_box = p.has_box;
    std::copy(p.box, p.box + 6, a.box);
    auto tags = tags_.begin() + p.tags_at;
    a.datasets.assign(tags, tags + p.datasets);
    tags += p.datasets;
    a.names_wanted.assign(tags, tags + p.names);
    tags += p.names;
    a.related.assign(tags, tags + p.related);
    a.related_seen = p.related_seen;
    for (unsigned k = 0; k < p.preferences; ++k) {
        a.preferences.push_back(preferences_[preference_refs_[p.preferences_at + k]]);
    }
    a.mod_on_host = p.mod_on_host;
    if (p.choice != 0) {
        a.choice.assign(choices_[p.choice - 1U]);
    }
    a.done = true;
    return true;
}

PlacementRecords::Record& PlacementRecords::at(tag_t line) {
    if (records_.empty() || records_.back().line != line) {
        if (records_.size() >= UINT_MAX) {
            throw std::bad_alloc();
        }
        Record r{};
        r.line = line;
        r.taken = static_cast<unsigned>(records_.size());
        r.source = static_cast<unsigned char>(kep::OccurrenceSource::Stored);
        r.absolute_at = kNoAbsolute;
        records_.push_back(r);
    }
    return records_.back();
}

void PlacementRecords::placed(tag_t line, bool packed, bool has_text, bool unreadable,
                              const double* absolute) {
    Record& r = at(line);
    if (absolute != nullptr && r.absolute_at == kNoAbsolute) {
        if (absolutes_.size() >= UINT_MAX) {
            throw std::bad_alloc();
        }
        absolutes_.emplace_back();
        r.absolute_at = static_cast<unsigned>(absolutes_.size() - 1);
    }
    r.told |= kPlaced;
    r.packed = packed;
    r.has_text = has_text;
    r.unreadable = unreadable;
    if (absolute != nullptr) {
        std::copy(absolute, absolute + 16, absolutes_[r.absolute_at].m);
    }
}

void PlacementRecords::occurrence(tag_t line, kep::OccurrenceSource source, tag_t dataset) {
    Record& r = at(line);
    r.told |= kOccurrence;
    r.source = static_cast<unsigned char>(source);
    r.dataset = dataset;
}

void PlacementRecords::method(tag_t line, bool own) {
    Record& r = at(line);
    r.told |= kMethod;
    r.own = own;
}

void PlacementRecords::settle() {
    sort_by_line(records_);
    // A line told of again after others: what was told later stands over what was told before.
    size_t kept = 0;
    for (size_t i = 0; i < records_.size(); ++i) {
        const Record& r = records_[i];
        if (kept == 0 || records_[kept - 1].line != r.line) {
            records_[kept++] = r;
            continue;
        }
        Record& into = records_[kept - 1];
        if ((r.told & kPlaced) != 0) {
            into.packed = r.packed;
            into.has_text = r.has_text;
            into.unreadable = r.unreadable;
            into.absolute_at = r.absolute_at;
        }
        if ((r.told & kOccurrence) != 0) {
            into.source = r.source;
            into.dataset = r.dataset;
        }
        if ((r.told & kMethod) != 0) {
            into.own = r.own;
        }
        into.told |= r.told;
    }
    records_.resize(kept);
}

size_t PlacementRecords::index_of(tag_t line) const { return place_of(records_, line, &next_); }

bool PlacementRecords::find(tag_t line, Placement* out) const {
    const size_t i = index_of(line);
    if (i == kNone) {
        return false;
    }
    const Record& r = records_[i];
    Placement p;
    if ((r.told & kPlaced) != 0) {
        p.met = true;
        p.packed = r.packed;
        p.has_text = r.has_text;
        p.unreadable = r.unreadable;
        if (r.absolute_at != kNoAbsolute) {
            const double* m = absolutes_[r.absolute_at].m;
            std::copy(m, m + 16, p.absolute);
        }
    }
    if ((r.told & kOccurrence) != 0) {
        p.source = source_word(static_cast<kep::OccurrenceSource>(r.source));
        p.dataset = r.dataset;
    }
    if ((r.told & kMethod) != 0) {
        p.method_told = true;
        p.own_method = r.own;
    }
    *out = std::move(p);
    return true;
}

KEP_EXPLAIN_NAMESPACE_END
