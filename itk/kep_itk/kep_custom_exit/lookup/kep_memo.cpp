// The call memo: one set of kept answers per thread, alive while the thread's outermost call scope
// is open and every switch is off.
//
// Every answer is one 64-bit value in a flat table (open addressing), keyed by the object asked
// about and the question (what is asked, under which names or attribute): one table for the
// answers about lines themselves, which a walk drops line by line (forget_line), one for the rest.
// Texts, lists and records live in blocks that never move, so that whatever is lent out stays
// where it is while more answers are added, and a search of a million lines makes a few thousand
// allocations for its answers, not one per answer. Names are kept once and known by a number.
// The standard library's containers may throw when memory runs out; no exception may leave the
// extension, so every addition is guarded, and an answer that cannot be kept is asked again.
#include "lookup/kep_memo.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "geometry/kep_geometry.h"
#include "kep_trace.h"
#include "lookup/kep_lookup.h"
#include "modon/kep_modon.h"

namespace kep {

namespace {

// Every container here is instantiated with an allocator of this file, so that none of the
// standard library's code made for it is exported from the library.
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

// Blocks of memory that never move; everything in them lives until the memo goes.
class Arena {
public:
    // Room for n plain records of T; throws when no memory is left.
    template <class T>
    T* allocate(size_t n) {
        const size_t bytes = n * sizeof(T);
        size_t offset = (used_ + alignof(T) - 1) & ~(alignof(T) - 1);
        if (blocks_.empty() || offset + bytes > size_) {
            const size_t block = bytes > kBlock ? bytes : kBlock;
            blocks_.emplace_back(new char[block]);
            size_ = block;
            offset = 0;
        }
        used_ = offset + bytes;
        return reinterpret_cast<T*>(blocks_.back().get() + offset);
    }
    // A kept copy of a text (null stays null).
    const char* text(const char* s) {
        if (s == nullptr) {
            return nullptr;
        }
        const size_t size = std::strlen(s) + 1;
        char* copy = allocate<char>(size);
        std::memcpy(copy, s, size);
        return copy;
    }
    // A kept copy of n plain records (null when n is 0).
    template <class T>
    const T* copy(const T* items, int n) {
        if (n <= 0 || items == nullptr) {
            return nullptr;
        }
        T* copy = allocate<T>(static_cast<size_t>(n));
        std::memcpy(copy, items, sizeof(T) * static_cast<size_t>(n));
        return copy;
    }

private:
    static const size_t kBlock = 65536;
    Vector<std::unique_ptr<char[]>> blocks_;
    size_t size_ = 0;
    size_t used_ = 0;
};

// What is asked. 0 marks an empty slot of the table.
enum Kind : uint32_t {
    kAttributeId = 1,
    kLineTag,
    kLineString,
    kValueString,
    kValueStrings,
    kNamedRefs,
    kObjectType,
    kTypeName,
    kRelationType,
    kPreference,
    kPreferenceList,
    kDatasets,
    kFiltered,
    kModon,
    kChain,
    kBox,
    kVisualisation,
};

// A question about an object: the object (a tag; 0 for the site-wide questions: preferences,
// attribute ids, relation types) and what is asked, in 32 bits (see CallMemo::key).
struct Key {
    uint32_t object;
    uint32_t question;  // never 0
};

// The one table of answers, at most three quarters full. All answers about one object start from
// the same place in the table and so lie side by side: a walk asks several things of each line,
// its revision and its datasets in turn, and then the answers about one of them cost one trip to
// memory between them rather than one each. The site-wide questions are spread by what is asked.
class Answers {
public:
    bool find(const Key& key, uint64_t* value) const noexcept {
        if (slots_.empty()) {
            return false;
        }
        const uint64_t packed = pack(key);
        for (size_t i = home(packed, shift_);; i = (i + 1) & mask_) {
            const Slot& slot = slots_[i];
            if (slot.key == packed) {
                *value = slot.value;
                return true;
            }
            if (slot.key == 0) {
                return false;
            }
        }
    }
    // Keeps a new answer; throws when no memory is left (the table is then unchanged).
    void insert(const Key& key, uint64_t value) {
        if (4 * (count_ + 1) > 3 * slots_.size()) {
            grow();
        }
        if (place(slots_, Slot{pack(key), value}, shift_, mask_)) {
            ++count_;
        }
    }

