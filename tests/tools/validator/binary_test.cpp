// The validator's own plumbing: where its decisions come from, how it catches
// the plug-in's messages, and how it loads libraries and host modules.
#include <dlfcn.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "validator/binary.h"
#include "validator/choice_stream.h"
#include "validator/host.h"

// The host modules' way back to the validator's host, as interpose.cpp
// gives it to the validator itself.
extern "C" __attribute__((visibility("default"))) void* VeloraValidatorService(int module,
                                                                               const velora::Guid* iid)
{
    return velora::validator::ServeModule(module, iid);
}

namespace velora::validator {
namespace {

TEST(Choices, ASeedReplaysItsSequenceAndDrawsStayInRange)
{
    SeededChoices a(42);
    SeededChoices b(42);
    SeededChoices other(43);
    int differing = 0;
    for (int i = 0; i < 1000; ++i) {
        const std::uint32_t value = a.Below(7);
        EXPECT_EQ(value, b.Below(7));
        EXPECT_LT(value, 7u);
        differing += value != other.Below(7) ? 1 : 0;
        EXPECT_LE(a.Take(1), 0xFFu);
        b.Take(1);
        other.Take(1);
    }
    EXPECT_GT(differing, 500);
    EXPECT_FALSE(a.Exhausted());
    EXPECT_EQ(a.Below(0), 0u);
    EXPECT_EQ(a.Below(1), 0u);
}

TEST(Choices, BytesAreReadInOrderAndRunDryAsZeros)
{
    const std::uint8_t input[] = {5, 0x34, 0x12, 0xFF, 200};
    ByteChoices choices(input, sizeof input);
    EXPECT_EQ(choices.Below(10), 5u);               // one byte for a small range
    EXPECT_EQ(choices.Below(1000), 0x1234u % 1000);  // two for a range up to 65536
    EXPECT_FALSE(choices.Exhausted());
    EXPECT_EQ(choices.Take(2), 0xC8FFu);
    EXPECT_FALSE(choices.Exhausted());
    EXPECT_EQ(choices.Take(4), 0u);
    EXPECT_TRUE(choices.Exhausted());
}

TEST(MessageCapture, CatchesWhatIsWrittenToStandardErrorDuringACall)
{
    MessageCapture capture;
    ASSERT_TRUE(capture.Ok());
    std::FILE* before = stderr;
    capture.Begin();
    std::fputs("first line\n", stderr);
    std::fputs("\x81\xA1second\n", stderr);
    EXPECT_EQ(capture.End(), "first line\n\x81\xA1second\n");
    EXPECT_EQ(stderr, before);

    capture.Begin();
    EXPECT_EQ(capture.End(), "");  // emptied after each call
    capture.Begin();
    std::fputs("third\n", stderr);
    EXPECT_EQ(capture.End(), "third\n");
}

TEST(PluginLibrary, TellsWhyALibraryCannotBeThePlugIn)
{
    PluginLibrary plugin;
    std::string error;
    EXPECT_FALSE(plugin.Open("/nonexistent/DrawVelora.so", error));
    EXPECT_NE(error.find("/nonexistent/DrawVelora.so"), std::string::npos) << error;

    // A host module exports a factory, but not the plug-in's nine names.
    error.clear();
    EXPECT_FALSE(plugin.Open(VELORA_TEST_MODULE_DIR "/MainSystem.so", error));
    EXPECT_EQ(error, "the plug-in does not export CreateInterface");

    error.clear();
    ASSERT_TRUE(plugin.Open(VELORA_TEST_PLUGIN, error)) << error;
    EXPECT_NE(plugin.CreateInterface, nullptr);
    EXPECT_NE(plugin.SetYSpeed, nullptr);
}

TEST(HostModules, AreLoadedAndUnloadedAsTheDriverSays)
{
    auto loaded = [](const char* path) {
        void* handle = dlopen(path, RTLD_LAZY | RTLD_NOLOAD);
        if (handle) {
            dlclose(handle);
        }
        return handle != nullptr;
    };
    const char* withFactory = VELORA_TEST_MODULE_DIR "/Graph.so";
    const char* withoutFactory = VELORA_TEST_BARE_MODULE_DIR "/Graph.so";
    {
        HostModules modules(VELORA_TEST_MODULE_DIR, VELORA_TEST_BARE_MODULE_DIR);
        std::string error;
        ASSERT_TRUE(modules.Set(1, HostModules::State::WithFactory, error)) << error;
        EXPECT_TRUE(loaded(withFactory));
        ASSERT_TRUE(modules.Set(1, HostModules::State::WithoutFactory, error)) << error;
        EXPECT_FALSE(loaded(withFactory));
        EXPECT_TRUE(loaded(withoutFactory));
        void* bare = dlopen(withoutFactory, RTLD_LAZY | RTLD_NOLOAD);
        ASSERT_NE(bare, nullptr);
        EXPECT_EQ(dlsym(bare, "CreateInterface"), nullptr);
        dlclose(bare);
        ASSERT_TRUE(modules.Set(1, HostModules::State::Unloaded, error));
        EXPECT_FALSE(loaded(withoutFactory));
        ASSERT_TRUE(modules.Set(0, HostModules::State::WithFactory, error));
    }
    EXPECT_FALSE(loaded(VELORA_TEST_MODULE_DIR "/MainSystem.so"));  // the destructor unloads

    HostModules broken("/nonexistent", "/nonexistent");
    std::string error;
    EXPECT_FALSE(broken.Set(2, HostModules::State::WithFactory, error));
    EXPECT_NE(error.find("SurfaceFactory.so"), std::string::npos) << error;
    EXPECT_EQ(broken.Get(2), HostModules::State::Unloaded);
}

}  // namespace
}  // namespace velora::validator
