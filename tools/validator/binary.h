// The plug-in as the engine sees it: a shared object (a DLL on Windows)
// loaded by path, its nine exports, and the plug-in object's table of five operations, called by
// position. Also the two other things of the process the validator handles
// at that level: the host modules it loads (MainSystem.so, Graph.so,
// SurfaceFactory.so) and the standard error stream the plug-in writes its
// debug messages to.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "contract/exports.h"
#include "contract/guid.h"
#include "contract/host_interfaces.h"

namespace velora::validator {

// The nine exports are the members of exports::PluginExports.
class PluginLibrary : public exports::PluginExports {
public:
    PluginLibrary() = default;
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // Loads the library and finds all nine exports; false with a reason
    // when it cannot.
    bool Open(const std::string& path, std::string& error);
    // Unloads it (the host ends every plug-in object first).
    void Close();
    const std::string& Path() const { return path_; }

private:
    void* handle_ = nullptr;
    std::string path_;
};

#if defined(_WIN32)
// The operations of a plug-in object, called through the contract's class:
// on 32-bit Windows they are __thiscall (the object travels in ECX), which
// the class's declarations carry. The table's layout is the contract's.
namespace operations {

inline IDrawPlugin* Object(void* object) { return static_cast<IDrawPlugin*>(object); }
inline std::int32_t Retain(void* object) { return Object(object)->Retain(); }
inline std::int32_t Destroy(void* object) { return Object(object)->Destroy(); }
inline void SetInterface(void* object, const Guid* iid, void* iface) { Object(object)->SetInterface(iid, iface); }
inline std::int32_t Update(void* object) { return Object(object)->Update(); }
inline std::int32_t Draw(void* object, std::int32_t handle, ISurface* destination, const std::int32_t (&ignored)[6],
                         std::int32_t rate)
{
    return Object(object)->Draw(handle, destination, ignored[0], ignored[1], ignored[2], ignored[3], ignored[4],
                                ignored[5], rate);
}

}  // namespace operations
#else
// The operations of a plug-in object, by their position in its table. The
// object travels as the first argument, as in a member call on x86-64.
namespace operations {

template <class Operation>
Operation Slot(void* object, int position)
{
    void** table = *static_cast<void***>(object);
    return reinterpret_cast<Operation>(table[position]);
}

inline std::int32_t Retain(void* object) { return Slot<std::int32_t (*)(void*)>(object, slot::kRetain)(object); }
inline std::int32_t Destroy(void* object) { return Slot<std::int32_t (*)(void*)>(object, slot::kDestroy)(object); }
inline void SetInterface(void* object, const Guid* iid, void* iface)
{
    Slot<void (*)(void*, const Guid*, void*)>(object, slot::kSetInterface)(object, iid, iface);
}
inline std::int32_t Update(void* object) { return Slot<std::int32_t (*)(void*)>(object, slot::kUpdate)(object); }
inline std::int32_t Draw(void* object, std::int32_t handle, ISurface* destination, const std::int32_t (&ignored)[6],
                         std::int32_t rate)
{
    using Operation = std::int32_t (*)(void*, std::int32_t, ISurface*, std::int32_t, std::int32_t, std::int32_t,
                                       std::int32_t, std::int32_t, std::int32_t, std::int32_t);
    return Slot<Operation>(object, slot::kDraw)(object, handle, destination, ignored[0], ignored[1], ignored[2], ignored[3],
                                      ignored[4], ignored[5], rate);
}

}  // namespace operations
#endif

// The three host modules as loaded shared objects. Each is loaded from one of
// two folders: one whose modules export their factory, one whose modules do
// not (a module without the export the plug-in looks for).
class HostModules {
public:
    enum class State { Unloaded, WithFactory, WithoutFactory };

    HostModules(std::string withFactoryDir, std::string withoutFactoryDir);
    ~HostModules();
    HostModules(const HostModules&) = delete;
    HostModules& operator=(const HostModules&) = delete;

    // False with a reason when the module cannot be loaded.
    bool Set(int module, State state, std::string& error);
    State Get(int module) const { return state_[module]; }

private:
    std::string dirs_[2];
    void* handles_[3] = {nullptr, nullptr, nullptr};
    State state_[3] = {State::Unloaded, State::Unloaded, State::Unloaded};
};

// Has every sanitizer runtime in the process (there may be more than one:
// GCC keeps UBSan's apart from ASan's) call onDeath before it ends the
// process. Does nothing without sanitizers.
void SetSanitizerDeathCallback(void (*onDeath)());

// The plug-in's debug messages, caught for the duration of each call into the
// plug-in so that they can be read back and compared. The standard error
// stream (stderr) writes into a memory file meanwhile; the file descriptor 2
// stays as it is, so that whatever else reports there (the sanitizers, the
// validator itself) still reaches the terminal.
class MessageCapture {
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

#if defined(_WIN32)
    bool Ok() const { return handler_ != nullptr; }
#else
    bool Ok() const { return stream_ != nullptr; }
#endif
    void Begin();
    // What was written since Begin.
    std::string End();

private:
#if defined(_WIN32)
    // On Windows the messages go through OutputDebugStringA, whose exception
    // a vectored handler takes while a capture is on.
    void* handler_ = nullptr;
#else
    int file_ = -1;
    std::FILE* stream_ = nullptr;
    std::FILE* saved_ = nullptr;
#endif
};

}  // namespace velora::validator