    // Drops every answer about `object` (not 0). They all lie in the run of entries that starts
    // at the object's place; each is taken out by moving later entries of the run back, so that
    // every entry stays reachable from its own place without a marker for the gap.
    void erase_object(uint32_t object) noexcept {
        if (slots_.empty()) {
            return;
        }
        size_t i = home(static_cast<uint64_t>(object) << 32, shift_);
        while (slots_[i].key != 0) {
            if (static_cast<uint32_t>(slots_[i].key >> 32) == object) {
                erase_at(i);  // slot i now holds a later entry of the run, or is empty
                --count_;
            } else {
                i = (i + 1) & mask_;
            }
        }
    }

private:
    struct Slot {
        uint64_t key;  // object << 32 | question; 0: empty
        uint64_t value;
    };

    void erase_at(size_t i) noexcept {
        for (size_t j = (i + 1) & mask_; slots_[j].key != 0; j = (j + 1) & mask_) {
            const size_t k = home(slots_[j].key, shift_);
            // The entry at j stays when its place lies in (i, j], going round the end of the table.
            const bool stays = i <= j ? (i < k && k <= j) : (i < k || k <= j);
            if (!stays) {
                slots_[i] = slots_[j];
                i = j;
            }
        }
        slots_[i] = Slot{0, 0};
    }

