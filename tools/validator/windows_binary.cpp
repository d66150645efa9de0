// The plug-in, the host modules and the debug messages on Windows: the DLL
// loaded with LoadLibraryA and its imports redirected to the validator's
// clock and allocator, the modules as MainSystem.dll, Graph.dll and
// SurfaceFactory.dll, and OutputDebugStringA's text caught in this process.
#include "validator/binary.h"

#include <windows.h>

#include <string>
#include <utility>

#include "kit/plugin_access.h"
#include "validator/windows_interpose.h"

namespace velora::validator {
namespace {

const char* const kModuleFiles[3] = {"MainSystem.dll", "Graph.dll", "SurfaceFactory.dll"};

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

PluginLibrary::~PluginLibrary() { Close(); }

bool PluginLibrary::Open(const std::string& path, std::string& error)
{
    Close();
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) {
        error = LastError("LoadLibraryA");
        return false;
    }
    handle_ = module;
    path_ = path;
    const char* missing = exports::BindExports(
        *this, [module](const char* name) { return reinterpret_cast<void*>(GetProcAddress(module, name)); });
    if (missing) {
        error = std::string("the plug-in does not export ") + missing;
    } else if (!RedirectPluginImports(module, error)) {
        missing = "";
    }
    if (missing) {
        Close();
    }
    return !missing;
}

void PluginLibrary::Close()
{
    if (handle_) {
        FreeLibrary(static_cast<HMODULE>(handle_));
        handle_ = nullptr;
    }
}

HostModules::HostModules(std::string withFactoryDir, std::string withoutFactoryDir)
    : dirs_{std::move(withFactoryDir), std::move(withoutFactoryDir)}
{
}

HostModules::~HostModules()
{
    for (void*& handle : handles_) {
        if (handle) {
            FreeLibrary(static_cast<HMODULE>(handle));
            handle = nullptr;
        }
    }
}

bool HostModules::Set(int module, State state, std::string& error)
{
    if (state_[module] == state) {
        return true;
    }
    if (handles_[module]) {
        FreeLibrary(static_cast<HMODULE>(handles_[module]));
        handles_[module] = nullptr;
    }
    state_[module] = State::Unloaded;
    if (state == State::Unloaded) {
        return true;
    }
    const std::string& dir = dirs_[state == State::WithFactory ? 0 : 1];
    const std::string path = dir + "\\" + kModuleFiles[module];
    handles_[module] = LoadLibraryA(path.c_str());
    if (!handles_[module]) {
        error = LastError("LoadLibraryA " + path);
        return false;
    }
    state_[module] = state;
    return true;
}

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
