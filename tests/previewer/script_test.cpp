// The engine's script as the previewer reads and prints it.
#include "previewer/script.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "previewer/options.h"

namespace velora::preview {
namespace {

// What the studio's Copy gives for its opening scene.
constexpr const char* kStudioCopy = R"(// DrawVelora: 2 layers, drawn in this order every frame

// Layer 1, handle 1 (drawn first, furthest back)
Init(1, 640, 480, 32, 32, 4);
SetType(1, 0);
SetNumof(1, 70);
SetMaxAmp(1, 25);
SetXSpeed(1, 0.6);
SetYSpeed(1, 0.45);
Start(1);
// the engine draws handle 1 with rate 170 each frame

// Layer 2, handle 2 (drawn last, in front)
Init(2, 640, 480, 0, 32, 4);
SetType(2, 1);
SetNumof(2, 22);
SetMaxAmp(2, -60);
SetXSpeed(2, -1.5);
SetYSpeed(2, 1.0);
Start(2);
// the engine draws handle 2 with rate 255 each frame
)";

std::string ErrorOf(const std::string& text)
{
    try {
        ParseScript(text);
    } catch (const UsageError& error) {
        return error.what();
    }
    return "";
}

TEST(Script, TheStudiosCopyGivesItsLayersAndPrintsBackUnchanged)
{
    const Script script = ParseScript(kStudioCopy);
    ASSERT_EQ(script.layers.size(), 2u);
    const Layer& back = script.layers[0];
    EXPECT_EQ(back.handle, 1);
    EXPECT_EQ(back.base, 32);
    EXPECT_EQ(back.count, 32);
    EXPECT_EQ(back.rotation, 4);
    EXPECT_EQ(back.numof, 70);
    EXPECT_EQ(back.xSpeed, 0.6f);
    EXPECT_EQ(back.ySpeed, 0.45f);
    EXPECT_EQ(back.rate, 170);
    const Layer& front = script.layers[1];
    EXPECT_EQ(front.type, 1);
    EXPECT_EQ(front.maxAmp, -60);
    EXPECT_EQ(front.xSpeed, -1.5f);
    EXPECT_EQ(front.rate, 255);
    EXPECT_EQ(script.calls.size(), 14u) << "every call, in the script's order";
    EXPECT_EQ(script.calls[7].op, Op::Init);
    EXPECT_EQ(script.calls[7].line, 14);
    EXPECT_TRUE(script.notes.empty());
    EXPECT_EQ(PrintScript(script.layers), kStudioCopy);
}

TEST(Script, DrawingOrderFollowsTheCommentsAndTheStateFollowsTheCalls)
{
    const Script script = ParseScript(
        "Init(5, 64, 32, 1, 16, 4)\n"
        "  SetNumof( 5 , 9 ) ; // trailing comment\n"
        "Start(5);\n"
        "SetNumof(5, 3);\n"  // waits for a Start that never comes
        "Init(7, 100, 50, 1, 16, 4);\n"
        "Start(7);\n"
        "Init(8, 64, 32, 1, 16, 4);\n"
        "Release(8);\n"
        "// the engine draws handle 7 with rate 40 each frame\n"
        "// the engine draws handle 5 with rate 90 each frame\n");
    ASSERT_EQ(script.layers.size(), 2u) << "a released handle is no layer";
    EXPECT_EQ(script.layers[0].handle, 7);
    EXPECT_EQ(script.layers[0].rate, 40);
    EXPECT_EQ(script.layers[1].handle, 5);
    EXPECT_EQ(script.layers[1].numof, 9) << "the particles Start spawned";

    const Script unnamed = ParseScript("Init(3, 8, 8, 0, 1, 1);\nStart(3);\n");
    ASSERT_EQ(unnamed.layers.size(), 1u);
    EXPECT_EQ(unnamed.layers[0].rate, 255);
    EXPECT_EQ(unnamed.notes.size(), 1u) << "the user hears that no comment gave its rate";
    EXPECT_EQ(ParseScript("Init(3, 8, 8, 0, 1, 1);\n").notes.size(), 2u) << "and that it never starts";
}

// The guide for script authors shows its three worked setups (petals, snow,
// two layers for depth) in this text: each must read back as the layers its
// prose describes, so that pasting it into the studio or the previewer works.
TEST(Script, TheGuidesWorkedSetupsReadAsTheLayersTheyDescribe)
{
    std::ifstream file(VELORA_GUIDE);
    ASSERT_TRUE(file) << VELORA_GUIDE;
    std::stringstream stream;
    stream << file.rdbuf();
    const std::string guide = stream.str();
    std::vector<Script> setups;  // the code blocks that make layers, in order
    for (std::size_t open = guide.find("```\n"); open != std::string::npos;) {
        const std::size_t close = guide.find("```", open + 4);
        ASSERT_NE(close, std::string::npos) << "an unclosed code block";
        const std::string block = guide.substr(open + 4, close - open - 4);
        if (block.find("Init(") != std::string::npos) {
            setups.push_back(ParseScript(block));
        }
        open = guide.find("```\n", close + 3);
    }
    ASSERT_EQ(setups.size(), 3u);

    ASSERT_EQ(setups[0].layers.size(), 1u);
    const Layer& petals = setups[0].layers[0];
    EXPECT_EQ(petals.base, 100);
    EXPECT_EQ(petals.count, 16);
    EXPECT_EQ(petals.rotation, 4);
    EXPECT_EQ(petals.numof, 40);
    EXPECT_TRUE(petals.started);

    ASSERT_EQ(setups[1].layers.size(), 1u);
    const Layer& snow = setups[1].layers[0];
    EXPECT_EQ(snow.type, 1);
    EXPECT_EQ(snow.rotation, 1);
    EXPECT_EQ(snow.numof, 150);
    EXPECT_LT(snow.xSpeed, 0.0f);  // blown to the left
    EXPECT_TRUE(snow.started);

    ASSERT_EQ(setups[2].layers.size(), 2u);
    const Layer& back = setups[2].layers[0];
    const Layer& front = setups[2].layers[1];
    EXPECT_EQ(back.handle, 1);
    EXPECT_EQ(front.handle, 2);
    // Far away: more, slower, fainter; in front: full strength.
    EXPECT_GT(back.numof, front.numof);
    EXPECT_LT(back.ySpeed, front.ySpeed);
    EXPECT_LT(back.rate, front.rate);
    EXPECT_EQ(front.rate, 255);
    EXPECT_TRUE(back.started && front.started);
}

TEST(Script, MistakesNameTheLine)
{
    const std::pair<const char*, const char*> cases[] = {
        {"Init(1, 64, 64, 0, 16, 4);\nDraw(1, 255);\n", "line 2: unknown call Draw"},
        {"Start(4);\n", "line 1: handle 4 has no Init"},
        {"Init(1, 64, 64, 0, 16);\n", "line 1: Init takes 6 arguments, not 5"},
        {"Init(1, 64, 64, 0, 16, 4);\nSetNumof(1, many);\n", "line 2: 'many' is not a 32-bit whole number"},
        {"Init(1, 64, 64, 0, 16, 4);\nSetXSpeed(1, 1e99);\n", "line 2: '1e99' is not a number a float can hold"},
        {"Init(1, 0, 64, 0, 16, 4);\n", "line 1: the previewer draws fields of 1 to 4096"},
        {"Init(1, 64, 64, 0, 16, 4)\n// the engine draws handle 2 with rate 9 each frame\n",
         "line 2: the engine draws handle 2, which has no Init"},
        {"Init 1, 64\n", "line 1: expected a call"},
        {"// nothing\n", "the script has no calls"},
    };
    for (const auto& [text, message] : cases) {
        EXPECT_NE(ErrorOf(text).find(message), std::string::npos) << text << " gave: " << ErrorOf(text);
    }
}

TEST(Script, SpeedsPrintAsTheShortestTextOfTheirFloat)
{
    EXPECT_EQ(FloatText(1.0f), "1.0");
    EXPECT_EQ(FloatText(-0.45f), "-0.45");
    EXPECT_EQ(FloatText(0.1f + 0.2f), "0.3");
    EXPECT_EQ(FloatText(3.4028235e38f), "3.4028235e+38");
    for (const float value : {0.1f, 1.0f / 3.0f, 123456.79f, -2.5e-7f}) {
        const Script script = ParseScript("Init(1, 8, 8, 0, 1, 1);\nSetXSpeed(1, " + FloatText(value) + ");\n");
        EXPECT_EQ(script.layers[0].xSpeed, value) << FloatText(value);
    }
}

}  // namespace
}  // namespace velora::preview
