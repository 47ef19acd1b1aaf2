// The set of live MEM_alloc blocks.
//
// Every MEM_alloc and every MEM_free of a block looks its pointer up here, and a search over a
// structure of a million lines keeps some two million records live at once, so the set is a flat
// open-addressing table: one probe sequence in one array, no allocation per entry (a node-based
// hash map allocates and frees a node per block and reaches it through a second cache miss).
// Linear probing; erase shifts the following entries back, so there are no tombstones and a lookup
// stops at the first empty slot.
#ifndef STANDIN_BLOCK_SET_H
#define STANDIN_BLOCK_SET_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace standin::detail {

class BlockSet {
public:
    // Adds p (never null). Adding a pointer already present changes nothing.
    void insert(void* p) {
        if ((size_ + 1) * 2 > slots_.size()) {
            grow();
        }
        const uintptr_t key = reinterpret_cast<uintptr_t>(p);
        for (size_t i = home(key);; i = next(i)) {
            if (slots_[i] == 0) {
                slots_[i] = key;
                ++size_;
                return;
            }
            if (slots_[i] == key) {
                return;
            }
        }
    }

    // Removes p; false when p is not in the set (null included).
    bool erase(void* p) {
        const uintptr_t key = reinterpret_cast<uintptr_t>(p);
        if (key == 0 || size_ == 0) {
            return false;
        }
        size_t i = home(key);
        while (slots_[i] != key) {
            if (slots_[i] == 0) {
                return false;
            }
            i = next(i);
        }
        // Close the gap: move back every later entry of the run whose home is not between the gap
        // and its own slot (cyclically), so that each stays reachable from its home.
        size_t gap = i;
        for (size_t j = next(i); slots_[j] != 0; j = next(j)) {
            const size_t h = home(slots_[j]);
            const bool stays = gap <= j ? (gap < h && h <= j) : (gap < h || h <= j);
            if (!stays) {
                slots_[gap] = slots_[j];
                gap = j;
            }
        }
        slots_[gap] = 0;
        --size_;
        return true;
    }

    size_t size() const { return size_; }

    // Calls fn(void*) for every pointer in the set, in no particular order.
    template <typename Fn>
    void for_each(Fn fn) const {
        for (uintptr_t key : slots_) {
            if (key != 0) {
                fn(reinterpret_cast<void*>(key));
            }
        }
    }

    // Empties the set and gives its memory back.
    void clear() {
        std::vector<uintptr_t>().swap(slots_);
        size_ = 0;
    }

private:
    size_t home(uintptr_t key) const {
        // Fibonacci hashing of the address; the low bits are alignment and carry nothing.
        return static_cast<size_t>((static_cast<uint64_t>(key >> 4) * 0x9E3779B97F4A7C15ull) >> shift_);
    }
    size_t next(size_t i) const { return (i + 1) & (slots_.size() - 1); }

    void grow() {
        std::vector<uintptr_t> old;
        old.swap(slots_);
        const size_t capacity = old.empty() ? 64 : old.size() * 2;
        slots_.assign(capacity, 0);
        shift_ = 64;
        for (size_t c = capacity; c > 1; c >>= 1) {
            --shift_;
        }
        size_ = 0;
        for (uintptr_t key : old) {
            if (key != 0) {
                insert(reinterpret_cast<void*>(key));
            }
        }
    }

    std::vector<uintptr_t> slots_;  // 0 marks an empty slot; the size is a power of two
    size_t size_ = 0;
    unsigned shift_ = 64;
};

}  // namespace standin::detail

#endif
