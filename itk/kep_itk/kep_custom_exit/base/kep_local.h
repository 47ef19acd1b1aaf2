// The allocator of the standard containers the extension instantiates for itself. The standard
// headers give their templates default visibility, which the library's hidden default does not
// reach; a container whose allocator is a type of the library's own is hidden with it, so none of
// the standard library's code made for it is exported from the library.
#ifndef KEP_LOCAL_H
#define KEP_LOCAL_H

#include <memory>

namespace kep {

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

}  // namespace kep

#endif
