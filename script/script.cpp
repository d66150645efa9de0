// The script's reader and printer. The reader goes line by line: each call
// is parsed and run against the layers read so far, each comment taken for
// one of the studio's notes or kept as the author's; every error carries
// its line, its column and a message id the studio's catalogs translate.
#include "script/script.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <utility>

namespace velora::script {
namespace {

using Value = MessageValue;

// The English of every message and of the words they hold, by id. {name}
// is the value of that name (a word in its English); a message with a form
// for one takes it when its value "count" is 1. The studio's catalogs hold
// the same texts under the same ids (studio/page/lang/).
struct English {
    std::string_view id;
    std::string_view text;
    std::string_view one = {};
};

constexpr English kEnglish[] = {
    {"script.too_large", "the script is larger than {bytes} bytes (1 MB), far beyond any real one"},
    {"script.no_calls", "the script has no calls: Init, the setters, Start"},
    {"script.utf16", "the script is saved as UTF-16: save it as UTF-8 or Shift_JIS (ANSI in Notepad)"},
    {"script.not_call", "expected a call such as Start(1); not {text}"},
    {"script.unknown_call", "unknown call {name} (the script's calls are Init, SetType, SetNumof, SetMaxAmp, "
                            "SetXSpeed, SetYSpeed, Start and Release)"},
    {"script.argument_count", "{call} takes {count} arguments, not {given}",
     "{call} takes {count} argument, not {given}"},
    {"script.not_whole", "{text} is not a 32-bit whole number"},
    {"script.not_float", "{text} is not a number a float can hold"},
    {"script.char_in_call", "{kind} ({code}) in a call; calls are written in half-width (ASCII) characters: {text}"},
    {"script.sjis_in_call",
     "{kind} in Shift_JIS ({code}, bytes {bytes}) in a call; calls are written in half-width (ASCII) characters: "
     "{text}"},
    {"script.sjis_other_in_call",
     "a Shift_JIS character (bytes {bytes}) in a call; calls are written in half-width (ASCII) characters: {text}"},
    {"script.byte_in_call",
     "a byte that is neither UTF-8 nor Shift_JIS ({byte}) in a call; calls are written in half-width (ASCII) "
     "characters: {text}"},
    {"script.char.space", "a full-width space"},
    {"script.char.digit", "a full-width digit"},
    {"script.char.letter", "a full-width letter"},
    {"script.char.punctuation", "full-width punctuation"},
    {"script.char.other", "a character that is not ASCII"},
    {"script.rate_form", "a rate comment reads {form}, not {text}"},
    {"script.rate_range", "the rate is a whole number from 0 to 255, not {text}"},
    {"script.rate_trailing", "a rate comment ends with 'each frame' (a note after it begins with //), not with {text}"},
    {"script.rate_twice", "a second rate comment for handle {handle} (the first is on line {first})"},
    {"script.sheet_form", "a sheet comment reads {form}, not {text}"},
    {"script.sheet_number", "the sheet's {field} is a whole number from {least}, not {text}"},
    {"script.sheet.first", "first sprite number"},
    {"script.sheet.last", "last sprite number"},
    {"script.sheet.columns", "column count"},
    {"script.sheet.rows", "row count"},
    {"script.sheet.cell", "cell size"},
    {"script.sheet.margin", "margin"},
    {"script.sheet.spacing", "spacing"},
    {"script.sheet_name", "the sheet's name {name} holds a control character or a byte that is not UTF-8"},
    {"script.sheet_too_many", "the sheet's sprites {first}-{last} are too many to count"},
    {"script.sheet_hash", "the sheet's hash is 8 hex digits (0-9, a-f) in parentheses, not {text}"},
    {"script.sheet_not_square", "the sheet's cells are square (S x S px), not {text}"},
    {"script.sheet_overlap", "the sheet's sprites {first}-{last} overlap those of the sheet on line {other}"},
    {"script.picture_form", "a picture comment reads {form}, not {text}"},
    {"script.picture_twice", "a second picture comment (the first is on line {first})"},
    {"script.no_init", "handle {handle} has no Init before this call"},
    {"script.field_size", "the tools draw fields of 1 to {most} pixels a side, not {width} x {height}"},
    {"script.too_many_layers", "Init of handle {handle} would make more than {most} layers at once, the most drawn"},
    {"script.too_many_spawned", "Start would spawn {particles} particles; the tools draw at most {most} per handle"},
    {"script.too_many_particles",
     "Start brings the particles of all layers to {total}, more than the {most} drawn at most"},
    {"script.drawn_without_init", "the engine draws handle {handle}, which has no Init in the script"},
    {"script.drawn_released",
     "the engine draws handle {handle}, which has no Init in the script left (it is released)"},
    {"script.print_sheet_name",
     "the sheet name {name} cannot stand in a script: it is empty, holds a control character or is not UTF-8"},
    {"script.print_picture_name",
     "the picture's name {name} cannot stand in a script: it holds a control character or is not UTF-8"},
    {"script.print_comment",
     "the comment {text} cannot stand in a script: a comment that begins like this is read as one the studio writes"},
};

std::string InEnglish(std::string_view id, const std::vector<Value>& values)
{
    const auto english = std::find_if(std::begin(kEnglish), std::end(kEnglish),
                                      [&](const English& e) { return e.id == id; });
    if (english == std::end(kEnglish)) {
        throw std::logic_error("no English for the message " + std::string(id));
    }
    const auto named = [&](std::string_view name) {
        return std::find_if(values.begin(), values.end(), [&](const Value& v) { return v.name == name; });
    };
    const auto count = named("count");
    const bool one = !english->one.empty() && count != values.end() && count->kind == Value::Kind::Number &&
                     count->number == 1;
    const std::string_view text = one ? english->one : english->text;
    std::string out;
    for (std::size_t at = 0;;) {
        const std::size_t open = text.find('{', at);
        out.append(text.substr(at, open == std::string_view::npos ? open : open - at));
        if (open == std::string_view::npos) {
            return out;
        }
        const std::size_t close = text.find('}', open);
        const auto value = named(text.substr(open + 1, close - open - 1));
        if (value == values.end()) {
            throw std::logic_error("the message " + std::string(id) + " lacks a value");
        }
        out += value->kind == Value::Kind::Number ? std::to_string(value->number)
               : value->kind == Value::Kind::Word ? InEnglish(value->text, {})
                                                  : value->text;
        at = close + 1;
    }
}

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

constexpr std::string_view kRateForm = "// the engine draws handle H with rate R each frame";
constexpr std::string_view kPictureForm = "// background picture \"NAME\"[ (HASH)]";
constexpr std::string_view kSheetForm =
    "// sprites A-B: sheet \"NAME\"[ (HASH)], C x R cells of S x S px[, margin M][, spacing P], row by row";

// The length of the UTF-8 sequence at text[at], or 0 where it is not one
// (overlong forms, surrogates and values past U+10FFFF included).
std::size_t Utf8Length(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

std::string HexByte(unsigned char byte)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    return {kHex[byte >> 4], kHex[byte & 0xF]};
}

// The code point of one whole UTF-8 sequence.
std::uint32_t CodePoint(std::string_view sequence)
{
    const auto byte = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(sequence[i]));
    };
    static constexpr std::uint32_t kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    std::uint32_t code = byte(0) & kLeadBits[sequence.size()];
    for (std::size_t i = 1; i < sequence.size(); ++i) {
        code = (code << 6) | (byte(i) & 0x3F);
    }
    return code;
}

