// Regular expressions: a recursive-descent compiler that emits a linear node
// program (sized in a first pass, written in a second), and a backtracking
// matcher that keeps its choice points on an explicit stack instead of the
// call stack, so long subjects cannot overflow it.
#include "base/regex.h"

#include <cstring>

#include "base/log.h"
#include "base/memory.h"

namespace {

constexpr uint32_t kRegexFlags = 0;

// Node program. Offsets are signed 16-bit, big-endian, relative to the start
// of the node that holds them.
enum Op : uint8_t {
    OP_END = 1,   // the match is complete
    OP_CHAR,      // c: one byte
    OP_STR,       // n, bytes[n]: a literal run
    OP_ANY,       // any byte
    OP_SET,       // bitmap[32]: a byte in the set
    OP_BOL,       // start of the subject
    OP_EOL,       // end of the subject
    OP_SPLIT,     // first, second: try first, on failure second
    OP_JMP,       // offset
    OP_SAVE,      // slot: record the position (group n: slots 2n and 2n+1)
    OP_RPT_ANY,   // min: greedy run of any bytes, at least min (0 or 1)
    OP_RPT_CHAR,  // min, c
    OP_RPT_SET,   // min, bitmap[32]
};

constexpr uint32_t kSplitSize = 5;
constexpr uint32_t kSetBytes = 32;
constexpr int kMaxRun = 255;

void Fail(const char* text) { Qel_ErrPrintf("eregexp: %s\n", text); }

// ---------------------------------------------------------------- compiler

// What a parsed part of the pattern can do.
struct Shape {
    bool canBeEmpty = false;
    bool single = false;  // one CHAR, ANY or SET node: repeats become run nodes
};

// Facts about the top-level branch, for the start-position hints.
struct Hints {
    int32_t firstChar = -1;
    bool anchored = false;
    uint32_t mustOffset = 0;
    uint32_t mustLength = 0;
};

struct Compiler {
    const uint8_t* p;  // next pattern byte
    uint8_t* code;     // null while sizing
    size_t size;       // bytes emitted (or counted) so far
    int groups;
    bool failed;

    bool Error(const char* text) {
        if (!failed) Fail(text);
        failed = true;
        return false;
    }

    void Emit(uint8_t b) {
        if (code) code[size] = b;
        ++size;
    }
    void EmitOffset(int32_t off) {
        Emit(static_cast<uint8_t>((off >> 8) & 0xFF));
        Emit(static_cast<uint8_t>(off & 0xFF));
    }
    void PutOffset(size_t at, int32_t off) {
        if (!code) return;
        code[at] = static_cast<uint8_t>((off >> 8) & 0xFF);
        code[at + 1] = static_cast<uint8_t>(off & 0xFF);
    }
    // Opens n bytes at position at; the code after it moves up. Every offset
    // is relative and never leaves the moved block, so the block stays valid.
    void Insert(size_t at, size_t n) {
        if (code) memmove(code + at + n, code + at, size - at);
        size += n;
    }
    void WriteSplit(size_t at, int32_t first, int32_t second) {
        if (!code) return;
        code[at] = OP_SPLIT;
        PutOffset(at + 1, first);
        PutOffset(at + 3, second);
    }

