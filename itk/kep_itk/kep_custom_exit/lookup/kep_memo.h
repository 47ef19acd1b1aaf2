/*
 * Answers of the platform for the length of one call.
 *
 * Within one service call or one read of a line property nothing the extension asks about
 * changes, so a question needs the platform only once. While nothing can be written (the console,
 * system log and statement trace switches all off), the entry points open a CallScope, and the
 * functions below answer a question asked before in the same call from what the scope kept. With
 * any switch on, or when no scope is open, each of them is exactly the platform call or the
 * extension function it stands for, so that the trace shows every call as it is made. Nothing is
 * kept once the outermost scope of the thread closes: a changed preference takes effect at the
 * next call.
 *
 * Only successful answers are kept; a question whose first asking failed is asked again. Lists
 * and texts come back in holders (Text, Tags, TextList, Values) that either own a MEM_alloc block
 * of the platform or borrow the kept answer, which stays valid until the scope closes; either way
 * the holder is read the same. The functions return the status of the call they stand for.
 */
#ifndef KEP_MEMO_H
#define KEP_MEMO_H

#include "kep_mem.h"
#include "kep_platform.h"

namespace kep {

class CallMemo;

// Opened at the entry of every service and line property method. Opens the thread's memo when
// none is open, every switch is off and the literal path is not forced; an inner scope uses the
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
// call: the answers about the line itself (its attributes, host chain and mod-on lookups) are
// dropped, so that a search of a million lines keeps those of the lines being walked only. The
// answers about its revision, datasets and forms stay: other lines may share them.
void forget_line(tag_t line) noexcept;

// For tests and benchmarks: with true, scopes open no memo, so the literal path runs with the
// switches off as well. Takes effect for scopes opened afterwards.
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
// EMH_clear_errors, left out while the stack is known to be empty: cleared in this call and no
// traced call has failed since.
void clear_errors() noexcept;

// ---- Extension lookups ----------------------------------------------------------------------
// Each stands for the function named, with the same statuses and the same error-stack state.

// kep_get_preference.
int ask_preference(const char* key, Text& value);
// kep_get_preference_list.
int ask_preference_list(const char* key, TextList& values);
// kep_get_datasets.
int ask_datasets(tag_t object, const char* relation, Tags& datasets);
// kep_filter_datasets (the result is kept when the input list is a kept one).
int ask_filtered(const Tags& datasets, const char* type_name, Tags& filtered);
// kep_get_modon_for_bomline.
int ask_modon(tag_t line, const char* relation, const char* type, tag_t* host, Tags& datasets);

// kep_get_bbox_for_dataset (a box handed out is a new MEM_alloc block, as there).
int ask_bbox_for_dataset(tag_t dataset, MemPtr<struct kep_bbox_s>& box);
// kep_is_visu_dataset.
int ask_is_visu_dataset(tag_t dataset, int* is_visu);

// ---- The host walk's view of the lines above a line ----------------------------------------------
// What the walk from any line below `line` asks of `line` and the lines above it, kept once per
// call for each relation and dataset type: each line's item id and the names of its mod-on
// candidates (the datasets of that type related to its revision), and the nearest line above
// that has candidates. Building it asks exactly the walk's questions of each line (item id,
// revision, related objects and their filter, candidate names, the line's occurrence name when it
// has a parent, its parent), each once per call.
struct HostChain {
    const char* item_id;       // null when the line has none
    const char* const* names;  // the candidates' names, null entries included
    int name_count;
    const HostChain* above;  // the nearest line above with candidates, or null
};
// The chain of `line`; null without a memo or when a question failed (the failure was noted, so
// the error stack is cleared later).
const HostChain* ask_host_chain(tag_t line, const char* relation, const char* type);

// ---- Looking without asking -------------------------------------------------------------------
// What the memo already knows, asking the platform nothing: each is false (and leaves its outputs
// alone) when the answer has not been asked for in this call.
bool known_attribute_id(const CallMemo& memo, const char* name, int* attribute);
bool known_line_tag(const CallMemo& memo, tag_t line, int attribute, tag_t* value);
bool known_line_string(const CallMemo& memo, tag_t line, int attribute, const char** value);
bool known_value_string(const CallMemo& memo, tag_t object, const char* property, const char** value);

}  // namespace kep

#endif
