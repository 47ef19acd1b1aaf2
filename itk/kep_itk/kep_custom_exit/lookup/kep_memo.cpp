// The call memo: one set of kept answers per thread, alive while the thread's outermost call scope
// is open and every switch is off.
//
// Kept answers live in node-based maps, so that a text or list lent out stays where it is while
// more answers are added. The standard library's containers may throw when memory runs out; no
// exception may leave the extension, so every addition is guarded, and an answer that cannot be
// kept is simply asked again next time.
#include "lookup/kep_memo.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "kep_trace.h"
#include "lookup/kep_lookup.h"
#include "modon/kep_modon.h"

namespace kep {

namespace {

// Every container here is instantiated with a type of this file (an allocator or a hash), so that
// none of the standard library's code made for it is exported from the library.
template <class T>
struct LocalAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = LocalAllocator<U>;
    };
    LocalAllocator() noexcept = default;
    template <class U>
    LocalAllocator(const LocalAllocator<U>&) noexcept {}
};

template <class T>
using Vector = std::vector<T, LocalAllocator<T>>;

struct NumberHash {
    size_t operator()(uint64_t n) const noexcept {
        const uint64_t h = n * 0x9e3779b97f4a7c15ULL;
        return static_cast<size_t>(h ^ (h >> 32));
    }
};

template <class K, class V>
using NumberMap =
    std::unordered_map<K, V, NumberHash, std::equal_to<K>, LocalAllocator<std::pair<const K, V>>>;

// The answers asked for nearly every line (its parent, revision, item id and occurrence name), by
// line and attribute, in one flat table: open addressing with linear probing, at most half full,
// 16 bytes a slot, no node per answer. A value is a tag or the address of a kept text.
class LineTable {
public:
    // The value kept for line and attribute, or false.
    bool find(tag_t line, int attribute, uint64_t* value) const noexcept {
        const uint64_t key = stored_key(line, attribute);
        if (slots_.empty() || key == 0) {
            return false;
        }
        for (size_t i = home(key, shift_);; i = (i + 1) & mask_) {
            if (slots_[i].key == 0) {
                return false;
            }
            if (slots_[i].key == key) {
                *value = slots_[i].value;
                return true;
            }
        }
    }
    // Keeps a new value; throws when no memory is left (the table is then unchanged).
    void insert(tag_t line, int attribute, uint64_t value) {
        const uint64_t key = stored_key(line, attribute);
        if (key == 0) {
            return;
        }
        if (2 * (count_ + 1) > slots_.size()) {
            grow();
        }
        if (place(slots_, key, value, shift_, mask_)) {
            ++count_;
        }
    }

private:
    struct Slot {
        uint64_t key;  // 0: empty
        uint64_t value;
    };

    // One more than line and attribute side by side, so that 0 marks an empty slot.
    static uint64_t stored_key(tag_t line, int attribute) noexcept {
        return ((static_cast<uint64_t>(line) << 32) | static_cast<uint32_t>(attribute)) + 1;
    }
    static size_t home(uint64_t key, int shift) noexcept {
        return static_cast<size_t>((key * 0x9e3779b97f4a7c15ULL) >> shift);
    }
    // True when the key was new.
    static bool place(Vector<Slot>& slots, uint64_t key, uint64_t value, int shift, size_t mask) noexcept {
        size_t i = home(key, shift);
        while (slots[i].key != 0 && slots[i].key != key) {
            i = (i + 1) & mask;
        }
        const bool added = slots[i].key == 0;
        slots[i] = Slot{key, value};
        return added;
    }
    void grow() {
        const size_t capacity = slots_.empty() ? 1024 : 2 * slots_.size();
        Vector<Slot> fresh(capacity, Slot{0, 0});
        int shift = 64;
        for (size_t c = capacity; c > 1; c >>= 1) {
            --shift;
        }
        for (const Slot& slot : slots_) {
            if (slot.key != 0) {
                place(fresh, slot.key, slot.value, shift, capacity - 1);
            }
        }
        slots_.swap(fresh);
        shift_ = shift;
        mask_ = capacity - 1;
    }

