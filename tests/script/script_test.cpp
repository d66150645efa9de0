// The engine's script as the tools read and print it: the shared fixtures
// (which the studio's Node.js tests read too), then what they cannot hold.
#include "script/script.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <vector>

namespace velora::script {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// UTF-8 text in Shift_JIS (Windows code page 932), as a Japanese editor saves it.
std::string ShiftJis(const std::string& utf8)
{
    const iconv_t convert = iconv_open("CP932", "UTF-8");
    EXPECT_NE(convert, reinterpret_cast<iconv_t>(-1));
    std::string in = utf8;
    std::string out(in.size() * 2, '\0');
    char* from = in.data();
    char* to = out.data();
    std::size_t left = in.size();
    std::size_t room = out.size();
    EXPECT_NE(iconv(convert, &from, &left, &to, &room), static_cast<std::size_t>(-1)) << utf8;
    iconv_close(convert);
    out.resize(out.size() - room);
    return out;
}

std::string ErrorOf(std::string_view text, const Limits& limits = {})
{
    try {
        ParseScript(text, limits);
    } catch (const ScriptError& error) {
        return error.what();
    }
    return "";
}

// "key=value key=value ...": the last value may hold spaces when its key is name.
std::map<std::string, std::string> Fields(const std::string& text)
{
    std::map<std::string, std::string> fields;
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        const auto equals = word.find('=');
        std::string value = word.substr(equals + 1);
        if (word.starts_with("name=")) {
            std::string rest;
            std::getline(words, rest);
            value += rest;
        }
        fields[word.substr(0, equals)] = value;
    }
    return fields;
}

void ExpectLayer(const Layer& layer, const std::map<std::string, std::string>& expected, const std::string& where)
{
    const std::map<std::string, std::int32_t> whole = {
        {"handle", layer.handle}, {"width", layer.width},   {"height", layer.height}, {"base", layer.base},
        {"count", layer.count},   {"rotation", layer.rotation}, {"type", layer.type}, {"numof", layer.numof},
        {"spawned", layer.spawned}, {"maxAmp", layer.maxAmp}, {"rate", layer.rate},     {"started", layer.started}, {"hidden", layer.hidden},
    };
    EXPECT_EQ(expected.size(), whole.size() + 2) << where << ": every field is given";
    for (const auto& [key, value] : expected) {
        if (key == "xSpeed" || key == "ySpeed") {
            float want = 0.0f;
            std::from_chars(value.data(), value.data() + value.size(), want);
            EXPECT_EQ(key == "xSpeed" ? layer.xSpeed : layer.ySpeed, want) << where << " " << key;
        } else {
            ASSERT_TRUE(whole.contains(key)) << where << ": unknown key " << key;
            EXPECT_EQ(std::to_string(whole.at(key)), value) << where << " " << key;
        }
    }
}

