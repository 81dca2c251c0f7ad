#include "script/opcodes.h"

namespace {
constexpr SE_OpcodeInfo Op(const char* m, uint8_t a = SE_OPND_NONE, uint8_t b = SE_OPND_NONE) {
    return SE_OpcodeInfo{m, {a, b}};
}
}  // namespace

const SE_OpcodeInfo SE_Opcodes[SE_OP_COUNT] = {
    Op(nullptr),
    Op("pushw", SE_OPND_S16), Op("pushl", SE_OPND_I32), Op("pushds", SE_OPND_STR16),
    Op("getg", SE_OPND_S16), Op("getl", SE_OPND_S16), Op("getv", SE_OPND_S16),
    Op("dup"), Op("index"),
    Op("c0"), Op("c1"), Op("c2"), Op("c3"), Op("c4"), Op("c5"), Op("c6"), Op("c7"),
    Op("c8"), Op("c9"), Op("c10"), Op("c11"), Op("c12"), Op("c13"), Op("c14"), Op("c15"),
    Op("c16"), Op("c17"), Op("c18"), Op("c19"), Op("c20"), Op("c21"), Op("c22"), Op("c23"),
    Op("c24"), Op("c25"), Op("c26"), Op("c27"), Op("c28"), Op("c29"), Op("c30"), Op("c31"),
    Op("setg", SE_OPND_S16), Op("setl", SE_OPND_S16), Op("setv", SE_OPND_S16),
    Op("pop"), Op("store"), Op("popn", SE_OPND_S16), Op("mkarray"), Op("mktable"),
    Op("jmp", SE_OPND_A32), Op("jnf", SE_OPND_A32), Op("jf", SE_OPND_A32),
    Op("call", SE_OPND_STR16), Op("ret"), Op("sys", SE_OPND_STR16), Op("method", SE_OPND_STR16),
    Op("calla", SE_OPND_A32, SE_OPND_STR16), Op("methoda", SE_OPND_A32, SE_OPND_STR16),
    Op("new"), Op("delete"), Op("self"), Op("super"),
    Op("add"), Op("sub"), Op("mul"), Op("div"), Op("mod"), Op("or"), Op("and"), Op("eor"),
    Op("lor"), Op("land"), Op("lsh"), Op("rsh"),
    Op("lt"), Op("gt"), Op("le"), Op("ge"), Op("ne"), Op("eq"),
    Op("neg"), Op("not"), Op("inv"), Op("launch"), Op("end"), Op("room", SE_OPND_S16),
    Op("pushs", SE_OPND_STR32), Op("methodl", SE_OPND_STR32),
    Op("callal", SE_OPND_A32, SE_OPND_STR32), Op("methodal", SE_OPND_A32, SE_OPND_STR32),
    Op("sysl", SE_OPND_STR32), Op("calll", SE_OPND_STR32),
    Op("pushf", SE_OPND_F64), Op("pushf0"), Op("jtab", SE_OPND_JUMPTABLE), Op("case"),
};
