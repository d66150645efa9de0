// What the studio page calls to read and print the engine's script: the
// same reader and printer the previewer uses, with JSON between them and the
// page (studio/page/grammar.js wraps both calls).
//
// velora_script_parse(text), and velora_script_parse_within(text, maxLayers,
// maxParticles) with the studio's limits, answer
//   {"ok":true,"layers":[...],"sheets":[...],"calls":[...],"notes":[...]}
// with "picture":{"name":...,"hash":...} after the sheets where a comment
// names the studio's picture behind the effect
// or {"ok":false,"line":N,"column":C,"error":"line N, column C: reason",
//     "reason":"reason","key":"script.not_call","values":{"text":"'...'"}}
// (column 0 and "line N: reason" when the reason names no character; line
// 0 and the reason alone for the script as a whole).
// velora_script_print(setup), setup being {"layers":[...],"sheets":[...]}
// (and "picture":{"name":...,"hash":...} where there is one) in
// the shape parse gives, answers {"ok":true,"text":"..."} or
// {"ok":false,"error":"reason","key":...,"values":{...}}: a sheet name that
// cannot stand in a script has its own key; a setup of the wrong shape
// (which the page never sends) is "script.setup" with the English detail.
// key and values are the reason as a message the page words in its own
// language (the script.* texts of studio/page/lang/): values are strings
// and numbers, and the values "kind" and "field" are words, given by key
// ("script.char.space"). The answer stays valid until the next call.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "script/script.h"

namespace {

using velora::script::Layer;
using velora::script::MessageValue;
using velora::script::Sheet;

std::string answer;

void AppendString(std::string& out, std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20) {
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        } else {
            out += c;
        }
    }
    out += '"';
}

void AppendField(std::string& out, const char* key, const std::string& value)
{
    out += out.back() == '{' ? "\"" : ",\"";
    out += key;
    out += "\":";
    out += value;
}

std::string Text(std::string_view text)
{
    std::string out;
    AppendString(out, text);
    return out;
}

// The reason as a message: its "key" and its "values".
void AppendMessage(std::string& out, const std::string& key, const std::vector<MessageValue>& values)
{
    AppendField(out, "key", Text(key));
    std::string object = "{";
    for (const MessageValue& value : values) {
        AppendField(object, value.name.c_str(),
                    value.kind == MessageValue::Kind::Number ? std::to_string(value.number) : Text(value.text));
    }
    AppendField(out, "values", object + "}");
}

std::string LayerJson(const Layer& layer)
{
    using std::to_string;
    std::string out = "{";
    AppendField(out, "handle", to_string(layer.handle));
    AppendField(out, "width", to_string(layer.width));
    AppendField(out, "height", to_string(layer.height));
    AppendField(out, "base", to_string(layer.base));
    AppendField(out, "count", to_string(layer.count));
    AppendField(out, "rotation", to_string(layer.rotation));
    AppendField(out, "type", to_string(layer.type));
    AppendField(out, "numof", to_string(layer.numof));
    AppendField(out, "spawned", to_string(layer.spawned));
    AppendField(out, "maxAmp", to_string(layer.maxAmp));
    AppendField(out, "xSpeed", velora::script::FloatText(layer.xSpeed));
    AppendField(out, "ySpeed", velora::script::FloatText(layer.ySpeed));
    AppendField(out, "rate", to_string(layer.rate));
    AppendField(out, "started", layer.started ? "true" : "false");
    AppendField(out, "hidden", layer.hidden ? "true" : "false");
    std::string comments = "[";
    for (const std::string& comment : layer.comments) {
        comments += comments.size() > 1 ? "," : "";
        AppendString(comments, comment);
    }
    AppendField(out, "comments", comments + "]");
    return out + "}";
}

std::string SheetJson(const Sheet& sheet)
{
    using std::to_string;
    std::string out = "{";
    AppendField(out, "base", to_string(sheet.base));
    AppendField(out, "count", to_string(sheet.count));
    AppendField(out, "name", Text(sheet.name));
    AppendField(out, "columns", to_string(sheet.columns));
    AppendField(out, "rows", to_string(sheet.rows));
    AppendField(out, "cell", to_string(sheet.cell));
    AppendField(out, "margin", to_string(sheet.margin));
    AppendField(out, "spacing", to_string(sheet.spacing));
    if (!sheet.hash.empty()) {
        AppendField(out, "hash", Text(sheet.hash));
    }
    return out + "}";
}