    bool Alternation(Shape* shape, Hints* hints);
    bool Branch(Shape* shape, Hints* hints);
    bool Piece(Shape* shape, Hints* hints, bool first);
    bool Atom(Shape* shape, bool* literal);
    bool Set();
};

bool IsRepeat(uint8_t c) { return c == '*' || c == '+' || c == '?'; }

bool IsSpecial(uint8_t c) {
    return c == '\0' || c == '^' || c == '$' || c == '.' || c == '[' || c == '(' || c == ')' || c == '|' || IsRepeat(c);
}

bool Compiler::Alternation(Shape* shape, Hints* hints) {
    size_t branchStart = size;
    // The JMP nodes at the ends of branches wait for the end of the alternation;
    // until then each one's offset field links back to the previous one (0 ends).
    size_t lastJmp = 0;
    Shape branch;
    if (!Branch(&branch, hints)) return false;
    bool canBeEmpty = branch.canBeEmpty;
    bool alternatives = false;
    while (*p == '|') {
        ++p;
        alternatives = true;
        Insert(branchStart, kSplitSize);
        size_t jmp = size;
        Emit(OP_JMP);
        EmitOffset(lastJmp ? static_cast<int32_t>(jmp - lastJmp) : 0);
        lastJmp = jmp;
        WriteSplit(branchStart, kSplitSize, static_cast<int32_t>(size - branchStart));
        branchStart = size;
        if (!Branch(&branch, nullptr)) return false;
        canBeEmpty = canBeEmpty || branch.canBeEmpty;
    }
    while (lastJmp) {
        int32_t back = 0;
        if (code) back = static_cast<int16_t>((code[lastJmp + 1] << 8) | code[lastJmp + 2]);
        PutOffset(lastJmp + 1, static_cast<int32_t>(size - lastJmp));
        lastJmp = (code && back) ? lastJmp - back : 0;
    }
    if (alternatives && hints) *hints = Hints{};
    shape->canBeEmpty = canBeEmpty;
    shape->single = !alternatives && branch.single;
    return true;
}

bool Compiler::Branch(Shape* shape, Hints* hints) {
    bool canBeEmpty = true;
    int pieces = 0;
    bool single = false;
    while (*p != '\0' && *p != '|' && *p != ')') {
        Shape piece;
        if (!Piece(&piece, hints, pieces == 0)) return false;
        canBeEmpty = canBeEmpty && piece.canBeEmpty;
        single = piece.single;
        ++pieces;
    }
    shape->canBeEmpty = canBeEmpty;
    shape->single = pieces == 1 && single;
    return true;
}

bool Compiler::Piece(Shape* shape, Hints* hints, bool first) {
    size_t atomStart = size;
    Shape atom;
    bool literal = false;
    if (!Atom(&atom, &literal)) return false;
    uint8_t op = *p;
    if (!IsRepeat(op)) {
        *shape = atom;
        if (hints && code) {
            uint8_t node = code[atomStart];
            if (first && node == OP_BOL) hints->anchored = true;
            if (literal) {
                uint32_t length = node == OP_CHAR ? 1 : code[atomStart + 1];
                uint32_t offset = static_cast<uint32_t>(atomStart) + (node == OP_CHAR ? 1 : 2);
                if (first) hints->firstChar = code[offset];
                if (length > hints->mustLength) {
                    hints->mustLength = length;
                    hints->mustOffset = offset;
                }
            }
        }
        return true;
    }
    ++p;
    if (atom.canBeEmpty && op != '?') return Error("*+ operand could be empty");
    if (atom.single && op != '?') {
        // CHAR c / ANY / SET map become RPT_CHAR min c / RPT_ANY min / RPT_SET min map.
        Insert(atomStart, 1);
        if (code) {
            uint8_t node = code[atomStart + 1];
            code[atomStart] = node == OP_CHAR ? OP_RPT_CHAR : node == OP_ANY ? OP_RPT_ANY : OP_RPT_SET;
            code[atomStart + 1] = op == '+' ? 1 : 0;
            if (hints && first && op == '+' && node == OP_CHAR) hints->firstChar = code[atomStart + 2];
        }
    } else if (op == '*') {
        Insert(atomStart, kSplitSize);
        size_t jmp = size;
        Emit(OP_JMP);
        EmitOffset(static_cast<int32_t>(atomStart) - static_cast<int32_t>(jmp));
        WriteSplit(atomStart, kSplitSize, static_cast<int32_t>(size - atomStart));
    } else if (op == '+') {
        size_t split = size;
        Emit(OP_SPLIT);
        EmitOffset(static_cast<int32_t>(atomStart) - static_cast<int32_t>(split));
        EmitOffset(kSplitSize);
    } else {
        Insert(atomStart, kSplitSize);
        WriteSplit(atomStart, kSplitSize, static_cast<int32_t>(size - atomStart));
    }
    if (IsRepeat(*p)) return Error("nested *?+");
    shape->canBeEmpty = op != '+' || atom.canBeEmpty;
    shape->single = false;
    return true;
}

bool Compiler::Set() {
    // p is past '['.
    uint8_t map[kSetBytes] = {};
    bool complement = false;
    if (*p == '^') {
        complement = true;
        ++p;
    }
    auto add = [&](unsigned c) { map[c >> 3] |= static_cast<uint8_t>(1u << (c & 7)); };
    // A ']' or '-' first in the set is an ordinary member.
    if (*p == ']' || *p == '-') add(*p++);
    while (*p != ']') {
        if (*p == '\0') return Error("unmatched []");
        unsigned from = *p++;
        if (*p == '-' && p[1] != ']' && p[1] != '\0') {
            unsigned to = p[1];
            p += 2;
            if (from > to) return Error("invalid [] range");
            for (unsigned c = from; c <= to; ++c) add(c);
        } else {
            add(from);
        }
    }
    ++p;
    Emit(OP_SET);
    for (uint8_t b : map) Emit(complement ? static_cast<uint8_t>(~b) : b);
    return true;
}

bool Compiler::Atom(Shape* shape, bool* literal) {
    *shape = Shape{};
    *literal = false;
    uint8_t c = *p;
    switch (c) {
        case '\0':
        case '|':
        case ')': return Error("internal urp");  // a branch stops before these
        case '*':
        case '+':
        case '?': return Error("?+* follows nothing");
        case '^':
            ++p;
            Emit(OP_BOL);
            shape->canBeEmpty = true;
            return true;
        case '$':
            ++p;
            Emit(OP_EOL);
            shape->canBeEmpty = true;
            return true;
        case '.':
            ++p;
            Emit(OP_ANY);
            shape->single = true;
            return true;
        case '[':
            ++p;
            shape->single = true;
            return Set();
        case '(': {
            if (groups >= EREG_GROUPS - 1) return Error("too many ()");
            int group = ++groups;
            ++p;
            Emit(OP_SAVE);
            Emit(static_cast<uint8_t>(2 * group));
            Shape inner;
            if (!Alternation(&inner, nullptr)) return false;
            if (*p != ')') return Error("unmatched ()");
            ++p;
            Emit(OP_SAVE);
            Emit(static_cast<uint8_t>(2 * group + 1));
            shape->canBeEmpty = inner.canBeEmpty;
            return true;
        }
        default: break;
    }
    // A literal run. A byte followed by a repeat operator stands alone, so that
    // the operator applies to that byte only.
    uint8_t run[kMaxRun];
    int n = 0;
    while (n < kMaxRun && !IsSpecial(*p)) {
        const uint8_t* at = p;
        uint8_t b = *p++;
        if (b == '\\') {
            if (*p == '\0') return Error("trailing \\");
            b = *p++;
        }
        if (IsRepeat(*p) && n > 0) {
            p = at;
            break;
        }
        run[n++] = b;
        if (IsRepeat(*p)) break;
    }
    if (n == 1) {
        Emit(OP_CHAR);
        Emit(run[0]);
        shape->single = true;
    } else {
        Emit(OP_STR);
        Emit(static_cast<uint8_t>(n));
        for (int i = 0; i < n; ++i) Emit(run[i]);
    }
    *literal = true;
    return true;
}

// One pass over the pattern; with code null it only counts.
bool CompilePass(const char* pattern, uint8_t* code, size_t* size, Hints* hints, int* groups) {
    Compiler c{reinterpret_cast<const uint8_t*>(pattern), code, 0, 0, false};
    c.Emit(EREG_MAGIC);
    Shape shape;
    if (!c.Alternation(&shape, hints)) return false;
    if (*c.p != '\0') {
        // The alternation stops only at ')' or the end.
        return c.Error(*c.p == ')' ? "unmatched ()" : "junk on end");
    }
    c.Emit(OP_END);
    *size = c.size;
    if (groups) *groups = c.groups;
    return true;
}

// ------------------------------------------------------------------ matcher

bool InSet(const uint8_t* map, uint8_t c) { return (map[c >> 3] >> (c & 7)) & 1; }

int32_t ReadOffset(const uint8_t* at) { return static_cast<int16_t>((at[0] << 8) | at[1]); }

enum FrameKind : uint32_t { FRAME_BRANCH, FRAME_RESTORE, FRAME_REPEAT };

// A choice point (branch or repeat) or an undo record for a group slot.
struct Frame {
    FrameKind kind;
    int32_t pc;          // resume node; slot for FRAME_RESTORE
    const uint8_t* pos;  // resume position; old slot value for FRAME_RESTORE
    const uint8_t* low;  // FRAME_REPEAT: the run may not shrink below this
};

struct FrameStack {
    Frame local[64];
    Frame* data = local;
    size_t count = 0;
    size_t capacity = 64;

