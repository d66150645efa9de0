// Collects the plug-in's debug messages instead of sending them to stderr.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace velora::testing {

class DebugCapture {
public:
    DebugCapture()
    {
        active = this;
        platform::testing::OverrideDebugOutput(&Receive);
    }
    ~DebugCapture()
    {
        platform::testing::OverrideDebugOutput(nullptr);
        active = nullptr;
    }
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    std::vector<std::string> messages;

private:
    static void Receive(const char* message) { active->messages.emplace_back(message); }
    static inline DebugCapture* active = nullptr;
};

}  // namespace velora::testing
