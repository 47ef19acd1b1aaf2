// The call memo: one set of kept answers per thread, alive while the thread's outermost call scope
// is open and every switch is off, and the platform questions it answers.
//
// Two tables of answers (kep_memo_table.h): one for the answers about lines themselves, which a
// walk drops line by line (forget_line), one for the rest. The standard library's containers may
// throw when memory runs out; no exception may leave the extension, so every addition is guarded,
// and an answer that cannot be kept is asked again.
#include "lookup/kep_memo.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "kep_trace.h"
#include "lookup/kep_memo_table.h"

namespace kep {

using memo_detail::Answer;
using memo_detail::Answers;
using memo_detail::Arena;
using memo_detail::kept_note;
using memo_detail::Key;
using memo_detail::Names;
using memo_detail::Tape;
using memo_detail::Vector;

namespace {

using memo_detail::kAttributeId;
using memo_detail::kFirstTopic;
using memo_detail::kLineString;
using memo_detail::kLineTag;
using memo_detail::kNamedRefs;
using memo_detail::kObjectType;
using memo_detail::kRelationType;
using memo_detail::kTypeName;
using memo_detail::kValueString;
using memo_detail::kValueStrings;
using memo_detail::Question;

}  // namespace

class CallMemo {
public:
    CallMemo() : names(arena), tape_recorder(arena) {}

    Arena arena;
    Names names;
    Answers answers;
    // The answers about lines themselves (their attributes and the answers of topics about
    // lines): a walk drops those of a line once it is done with the line's subtree, so that during
    // a search this table holds about the lines being walked and stays small.
    Answers line_answers;
    // The decisions an observer was told while a kept answer was asked (memo_detail::Tape), under
    // the answer's key, in a table of their own so that the answers' tables stay as they are; those
    // about lines go with the line.
    Answers tapes;
    Answers line_tapes;
    // Takes the decisions told while questions are asked (Recording); it keeps nothing the memo
    // needs between questions, and retell_kept hands it decisions already kept.
    mutable memo_detail::TapeRecorder tape_recorder;
    // The number of answers kept with decisions, by what is asked.
    unsigned long taped[memo_detail::kKindLimit] = {};

    // Failed questions on the way of lookups that do not pass them on (refuse_keeping).
    unsigned long refusals = 0;

    // Lines whose answers forget_line keeps (keep_lines), sorted.
    Vector<tag_t> kept_lines;

    static bool about_line(uint32_t kind) noexcept {
        return kind == kLineTag || kind == kLineString ||
               (kind >= kFirstTopic && kep::about_line(static_cast<TopicId>(kind - kFirstTopic)));
    }
    Answers& table(uint32_t kind) noexcept { return about_line(kind) ? line_answers : answers; }
    const Answers& table(uint32_t kind) const noexcept { return about_line(kind) ? line_answers : answers; }
    Answers& tape_table(uint32_t kind) noexcept { return about_line(kind) ? line_tapes : tapes; }
    const Answers& tape_table(uint32_t kind) const noexcept { return about_line(kind) ? line_tapes : tapes; }

    // A question fits in 32 bits: what is asked (5 bits), then the numbers of up to two names
    // (13 and 14 bits) or of a line attribute. A question under a name or attribute beyond those
    // numbers is not kept.
    static bool by_attribute(uint32_t kind) noexcept { return kind == kLineTag || kind == kLineString; }
    static const uint32_t kNameLimit1 = 1u << 13;
    static const uint32_t kNameLimit2 = 1u << 14;

