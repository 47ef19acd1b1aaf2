// The call memo: one set of kept answers per thread, alive while the thread's outermost call scope
// is open and every switch is off, and the platform questions it answers.
//
// Two tables of answers (kep_memo_table.h): one for the answers about lines themselves, which a
// walk drops line by line (forget_line), one for the rest. The standard library's containers may
// throw when memory runs out; no exception may leave the extension, so every addition is guarded,
// and an answer that cannot be kept is asked again.
#include "lookup/kep_memo.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "kep_trace.h"
#include "lookup/kep_memo_table.h"

namespace kep {

using memo_detail::Answer;
using memo_detail::Answers;
using memo_detail::Arena;
using memo_detail::Key;
using memo_detail::Names;
using memo_detail::number_answer;
using memo_detail::record_answer;
using memo_detail::Vector;

namespace {

// What is asked: the platform questions below, then the topics of the rooms above (TopicId) from
// kFirstTopic on. 0 marks an empty slot of the table.
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
    kFirstTopic,
    kKindLimit = 32,  // what is asked takes 5 bits of a question
};

std::atomic<bool> g_literal_forced(false);

uint32_t topic_kind(TopicId topic) noexcept { return kFirstTopic + static_cast<uint32_t>(topic); }
static_assert(kFirstTopic + static_cast<uint32_t>(TopicId::Modon) < kKindLimit, "a topic beyond the kinds");

}  // namespace

class CallMemo {
public:
    CallMemo() : names(arena) {}

    Arena arena;
    Names names;
    Answers answers;
    // The answers about lines themselves (their attributes and the answers of topics about
    // lines): a walk drops those of a line once it is done with the line's subtree, so that during
    // a search this table holds about the lines being walked and stays small.
    Answers line_answers;

    // Failed questions on the way of lookups that do not pass them on (refuse_keeping).
    unsigned long refusals = 0;

    static bool about_line(uint32_t kind) noexcept {
        return kind == kLineTag || kind == kLineString ||
               (kind >= kFirstTopic && kep::about_line(static_cast<TopicId>(kind - kFirstTopic)));
    }
    Answers& table(uint32_t kind) noexcept { return about_line(kind) ? line_answers : answers; }
    const Answers& table(uint32_t kind) const noexcept { return about_line(kind) ? line_answers : answers; }

    // A question fits in 32 bits: what is asked (5 bits), then the numbers of up to two names
    // (13 and 14 bits) or of a line attribute. A question under a name or attribute beyond those
    // numbers is not kept.
    static const uint32_t kNameLimit1 = 1u << 13;
    static const uint32_t kNameLimit2 = 1u << 14;