TEST(Script, EveryValidFixtureGivesItsLayersAndSheets)
{
    int fixtures = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(VELORA_SCRIPT_FIXTURES) / "valid")) {
        if (entry.path().extension() != ".txt") {
            continue;
        }
        ++fixtures;
        const std::string where = entry.path().filename().string();
        const std::string text = Slurp(entry.path());
        Script script;
        ASSERT_NO_THROW(script = ParseScript(text)) << where << ": " << ErrorOf(text);
        std::istringstream expected(Slurp(fs::path(entry.path()).replace_extension(".layers")));
        std::size_t layers = 0;
        std::size_t sheets = 0;
        std::map<std::size_t, std::vector<std::string>> comments;  // by layer, from 1
        for (std::string line; std::getline(expected, line);) {
            const std::string kind = line.substr(0, line.find(' '));
            const std::string rest = line.substr(std::min(line.size(), kind.size() + 1));
            if (kind == "layer") {
                ASSERT_LT(layers, script.layers.size()) << where;
                ExpectLayer(script.layers[layers], Fields(rest), where + " layer " + std::to_string(layers + 1));
                ++layers;
            } else if (kind == "sheet") {
                ASSERT_LT(sheets, script.sheets.size()) << where;
                const Sheet& sheet = script.sheets[sheets++];
                auto fields = Fields(rest);
                const Sheet want{std::stoi(fields["base"]),    std::stoi(fields["count"]), fields["name"],
                                 std::stoi(fields["columns"]), std::stoi(fields["rows"]),  std::stoi(fields["cell"]),
                                 std::stoi(fields["margin"]),  std::stoi(fields["spacing"]), fields["hash"]};
                EXPECT_EQ(sheet, want) << where << " sheet " << sheets << " (" << sheet.name << ")";
            } else if (kind == "comment") {
                const std::size_t space = rest.find(' ');
                const std::string comment = rest.substr(space + 1);
                comments[std::stoul(rest.substr(0, space))].push_back(
                    where.starts_with("shift-jis") ? ShiftJis(comment) : comment);
            } else if (kind == "calls") {
                EXPECT_EQ(script.calls.size(), std::stoul(rest)) << where;
            } else if (kind == "notes") {
                EXPECT_EQ(script.notes.size(), std::stoul(rest)) << where;
            } else if (kind == "printed") {
                EXPECT_EQ(PrintScript(script.layers, script.sheets, script.picture), text)
                    << where << ": printed back unchanged";
            }
        }
        EXPECT_EQ(layers, script.layers.size()) << where;
        EXPECT_EQ(sheets, script.sheets.size()) << where;
        for (std::size_t i = 0; i < script.layers.size(); ++i) {
            EXPECT_EQ(script.layers[i].comments, comments[i + 1]) << where << " layer " << i + 1 << "'s comments";
        }
        // Whatever the text, the printed form reads back as the same setup.
        const Script again = ParseScript(PrintScript(script.layers, script.sheets, script.picture));
        ASSERT_EQ(again.layers.size(), script.layers.size()) << where;
        for (std::size_t i = 0; i < again.layers.size(); ++i) {
            EXPECT_EQ(PrintScript({again.layers[i]}), PrintScript({script.layers[i]})) << where;
        }
    }
    EXPECT_GE(fixtures, 3);
}

TEST(Script, EveryBrokenFixtureIsRefusedWithItsLineAndReason)
{
    int fixtures = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(VELORA_SCRIPT_FIXTURES) / "broken")) {
        if (entry.path().extension() != ".txt") {
            continue;
        }
        ++fixtures;
        const std::string where = entry.path().filename().string();
        std::istringstream expected(Slurp(fs::path(entry.path()).replace_extension(".error")));
        std::string place;  // "LINE" or "LINE:COLUMN"
        std::string reason;
        std::getline(expected, place);
        std::getline(expected, reason);
        const int line = std::stoi(place);
        const int column = place.find(':') == std::string::npos ? 0 : std::stoi(place.substr(place.find(':') + 1));
        try {
            ParseScript(Slurp(entry.path()));
            ADD_FAILURE() << where << " was read";
        } catch (const ScriptError& error) {
            EXPECT_EQ(error.Line(), line) << where << ": " << error.what();
            EXPECT_EQ(error.Column(), column) << where << ": " << error.what();
            EXPECT_NE(error.Reason().find(reason), std::string::npos) << where << ": " << error.what();
            const std::string at = line == 0     ? ""
                                   : column == 0 ? "line " + std::to_string(line) + ": "
                                                 : "line " + place.replace(place.find(':'), 1, ", column ") + ": ";
            EXPECT_EQ(error.what(), at + error.Reason()) << where;
        }
    }
    EXPECT_GE(fixtures, 20);
}

