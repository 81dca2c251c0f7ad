#include "program/galaxyimport.h"

#include <cstring>
#include <strings.h>
#include <vector>

#include "base/log.h"
#include "base/markup.h"
#include "script/arrays.h"
#include "space/queries.h"

namespace {

// Main types with their own layout; 21, 23, 24 and 26 are the import's own.
constexpr int32_t T_SECTOR = 1, T_BACKGROUND = 2, T_SUN = 3, T_PLANET = 4, T_DOCK = 5, T_FACTORY = 6, T_SHIP = 7,
                  T_ASTEROID = 17, T_GATE = 18, T_SPECIAL = 20, T_NEBULA = 21, T_DUMMY = 23, T_TEXT = 24, T_VALUE = 26,
                  T_DEBRIS = 28;

struct Attributes {
    int32_t t = -99, s = 0, x = 0, y = 0, z = 0, a = 0, b = 0, g = 0, at = 0, aa = 0, c = 0, d[8] = {}, f = 0, fn = 0,
            ff = 0, gi = -1, gy = -1, gt = -1, gx = -1, h = 0, hu = 0, sh = 0, i = -1, id = 0, m = 0, r = 0, v = 0,
            n = -1, ne = 0, st = 0, o = -1, p = -1, si = 10000000;
    const char* e = nullptr;
    bool position = false;
    bool rotation = false;
};

// Leading sign and digits; text without a number gives 0. Wraps as a 32-bit word.
int32_t Number(const char* text) {
    const char* p = text;
    while (*p == ' ' || *p == '\t') ++p;
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    uint32_t n = 0;
    while (*p >= '0' && *p <= '9') n = n * 10u + static_cast<uint32_t>(*p++ - '0');
    return static_cast<int32_t>(negative ? 0u - n : n);
}

void ReadAttribute(Attributes& at, const char* name, const char* value) {
    const char second = name[0] ? name[1] : '\0';
    const int32_t n = Number(value);
    switch (name[0]) {
        case 't': at.t = n; return;
        case 's':
            if (second == 'i') at.si = n;
            else if (second == 'h') at.sh = n;
            else if (second == 't') at.st = n;
            else if (at.t == T_DUMMY || at.t == T_TEXT || at.t == T_VALUE) at.s = n;
            else at.s = SA_GetSubTypeByName(at.t, value);
            return;
        case 'x':
            at.x = n;
            at.position = true;
            return;
        case 'y':
            at.y = n;
            at.position = true;
            return;
        case 'z':
            at.z = n;
            at.position = true;
            return;
        case 'a':
            if (second == 't') at.at = n;
            else if (second == 'a') at.aa = n;
            else {
                at.a = n;
                at.rotation = true;
            }
            return;
        case 'b':
            at.b = n;
            at.rotation = true;
            return;
        case 'g':
            if (second == 'i') at.gi = n;
            else if (second == 'y') at.gy = n;
            else if (second == 't') at.gt = n;
            else if (second == 'x') at.gx = n;
            else {
                at.g = n;
                at.rotation = true;
            }
            return;
        case 'c': at.c = n; return;
        case 'd':
            if (second >= '0' && second <= '7') at.d[second - '0'] = n;
            return;
        case 'e': at.e = value; return;
        case 'f':
            if (second == 'n') at.fn = n;
            else if (second == 'f') at.ff = n;
            else if (second != 'c') at.f = n;
            return;
        case 'h':
            if (second == 'u') at.hu = n;
            else at.h = n;
            return;
        case 'i':
            if (second == 'd') at.id = n;
            else at.i = n;
            return;
        case 'm': at.m = n; return;
        case 'r': at.r = n; return;
        case 'v': at.v = n; return;
        case 'n':
            if (second == 'e') at.ne = n;
            else at.n = n;
            return;
        case 'o': at.o = n; return;
        case 'p': at.p = n; return;
        default: Qel_DPrintf(0, "P_AssignGalaxy() Unknown XMLAttr found: %s='%s'\n", name, value); return;
    }
}

// Entries of one array, built before the array is made.
class Entries {
public:
    ~Entries() {
        for (ScriptValue& v : values_) SV_Release(&v);
    }
    void Int(int32_t n) {
        ScriptValue v{};
        SV_AssignInt(&v, n);
        values_.push_back(v);
    }
    void Text(const char* text) {
        ScriptValue v{};
        SV_AssignDString(&v, text, static_cast<int32_t>(std::strlen(text)));
        values_.push_back(v);
    }
    // Takes the value over (it is left undefined).
    void Take(ScriptValue* value) {
        values_.push_back(*value);
        *value = ScriptValue{};
    }
    bool Empty() const { return values_.empty(); }
    // Moves the entries into an ARRAY in out; INTEGER 0 when the array cannot be made.
    void Into(ScriptValue* out) {
        const auto count = static_cast<int32_t>(values_.size());
        if (!SV_ArrayAlloc(out, count)) {
            SV_AssignInt(out, 0);
            return;
        }
        for (int32_t k = 0; k < count; ++k) SV_ArrayWrite(out, k, &values_[static_cast<size_t>(k)]);
    }

private:
    std::vector<ScriptValue> values_;
};

bool IsElement(const XmlNode* node) { return node && node->kind == XML_ELEMENT && node->text; }
XmlNode* FirstChild(const XmlNode* node) { return node->element ? node->element->children.head : nullptr; }

bool IsDummy(int32_t type) { return type >= -10 && type <= -1; }

// The dummy type a type-23 element's "s" (1 to 10) stands for.
constexpr int32_t kDummyOfSubtype[] = {-6, -7, -9, -8, -1, -5, -4, -2, -3, -10};
// The code written before a dummy child of a dock, factory or ship, by -type - 1.
constexpr int32_t kCodeOfDummy[] = {5, 8, 9, 7, 6, 1, 2, 4, 3, 10};

const char* const kElementNames[] = {"sector",  "background", "sun",      "planet", "gate", "dock", "container",
                                     "special", "ship",       "asteroid", "debris", "ware", "o"};

constexpr int32_t kSkipped = INT32_MIN;

int32_t Convert(ScriptValue* out, XmlNode* node, int32_t version, int depth);

// Converts every element child of node; pairs adds the dummy code before each.
void AddChildren(Entries& entries, XmlNode* node, int32_t version, int depth, int32_t parentType, bool pairs) {
    for (XmlNode* child = FirstChild(node); child; child = child->next) {
        if (!IsElement(child)) continue;
        ScriptValue value{};
        const int32_t type = Convert(&value, child, version, depth + 1);
        if (type == kSkipped) {
            SV_Release(&value);
            continue;
        }
        if (pairs) {
            if (IsDummy(type)) entries.Int(kCodeOfDummy[-type - 1]);
            else Qel_DPrintf(0, "P_AssignGalaxy() Wrong container dummy type %d in type %d found!\n", type, parentType);
        }
        entries.Take(&value);
    }
}

int32_t ConvertElement(ScriptValue* out, XmlNode* node, int32_t version, int depth) {
    Attributes at;
    if (node->element)
        for (XmlListItem* item = node->element->attributes.head; item; item = item->next) {
            const char* name = item->name ? item->name : "";
            const char* value = item->value ? item->value : "";
            if (name[0] < 'a' || name[0] > 'z')
                Qel_DPrintf(0, "P_AssignGalaxy() Unknown XMLAttr found: %s='%s'\n", name, value);
            else ReadAttribute(at, name, value);
        }
    const int32_t rot = at.rotation ? 1 : 0;
    Entries e;
    int32_t type = at.t;
    switch (at.t) {
        case T_SECTOR:
            for (int32_t n : {at.t, at.x, at.y, at.r, at.id, at.si, at.m, at.p, at.f}) e.Int(n);
            AddChildren(e, node, version, depth, at.t, false);
            break;
        case T_BACKGROUND:
            for (int32_t n : {at.t, at.s, at.ne, at.st}) e.Int(n);
            break;
        case T_SUN:
            if (version < 4)
                for (int32_t n :
                     {at.t, at.x, at.y, at.z, (at.c >> 16) & 0xff, (at.c >> 8) & 0xff, at.c & 0xff, at.s, at.f})
                    e.Int(n);
            else
                for (int32_t n : {at.t, at.x, at.y, at.z, at.s, at.c, at.f}) e.Int(n);
            break;
        case T_PLANET:
            if (version < 4)
                for (int32_t n : {at.t, at.x, at.y, at.z, at.s, at.fn, at.f}) e.Int(n);
            else
                for (int32_t n : {at.t, at.x, at.y, at.z, at.s, at.c, at.fn, at.f}) e.Int(n);
            break;
        case T_DOCK:
        case T_FACTORY:
            for (int32_t n : {at.t, at.x, at.y, at.z, at.s, at.r, rot, at.a, at.b, at.g, at.id, at.n, at.f}) e.Int(n);
            AddChildren(e, node, version, depth, at.t, true);
            break;
        case T_SHIP:
            for (int32_t n : {at.t, at.x, at.y, at.z, at.s, at.r, at.id, at.n, at.f}) e.Int(n);
            AddChildren(e, node, version, depth, at.t, true);
            break;
        case T_ASTEROID:
        case T_DEBRIS:
            for (int32_t n : {at.t, at.x, at.y, at.z, at.s, at.at, at.aa, rot, at.a, at.b, at.g, at.id, at.n, at.f})
                e.Int(n);
            break;
        case T_GATE:
            for (int32_t n : {at.t, at.x, at.y, at.z, at.s, at.r, at.gi, at.gx, at.gy, at.gt, rot, at.a, at.b, at.g,
                              at.id, at.n, at.f})
                e.Int(n);
            break;
        case T_SPECIAL:
            for (int32_t n : {at.t, at.x, at.y, at.z, at.s, at.a, at.b, at.g, at.id, at.n}) e.Int(n);
            if (version == 5) e.Int(at.v);
            e.Int(at.f);
            break;
        case T_NEBULA:
            if (at.si < 0 || at.o < 0 || at.si > at.o) {
                Qel_DPrintf(0, "Invalid nebula size: inner=%d outer=%d\n", at.si, at.o);
                at.si = 5000000;
                at.o = 7500000;
            }
            for (int32_t n : {at.t, at.x, at.y, at.z, at.id, at.si, at.o, at.b, at.fn, at.ff, at.h, at.n < 0 ? 0 : at.n,
                              at.sh, at.hu, at.v})
                e.Int(n);
            for (int32_t n : at.d) e.Int(n);
            e.Int(at.f);
            break;
        case T_DUMMY:
            if (at.s < 1 || at.s > 10) {
                Qel_DPrintf(0, "P_AssignGalaxy() Invalid container dummy subtype %d skipped\n", at.s);
                return kSkipped;
            }
            type = kDummyOfSubtype[at.s - 1];
            AddChildren(e, node, version, depth, type, false);
            if (e.Empty()) {
                SV_AssignInt(out, 0);
                return type;
            }
            break;
        case T_TEXT:
        case T_VALUE:
            e.Int(at.t);
            e.Int(at.s);
            if (at.e) e.Text(at.e);
            else e.Int(at.t == T_TEXT ? 0 : at.v);
            break;
        default:
            if (at.t >= 8 && at.t <= 16) {
                const int32_t count = at.n < 1 ? 1 : at.n;
                if (at.position)
                    for (int32_t n : {at.t, at.x, at.y, at.z, at.s, at.id, count, at.f}) e.Int(n);
                else if (at.t == 8)
                    for (int32_t n : {8, at.s, at.i}) e.Int(n);
                else
                    for (int32_t n : {at.t, at.s, count}) e.Int(n);
                break;
            }
            // No array for any other type.
            SV_AssignInt(out, 0);
            return type;
    }
    e.Into(out);
    return type;
}

int32_t Convert(ScriptValue* out, XmlNode* node, int32_t version, int depth) {
    SV_AssignInt(out, 0);
    if (!IsElement(node)) return 0;
    if (depth > GALAXY_MAX_DEPTH) {
        Qel_DPrintf(0, "P_AssignGalaxy() Element %s nested deeper than %d levels\n", node->text, GALAXY_MAX_DEPTH);
        return 0;
    }
    if (std::strcmp(node->text, "ROOT") == 0) {
        for (XmlNode* child = FirstChild(node); child; child = child->next)
            if (IsElement(child)) {
                Convert(out, child, version, depth + 1);
                if (out->tag == VARTYPE_UNDEFINED) SV_AssignInt(out, 0);
                break;
            }
        return 0;
    }
    if (std::strcmp(node->text, "universe") == 0) {
        if (version < 1 || version > GALAXY_FORMAT_VERSION) {
            Qel_DPrintf(0, "P_AssignGalaxy() Unknown format version %d! Current version is %d\n", version,
                        GALAXY_FORMAT_VERSION);
            return 0;
        }
        Entries e;
        AddChildren(e, node, version, depth, 0, false);
        if (!e.Empty()) e.Into(out);
        return 0;
    }
    for (const char* name : kElementNames)
        if (strcasecmp(node->text, name) == 0) return ConvertElement(out, node, version, depth);
    Qel_DPrintf(0, "P_AssignGalaxy() unknown atype %s\n", node->text);
    return 0;
}

}  // namespace

int32_t P_AssignGalaxy(ScriptValue* out, XmlNode* node, int32_t version) {
    const int32_t type = Convert(out, node, version, 0);
    return type == kSkipped ? 0 : type;
}
