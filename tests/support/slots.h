// Calls an operation by its position in an object's table, the way the host
// does. Valid where the object travels as the first argument of a member
// call (x86-64, and so every native test build).
#pragma once

namespace velora::testing {

template <class Result, class... Args>
Result CallSlot(void* object, int slot, Args... args)
{
    void** table = *static_cast<void***>(object);
    using Operation = Result (*)(void*, Args...);
    return reinterpret_cast<Operation>(table[slot])(object, args...);
}

}  // namespace velora::testing