std::string CodeText(std::uint32_t code)
{
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(code));
    return text;
}

// The word naming a character typed in a call in place of an ASCII one.
const char* KindOf(std::uint32_t code)
{
    if (code == 0x3000) {
        return "script.char.space";
    }
    if (code >= 0xFF10 && code <= 0xFF19) {
        return "script.char.digit";
    }
    if ((code >= 0xFF21 && code <= 0xFF3A) || (code >= 0xFF41 && code <= 0xFF5A)) {
        return "script.char.letter";
    }
    if ((code >= 0xFF01 && code <= 0xFF5E) || code == 0x3001 || code == 0x3002) {  // and the ideographic comma, stop
        return "script.char.punctuation";
    }
    return "script.char.other";
}

// A double-byte character of Shift_JIS (Windows code page 932): a lead byte
// and a trail byte.
bool ShiftJisPair(unsigned char lead, unsigned char trail)
{
    return ((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC)) &&
           ((trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFC));
}

// The code point of the Shift_JIS forms that an IME types in place of a
// call's own characters: the full-width space and common punctuation of JIS
// X 0208 row 1, the full-width digits and Latin letters of row 3.
std::optional<std::uint32_t> FromShiftJis(unsigned char lead, unsigned char trail)
{
    struct Cell {
        unsigned char trail;
        std::uint32_t code;
    };
    static constexpr Cell kRow1[] = {
        {0x40, 0x3000}, {0x41, 0x3001}, {0x42, 0x3002}, {0x43, 0xFF0C}, {0x44, 0xFF0E},  // 　、。，．
        {0x46, 0xFF1A}, {0x47, 0xFF1B}, {0x69, 0xFF08}, {0x6A, 0xFF09},                  // ：；（）
    };
    if (lead == 0x81) {
        for (const Cell& cell : kRow1) {
            if (cell.trail == trail) {
                return cell.code;
            }
        }
    } else if (lead == 0x82) {
        if (trail >= 0x4F && trail <= 0x58) {
            return 0xFF10 + (trail - 0x4Fu);  // ０-９
        }
        if (trail >= 0x60 && trail <= 0x79) {
            return 0xFF21 + (trail - 0x60u);  // Ａ-Ｚ
        }
        if (trail >= 0x81 && trail <= 0x9A) {
            return 0xFF41 + (trail - 0x81u);  // ａ-ｚ
        }
    }
    return std::nullopt;
}

// At most 40 characters of text from byte `from` on, in single quotes, with
// "..." where cut: control bytes and bytes that are not UTF-8 are written
// \xNN. With codePoints every other character that is not ASCII is written
// [U+XXXX], so that even a full-width space shows, and so is a Shift_JIS
// character of the table above (another one \xNN\xNN, its trail byte never
// passing for ASCII).
std::string Quoted(std::string_view text, std::size_t from, bool codePoints)
{
    constexpr int kMaxCharacters = 40;
    std::string result = from > 0 ? "'..." : "'";
    int characters = 0;
    std::size_t at = from;
    for (; at < text.size() && characters < kMaxCharacters; ++characters) {
        const auto byte = static_cast<unsigned char>(text[at]);
        const std::size_t length = Utf8Length(text, at);
        const unsigned char trail = at + 1 < text.size() ? static_cast<unsigned char>(text[at + 1]) : 0;
        if (codePoints && length == 0 && ShiftJisPair(byte, trail)) {
            const auto code = FromShiftJis(byte, trail);
            result += code ? "[" + CodeText(*code) + "]" : "\\x" + HexByte(byte) + "\\x" + HexByte(trail);
            at += 2;
        } else if (length == 0 || byte < 0x20 || byte == 0x7F) {
            result += "\\x" + HexByte(byte);
            ++at;
        } else {
            result += codePoints && length > 1 ? "[" + CodeText(CodePoint(text.substr(at, length))) + "]"
                                               : std::string(text.substr(at, length));
            at += length;
        }
    }
    result += at < text.size() ? "...'" : "'";
    return result;
}