    Vector<Slot> slots_;
    size_t count_ = 0;
    int shift_ = 64;
    size_t mask_ = 0;
};

// Kept texts of the line table, in blocks that never move: a text lent out stays where it is.
class TextArena {
public:
    // Where the null text is kept: a value of the table that stands for no text at all.
    static uint64_t null_text() noexcept { return 1; }
    static const char* text_of(uint64_t value) noexcept {
        return value == null_text() ? nullptr : reinterpret_cast<const char*>(static_cast<uintptr_t>(value));
    }
    // Keeps a copy of text (null stays null); throws when no memory is left.
    const char* copy(const char* text) { return text == nullptr ? nullptr : text_of(add(text)); }
    // The table value of a kept copy of text; throws when no memory is left.
    uint64_t add(const char* text) {
        if (text == nullptr) {
            return null_text();
        }
        const size_t size = std::strlen(text) + 1;
        if (size > left_) {
            const size_t block = size > kBlock ? size : kBlock;
            blocks_.emplace_back(new char[block]);
            next_ = blocks_.back().get();
            left_ = block;
        }
        std::memcpy(next_, text, size);
        const char* kept = next_;
        next_ += size;
        left_ -= size;
        return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(kept));
    }

private:
    static const size_t kBlock = 65536;
    Vector<std::unique_ptr<char[]>> blocks_;
    char* next_ = nullptr;
    size_t left_ = 0;
};

// A text as kept: null and empty differ.
struct KeptText {
    bool present = false;
    std::string text;

    void set(const char* s) {
        present = s != nullptr;
        text = s != nullptr ? s : "";
    }
    const char* get() const noexcept { return present ? text.c_str() : nullptr; }
};

// A list of texts as kept, with the array of pointers that is lent out.
struct KeptTexts {
    Vector<KeptText> texts;
    Vector<const char*> pointers;

    void set(const char* const* values, int count) {
        texts.resize(count > 0 && values != nullptr ? static_cast<size_t>(count) : 0);
        for (size_t i = 0; i < texts.size(); ++i) {
            texts[i].set(values[i]);
        }
        pointers.resize(texts.size());
        for (size_t i = 0; i < texts.size(); ++i) {
            pointers[i] = texts[i].get();
        }
    }
    const char* const* get() const noexcept { return pointers.empty() ? nullptr : pointers.data(); }
    int count() const noexcept { return static_cast<int>(pointers.size()); }
};

struct KeptTags {
    Vector<tag_t> tags;
    void set(const tag_t* list, int count) {
        tags.assign(list != nullptr && count > 0 ? list : nullptr,
                    list != nullptr && count > 0 ? list + count : nullptr);
    }
    const tag_t* get() const noexcept { return tags.empty() ? nullptr : tags.data(); }
    int count() const noexcept { return static_cast<int>(tags.size()); }
};

uint64_t hash_text(const char* s) noexcept {
    if (s == nullptr) {
        return 0x5bd1e9955bd1e995ULL;
    }
    uint64_t h = 1469598103934665603ULL;
    for (; *s != '\0'; ++s) {
        h = (h ^ static_cast<unsigned char>(*s)) * 1099511628211ULL;
    }
    return h;
}

bool same_text(const char* kept, const char* s) noexcept {
    return kept == nullptr || s == nullptr ? kept == s : std::strcmp(kept, s) == 0;
}

// Each name a question is asked under, kept once (there are a few dozen in all).
class Names {
public:
    // The kept copy of name (null for null); throws when no memory is left.
    const char* intern(const char* name) {
        if (name == nullptr) {
            return nullptr;
        }
        for (const char* kept : kept_) {
            if (std::strcmp(kept, name) == 0) {
                return kept;
            }
        }
        const char* kept = texts_.copy(name);
        kept_.push_back(kept);
        return kept;
    }

private:
    TextArena texts_;
    Vector<const char*> kept_;
};