    ~FrameStack() {
        if (data != local) Int_FreeMem(data, capacity * sizeof(Frame), kRegexFlags);
    }
    bool Push(const Frame& f) {
        if (count == capacity) {
            size_t grown = capacity * 2;
            Frame* bigger;
            if (data == local) {
                bigger = static_cast<Frame*>(Int_AllocMem(grown * sizeof(Frame), kRegexFlags));
                if (bigger) memcpy(bigger, local, sizeof local);
            } else {
                bigger = static_cast<Frame*>(
                    Int_ReAllocMem(data, capacity * sizeof(Frame), grown * sizeof(Frame), kRegexFlags));
            }
            if (!bigger) return false;
            data = bigger;
            capacity = grown;
        }
        data[count++] = f;
        return true;
    }
};

enum class Outcome { Match, NoMatch, Error };

// Positions (node, subject offset) from which the search has already resumed
// once. Without back-references whether the rest of the pattern matches from
// such a position does not depend on how it was reached, and the search stops
// at its first match, so a second arrival can only fail again: it is skipped.
// This keeps nested repeats such as "(.+)*c" from trying every way to split
// the subject. Recording starts only after a number of resumes, so ordinary
// searches never touch the table.
class VisitedSet {
public:
    ~VisitedSet() {
        if (keys_) Int_FreeMem(keys_, capacity_ * sizeof(uint64_t), kRegexFlags);
    }
    // False when (pc, offset) was recorded before; records it otherwise.
    // Out of memory it records nothing and answers true: only pruning is lost.
    bool Insert(int32_t pc, size_t offset) {
        if ((count_ + 1) * 2 > capacity_ && !Grow()) return true;
        uint64_t key = (static_cast<uint64_t>(offset) << 16 | static_cast<uint32_t>(pc)) + 1;
        for (size_t i = Hash(key);; i = (i + 1) & (capacity_ - 1)) {
            if (keys_[i] == key) return false;
            if (keys_[i] == 0) {
                keys_[i] = key;
                ++count_;
                return true;
            }
        }
    }

private:
    size_t Hash(uint64_t key) const {
        return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & (capacity_ - 1);
    }
    bool Grow() {
        size_t grown = capacity_ ? capacity_ * 2 : 1024;
        auto* bigger = static_cast<uint64_t*>(Int_AllocMem(grown * sizeof(uint64_t), kRegexFlags));
        if (!bigger) return false;
        memset(bigger, 0, grown * sizeof(uint64_t));
        uint64_t* old = keys_;
        size_t oldCapacity = capacity_;
        keys_ = bigger;
        capacity_ = grown;
        for (size_t i = 0; i < oldCapacity; ++i) {
            if (!old[i]) continue;
            size_t j = Hash(old[i]);
            while (keys_[j]) j = (j + 1) & (capacity_ - 1);
            keys_[j] = old[i];
        }
        if (old) Int_FreeMem(old, oldCapacity * sizeof(uint64_t), kRegexFlags);
        return true;
    }
    uint64_t* keys_ = nullptr;
    size_t capacity_ = 0;
    size_t count_ = 0;
};

// Resumes before positions are recorded, and the work one search may do in
// all: node steps plus bytes scanned by runs. Past the budget the search fails
// with a log line, so no pattern can stall the frame that asked.
constexpr uint32_t kResumesBeforeRecording = 256;
constexpr uint64_t kStepBudget = 1ull << 26;

struct Matcher {
    const uint8_t* code;
    uint32_t codeSize;
    // The subject is never measured up front: a search that stops early (or a
    // caller stepping through a long text match by match) reads only what it needs.
    // Its closing zero is where '$' matches; no pattern byte is zero, so every
    // byte test fails there by itself.
    const uint8_t* begin;  // start of the subject: where '^' matches
    const uint8_t* slots[2 * EREG_GROUPS];
    const uint8_t* matchEnd;
    FrameStack stack;
    // Shared by every start position of one search: what failed from one start fails from any.
    VisitedSet visited;
    uint32_t resumes = 0;
    uint64_t steps = 0;

