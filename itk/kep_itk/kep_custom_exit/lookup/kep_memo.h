/*
 * Answers of the platform for the length of one call.
 *
 * The memo knows the platform alone: the call scope, the table of answers, the kept texts and
 * lists, and the questions below, each of which stands for one platform call. The rooms above keep
 * the answers of their own lookups through the generic part (Topic, find_kept, keep), next to the
 * code that computes them.
 *
 * Within one service call or one read of a line property nothing the extension asks about
 * changes, so a question needs the platform only once. While nothing can be written (the console
 * and system log switches both off, whatever the statement trace switch says), the entry points
 * open a CallScope, and the functions below answer a question asked before in the same call from
 * what the scope kept. With an output switch on, or when no scope is open, each of them is
 * exactly the platform call or the extension function it stands for, so that the trace shows every
 * call as it is made. Nothing is kept once the outermost scope of the thread closes: a changed
 * preference takes effect at the next call.
 *
 * Only successful answers are kept; a question whose first asking failed is asked again. Lists
 * and texts come back in holders (Text, Tags, TextList, Values) that either own a MEM_alloc block
 * of the platform or borrow the kept answer, which stays valid until the scope closes; either way
 * the holder is read the same. The functions return the status of the call they stand for.
 */
#ifndef KEP_MEMO_H
#define KEP_MEMO_H

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "base/kep_observer.h"
#include "kep_mem.h"
#include "kep_platform.h"

