// What the small Windows hosts (the load/unload soak, the floating-point
// state run) share: the plug-in's debug messages caught in this process, the
// plug-in loaded through LoadLibraryA with its nine exports, and a draw host
// and sprite bank that record what the plug-in asks of them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "contract/plugin_access.h"
#include "windows/memory_surface.h"

namespace host_module {

// OutputDebugStringA raises this exception; parameter 0 is the length with
// the terminating zero, parameter 1 the text. A vectored handler sees it
// first; while installed, every message of the process lands in Messages().
class DebugMessages {
public:
    DebugMessages() : handler_(AddVectoredExceptionHandler(1, &Catch)) {}
    ~DebugMessages()
    {
        if (handler_) {
            RemoveVectoredExceptionHandler(handler_);
        }
    }
    DebugMessages(const DebugMessages&) = delete;
    DebugMessages& operator=(const DebugMessages&) = delete;

    bool Ok() const { return handler_ != nullptr; }
    // The messages since the previous call.
    static std::vector<std::string> Take()
    {
        std::vector<std::string> taken;
        taken.swap(Messages());
        return taken;
    }

private:
    static constexpr DWORD kDebugPrintException = 0x40010006;
    static std::vector<std::string>& Messages()
    {
        static std::vector<std::string> messages;
        return messages;
    }
    static LONG CALLBACK Catch(EXCEPTION_POINTERS* pointers)
    {
        const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
        if (record->ExceptionCode != kDebugPrintException || record->NumberParameters < 2) {
            return EXCEPTION_CONTINUE_SEARCH;
        }
        const auto length = static_cast<std::size_t>(record->ExceptionInformation[0]);
        Messages().emplace_back(reinterpret_cast<const char*>(record->ExceptionInformation[1]),
                                length > 0 ? length - 1 : 0);
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    PVOID handler_;
};

// The plug-in library, loaded for the lifetime of this object.
class LoadedPlugin {
public:
    explicit LoadedPlugin(const char* path) : module_(LoadLibraryA(path))
    {
        if (!module_) {
            error_ = "LoadLibraryA failed with error " + std::to_string(GetLastError());
            return;
        }
        const char* missing = velora::exports::BindExports(exports_, [this](const char* name) {
            return reinterpret_cast<void*>(GetProcAddress(module_, name));
        });
        if (missing) {
            error_ = std::string("no export ") + missing;
        }
    }
    ~LoadedPlugin() { Unload(); }
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;

    // Empty when the library loaded with all nine exports.
    const std::string& Error() const { return error_; }
    HMODULE Module() const { return module_; }
    const velora::exports::PluginExports* operator->() const { return &exports_; }
    // FreeLibrary; false when it failed.
    bool Unload()
    {
        const bool freed = !module_ || FreeLibrary(module_);
        module_ = nullptr;
        return freed;
    }

private:
    HMODULE module_;
    velora::exports::PluginExports exports_;
    std::string error_;
};

class RecordingDrawHost final : public velora::IDrawHost {
public:
    std::int32_t VELORA_METHOD ReportRect(std::int32_t handle, std::int32_t x, std::int32_t y,
                                          std::int32_t width, std::int32_t height) override
    {
        reports.push_back(std::to_string(handle) + " " + std::to_string(x) + " " + std::to_string(y) + " " +
                          std::to_string(width) + " " + std::to_string(height));
        return 1;
    }
    std::vector<std::string> reports;
};

// Sprites first .. first + count - 1, each size x size in format 77, opaque
// but for the diagonal. Records the numbers asked for, in order.
class RecordingSpriteBank final : public velora::ISpriteBank {
public:
    RecordingSpriteBank(std::int32_t first, std::int32_t count, std::int32_t size) : first_(first)
    {
        for (std::int32_t i = 0; i < count; ++i) {
            sprites_.push_back(std::make_unique<MemorySurface>(size, size, 77, "test host: a sprite was destroyed\n"));
            for (std::int32_t x = 0; x < size; ++x) {
                for (std::int32_t y = 0; y < size; ++y) {
                    const std::uint8_t alpha = x == y ? 0 : 255;
                    sprites_.back()->SetPixel(x, y, {static_cast<std::uint8_t>(0x20 + i), 0x40, 0x60, alpha});
                }
            }
        }
    }

    velora::ISurface* VELORA_METHOD GetSprite(std::int32_t number) override
    {
        asked.push_back(number);
        const std::int64_t index = static_cast<std::int64_t>(number) - first_;
        return index >= 0 && index < static_cast<std::int64_t>(sprites_.size())
                   ? sprites_[static_cast<std::size_t>(index)].get()
                   : nullptr;
    }

    std::vector<std::int32_t> asked;

private:
    std::int32_t first_;
    std::vector<std::unique_ptr<MemorySurface>> sprites_;
};

// This program's folder, where the stand-in host modules lie.
inline std::string ProgramFolder()
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    const std::size_t slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
}

}  // namespace host_module