// Text that can stand in a one-line comment and in JSON as it is.
bool PlainText(std::string_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = Utf8Length(text, at);
        if (length == 0 || static_cast<unsigned char>(text[at]) < 0x20 || text[at] == 0x7F) {
            return false;
        }
        at += length;
    }
    return true;
}

std::string_view Trim(std::string_view text)
{
    const auto begin = text.find_first_not_of(" \t\r");
    if (begin == std::string_view::npos) {
        return {};
    }
    return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

bool StartsWithCaseless(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
}

// The text with every run of spaces and tabs made one space.
std::string Collapsed(std::string_view text)
{
    std::string result;
    for (const char c : text) {
        const bool blank = c == ' ' || c == '\t';
        if (!blank || result.empty() || result.back() != ' ') {
            result += blank ? ' ' : c;
        }
    }
    return result;
}

[[noreturn]] void Fail(int line, std::string id, std::vector<Value> values = {})
{
    throw ScriptError(line, 0, std::move(id), std::move(values));
}

// Refuses the first byte of a call that is not ASCII, by its column: the
// column is that of the call's first character.
void RefuseNonAscii(int line, int column, std::string_view call)
{
    const auto found =
        std::find_if(call.begin(), call.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    if (found == call.end()) {
        return;
    }
    const auto at = static_cast<std::size_t>(found - call.begin());
    // All before it is ASCII, one byte a character.
    const int where = column + static_cast<int>(at);
    constexpr std::size_t kBefore = 36;  // of the quote's 40 characters
    const std::string quote = Quoted(call, at > kBefore ? at - kBefore : 0, true);
    const auto fail = [&](const char* id, std::vector<Value> values) {
        values.push_back(Value::Of("text", quote));
        throw ScriptError(line, where, id, std::move(values));
    };
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(call[i]); };
    if (const std::size_t length = Utf8Length(call, at)) {
        const std::uint32_t code = CodePoint(call.substr(at, length));
        fail("script.char_in_call", {Value::WordOf("kind", KindOf(code)), Value::Of("code", CodeText(code))});
    }
    if (at + 1 < call.size() && ShiftJisPair(byte(at), byte(at + 1))) {
        const std::string bytes = HexByte(byte(at)) + " " + HexByte(byte(at + 1));
        if (const auto code = FromShiftJis(byte(at), byte(at + 1))) {
            fail("script.sjis_in_call", {Value::WordOf("kind", KindOf(*code)), Value::Of("code", CodeText(*code)),
                                         Value::Of("bytes", bytes)});
        }
        fail("script.sjis_other_in_call", {Value::Of("bytes", bytes)});
    }
    fail("script.byte_in_call", {Value::Of("byte", "\\x" + HexByte(byte(at)))});
}

std::optional<std::int32_t> ReadWhole(std::string_view text)
{
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < INT32_MIN || value > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

std::int32_t WholeNumber(int line, std::string_view text)
{
    const auto value = ReadWhole(text);
    if (!value) {
        Fail(line, "script.not_whole", {Value::Of("text", Quote(text))});
    }
    return *value;
}

// A decimal number as a float, rounded to nearest: an optional minus, digits
// with an optional point (or a point and digits), an optional exponent.
// Infinity, NaN, hexadecimal and values beyond a float are refused, and
// so is a value too small for a float that is not written as zero.
std::optional<float> ReadFloat(std::string_view text)
{
    std::size_t at = text.starts_with('-') ? 1 : 0;
    bool nonzero = false;
    const auto digits = [&]() {
        const std::size_t first = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            nonzero = nonzero || text[at] != '0';
            ++at;
        }
        return at - first;
    };
    std::size_t mantissa = digits();
    if (at < text.size() && text[at] == '.') {
        ++at;
        mantissa += digits();
    }
    if (mantissa == 0) {
        return std::nullopt;
    }
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
            ++at;
        }
        const bool mantissaNonzero = nonzero;
        if (digits() == 0) {
            return std::nullopt;
        }
        nonzero = mantissaNonzero;
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    const float value = std::strtof(std::string(text).c_str(), nullptr);
    if (!std::isfinite(value) || (value == 0.0f && nonzero)) {
        return std::nullopt;
    }
    return value;
}

float Speed(int line, std::string_view text)
{
    const auto value = ReadFloat(text);
    if (!value) {
        Fail(line, "script.not_float", {Value::Of("text", Quote(text))});
    }
    return *value;
}