    // Whether the search should go on from (pc, sp) after backtracking to it.
    bool Fresh(int32_t pc, const uint8_t* sp) {
        if (++resumes <= kResumesBeforeRecording) return true;
        return visited.Insert(pc, static_cast<size_t>(sp - begin));
    }

    // How far a run node's byte test holds from pos.
    static const uint8_t* RunEnd(const uint8_t* node, const uint8_t* pos) {
        switch (node[0]) {
            case OP_RPT_ANY: return pos + strlen(reinterpret_cast<const char*>(pos));
            case OP_RPT_CHAR: {
                uint8_t c = node[2];
                while (*pos == c) ++pos;
                return pos;
            }
            default: {
                const uint8_t* map = node + 2;
                while (*pos && InSet(map, *pos)) ++pos;
                return pos;
            }
        }
    }

    static uint32_t RunSize(uint8_t op) { return op == OP_RPT_ANY ? 2 : op == OP_RPT_CHAR ? 3 : 2 + kSetBytes; }

    // Moves a repeat back to the next position where its continuation can
    // start; false when the run cannot shrink further.
    bool ShrinkRepeat(Frame& f) const {
        const uint8_t* next = code + f.pc;
        int need = next[0] == OP_CHAR ? next[1] : next[0] == OP_STR ? next[2] : -1;
        const uint8_t* pos = f.pos;
        while (pos > f.low) {
            --pos;
            if (need < 0 || *pos == need) {
                f.pos = pos;
                return true;
            }
        }
        return false;
    }