TEST(Script, SizeIsBoundedAndMessagesQuoteLittle)
{
    const std::string call = "Init(1, 8, 8, 0, 1, 1);\n";
    std::string largest(kMaxBytes - call.size(), ' ');
    largest += call;
    EXPECT_EQ(ParseScript(largest).calls.size(), 1u) << "a script of exactly the limit reads";
    largest.insert(0, " ");
    EXPECT_NE(ErrorOf(largest).find("larger than 1048576 bytes"), std::string::npos);

    // A quote never cuts a character in two, and counts an escaped byte as one.
    EXPECT_EQ(Quote(std::string(39, 'a') + "\xC3\xA9" + "b"), "'" + std::string(39, 'a') + "\xC3\xA9...'");
    EXPECT_EQ(Quote("\xC3(\x7F\xED\xA0\x80"), "'\\xC3(\\x7F\\xED\\xA0\\x80'");
    EXPECT_EQ(Quote("\xF0\x9F\x8C\xB8"), "'\xF0\x9F\x8C\xB8'");
}

// What the fixtures leave out: every kind of character, UTF-8 or Shift_JIS,
// is named with its column, and shown in the quote however long the line.
TEST(Script, ACharacterThatIsNotAsciiInACallIsNamedWhereItIs)
{
    const struct {
        std::string text;
        int column;
        std::string reason;
    } cases[] = {
        {"Init(1, 8, 8, 0, 1, \xEF\xBC\xA9);", 21, "a full-width letter (U+FF29)"},
        {"Start(1)\xEF\xBC\x9B  // \xE3\x80\x80", 9, "full-width punctuation (U+FF1B)"},
        {"Start(1);\xC2\xA0", 10, "a character that is not ASCII (U+00A0) in a call; calls are written in half-width "
                                   "(ASCII) characters: 'Start(1);[U+00A0]'"},
        {"Start(\x82\x50);", 7, "a full-width digit in Shift_JIS (U+FF11, bytes 82 50)"},
        {"Start(1)\x81\x47", 9, "full-width punctuation in Shift_JIS (U+FF1B, bytes 81 47)"},
        {"Start(1); \x88\x9F", 11, "a Shift_JIS character (bytes 88 9F) in a call; calls are written in half-width "
                                    "(ASCII) characters: 'Start(1); \\x88\\x9F'"},
        {"Start(1);\x81", 10, "a byte that is neither UTF-8 nor Shift_JIS (\\x81)"},
        {"SetXSpeed(1, 0.5);" + std::string(30, ' ') + "\xE3\x80\x80 ", 49,
         "'... 0.5);" + std::string(30, ' ') + "[U+3000]'"},
    };
    for (const auto& [text, column, reason] : cases) {
        try {
            ParseScript("Init(1, 8, 8, 0, 1, 1);\n" + text + "\n");
            ADD_FAILURE() << text << " was read";
        } catch (const ScriptError& error) {
            EXPECT_EQ(error.Line(), 2) << error.what();
            EXPECT_EQ(error.Column(), column) << error.what();
            EXPECT_NE(error.Reason().find(reason), std::string::npos) << error.what();
        }
    }
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
    EXPECT_EQ(script.layers[1].spawned, 9) << "the particles Start spawned";
    EXPECT_EQ(script.layers[1].numof, 3) << "a later SetNumof waits for the next Start";
    EXPECT_EQ(script.calls[3].op, Op::SetNumof);
    EXPECT_EQ(script.calls[3].line, 4);

    const Script unnamed = ParseScript("Init(3, 8, 8, 0, 1, 1);\nStart(3);\n");
    ASSERT_EQ(unnamed.layers.size(), 1u);
    EXPECT_EQ(unnamed.layers[0].rate, 255);
    EXPECT_EQ(unnamed.notes.size(), 1u) << "the user hears that no comment gave its rate";
    EXPECT_EQ(ParseScript("Init(3, 8, 8, 0, 1, 1);\n").notes.size(), 2u) << "and that it never starts";
    // A second Init of a live handle changes nothing, as in the engine, and says so.
    const Script again = ParseScript("Init(3, 8, 8, 0, 1, 1);\nInit(3, 640, 480, 0, 1, 1);\nStart(3);\n");
    EXPECT_EQ(again.layers[0].width, 8);
    EXPECT_NE(std::find(again.notes.begin(), again.notes.end(),
                        "line 2: Init of handle 3, which already has an instance, changes nothing (its field stays "
                        "8 x 8); Release it first to make it anew"),
              again.notes.end());

    // The hidden flag belongs to the Init that follows its heading, and only
    // to the handle the heading names.
    const Script headed = ParseScript(
        "// Layer 1, handle 2 (hidden in the studio)\nInit(1, 8, 8, 0, 1, 1);\nInit(2, 8, 8, 0, 1, 1);\n");
    ASSERT_EQ(headed.layers.size(), 2u);
    EXPECT_FALSE(headed.layers[0].hidden);
    EXPECT_TRUE(headed.layers[1].hidden);
}