    // The key of a question about an object under up to two names; false when a name has never
    // been asked under (nothing can be kept for it).
    bool key(uint32_t kind, uint32_t object, const char* name1, const char* name2, Key* key) const noexcept {
        uint64_t n1 = 0;
        uint64_t n2 = 0;
        if (!names.known(name1, &n1) || !names.known(name2, &n2) || n1 >= kNameLimit1 || n2 >= kNameLimit2) {
            return false;
        }
        *key = Key{object, kind | static_cast<uint32_t>(n1) << 5 | static_cast<uint32_t>(n2) << 18};
        return true;
    }
    // The same, keeping new names; throws when no memory is left or a name is beyond its number.
    Key new_key(uint32_t kind, uint32_t object, const char* name1, const char* name2 = nullptr) {
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

    bool find(uint32_t kind, uint32_t object, const char* name1, const char* name2,
              Answer* value) const noexcept {
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
    KeptTags tags(const tag_t* list, int count) {
        if (lists_ == UINT32_MAX) {
            throw std::length_error("lists");
        }
        return KeptTags{arena.copy(list, count), list != nullptr && count > 0 ? count : 0, ++lists_};
    }
    KeptTexts texts(const char* const* list, int count) {
        const int n = list != nullptr && count > 0 ? count : 0;
        const char** copies = n > 0 ? arena.allocate<const char*>(static_cast<size_t>(n)) : nullptr;
        for (int i = 0; i < n; ++i) {
            copies[i] = arena.text(list[i]);
        }
        return KeptTexts{copies, n};
    }
    // A record kept in the arena.
    template <class T>
    const T* record(const T& value) {
        T* kept = arena.allocate<T>(1);
        *kept = value;
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

bool nothing_can_be_written() noexcept {
    // kep_logging_on reads the two output switches in the order the writers first read them. With
    // both off nothing is written, whatever the trace switch says; the trace writer is still asked
    // once, so that the trace switch is read at the moment the first traced statement would read
    // it. The switch readers themselves are not asked: the Windows build keeps them internal, and
    // the choice must be the same on every system.
    if (kep_logging_on() != 0) {
        return false;
    }
    kep_log_itkexe("%s", "");
    return true;
}

}  // namespace

CallScope::CallScope() noexcept {
    if (t_memo != nullptr || g_literal_forced.load(std::memory_order_relaxed) || !nothing_can_be_written()) {
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

void refuse_keeping() noexcept {
    if (t_memo != nullptr) {
        ++t_memo->refusals;
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
                   [&] { return number_answer(static_cast<uint32_t>(*attribute)); });
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
        memo->keep_line(kLineTag, line, attribute, [&] { return number_answer(*value); });
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
                        [&] { return record_answer(memo->arena.text(value.get())); });
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
                   [&] { return record_answer(memo->arena.text(value.get())); });
    }
    return status;
}

int ask_value_strings(tag_t object, const char* property, Values& values) {
    CallMemo* memo = t_memo;
    Answer kept{};
    if (memo != nullptr && memo->find(kValueStrings, object, property, nullptr, &kept)) {
        const KeptTexts* list = static_cast<const KeptTexts*>(kept.record);
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
            list = memo->record(memo->texts(read.data(), values.count()));
            return record_answer(list);
        });
        if (list != nullptr && list->count > 0) {
            values.lend(list->texts, list->count);
        }
    }
    return status;
}

int ask_named_refs(tag_t dataset, const char* reference, Tags& refs) {
    CallMemo* memo = t_memo;
    Answer kept{};
    if (memo != nullptr && memo->find(kNamedRefs, dataset, reference, nullptr, &kept)) {
        const KeptTags* list = static_cast<const KeptTags*>(kept.record);
        refs.lend(list->tags, list->count, list->id);
        return 0;
    }
    const int status = AE_ask_all_dataset_named_refs(dataset, reference, refs.count_out(), refs.out());
    if (memo != nullptr && status == 0 && (refs.count() == 0 || refs)) {
        const KeptTags* list = nullptr;
        memo->keep(kNamedRefs, dataset, reference, nullptr, [&] {
            list = memo->record(memo->tags(refs.get(), refs.count()));
            return record_answer(list);
        });
        if (list != nullptr && list->count > 0) {
            refs.lend(list->tags, list->count, list->id);
        }
    }
    return status;
}

int ask_object_type(tag_t object, tag_t* type) {
    CallMemo* memo = t_memo;
    Answer kept{};
    if (memo != nullptr && memo->answers.find(Key{object, kObjectType}, &kept)) {
        *type = static_cast<tag_t>(kept.number);
        return 0;
    }
    const int status = TCTYPE_ask_object_type(object, type);
    if (memo != nullptr && status == 0) {
        memo->keep(kObjectType, object, nullptr, nullptr, [&] { return number_answer(*type); });
    }
    return status;
}

