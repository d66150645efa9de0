// Linked into the test programs of a sanitized build only, with the shared
// replacement operator new (heap/heap.h).
//
// AddressSanitizer's operator new ends the process with a report when it
// cannot satisfy a request, instead of throwing std::bad_alloc as the
// runtime's allocator does. The plug-in relies on that throw: a Start for
// more particles than memory holds must fail cleanly. So these programs
// allocate through malloc, which the sanitizer still watches and which,
// with allocator_may_return_null, answers a request it cannot satisfy with
// null; the replacement operator new turns that null into std::bad_alloc.
// Everything here has default visibility: the sanitizer runtime must find it.
#include <cstddef>

#include "heap/heap.h"

#pragma GCC visibility push(default)

extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

#pragma GCC visibility pop

void* velora::heap::Allocate(std::size_t size, std::size_t alignment) noexcept
{
    return SystemAllocate(size, alignment);
}
