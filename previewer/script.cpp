#include "previewer/script.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <map>
#include <optional>
#include <sstream>

#include "previewer/options.h"

namespace velora::preview {
namespace {

struct Signature {
    const char* name;
    Op op;
    int arguments;  // after the handle
};

constexpr Signature kCalls[] = {
    {"Init", Op::Init, 5},         {"SetType", Op::SetType, 1},     {"SetNumof", Op::SetNumof, 1},
    {"SetMaxAmp", Op::SetMaxAmp, 1}, {"SetXSpeed", Op::SetXSpeed, 1}, {"SetYSpeed", Op::SetYSpeed, 1},
    {"Start", Op::Start, 0},       {"Release", Op::Release, 0},
};

std::string Trim(const std::string& text)
{
    const auto begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) {
        return "";
    }
    return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

[[noreturn]] void Fail(int line, const std::string& why)
{
    throw UsageError("line " + std::to_string(line) + ": " + why);
}

std::int32_t WholeNumber(int line, const std::string& text)
{
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < INT32_MIN || value > INT32_MAX) {
        Fail(line, "'" + text + "' is not a 32-bit whole number");
    }
    return static_cast<std::int32_t>(value);
}

float Speed(int line, const std::string& text)
{
    float value = 0.0f;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value)) {
        Fail(line, "'" + text + "' is not a number a float can hold");
    }
    return value;
}

Call ParseCall(int line, const std::string& text)
{
    // Name(arguments) with an optional semicolon: letters, then one pair of
    // brackets holding no bracket.
    std::size_t nameEnd = 0;
    while (nameEnd < text.size() && std::isalpha(static_cast<unsigned char>(text[nameEnd]))) {
        ++nameEnd;
    }
    const std::size_t open = text.find_first_not_of(" \t", nameEnd);
    const std::size_t close = text.find(')', open == std::string::npos ? 0 : open);
    const std::string after = close == std::string::npos ? std::string() : Trim(text.substr(close + 1));
    if (nameEnd == 0 || open == std::string::npos || text[open] != '(' || close == std::string::npos ||
        text.find('(', open + 1) < close || !(after.empty() || after == ";")) {
        Fail(line, "expected a call such as Start(1); not '" + text + "'");
    }
    const std::string name = text.substr(0, nameEnd);
    const std::string argumentText = text.substr(open + 1, close - open - 1);
    const auto signature = std::find_if(std::begin(kCalls), std::end(kCalls),
                                        [&](const Signature& s) { return name == s.name; });
    if (signature == std::end(kCalls)) {
        Fail(line, "unknown call " + name + " (the script's calls are Init, SetType, SetNumof, SetMaxAmp, "
                   "SetXSpeed, SetYSpeed, Start and Release)");
    }
    std::vector<std::string> arguments;
    std::stringstream list(argumentText);
    for (std::string argument; std::getline(list, argument, ',');) {
        arguments.push_back(Trim(argument));
    }
    if (arguments.size() == 1 && arguments[0].empty()) {
        arguments.clear();
    }
    if (static_cast<int>(arguments.size()) != signature->arguments + 1) {
        Fail(line, name + " takes " + std::to_string(signature->arguments + 1) + " argument" +
                       (signature->arguments ? "s" : "") + ", not " + std::to_string(arguments.size()));
    }
    Call call;
    call.op = signature->op;
    call.line = line;
    call.handle = WholeNumber(line, arguments[0]);
    if (call.op == Op::SetXSpeed || call.op == Op::SetYSpeed) {
        call.speed = Speed(line, arguments[1]);
    } else {
        for (int i = 0; i < signature->arguments; ++i) {
            call.args[i] = WholeNumber(line, arguments[static_cast<std::size_t>(i) + 1]);
        }
    }
    return call;
}

// The studio's drawing-order comment: "... the engine draws handle H with
// rate R ...", H an optionally negative whole number, R a whole number.
bool DrawingOrderNote(const std::string& note, std::string& handle, std::string& rate)
{
    static constexpr char kHandle[] = "the engine draws handle ";
    static constexpr char kRate[] = " with rate ";
    const auto digits = [](const std::string& text, std::size_t from, bool sign) {
        std::size_t end = from + (sign && from < text.size() && text[from] == '-' ? 1 : 0);
        const std::size_t first = end;
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) {
            ++end;
        }
        return end > first ? end : std::string::npos;
    };
    for (std::size_t at = note.find(kHandle); at != std::string::npos; at = note.find(kHandle, at + 1)) {
        const std::size_t handleStart = at + sizeof kHandle - 1;
        const std::size_t handleEnd = digits(note, handleStart, true);
        if (handleEnd == std::string::npos || note.compare(handleEnd, sizeof kRate - 1, kRate) != 0) {
            continue;
        }
        const std::size_t rateStart = handleEnd + sizeof kRate - 1;
        const std::size_t rateEnd = digits(note, rateStart, false);
        if (rateEnd == std::string::npos) {
            continue;
        }
        handle = note.substr(handleStart, handleEnd - handleStart);
        rate = note.substr(rateStart, rateEnd - rateStart);
        return true;
    }
    return false;
}

}  // namespace