TEST(Script, TheAuthorsCommentsStayWithALayerAndPrintAsCommentLines)
{
    const Script script = ParseScript(
        "// 手前\n"
        "Init(1, 8, 8, 0, 1, 1);\n"
        "// 消える層\n"
        "Init(2, 8, 8, 0, 1, 1);  // すぐ消す\n"
        "Release(2);\n"
        "// the engine draws handle 1 with rate 9 each frame\n"
        "// おわり\n");
    ASSERT_EQ(script.layers.size(), 1u);
    const std::vector<std::string> kept = {"手前", "消える層", "すぐ消す", "おわり"};
    EXPECT_EQ(script.layers[0].comments, kept) << "a released handle's comments and the last ones go to the last layer";

    Layer layer = script.layers[0];
    layer.comments = {"two\nlines", "Start(1);\r\n"};
    const std::string printed = PrintScript({layer});
    EXPECT_NE(printed.find("// two\n// lines\n// Start(1);\n//\nInit(1,"), std::string::npos) << printed;
    EXPECT_EQ(ParseScript(printed).calls.size(), 6u) << "no line of a comment becomes a call";
}

TEST(Script, LimitsRefuseTheFirstCallBeyondThem)
{
    const Limits limits{2, 100};
    std::string reason;
    const auto lineOf = [&](const std::string& text) {
        try {
            ParseScript(text, limits);
        } catch (const ScriptError& error) {
            reason = error.Reason();
            return error.Line();
        }
        return 0;
    };
    const std::string layers = "Init(1, 8, 8, 0, 1, 1);\nInit(2, 8, 8, 0, 1, 1);\nRelease(1);\nInit(3, 8, 8, 0, 1, 1);\n";
    EXPECT_EQ(lineOf(layers), 0) << "a released handle leaves room";
    EXPECT_EQ(lineOf(layers + "Init(2, 8, 8, 0, 1, 1);\n"), 0) << "an Init of a live handle adds none";
    EXPECT_EQ(lineOf(layers + "Init(4, 8, 8, 0, 1, 1);\n"), 5);
    EXPECT_NE(reason.find("more than 2 layers at once"), std::string::npos) << reason;

    // A restart replaces the handle's particles, a negative count spawns
    // none, and a Release gives them back.
    const std::string particles = "Init(1, 8, 8, 0, 1, 1);\nSetNumof(1, 60);\nStart(1);\nSetNumof(1, 80);\nStart(1);\n"
                                  "Init(2, 8, 8, 0, 1, 1);\nSetNumof(2, -5);\nStart(2);\nSetNumof(2, 20);\nStart(2);\n";
    EXPECT_EQ(lineOf(particles), 0);
    EXPECT_EQ(lineOf(particles + "SetNumof(2, 21);\nStart(2);\n"), 12);
    EXPECT_NE(reason.find("to 101, more than the 100"), std::string::npos) << reason;
    EXPECT_EQ(lineOf(particles + "Release(1);\nSetNumof(2, 99);\nStart(2);\n"), 0);
}