// The key of a question about objects and names: what is asked (kind), about which object or
// list, and under which names (hashed; the names themselves are kept with the answer and compared
// on every hit).
struct Key {
    int kind;
    uint64_t object;
    uint64_t names;
    bool operator==(const Key& other) const noexcept {
        return kind == other.kind && object == other.object && names == other.names;
    }
};

struct KeyHash {
    size_t operator()(const Key& k) const noexcept {
        uint64_t h = k.object * 0x9e3779b97f4a7c15ULL;
        h ^= k.names + 0x632be59bd9b4e019ULL + (h << 6) + (h >> 2);
        h ^= static_cast<uint64_t>(k.kind) << 59;
        return static_cast<size_t>(h ^ (h >> 29));
    }
};

template <class Answer>
struct Named {
    const char* name1;  // interned
    const char* name2;
    Answer answer;
};

template <class Answer>
using NamedMap = std::unordered_map<Key, Named<Answer>, KeyHash, std::equal_to<Key>,
                                    LocalAllocator<std::pair<const Key, Named<Answer>>>>;

enum Kind {
    kChain,
    kValueString,
    kValueStrings,
    kValueDouble,
    kNamedRefs,
    kPreference,
    kPreferenceList,
    kDatasets,
    kFiltered,
    kModon,
    kRelationType
};

Key key_of(Kind kind, uint64_t object, const char* name1, const char* name2 = nullptr) noexcept {
    return Key{kind, object, hash_text(name1) * 31 + hash_text(name2)};
}

template <class Answer>
const Answer* find_named(const NamedMap<Answer>& map, const Key& key, const char* name1,
                         const char* name2 = nullptr) noexcept {
    const auto found = map.find(key);
    if (found == map.end() || !same_text(found->second.name1, name1) ||
        !same_text(found->second.name2, name2)) {
        return nullptr;
    }
    return &found->second.answer;
}

// A place for a new answer; null when it cannot be kept (no memory, or another question of the
// same hash holds the place).
template <class Answer>
Answer* add_named(NamedMap<Answer>& map, Names& names, const Key& key, const char* name1,
                  const char* name2 = nullptr) noexcept {
    const char* kept1 = nullptr;
    const char* kept2 = nullptr;
    try {
        kept1 = names.intern(name1);
        kept2 = names.intern(name2);
        const auto added = map.emplace(key, Named<Answer>{kept1, kept2, Answer()});
        return added.second ? &added.first->second.answer : nullptr;
    } catch (...) {
        return nullptr;
    }
}

// Runs fill on a new answer; an answer half filled when memory ran out is taken back.
template <class Answer, class Fill>
const Answer* keep_named(NamedMap<Answer>& map, Names& names, const Key& key, const char* name1,
                         const char* name2, Fill&& fill) noexcept {
    Answer* answer = add_named(map, names, key, name1, name2);
    if (answer == nullptr) {
        return nullptr;
    }
    try {
        fill(*answer);
        return answer;
    } catch (...) {
        map.erase(key);
        return nullptr;
    }
}

std::atomic<bool> g_literal_forced(false);

}  // namespace

class CallMemo {
public:
    // Attribute ids by name: a handful of names.
    Vector<std::pair<std::string, int>> attribute_ids;
    // Per line and attribute: the answers asked for nearly every line, kept small.
    LineTable line_tags;
    LineTable line_strings;
    // Every kept text but those of lists, and the names questions are asked under.
    TextArena texts_kept;
    Names names;
    // Per object (or list) and name.
    NamedMap<const char*> texts;
    NamedMap<KeptTexts> text_lists;
    NamedMap<double> doubles;
    NamedMap<KeptTags> tag_lists;
    NamedMap<tag_t> tags;
    struct Modon {
        tag_t host = NULLTAG;
        KeptTags datasets;
        bool clears = false;
    };
    NamedMap<Modon> modons;
    struct Chain {
        HostChain chain;
        Vector<const char*> names;
    };
    NamedMap<Chain> chains;
    NumberMap<tag_t, tag_t> object_types;
    NumberMap<tag_t, std::string> type_names;
    // The error stack is empty: cleared in this call, and no traced call has failed since.
    bool stack_clean = false;
    unsigned long failures_at_clear = 0;
};