    bool Jump(int32_t* pc, int32_t off) const {
        int32_t target = *pc + off;
        if (target < 1 || static_cast<uint32_t>(target) >= codeSize) {
            Fail("corrupted pointers");
            return false;
        }
        *pc = target;
        return true;
    }

    Outcome Run(const uint8_t* start) {
        for (auto& s : slots) s = nullptr;
        stack.count = 0;
        int32_t pc = 1;
        const uint8_t* sp = start;
        for (;;) {
            if (++steps > kStepBudget) {
                Fail("match too complex");
                return Outcome::Error;
            }
            const uint8_t* node = code + pc;
            bool ok = true;
            switch (node[0]) {
                case OP_END: matchEnd = sp; return Outcome::Match;
                case OP_CHAR:
                    ok = *sp == node[1];
                    if (ok) ++sp, pc += 2;
                    break;
                case OP_STR: {
                    // Stops at the first difference, the subject's zero included.
                    size_t n = node[1];
                    size_t i = 0;
                    while (i < n && sp[i] == node[2 + i]) ++i;
                    ok = i == n;
                    if (ok) sp += n, pc += static_cast<int32_t>(2 + n);
                    break;
                }
                case OP_ANY:
                    ok = *sp != 0;
                    if (ok) ++sp, ++pc;
                    break;
                case OP_SET:
                    ok = *sp && InSet(node + 1, *sp);
                    if (ok) ++sp, pc += 1 + kSetBytes;
                    break;
                case OP_BOL:
                    ok = sp == begin;
                    ++pc;
                    break;
                case OP_EOL:
                    ok = *sp == 0;
                    ++pc;
                    break;
                case OP_SPLIT: {
                    int32_t alt = pc;
                    if (!Jump(&alt, ReadOffset(node + 3)) || !Jump(&pc, ReadOffset(node + 1))) return Outcome::Error;
                    if (!stack.Push({FRAME_BRANCH, alt, sp, nullptr})) return Outcome::Error;
                    break;
                }
                case OP_JMP:
                    if (!Jump(&pc, ReadOffset(node + 1))) return Outcome::Error;
                    break;
                case OP_SAVE: {
                    uint8_t slot = node[1];
                    if (slot >= 2 * EREG_GROUPS) {
                        Fail("internal foulup");
                        return Outcome::Error;
                    }
                    if (!stack.Push({FRAME_RESTORE, slot, slots[slot], nullptr})) return Outcome::Error;
                    slots[slot] = sp;
                    pc += 2;
                    break;
                }
                case OP_RPT_ANY:
                case OP_RPT_CHAR:
                case OP_RPT_SET: {
                    const uint8_t* runEnd = RunEnd(node, sp);
                    steps += static_cast<uint64_t>(runEnd - sp);
                    const uint8_t* low = sp + node[1];
                    if (runEnd < low) {
                        ok = false;
                        break;
                    }
                    pc += static_cast<int32_t>(RunSize(node[0]));
                    if (runEnd > low && !stack.Push({FRAME_REPEAT, pc, runEnd, low})) return Outcome::Error;
                    sp = runEnd;
                    break;
                }
                default: Fail("memory corruption"); return Outcome::Error;
            }
            if (ok) continue;
            // Back to the latest choice point, undoing group slots on the way.
            for (;;) {
                if (stack.count == 0) return Outcome::NoMatch;
                Frame& f = stack.data[stack.count - 1];
                if (f.kind == FRAME_RESTORE) {
                    slots[f.pc] = f.pos;
                    --stack.count;
                } else if (f.kind == FRAME_BRANCH) {
                    pc = f.pc;
                    sp = f.pos;
                    --stack.count;
                    if (Fresh(pc, sp)) break;
                } else if (ShrinkRepeat(f)) {
                    pc = f.pc;
                    sp = f.pos;
                    if (f.pos == f.low) --stack.count;
                    if (Fresh(pc, sp)) break;
                } else {
                    --stack.count;
                }
            }
        }
    }
};

// Whether the zero-terminated subject holds the n bytes of literal.
bool Contains(const uint8_t* subject, const uint8_t* literal, size_t n) {
    for (const char* at = reinterpret_cast<const char*>(subject); (at = strchr(at, literal[0])) != nullptr; ++at) {
        size_t i = 1;
        while (i < n && static_cast<uint8_t>(at[i]) == literal[i]) ++i;
        if (i == n) return true;
    }
    return false;
}

}  // namespace