Call ParseCall(int line, std::string_view text)
{
    // Name(arguments) with an optional semicolon: letters, then one pair of
    // brackets holding no bracket.
    std::size_t nameEnd = 0;
    while (nameEnd < text.size() && std::isalpha(static_cast<unsigned char>(text[nameEnd]))) {
        ++nameEnd;
    }
    const std::size_t open = text.find_first_not_of(" \t", nameEnd);
    const std::size_t close = text.find(')', open == std::string_view::npos ? 0 : open);
    const std::string_view after = close == std::string_view::npos ? std::string_view() : Trim(text.substr(close + 1));
    if (nameEnd == 0 || open == std::string_view::npos || text[open] != '(' || close == std::string_view::npos ||
        text.find('(', open + 1) < close || !(after.empty() || after == ";")) {
        Fail(line, "script.not_call", {Value::Of("text", Quote(text))});
    }
    const std::string_view name = text.substr(0, nameEnd);
    const std::string_view argumentText = text.substr(open + 1, close - open - 1);
    const auto signature = std::find_if(std::begin(kCalls), std::end(kCalls),
                                        [&](const Signature& s) { return name == s.name; });
    if (signature == std::end(kCalls)) {
        Fail(line, "script.unknown_call", {Value::Of("name", Quote(name))});
    }
    std::vector<std::string_view> arguments;
    for (std::size_t from = 0;;) {
        const std::size_t comma = argumentText.find(',', from);
        arguments.push_back(Trim(argumentText.substr(from, comma == std::string_view::npos ? comma : comma - from)));
        if (comma == std::string_view::npos) {
            break;
        }
        from = comma + 1;
    }
    if (arguments.size() == 1 && arguments[0].empty()) {
        arguments.clear();
    }
    if (static_cast<int>(arguments.size()) != signature->arguments + 1) {
        Fail(line, "script.argument_count",
             {Value::Of("call", std::string(name)), Value::Of("count", signature->arguments + 1),
              Value::Of("given", static_cast<std::int64_t>(arguments.size()))});
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

// Reads the text from a cursor, one expected piece after another.
class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    bool Literal(std::string_view piece)
    {
        if (text_.substr(at_).starts_with(piece)) {
            at_ += piece.size();
            return true;
        }
        return false;
    }

    // The text up to the next character in stops (or the end), which may
    // not be empty.
    std::optional<std::string_view> Token(std::string_view stops)
    {
        const std::size_t end = std::min(text_.find_first_of(stops, at_), text_.size());
        if (end == at_) {
            return std::nullopt;
        }
        const std::string_view token = text_.substr(at_, end - at_);
        at_ = end;
        return token;
    }

    std::string_view Rest() const { return text_.substr(at_); }
    bool AtEnd() const { return at_ == text_.size(); }

private:
    std::string_view text_;
    std::size_t at_ = 0;
};

struct RateNote {
    std::int32_t handle;
    std::int32_t rate;
    std::optional<std::string_view> remark;  // the text of a further "//" comment
};

// "the engine draws handle H with rate R[ each frame]", then nothing or a
// further "//" comment.
RateNote ReadRateNote(int line, std::string_view body)
{
    Reader reader(body);
    std::optional<std::string_view> handle;
    std::optional<std::string_view> rate;
    bool exact = reader.Literal("the engine draws handle ") && (handle = reader.Token(" ")) &&
                 reader.Literal(" with rate ") && (rate = reader.Token(" "));
    std::optional<std::string_view> remark;
    if (exact) {
        reader.Literal(" each frame");
        const std::string_view rest = Trim(reader.Rest());
        if (!rest.empty() && !rest.starts_with("//")) {
            // Quoted from where it goes on, so that the rate reads whole.
            Fail(line, "script.rate_trailing", {Value::Of("text", Quote(rest))});
        }
        if (!rest.empty()) {
            remark = Trim(rest.substr(2));
        }
    }
    if (!exact) {
        Fail(line, "script.rate_form",
             {Value::Of("form", "'" + std::string(kRateForm) + "'"),
              Value::Of("text", Quote("// " + std::string(body)))});
    }
    const auto value = ReadWhole(*rate);
    if (!value || *value < 0 || *value > 255) {
        Fail(line, "script.rate_range", {Value::Of("text", Quote(*rate))});
    }
    return {WholeNumber(line, *handle), *value, remark};
}

// A sheet's short hash: 8 lowercase hex digits.
bool IsShortHash(std::string_view text)
{
    return text.size() == 8 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// " (1a2b3c4d)" where tail goes on with one: the short hash of a file,
// else "".
std::string ReadHash(int line, Reader& tail)
{
    if (!tail.Literal(" (")) {
        return {};
    }
    const std::string_view rest = tail.Rest();
    const std::size_t end = rest.find(')');
    if (end == std::string_view::npos || !IsShortHash(rest.substr(0, end))) {
        const std::string_view shown = end == std::string_view::npos ? rest : rest.substr(0, end + 1);
        Fail(line, "script.sheet_hash", {Value::Of("text", Quote("(" + std::string(shown)))});
    }
    std::string hash(rest.substr(0, end));
    tail.Literal(hash);
    tail.Literal(")");
    return hash;
}

// "background picture "NAME"[ (HASH)]": the studio's picture behind the effect.
Picture ReadPictureNote(int line, std::string_view body)
{
    const auto wrong = [&]() {
        Fail(line, "script.picture_form",
             {Value::Of("form", "'" + std::string(kPictureForm) + "'"),
              Value::Of("text", Quote("// " + std::string(body)))});
    };
    Reader reader(body);
    const std::string_view afterOpen = reader.Literal("background picture \"") ? reader.Rest() : std::string_view();
    const std::size_t close = afterOpen.rfind('"');
    if (close == std::string_view::npos || close == 0) {
        wrong();
    }
    Picture picture{std::string(afterOpen.substr(0, close)), {}};
    if (!PlainText(picture.name)) {
        Fail(line, "script.sheet_name", {Value::Of("name", Quote(picture.name))});
    }
    Reader tail(afterOpen.substr(close + 1));
    picture.hash = ReadHash(line, tail);
    if (!Trim(tail.Rest()).empty()) {
        wrong();
    }
    return picture;
}

// field: the word naming the number ("script.sheet.margin").
std::int32_t SheetNumber(int line, std::string_view text, std::int32_t least, const char* field)
{
    const auto value = ReadWhole(text);
    if (!value || *value < least) {
        Fail(line, "script.sheet_number",
             {Value::WordOf("field", field), Value::Of("least", least), Value::Of("text", Quote(text))});
    }
    return *value;
}

// "sprites A-B: sheet "NAME", C x R cells of S x S px[, margin M][, spacing
// P], row by row".
Sheet ReadSheetNote(int line, std::string_view body)
{
    const auto wrong = [&]() {
        Fail(line, "script.sheet_form",
             {Value::Of("form", "'" + std::string(kSheetForm) + "'"),
              Value::Of("text", Quote("// " + std::string(body)))});
    };
    Reader reader(body);
    std::optional<std::string_view> first;
    std::optional<std::string_view> last;
    if (!(reader.Literal("sprites ") && (first = reader.Token("-")) && reader.Literal("-") &&
          (last = reader.Token(":")) && reader.Literal(": sheet \""))) {
        wrong();
    }
    // The name runs to the last quote: the rest holds none.
    const std::string_view afterOpen = reader.Rest();
    const std::size_t close = afterOpen.rfind('"');
    if (close == std::string_view::npos || close == 0) {
        wrong();
    }
    Sheet sheet;
    sheet.name = std::string(afterOpen.substr(0, close));
    if (!PlainText(sheet.name)) {
        Fail(line, "script.sheet_name", {Value::Of("name", Quote(sheet.name))});
    }
    Reader tail(afterOpen.substr(close + 1));
    sheet.hash = ReadHash(line, tail);
    std::optional<std::string_view> columns;
    std::optional<std::string_view> rows;
    std::optional<std::string_view> cell;
    std::optional<std::string_view> cellHigh;
    std::optional<std::string_view> margin;
    std::optional<std::string_view> spacing;
    if (!(tail.Literal(", ") && (columns = tail.Token(" ")) && tail.Literal(" x ") && (rows = tail.Token(" ")) &&
          tail.Literal(" cells of ") && (cell = tail.Token(" ")) && tail.Literal(" x ") &&
          (cellHigh = tail.Token(" ")) && tail.Literal(" px"))) {
        wrong();
    }
    if (tail.Literal(", margin ") && !(margin = tail.Token(","))) {
        wrong();
    }
    if (tail.Literal(", spacing ") && !(spacing = tail.Token(","))) {
        wrong();
    }
    if (!tail.Literal(", row by row") || !Trim(tail.Rest()).empty()) {
        wrong();
    }
    sheet.base = SheetNumber(line, *first, 0, "script.sheet.first");
    const std::int32_t end = SheetNumber(line, *last, sheet.base, "script.sheet.last");
    if (std::int64_t{end} - sheet.base + 1 > INT32_MAX) {
        Fail(line, "script.sheet_too_many",
             {Value::Of("first", std::string(*first)), Value::Of("last", std::string(*last))});
    }
    sheet.count = end - sheet.base + 1;
    sheet.columns = SheetNumber(line, *columns, 1, "script.sheet.columns");
    sheet.rows = SheetNumber(line, *rows, 1, "script.sheet.rows");
    sheet.cell = SheetNumber(line, *cell, 1, "script.sheet.cell");
    if (*cellHigh != *cell) {
        Fail(line, "script.sheet_not_square",
             {Value::Of("text", Quote(std::string(*cell) + " x " + std::string(*cellHigh)))});
    }
    sheet.margin = margin ? SheetNumber(line, *margin, 0, "script.sheet.margin") : 0;
    sheet.spacing = spacing ? SheetNumber(line, *spacing, 0, "script.sheet.spacing") : 0;
    return sheet;
}

// "Layer N, handle H ...": the studio's heading of a layer, which ends
// "(hidden in the studio)" for a hidden one. Any other comment that begins
// "Layer" is just a comment.
std::optional<std::pair<std::int32_t, bool>> ReadLayerNote(std::string_view body)
{
    Reader reader(body);
    std::optional<std::string_view> index;
    std::optional<std::string_view> handle;
    if (!(reader.Literal("Layer ") && (index = reader.Token(",")) && reader.Literal(", handle ") &&
          (handle = reader.Token(" ")))) {
        return std::nullopt;
    }
    const auto position = ReadWhole(*index);
    const auto number = ReadWhole(*handle);
    if (!position || *position < 1 || !number) {
        return std::nullopt;
    }
    return std::pair{*number, body.ends_with("(hidden in the studio)")};
}

// The studio's header: "DrawVelora: N layers, drawn in this order every
// frame".
bool IsHeader(std::string_view body)
{
    return body.starts_with("DrawVelora: ") && body.ends_with(", drawn in this order every frame");
}

// An author's comment, and the handle of the layer it stands in once known.
struct Remark {
    std::optional<std::int32_t> handle;
    std::string text;
};

// Everything the lines so far have said.
struct Reading {
    Script script;
    std::map<std::int32_t, Layer> live;  // handles with an instance, as the calls so far leave them
    std::vector<std::int32_t> initOrder;
    std::set<std::int32_t> initiated;  // the handles of initOrder
    std::vector<std::pair<std::int32_t, int>> drawOrder;  // handle, line
    std::map<std::int32_t, std::pair<std::int32_t, int>> rates;  // handle: rate, line
    std::int64_t particles = 0;  // what the last Starts of the live handles spawned, all together
    Limits limits;
    std::vector<int> sheetLines;
    int pictureLine = 0;  // the picture comment's, once read
    std::optional<std::pair<std::int32_t, bool>> heading;  // the last Layer comment's handle and hidden flag
    std::vector<Remark> remarks;  // the author's comments so far
    std::size_t unplaced = 0;     // the remarks from here on wait for the next call
};

// The comments the studio writes itself, which the reader takes for what
// they say: a rate, a sheet, the picture, a layer's heading, the header.
bool IsRateNote(std::string_view body) { return StartsWithCaseless(Collapsed(body), "the engine draws"); }
bool IsSheetNote(std::string_view body)
{
    return body.starts_with("sprites ") && body.size() > 8 && std::isdigit(static_cast<unsigned char>(body[8])) &&
           body.find(": sheet ") != std::string_view::npos;
}
bool IsPictureNote(std::string_view body) { return body.starts_with("background picture"); }
bool IsStudioComment(std::string_view body)
{
    return IsRateNote(body) || IsSheetNote(body) || IsPictureNote(body) || ReadLayerNote(body) || IsHeader(body);
}

// owner: the handle whose layer keeps the comment when it is the author's
// (a note after a rate comment is that handle's); none: the next call's.
void ReadComment(int line, std::string_view body, Reading& reading,
                 std::optional<std::int32_t> owner = std::nullopt)
{
    if (IsRateNote(body)) {
        const RateNote note = ReadRateNote(line, body);
        const auto earlier = reading.rates.find(note.handle);
        if (earlier != reading.rates.end()) {
            Fail(line, "script.rate_twice",
                 {Value::Of("handle", note.handle), Value::Of("first", earlier->second.second)});
        }
        reading.rates[note.handle] = {note.rate, line};
        reading.drawOrder.emplace_back(note.handle, line);
        if (note.remark) {
            // Read as a comment of its own line is: the author's words are
            // kept, and the studio's own comments mean what they mean there,
            // so that the author's comments print on lines of their own and
            // read back the same.
            ReadComment(line, *note.remark, reading, note.handle);
        }
        return;
    }
    if (IsSheetNote(body)) {
        const Sheet sheet = ReadSheetNote(line, body);
        auto& sheets = reading.script.sheets;
        for (std::size_t i = 0; i < sheets.size(); ++i) {
            if (sheets[i] == sheet) {
                return;  // the same sheet again, above another layer
            }
            if (std::int64_t{sheet.base} < std::int64_t{sheets[i].base} + sheets[i].count &&
                std::int64_t{sheets[i].base} < std::int64_t{sheet.base} + sheet.count) {
                Fail(line, "script.sheet_overlap",
                     {Value::Of("first", sheet.base), Value::Of("last", std::int64_t{sheet.base} + sheet.count - 1),
                      Value::Of("other", reading.sheetLines[i])});
            }
        }
        sheets.push_back(sheet);
        reading.sheetLines.push_back(line);
        return;
    }
    if (IsPictureNote(body)) {
        if (reading.pictureLine) {
            Fail(line, "script.picture_twice", {Value::Of("first", reading.pictureLine)});
        }
        reading.script.picture = ReadPictureNote(line, body);
        reading.pictureLine = line;
        return;
    }
    if (const auto heading = ReadLayerNote(body)) {
        reading.heading = heading;
        return;
    }
    if (!IsHeader(body)) {
        reading.remarks.push_back({owner, std::string(body)});
    }
}

void RunCall(int line, const Call& call, Reading& reading)
{
    const auto found = reading.live.find(call.handle);
    if (call.op != Op::Init && call.op != Op::Release && found == reading.live.end()) {
        Fail(line, "script.no_init", {Value::Of("handle", call.handle)});
    }
    switch (call.op) {
    case Op::Init:
        if (found == reading.live.end()) {
            // The plug-in keeps an instance that already exists; a new one starts from defaults.
            if (call.args[0] < 1 || call.args[0] > kMaxSide || call.args[1] < 1 || call.args[1] > kMaxSide) {
                Fail(line, "script.field_size", {Value::Of("most", kMaxSide), Value::Of("width", call.args[0]),
                                                 Value::Of("height", call.args[1])});
            }
            if (static_cast<std::int64_t>(reading.live.size()) >= reading.limits.layers) {
                Fail(line, "script.too_many_layers",
                     {Value::Of("handle", call.handle), Value::Of("most", reading.limits.layers)});
            }
            Layer layer;
            layer.handle = call.handle;
            layer.width = call.args[0];
            layer.height = call.args[1];
            layer.base = call.args[2];
            layer.count = call.args[3];
            layer.rotation = call.args[4];
            layer.hidden = reading.heading && reading.heading->first == call.handle && reading.heading->second;
            reading.live[call.handle] = layer;
            if (reading.initiated.insert(call.handle).second) {
                reading.initOrder.push_back(call.handle);
            }
        } else {
            // As the engine does: the instance stays as it is, field, sprites and all.
            reading.script.notes.push_back("line " + std::to_string(line) + ": Init of handle " +
                                           std::to_string(call.handle) +
                                           ", which already has an instance, changes nothing (its field stays " +
                                           std::to_string(found->second.width) + " x " +
                                           std::to_string(found->second.height) + "); Release it first to make it anew");
        }
        break;
    case Op::SetType: found->second.type = call.args[0]; break;
    case Op::SetNumof: found->second.numof = call.args[0]; break;
    case Op::SetMaxAmp: found->second.maxAmp = call.args[0]; break;
    case Op::SetXSpeed: found->second.xSpeed = call.speed; break;
    case Op::SetYSpeed: found->second.ySpeed = call.speed; break;
    case Op::Start:
        if (found->second.numof > kMaxSpawned) {
            Fail(line, "script.too_many_spawned",
                 {Value::Of("particles", found->second.numof), Value::Of("most", kMaxSpawned)});
        }
        reading.particles += std::max(0, found->second.numof) -
                             (found->second.started ? std::max(0, found->second.spawned) : 0);
        if (reading.particles > reading.limits.particles) {
            Fail(line, "script.too_many_particles",
                 {Value::Of("total", reading.particles), Value::Of("most", reading.limits.particles)});
        }
        found->second.started = true;
        found->second.spawned = found->second.numof;
        break;
    case Op::Release:
        if (found != reading.live.end()) {
            if (found->second.started) {
                reading.particles -= std::max(0, found->second.spawned);
            }
            reading.live.erase(found);
        }
        break;
    }
}

// The layers in drawing order, with what the user should hear about them.
void Finish(Reading& reading)
{
    Script& script = reading.script;
    if (script.calls.empty()) {
        Fail(0, "script.no_calls");
    }
    std::vector<std::int32_t> order;
    for (const auto& [handle, line] : reading.drawOrder) {
        if (!reading.live.contains(handle)) {
            Fail(line, reading.initiated.contains(handle) ? "script.drawn_released" : "script.drawn_without_init",
                 {Value::Of("handle", handle)});
        }
        order.push_back(handle);
    }
    for (const std::int32_t handle : reading.initOrder) {
        if (reading.live.contains(handle) && !reading.rates.contains(handle)) {
            script.notes.push_back("no comment says how the engine draws handle " + std::to_string(handle) +
                                   ": it is drawn after the others, with rate 255");
            order.push_back(handle);
        }
    }
    for (const std::int32_t handle : order) {
        Layer layer = reading.live.at(handle);
        const auto rate = reading.rates.find(handle);
        layer.rate = rate != reading.rates.end() ? rate->second.first : 255;
        if (!layer.started) {
            script.notes.push_back("handle " + std::to_string(handle) + " is never started: it draws nothing");
        }
        script.layers.push_back(layer);
    }
    // Each author's comment to its layer; one whose handle is gone, and those
    // after the last call, to the layer drawn last.
    if (script.layers.empty()) {
        return;
    }
    std::map<std::int32_t, std::size_t> at;  // each layer's index, by handle
    for (std::size_t i = 0; i < script.layers.size(); ++i) {
        at[script.layers[i].handle] = i;
    }
    for (Remark& remark : reading.remarks) {
        const auto owner = remark.handle ? at.find(*remark.handle) : at.end();
        script.layers[owner != at.end() ? owner->second : script.layers.size() - 1].comments.push_back(
            std::move(remark.text));
    }
}

}  // namespace

MessageValue MessageValue::Of(std::string name, std::int64_t number)
{
    return {std::move(name), Kind::Number, number, {}};
}

MessageValue MessageValue::Of(std::string name, std::string text)
{
    return {std::move(name), Kind::Text, 0, std::move(text)};
}

MessageValue MessageValue::WordOf(std::string name, std::string id)
{
    return {std::move(name), Kind::Word, 0, std::move(id)};
}

ScriptError::ScriptError(int line, int column, std::string id, std::vector<MessageValue> values)
    : ScriptError(line, column, InEnglish(id, values), id, values)
{
}

ScriptError::ScriptError(int line, int column, std::string reason, std::string id, std::vector<MessageValue> values)
    : std::runtime_error((line <= 0 ? std::string() : "line " + std::to_string(line)) +
                         (line > 0 && column > 0 ? ", column " + std::to_string(column) : std::string()) +
                         (line > 0 ? ": " : "") + reason),
      line_(line),
      column_(column),
      id_(std::move(id)),
      values_(std::move(values)),
      reason_(std::move(reason))
{
}

const char* OpName(Op op)
{
    for (const Signature& signature : kCalls) {
        if (signature.op == op) {
            return signature.name;
        }
    }
    return "?";
}

std::string Quote(std::string_view text) { return Quoted(text, 0, false); }

Script ParseScript(std::string_view text, const Limits& limits)
{
    if (text.size() > kMaxBytes) {
        Fail(0, "script.too_large", {Value::Of("bytes", static_cast<std::int64_t>(kMaxBytes))});
    }
    // UTF-16 (Windows' "Unicode"): a byte-order mark, or ASCII with a NUL byte beside each character.
    if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF") ||
        (text.size() >= 4 && ((text[0] != '\0' && text[1] == '\0' && text[2] != '\0' && text[3] == '\0') ||
                              (text[0] == '\0' && text[1] != '\0' && text[2] == '\0' && text[3] != '\0')))) {
        Fail(0, "script.utf16");
    }
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);  // the byte-order mark some editors write
    }
    Reading reading;
    reading.limits = limits;
    int number = 0;
    for (std::size_t from = 0; from < text.size();) {
        // A line ends at LF, CR LF or a lone CR (as old Mac editors save).
        const std::size_t end = std::min(text.find_first_of("\r\n", from), text.size());
        ++number;
        const std::string_view written = text.substr(from, end - from);
        std::string_view line = Trim(written);
        from = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        const auto comment = line.find("//");
        if (comment != std::string_view::npos) {
            ReadComment(number, Trim(line.substr(comment + 2)), reading);
            line = Trim(line.substr(0, comment));
        }
        if (line.empty()) {
            continue;
        }
        // (the blanks Trim took before the call are ASCII: one byte a column)
        RefuseNonAscii(number, static_cast<int>(line.data() - written.data()) + 1, line);
        const Call call = ParseCall(number, line);
        RunCall(number, call, reading);
        reading.script.calls.push_back(call);
        // The comments above this call, and the one ending its line, are its layer's.
        for (; reading.unplaced < reading.remarks.size(); ++reading.unplaced) {
            Remark& remark = reading.remarks[reading.unplaced];
            remark.handle = remark.handle.value_or(call.handle);
        }
    }
    Finish(reading);
    return std::move(reading.script);
}