namespace {

thread_local CallMemo* t_memo = nullptr;

bool all_switches_off() noexcept {
    // Asked in the order in which the writers first read them; the first switch on decides.
    return kep_get_log_console_on() == 0 && kep_get_log_syslog_on() == 0 && kep_get_log_itkexe_on() == 0;
}

// Runs fill, which may throw; false when it did.
template <class Fill>
bool guarded(Fill&& fill) noexcept {
    try {
        fill();
        return true;
    } catch (...) {
        return false;
    }
}

// Whether an answer just asked may be kept: it succeeded and nothing on its way failed (some
// lookups pass a failure on as an empty answer).
bool keepable(int status, unsigned long failures_before) noexcept {
    return status == 0 && traced_failures() == failures_before;
}

}  // namespace

CallScope::CallScope() noexcept {
    if (t_memo != nullptr || g_literal_forced.load(std::memory_order_relaxed) || !all_switches_off()) {
        return;
    }
    opened_ = new (std::nothrow) CallMemo();
    t_memo = opened_;
}

CallScope::~CallScope() {
    if (opened_ != nullptr) {
        t_memo = nullptr;
        delete opened_;
    }
}

CallMemo* active_memo() noexcept { return t_memo; }

void force_literal_path(bool forced) noexcept { g_literal_forced.store(forced, std::memory_order_relaxed); }

// ---- Platform questions --------------------------------------------------------------------

int ask_attribute_id(const char* name, int* attribute) {
    CallMemo* memo = t_memo;
    if (memo != nullptr && name != nullptr && known_attribute_id(*memo, name, attribute)) {
        return 0;
    }
    const int status = BOM_line_look_up_attribute(name, attribute);
    if (memo != nullptr && name != nullptr && status == 0) {
        guarded([&] { memo->attribute_ids.emplace_back(name, *attribute); });
    }
    return status;
}

int ask_line_tag(tag_t line, int attribute, tag_t* value) {
    CallMemo* memo = t_memo;
    if (memo != nullptr && known_line_tag(*memo, line, attribute, value)) {
        return 0;
    }
    const int status = BOM_line_ask_attribute_tag(line, attribute, value);
    if (memo != nullptr && status == 0) {
        guarded([&] { memo->line_tags.insert(line, attribute, *value); });
    }
    return status;
}

int ask_line_string(tag_t line, int attribute, Text& value) {
    CallMemo* memo = t_memo;
    const char* known = nullptr;
    if (memo != nullptr && known_line_string(*memo, line, attribute, &known)) {
        value.lend(known);
        return 0;
    }
    const int status = BOM_line_ask_attribute_string(line, attribute, value.out());
    if (memo != nullptr && status == 0) {
        guarded([&] { memo->line_strings.insert(line, attribute, memo->texts_kept.add(value.get())); });
    }
    return status;
}

int ask_value_string(tag_t object, const char* property, Text& value) {
    CallMemo* memo = t_memo;
    const char* known = nullptr;
    if (memo != nullptr && known_value_string(*memo, object, property, &known)) {
        value.lend(known);
        return 0;
    }
    const int status = AOM_ask_value_string(object, property, value.out());
    if (memo != nullptr && status == 0) {
        keep_named(memo->texts, memo->names, key_of(kValueString, object, property), property, nullptr,
                   [&](const char*& kept) { kept = memo->texts_kept.copy(value.get()); });
    }
    return status;
}