// Every limit of the reader at its edge and one past it, with the limits
// the tools read by.
// Catches: the width checked twice and the height never, a limit compared
// with >= where it is the largest allowed, one layer too few or too many.
TEST(Script, EveryLimitTakesItsEdgeAndRefusesOnePast)
{
    const auto repeat = [](int times, const std::function<std::string(int)>& line) {
        std::string text;
        for (int i = 1; i <= times; ++i) {
            text += line(i);
        }
        return text;
    };
    const auto init = [](int handle, const std::string& width, const std::string& height) {
        return "Init(" + std::to_string(handle) + ", " + width + ", " + height + ", 0, 1, 1);\n";
    };
    const auto spawn = [](int handle, int numof) {
        return "SetNumof(" + std::to_string(handle) + ", " + std::to_string(numof) + ");\nStart(" +
               std::to_string(handle) + ");\n";
    };
    struct Case {
        std::string what;
        std::string text;
        std::string refusal;  // empty: the script reads
    };
    const std::string bigger = "more than the 100000";
    const Case cases[] = {
        {"smallest field", init(1, "1", "1"), ""},
        {"largest field", init(1, "4096", "4096"), ""},
        {"width 0", init(1, "0", "8"), "not 0 x 8"},
        {"height 0", init(1, "8", "0"), "not 8 x 0"},
        {"width 4097", init(1, "4097", "8"), "not 4097 x 8"},
        {"height 4097", init(1, "8", "4097"), "not 8 x 4097"},
        {"the largest Start", init(1, "8", "8") + spawn(1, 100000), ""},
        {"a Start one past", init(1, "8", "8") + spawn(1, 100001), "100001"},
        {"64 layers", repeat(64, [&](int h) { return init(h, "8", "8"); }), ""},
        {"65 layers", repeat(65, [&](int h) { return init(h, "8", "8"); }), "more than 64 layers"},
        {"100000 particles in all",
         repeat(4, [&](int h) { return init(h, "8", "8") + spawn(h, 25000); }), ""},
        {"100001 particles in all",
         repeat(4, [&](int h) { return init(h, "8", "8") + spawn(h, h == 4 ? 25001 : 25000); }), bigger},
    };
    for (const Case& c : cases) {
        const std::string reason = ErrorOf(c.text, Limits{kMaxLayers, kMaxParticles});
        if (c.refusal.empty()) {
            EXPECT_EQ(reason, "") << c.what;
        } else {
            EXPECT_NE(reason.find(c.refusal), std::string::npos) << c.what << " gave: '" << reason << "'";
        }
    }
}

// Catches: "0e5" taken for a value too small for a float because of the
// exponent's digits, and a sheet name cut at a quote it holds.
TEST(Script, ZeroInEveryFormReadsAsZeroAndASheetNameKeepsItsQuotes)
{
    for (const char* zero : {"0", "0.0", ".0", "0.", "-0", "0e5", "0.0e1", "0E+5", "-0e-3", "000.000e99"}) {
        const Script script = ParseScript("Init(1, 8, 8, 0, 1, 1);\nSetXSpeed(1, " + std::string(zero) + ");\n");
        EXPECT_EQ(script.layers.at(0).xSpeed, 0.0f) << zero;
    }
    // Small and large values that a float cannot hold are refused, not read as 0 or infinity.
    for (const char* beyond : {"1e-50", "0.1e-45", "-1e-46", "3.5e38", "1e39"}) {
        EXPECT_NE(ErrorOf("Init(1, 8, 8, 0, 1, 1);\nSetXSpeed(1, " + std::string(beyond) + ");\n"), "") << beyond;
    }
    EXPECT_EQ(ParseScript("Init(1, 8, 8, 0, 1, 1);\nSetYSpeed(1, 1e-45);\n").layers.at(0).ySpeed, 1e-45f)
        << "the smallest float there is";

    const std::string names[] = {"my \"best\" petals.png", "\"quoted\".png", "a\"b.png"};
    for (const std::string& name : names) {
        const std::string text = "// sprites 100-107: sheet \"" + name +
                                 "\" (1a2b3c4d), 4 x 2 cells of 48 x 48 px, row by row\n"
                                 "Init(1, 640, 480, 100, 8, 4);\n";
        const Script script = ParseScript(text);
        ASSERT_EQ(script.sheets.size(), 1u) << name;
        EXPECT_EQ(script.sheets[0].name, name);
        EXPECT_EQ(script.sheets[0].hash, "1a2b3c4d") << name;
        // Printed and read back, the name stays whole.
        const Script again = ParseScript(PrintScript(script.layers, script.sheets));
        ASSERT_EQ(again.sheets.size(), 1u) << name;
        EXPECT_EQ(again.sheets[0], script.sheets[0]);
    }
}

