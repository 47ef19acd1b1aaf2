// A flat table from 64-bit keys to 32-bit values, for the lookups made on every dispatched property
// read (the property tag of an object's property): one probe sequence in one array, where a
// node-based map reaches each entry through a second cache miss. Entries are only ever added
// (until clear()).
#ifndef STANDIN_KEY_TABLE_H
#define STANDIN_KEY_TABLE_H

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace standin::detail {

class KeyTable {
public:
    static constexpr uint64_t kEmptyKey = ~uint64_t{0};  // the one key that cannot be stored

    // The value stored under key; `absent` when there is none.
    uint32_t find(uint64_t key, uint32_t absent) const {
        if (slots_.empty()) {
            return absent;
        }
        for (size_t i = home(key);; i = next(i)) {
            if (slots_[i].first == key) {
                return slots_[i].second;
            }
            if (slots_[i].first == kEmptyKey) {
                return absent;
            }
        }
    }

    // Stores value under key (replacing what was there).
    void insert(uint64_t key, uint32_t value) {
        if ((size_ + 1) * 4 > slots_.size() * 3) {  // at most three quarters full
            grow();
        }
        for (size_t i = home(key);; i = next(i)) {
            if (slots_[i].first == key) {
                slots_[i].second = value;
                return;
            }
            if (slots_[i].first == kEmptyKey) {
                slots_[i] = {key, value};
                ++size_;
                return;
            }
        }
    }

    size_t size() const { return size_; }

    void clear() {
        std::vector<std::pair<uint64_t, uint32_t>>().swap(slots_);
        size_ = 0;
    }

private:
    // Keys are (object << 32 | name). Eight neighbouring objects share a group of eight slots, one
    // each, chosen at random by the rest of the object and the name: an object's tag follows the
    // structure, so the reads of one walk find their entries side by side.
    size_t home(uint64_t key) const {
        const uint64_t object = key >> 32;
        const uint64_t group = ((key >> 35) << 32 | (key & 0xFFFFFFFFu)) * 0x9E3779B97F4A7C15ull;
        return (static_cast<size_t>(group >> shift_) & ~size_t{7}) | static_cast<size_t>(object & 7);
    }
    size_t next(size_t i) const { return (i + 1) & (slots_.size() - 1); }

    void grow() {
        std::vector<std::pair<uint64_t, uint32_t>> old(slots_.empty() ? 64 : slots_.size() * 2,
                                                       {kEmptyKey, 0});
        old.swap(slots_);
        shift_ = 64;
        for (size_t c = slots_.size(); c > 1; c >>= 1) {
            --shift_;
        }
        size_ = 0;
        for (const auto& entry : old) {
            if (entry.first != kEmptyKey) {
                insert(entry.first, entry.second);
            }
        }
    }

    std::vector<std::pair<uint64_t, uint32_t>> slots_;  // the size is a power of two
    size_t size_ = 0;
    unsigned shift_ = 64;
};

}  // namespace standin::detail

#endif
