// A Windows program that crashes on purpose: a write through a null pointer
// (an access violation, exception code 0xC0000005). Under Wine it must end
// with that code, without starting a debugger. It loads user32 first: with
// user32 in the process, a prefix that asks before debugging would show a
// dialog that nobody answers.
#include <windows.h>

#include <cstdio>

int main()
{
    std::printf("crash probe: screen width %d; writing through a null pointer\n", GetSystemMetrics(SM_CXSCREEN));
    std::fflush(stdout);
    // Volatile twice: the compiler can neither see the null nor leave the store out.
    volatile int* volatile target = nullptr;
    *target = 1;
    std::printf("crash probe: still running after the write\n");
    return 0;
}