int ask_value_strings(tag_t object, const char* property, Values& values) {
    CallMemo* memo = t_memo;
    const Key key = key_of(kValueStrings, object, property);
    if (memo != nullptr) {
        if (const KeptTexts* kept = find_named(memo->text_lists, key, property)) {
            values.lend(kept->get(), kept->count());
            return 0;
        }
    }
    const int status = AOM_ask_value_strings(object, property, values.count_out(), values.values_out());
    if (memo != nullptr && status == 0) {
        const KeptTexts* kept =
            keep_named(memo->text_lists, memo->names, key, property, nullptr, [&](KeptTexts& k) {
                Vector<const char*> read(static_cast<size_t>(values.count() > 0 ? values.count() : 0));
                for (size_t i = 0; i < read.size(); ++i) {
                    read[i] = values[static_cast<int>(i)];
                }
                k.set(read.data(), values.count());
            });
        if (kept != nullptr) {
            values.lend(kept->get(), kept->count());
        }
    }
    return status;
}

int ask_value_double(tag_t object, const char* property, double* value) {
    CallMemo* memo = t_memo;
    if (memo == nullptr) {
        return AOM_ask_value_double(object, property, value);
    }
    const Key key = key_of(kValueDouble, object, property);
    if (const double* kept = find_named(memo->doubles, key, property)) {
        *value = *kept;
        return 0;
    }
    const int status = AOM_ask_value_double(object, property, value);
    if (status == 0) {
        keep_named(memo->doubles, memo->names, key, property, nullptr, [&](double& kept) { kept = *value; });
    }
    return status;
}

int ask_named_refs(tag_t dataset, const char* reference, Tags& refs) {
    CallMemo* memo = t_memo;
    if (memo == nullptr) {
        return AE_ask_all_dataset_named_refs(dataset, reference, refs.count_out(), refs.out());
    }
    const Key key = key_of(kNamedRefs, dataset, reference);
    if (const KeptTags* kept = find_named(memo->tag_lists, key, reference)) {
        refs.lend(kept->get(), kept->count());
        return 0;
    }
    const int status = AE_ask_all_dataset_named_refs(dataset, reference, refs.count_out(), refs.out());
    if (status == 0 && (refs.count() == 0 || refs)) {
        const KeptTags* kept = keep_named(memo->tag_lists, memo->names, key, reference, nullptr,
                                          [&](KeptTags& k) { k.set(refs.get(), refs.count()); });
        if (kept != nullptr && kept->count() > 0) {
            refs.lend(kept->get(), kept->count());
        }
    }
    return status;
}

int ask_object_type(tag_t object, tag_t* type) {
    CallMemo* memo = t_memo;
    if (memo != nullptr) {
        const auto found = memo->object_types.find(object);
        if (found != memo->object_types.end()) {
            *type = found->second;
            return 0;
        }
    }
    const int status = TCTYPE_ask_object_type(object, type);
    if (memo != nullptr && status == 0) {
        guarded([&] { memo->object_types.emplace(object, *type); });
    }
    return status;
}

int ask_type_name(tag_t type, char* name) {
    CallMemo* memo = t_memo;
    if (memo != nullptr) {
        const auto found = memo->type_names.find(type);
        if (found != memo->type_names.end()) {
            std::memcpy(name, found->second.c_str(), found->second.size() + 1);
            return 0;
        }
    }
    const int status = TCTYPE_ask_name(type, name);
    if (memo != nullptr && status == 0) {
        guarded(
            [&] { memo->type_names.emplace(type, std::string(name, strnlen(name, TCTYPE_name_size_c))); });
    }
    return status;
}

int ask_relation_type(const char* name, tag_t* relation_type) {
    CallMemo* memo = t_memo;
    if (memo == nullptr) {
        return GRM_find_relation_type(name, relation_type);
    }
    const Key key = key_of(kRelationType, 0, name);
    if (const tag_t* kept = find_named(memo->tags, key, name)) {
        *relation_type = *kept;
        return 0;
    }
    const int status = GRM_find_relation_type(name, relation_type);
    if (status == 0) {
        keep_named(memo->tags, memo->names, key, name, nullptr, [&](tag_t& kept) { kept = *relation_type; });
    }
    return status;
}