    // The key of a question; false when a name or line attribute of it has never been asked under
    // (nothing can be kept for it).
    bool key(const Question& q, Key* key) const noexcept {
        if (by_attribute(q.kind)) {
            for (uint32_t k = 0; k < attribute_count_; ++k) {
                if (attributes_[k] == q.attribute) {
                    *key = Key{q.object, q.kind | (k + 1) << 5};
                    return true;
                }
            }
            return false;
        }
        uint64_t n1 = 0;
        uint64_t n2 = 0;
        if (!names.known(q.name1, &n1) || !names.known(q.name2, &n2) || n1 >= kNameLimit1 ||
            n2 >= kNameLimit2) {
            return false;
        }
        *key = Key{q.object, q.kind | static_cast<uint32_t>(n1) << 5 | static_cast<uint32_t>(n2) << 18};
        return true;
    }
    // The same, keeping new names and attributes; throws when no memory is left or a name or
    // attribute is beyond its number.
    Key new_key(const Question& q) {
        Key k{0, 0};
        if (key(q, &k)) {
            return k;
        }
        if (by_attribute(q.kind)) {
            if (attribute_count_ == kAttributeLimit) {
                throw std::length_error("attribute");
            }
            attributes_[attribute_count_++] = q.attribute;
            return Key{q.object, q.kind | attribute_count_ << 5};
        }
        const uint64_t n1 = names.id(q.name1);
        const uint64_t n2 = names.id(q.name2);
        if (n1 >= kNameLimit1 || n2 >= kNameLimit2) {
            throw std::length_error("name");
        }
        return Key{q.object, q.kind | static_cast<uint32_t>(n1) << 5 | static_cast<uint32_t>(n2) << 18};
    }
    bool find(const Question& q, Answer* value) const noexcept {
        Key k{0, 0};
        return key(q, &k) && table(q.kind).find(k, value);
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

private:
    // The line attributes asked about, numbered from 1 by their place here.
    static const uint32_t kAttributeLimit = 64;
    int attributes_[kAttributeLimit] = {};
    uint32_t attribute_count_ = 0;
    uint32_t lists_ = 0;
};

namespace {

// Everything the memo holds beyond one lookup, and the only state of the memo outside a CallMemo:
//   - open: the memo of the calling thread's open call scope, or null (thread-local). It holds the
//     answers of one call and goes when the thread's outermost scope closes.
//   - literal_forced: whether scopes open no memo (process-wide), so that tests and benchmarks can
//     compare both paths in one process.
// Both start constant-initialised: reading them costs no first-use check.
class MemoState {
public:
    static CallMemo*& open() noexcept {
        static thread_local CallMemo* memo = nullptr;
        return memo;
    }
    static bool literal_forced() noexcept { return forced().load(std::memory_order_relaxed); }
    static void force_literal(bool on) noexcept { forced().store(on, std::memory_order_relaxed); }

private:
    static std::atomic<bool>& forced() noexcept {
        static std::atomic<bool> value(false);
        return value;
    }
};

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
    if (MemoState::open() != nullptr || MemoState::literal_forced() || !nothing_can_be_written()) {
        return;
    }
    try {
        opened_ = new CallMemo();
    } catch (...) {
        opened_ = nullptr;
    }
    MemoState::open() = opened_;
}

CallScope::~CallScope() {
    if (opened_ != nullptr) {
        MemoState::open() = nullptr;
        delete opened_;
    }
}

CallMemo* active_memo() noexcept { return MemoState::open(); }

void keep_lines(const tag_t* lines, int count) noexcept {
    CallMemo* memo = MemoState::open();
    if (memo == nullptr || lines == nullptr || count <= 0) {
        return;
    }
    try {
        memo->kept_lines.assign(lines, lines + count);
        std::sort(memo->kept_lines.begin(), memo->kept_lines.end());
    } catch (...) {
        memo->kept_lines.clear();  // without memory the lines are forgotten as usual
    }
}

void forget_line(tag_t line) noexcept {
    CallMemo* memo = MemoState::open();
    if (memo != nullptr && line != NULLTAG &&
        !std::binary_search(memo->kept_lines.begin(), memo->kept_lines.end(), line)) {
        memo->line_answers.erase_object(line);
        memo->line_tapes.erase_object(line);
    }
}

void refuse_keeping() noexcept {
    CallMemo* memo = MemoState::open();
    if (memo != nullptr) {
        ++memo->refusals;
    }
}

void force_literal_path(bool forced) noexcept { MemoState::force_literal(forced); }

// ---- Platform questions --------------------------------------------------------------------
// Each is one platform call through the memo's one sequence; a kept answer is handed out with
// status 0, and nothing clears the error stack in its place (the call itself does not).

namespace {

// Hands out nothing more than the kept answer itself.
struct NoAdopt {
    template <class T>
    void operator()(const T&) const noexcept {}
};

}  // namespace

int ask_attribute_id(const char* name, int* attribute) {
    if (name == nullptr) {
        return BOM_line_look_up_attribute(name, attribute);
    }
    return memo_detail::ask_question<int>(
        Question{kAttributeId, 0, name, nullptr, 0},
        [&] { return BOM_line_look_up_attribute(name, attribute); },
        [&](int kept) {
            *attribute = kept;
            return 0;
        },
        [&](CallMemo&) { return Keep<int>::record(*attribute); }, NoAdopt());
}

int ask_line_tag(tag_t line, int attribute, tag_t* value) {
    return memo_detail::ask_question<tag_t>(
        Question{kLineTag, line, nullptr, nullptr, attribute},
        [&] { return BOM_line_ask_attribute_tag(line, attribute, value); },
        [&](tag_t kept) {
            *value = kept;
            return 0;
        },
        [&](CallMemo&) { return Keep<tag_t>::record(*value); }, NoAdopt());
}

int ask_line_string(tag_t line, int attribute, Text& value) {
    return memo_detail::ask_question<const char*>(
        Question{kLineString, line, nullptr, nullptr, attribute},
        [&] { return BOM_line_ask_attribute_string(line, attribute, value.out()); },
        [&](const char* kept) {
            value.lend(kept);
            return 0;
        },
        [&](CallMemo& memo) { return Keep<const char*>::record(kept_text(memo, value.get())); }, NoAdopt());
}

int ask_value_string(tag_t object, const char* property, Text& value) {
    return memo_detail::ask_question<const char*>(
        Question{kValueString, object, property, nullptr, 0},
        [&] { return AOM_ask_value_string(object, property, value.out()); },
        [&](const char* kept) {
            value.lend(kept);
            return 0;
        },
        [&](CallMemo& memo) { return Keep<const char*>::record(kept_text(memo, value.get())); }, NoAdopt());
}

int ask_value_strings(tag_t object, const char* property, Values& values) {
    return memo_detail::ask_question<KeptTexts>(
        Question{kValueStrings, object, property, nullptr, 0},
        [&] { return AOM_ask_value_strings(object, property, values.count_out(), values.values_out()); },
        [&](const KeptTexts& kept) {
            values.lend(kept.texts, kept.count);
            return 0;
        },
        [&](CallMemo& memo) {
            Vector<const char*> read(static_cast<size_t>(values.count() > 0 ? values.count() : 0));
            for (size_t i = 0; i < read.size(); ++i) {
                read[i] = values[static_cast<int>(i)];
            }
            return Keep<KeptTexts>::record(kept_texts(memo, read.data(), values.count()));
        },
        [&](const KeptTexts& kept) {
            if (kept.count > 0) {
                values.lend(kept.texts, kept.count);
            }
        });
}

int ask_named_refs(tag_t dataset, const char* reference, Tags& refs) {
    return memo_detail::ask_question<KeptTags>(
        Question{kNamedRefs, dataset, reference, nullptr, 0},
        [&] { return AE_ask_all_dataset_named_refs(dataset, reference, refs.count_out(), refs.out()); },
        [&](const KeptTags& kept) {
            refs.lend(kept.tags, kept.count, kept.id);
            return 0;
        },
        [&](CallMemo& memo) {
            // A count without its list is no answer to keep.
            return refs.count() == 0 || refs
                       ? Keep<KeptTags>::record(kept_tags(memo, refs.get(), refs.count()))
                       : Keep<KeptTags>::nothing();
        },
        [&](const KeptTags& kept) {
            if (kept.count > 0) {
                refs.lend(kept.tags, kept.count, kept.id);
            }
        });
}

int ask_object_type(tag_t object, tag_t* type) {
    return memo_detail::ask_question<tag_t>(
        Question{kObjectType, object, nullptr, nullptr, 0},
        [&] { return TCTYPE_ask_object_type(object, type); },
        [&](tag_t kept) {
            *type = kept;
            return 0;
        },
        [&](CallMemo&) { return Keep<tag_t>::record(*type); }, NoAdopt());
}

int ask_type_name(tag_t type, char* name) {
    return memo_detail::ask_question<const char*>(
        Question{kTypeName, type, nullptr, nullptr, 0}, [&] { return TCTYPE_ask_name(type, name); },
        [&](const char* kept) {
            std::memcpy(name, kept, std::strlen(kept) + 1);
            return 0;
        },
        [&](CallMemo& memo) {
            char copy[TCTYPE_name_size_c + 1];
            std::memcpy(copy, name, TCTYPE_name_size_c);
            copy[TCTYPE_name_size_c] = '\0';
            return Keep<const char*>::record(kept_text(memo, copy));
        },
        NoAdopt());
}

int ask_relation_type(const char* name, tag_t* relation_type) {
    return memo_detail::ask_question<tag_t>(
        Question{kRelationType, 0, name, nullptr, 0},
        [&] { return GRM_find_relation_type(name, relation_type); },
        [&](tag_t kept) {
            *relation_type = kept;
            return 0;
        },
        [&](CallMemo&) { return Keep<tag_t>::record(*relation_type); }, NoAdopt());
}

void clear_errors() noexcept { (void)EMH_clear_errors(); }

// ---- Answers the rooms above keep ------------------------------------------------------------

namespace memo_detail {

bool find(const CallMemo& memo, const Question& question, Answer* answer) noexcept {
    return memo.find(question, answer);
}

uint64_t new_key(CallMemo& memo, const Question& question) {
    const Key key = memo.new_key(question);
    return static_cast<uint64_t>(key.object) << 32 | key.question;
}

void insert(CallMemo& memo, const Question& question, uint64_t key, Answer answer) {
    memo.table(question.kind)
        .insert(Key{static_cast<uint32_t>(key >> 32), static_cast<uint32_t>(key)}, answer);
}

void* kept_block(CallMemo& memo, size_t bytes, size_t alignment) {
    return memo.arena.allocate(bytes, alignment);
}

Watch watch(const CallMemo& memo) noexcept { return Watch{traced_failures(), memo.refusals}; }

// ---- The decisions of a lookup ----------------------------------------------------------------

void Recording::start(CallMemo& memo) noexcept {
    Observer* const set = observer_slot();
    TapeRecorder* shared = &memo.tape_recorder;
    if (set == shared) {
        recorder_ = shared;  // a question on the way of another: its decisions are the latest taken
    } else if (!shared->open()) {
        recorder_ = shared;
        observer_slot() = shared;
    } else {
        // The recorder is taking, but somebody else listens now (Unheard): a recorder of its own.
        recorder_ = new (std::nothrow) TapeRecorder(memo.arena);
        if (recorder_ == nullptr) {
            return;
        }
        owned_ = true;
        observer_slot() = recorder_;
    }
    recorder_->enter(set);
    start_ = recorder_->notes().size();
    failures_ = recorder_->failures();
}

void Recording::stop() noexcept {
    if (recorder_ != nullptr && recorder_->leave() == 0) {
        observer_slot() = recorder_->outer();
        if (owned_) {
            delete recorder_;
        }
    }
}

void Recording::keep_tape(CallMemo& memo, const Question& question, uint64_t key) {
    if (recorder_ == nullptr || recorder_->failures() != failures_) {
        throw std::bad_alloc();  // what was told is not known whole: the answer is not kept
    }
    const Vector<Note>& notes = recorder_->notes();
    if (notes.size() == start_) {
        return;
    }
    Tape* tape = memo.arena.allocate<Tape>(1);
    tape->notes = memo.arena.copy(notes.data() + start_, static_cast<int>(notes.size() - start_));
    tape->count = notes.size() - start_;
    memo.tape_table(question.kind)
        .insert(Key{static_cast<uint32_t>(key >> 32), static_cast<uint32_t>(key)}, record_answer(tape));
    ++memo.taped[question.kind];
}

namespace {

// Tells the observer again what it was told while the answer kept under `key` was asked.
void retell_key(const CallMemo& memo, uint32_t kind, const Key& key) noexcept {
    Answer kept{};
    // Most questions of a kind tell nothing while they are asked: none of them has a tape to look for.
    if (memo.taped[kind] == 0 || !memo.tape_table(kind).find(key, &kept)) {
        return;
    }
    Observer* o = observer();
    const Tape* tape = static_cast<const Tape*>(kept.record);
    if (o == &memo.tape_recorder) {
        for (size_t i = 0; i < tape->count; ++i) {
            memo.tape_recorder.retold(tape->notes[i]);
        }
        return;
    }
    for (size_t i = 0; o != nullptr && i < tape->count; ++i) {
        o->note(tape->notes[i]);
    }
}

}  // namespace

void retell_kept(const CallMemo& memo, const Question& question) noexcept {
    Key key{0, 0};
    if (memo.key(question, &key)) {
        retell_key(memo, question.kind, key);
    }
}

bool find_retold(const CallMemo& memo, const Question& question, Answer* answer) noexcept {
    Key key{0, 0};
    if (!memo.key(question, &key) || !memo.table(question.kind).find(key, answer)) {
        return false;
    }
    if (observer() != nullptr) {
        retell_key(memo, question.kind, key);
    }
    return true;
}

}  // namespace memo_detail

const char* kept_text(CallMemo& memo, const char* text) { return memo.arena.text(text); }

KeptTags kept_tags(CallMemo& memo, const tag_t* tags, int count) { return memo.tags(tags, count); }

KeptTexts kept_texts(CallMemo& memo, const char* const* texts, int count) { return memo.texts(texts, count); }

// ---- Looking without asking -------------------------------------------------------------------

bool known_attribute_id(const CallMemo& memo, const char* name, int* attribute) {
    Answer kept{};
    if (!memo.find(Question{kAttributeId, 0, name, nullptr, 0}, &kept)) {
        return false;
    }
    *attribute = memo_detail::Stored<int>::load(kept);
    return true;
}

bool known_line_tag(const CallMemo& memo, tag_t line, int attribute, tag_t* value) {
    Answer kept{};
    if (!memo.find(Question{kLineTag, line, nullptr, nullptr, attribute}, &kept)) {
        return false;
    }
    *value = memo_detail::Stored<tag_t>::load(kept);
    return true;
}

bool known_line_string(const CallMemo& memo, tag_t line, int attribute, const char** value) {
    Answer kept{};
    if (!memo.find(Question{kLineString, line, nullptr, nullptr, attribute}, &kept)) {
        return false;
    }
    *value = memo_detail::Stored<const char*>::load(kept);
    return true;
}

bool known_value_string(const CallMemo& memo, tag_t object, const char* property, const char** value) {
    Answer kept{};
    if (!memo.find(Question{kValueString, object, property, nullptr, 0}, &kept)) {
        return false;
    }
    *value = memo_detail::Stored<const char*>::load(kept);
    return true;
}

bool kept_with_decisions(const CallMemo& memo, TopicId topic) noexcept {
    return memo.taped[kFirstTopic + static_cast<uint32_t>(topic)] != 0;
}

}  // namespace kep