std::string CallJson(const velora::script::Call& call)
{
    using velora::script::Op;
    std::string args = "[";
    const int count = call.op == Op::Init ? 5 : call.op == Op::Start || call.op == Op::Release ? 0 : 1;
    for (int i = 0; i < count; ++i) {
        args += i ? "," : "";
        args += call.op == Op::SetXSpeed || call.op == Op::SetYSpeed ? velora::script::FloatText(call.speed)
                                                                     : std::to_string(call.args[i]);
    }
    std::string out = "{";
    AppendField(out, "op", Text(velora::script::OpName(call.op)));
    AppendField(out, "handle", std::to_string(call.handle));
    AppendField(out, "args", args + "]");
    AppendField(out, "line", std::to_string(call.line));
    return out + "}";
}

template <typename T, typename F>
std::string List(const std::vector<T>& items, F toJson)
{
    std::string out = "[";
    for (const T& item : items) {
        out += out.size() > 1 ? "," : "";
        out += toJson(item);
    }
    return out + "]";
}

// The setup the page passes: a JSON value read into a tree, no deeper than
// a setup goes.
struct Value {
    enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
    bool flag = false;
    double number = 0.0;
    std::string text;
    std::vector<Value> items;         // an array's, or an object's values
    std::vector<std::string> names;   // an object's names, one for each of items

    const Value* Find(std::string_view key) const;
};

const Value* Value::Find(std::string_view key) const
{
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == key) {
            return &items[i];
        }
    }
    return nullptr;
}

class JsonReader {
public:
    explicit JsonReader(std::string_view text) : text_(text) {}

    Value Document()
    {
        Value value = Read(0);
        Blank();
        if (at_ != text_.size()) {
            Wrong("text after the setup");
        }
        return value;
    }

private:
    static constexpr int kMaxDepth = 8;

    [[noreturn]] void Wrong(const std::string& what) const
    {
        throw std::runtime_error("the setup is not JSON of the expected shape: " + what + " at byte " +
                                 std::to_string(at_));
    }

    void Blank()
    {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }

    bool Take(char c)
    {
        Blank();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }

    bool Word(std::string_view word)
    {
        if (text_.substr(at_).starts_with(word)) {
            at_ += word.size();
            return true;
        }
        return false;
    }

    Value Read(int depth)
    {
        if (depth > kMaxDepth) {
            Wrong("values nested too deep");
        }
        Blank();
        Value value;
        if (at_ >= text_.size()) {
            Wrong("the end of the text");
        }
        const char c = text_[at_];
        if (c == '{') {
            ++at_;
            value.kind = Value::Kind::Object;
            if (Take('}')) {
                return value;
            }
            do {
                Blank();
                if (at_ >= text_.size() || text_[at_] != '"') {
                    Wrong("a member without a quoted name");
                }
                std::string name = String();
                if (!Take(':')) {
                    Wrong("a member without ':'");
                }
                value.names.push_back(std::move(name));
                value.items.push_back(Read(depth + 1));
            } while (Take(','));
            if (!Take('}')) {
                Wrong("an object without its '}'");
            }
        } else if (c == '[') {
            ++at_;
            value.kind = Value::Kind::Array;
            if (Take(']')) {
                return value;
            }
            do {
                value.items.push_back(Read(depth + 1));
            } while (Take(','));
            if (!Take(']')) {
                Wrong("an array without its ']'");
            }
        } else if (c == '"') {
            value.kind = Value::Kind::String;
            value.text = String();
        } else if (Word("true")) {
            value.kind = Value::Kind::Bool;
            value.flag = true;
        } else if (Word("false")) {
            value.kind = Value::Kind::Bool;
        } else if (Word("null")) {
            value.kind = Value::Kind::Null;
        } else {
            value.kind = Value::Kind::Number;
            value.number = Number();
        }
        return value;
    }

