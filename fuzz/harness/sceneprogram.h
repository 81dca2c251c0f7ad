// The program form of the scenecalls target, shared with the seed writer: a
// byte of options, then steps. A step is an engine call (its number, below
// 157, a byte of argument count and the arguments) or one of the steps
// between calls (a byte from 157 up, some with a byte after it).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

namespace sceneprogram {

// Options, the first byte.
constexpr uint8_t OPT_FLARE_TEST = 0x1;   // system flag: covered lens flares are picked
constexpr uint8_t OPT_SOUND = 0x2;        // system flag: 3D sound
constexpr uint8_t OPT_NO_RENDERER = 0x4;  // no device: nothing enters the renderer

// Argument kinds, the low four bits of an argument's first byte; the byte
// after it picks (modulo the number there is).
enum Arg : uint8_t {
    ARG_INST = 0,      // a live instance, light or camera
    ARG_CAMERA = 1,    // a live camera
    ARG_SCENE = 2,     // a live scene
    ARG_TAKE = 3,      // a live take
    ARG_SEEN = 4,      // an id once handed out, live or freed since
    ARG_SMALL = 5,     // the byte minus 16
    ARG_WORD = 6,      // four bytes, big-endian
    ARG_TEXT = 7,      // one of kTexts
    ARG_CUT = 8,       // one of kCuts
    ARG_BODY = 9,      // one of kBodies
    ARG_FIXED = 10,    // (byte - 128) / 16 in 16.16
    ARG_FLOAT = 11,    // (byte - 128) / 16 as a float value
    ARG_ARRAY = 12,    // a new array of six integers (the byte unused)
    ARG_MADE_UP = 13,  // four bytes, big-endian, as an id
    ARG_LIGHT = 14,    // a live light
    ARG_TOP = 15,      // a live instance in a scene's instance list
};

inline const char* const kTexts[] = {
    "",     "ship", "b1", "camera", "crate", "fuzz", "v\\ship", "cut\\later", "effects\\menugfx\\gui\\tooltip",
    "NULL", "lamp"};
inline constexpr int32_t kCuts[] = {3, 4, 5, 50000, 0, -1};
inline constexpr int32_t kBodies[] = {10, 11, 12, 195, 200005, 20000, -1, 0, 9999};

// Steps between calls: STEP_FIRST + n.
constexpr uint8_t STEP_FIRST = 157;
enum Step : uint8_t {
    STEP_FRAME = 0,        // take update, frame draw, 40 ms on the clock
    STEP_CLOCK = 1,        // + byte x 100 ms
    STEP_SAVE_LOAD = 2,    // save, location reset, load
    STEP_REPLAY = 3,       // one replay step
    STEP_RESET = 4,        // location reset
    STEP_FLUSH = 5,        // memory flush
    STEP_AGE = 6,          // body ageing
    STEP_TAKES = 7,        // take update alone
    STEP_FINISH = 8,       // every job to its end
    STEP_REOPEN = 9,       // the scene engine's part of a device reopen
    STEP_LOAD_INSTS = 10,  // the saved-instance checks after a load
    STEP_SAVE = 11,        // a save alone
    STEP_COUNT = 12,
};

// Builds a program.
class Program {
public:
    explicit Program(uint8_t options = 0) : bytes_{options} {}
    struct A {
        uint8_t kind, pick;
        int32_t word = 0;  // ARG_WORD, ARG_MADE_UP
    };
    Program& Call(int32_t call, std::initializer_list<A> args) {
        bytes_.push_back(uint8_t(call));
        bytes_.push_back(uint8_t(args.size()));
        for (const A& a : args) {
            bytes_.push_back(a.kind);
            if (a.kind == ARG_WORD || a.kind == ARG_MADE_UP) {
                for (int s = 24; s >= 0; s -= 8) bytes_.push_back(uint8_t(uint32_t(a.word) >> s));
            } else {
                bytes_.push_back(a.pick);
            }
        }
        return *this;
    }
    Program& Step(uint8_t step, uint8_t value = 0) {
        bytes_.push_back(uint8_t(STEP_FIRST + step));
        if (step == STEP_CLOCK) bytes_.push_back(value);
        return *this;
    }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

// Argument shorthands.
inline Program::A Inst(uint8_t n) { return {ARG_INST, n}; }
inline Program::A Cam(uint8_t n) { return {ARG_CAMERA, n}; }
inline Program::A Scn(uint8_t n) { return {ARG_SCENE, n}; }
inline Program::A Take(uint8_t n) { return {ARG_TAKE, n}; }
inline Program::A Seen(uint8_t n) { return {ARG_SEEN, n}; }
inline Program::A Small(int32_t v) { return {ARG_SMALL, uint8_t(v + 16)}; }
inline Program::A Word(int32_t v) { return {ARG_WORD, 0, v}; }
inline Program::A Text(uint8_t n) { return {ARG_TEXT, n}; }
inline Program::A Cut(uint8_t n) { return {ARG_CUT, n}; }
inline Program::A Body(uint8_t n) { return {ARG_BODY, n}; }
inline Program::A Light(uint8_t n) { return {ARG_LIGHT, n}; }
inline Program::A Top(uint8_t n) { return {ARG_TOP, n}; }

}  // namespace sceneprogram