    static uint64_t pack(const Key& key) noexcept {
        return static_cast<uint64_t>(key.object) << 32 | key.question;
    }
    static size_t home(uint64_t packed, int shift) noexcept {
        const uint64_t object = packed >> 32;
        const uint64_t h = (object != 0 ? object : packed | uint64_t{1} << 32) * 0x9e3779b97f4a7c15ULL;
        return static_cast<size_t>((h ^ (h >> 29)) * 0xbf58476d1ce4e5b9ULL >> shift);
    }
    // True when the key was new.
    static bool place(Vector<Slot>& slots, const Slot& slot, int shift, size_t mask) noexcept {
        size_t i = home(slot.key, shift);
        while (slots[i].key != 0 && slots[i].key != slot.key) {
            i = (i + 1) & mask;
        }
        const bool added = slots[i].key == 0;
        slots[i] = slot;
        return added;
    }
    void grow() {
        const size_t capacity = slots_.empty() ? 4096 : 2 * slots_.size();
        Vector<Slot> fresh(capacity, Slot{0, 0});
        int shift = 64;
        for (size_t c = capacity; c > 1; c >>= 1) {
            --shift;
        }
        for (const Slot& slot : slots_) {
            if (slot.key != 0) {
                place(fresh, slot, shift, capacity - 1);
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

// Names that questions are asked under, each kept once and known by a number (0: no name).
// Callers pass mostly fixed texts, so a small cache by address finds most of them at once; the
// text is compared all the same, since an address may have been reused for another text.
class Names {
public:
    explicit Names(Arena& arena) : arena_(arena) {}
    // The number of name, keeping it when new; throws when no memory is left.
    uint64_t id(const char* name) {
        uint64_t n = 0;
        if (known(name, &n)) {
            return n;
        }
        kept_.push_back(arena_.text(name));
        n = kept_.size();
        remember(name, n);
        return n;
    }
    // The number of a name kept before; false for a new one.
    bool known(const char* name, uint64_t* n) const noexcept {
        if (name == nullptr) {
            *n = 0;
            return true;
        }
        const Cached& cached = cache_[slot_of(name)];
        if (cached.name == name && std::strcmp(kept_[cached.n - 1], name) == 0) {
            *n = cached.n;
            return true;
        }
        for (size_t k = 0; k < kept_.size(); ++k) {
            if (std::strcmp(kept_[k], name) == 0) {
                *n = k + 1;
                remember(name, *n);
                return true;
            }
        }
        return false;
    }

private:
    struct Cached {
        const char* name;
        uint64_t n;
    };
    static size_t slot_of(const char* name) noexcept {
        return static_cast<size_t>(
            (static_cast<uint64_t>(reinterpret_cast<uintptr_t>(name)) * 0x9e3779b97f4a7c15ULL) >> 56);
    }
    void remember(const char* name, uint64_t n) const noexcept { cache_[slot_of(name)] = Cached{name, n}; }

    Arena& arena_;
    Vector<const char*> kept_;
    mutable Cached cache_[256] = {};
};

// A kept text as a table value: its address, or 1 for the null text.
uint64_t text_value(const char* text) noexcept {
    return text == nullptr ? 1 : static_cast<uint64_t>(reinterpret_cast<uintptr_t>(text));
}
const char* value_text(uint64_t value) noexcept {
    return value == 1 ? nullptr : reinterpret_cast<const char*>(static_cast<uintptr_t>(value));
}
template <class T>
uint64_t record_value(const T* record) noexcept {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(record));
}
template <class T>
const T* value_record(uint64_t value) noexcept {
    return reinterpret_cast<const T*>(static_cast<uintptr_t>(value));
}

// A kept list of tags or of texts.
struct KeptTags {
    const tag_t* tags;
    int count;
    uint32_t id;
};
struct KeptTexts {
    const char* const* texts;
    int count;
};
struct KeptBox {
    bool present;
    kep_bbox_t box;
};
struct KeptModon {
    tag_t host;
    KeptTags datasets;
    bool clears;
};

std::atomic<bool> g_literal_forced(false);

}  // namespace

class CallMemo {
public:
    CallMemo() : names(arena) {}

    Arena arena;
    Names names;
    Answers answers;
    // The answers about lines themselves (their attributes, host chains and mod-on lookups): a
    // walk drops those of a line once it is done with the line's subtree, so that during a search
    // this table holds about the lines being walked and stays small.
    Answers line_answers;

    static bool about_line(Kind kind) noexcept {
        return kind == kLineTag || kind == kLineString || kind == kChain || kind == kModon;
    }
    Answers& table(Kind kind) noexcept { return about_line(kind) ? line_answers : answers; }
    const Answers& table(Kind kind) const noexcept { return about_line(kind) ? line_answers : answers; }
    // The error stack is empty: cleared in this call, and no traced call has failed since.
    bool stack_clean = false;
    unsigned long failures_at_clear = 0;

    // A question fits in 32 bits: what is asked (5 bits), then the numbers of up to two names
    // (13 and 14 bits) or of a line attribute. A question under a name or attribute beyond those
    // numbers is not kept.
    static const uint32_t kNameLimit1 = 1u << 13;
    static const uint32_t kNameLimit2 = 1u << 14;

    // The key of a question about an object under up to two names; false when a name has never
    // been asked under (nothing can be kept for it).
    bool key(Kind kind, uint32_t object, const char* name1, const char* name2, Key* key) const noexcept {
        uint64_t n1 = 0;
        uint64_t n2 = 0;
        if (!names.known(name1, &n1) || !names.known(name2, &n2) || n1 >= kNameLimit1 || n2 >= kNameLimit2) {
            return false;
        }
        *key = Key{object, kind | static_cast<uint32_t>(n1) << 5 | static_cast<uint32_t>(n2) << 18};
        return true;
    }
    // The same, keeping new names; throws when no memory is left or a name is beyond its number.
    Key new_key(Kind kind, uint32_t object, const char* name1, const char* name2 = nullptr) {
        const uint64_t n1 = names.id(name1);
        const uint64_t n2 = names.id(name2);
        if (n1 >= kNameLimit1 || n2 >= kNameLimit2) {
            throw std::length_error("name");
        }
        return Key{object, kind | static_cast<uint32_t>(n1) << 5 | static_cast<uint32_t>(n2) << 18};
    }
    // A line attribute's question; false when the attribute has not been asked about.
    bool line_key(Kind kind, tag_t line, int attribute, Key* key) const noexcept {
        for (uint32_t k = 0; k < attribute_count_; ++k) {
            if (attributes_[k] == attribute) {
                *key = Key{line, kind | (k + 1) << 5};
                return true;
            }
        }
        return false;
    }
    Key new_line_key(Kind kind, tag_t line, int attribute) {
        Key k{0, 0};
        if (!line_key(kind, line, attribute, &k)) {
            if (attribute_count_ == kAttributeLimit) {
                throw std::length_error("attribute");
            }
            attributes_[attribute_count_++] = attribute;
            k = Key{line, kind | attribute_count_ << 5};
        }
        return k;
    }

    bool find(Kind kind, uint32_t object, const char* name1, const char* name2,
              uint64_t* value) const noexcept {
        Key k{0, 0};
        return key(kind, object, name1, name2, &k) && table(kind).find(k, value);
    }
    // Keeps the answer that make() returns (make may throw); false when it cannot be kept.
    template <class Make>
    bool keep(Kind kind, uint32_t object, const char* name1, const char* name2, Make&& make) noexcept {
        try {
            const Key k = new_key(kind, object, name1, name2);
            table(kind).insert(k, make());
            return true;
        } catch (...) {
            return false;
        }
    }
    template <class Make>
    bool keep_line(Kind kind, tag_t line, int attribute, Make&& make) noexcept {
        try {
            line_answers.insert(new_line_key(kind, line, attribute), make());
            return true;
        } catch (...) {
            return false;
        }
    }
    // A kept list, numbered so that a question about the list itself can name it.
    const KeptTags* tags(const tag_t* list, int count) {
        if (lists_ == UINT32_MAX) {
            throw std::length_error("lists");
        }
        KeptTags* kept = arena.allocate<KeptTags>(1);
        *kept = KeptTags{arena.copy(list, count), list != nullptr && count > 0 ? count : 0, ++lists_};
        return kept;
    }
    const KeptTexts* texts(const char* const* list, int count) {
        const int n = list != nullptr && count > 0 ? count : 0;
        const char** copies = n > 0 ? arena.allocate<const char*>(static_cast<size_t>(n)) : nullptr;
        for (int i = 0; i < n; ++i) {
            copies[i] = arena.text(list[i]);
        }
        KeptTexts* kept = arena.allocate<KeptTexts>(1);
        *kept = KeptTexts{copies, n};
        return kept;
    }

private:
    // The line attributes asked about, numbered from 1 by their place here.
    static const uint32_t kAttributeLimit = 64;
    int attributes_[kAttributeLimit] = {};
    uint32_t attribute_count_ = 0;
    uint32_t lists_ = 0;
};

namespace {

thread_local CallMemo* t_memo = nullptr;

bool all_switches_off() noexcept {
    // Asked in the order in which the writers first read them; the first switch on decides.
#if defined(_WIN32)
    // The switch readers are internal in the Windows build. kep_logging_on reads the two output
    // switches in the same order; with both off, the trace writer reads the trace switch as the
    // query would (it has no output to write to, so it writes nothing). The answer is taken as the
    // other builds take it only where it cannot be seen: whatever the trace switch says, nothing
    // would be written.
    if (kep_logging_on() != 0) {
        return false;
    }
    kep_log_itkexe("%s", "");
    return true;
#else
    return kep_get_log_console_on() == 0 && kep_get_log_syslog_on() == 0 && kep_get_log_itkexe_on() == 0;
#endif
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
    try {
        opened_ = new CallMemo();
    } catch (...) {
        opened_ = nullptr;
    }
    t_memo = opened_;
}

CallScope::~CallScope() {
    if (opened_ != nullptr) {
        t_memo = nullptr;
        delete opened_;
    }
}

CallMemo* active_memo() noexcept { return t_memo; }

void forget_line(tag_t line) noexcept {
    if (t_memo != nullptr && line != NULLTAG) {
        t_memo->line_answers.erase_object(line);
    }
}

void force_literal_path(bool forced) noexcept { g_literal_forced.store(forced, std::memory_order_relaxed); }

// ---- Platform questions --------------------------------------------------------------------

int ask_attribute_id(const char* name, int* attribute) {
    CallMemo* memo = t_memo;
    if (memo != nullptr && name != nullptr && known_attribute_id(*memo, name, attribute)) {
        return 0;
    }
    const int status = BOM_line_look_up_attribute(name, attribute);
    if (memo != nullptr && name != nullptr && status == 0) {
        memo->keep(kAttributeId, 0, name, nullptr,
                   [&] { return static_cast<uint64_t>(static_cast<uint32_t>(*attribute)); });
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
        memo->keep_line(kLineTag, line, attribute, [&] { return static_cast<uint64_t>(*value); });
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
        memo->keep_line(kLineString, line, attribute,
                        [&] { return text_value(memo->arena.text(value.get())); });
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
        memo->keep(kValueString, object, property, nullptr,
                   [&] { return text_value(memo->arena.text(value.get())); });
    }
    return status;
}

int ask_value_strings(tag_t object, const char* property, Values& values) {
    CallMemo* memo = t_memo;
    uint64_t kept = 0;
    if (memo != nullptr && memo->find(kValueStrings, object, property, nullptr, &kept)) {
        const KeptTexts* list = value_record<KeptTexts>(kept);
        values.lend(list->texts, list->count);
        return 0;
    }
    const int status = AOM_ask_value_strings(object, property, values.count_out(), values.values_out());
    if (memo != nullptr && status == 0) {
        const KeptTexts* list = nullptr;
        memo->keep(kValueStrings, object, property, nullptr, [&] {
            Vector<const char*> read(static_cast<size_t>(values.count() > 0 ? values.count() : 0));
            for (size_t i = 0; i < read.size(); ++i) {
                read[i] = values[static_cast<int>(i)];
            }
            list = memo->texts(read.data(), values.count());
            return record_value(list);
        });
        if (list != nullptr && list->count > 0) {
            values.lend(list->texts, list->count);
        }
    }
    return status;
}

int ask_named_refs(tag_t dataset, const char* reference, Tags& refs) {
    CallMemo* memo = t_memo;
    uint64_t kept = 0;
    if (memo != nullptr && memo->find(kNamedRefs, dataset, reference, nullptr, &kept)) {
        const KeptTags* list = value_record<KeptTags>(kept);
        refs.lend(list->tags, list->count, list->id);
        return 0;
    }
    const int status = AE_ask_all_dataset_named_refs(dataset, reference, refs.count_out(), refs.out());
    if (memo != nullptr && status == 0 && (refs.count() == 0 || refs)) {
        const KeptTags* list = nullptr;
        memo->keep(kNamedRefs, dataset, reference, nullptr, [&] {
            list = memo->tags(refs.get(), refs.count());
            return record_value(list);
        });
        if (list != nullptr && list->count > 0) {
            refs.lend(list->tags, list->count, list->id);
        }
    }
    return status;
}

int ask_object_type(tag_t object, tag_t* type) {
    CallMemo* memo = t_memo;
    uint64_t kept = 0;
    if (memo != nullptr && memo->answers.find(Key{object, kObjectType}, &kept)) {
        *type = static_cast<tag_t>(kept);
        return 0;
    }
    const int status = TCTYPE_ask_object_type(object, type);
    if (memo != nullptr && status == 0) {
        memo->keep(kObjectType, object, nullptr, nullptr, [&] { return static_cast<uint64_t>(*type); });
    }
    return status;
}

int ask_type_name(tag_t type, char* name) {
    CallMemo* memo = t_memo;
    uint64_t kept = 0;
    if (memo != nullptr && memo->answers.find(Key{type, kTypeName}, &kept)) {
        const char* text = value_text(kept);
        std::memcpy(name, text, std::strlen(text) + 1);
        return 0;
    }
    const int status = TCTYPE_ask_name(type, name);
    if (memo != nullptr && status == 0) {
        memo->keep(kTypeName, type, nullptr, nullptr, [&] {
            char copy[TCTYPE_name_size_c + 1];
            std::memcpy(copy, name, TCTYPE_name_size_c);
            copy[TCTYPE_name_size_c] = '\0';
            return text_value(memo->arena.text(copy));
        });
    }
    return status;
}

int ask_relation_type(const char* name, tag_t* relation_type) {
    CallMemo* memo = t_memo;
    uint64_t kept = 0;
    if (memo != nullptr && memo->find(kRelationType, 0, name, nullptr, &kept)) {
        *relation_type = static_cast<tag_t>(kept);
        return 0;
    }
    const int status = GRM_find_relation_type(name, relation_type);
    if (memo != nullptr && status == 0) {
        memo->keep(kRelationType, 0, name, nullptr, [&] { return static_cast<uint64_t>(*relation_type); });
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
    uint64_t kept = 0;
    if (memo->find(kPreference, 0, key, nullptr, &kept)) {
        value.lend(value_text(kept));
        clear_errors();
        return 0;
    }
    const unsigned long failures = traced_failures();
    const int status = kep_get_preference(key, value.out());
    if (keepable(status, failures)) {
        memo->keep(kPreference, 0, key, nullptr, [&] { return text_value(memo->arena.text(value.get())); });
    }
    return status;
}

int ask_preference_list(const char* key, TextList& values) {
    CallMemo* memo = t_memo;
    if (memo == nullptr || key == nullptr) {
        return kep_get_preference_list(key, values.count_out(), values.out());
    }
    uint64_t kept = 0;
    if (memo->find(kPreferenceList, 0, key, nullptr, &kept)) {
        const KeptTexts* list = value_record<KeptTexts>(kept);
        values.lend(list->texts, list->count);
        clear_errors();
        return 0;
    }
    const unsigned long failures = traced_failures();
    const int status = kep_get_preference_list(key, values.count_out(), values.out());
    if (keepable(status, failures)) {
        const KeptTexts* list = nullptr;
        memo->keep(kPreferenceList, 0, key, nullptr, [&] {
            list = memo->texts(values.get(), values.count());
            return record_value(list);
        });
        if (list != nullptr && list->count > 0) {
            values.lend(list->texts, list->count);
        }
    }
    return status;
}

int ask_datasets(tag_t object, const char* relation, Tags& datasets) {
    CallMemo* memo = t_memo;
    if (memo == nullptr) {
        return kep_get_datasets(object, relation, datasets.out(), datasets.count_out());
    }
    uint64_t kept = 0;
    if (memo->find(kDatasets, object, relation, nullptr, &kept)) {
        const KeptTags* list = value_record<KeptTags>(kept);
        datasets.lend(list->tags, list->count, list->id);
        clear_errors();
        return 0;
    }
    const unsigned long failures = traced_failures();
    const int status = kep_get_datasets(object, relation, datasets.out(), datasets.count_out());
    if (keepable(status, failures)) {
        const KeptTags* list = nullptr;
        memo->keep(kDatasets, object, relation, nullptr, [&] {
            list = memo->tags(datasets.get(), datasets.count());
            return record_value(list);
        });
        if (list != nullptr && list->count > 0) {
            datasets.lend(list->tags, list->count, list->id);
        }
    }
    return status;
}

int ask_filtered(const Tags& datasets, const char* type_name, Tags& filtered) {
    CallMemo* memo = t_memo;
    if (memo == nullptr || datasets.kept_list() == 0) {
        return kep_filter_datasets(datasets.get(), datasets.count(), type_name, filtered.out(),
                                   filtered.count_out());
    }
    // A kept list, named by its number.
    const uint32_t list_id = datasets.kept_list();
    uint64_t kept = 0;
    if (memo->find(kFiltered, list_id, type_name, nullptr, &kept)) {
        const KeptTags* list = value_record<KeptTags>(kept);
        filtered.lend(list->tags, list->count, list->id);
        clear_errors();
        return 0;
    }
    const unsigned long failures = traced_failures();
    const int status = kep_filter_datasets(datasets.get(), datasets.count(), type_name, filtered.out(),
                                           filtered.count_out());
    if (keepable(status, failures)) {
        const KeptTags* list = nullptr;
        memo->keep(kFiltered, list_id, type_name, nullptr, [&] {
            list = memo->tags(filtered.get(), filtered.count());
            return record_value(list);
        });
        if (list != nullptr && list->count > 0) {
            filtered.lend(list->tags, list->count, list->id);
        }
    }
    return status;
}

int ask_modon(tag_t line, const char* relation, const char* type, tag_t* host, Tags& datasets) {
    CallMemo* memo = t_memo;
    if (memo == nullptr) {
        return kep_get_modon_for_bomline(line, relation, type, host, datasets.out(), datasets.count_out());
    }
    uint64_t kept = 0;
    if (memo->find(kModon, line, relation, type, &kept)) {
        const KeptModon* modon = value_record<KeptModon>(kept);
        *host = modon->host;
        datasets.lend(modon->datasets.tags, modon->datasets.count, modon->datasets.id);
        if (modon->clears) {
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
        const KeptModon* modon = nullptr;
        memo->keep(kModon, line, relation, type, [&] {
            KeptModon* record = memo->arena.allocate<KeptModon>(1);
            *record = KeptModon{*host, *memo->tags(datasets.get(), datasets.count()), clears};
            modon = record;
            return record_value(modon);
        });
        if (modon != nullptr && modon->datasets.count > 0) {
            datasets.lend(modon->datasets.tags, modon->datasets.count, modon->datasets.id);
        }
    }
    return status;
}

int ask_bbox_for_dataset(tag_t dataset, MemPtr<kep_bbox_t>& box) {
    CallMemo* memo = t_memo;
    if (memo == nullptr) {
        return kep_get_bbox_for_dataset(dataset, box.out());
    }
    uint64_t kept = 0;
    if (memo->answers.find(Key{dataset, kBox}, &kept)) {
        const KeptBox* record = value_record<KeptBox>(kept);
        box.reset(record->present ? mem_alloc_array<kep_bbox_t>(1) : nullptr);
        if (record->present && !box) {
            return 1;  // no memory, as the lookup itself reports it
        }
        if (box) {
            *box.get() = record->box;
        }
        return 0;
    }
    const unsigned long failures = traced_failures();
    const int status = kep_get_bbox_for_dataset(dataset, box.out());
    if (keepable(status, failures)) {
        memo->keep(kBox, dataset, nullptr, nullptr, [&] {
            KeptBox* record = memo->arena.allocate<KeptBox>(1);
            *record = KeptBox{static_cast<bool>(box), box ? *box.get() : kep_bbox_t{0, 0, 0, 0, 0, 0}};
            return record_value(record);
        });
    }
    return status;
}

int ask_is_visu_dataset(tag_t dataset, int* is_visu) {
    CallMemo* memo = t_memo;
    if (memo == nullptr) {
        return kep_is_visu_dataset(dataset, is_visu);
    }
    uint64_t kept = 0;
    if (memo->answers.find(Key{dataset, kVisualisation}, &kept)) {
        *is_visu = static_cast<int>(kept);
        return 0;
    }
    const unsigned long failures = traced_failures();
    const int status = kep_is_visu_dataset(dataset, is_visu);
    if (keepable(status, failures)) {
        memo->keep(kVisualisation, dataset, nullptr, nullptr,
                   [&] { return static_cast<uint64_t>(*is_visu != 0); });
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
    const HostChain* chain = nullptr;
    const bool kept = memo.keep(kChain, line, relation, type, [&] {
        const char** names = candidates.count() > 0
                                 ? memo.arena.allocate<const char*>(static_cast<size_t>(candidates.count()))
                                 : nullptr;
        for (int i = 0; i < candidates.count(); ++i) {
            Text name;
            if (ask_value_string(candidates[i], "object_name", name) != 0) {
                throw 0;  // not kept; reported below
            }
            names[i] = memo.arena.text(name.get());
        }
        HostChain* record = memo.arena.allocate<HostChain>(1);
        *record = HostChain{memo.arena.text(item_id.get()), names, candidates.count(),
                            above != nullptr && above->name_count == 0 ? above->above : above};
        chain = record;
        return record_value(chain);
    });
    return kept ? chain : chain_failed();
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
            uint64_t kept = 0;
            if (memo->find(kChain, x, relation, type, &kept)) {
                above = value_record<HostChain>(kept);
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
    uint64_t kept = 0;
    if (!memo.find(kAttributeId, 0, name, nullptr, &kept)) {
        return false;
    }
    *attribute = static_cast<int>(static_cast<uint32_t>(kept));
    return true;
}

bool known_line_tag(const CallMemo& memo, tag_t line, int attribute, tag_t* value) {
    uint64_t kept = 0;
    Key key{0, 0};
    if (!memo.line_key(kLineTag, line, attribute, &key) || !memo.line_answers.find(key, &kept)) {
        return false;
    }
    *value = static_cast<tag_t>(kept);
    return true;
}

bool known_line_string(const CallMemo& memo, tag_t line, int attribute, const char** value) {
    uint64_t kept = 0;
    Key key{0, 0};
    if (!memo.line_key(kLineString, line, attribute, &key) || !memo.line_answers.find(key, &kept)) {
        return false;
    }
    *value = value_text(kept);
    return true;
}

bool known_value_string(const CallMemo& memo, tag_t object, const char* property, const char** value) {
    uint64_t kept = 0;
    if (!memo.find(kValueString, object, property, nullptr, &kept)) {
        return false;
    }
    *value = value_text(kept);
    return true;
}

}  // namespace kep
