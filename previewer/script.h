// The engine's script as the previewer reads and writes it: the control calls
// one per line, in the text the studio's Copy gives:
//
//   // Layer 1, handle 1 (drawn first, furthest back)
//   Init(1, 640, 480, 0, 32, 4);
//   SetType(1, 0);   SetNumof, SetMaxAmp, SetXSpeed, SetYSpeed likewise
//   Start(1);
//   // the engine draws handle 1 with rate 170 each frame
//
// Release(handle) is read too. Blank lines and other "//" comments are
// skipped; a call may end with a "//" comment and its ";" may be left out.
// The layers are drawn in the order of their "draws handle" comments; a
// handle that no such comment names is drawn after them, in the order of its
// first Init, with rate 255.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velora::preview {

enum class Op { Init, SetType, SetNumof, SetMaxAmp, SetXSpeed, SetYSpeed, Start, Release };

struct Call {
    Op op = Op::Init;
    std::int32_t handle = 0;
    std::int32_t args[5] = {};  // Init: width, height, baseSprite, spriteCount, rotationFrames; setters: [0]
    float speed = 0.0f;         // SetXSpeed, SetYSpeed
    int line = 0;               // 1-based line of the script; 0 when made from options
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
    std::int32_t numof = 40;  // the particles its last Start spawned, once started
    std::int32_t maxAmp = 40;
    float xSpeed = 1.0f;
    float ySpeed = 1.0f;
    std::int32_t rate = 255;  // passed to Draw
    bool started = false;
};

struct Script {
    std::vector<Call> calls;    // in the order the engine makes them
    std::vector<Layer> layers;  // in drawing order
    std::vector<std::string> notes;  // things worth telling the user
};

// Throws UsageError naming the line and what is wrong with it.
Script ParseScript(const std::string& text);

// The calls of a script that sets up these layers, in the studio's text.
std::string PrintScript(const std::vector<Layer>& layers);

// The shortest decimal text that reads back as this float, with ".0" on
// whole numbers, as the studio writes SetXSpeed and SetYSpeed.
std::string FloatText(float value);

}  // namespace velora::preview
