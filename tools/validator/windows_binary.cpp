// The plug-in, the host modules and the debug messages on Windows: the DLL
// loaded with LoadLibraryA and its imports redirected to the validator's
// clock and allocator, the modules as MainSystem.dll, Graph.dll and
// SurfaceFactory.dll, and OutputDebugStringA's text caught in this process.
#include "validator/binary.h"

#include <windows.h>

#include <string>

#include "validator/shared_library.h"
#include "validator/windows_interpose.h"

namespace velora::validator {
namespace {

std::string LastError(const std::string& what)
{
    return what + " failed with error " + std::to_string(GetLastError());
}

// The text of the capture in progress, and whether one is.
std::string captured;
bool capturing = false;

// OutputDebugStringA raises this exception: parameter 0 is the length with
// the terminating zero, parameter 1 the text.
constexpr DWORD kDebugPrintException = 0x40010006;

LONG CALLBACK CaptureDebugString(EXCEPTION_POINTERS* pointers)
{
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    if (!capturing || record->ExceptionCode != kDebugPrintException || record->NumberParameters < 2) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    const auto length = static_cast<std::size_t>(record->ExceptionInformation[0]);
    captured.append(reinterpret_cast<const char*>(record->ExceptionInformation[1]), length > 0 ? length - 1 : 0);
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

namespace library {

void* Open(const std::string& path, bool hostModule, std::string& error)
{
    HMODULE handle = LoadLibraryA(path.c_str());
    if (!handle) {
        error = LastError(hostModule ? "LoadLibraryA " + path : "LoadLibraryA");
    }
    return handle;
}

void Close(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }

void* Find(void* handle, const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

bool Prepare(void* plugin, std::string& error) { return RedirectPluginImports(static_cast<HMODULE>(plugin), error); }

std::string ModulePath(const std::string& folder, int module)
{
    static const char* const kModuleFiles[3] = {"MainSystem.dll", "Graph.dll", "SurfaceFactory.dll"};
    return folder + "\\" + kModuleFiles[module];
}

}  // namespace library

// No sanitizer runtime is linked into the Windows build.
void SetSanitizerDeathCallback(void (*)()) {}

MessageCapture::MessageCapture() : handler_(AddVectoredExceptionHandler(1, &CaptureDebugString)) {}

MessageCapture::~MessageCapture()
{
    if (handler_) {
        RemoveVectoredExceptionHandler(handler_);
    }
}

void MessageCapture::Begin()
{
    captured.clear();
    capturing = true;
}

std::string MessageCapture::End()
{
    capturing = false;
    std::string text;
    text.swap(captured);
    return text;
}

}  // namespace velora::validator