std::string FloatText(float value)
{
    // The fewest significant digits that read back as the value...
    char text[64];
    int precision = 1;
    for (; precision < 9; ++precision) {
        std::snprintf(text, sizeof text, "%.*e", precision - 1, static_cast<double>(value));
        if (std::strtof(text, nullptr) == value) {
            break;
        }
    }
    std::snprintf(text, sizeof text, "%.*e", precision - 1, static_cast<double>(value));
    const std::string scientific = text;  // [-]d[.ddd]e(+|-)XX
    const std::size_t e = scientific.find('e');
    const bool negative = scientific.starts_with('-');
    std::string digits = scientific.substr(negative ? 1 : 0, e - (negative ? 1 : 0));
    digits.erase(std::remove(digits.begin(), digits.end(), '.'), digits.end());
    while (digits.size() > 1 && digits.back() == '0') {
        digits.pop_back();
    }
    const int exponent = std::stoi(scientific.substr(e + 1));
    // ...written out in full or with an exponent, whichever is shorter
    // (in full when both are as long).
    std::string sci = digits.substr(0, 1) + (digits.size() > 1 ? "." + digits.substr(1) : "") + "e" +
                      (exponent < 0 ? "-" : "+") + (std::abs(exponent) < 10 ? "0" : "") +
                      std::to_string(std::abs(exponent));
    std::string fixed;
    const auto length = static_cast<int>(digits.size());
    if (exponent > length - 1) {
        // A whole number past the digits: a float this large is whole, and
        // its own digits are as short as the padded ones and nearer.
        std::snprintf(text, sizeof text, "%.0f", std::fabs(static_cast<double>(value)));
        fixed = text;
    } else if (exponent == length - 1) {
        fixed = digits;
    } else if (exponent >= 0) {
        fixed = digits.substr(0, static_cast<std::size_t>(exponent) + 1) + "." +
                digits.substr(static_cast<std::size_t>(exponent) + 1);
    } else {
        fixed = "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    }
    std::string result = (negative ? "-" : "") + (sci.size() < fixed.size() ? sci : fixed);
    if (result.find_first_of(".e") == std::string::npos) {
        result += ".0";
    }
    return result;
}

std::string PrintScript(const std::vector<Layer>& layers, const std::vector<Sheet>& sheets, const Picture& picture)
{
    if (!picture.name.empty() && !PlainText(picture.name)) {
        Fail(0, "script.print_picture_name", {Value::Of("name", Quote(picture.name))});
    }
    if (!picture.hash.empty() && !IsShortHash(picture.hash)) {
        Fail(0, "script.sheet_hash", {Value::Of("text", Quote(picture.hash))});
    }
    for (const Sheet& sheet : sheets) {
        if (sheet.name.empty() || !PlainText(sheet.name)) {
            Fail(0, "script.print_sheet_name", {Value::Of("name", Quote(sheet.name))});
        }
        if (!sheet.hash.empty() && !IsShortHash(sheet.hash)) {
            Fail(0, "script.sheet_hash", {Value::Of("text", Quote(sheet.hash))});
        }
    }
    // The author's comments print one line for each line of their text:
    // none of them may read back as one of the studio's own comments.
    const auto eachLine = [](std::string_view comment, const auto& use) {
        for (std::size_t from = 0;;) {
            const std::size_t end = std::min(comment.find_first_of("\r\n", from), comment.size());
            use(Trim(comment.substr(from, end - from)));
            if (end == comment.size()) {
                return;
            }
            from = end + (comment.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        }
    };
    for (const Layer& layer : layers) {
        for (const std::string& comment : layer.comments) {
            eachLine(comment, [](std::string_view piece) {
                if (IsStudioComment(piece)) {
                    Fail(0, "script.print_comment", {Value::Of("text", Quote("// " + std::string(piece)))});
                }
            });
        }
    }
    std::ostringstream out;
    const std::size_t count = layers.size();
    out << "// DrawVelora: " << count << " layer" << (count == 1 ? "" : "s") << ", drawn in this order every frame\n";
    if (!picture.name.empty()) {
        out << "// background picture \"" << picture.name << "\""
            << (picture.hash.empty() ? "" : " (" + picture.hash + ")") << "\n";
    }
    for (std::size_t index = 0; index < count; ++index) {
        const Layer& layer = layers[index];
        const std::int32_t h = layer.handle;
        const char* place = count == 1 ? "" : index == 0 ? " (drawn first, furthest back)"
                                          : index == count - 1 ? " (drawn last, in front)" : "";
        out << "\n// Layer " << index + 1 << ", handle " << h << place << (layer.hidden ? " (hidden in the studio)" : "")
            << "\n";
        for (const std::string& comment : layer.comments) {
            // One comment line for each line of the text, so that none of it becomes a call.
            eachLine(comment, [&](std::string_view piece) { out << (piece.empty() ? "//" : "// ") << piece << "\n"; });
        }
        const auto sheet = std::find_if(sheets.begin(), sheets.end(), [&](const Sheet& s) {
            return layer.base >= s.base && std::int64_t{layer.base} < std::int64_t{s.base} + s.count;
        });
        if (sheet != sheets.end()) {
            out << "// sprites " << sheet->base << "-" << std::int64_t{sheet->base} + sheet->count - 1 << ": sheet \""
                << sheet->name << "\"" << (sheet->hash.empty() ? "" : " (" + sheet->hash + ")") << ", "
                << sheet->columns << " x " << sheet->rows << " cells of " << sheet->cell << " x " << sheet->cell
                << " px";
            if (sheet->margin != 0) {
                out << ", margin " << sheet->margin;
            }
            if (sheet->spacing != 0) {
                out << ", spacing " << sheet->spacing;
            }
            out << ", row by row\n";
        }
        out << "Init(" << h << ", " << layer.width << ", " << layer.height << ", " << layer.base << ", " << layer.count
            << ", " << layer.rotation << ");\n"
            << "SetType(" << h << ", " << layer.type << ");\n"
            << "SetNumof(" << h << ", " << (layer.started ? layer.spawned : layer.numof) << ");\n"
            << "SetMaxAmp(" << h << ", " << layer.maxAmp << ");\n"
            << "SetXSpeed(" << h << ", " << FloatText(layer.xSpeed) << ");\n"
            << "SetYSpeed(" << h << ", " << FloatText(layer.ySpeed) << ");\n";
        if (layer.started) {
            out << "Start(" << h << ");\n";
            if (layer.numof != layer.spawned) {
                out << "SetNumof(" << h << ", " << layer.numof << ");\n";
            }
        }
        out << "// the engine draws handle " << h << " with rate " << layer.rate << " each frame\n";
    }
    return out.str();
}

}  // namespace velora::script
