// Two replacements for parts of the statically linked C++ runtime that the
// Windows DLL would otherwise carry for nothing (linked into DrawVelora.dll
// only, never into the test programs, which want the full runtime).
//
// Every export and every operation of the plug-in runs its work through
// Guarded, which catches whatever is thrown; so the runtime's only exception
// path is "storage could not be had", and nothing ever reaches terminate.
//
// - The default terminate handler demangles the escaping exception's type
//   and prints it to stderr: that pulls in the demangler and a printf
//   (about 70 KB). A game has no console to read it; ending the process is
//   all it can do, so the handler here only aborts, as the verbose one does
//   after printing.
// - std::vector reports a size beyond max_size() through
//   std::__throw_length_error, whose std::length_error carries a message
//   string: that pulls in both std::string implementations and their
//   exception classes (about 80 KB). Here the same condition throws
//   std::bad_alloc, which the vector's allocation would throw for a size
//   just below the limit anyway. Guarded treats both alike: the storage
//   cannot be had and nothing is changed.
//
// Were anything else in the DLL to need the runtime's own versions, the link
// would fail with a duplicate definition instead of silently taking one.
#include <cstdlib>
#include <new>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx

namespace std {

void __throw_length_error(const char*) { throw std::bad_alloc(); }

}  // namespace std
