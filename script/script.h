// The engine's script as the tools read and write it: the control calls one
// per line, in the text the studio's Copy and the previewer's --print-script
// give:
//
//   // DrawVelora: 2 layers, drawn in this order every frame
//
//   // Layer 1, handle 1 (drawn first, furthest back)
//   // sprites 100-107: sheet "petals.png", 4 x 2 cells of 48 x 48 px, margin 10, spacing 2, row by row
//   Init(1, 640, 480, 100, 8, 4);
//   SetType(1, 0);   SetNumof, SetMaxAmp, SetXSpeed, SetYSpeed likewise
//   Start(1);
//   // the engine draws handle 1 with rate 170 each frame
//
// Release(handle) is read too. Blank lines are skipped; a call may end with
// a "//" comment and its ";" may be left out. The author's own comments are
// kept with the layer they stand in: the layer of the call that follows
// them or whose line they end; those after the last call, and those of a
// handle released for good, go to the layer drawn last. The printer writes
// them right after the layer's heading. The studio's own comments (the
// "DrawVelora: ..." header, the "Layer N, handle H" headings and the three
// below) are not kept: they are written anew.
// Four comments carry what the calls cannot say:
//   - "Layer N, handle H ... (hidden in the studio)": the studio hides the
//     layer of the next Init of H;
//   - "sprites A-B: sheet ..., row by row": the sprite numbers A to B are
//     the cells of that sheet (margin and spacing parts only when not 0);
//     the studio writes the short hash of the image file's bytes after the
//     name, `sheet "petals.png" (1a2b3c4d), ...`, and a comment without it
//     reads too;
//   - "background picture "NAME" (1a2b3c4d)": the picture the studio draws
//     behind the effect (the hash part only when known), once a script;
//   - "the engine draws handle H with rate R each frame": the drawing order
//     and the rate passed to Draw. A comment that begins like this one must
//     read exactly so, and names each handle once.
// The layers are drawn in the order of their rate comments; a handle that no
// such comment names is drawn after them, in the order of its first Init,
// with rate 255.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace velora::script {

// Longest script read: a generous bound, far above any real one.
inline constexpr std::size_t kMaxBytes = std::size_t{1} << 20;
// What the tools draw at most: a field's width and height, and the
// particles one Start spawns (the studio's page holds the same numbers).
inline constexpr std::int32_t kMaxSide = 4096;
inline constexpr std::int32_t kMaxSpawned = 100000;
// What both tools draw at once: handles with an instance, and the particles
// of all their Starts together (so a script one tool prints, the other reads).
inline constexpr std::int32_t kMaxLayers = 64;
inline constexpr std::int32_t kMaxParticles = 100000;

enum class Op { Init, SetType, SetNumof, SetMaxAmp, SetXSpeed, SetYSpeed, Start, Release };

// The call's name as the script writes it ("Init", "SetXSpeed", ...).
const char* OpName(Op op);

struct Call {
    Op op = Op::Init;
    std::int32_t handle = 0;
    std::int32_t args[5] = {};  // Init: width, height, baseSprite, spriteCount, rotationFrames; setters: [0]
    float speed = 0.0f;         // SetXSpeed, SetYSpeed
    int line = 0;               // 1-based line of the script; 0 when made otherwise
};

// One handle as the script leaves it: what Init and the setters gave it.
struct Layer {
    std::int32_t handle = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t base = 0;
    std::int32_t count = 0;
    std::int32_t rotation = 0;
    std::int32_t type = 0;
    std::int32_t numof = 40;  // what its next Start spawns (the last SetNumof)
    std::int32_t spawned = 0; // what its last Start spawned, once started
    std::int32_t maxAmp = 40;
    float xSpeed = 1.0f;
    float ySpeed = 1.0f;
    std::int32_t rate = 255;  // passed to Draw
    bool started = false;
    bool hidden = false;  // hidden in the studio
    std::vector<std::string> comments;  // the author's, without the "//", in the script's order
};

