#include "space/containercalls.h"

#include "base/fixmath.h"
#include "base/log.h"
#include "scene/records.h"
#include "scene/smallops.h"
#include "script/arrays.h"
#include "space/cutscene.h"
#include "space/flight.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/typesdb.h"
#include "space/utility.h"

namespace {

// Instance flag: the instance is drawn after the others.
constexpr uint32_t kInstRenderLast = 0x10;
// The hue a ship keeps is 360 minus the hue set, in 32-bit words that wrap,
// so that any hue set reads back as it was.
constexpr int32_t kHueTurn = 360;
int32_t HueKept(int32_t hue) {
    return static_cast<int32_t>(static_cast<uint32_t>(kHueTurn) - static_cast<uint32_t>(hue));
}
// Colour modifier words of an instance: hue and saturation.
constexpr int32_t kHueWord = 0;
constexpr int32_t kSaturationWord = 1;
constexpr int32_t kNebulaWords = 16;
constexpr int32_t kNebulaArray = 8;

int32_t Id(const SectorObject* o) { return o ? static_cast<int32_t>(o->id) : 0; }
int32_t Low16(int32_t v) { return v & 0xFFFF; }

template <typename Fn>
int32_t Read(const SA_Call& c, Fn fn) {
    SectorObject* o = c.Object(0);
    return c.Answer(o ? fn(o) : 0);
}

template <typename Fn>
int32_t Write(const SA_Call& c, Fn fn) {
    if (SectorObject* o = c.Object(0)) fn(o);
    return c.Answer(0);
}

bool IsWreck(const SectorObject* o) { return o->mainType >= SA_MT_DOCK_WRECK && o->mainType <= SA_MT_SHIP_WRECK; }

// The start ID of a child search: argument i when the call has exactly i + 1
// arguments and it is true, else 0 (from the first child).
uint32_t StartId(const SA_Call& c, int32_t i) {
    return c.argc == i + 1 && c.IsTrue(i) ? static_cast<uint32_t>(c.Int(i)) : 0u;
}

int32_t FindByPath(const SA_Call& c, int32_t key) {
    return Read(c, [&c, key](SectorObject* o) { return Id(SA_FindChildByPath(o, key, c.Int(1), StartId(c, 2))); });
}

// The colour modifier word on every part of the ship's instance tree.
void ApplyColourWord(SectorObject* ship, int32_t which, int32_t value) {
    if (!ship->instance) return;
    B3D_InstForTree(
        ship->instance,
        [](Inst3D* inst, intptr_t w, intptr_t v) {
            B3D_InstSetColorModifierWord(inst, static_cast<int32_t>(w), static_cast<int32_t>(v));
        },
        which, value);
}

// A type test of two type arguments: 0 for an invalid code, else the test on their low 16 bits.
template <typename Fn>
int32_t TypeTest(const SA_Call& c, Fn fn) {
    if (!SA_CheckTypeCode(c.Int(0), c.Int(1))) return c.Answer(0);
    return c.Answer(fn(Low16(c.Int(0)), Low16(c.Int(1))));
}

}  // namespace

int32_t SACall_MoveObjectIntoContainer(const SA_Call& c) {
    SectorObject* object = c.Object(0);
    SectorObject* container = c.Object(1);
    if (!object || !container) {
        Qel_DPrintf(0, "SYS_SA_MoveObjectIntoContainer(%d,%d) (%s) failed!\n", c.Int(0), c.Int(1), SA_ScriptPosition());
        return c.Answer(0);
    }
    return c.Answer(O_MoveIntoContainer(container, object));
}

int32_t SACall_MoveLaserIntoContainer(const SA_Call& c) {
    SectorObject* laser = c.Object(0);
    SectorObject* ship = c.Object(1);
    const int32_t slot = c.Int(2);
    // The laser is mounted on the slot, so the slot must be one of the ship's laser slots.
    const TypeRecord* t = ship && ship->mainType == SA_MT_SHIP ? O_GetTypeRecord(ship) : nullptr;
    const bool mountable = laser && laser->mainType == SA_MT_LASER && laser->typeData && t && slot >= 0 &&
                           slot < t->field[SA_TF_SHIP_LASER_COUNT];
    if (!mountable) {
        Qel_DPrintf(0, "SYS_SA_MoveLaserIntoContainer(%d,%d,%d) (%s) failed!\n", c.Int(0), c.Int(1), slot,
                    SA_ScriptPosition());
        return c.Answer(0);
    }
    const int32_t moved = O_MoveIntoContainer(ship, laser);
    if (moved) static_cast<LaserData*>(laser->typeData)->slot = static_cast<int16_t>(slot);
    return c.Answer(moved);
}

