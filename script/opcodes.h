// The story bytecode: opcode numbers, mnemonics and operand shapes. One
// opcode word (1..95) is followed by its operands:
//   s16: one signed word; i32 / a32: two words, high word first; f64: four
//   words, most significant first; a jump table: one a32 per case target.
#pragma once

#include <cstdint>

enum : uint16_t {
    SE_OP_PUSH16 = 1,     // s16 v: push INTEGER v
    SE_OP_PUSH32 = 2,     // i32 v
    SE_OP_PUSHDSTR = 3,   // s16 n: push a DSTRING copy of static string n
    SE_OP_GETGLOBAL = 4,  // s16 i
    SE_OP_GETLOCAL = 5,   // s16 i
    SE_OP_GETVAR = 6,     // s16 i: own-object variable
    SE_OP_DUP = 7,
    SE_OP_INDEX = 8,
    SE_OP_CONST0 = 9,  // 9..40 push INTEGER 0..31
    SE_OP_CONST31 = 40,
    SE_OP_SETGLOBAL = 41,  // s16 i
    SE_OP_SETLOCAL = 42,   // s16 i
    SE_OP_SETVAR = 43,     // s16 i
    SE_OP_POP = 44,
    SE_OP_INDEXSET = 45,
    SE_OP_POPN = 46,  // s16 n
    SE_OP_MKARRAY = 47,
    SE_OP_MKTABLE = 48,
    SE_OP_JMP = 49,   // a32 p
    SE_OP_JNF = 50,   // a32 p: pop; jump unless false
    SE_OP_JF = 51,    // a32 p: pop; jump if false
    SE_OP_CALL = 52,  // s16 name
    SE_OP_RET = 53,
    SE_OP_SYS = 54,       // s16 call name (linked in place)
    SE_OP_METHOD = 55,    // s16 name
    SE_OP_CALLAT = 56,    // a32 p, s16 name
    SE_OP_METHODAT = 57,  // a32 p, s16 name
    SE_OP_NEW = 58,
    SE_OP_DELETE = 59,
    SE_OP_SELF = 60,
    SE_OP_SUPER = 61,
    SE_OP_ADD = 62,
    SE_OP_SUB = 63,
    SE_OP_MUL = 64,
    SE_OP_DIV = 65,
    SE_OP_MOD = 66,
    SE_OP_OR = 67,
    SE_OP_AND = 68,
    SE_OP_EOR = 69,
    SE_OP_LOR = 70,
    SE_OP_LAND = 71,
    SE_OP_LSH = 72,
    SE_OP_RSH = 73,
    SE_OP_LT = 74,
    SE_OP_GT = 75,
    SE_OP_LE = 76,
    SE_OP_GE = 77,
    SE_OP_NE = 78,
    SE_OP_EQ = 79,
    SE_OP_MINUS = 80,
    SE_OP_NOT = 81,
    SE_OP_INV = 82,
    SE_OP_LAUNCH = 83,
    SE_OP_END = 84,
    SE_OP_ROOM = 85,       // s16 n
    SE_OP_PUSHSTR = 86,    // i32 n: push STRING n
    SE_OP_METHODL = 87,    // i32 name
    SE_OP_CALLATL = 88,    // a32 p, i32 name
    SE_OP_METHODATL = 89,  // a32 p, i32 name
    SE_OP_SYSL = 90,       // i32 call name (linked in place)
    SE_OP_CALLL = 91,      // i32 name
    SE_OP_PUSHFLOAT = 92,  // f64 d
    SE_OP_PUSHFLOAT0 = 93,
    SE_OP_JTAB = 94,  // a32 per case: indexed jump
    SE_OP_CASE = 95,
    SE_OP_COUNT = 96,  // opcodes are 1 .. SE_OP_COUNT-1
};

// Operand shapes.
enum : uint8_t {
    SE_OPND_NONE = 0,
    SE_OPND_S16,        // a signed number
    SE_OPND_I32,        // a signed 32-bit number
    SE_OPND_A32,        // an absolute code position
    SE_OPND_F64,        // a double
    SE_OPND_STR16,      // a static string number in one word
    SE_OPND_STR32,      // a static string number in two words
    SE_OPND_JUMPTABLE,  // a run of a32 targets
};

struct SE_OpcodeInfo {
    const char* mnemonic;
    uint8_t operands[2];
};

// Indexed by opcode; entry 0 is unused.
extern const SE_OpcodeInfo SE_Opcodes[SE_OP_COUNT];
// Words an operand shape takes (the jump table counts per target).
constexpr int SE_OperandWords(uint8_t shape) {
    switch (shape) {
        case SE_OPND_S16:
        case SE_OPND_STR16: return 1;
        case SE_OPND_I32:
        case SE_OPND_A32:
        case SE_OPND_STR32:
        case SE_OPND_JUMPTABLE: return 2;
        case SE_OPND_F64: return 4;
        default: return 0;
    }
}