// A sprite sheet that gave the sprite numbers base .. base + count - 1,
// cut into columns x rows cells of cell x cell pixels, row by row, from a
// margin round the sheet and with spacing between the cells.
struct Sheet {
    std::int32_t base = 0;
    std::int32_t count = 0;
    std::string name;
    std::int32_t columns = 0;
    std::int32_t rows = 0;
    std::int32_t cell = 0;
    std::int32_t margin = 0;
    std::int32_t spacing = 0;
    std::string hash;  // 8 lowercase hex digits naming the image file's content; empty when unknown

    bool operator==(const Sheet&) const = default;
};

// The picture the studio draws behind the effect (a screenshot of the game,
// as a rule), named by its file and the short hash of its bytes.
struct Picture {
    std::string name;  // empty: none
    std::string hash;  // empty when not known

    bool operator==(const Picture&) const = default;
};

struct Script {
    std::vector<Call> calls;         // in the order the engine makes them
    std::vector<Layer> layers;       // in drawing order
    std::vector<Sheet> sheets;       // in the order the script names them
    Picture picture;                 // the studio's picture behind the effect, if a comment names one
    std::vector<std::string> notes;  // things worth telling the user
};

// A named value in a message: a number, a text shown as it is (quoted
// script text, a call's name, a code point), or a word: the id of a text of
// its own ("script.char.space"), which each language puts into its words.
struct MessageValue {
    enum class Kind { Number, Text, Word };
    std::string name;
    Kind kind = Kind::Text;
    std::int64_t number = 0;
    std::string text;  // the text, or the word's id

    static MessageValue Of(std::string name, std::int64_t number);
    static MessageValue Of(std::string name, std::string text);
    static MessageValue WordOf(std::string name, std::string id);
};

// A script that cannot be read (or a setup that cannot be printed): the
// 1-based line (0 for the script as a whole), the 1-based column of the
// character the reason names (0 when it names none) and the reason in
// English. what() is "line N, column C: reason", "line N: reason" or the
// reason alone. Id() and Values() give the reason as a message that a
// page words in its own language: the id stays the same from release to
// release ("script.not_whole"), the values are named.
class ScriptError : public std::runtime_error {
public:
    ScriptError(int line, int column, std::string id, std::vector<MessageValue> values);
    int Line() const { return line_; }
    int Column() const { return column_; }
    const std::string& Reason() const { return reason_; }
    const std::string& Id() const { return id_; }
    const std::vector<MessageValue>& Values() const { return values_; }

private:
    ScriptError(int line, int column, std::string reason, std::string id, std::vector<MessageValue> values);

    int line_;
    int column_;
    std::string id_;
    std::vector<MessageValue> values_;
    std::string reason_;
};

// What a tool draws at most: handles with an instance at any one time, and
// the particles their last Starts spawned, all together. The first call
// that goes beyond is refused, by its line.
struct Limits {
    std::int64_t layers = INT64_MAX;
    std::int64_t particles = INT64_MAX;
};

// Reads a script of at most kMaxBytes bytes; a leading UTF-8 byte-order
// mark and CRLF line ends are taken. A call is written in ASCII: the first
// other character outside the "//" comments is refused by its column,
// named (a full-width space, digit, letter or punctuation, in UTF-8 or in
// Shift_JIS, or another character or byte) and shown as [U+XXXX] in the
// quote of the call. Comments may hold any text. Throws ScriptError.
Script ParseScript(std::string_view text, const Limits& limits = {});

// The calls of a script that sets up these layers, in drawing order, each
// with the sheet that holds its base sprite and the author's comments. A
// started layer whose numof waits for the next Start gets SetNumof with
// what Start spawned before its Start and the waiting one after it; a layer
// never started gets no Start. A comment with line breaks is written as
// one comment line per line. Throws ScriptError for a sheet
// name that cannot stand in the comment (a line break, a byte that is not
// UTF-8).
std::string PrintScript(const std::vector<Layer>& layers, const std::vector<Sheet>& sheets = {},
                        const Picture& picture = {});

// The shortest decimal text that reads back as this float, with ".0" on
// whole numbers, as the scripts write SetXSpeed and SetYSpeed.
std::string FloatText(float value);

// At most 40 characters of text for a message, in single quotes: control
// bytes and bytes that are not UTF-8 written \xNN, "..." where cut.
std::string Quote(std::string_view text);

}  // namespace velora::script