Script ParseScript(const std::string& text)
{
    Script script;
    std::map<std::int32_t, Layer> live;  // handles with an instance, as the calls so far leave them
    std::vector<std::int32_t> initOrder;
    std::vector<std::pair<std::int32_t, int>> drawOrder;  // handle, line
    std::map<std::int32_t, std::int32_t> rates;
    std::map<std::int32_t, std::int32_t> spawned;  // by each handle's last Start
    std::istringstream lines(text);
    int number = 0;
    for (std::string raw; std::getline(lines, raw);) {
        ++number;
        std::string line = Trim(raw);
        const auto comment = line.find("//");
        if (comment != std::string::npos) {
            std::string handleText;
            std::string rateText;
            if (DrawingOrderNote(line.substr(comment), handleText, rateText)) {
                const std::int32_t handle = WholeNumber(number, handleText);
                const std::int32_t rate = WholeNumber(number, rateText);
                if (rate > 255) {
                    Fail(number, "rate " + rateText + " is above 255");
                }
                if (!rates.contains(handle)) {
                    drawOrder.emplace_back(handle, number);
                }
                rates[handle] = rate;
            }
            line = Trim(line.substr(0, comment));
        }
        if (line.empty()) {
            continue;
        }
        const Call call = ParseCall(number, line);
        const auto found = live.find(call.handle);
        if (call.op != Op::Init && call.op != Op::Release && found == live.end()) {
            Fail(number, "handle " + std::to_string(call.handle) + " has no Init before this call");
        }
        switch (call.op) {
        case Op::Init:
            if (found == live.end()) {
                // The plug-in keeps an instance that already exists; a new one starts from defaults.
                if (call.args[0] < 1 || call.args[0] > 4096 || call.args[1] < 1 || call.args[1] > 4096) {
                    Fail(number, "the previewer draws fields of 1 to 4096 pixels a side, not " +
                                     std::to_string(call.args[0]) + " x " + std::to_string(call.args[1]));
                }
                Layer layer;
                layer.handle = call.handle;
                layer.width = call.args[0];
                layer.height = call.args[1];
                layer.base = call.args[2];
                layer.count = call.args[3];
                layer.rotation = call.args[4];
                live[call.handle] = layer;
                if (std::find(initOrder.begin(), initOrder.end(), call.handle) == initOrder.end()) {
                    initOrder.push_back(call.handle);
                }
            }
            break;
        case Op::SetType: found->second.type = call.args[0]; break;
        case Op::SetNumof: found->second.numof = call.args[0]; break;
        case Op::SetMaxAmp: found->second.maxAmp = call.args[0]; break;
        case Op::SetXSpeed: found->second.xSpeed = call.speed; break;
        case Op::SetYSpeed: found->second.ySpeed = call.speed; break;
        case Op::Start:
            if (found->second.numof > 100000) {
                Fail(number, "Start would spawn " + std::to_string(found->second.numof) +
                                 " particles; the previewer draws at most 100000 per handle");
            }
            found->second.started = true;
            spawned[call.handle] = found->second.numof;
            break;
        case Op::Release:
            if (found != live.end()) {
                live.erase(found);
            }
            break;
        }
        script.calls.push_back(call);
    }
    if (script.calls.empty()) {
        throw UsageError("the script has no calls (Init, the setters, Start)");
    }
    std::vector<std::int32_t> order;
    for (const auto& [handle, line] : drawOrder) {
        if (!live.contains(handle)) {
            Fail(line, "the engine draws handle " + std::to_string(handle) + ", which has no Init in the script" +
                           (std::find(initOrder.begin(), initOrder.end(), handle) != initOrder.end()
                                ? " left (it is released)"
                                : ""));
        }
        order.push_back(handle);
    }
    for (const std::int32_t handle : initOrder) {
        if (live.contains(handle) && std::find(order.begin(), order.end(), handle) == order.end()) {
            script.notes.push_back("no comment says how the engine draws handle " + std::to_string(handle) +
                                   ": it is drawn after the others, with rate 255");
            order.push_back(handle);
        }
    }
    for (const std::int32_t handle : order) {
        Layer layer = live.at(handle);
        if (layer.started) {
            layer.numof = spawned.at(handle);  // a later SetNumof waits for a Start that never comes
        }
        layer.rate = rates.contains(handle) ? rates.at(handle) : 255;
        if (!layer.started) {
            script.notes.push_back("handle " + std::to_string(handle) + " is never started: it draws nothing");
        }
        script.layers.push_back(layer);
    }
    return script;
}

std::string FloatText(float value)
{
    char text[64];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    std::string result(text, error == std::errc() ? end : text);
    if (result.find_first_of(".en") == std::string::npos) {
        result += ".0";
    }
    return result;
}

std::string PrintScript(const std::vector<Layer>& layers)
{
    std::ostringstream out;
    const std::size_t count = layers.size();
    out << "// DrawVelora: " << count << " layer" << (count == 1 ? "" : "s") << ", drawn in this order every frame\n";
    for (std::size_t index = 0; index < count; ++index) {
        const Layer& layer = layers[index];
        const std::int32_t h = layer.handle;
        const char* place = count == 1 ? "" : index == 0 ? " (drawn first, furthest back)"
                                          : index == count - 1 ? " (drawn last, in front)" : "";
        out << "\n// Layer " << index + 1 << ", handle " << h << place << "\n"
            << "Init(" << h << ", " << layer.width << ", " << layer.height << ", " << layer.base << ", " << layer.count
            << ", " << layer.rotation << ");\n"
            << "SetType(" << h << ", " << layer.type << ");\n"
            << "SetNumof(" << h << ", " << layer.numof << ");\n"
            << "SetMaxAmp(" << h << ", " << layer.maxAmp << ");\n"
            << "SetXSpeed(" << h << ", " << FloatText(layer.xSpeed) << ");\n"
            << "SetYSpeed(" << h << ", " << FloatText(layer.ySpeed) << ");\n";
        if (layer.started) {
            out << "Start(" << h << ");\n";
        }
        out << "// the engine draws handle " << h << " with rate " << layer.rate << " each frame\n";
    }
    return out.str();
}

}  // namespace velora::preview