void clear_errors() noexcept {
    CallMemo* memo = t_memo;
    if (memo != nullptr && memo->stack_clean && memo->failures_at_clear == traced_failures()) {
        return;
    }
    const int status = EMH_clear_errors();
    if (memo != nullptr) {
        memo->stack_clean = status == 0;
        memo->failures_at_clear = traced_failures();
    }
}

// ---- Extension lookups ----------------------------------------------------------------------

int ask_preference(const char* key, Text& value) {
    CallMemo* memo = t_memo;
    if (memo == nullptr || key == nullptr) {
        return kep_get_preference(key, value.out());
    }
    const Key memo_key = key_of(kPreference, 0, key);
    if (const char* const* kept = find_named(memo->texts, memo_key, key)) {
        value.lend(*kept);
        clear_errors();
        return 0;
    }
    const unsigned long failures = traced_failures();
    const int status = kep_get_preference(key, value.out());
    if (keepable(status, failures)) {
        keep_named(memo->texts, memo->names, memo_key, key, nullptr,
                   [&](const char*& kept) { kept = memo->texts_kept.copy(value.get()); });
    }
    return status;
}

int ask_preference_list(const char* key, TextList& values) {
    CallMemo* memo = t_memo;
    if (memo == nullptr || key == nullptr) {
        return kep_get_preference_list(key, values.count_out(), values.out());
    }
    const Key memo_key = key_of(kPreferenceList, 0, key);
    if (const KeptTexts* kept = find_named(memo->text_lists, memo_key, key)) {
        values.lend(kept->get(), kept->count());
        clear_errors();
        return 0;
    }
    const unsigned long failures = traced_failures();
    const int status = kep_get_preference_list(key, values.count_out(), values.out());
    if (keepable(status, failures)) {
        const KeptTexts* kept = keep_named(memo->text_lists, memo->names, memo_key, key, nullptr,
                                           [&](KeptTexts& k) { k.set(values.get(), values.count()); });
        if (kept != nullptr && kept->count() > 0) {
            values.lend(kept->get(), kept->count());
        }
    }
    return status;
}

int ask_datasets(tag_t object, const char* relation, Tags& datasets) {
    CallMemo* memo = t_memo;
    if (memo == nullptr) {
        return kep_get_datasets(object, relation, datasets.out(), datasets.count_out());
    }
    const Key key = key_of(kDatasets, object, relation);
    if (const KeptTags* kept = find_named(memo->tag_lists, key, relation)) {
        datasets.lend(kept->get(), kept->count());
        clear_errors();
        return 0;
    }
    const unsigned long failures = traced_failures();
    const int status = kep_get_datasets(object, relation, datasets.out(), datasets.count_out());
    if (keepable(status, failures)) {
        const KeptTags* kept = keep_named(memo->tag_lists, memo->names, key, relation, nullptr,
                                          [&](KeptTags& k) { k.set(datasets.get(), datasets.count()); });
        if (kept != nullptr && kept->count() > 0) {
            datasets.lend(kept->get(), kept->count());
        }
    }
    return status;
}

int ask_filtered(const Tags& datasets, const char* type_name, Tags& filtered) {
    CallMemo* memo = t_memo;
    if (memo == nullptr || !datasets.lent()) {
        return kep_filter_datasets(datasets.get(), datasets.count(), type_name, filtered.out(),
                                   filtered.count_out());
    }
    const Key key = key_of(kFiltered, reinterpret_cast<uintptr_t>(datasets.get()), type_name);
    if (const KeptTags* kept = find_named(memo->tag_lists, key, type_name)) {
        filtered.lend(kept->get(), kept->count());
        clear_errors();
        return 0;
    }
    const unsigned long failures = traced_failures();
    const int status = kep_filter_datasets(datasets.get(), datasets.count(), type_name, filtered.out(),
                                           filtered.count_out());
    if (keepable(status, failures)) {
        const KeptTags* kept = keep_named(memo->tag_lists, memo->names, key, type_name, nullptr,
                                          [&](KeptTags& k) { k.set(filtered.get(), filtered.count()); });
        if (kept != nullptr && kept->count() > 0) {
            filtered.lend(kept->get(), kept->count());
        }
    }
    return status;
}

