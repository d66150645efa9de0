// The libFuzzer target of the script reader: the input is a script, as a
// person pastes it into the studio or hands it to velora_previewer --script.
//
// What it reads, when it leaves a layer to draw, must print and read back to the same setup: the text
// printed from it reads again without a refusal, to the same layers (every
// setting, the rate, the hidden mark and the author's comments), the same
// sheets and the same picture, and prints again byte for byte. A refusal is
// a ScriptError with a line inside the script and a reason; anything else
// thrown is a fault.
//
// It exists to catch: a read past the end of the text or of a line (a
// trailing "//", a cut UTF-8 or Shift_JIS sequence, a call without its ")"),
// overflow in the numbers and the limits' sums, a comment or sheet name the
// printer writes so that it reads back otherwise (a line break, a quote), a
// float printed with too few digits, and a refusal thrown as something
// other than a ScriptError. Memory errors and undefined behaviour are the
// sanitizers' to report, hangs libFuzzer's (-timeout).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "script/script.h"

namespace {

using namespace velora::script;

[[noreturn]] void Fail(const std::string& why, const std::string& printed)
{
    std::fprintf(stderr, "velora_fuzz_script: FAULT: %s\n--- printed ---\n%s--- end ---\n", why.c_str(),
                 printed.c_str());
    std::abort();
}

bool SameFloat(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The first setting in which two layers differ, or empty.
std::string Difference(const Layer& a, const Layer& b)
{
    const struct {
        const char* name;
        std::int32_t first, second;
    } numbers[] = {
        {"handle", a.handle, b.handle},     {"width", a.width, b.width},    {"height", a.height, b.height},
        {"base", a.base, b.base},           {"count", a.count, b.count},    {"rotation", a.rotation, b.rotation},
        {"type", a.type, b.type},           {"numof", a.numof, b.numof},    {"spawned", a.spawned, b.spawned},
        {"maxAmp", a.maxAmp, b.maxAmp},     {"rate", a.rate, b.rate},       {"started", a.started, b.started},
        {"hidden", a.hidden, b.hidden},
    };
    for (const auto& number : numbers) {
        if (number.first != number.second) {
            return std::string(number.name) + " " + std::to_string(number.first) + " became " +
                   std::to_string(number.second);
        }
    }
    if (!SameFloat(a.xSpeed, b.xSpeed) || !SameFloat(a.ySpeed, b.ySpeed)) {
        return "a speed changed";
    }
    if (a.comments != b.comments) {
        return "the comments changed";
    }
    return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Script first;
    try {
        first = ParseScript(text);
    } catch (const ScriptError& error) {
        // At most one line a line end (LF, CRLF or a lone CR) and one more.
        const auto lines =
            static_cast<int>(std::count(text.begin(), text.end(), '\n') + std::count(text.begin(), text.end(), '\r')) + 1;
        if (error.Line() < 0 || error.Line() > lines || error.Column() < 0 || error.Reason().empty() ||
            error.Id().empty()) {
            Fail("a refusal without a place in the script or a reason: " + std::string(error.what()), {});
        }
        return 0;
    }
    if (first.layers.empty()) {
        return 0;  // every handle released: nothing is left to print (the previewer refuses it by name)
    }
    std::string printed;
    try {
        printed = PrintScript(first.layers, first.sheets, first.picture);
    } catch (const ScriptError&) {
        return 0;  // a sheet name no comment can hold: refused with its reason
    }
    Script second;
    try {
        second = ParseScript(printed);
    } catch (const ScriptError& error) {
        Fail(std::string("what was printed is refused: ") + error.what(), printed);
    }
    if (first.layers.size() != second.layers.size()) {
        Fail("the number of layers changed", printed);
    }
    for (std::size_t i = 0; i < first.layers.size(); ++i) {
        const std::string difference = Difference(first.layers[i], second.layers[i]);
        if (!difference.empty()) {
            Fail("layer " + std::to_string(i + 1) + ": " + difference, printed);
        }
    }
    for (const Sheet& sheet : second.sheets) {
        if (std::find(first.sheets.begin(), first.sheets.end(), sheet) == first.sheets.end()) {
            Fail("a sheet read back is not one of those read: " + sheet.name, printed);
        }
    }
    if (!(first.picture == second.picture)) {
        Fail("the picture changed", printed);
    }
    std::string again;
    try {
        again = PrintScript(second.layers, second.sheets, second.picture);
    } catch (const ScriptError& error) {
        Fail(std::string("what was read back cannot be printed: ") + error.what(), printed);
    }
    if (again != printed) {
        Fail("printed again, the text differs:\n" + again, printed);
    }
    return 0;
}