ERegexp* eregcomp(const char* pattern) {
    if (!pattern) {
        Fail("NULL argument");
        return nullptr;
    }
    size_t size = 0;
    if (!CompilePass(pattern, nullptr, &size, nullptr, nullptr)) return nullptr;
    if (size >= EREG_MAX_PROGRAM) {
        Fail("eregexp too big");
        return nullptr;
    }
    size_t bytes = sizeof(ERegexp) + size;
    auto* prog = static_cast<ERegexp*>(Int_AllocMem(bytes, kRegexFlags));
    if (!prog) return nullptr;
    prog->codeSize = static_cast<uint32_t>(size);
    prog->program = reinterpret_cast<uint8_t*>(prog + 1);
    Hints hints;
    size_t written = 0;
    int groups = 0;
    if (!CompilePass(pattern, prog->program, &written, &hints, &groups) || written != size) {
        if (written != size) Fail("internal disaster");
        Int_FreeMem(prog, bytes, kRegexFlags);
        return nullptr;
    }
    prog->firstChar = hints.firstChar;
    prog->anchored = hints.anchored ? 1 : 0;
    prog->mustOffset = hints.mustOffset;
    prog->mustLength = hints.mustLength;
    prog->groupCount = static_cast<uint32_t>(groups);
    return prog;
}