int ask_modon(tag_t line, const char* relation, const char* type, tag_t* host, Tags& datasets) {
    CallMemo* memo = t_memo;
    if (memo == nullptr) {
        return kep_get_modon_for_bomline(line, relation, type, host, datasets.out(), datasets.count_out());
    }
    const Key key = key_of(kModon, line, relation, type);
    if (const CallMemo::Modon* kept = find_named(memo->modons, key, relation, type)) {
        *host = kept->host;
        datasets.lend(kept->datasets.get(), kept->datasets.count());
        if (kept->clears) {
            clear_errors();
        }
        return 0;
    }
    const unsigned long failures = traced_failures();
    const int status =
        kep_get_modon_for_bomline(line, relation, type, host, datasets.out(), datasets.count_out());
    if (keepable(status, failures)) {
        // The lookup ends by clearing the error stack unless the line has no item id.
        int item_id_attr = 0;
        const char* item_id = nullptr;
        const bool clears = known_attribute_id(*memo, bomAttr_itemId, &item_id_attr) &&
                            known_line_string(*memo, line, item_id_attr, &item_id) && item_id != nullptr &&
                            item_id[0] != '\0';
        const CallMemo::Modon* kept =
            keep_named(memo->modons, memo->names, key, relation, type, [&](CallMemo::Modon& k) {
                k.host = *host;
                k.datasets.set(datasets.get(), datasets.count());
                k.clears = clears;
            });
        if (kept != nullptr && kept->datasets.count() > 0) {
            datasets.lend(kept->datasets.get(), kept->datasets.count());
        }
    }
    return status;
}

// ---- The host walk's view ------------------------------------------------------------------------

namespace {

// A failed question of the chain, counted as a failed traced call so that the error stack it left
// is cleared later; the walk asks it again and handles it.
const HostChain* chain_failed() noexcept {
    ++traced_failures();
    return nullptr;
}

// Asks what the walk asks of `line` alone and keeps it with `above` (the kept chain of its parent).
const HostChain* build_chain(CallMemo& memo, tag_t line, tag_t parent, const HostChain* above,
                             int item_id_attr, int occurrence_name_attr, int revision_tag_attr,
                             const char* relation, const char* type) {
    Text item_id;
    Text occurrence_name;
    tag_t revision = NULLTAG;
    if (ask_line_string(line, item_id_attr, item_id) != 0 ||
        (parent != NULLTAG && ask_line_string(line, occurrence_name_attr, occurrence_name) != 0) ||
        ask_line_tag(line, revision_tag_attr, &revision) != 0) {
        return chain_failed();
    }
    Tags datasets;
    Tags candidates;
    if (ask_datasets(revision, relation, datasets) != 0 ||
        (datasets.count() > 0 && ask_filtered(datasets, type, candidates) != 0)) {
        return nullptr;  // traced inside the lookup
    }
    const CallMemo::Chain* kept =
        keep_named(memo.chains, memo.names, key_of(kChain, line, relation, type), relation, type,
                   [&](CallMemo::Chain& k) {
                       for (int i = 0; i < candidates.count(); ++i) {
                           Text name;
                           if (ask_value_string(candidates[i], "object_name", name) != 0) {
                               throw 0;  // not kept; reported below
                           }
                           k.names.push_back(memo.texts_kept.copy(name.get()));
                       }
                       k.chain.item_id = memo.texts_kept.copy(item_id.get());
                       k.chain.names = k.names.empty() ? nullptr : k.names.data();
                       k.chain.name_count = static_cast<int>(k.names.size());
                       k.chain.above = above != nullptr && above->name_count == 0 ? above->above : above;
                   });
    return kept != nullptr ? &kept->chain : chain_failed();
}

}  // namespace

