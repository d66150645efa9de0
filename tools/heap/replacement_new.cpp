// The replacement global operator new and operator delete, over the
// program's Allocate (heap.h).
//
// Linked as an object into each program that uses it, never from a static
// archive: a replacement operator new in an archive member is only linked
// when something else in that member is referred to. Everything here has
// default visibility, so that a program linked with its symbols exported
// also answers the operator new calls of the shared libraries it loads, and
// so that a sanitizer runtime finds it.
//
// The nothrow forms are weak only where VELORA_HEAP_WEAK_NOTHROW is defined
// (the target velora_heap_weak_nothrow): a test program may then replace them
// with its own, one that fails on request. Everywhere else they must be
// strong: a sanitizer runtime linked statically into the program (clang's)
// brings weak definitions of its own, and one of those would be taken
// instead, allocating behind Allocate's back.
#include "heap/heap.h"

#include <cstddef>
#include <cstdlib>
#include <new>

namespace velora::heap {

void* SystemAllocate(std::size_t size, std::size_t alignment) noexcept
{
    if (alignment <= alignof(std::max_align_t)) {
        return std::malloc(size);
    }
    // aligned_alloc wants a whole number of alignments.
    if (size > static_cast<std::size_t>(-1) - (alignment - 1)) {
        return nullptr;
    }
    return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
}

}  // namespace velora::heap

#ifdef VELORA_HEAP_WEAK_NOTHROW
#define VELORA_HEAP_NOTHROW_LINKAGE __attribute__((weak))
#else
#define VELORA_HEAP_NOTHROW_LINKAGE
#endif

namespace {

void* Request(std::size_t size, std::size_t alignment) noexcept
{
    return velora::heap::Allocate(size ? size : 1, alignment);
}

void* RequestOrThrow(std::size_t size, std::size_t alignment)
{
    if (void* memory = Request(size, alignment)) {
        return memory;
    }
    throw std::bad_alloc();
}

std::size_t Alignment(std::align_val_t alignment) { return static_cast<std::size_t>(alignment); }

}  // namespace

#pragma GCC visibility push(default)

void* operator new(std::size_t size) { return RequestOrThrow(size, 0); }
void* operator new[](std::size_t size) { return RequestOrThrow(size, 0); }
VELORA_HEAP_NOTHROW_LINKAGE void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return Request(size, 0);
}
VELORA_HEAP_NOTHROW_LINKAGE void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return Request(size, 0);
}
void* operator new(std::size_t size, std::align_val_t a) { return RequestOrThrow(size, Alignment(a)); }
void* operator new[](std::size_t size, std::align_val_t a) { return RequestOrThrow(size, Alignment(a)); }
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return Request(size, Alignment(a));
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return Request(size, Alignment(a));
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete(void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::align_val_t, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept { std::free(memory); }

#pragma GCC visibility pop