int eregexec(ERegexp* prog, const char* string) {
    if (!prog || !string) {
        Fail("NULL parameter");
        return 0;
    }
    if (!prog->program || prog->codeSize < 2 || prog->program[0] != EREG_MAGIC) {
        Fail("corrupted program");
        return 0;
    }
    const uint8_t* begin = reinterpret_cast<const uint8_t*>(string);
    if (prog->mustLength && !Contains(begin, prog->program + prog->mustOffset, prog->mustLength)) return 0;

    Matcher m{prog->program, prog->codeSize, begin, {}, nullptr, {}, {}};
    auto attempt = [&](const uint8_t* at) -> Outcome {
        Outcome o = m.Run(at);
        if (o != Outcome::Match) return o;
        for (int i = 1; i < EREG_GROUPS; ++i) {
            const uint8_t* s = m.slots[2 * i];
            const uint8_t* e = m.slots[2 * i + 1];
            bool set = s && e;
            prog->startp[i] = set ? reinterpret_cast<const char*>(s) : nullptr;
            prog->endp[i] = set ? reinterpret_cast<const char*>(e) : nullptr;
        }
        prog->startp[0] = reinterpret_cast<const char*>(at);
        prog->endp[0] = reinterpret_cast<const char*>(m.matchEnd);
        return o;
    };

    Outcome o = Outcome::NoMatch;
    if (prog->anchored) {
        o = attempt(begin);
    } else if (prog->firstChar >= 0) {
        for (const char* at = string; (at = strchr(at, prog->firstChar)) != nullptr; ++at) {
            o = attempt(reinterpret_cast<const uint8_t*>(at));
            if (o != Outcome::NoMatch) break;
        }
    } else {
        for (const uint8_t* at = begin;; ++at) {
            o = attempt(at);
            if (o != Outcome::NoMatch || *at == 0) break;
        }
    }
    return o == Outcome::Match ? 1 : 0;
}

int eregsub(ERegexp* prog, const char* source, char* dest, size_t destSize) {
    if (!prog || !source || !dest) {
        Fail("NULL parm to regsub");
        return 0;
    }
    if (!prog->program || prog->program[0] != EREG_MAGIC) {
        Fail("damaged regexp fed to regsub");
        return 0;
    }
    if (destSize == 0) return 0;
    size_t w = 0;
    bool fits = true;
    auto put = [&](char c) {
        if (w + 1 < destSize) dest[w++] = c;
        else fits = false;
    };
    for (const char* t = source; *t;) {
        char c = *t++;
        int group = -1;
        if (c == '&') {
            group = 0;
        } else if (c == '\\' && *t >= '0' && *t <= '9') {
            group = *t++ - '0';
        } else if (c == '\\' && (*t == '\\' || *t == '&')) {
            c = *t++;
        }
        if (group < 0) {
            put(c);
            continue;
        }
        const char* from = prog->startp[group];
        const char* to = prog->endp[group];
        if (!from || !to) continue;
        if (to < from) {
            dest[w] = '\0';
            Fail("damaged match string");
            return 0;
        }
        for (; from < to && fits; ++from) put(*from);
    }
    dest[w] = '\0';
    return fits ? 1 : 0;
}

void eregfree(ERegexp* prog) {
    if (prog) Int_FreeMem(prog, sizeof(ERegexp) + prog->codeSize, kRegexFlags);
}