int32_t SACall_FindObjectTypeInContainer(const SA_Call& c) {
    return Read(c, [&c](SectorObject* o) { return Id(SA_FindChildByMainType(o, Low16(c.Int(1)), StartId(c, 2))); });
}

int32_t SACall_FindObjectSubTypeInContainer(const SA_Call& c) {
    return Read(c, [&c](SectorObject* o) {
        return Id(SA_FindChildByType(o, Low16(c.Int(1)), Low16(c.Int(2)), StartId(c, 3)));
    });
}

int32_t SACall_FindObjectByPathSerial(const SA_Call& c) { return FindByPath(c, SA_PATH_SERIAL); }
int32_t SACall_FindObjectByPathBody(const SA_Call& c) { return FindByPath(c, SA_PATH_BODY); }
int32_t SACall_FindObjectByPathClass(const SA_Call& c) { return FindByPath(c, SA_PATH_CLASS); }

int32_t SACall_SetFlags(const SA_Call& c) {
    return Write(c, [&c](SectorObject* o) { o->flags = static_cast<uint32_t>(c.Int(1)); });
}
int32_t SACall_GetFlags(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return static_cast<int32_t>(o->flags); });
}
int32_t SACall_SetFlags2(const SA_Call& c) {
    return Write(c, [&c](SectorObject* o) { o->flags2 = static_cast<uint32_t>(c.Int(1)); });
}
int32_t SACall_GetFlags2(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return static_cast<int32_t>(o->flags2); });
}
int32_t SACall_SetRenderLast(const SA_Call& c) {
    return Write(c, [](SectorObject* o) {
        if (o->instance) B3D_InstSetFlags(o->instance, kInstRenderLast);
    });
}
int32_t SACall_GetCourseType(const SA_Call& c) {
    return Read(c, [](SectorObject* o) {
        const ShipData* d = O_ShipData(o);
        return d ? int32_t{d->CourseType} : 0;
    });
}
int32_t SACall_GetEnvironment(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return Id(o->container); });
}

int32_t SACall_GetDestination(const SA_Call& c) {
    return Read(c, [](SectorObject* o) {
        if (const ShipData* d = O_ShipData(o)) return Id(d->OrderTarget);
        if (const MissileData* d = O_MissileData(o)) return Id(d->target);
        if (const CameraData* d = O_CameraData(o)) return Id(d->destination);
        return 0;
    });
}

int32_t SACall_IsEnemy(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    SectorObject* other = o ? c.Object(1) : nullptr;
    return c.Answer(other && SA_IsEnemy(o, other) ? 1 : 0);
}

int32_t SACall_GetRelation(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    SectorObject* other = o ? c.Object(1) : nullptr;
    return c.Answer(other ? SA_GetRelation(o, other) : 0);
}

int32_t SACall_SetRelation(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    SectorObject* other = o ? c.Object(1) : nullptr;
    if (other) SA_SetGroupRelation(o, other->group, c.Int(3));
    return c.Answer(0);
}

int32_t SACall_SetGroupRelation(const SA_Call& c) {
    return Write(c, [&c](SectorObject* o) { SA_SetGroupRelation(o, c.Int(1), c.Int(2)); });
}
int32_t SACall_SetGroup(const SA_Call& c) {
    return Write(c, [&c](SectorObject* o) { O_SetGroup(c.Int(1), o); });
}
int32_t SACall_GetGroup(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return int32_t{o->group}; });
}

int32_t SACall_TypeCreatesDebris(const SA_Call& c) { return TypeTest(c, O_TypeCreatesDebris); }

int32_t SACall_SetDebrisDensity(const SA_Call& c) {
    return Write(c, [&c](SectorObject* o) {
        if (o->mainType == SA_MT_DEBRIS) SA_SetDensity(o, c.Int(1));
    });
}
int32_t SACall_GetDebrisDensity(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return o->mainType == SA_MT_DEBRIS ? SA_GetDensity(o) : 0; });
}

