# Cross build for 32-bit Windows (the host engine's platform) with MinGW-w64.
#
# The win32-thread compilers (Debian: g++-mingw-w64-i686-win32): their static
# runtime keeps to what Windows XP already has. The posix-thread ones bring
# winpthreads, which imports thread, event, affinity and thread-context
# functions and GetTickCount64 (Windows Vista and later) although the plug-in
# owns no thread. Nothing built in this tree uses C++11 threads. The DLL links
# everything statically, so no MinGW runtime DLL is needed.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(VELORA_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${VELORA_MINGW_TRIPLET}-gcc-win32)
set(CMAKE_CXX_COMPILER ${VELORA_MINGW_TRIPLET}-g++-win32)
set(CMAKE_RC_COMPILER ${VELORA_MINGW_TRIPLET}-windres)

# x87 arithmetic would keep doubles in 80-bit registers; SSE2 makes double
# IEEE double, so particle state matches the other builds bit for bit.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

set(CMAKE_FIND_ROOT_PATH /usr/${VELORA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
