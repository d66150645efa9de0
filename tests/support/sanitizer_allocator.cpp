// Linked into the test programs of a sanitized build only.
//
// AddressSanitizer's operator new ends the process with a report when it
// cannot satisfy a request, instead of throwing std::bad_alloc as the
// runtime's allocator does. The plug-in relies on that throw: a Start for
// more particles than memory holds must fail cleanly. So these programs
// allocate through malloc, which the sanitizer still watches and which,
// with allocator_may_return_null, answers a request it cannot satisfy with
// null; operator new turns that null into std::bad_alloc. The nothrow forms
// are weak so that a test may replace them. Everything here has default
// visibility: the sanitizer runtime and the C++ runtime must find it.
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

void* AllocateOrThrow(std::size_t size)
{
    if (void* memory = std::malloc(size ? size : 1)) {
        return memory;
    }
    throw std::bad_alloc();
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) noexcept
{
    const auto align = static_cast<std::size_t>(alignment);
    return std::aligned_alloc(align, (size + align - 1) / align * align);
}

void* AllocateAlignedOrThrow(std::size_t size, std::align_val_t alignment)
{
    if (void* memory = AllocateAligned(size, alignment)) {
        return memory;
    }
    throw std::bad_alloc();
}

}  // namespace

#pragma GCC visibility push(default)

extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
__attribute__((weak)) void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return std::malloc(size ? size : 1);
}
__attribute__((weak)) void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return std::malloc(size ? size : 1);
}
void* operator new(std::size_t size, std::align_val_t a) { return AllocateAlignedOrThrow(size, a); }
void* operator new[](std::size_t size, std::align_val_t a) { return AllocateAlignedOrThrow(size, a); }
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return AllocateAligned(size, a);
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return AllocateAligned(size, a);
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