namespace kep {

class CallMemo;

// Opened at the entry of every service and line property method. Opens the thread's memo when
// none is open, both output switches are off and the literal path is not forced; an inner scope uses the
// outer one's memo.
class CallScope {
public:
    CallScope() noexcept;
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

private:
    CallMemo* opened_ = nullptr;
};

// The memo of the calling thread's open scope, or null (literal path).
CallMemo* active_memo() noexcept;

// A walk is done with `line` and the lines below it, and asks nothing more about them in this
// call: the answers about the line itself (its attributes and the answers of every topic about
// lines) are dropped, so that a search of a million lines keeps those of the lines being walked
// only. The answers about its revision, datasets and forms stay: other lines may share them.
void forget_line(tag_t line) noexcept;

// For the rest of the open call, forget_line keeps the answers about `lines`: for a caller that
// asks about them again after a walk (the explanation reads bl_plmxml_abs_xform of its line once
// its walk is done). Nothing without an open memo, or without memory for the list.
void keep_lines(const tag_t* lines, int count) noexcept;

// For tests and benchmarks: with true, scopes open no memo, so the literal path runs with the
// output switches off as well. Takes effect for scopes opened afterwards.
void force_literal_path(bool forced) noexcept;

// ---- Holders ----------------------------------------------------------------------------------

// A text: owned (MEM_alloc block) or borrowed from the memo.
class Text {
public:
    Text() noexcept = default;
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    const char* get() const noexcept { return lent_ != nullptr ? lent_ : owned_.get(); }
    explicit operator bool() const noexcept { return get() != nullptr; }
    // Slot for a block of the caller's own; drops what was held.
    char** out() noexcept {
        lent_ = nullptr;
        return owned_.out();
    }
    void lend(const char* text) noexcept {
        owned_.reset();
        lent_ = text;
    }

private:
    MemPtr<char> owned_;
    const char* lent_ = nullptr;
};

// A list of tags: one owned block or borrowed.
class Tags {
public:
    Tags() noexcept = default;
    Tags(const Tags&) = delete;
    Tags& operator=(const Tags&) = delete;
    const tag_t* get() const noexcept { return lent_ != nullptr ? lent_ : owned_.get(); }
    int count() const noexcept { return count_; }
    tag_t operator[](int i) const noexcept { return get()[i]; }
    explicit operator bool() const noexcept { return get() != nullptr; }
    // The number of the memo's list that is lent (it names the list in further questions), or 0.
    unsigned kept_list() const noexcept { return lent_ != nullptr ? kept_list_ : 0; }
    tag_t** out() noexcept {
        lent_ = nullptr;
        return owned_.out();
    }
    int* count_out() noexcept { return &count_; }
    void lend(const tag_t* tags, int count, unsigned kept_list) noexcept {
        owned_.reset();
        lent_ = tags;
        count_ = count;
        kept_list_ = kept_list;
    }

private:
    MemPtr<tag_t> owned_;
    const tag_t* lent_ = nullptr;
    int count_ = 0;
    unsigned kept_list_ = 0;
};

// A list of texts in one block (a preference's values): owned or borrowed.
class TextList {
public:
    TextList() noexcept = default;
    TextList(const TextList&) = delete;
    TextList& operator=(const TextList&) = delete;
    const char* const* get() const noexcept { return lent_ != nullptr ? lent_ : owned_.get(); }
    int count() const noexcept { return count_; }
    const char* operator[](int i) const noexcept { return get()[i]; }
    explicit operator bool() const noexcept { return get() != nullptr; }
    char*** out() noexcept {
        lent_ = nullptr;
        return owned_.out();
    }
    int* count_out() noexcept { return &count_; }
    void lend(const char* const* values, int count) noexcept {
        owned_.reset();
        lent_ = values;
        count_ = count;
    }

private:
    MemPtr<char*> owned_;
    const char* const* lent_ = nullptr;
    int count_ = 0;
};

// A list of texts each in a block of its own (a string property's values): owned or borrowed.
class Values {
public:
    Values() noexcept = default;
    Values(const Values&) = delete;
    Values& operator=(const Values&) = delete;
    int count() const noexcept { return lent_ != nullptr ? lent_count_ : owned_.count(); }
    const char* operator[](int i) const noexcept { return lent_ != nullptr ? lent_[i] : owned_[i]; }
    int* count_out() noexcept { return owned_.count_out(); }
    char*** values_out() noexcept {
        lent_ = nullptr;
        return owned_.values_out();
    }
    void lend(const char* const* values, int count) noexcept {
        owned_.reset();
        lent_ = values;
        lent_count_ = count;
    }

private:
    StringList owned_;
    const char* const* lent_ = nullptr;
    int lent_count_ = 0;
};

// ---- Platform questions --------------------------------------------------------------------

int ask_attribute_id(const char* name, int* attribute);
int ask_line_tag(tag_t line, int attribute, tag_t* value);
int ask_line_string(tag_t line, int attribute, Text& value);
int ask_value_string(tag_t object, const char* property, Text& value);
int ask_value_strings(tag_t object, const char* property, Values& values);
int ask_named_refs(tag_t dataset, const char* reference, Tags& refs);
int ask_object_type(tag_t object, tag_t* type);
// name has room for TCTYPE_name_size_c + 1 characters.
int ask_type_name(tag_t type, char* name);
int ask_relation_type(const char* name, tag_t* relation_type);
// EMH_clear_errors, untraced and its status not examined. Never left out: the stack also holds
// notes and warnings of calls that succeed, so a clear is made wherever the lookup it stands for
// would clear.
void clear_errors() noexcept;

// ---- Answers the rooms above keep ------------------------------------------------------------
// A function that stands for a lookup of its own room (made of several questions) keeps that
// lookup's answer here under a topic: one record of type T about an object (a tag, or the number
// of a kept list; 0 for the site-wide answers) under up to two names. Texts and lists the record
// points to are kept with the kept_* functions below, so that they live as long as the record.
// The topics are listed here, each with a number of its own; the memo knows nothing else of them.

enum class TopicId : uint32_t {
    Preference,      // kep_get_preference (lookup/)
    PreferenceList,  // kep_get_preference_list (lookup/)
    Datasets,        // kep_get_datasets (lookup/)
    Filtered,        // kep_filter_datasets of a kept list (lookup/)
    Box,             // kep_get_bbox_for_dataset (geometry/)
    Visualisation,   // kep_is_visu_dataset (geometry/)
    HostChain,       // the lines above a line as the host walk sees them (modon/), about lines
    Modon,           // kep_get_modon_for_bomline (modon/), about lines
};

// Answers about lines are dropped with the line (forget_line); the others stay for the call.
constexpr bool about_line(TopicId id) noexcept { return id == TopicId::HostChain || id == TopicId::Modon; }

template <class T>
struct Topic {
    TopicId id;
};

// What a lookup keeps of an answer it has just asked: a record, or nothing (the question is then
// asked again when it comes up again).
template <class T>
class Keep {
public:
    static Keep record(const T& record) noexcept { return Keep(true, record); }
    static Keep nothing() noexcept { return Keep(false, T()); }
    bool kept() const noexcept { return kept_; }
    const T& get() const noexcept { return record_; }

private:
    Keep(bool kept, const T& record) noexcept : kept_(kept), record_(record) {}
    bool kept_;
    T record_;
};

namespace memo_detail {

// What is asked: the platform questions above, then the topics (TopicId) from kFirstTopic on. 0
// marks an empty slot of the table.
enum Kind : uint32_t {
    kAttributeId = 1,
    kLineTag,  // a line's attribute: asked under the attribute, not under names
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
static_assert(kFirstTopic + static_cast<uint32_t>(TopicId::Modon) < kKindLimit, "a topic beyond the kinds");

// A question as the table knows it: what is asked, about which object (a tag, the number of a kept
// list, or 0 for the site-wide questions), and under up to two names or, for kLineTag and
// kLineString, one line attribute.
struct Question {
    uint32_t kind;
    uint32_t object;
    const char* name1;
    const char* name2;
    int attribute;
};
inline Question topic_question(TopicId topic, uint32_t object, const char* name1,
                               const char* name2) noexcept {
    return Question{kFirstTopic + static_cast<uint32_t>(topic), object, name1, name2, 0};
}

// An answer: a number (a tag, an id) or a kept record (a text, a list, a topic's record). Which
// one a question's answer is, the question says; the other member is never read.
union Answer {
    uint64_t number;
    const void* record;
};
inline Answer number_answer(uint64_t number) noexcept {
    Answer a;
    a.number = number;
    return a;
}
inline Answer record_answer(const void* record) noexcept {
    Answer a;
    a.record = record;
    return a;
}

// The kept answer to a question; false when there is none.
bool find(const CallMemo& memo, const Question& question, Answer* answer) noexcept;
// The key of a question, keeping new names; throws when it cannot be kept.
uint64_t new_key(CallMemo& memo, const Question& question);
// Keeps an answer under a key from new_key; throws when no memory is left.
void insert(CallMemo& memo, const Question& question, uint64_t key, Answer answer);
// Room for one record; throws when no memory is left.
void* kept_block(CallMemo& memo, size_t bytes, size_t alignment);
// Counts of the thread's failed traced calls and of the refusals of the memo so far.
struct Watch {
    unsigned long failures;
    unsigned long refusals;
};
Watch watch(const CallMemo& memo) noexcept;

// The decisions of a lookup. While an observer is set (an explanation), a kept answer is kept with
// the decisions the observer was told while the question was asked, and tells them again whenever
// it is lent, so that the observer hears on the economical path every decision of the literal one,
// in the same order. An observer is set for a whole call or not at all: an answer kept while nobody
// observed has nothing to tell. While nobody observes, each of these is one load.
class TapeRecorder;
class Recording {
public:
    explicit Recording(CallMemo& memo) noexcept : observing_(observer() != nullptr) {
        if (observing_) {
            start(memo);
        }
    }
    ~Recording() {
        if (observing_) {
            stop();
        }
    }
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;
    // Keeps what the observer was told with the answer under `key` (from new_key); throws when it
    // cannot be kept whole, and then the answer is not kept either.
    void keep(CallMemo& memo, const Question& question, uint64_t key) {
        if (observing_) {
            keep_tape(memo, question, key);
        }
    }

private:
    void start(CallMemo& memo) noexcept;
    void stop() noexcept;
    void keep_tape(CallMemo& memo, const Question& question, uint64_t key);
    bool observing_;
    bool owned_ = false;  // recorder_ is this recording's own
    TapeRecorder* recorder_ = nullptr;
    size_t start_ = 0;            // the first decision of this question among the recorder's
    unsigned long failures_ = 0;  // the recorder's count of decisions it could not keep, at start
};
// Tells the observer again what it was told while the kept answer to `question` was asked.
void retell_kept(const CallMemo& memo, const Question& question) noexcept;
inline void retell(const CallMemo& memo, const Question& question) noexcept {
    if (observer() != nullptr) {
        retell_kept(memo, question);
    }
}
// find, and when it finds and an observer is set, retell.
bool find_retold(const CallMemo& memo, const Question& question, Answer* answer) noexcept;

// How an answer of type T sits in the table. A record is copied into a kept block and the table
// holds its address; a number (a tag, an id) is held in the table itself, and so is the address
// of what the lookup has kept itself (a kept text).
template <class T, class = void>
struct Stored {
    static Answer store(CallMemo& memo, const T& value) {
        T* record = static_cast<T*>(kept_block(memo, sizeof(T), alignof(T)));
        *record = value;
        return record_answer(record);
    }
    static const T& load(const Answer& answer) noexcept { return *static_cast<const T*>(answer.record); }
};
template <class T>
struct Stored<T, typename std::enable_if<std::is_integral<T>::value>::type> {
    using Bits = typename std::make_unsigned<T>::type;
    static Answer store(CallMemo&, T value) noexcept { return number_answer(static_cast<Bits>(value)); }
    static T load(const Answer& answer) noexcept { return static_cast<T>(static_cast<Bits>(answer.number)); }
};
template <class T>
struct Stored<const T*, void> {
    static Answer store(CallMemo&, const T* value) noexcept { return record_answer(value); }
    static const T* load(const Answer& answer) noexcept { return static_cast<const T*>(answer.record); }
};

// Keeps what make() returns (make may use the kept_* functions, and may throw when memory runs
// out); false when nothing is kept, which only means that the question is asked again.
template <class T, class Make>
bool keep(CallMemo& memo, const Question& question, Make&& make, Answer* kept,
          Recording* recording = nullptr) noexcept {
    try {
        const uint64_t key = new_key(memo, question);
        const Keep<T> answer = make();
        if (!answer.kept()) {
            return false;
        }
        if (recording != nullptr) {
            recording->keep(memo, question, key);
        }
        *kept = Stored<T>::store(memo, answer.get());
        insert(memo, question, key, *kept);
        return true;
    } catch (...) {
        return false;
    }
}

// The one sequence of every lookup through the memo (see ask_through below), for any question.
template <class T, class Ask, class Lend, class Make, class Adopt>
int ask_question(const Question& question, Ask&& ask, Lend&& lend, Make&& make, Adopt&& adopt) {
    CallMemo* memo = active_memo();
    if (memo == nullptr) {
        return ask();
    }
    Answer kept{};
    if (find_retold(*memo, question, &kept)) {
        return lend(Stored<T>::load(kept));
    }
    const Watch before = watch(*memo);
    Recording recording(*memo);
    const int status = ask();
    const Watch after = watch(*memo);
    if (status == 0 && after.failures == before.failures && after.refusals == before.refusals &&
        keep<T>(
            *memo, question, [&] { return make(*memo); }, &kept, &recording)) {
        adopt(Stored<T>::load(kept));
    }
    return status;
}

}  // namespace memo_detail

// What `topic` keeps about `object` under the names, or null.
template <class T>
const T* find_kept(const CallMemo& memo, const Topic<T>& topic, uint32_t object, const char* name1,
                   const char* name2) noexcept {
    memo_detail::Answer kept{};
    return memo_detail::find(memo, memo_detail::topic_question(topic.id, object, name1, name2), &kept)
               ? &memo_detail::Stored<T>::load(kept)
               : nullptr;
}

// Keeps the record that make() returns (make may use the kept_* functions, and may throw when
// memory runs out); the kept record, or null when nothing is kept, which only means that the
// lookup is asked again.
template <class T, class Make>
const T* keep(CallMemo& memo, const Topic<T>& topic, uint32_t object, const char* name1, const char* name2,
              Make&& make) noexcept {
    memo_detail::Answer kept{};
    return memo_detail::keep<T>(memo, memo_detail::topic_question(topic.id, object, name1, name2), make,
                                &kept)
               ? &memo_detail::Stored<T>::load(kept)
               : nullptr;
}

// A question failed on the way of the lookups under way in this call without their passing the
// failure on (they answer as if it had not been asked): none of their answers is kept.
void refuse_keeping() noexcept;

// A lookup through the memo, the one way every lookup goes, the platform questions above included:
//   - without a memo: ask(), exactly the lookup;
//   - with a kept answer: lend(kept), which hands it out as the lookup would have (and clears the
//     error stack where the lookup would have cleared it) and returns the lookup's status;
//   - else ask(); when it succeeded with no traced call on its way failing (some lookups pass a
//     failure on as an empty answer) and nothing refused keeping, make(memo) says what to keep,
//     and adopt(kept) may hand out the kept copy in place of what ask() handed out.
// Returns the status of ask() or lend().
template <class T, class Ask, class Lend, class Make, class Adopt>
int ask_through(const Topic<T>& topic, uint32_t object, const char* name1, const char* name2, Ask&& ask,
                Lend&& lend, Make&& make, Adopt&& adopt) {
    return memo_detail::ask_question<T>(memo_detail::topic_question(topic.id, object, name1, name2), ask,
                                        lend, make, adopt);
}
// The same without adopting the kept copy.
template <class T, class Ask, class Lend, class Make>
int ask_through(const Topic<T>& topic, uint32_t object, const char* name1, const char* name2, Ask&& ask,
                Lend&& lend, Make&& make) {
    return ask_through(topic, object, name1, name2, ask, lend, make, [](const T&) {});
}

// Kept copies, alive until the scope closes; each throws when no memory is left.
// Room for n plain records of T.
template <class T>
T* kept_records(CallMemo& memo, size_t n) {
    return static_cast<T*>(memo_detail::kept_block(memo, n * sizeof(T), alignof(T)));
}
// A text (null stays null).
const char* kept_text(CallMemo& memo, const char* text);
// A list of tags, numbered so that an answer about the list itself can name it (Tags::kept_list).
struct KeptTags {
    const tag_t* tags;  // null when count is 0
    int count;
    uint32_t id;
};
KeptTags kept_tags(CallMemo& memo, const tag_t* tags, int count);
// A list of texts.
struct KeptTexts {
    const char* const* texts;
    int count;
};
KeptTexts kept_texts(CallMemo& memo, const char* const* texts, int count);

// ---- Looking without asking -------------------------------------------------------------------
// What the memo already knows, asking the platform nothing: each is false (and leaves its outputs
// alone) when the answer has not been asked for in this call.
bool known_attribute_id(const CallMemo& memo, const char* name, int* attribute);
bool known_line_tag(const CallMemo& memo, tag_t line, int attribute, tag_t* value);
bool known_line_string(const CallMemo& memo, tag_t line, int attribute, const char** value);
bool known_value_string(const CallMemo& memo, tag_t object, const char* property, const char** value);
// Whether an answer of `topic` was kept in this call with decisions to tell again (see Recording).
bool kept_with_decisions(const CallMemo& memo, TopicId topic) noexcept;

}  // namespace kep

#endif