TEST(Script, PrintingRefusesASheetNameHashOrCommentThatCannotStandInAComment)
{
    Layer layer;
    layer.base = 100;
    for (const char* name : {"two\nlines.png", "latin\xE9.png", ""}) {
        EXPECT_THROW(PrintScript({layer}, {{100, 8, name, 4, 2, 48, 0, 0, ""}}), ScriptError) << name;
    }
    for (const char* hash : {"1A2B3C4D", "1a2b3c4", "1a2b3c4d5", "1a2b)c4d"}) {
        EXPECT_THROW(PrintScript({layer}, {{100, 8, "a.png", 4, 2, 48, 0, 0, hash}}), ScriptError) << hash;
    }
    // Catches: an author's comment (from a setup file) printed where it reads
    // back as a rate, a sheet, the picture or a heading of the studio's own.
    layer.handle = 1;
    layer.width = layer.height = 8;
    for (const char* comment : {"the engine draws handle 1 with rate 3 each frame", "The  Engine draws it all",
                                "sprites 100-101: sheet \"x.png\", 2 x 1 cells of 4 x 4 px, row by row",
                                "background picture \"sky.png\"", "fine\nLayer 2, handle 1 (hidden in the studio)",
                                "DrawVelora: 3 layers, drawn in this order every frame"}) {
        layer.comments = {comment};
        try {
            PrintScript({layer});
            ADD_FAILURE() << "printed: " << comment;
        } catch (const ScriptError& error) {
            EXPECT_EQ(error.Id(), "script.print_comment") << error.what();
        }
    }
    layer.comments = {"the engine is drawn by hand", "sprites for the sky", "a background picture"};
    EXPECT_EQ(ParseScript(PrintScript({layer})).layers.at(0).comments, layer.comments);
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
// The guide for script authors shows its three worked setups (petals, snow,
// two layers for depth) in this text: each must read back as the layers its
// prose describes, so that pasting it into the studio or the previewer works.
// The code blocks of a guide that make layers, in order, as text.
std::vector<std::string> SetupBlocks(const char* path)
{
    std::ifstream file(path);
    EXPECT_TRUE(file) << path;
    std::stringstream stream;
    stream << file.rdbuf();
    const std::string guide = stream.str();
    std::vector<std::string> blocks;
    for (std::size_t open = guide.find("```\n"); open != std::string::npos;) {
        const std::size_t close = guide.find("```", open + 4);
        if (close == std::string::npos) {
            ADD_FAILURE() << path << ": an unclosed code block";
            break;
        }
        const std::string block = guide.substr(open + 4, close - open - 4);
        if (block.find("Init(") != std::string::npos) {
            blocks.push_back(block);
        }
        open = guide.find("```\n", close + 3);
    }
    return blocks;
}

TEST(Script, TheGuidesWorkedSetupsReadAsTheLayersTheyDescribe)
{
    const std::vector<std::string> blocks = SetupBlocks(VELORA_GUIDE);
    // The Japanese guide shows the very same setups: the tools read them.
    EXPECT_EQ(SetupBlocks(VELORA_GUIDE_JA), blocks);
    std::vector<Script> setups;
    for (const std::string& block : blocks) {
        setups.push_back(ParseScript(block));
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

}  // namespace velora::script