int32_t SACall_GetTypeWreckType(const SA_Call& c) { return TypeTest(c, O_GetTypeWreckType); }
int32_t SACall_TypeCreatesWreck(const SA_Call& c) { return TypeTest(c, O_TypeCreatesWreck); }

int32_t SACall_SetWreckDensity(const SA_Call& c) {
    return Write(c, [&c](SectorObject* o) {
        if (IsWreck(o)) SA_SetDensity(o, c.Int(1));
    });
}
int32_t SACall_GetWreckDensity(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return IsWreck(o) ? SA_GetDensity(o) : 0; });
}
int32_t SACall_IsCollectible(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return O_IsCollectible(o); });
}

int32_t SACall_SetHueModifier(const SA_Call& c) {
    return Write(c, [&c](SectorObject* o) {
        ShipData* d = O_ShipData(o);
        if (!d) return;
        d->hueModifier = HueKept(c.Int(1));
        ApplyColourWord(o, kHueWord, d->hueModifier);
    });
}
int32_t SACall_GetHueModifier(const SA_Call& c) {
    return Read(c, [](SectorObject* o) {
        const ShipData* d = O_ShipData(o);
        return d ? HueKept(d->hueModifier) : 0;
    });
}
int32_t SACall_SetSaturationModifier(const SA_Call& c) {
    return Write(c, [&c](SectorObject* o) {
        ShipData* d = O_ShipData(o);
        if (!d) return;
        d->saturationModifier = c.Int(1);
        ApplyColourWord(o, kSaturationWord, d->saturationModifier);
    });
}
int32_t SACall_GetSaturationModifier(const SA_Call& c) {
    return Read(c, [](SectorObject* o) {
        const ShipData* d = O_ShipData(o);
        return d ? d->saturationModifier : 0;
    });
}

int32_t SACall_SetFactoryConnectionParent(const SA_Call& c) {
    SectorObject* factory = c.Object(0);
    DockData* d = factory && factory->mainType == SA_MT_FACTORY ? O_DockData(factory) : nullptr;
    if (!d) return c.Answer(0);
    if (c.Int(1) == 0) {
        d->connectionParent = nullptr;
    } else if (SectorObject* parent = c.Object(1); parent && parent != factory) {
        // Kept as a pointer: the unlink of the parent clears it.
        d->connectionParent = parent;
    }
    return c.Answer(0);
}

int32_t SACall_SetNebulaProperties(const SA_Call& c) {
    return Write(c, [&c](SectorObject* o) {
        if (o->mainType != SA_MT_NEBULA || !o->typeData) return;
        int32_t* words = static_cast<NebulaData*>(o->typeData)->words;
        for (int32_t k = 0; k < 6; ++k) words[k] = c.Int(k + 1);
        // Reads only: the array's elements are looked at, never kept.
        ScriptValue array = *c.Arg(7);
        for (int32_t k = 0; k < kNebulaArray; ++k) {
            const ScriptValue* e = array.tag == VARTYPE_ARRAY ? SV_ArrayRead(&array, k) : nullptr;
            words[6 + k] = e ? e->i : 0;
        }
        words[kNebulaWords - 2] = c.Int(8);
        words[kNebulaWords - 1] = c.Int(9);
    });
}

int32_t SACall_SetPlanetFogParameter(const SA_Call& c) {
    return Write(c, [&c](SectorObject* o) {
        if (o->mainType == SA_MT_PLANET && o->typeData) static_cast<PlanetData*>(o->typeData)->fog = c.Int(1);
    });
}

int32_t SACall_SetShipRotAccel(const SA_Call& c) {
    return Write(c, [&c](SectorObject* o) {
        if (ShipData* d = O_ShipData(o)) d->rotAccel = SA_MulDiv(c.Int(1), 65536, 100);
    });
}
int32_t SACall_GetShipRotAccel(const SA_Call& c) {
    return Read(c, [](SectorObject* o) {
        const ShipData* d = O_ShipData(o);
        return d ? Qel_FixMul(d->rotAccel, 100) : 0;
    });
}

int32_t SACall_GetGlobalParameter(const SA_Call& c) { return c.Answer(SA_GetGlobalParameter(c.Int(0))); }
