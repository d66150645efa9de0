// The replacement operator new over a program's own Allocate: this program's
// Allocate records what it was asked and refuses on request.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "heap/heap.h"

namespace {
bool refuse = false;
std::size_t askedSize = 0;
std::size_t askedAlignment = 0;
}  // namespace

void* velora::heap::Allocate(std::size_t size, std::size_t alignment) noexcept
{
    askedSize = size;
    askedAlignment = alignment;
    return refuse ? nullptr : SystemAllocate(size, alignment);
}

namespace {

constexpr std::align_val_t kWide{256};

class Refusal {
public:
    Refusal() { refuse = true; }
    ~Refusal() { refuse = false; }
    Refusal(const Refusal&) = delete;
    Refusal& operator=(const Refusal&) = delete;
};

TEST(ReplacementNew, EveryFormAsksAllocateForTheSizeAndAlignment)
{
    void* plain = ::operator new(24);
    EXPECT_EQ(askedSize, 24u);
    EXPECT_EQ(askedAlignment, 0u);
    ::operator delete(plain);

    void* none = ::operator new[](0, std::nothrow);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(askedSize, 1u);  // a request for nothing still gets its own address
    ::operator delete[](none);

    void* wide = ::operator new(0, kWide);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(askedSize, 1u);
    EXPECT_EQ(askedAlignment, 256u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(wide) % 256u, 0u);
    ::operator delete(wide, kWide);
}

TEST(ReplacementNew, ARefusalThrowsFromTheThrowingFormsAndIsNullFromTheNothrowForms)
{
    Refusal refusal;
    EXPECT_THROW(::operator delete(::operator new(16)), std::bad_alloc);
    EXPECT_THROW(::operator delete[](::operator new[](16)), std::bad_alloc);
    EXPECT_THROW(::operator delete(::operator new(16, kWide), kWide), std::bad_alloc);
    EXPECT_THROW(::operator delete[](::operator new[](16, kWide), kWide), std::bad_alloc);
    EXPECT_EQ(::operator new(16, std::nothrow), nullptr);
    EXPECT_EQ(::operator new[](16, std::nothrow), nullptr);
    EXPECT_EQ(::operator new(16, kWide, std::nothrow), nullptr);
    EXPECT_EQ(::operator new[](16, kWide, std::nothrow), nullptr);
}

TEST(ReplacementNew, AnAlignedRequestTooLargeToRoundUpIsRefused)
{
    // Rounded up to whole alignments the size would wrap round to nothing.
    // (Read at run time: the compiler refuses to see such a request made.)
    volatile std::size_t asked = static_cast<std::size_t>(-1) - 10;
    const std::size_t huge = asked;
    EXPECT_EQ(velora::heap::SystemAllocate(huge, 256), nullptr);
    EXPECT_EQ(::operator new(huge, kWide, std::nothrow), nullptr);
    EXPECT_THROW(::operator delete[](::operator new[](huge, kWide), kWide), std::bad_alloc);
}

}  // namespace
