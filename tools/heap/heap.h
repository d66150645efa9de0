// The allocator seam of a program that replaces the global operator new and
// operator delete (replacement_new.cpp): every form of operator new, plain,
// array, nothrow and aligned, allocates through Allocate, and every operator
// delete frees with std::free.
//
// The program defines Allocate itself, once, and decides there what an
// allocation does: count it, refuse it, or just take it from the system
// (SystemAllocate). The throwing forms of operator new turn its null into
// std::bad_alloc; the nothrow forms hand the null back.
//
// Programs link the object library velora_heap; a test program that defines
// its own nothrow forms links velora_heap_weak_nothrow, whose nothrow forms
// give way to those.
#pragma once

#include <cstddef>

namespace velora::heap {

// Memory for size bytes (never 0: a request for none asks for one), aligned
// to alignment when that is above the fundamental alignment (0 otherwise);
// null when it cannot be had. Must free with std::free. Defined by the
// program that links the replacement.
void* Allocate(std::size_t size, std::size_t alignment) noexcept;

// The same request answered by the C library (malloc, or aligned_alloc for a
// larger alignment): what Allocate does once it has decided to allocate.
void* SystemAllocate(std::size_t size, std::size_t alignment) noexcept;

}  // namespace velora::heap