const HostChain* ask_host_chain(tag_t line, const char* relation, const char* type) {
    CallMemo* memo = t_memo;
    int item_id_attr = 0;
    int occurrence_name_attr = 0;
    int revision_tag_attr = 0;
    int parent_tag_attr = 0;
    if (memo == nullptr) {
        return nullptr;
    }
    if (ask_attribute_id(bomAttr_itemId, &item_id_attr) != 0 ||
        ask_attribute_id(bomAttr_occName, &occurrence_name_attr) != 0 ||
        ask_attribute_id(bomAttr_lineItemRevTag, &revision_tag_attr) != 0 ||
        ask_attribute_id(bomAttr_lineParentTag, &parent_tag_attr) != 0) {
        return chain_failed();
    }
    // The lines from `line` up to the first whose chain is kept (or the top line), bottom first;
    // then their chains from the top down, each resting on the one above it.
    try {
        Vector<std::pair<tag_t, tag_t>> pending;  // line, parent
        const HostChain* above = nullptr;
        for (tag_t x = line; x != NULLTAG;) {
            const Key key = key_of(kChain, x, relation, type);
            if (const CallMemo::Chain* kept = find_named(memo->chains, key, relation, type)) {
                above = &kept->chain;
                break;
            }
            tag_t parent = NULLTAG;
            if (ask_line_tag(x, parent_tag_attr, &parent) != 0) {
                return chain_failed();
            }
            pending.emplace_back(x, parent);
            x = parent;
        }
        for (size_t i = pending.size(); i-- > 0;) {
            above = build_chain(*memo, pending[i].first, pending[i].second, above, item_id_attr,
                                occurrence_name_attr, revision_tag_attr, relation, type);
            if (above == nullptr) {
                return nullptr;
            }
        }
        return above;
    } catch (...) {
        return chain_failed();
    }
}

// ---- Looking without asking -------------------------------------------------------------------

bool known_attribute_id(const CallMemo& memo, const char* name, int* attribute) {
    for (const auto& entry : memo.attribute_ids) {
        if (entry.first == name) {
            *attribute = entry.second;
            return true;
        }
    }
    return false;
}

bool known_line_tag(const CallMemo& memo, tag_t line, int attribute, tag_t* value) {
    uint64_t kept = 0;
    if (!memo.line_tags.find(line, attribute, &kept)) {
        return false;
    }
    *value = static_cast<tag_t>(kept);
    return true;
}

bool known_line_string(const CallMemo& memo, tag_t line, int attribute, const char** value) {
    uint64_t kept = 0;
    if (!memo.line_strings.find(line, attribute, &kept)) {
        return false;
    }
    *value = TextArena::text_of(kept);
    return true;
}

bool known_value_string(const CallMemo& memo, tag_t object, const char* property, const char** value) {
    const char* const* kept = find_named(memo.texts, key_of(kValueString, object, property), property);
    if (kept == nullptr) {
        return false;
    }
    *value = *kept;
    return true;
}

bool known_candidates(const CallMemo& memo, tag_t object, const char* relation, const char* type_name,
                      const tag_t** candidates, int* count) {
    const KeptTags* datasets = find_named(memo.tag_lists, key_of(kDatasets, object, relation), relation);
    if (datasets == nullptr) {
        return false;
    }
    if (datasets->count() == 0) {
        *candidates = nullptr;
        *count = 0;
        return true;
    }
    const KeptTags* filtered =
        find_named(memo.tag_lists, key_of(kFiltered, reinterpret_cast<uintptr_t>(datasets->get()), type_name),
                   type_name);
    if (filtered == nullptr) {
        return false;
    }
    *candidates = filtered->get();
    *count = filtered->count();
    return true;
}

}  // namespace kep
