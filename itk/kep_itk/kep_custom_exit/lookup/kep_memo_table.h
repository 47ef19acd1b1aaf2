// The parts of the call memo that know nothing of questions: the table of answers (16-byte
// entries), the blocks that keep texts, lists and records, and the names questions are asked under.
// Only lookup/kep_memo.cpp uses them.
//
// Every answer is one 64-bit value (Answer of kep_memo.h: a number, or the address of a kept record)
// in a flat table (open addressing), keyed by the object asked about and the question. Texts, lists and
// records live in blocks that never move, so that whatever is lent out stays where it is while more answers
// are added, and a search of a million lines makes a few thousand allocations for its answers, not one per
// answer. Names are kept once and known by a number. Whatever adds may throw when memory runs out; the memo
// guards every addition.
#ifndef KEP_MEMO_TABLE_H
#define KEP_MEMO_TABLE_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "base/kep_local.h"
#include "lookup/kep_memo.h"

namespace kep {
namespace memo_detail {

// Every container of the memo has the library's own allocator, so that none of the standard
// library's code made for it is exported from the library.
template <class T>
using Vector = std::vector<T, LocalAllocator<T>>;

// Blocks of memory that never move; everything in them lives until the memo goes.
class Arena {
public:
    // Room for `bytes` at `alignment` (a power of two); throws when no memory is left.
    void* allocate(size_t bytes, size_t alignment) {
        size_t offset = (used_ + alignment - 1) & ~(alignment - 1);
        if (blocks_.empty() || offset + bytes > size_) {
            const size_t block = bytes > kBlock ? bytes : kBlock;
            blocks_.emplace_back(new char[block]);
            size_ = block;
            offset = 0;
        }
        used_ = offset + bytes;
        return blocks_.back().get() + offset;
    }
    // Room for n plain records of T.
    template <class T>
    T* allocate(size_t n) {
        return static_cast<T*>(allocate(n * sizeof(T), alignof(T)));
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

// The decisions an observer was told while a question was asked, kept with its answer.
struct Tape {
    const Note* notes;
    size_t count;
};
// A copy of a decision whose texts, lists and values are copies in the arena; throws when no
// memory is left (kep_memo_tape.cpp).
Note kept_note(Arena& arena, const Note& note);

// Takes every decision told while questions are asked, keeps a copy in the memo's blocks and
// passes it on to the observer that was set before. One recorder serves a question and every
// question asked on its way: each Recording marks where its decisions start, and its tape is what
// was taken from there on, so that a decision is copied once however deep it is told.
class TapeRecorder : public Observer {
public:
    explicit TapeRecorder(Arena& arena) noexcept : arena_(arena) {}
    void note(const Note& n) noexcept override {
        try {
            notes_.push_back(kept_note(arena_, n));
        } catch (...) {
            ++failures_;
        }
        outer_->note(n);
    }
    // A decision of a tape, whose texts, lists and values are already kept for the call.
    void retold(const Note& kept) noexcept {
        try {
            notes_.push_back(kept);
        } catch (...) {
            ++failures_;
        }
        outer_->note(kept);
    }
    // A Recording starts taking (or stops, when leave() is 0 and the recorder may be left).
    void enter(Observer* outer) noexcept {
        if (depth_++ == 0) {
            outer_ = outer;
        }
    }
    unsigned leave() noexcept {
        if (--depth_ == 0) {
            notes_.clear();
        }
        return depth_;
    }
    bool open() const noexcept { return depth_ != 0; }
    Observer* outer() const noexcept { return outer_; }
    unsigned long failures() const noexcept { return failures_; }
    const Vector<Note>& notes() const noexcept { return notes_; }

private:
    Arena& arena_;
    Observer* outer_ = nullptr;
    unsigned depth_ = 0;
    Vector<Note> notes_;
    unsigned long failures_ = 0;
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
    bool find(const Key& key, Answer* value) const noexcept {
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
    void insert(const Key& key, Answer value) {
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
        Answer value;
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
        slots_[i] = Slot{0, number_answer(0)};
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
        Vector<Slot> fresh(capacity, Slot{0, number_answer(0)});
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

}  // namespace memo_detail
}  // namespace kep

#endif
