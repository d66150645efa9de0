// The studio's script calls (hosts/web/script_api.cpp) natively, under
// AddressSanitizer and UndefinedBehaviorSanitizer: the setup JSON the page
// hands over is read by hand, so every malformed or cut-off setup must be
// refused by its reason, and none may read outside its text.
#include <gtest/gtest.h>

#include <random>
#include <string>

extern "C" const char* velora_script_parse(const char* text);
extern "C" const char* velora_script_print(const char* setupJson);

namespace {

const std::string kSetup =
    R"({"layers":[{"handle":3,"width":64,"height":48,"base":100,"count":8,"rotation":4,"type":1,)"
    R"("numof":9,"maxAmp":-5,"xSpeed":0.3,"ySpeed":2e0,"rate":99,"started":true,"hidden":false}],)"
    R"("sheets":[{"base":100,"count":8,"name":"p\u00e9tales \ud83c\udf38 \"8\".png","columns":4,"rows":2,)"
    R"("cell":16,"margin":3,"spacing":1}]})";

TEST(ScriptApi, ASetupPrintsAndEveryBrokenOneIsRefusedByItsReason)
{
    const std::string printed = velora_script_print(kSetup.c_str());
    EXPECT_NE(printed.find(R"(sheet \"pétales 🌸 \"8\".png\", 4 x 2 cells of 16 x 16 px, margin 3, spacing 1)"),
              std::string::npos)
        << printed;
    EXPECT_NE(printed.find(R"(SetYSpeed(3, 2.0);\nStart(3);)"), std::string::npos) << printed;

    const std::pair<const char*, const char*> refused[] = {
        {"", "the end of the text"},
        {R"({"layers":[)", "the end of the text"},
        {R"({"layers":[]} x)", "text after the setup"},
        {R"({"layers":[{"handle":01}]})", "not JSON"},
        {R"({"layers":[{"handle":1e400}]})", "handle is not a whole number"},
        {R"({"layers":[{"handle":null}]})", "handle is not a whole number"},
        {R"({"layers":{}})", "layers is not a list"},
        {R"({"layers":[{"handle":1,"width":1,"height":1,"base":0,"count":1,"rotation":1,"ySpeed":-3.4028236e38}]})",
         "ySpeed is not a number a float can hold"},
        {R"({"sheets":[{"name":"\ud83c"}]})", "half a surrogate pair"},
        {R"({"sheets":[{"name":"\ud83c\u0041"}]})", "half a surrogate pair"},
        {R"({"sheets":[{"name":"\x"}]})", "unknown escape"},
        {R"({"sheets":[{"name":"\u12"}]})", "\\u escape"},
        {"{\"sheets\":[{\"name\":\"a\nb\"}]}", "control character in a string"},
        {R"([[[[[[[[[[[[[[]]]]]]]]]]]]]])", "nested too deep"},
    };
    for (const auto& [setup, reason] : refused) {
        const std::string answer = velora_script_print(setup);
        EXPECT_TRUE(answer.starts_with(R"({"ok":false,"error":")")) << setup << " gave " << answer;
        EXPECT_NE(answer.find(reason), std::string::npos) << setup << " gave " << answer;
    }

    // Every cut and every single changed byte of a good setup is answered
    // with ok true or false, and nothing read outside the text.
    std::mt19937 random(7);
    for (std::size_t cut = 0; cut < kSetup.size(); ++cut) {
        const std::string answer = velora_script_print(kSetup.substr(0, cut).c_str());
        EXPECT_TRUE(answer.starts_with(R"({"ok":false,)")) << cut;
    }
    for (int round = 0; round < 3000; ++round) {
        std::string changed = kSetup;
        changed[random() % changed.size()] = static_cast<char>(1 + random() % 255);
        const std::string answer = velora_script_print(changed.c_str());
        EXPECT_TRUE(answer.starts_with(R"({"ok":)")) << changed;
    }
}

TEST(ScriptApi, AnAnswerIsJsonEvenForBytesThatAreNot)
{
    // Scripts of changed bytes are read or refused, and never read past
    // their text.
    const std::string script = "// the engine draws handle 1 with rate 9 each frame\n"
                               "// sprites 0-3: sheet \"a.png\", 2 x 2 cells of 8 x 8 px, margin 1, row by row\n"
                               "Init(1, 8, 8, 0, 4, 1); SetXSpeed(1, -2.5e-07);\nStart(1);\n";
    std::mt19937 random(11);
    for (int round = 0; round < 3000; ++round) {
        std::string changed = script;
        for (int i = 0; i < 3; ++i) {
            changed[random() % changed.size()] = static_cast<char>(1 + random() % 255);
        }
        EXPECT_TRUE(std::string(velora_script_parse(changed.c_str())).starts_with(R"({"ok":)")) << changed;
    }

    // The refusal in words and as a message: its key and values.
    const std::string answer = velora_script_parse("Init(1, 8, 8, 0, 1, 1);\nStart(\"\\\x01\xFF;\n");
    const std::string quote = R"('Start(\"\\\\x01\\xFF;')";
    const std::string reason =
        R"(a byte that is neither UTF-8 nor Shift_JIS (\\xFF) in a call; calls are written in half-width (ASCII) )"
        R"(characters: )" + quote;
    EXPECT_EQ(answer, R"({"ok":false,"line":2,"column":10,"error":"line 2, column 10: )" + reason + R"(","reason":")" +
                          reason + R"(","key":"script.byte_in_call","values":{"byte":"\\xFF","text":")" + quote +
                          R"("}})");
}

}  // namespace
