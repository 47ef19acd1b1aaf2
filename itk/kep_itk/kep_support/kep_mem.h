/*
 * Owners of platform memory. Whatever the platform (or an extension function) hands out as a
 * MEM_alloc block goes into one of these; the destructor releases it with MEM_free on every
 * way out (a null pointer is not handed to MEM_free). release() hands ownership on.
 *
 *   MemPtr<T>      one block (a text, an array of tags, a record).
 *   StringList     an array whose texts are separate blocks (AOM_ask_value_strings): each text,
 *                  then the array.
 * A list of texts that is one block (PREF_ask_char_values, AOM_ask_prop_names) is a MemPtr<char*>.
 */
#ifndef KEP_MEM_H
#define KEP_MEM_H

#include <climits>
#include <cstddef>

#include "kep_platform.h"

namespace kep {

// MEM_free of a block that may be null; a null pointer costs no platform call.
inline void mem_free(void* p) noexcept {
    if (p != nullptr) {
        MEM_free(p);
    }
}

template <class T>
class MemPtr {
public:
    MemPtr() noexcept = default;
    explicit MemPtr(T* p) noexcept : p_(p) {}
    ~MemPtr() { mem_free(p_); }
    MemPtr(const MemPtr&) = delete;
    MemPtr& operator=(const MemPtr&) = delete;
    MemPtr(MemPtr&& other) noexcept : p_(other.release()) {}
    MemPtr& operator=(MemPtr&& other) noexcept {
        reset(other.release());
        return *this;
    }

    T* get() const noexcept { return p_; }
    T& operator[](int i) const noexcept { return p_[i]; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    // Slot for an out-parameter; frees what is held first.
    T** out() noexcept {
        reset();
        return &p_;
    }
    T* release() noexcept {
        T* p = p_;
        p_ = nullptr;
        return p;
    }
    void reset(T* p = nullptr) noexcept {
        if (p_ != p) {
            mem_free(p_);
        }
        p_ = p;
    }

private:
    T* p_ = nullptr;
};

// Allocates a block for n records of T (n may be 0 or below; the block then holds nothing). Null,
// without asking the platform, when the size does not fit the allocator's int.
template <class T>
T* mem_alloc_array(int n) noexcept {
    const size_t count = n > 0 ? static_cast<size_t>(n) : 0;
    if (count > static_cast<size_t>(INT_MAX) / sizeof(T)) {
        return nullptr;
    }
    return static_cast<T*>(MEM_alloc(static_cast<int>(sizeof(T) * count)));
}

class StringList {
public:
    StringList() noexcept = default;
    ~StringList() { reset(); }
    StringList(const StringList&) = delete;
    StringList& operator=(const StringList&) = delete;

    int count() const noexcept { return count_; }
    char* operator[](int i) const noexcept { return values_[i]; }
    int* count_out() noexcept { return &count_; }
    char*** values_out() noexcept {
        reset();
        return &values_;
    }
    void reset() noexcept {
        if (values_ != nullptr) {
            for (int i = 0; i < count_; ++i) {
                MEM_free(values_[i]);
            }
            MEM_free(values_);
        }
        values_ = nullptr;
        count_ = 0;
    }

private:
    char** values_ = nullptr;
    int count_ = 0;
};

}  // namespace kep

#endif