int ask_type_name(tag_t type, char* name) {
    CallMemo* memo = t_memo;
    Answer kept{};
    if (memo != nullptr && memo->answers.find(Key{type, kTypeName}, &kept)) {
        const char* text = static_cast<const char*>(kept.record);
        std::memcpy(name, text, std::strlen(text) + 1);
        return 0;
    }
    const int status = TCTYPE_ask_name(type, name);
    if (memo != nullptr && status == 0) {
        memo->keep(kTypeName, type, nullptr, nullptr, [&] {
            char copy[TCTYPE_name_size_c + 1];
            std::memcpy(copy, name, TCTYPE_name_size_c);
            copy[TCTYPE_name_size_c] = '\0';
            return record_answer(memo->arena.text(copy));
        });
    }
    return status;
}

int ask_relation_type(const char* name, tag_t* relation_type) {
    CallMemo* memo = t_memo;
    Answer kept{};
    if (memo != nullptr && memo->find(kRelationType, 0, name, nullptr, &kept)) {
        *relation_type = static_cast<tag_t>(kept.number);
        return 0;
    }
    const int status = GRM_find_relation_type(name, relation_type);
    if (memo != nullptr && status == 0) {
        memo->keep(kRelationType, 0, name, nullptr, [&] { return number_answer(*relation_type); });
    }
    return status;
}

void clear_errors() noexcept { (void)EMH_clear_errors(); }

// ---- Answers the rooms above keep ------------------------------------------------------------

namespace memo_detail {

const void* find(const CallMemo& memo, TopicId topic, uint32_t object, const char* name1,
                 const char* name2) noexcept {
    Answer kept{};
    return memo.find(topic_kind(topic), object, name1, name2, &kept) ? kept.record : nullptr;
}

uint64_t new_key(CallMemo& memo, TopicId topic, uint32_t object, const char* name1, const char* name2) {
    const Key key = memo.new_key(topic_kind(topic), object, name1, name2);
    return static_cast<uint64_t>(key.object) << 32 | key.question;
}

void insert(CallMemo& memo, TopicId topic, uint64_t key, const void* record) {
    memo.table(topic_kind(topic))
        .insert(Key{static_cast<uint32_t>(key >> 32), static_cast<uint32_t>(key)}, record_answer(record));
}

void* kept_block(CallMemo& memo, size_t bytes, size_t alignment) {
    return memo.arena.allocate(bytes, alignment);
}

Watch watch(const CallMemo& memo) noexcept { return Watch{traced_failures(), memo.refusals}; }

}  // namespace memo_detail

const char* kept_text(CallMemo& memo, const char* text) { return memo.arena.text(text); }

KeptTags kept_tags(CallMemo& memo, const tag_t* tags, int count) { return memo.tags(tags, count); }

KeptTexts kept_texts(CallMemo& memo, const char* const* texts, int count) { return memo.texts(texts, count); }

// ---- Looking without asking -------------------------------------------------------------------

bool known_attribute_id(const CallMemo& memo, const char* name, int* attribute) {
    Answer kept{};
    if (!memo.find(kAttributeId, 0, name, nullptr, &kept)) {
        return false;
    }
    *attribute = static_cast<int>(static_cast<uint32_t>(kept.number));
    return true;
}

bool known_line_tag(const CallMemo& memo, tag_t line, int attribute, tag_t* value) {
    Answer kept{};
    Key key{0, 0};
    if (!memo.line_key(kLineTag, line, attribute, &key) || !memo.line_answers.find(key, &kept)) {
        return false;
    }
    *value = static_cast<tag_t>(kept.number);
    return true;
}

bool known_line_string(const CallMemo& memo, tag_t line, int attribute, const char** value) {
    Answer kept{};
    Key key{0, 0};
    if (!memo.line_key(kLineString, line, attribute, &key) || !memo.line_answers.find(key, &kept)) {
        return false;
    }
    *value = static_cast<const char*>(kept.record);
    return true;
}

bool known_value_string(const CallMemo& memo, tag_t object, const char* property, const char** value) {
    Answer kept{};
    if (!memo.find(kValueString, object, property, nullptr, &kept)) {
        return false;
    }
    *value = static_cast<const char*>(kept.record);
    return true;
}

}  // namespace kep
