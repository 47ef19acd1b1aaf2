// Pooled MEM_alloc blocks, for builds that measure speed.
//
// A search over a structure of a million lines makes some twenty small MEM_alloc blocks per line
// and keeps two of them live until it ends. Served by the C library's allocator, the cost of each
// block grows with the heap those two million live blocks fragment; a platform's own allocator
// serves such blocks from pools. This one does the same: sizes up to kLargest bytes in classes of
// kGranule bytes, each class cutting its blocks from slabs of kSlabBytes aligned to their size,
// freed blocks reused last in, first out. A block is known by its address alone: the slab from the
// address's high bits (a small table of slab bases), the block from the offset, its state from a
// bit per block. So a free of a pointer that is no block (never ours, interior, freed already) is
// recognised without reading the memory it points to, as with the tracked allocator.
//
// What the pool does not do is report an overrun of a block: the sanitizer and Valgrind builds
// keep the C library's allocator, which they instrument.
#ifndef STANDIN_BLOCK_POOL_H
#define STANDIN_BLOCK_POOL_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#if defined(_WIN32)
#include <malloc.h>
#endif

namespace standin::detail {

class BlockPool {
public:
    static constexpr size_t kGranule = 16;
    static constexpr size_t kLargest = 512;
    static constexpr size_t kSlabBytes = size_t{1} << 18;

    enum class Release { Freed, NotABlock, NotPooled };

    BlockPool() = default;
    ~BlockPool() { clear(); }
    BlockPool(const BlockPool&) = delete;
    BlockPool& operator=(const BlockPool&) = delete;

    // A block of at least n bytes (n <= kLargest; 0 gives a block of its own too), aligned to
    // kGranule. Throws std::bad_alloc when no slab can be had.
    void* allocate(size_t n) {
        const size_t cls = n == 0 ? 0 : (n - 1) / kGranule;
        Class& c = classes_[cls];
        void* p = nullptr;
        if (!c.free.empty()) {
            p = c.free.back();
            c.free.pop_back();
            Slab* s = slab_of(p);
            s->set_live_bit((reinterpret_cast<uintptr_t>(p) - s->base) / block_size(cls), true);
        } else {
            if (c.current < 0 || slabs_[static_cast<size_t>(c.current)].carved == blocks_per_slab(cls)) {
                c.current = static_cast<long>(new_slab(cls));
            }
            Slab& s = slabs_[static_cast<size_t>(c.current)];
            p = reinterpret_cast<void*>(s.base + s.carved * block_size(cls));
            s.set_live_bit(s.carved, true);  // the slab is known: no lookup
            ++s.carved;
        }
        ++live_;
        return p;
    }

    // Frees p when it is a live block of the pool. NotABlock: p lies in a slab but is no live
    // block (freed already, or inside a block); NotPooled: p lies in no slab.
    Release release(void* p) {
        Slab* s = slab_of(p);
        if (s == nullptr) {
            return Release::NotPooled;
        }
        const size_t size = block_size(s->cls);
        const size_t offset = reinterpret_cast<uintptr_t>(p) - s->base;
        const size_t index = offset / size;
        if (offset % size != 0 || index >= s->carved || !s->live_bit(index)) {
            return Release::NotABlock;
        }
        classes_[s->cls].free.push_back(p);  // may throw: the block then stays live
        s->set_live_bit(index, false);
        --live_;
        return Release::Freed;
    }

    size_t live() const { return live_; }

    // Gives every slab back; every block becomes invalid.
    void clear() {
        for (Slab& s : slabs_) {
            free_slab(reinterpret_cast<void*>(s.base));
        }
        slabs_.clear();
        index_.clear();
        index_shift_ = 64;
        for (Class& c : classes_) {
            c = Class();
        }
        live_ = 0;
    }

private:
    static constexpr size_t kClassCount = kLargest / kGranule;
    static constexpr size_t kNoSlab = ~size_t{0};

    struct Slab {
        uintptr_t base;
        size_t cls;
        size_t carved;               // blocks handed out at least once, from the start
        std::vector<uint64_t> live;  // a bit per block

        bool live_bit(size_t i) const { return ((live[i / 64] >> (i % 64)) & 1u) != 0; }
        void set_live_bit(size_t i, bool on) {
            if (on) {
                live[i / 64] |= uint64_t{1} << (i % 64);
            } else {
                live[i / 64] &= ~(uint64_t{1} << (i % 64));
            }
        }
    };
    struct Class {
        std::vector<void*> free;  // freed blocks, the last freed on top
        long current = -1;        // the slab blocks are cut from
    };

    // Slabs are aligned to their size (a block's slab is found by masking its address). Windows's
    // C library has no aligned_alloc; its own pair is used there.
    static void* allocate_slab() {
#if defined(_WIN32)
        return _aligned_malloc(kSlabBytes, kSlabBytes);
#else
        return std::aligned_alloc(kSlabBytes, kSlabBytes);
#endif
    }
    static void free_slab(void* base) {
#if defined(_WIN32)
        _aligned_free(base);
#else
        std::free(base);
#endif
    }

    static size_t block_size(size_t cls) { return (cls + 1) * kGranule; }
    static size_t blocks_per_slab(size_t cls) { return kSlabBytes / block_size(cls); }

    size_t new_slab(size_t cls) {
        void* base = allocate_slab();
        if (base == nullptr) {
            throw std::bad_alloc();
        }
        Slab s{reinterpret_cast<uintptr_t>(base), cls, 0, {}};
        try {
            s.live.assign((blocks_per_slab(cls) + 63) / 64, 0);
            if ((slabs_.size() + 1) * 2 > index_.size()) {
                grow_index();
            }
            slabs_.push_back(std::move(s));
        } catch (...) {
            free_slab(base);
            throw;
        }
        place(slabs_.size() - 1);
        return slabs_.size() - 1;
    }

    // The slab table: open addressing over slab bases, holding indices into slabs_.
    size_t home(uintptr_t base) const {
        return static_cast<size_t>((static_cast<uint64_t>(base / kSlabBytes) * 0x9E3779B97F4A7C15ull) >>
                                   index_shift_);
    }

    // Doubles the table and places the slabs there are.
    void grow_index() {
        const size_t capacity = index_.empty() ? 64 : index_.size() * 2;
        std::vector<size_t> bigger(capacity, kNoSlab);
        index_.swap(bigger);
        index_shift_ = 64;
        for (size_t c = capacity; c > 1; c >>= 1) {
            --index_shift_;
        }
        for (size_t k = 0; k < slabs_.size(); ++k) {
            place(k);
        }
    }

    void place(size_t slab) {
        size_t i = home(slabs_[slab].base);
        while (index_[i] != kNoSlab) {
            i = (i + 1) & (index_.size() - 1);
        }
        index_[i] = slab;
    }

    Slab* slab_of(void* p) {
        if (index_.empty()) {
            return nullptr;
        }
        const uintptr_t base = reinterpret_cast<uintptr_t>(p) & ~static_cast<uintptr_t>(kSlabBytes - 1);
        for (size_t i = home(base); index_[i] != kNoSlab; i = (i + 1) & (index_.size() - 1)) {
            if (slabs_[index_[i]].base == base) {
                return &slabs_[index_[i]];
            }
        }
        return nullptr;
    }

    std::vector<Slab> slabs_;
    std::vector<size_t> index_;  // kNoSlab marks an empty place; the size is a power of two
    unsigned index_shift_ = 64;
    Class classes_[kClassCount];
    size_t live_ = 0;
};

}  // namespace standin::detail

#endif