    double Number()
    {
        const std::size_t start = at_;
        while (at_ < text_.size() && std::string_view("+-0123456789.eE").find(text_[at_]) != std::string_view::npos) {
            ++at_;
        }
        const std::string token(text_.substr(start, at_ - start));
        // JSON's number: -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
        std::size_t i = token.starts_with('-') ? 1 : 0;
        const auto digits = [&]() {
            const std::size_t first = i;
            while (i < token.size() && token[i] >= '0' && token[i] <= '9') {
                ++i;
            }
            return i - first;
        };
        const std::size_t whole = i;
        bool valid = digits() > 0 && !(token[whole] == '0' && i - whole > 1);
        if (valid && i < token.size() && token[i] == '.') {
            ++i;
            valid = digits() > 0;
        }
        if (valid && i < token.size() && (token[i] == 'e' || token[i] == 'E')) {
            ++i;
            if (i < token.size() && (token[i] == '+' || token[i] == '-')) {
                ++i;
            }
            valid = digits() > 0;
        }
        if (!valid || i != token.size()) {
            at_ = start;
            Wrong("a value that is not JSON");
        }
        return std::strtod(token.c_str(), nullptr);  // (beyond double's range: infinity, refused by its reader)
    }

    unsigned Hex4()
    {
        if (at_ + 4 > text_.size()) {
            Wrong("a short \\u escape");
        }
        unsigned code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                                : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (digit < 0) {
                Wrong("a \\u escape that is not hexadecimal");
            }
            code = code * 16 + static_cast<unsigned>(digit);
        }
        return code;
    }

    std::string String()
    {
        ++at_;  // the opening quote
        std::string out;
        while (true) {
            if (at_ >= text_.size()) {
                Wrong("a string without its closing quote");
            }
            const char c = text_[at_++];
            if (c == '"') {
                return out;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                Wrong("a control character in a string");
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) {
                Wrong("a string without its closing quote");
            }
            const char escape = text_[at_++];
            const std::string_view simple = "\"\\/bfnrt";
            const std::string_view meant = "\"\\/\b\f\n\r\t";
            if (const auto where = simple.find(escape); where != std::string_view::npos) {
                out += meant[where];
                continue;
            }
            if (escape != 'u') {
                Wrong("an unknown escape in a string");
            }
            unsigned code = Hex4();
            if (code >= 0xD800 && code <= 0xDBFF) {
                if (!Word("\\u")) {
                    Wrong("half a surrogate pair");
                }
                const unsigned low = Hex4();
                if (low < 0xDC00 || low > 0xDFFF) {
                    Wrong("half a surrogate pair");
                }
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            } else if (code >= 0xDC00 && code <= 0xDFFF) {
                Wrong("half a surrogate pair");
            }
            const auto put = [&](unsigned bits) { out += static_cast<char>(bits); };
            if (code < 0x80) {
                put(code);
            } else if (code < 0x800) {
                put(0xC0 | (code >> 6));
                put(0x80 | (code & 0x3F));
            } else if (code < 0x10000) {
                put(0xE0 | (code >> 12));
                put(0x80 | ((code >> 6) & 0x3F));
                put(0x80 | (code & 0x3F));
            } else {
                put(0xF0 | (code >> 18));
                put(0x80 | ((code >> 12) & 0x3F));
                put(0x80 | ((code >> 6) & 0x3F));
                put(0x80 | (code & 0x3F));
            }
        }
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

// A field of one layer or sheet of the setup, checked as the script would
// hold it.
class Fields {
public:
    Fields(const Value& object, std::string where) : object_(object), where_(std::move(where))
    {
        if (object.kind != Value::Kind::Object) {
            throw std::runtime_error(where_ + " is not an object");
        }
    }

    std::int32_t Whole(const char* key, std::int32_t otherwise, bool required = false,
                       std::int64_t least = INT32_MIN, std::int64_t most = INT32_MAX) const
    {
        const Value* value = Get(key, required);
        if (!value) {
            return otherwise;
        }
        if (value->kind != Value::Kind::Number || std::floor(value->number) != value->number ||
            value->number < static_cast<double>(least) || value->number > static_cast<double>(most)) {
            throw std::runtime_error(where_ + "." + key + " is not a whole number from " + std::to_string(least) +
                                     " to " + std::to_string(most));
        }
        return static_cast<std::int32_t>(value->number);
    }

    float Speed(const char* key, float otherwise) const
    {
        const Value* value = Get(key, false);
        if (!value) {
            return otherwise;
        }
        // A double beyond the float's largest rounds to it up to half a unit
        // past it (the shortest text of that float lies there); beyond that
        // it would round to infinity. Neither may be converted as it is.
        const double largest = std::numeric_limits<float>::max();
        const double halfUnit = std::ldexp(1.0, 103);
        if (value->kind != Value::Kind::Number || !(std::fabs(value->number) < largest + halfUnit)) {
            throw std::runtime_error(where_ + "." + key + " is not a number a float can hold");
        }
        return std::fabs(value->number) <= largest ? static_cast<float>(value->number)
                                                   : static_cast<float>(std::copysign(largest, value->number));
    }

    bool Flag(const char* key, bool otherwise) const
    {
        const Value* value = Get(key, false);
        if (!value) {
            return otherwise;
        }
        if (value->kind != Value::Kind::Bool) {
            throw std::runtime_error(where_ + "." + key + " is not true or false");
        }
        return value->flag;
    }

    // A list of strings; none when the field is missing.
    std::vector<std::string> Texts(const char* key) const
    {
        const Value* value = Get(key, false);
        if (!value) {
            return {};
        }
        const auto isText = [](const Value& item) { return item.kind == Value::Kind::String; };
        if (value->kind != Value::Kind::Array || !std::all_of(value->items.begin(), value->items.end(), isText)) {
            throw std::runtime_error(where_ + "." + key + " is not a list of strings");
        }
        std::vector<std::string> texts;
        for (const Value& item : value->items) {
            texts.push_back(item.text);
        }
        return texts;
    }

    std::string Text(const char* key, bool required = true) const
    {
        const Value* value = Get(key, required);
        if (!value) {
            return {};
        }
        if (value->kind != Value::Kind::String) {
            throw std::runtime_error(where_ + "." + key + " is not a string");
        }
        return value->text;
    }

private:
    const Value* Get(const char* key, bool required) const
    {
        // (null is a value, and the wrong kind: NaN and the infinities
        // reach JSON as null, and must not pass for a missing field.)
        const Value* value = object_.Find(key);
        if (!value && required) {
            throw std::runtime_error(where_ + " has no " + key);
        }
        return value;
    }

    const Value& object_;
    std::string where_;
};

const std::vector<Value>& Items(const Value& setup, const char* key)
{
    static const std::vector<Value> none;
    const Value* list = setup.Find(key);
    if (!list || list->kind == Value::Kind::Null) {
        return none;
    }
    if (list->kind != Value::Kind::Array) {
        throw std::runtime_error(std::string("the setup's ") + key + " is not a list");
    }
    return list->items;
}

std::string Print(std::string_view setupText)
{
    const Value setup = JsonReader(setupText).Document();
    if (setup.kind != Value::Kind::Object) {
        throw std::runtime_error("the setup is not an object with layers and sheets");
    }
    std::vector<Layer> layers;
    for (const Value& item : Items(setup, "layers")) {
        const Fields fields(item, "layers[" + std::to_string(layers.size()) + "]");
        Layer layer;
        layer.handle = fields.Whole("handle", 0, true);
        layer.width = fields.Whole("width", 0, true);
        layer.height = fields.Whole("height", 0, true);
        layer.base = fields.Whole("base", 0, true);
        layer.count = fields.Whole("count", 0, true);
        layer.rotation = fields.Whole("rotation", 0, true);
        layer.type = fields.Whole("type", layer.type);
        layer.numof = fields.Whole("numof", layer.numof);
        layer.maxAmp = fields.Whole("maxAmp", layer.maxAmp);
        layer.xSpeed = fields.Speed("xSpeed", layer.xSpeed);
        layer.ySpeed = fields.Speed("ySpeed", layer.ySpeed);
        layer.rate = fields.Whole("rate", layer.rate, false, 0, 255);
        layer.spawned = fields.Whole("spawned", layer.numof);
        layer.started = fields.Flag("started", true);
        layer.hidden = fields.Flag("hidden", false);
        layer.comments = fields.Texts("comments");
        layers.push_back(layer);
    }
    std::vector<Sheet> sheets;
    for (const Value& item : Items(setup, "sheets")) {
        const Fields fields(item, "sheets[" + std::to_string(sheets.size()) + "]");
        Sheet sheet;
        sheet.base = fields.Whole("base", 0, true, 0);
        sheet.count = fields.Whole("count", 0, true, 1, INT32_MAX - std::int64_t{sheet.base});
        sheet.name = fields.Text("name");
        sheet.columns = fields.Whole("columns", 0, true, 1);
        sheet.rows = fields.Whole("rows", 0, true, 1);
        sheet.cell = fields.Whole("cell", 0, true, 1);
        sheet.margin = fields.Whole("margin", 0, false, 0);
        sheet.spacing = fields.Whole("spacing", 0, false, 0);
        sheet.hash = fields.Text("hash", false);
        sheets.push_back(sheet);
    }
    velora::script::Picture picture;
    if (const Value* given = setup.Find("picture"); given && given->kind != Value::Kind::Null) {
        const Fields fields(*given, "picture");
        picture.name = fields.Text("name");
        picture.hash = fields.Text("hash", false);
    }
    return velora::script::PrintScript(layers, sheets, picture);
}

}  // namespace

extern "C" {

// Reads a script within the studio's limits (below 0: none); the answer is
// JSON (see above).
const char* velora_script_parse_within(const char* text, int maxLayers, int maxParticles)
{
    try {
        velora::script::Limits limits;
        limits.layers = maxLayers < 0 ? limits.layers : maxLayers;
        limits.particles = maxParticles < 0 ? limits.particles : maxParticles;
        const velora::script::Script script = velora::script::ParseScript(text ? text : "", limits);
        answer = "{\"ok\":true";
        AppendField(answer, "layers", List(script.layers, LayerJson));
        AppendField(answer, "sheets", List(script.sheets, SheetJson));
        if (!script.picture.name.empty()) {
            AppendField(answer, "picture",
                        "{\"name\":" + Text(script.picture.name) + ",\"hash\":" + Text(script.picture.hash) + "}");
        }
        AppendField(answer, "calls", List(script.calls, CallJson));
        AppendField(answer, "notes", List(script.notes, Text));
        answer += "}";
    } catch (const velora::script::ScriptError& error) {
        answer = "{\"ok\":false";
        AppendField(answer, "line", std::to_string(error.Line()));
        AppendField(answer, "column", std::to_string(error.Column()));
        AppendField(answer, "error", Text(error.what()));
        AppendField(answer, "reason", Text(error.Reason()));
        AppendMessage(answer, error.Id(), error.Values());
        answer += "}";
    } catch (const std::exception&) {
        answer = "{\"ok\":false,\"line\":0,\"column\":0,\"error\":\"not enough memory to read the script\","
                 "\"reason\":\"not enough memory to read the script\",\"key\":\"script.no_memory_read\",\"values\":{}}";
    }
    return answer.c_str();
}

// Reads a script; the answer is JSON (see above).
const char* velora_script_parse(const char* text) { return velora_script_parse_within(text, -1, -1); }

// Prints the script of a setup; the answer is JSON (see above).
const char* velora_script_print(const char* setupJson)
{
    try {
        const std::string text = Print(setupJson ? setupJson : "");
        answer = "{\"ok\":true";
        AppendField(answer, "text", Text(text));
        answer += "}";
    } catch (const std::bad_alloc&) {
        answer = "{\"ok\":false,\"error\":\"not enough memory to print the script\","
                 "\"key\":\"script.no_memory_print\",\"values\":{}}";
    } catch (const velora::script::ScriptError& error) {
        answer = "{\"ok\":false";
        AppendField(answer, "error", Text(error.what()));
        AppendMessage(answer, error.Id(), error.Values());
        answer += "}";
    } catch (const std::exception& error) {
        answer = "{\"ok\":false";
        AppendField(answer, "error", Text(error.what()));
        AppendMessage(answer, "script.setup", {MessageValue::Of("detail", error.what())});
        answer += "}";
    }
    return answer.c_str();
}

}  // extern "C"
