#include "cockpit/viewcalls.h"

#include <array>
#include <cstdlib>
#include <vector>

#include "base/general.h"
#include "base/log.h"
#include "base/random.h"
#include "base/texcache.h"
#include "cockpit/dust.h"
#include "cockpit/galaxymap.h"
#include "cockpit/iconmenus.h"
#include "cockpit/markers.h"
#include "cockpit/panels.h"
#include "cockpit/scenes.h"
#include "cockpit/syscall.h"
#include "cockpit/tracking.h"
#include "cockpit/update.h"
#include "scene/records.h"
#include "script/arrays.h"
#include "script/lookup.h"
#include "script/tasks.h"
#include "space/objects.h"
#include "system/clock.h"

namespace {

constexpr int32_t kFirst = 42;
constexpr int32_t kCount = 130 - kFirst;
constexpr int32_t kEntryValues = 4;
constexpr uint32_t kBayDoorFlag = 0x20000000;

int32_t Now() { return g_SystemState ? g_SystemState->gameClock : 0; }

Cockpit* CockpitOf(const SA_Call& c) { return INS_CallCockpit(c); }

int32_t Low16(int32_t v) { return static_cast<int16_t>(v & 0xFFFF); }

int32_t AnswerZero(const SA_Call& c) { return c.Answer(0); }

// Answers an ARRAY of the integers.
int32_t AnswerArray(const SA_Call& c, const int32_t* values, int32_t n) { return c.AnswerArray(values, n); }

// ---------------------------------------------------------------- field setters

template <int32_t (Cockpit::*Field)[3]>
int32_t SetTriple(const SA_Call& c) {
    if (Cockpit* k = CockpitOf(c))
        for (int32_t i = 0; i < 3; ++i) (k->*Field)[i] = c.Int(1 + i);
    return c.Answer(0);
}

template <int32_t (Cockpit::*Field)[3], int32_t I>
int32_t GetOne(const SA_Call& c) {
    const Cockpit* k = CockpitOf(c);
    return c.Answer(k ? (k->*Field)[I] : 0);
}

template <int32_t (Cockpit::*Field)[3]>
int32_t GetTriple(const SA_Call& c) {
    const Cockpit* k = CockpitOf(c);
    return k ? AnswerArray(c, k->*Field, 3) : c.Answer(0);
}

template <int32_t (Cockpit::*Field)[2][3], int32_t I>
int32_t SetPair(const SA_Call& c) {
    if (Cockpit* k = CockpitOf(c))
        for (int32_t i = 0; i < 3; ++i) (k->*Field)[I][i] = c.Int(1 + i);
    return c.Answer(0);
}

// A duration and the game time it starts at.
template <int32_t Cockpit::*Duration, int32_t Cockpit::*Start>
int32_t SetDuration(const SA_Call& c) {
    if (Cockpit* k = CockpitOf(c)) {
        k->*Duration = c.Int(1);
        k->*Start = Now();
    }
    return c.Answer(0);
}

// ---------------------------------------------------------------- calls 42 to 66

int32_t ChangeView(const SA_Call& c) {
    if (Cockpit* k = CockpitOf(c)) {
        for (int32_t i = 0; i < 3; ++i) k->targetViewAngles[i] = c.Int(1 + i);
        if (k->viewLock)
            for (int32_t i = 0; i < 3; ++i) k->viewAngles[i] = k->targetViewAngles[i];
    }
    return c.Answer(0);
}

int32_t SetViewConnectMode(const SA_Call& c) {
    if (Cockpit* k = CockpitOf(c)) INS_SetViewConnectMode(k, c.Int(1));
    return c.Answer(0);
}

int32_t LockView(const SA_Call& c) {
    if (Cockpit* k = CockpitOf(c)) {
        const int32_t lock = c.Int(1);
        if (lock)
            for (int32_t i = 0; i < 3; ++i) k->viewAngles[i] = k->targetViewAngles[i];
        k->viewLock = lock;
    }
    return c.Answer(0);
}

int32_t EnableTargetBodies(const SA_Call& c) {
    if (Cockpit* k = CockpitOf(c)) g_INSViews.targetBodies(k, c.Int(1));
    return c.Answer(0);
}

int32_t SetCurrentMissile(const SA_Call& c) {
    if (Cockpit* k = CockpitOf(c)) {
        k->missileType = static_cast<int16_t>(Low16(c.Int(1)));
        k->missileValues[0] = c.Int(3);
        k->missileValues[1] = c.Int(2);
    }
    return c.Answer(0);
}

Scene3D* SceneArg(const SA_Call& c) { return IC_FindScene(static_cast<uint32_t>(c.Int(0))); }

int32_t GalaxyMapFindSector(const SA_Call& c) {
    Scene3D* scene = SceneArg(c);
    int32_t place[2] = {0, 0};
    if (!scene || !g_INSViews.findSector(scene, c.Int(1), c.Int(2), place)) return c.Answer(0);
    return AnswerArray(c, place, 2);
}

int32_t BuildGalaxyMap(const SA_Call& c) {
    if (Scene3D* scene = SceneArg(c)) {
        // Row and column of two corners, then distance and zoom; the
        // seventh value has no use.
        const int32_t values[6] = {Low16(c.Int(1)), Low16(c.Int(2)), Low16(c.Int(3)),
                                   Low16(c.Int(4)), c.Int(5),        c.Int(6)};
        g_INSViews.buildGalaxyMap(scene, values);
    }
    return c.Answer(0);
}

int32_t ClearGalaxyMap(const SA_Call& c) {
    if (Scene3D* scene = SceneArg(c)) g_INSViews.clearGalaxyMap(scene);
    return c.Answer(0);
}

bool TextureExists(int32_t texture) { return TC_GetTextureEBM(Low16(texture), 1) != nullptr; }

int32_t DrawObjectSymbol(const SA_Call& c) {
    const int32_t texture = Low16(c.Int(0));
    if (TextureExists(texture)) {
        const int32_t values[6] = {c.Int(1), c.Int(2), Low16(c.Int(3)), Low16(c.Int(4)), c.Int(5), c.Int(6)};
        g_INSViews.drawSymbol(texture, values);
    }
    return c.Answer(0);
}

int32_t DrawObjectSymbol3D(const SA_Call& c) {
    SectorObject* object = c.Object(0);
    const int32_t texture = c.Int(1);
    if (object && TextureExists(texture))
        g_INSViews.drawSymbol3D(object, texture, Low16(c.Int(2)), Low16(c.Int(3)), c.Int(4), -1);
    return c.Answer(0);
}

int32_t InitDustScene(const SA_Call& c) {
    if (Scene3D* scene = SceneArg(c); scene && g_CockpitSystem) g_INSViews.initDust(scene);
    return c.Answer(0);
}

int32_t UpdateDustScene(const SA_Call& c) {
    Camera3D* dust = IC_FindCamera(static_cast<uint32_t>(c.Int(0)));
    SectorObject* sector = c.Int(1) ? SA_LookupObject(static_cast<uint32_t>(c.Int(1))) : nullptr;
    Camera3D* camera = IC_FindCamera(static_cast<uint32_t>(c.Int(2)));
    if (!dust) Qel_ErrPrintf("INS_UpdateDustScene() no dust camera!\n");
    if (!sector) Qel_ErrPrintf("INS_UpdateDustScene() no sector space!\n");
    if (!camera) Qel_ErrPrintf("INS_UpdateDustScene() no sector camera!\n");
    if (dust && sector && camera) g_INSHud.dust(sector, dust, camera);
    return c.Answer(0);
}

// ---------------------------------------------------------------- calls 67 to 98

int32_t SetActiveControlCockpit(const SA_Call& c) {
    if (CockpitSystem* s = g_CockpitSystem) s->activeControl = CockpitOf(c) ? c.Int(0) : 0;
    return c.Answer(0);
}

int32_t SetUnitDisplay(const SA_Call& c) {
    if (CockpitSystem* s = g_CockpitSystem) s->unitDisplay = c.Int(0);
    return c.Answer(0);
}

int32_t GetUnitDisplay(const SA_Call& c) { return c.Answer(g_CockpitSystem ? g_CockpitSystem->unitDisplay : 0); }

int32_t DrawRadar(const SA_Call& c) {
    if (CockpitSystem* s = g_CockpitSystem) s->radarOn = c.Int(0);
    return c.Answer(0);
}

int32_t SetBayDoorContent(const SA_Call& c) {
    g_CockpitModule.bayDoorContent[0] = static_cast<int16_t>(Low16(c.Int(0)));
    g_CockpitModule.bayDoorContent[1] = static_cast<int16_t>(Low16(c.Int(1)));
    g_CockpitModule.bayDoorValue = c.Int(2);
    return c.Answer(0);
}

int32_t SetBayDoorStatus(const SA_Call& c) {
    const int32_t status = c.Int(0);
    g_CockpitModule.bayDoorStatus = status;
    if (SectorObject* player = g_SpaceRoot ? g_SpaceRoot->game.playerObject : nullptr) {
        if (status) player->flags |= kBayDoorFlag;
        else player->flags &= ~kBayDoorFlag;
    }
    return c.Answer(0);
}

int32_t SetCockpitRappel(const SA_Call& c) {
    if (Cockpit* k = CockpitOf(c)) {
        k->cockpitShakeLevel = c.Int(2);
        k->cockpitShakeEnd = S_ClockAdvance(Now(), c.Int(1));
    }
    return c.Answer(0);
}

int32_t SetFlags(const SA_Call& c) {
    if (Cockpit* k = CockpitOf(c)) k->flags = static_cast<uint32_t>(c.Int(1));
    return c.Answer(0);
}

int32_t GetFlags(const SA_Call& c) {
    const Cockpit* k = CockpitOf(c);
    return c.Answer(k ? static_cast<int32_t>(k->flags) : 0);
}

// ---------------------------------------------------------------- calls 99 to 129

int32_t SetCrossHair(const SA_Call& c) {
    if (CockpitSystem* s = g_CockpitSystem) s->crossHair = c.Int(0);
    return c.Answer(0);
}

int32_t GetCrossHair(const SA_Call& c) { return c.Answer(g_CockpitSystem ? g_CockpitSystem->crossHair : 0); }

int32_t AnswerMinusOne(const SA_Call& c) { return c.Answer(-1); }

int32_t TrackPrevNext(const SA_Call& c) {
    if (Cockpit* k = CockpitOf(c)) g_INSViews.trackPrevNext(k, c.Int(1), c.Int(2));
    return c.Answer(0);
}

int32_t ObjectAtOverlay(const SA_Call& c) {
    Cockpit* k = CockpitOf(c);
    return c.Answer(k ? g_INSViews.objectAtOverlay(k, c.Int(1), c.Int(2)) : 0);
}

int32_t MenuPosAtOverlay(const SA_Call& c) {
    Cockpit* k = CockpitOf(c);
    int32_t out[5] = {};
    if (!k || !g_INSViews.menuPosAtOverlay(k, c.Int(1), c.Int(2), out)) return c.Answer(0);
    return AnswerArray(c, out, 5);
}

int32_t AddIconMenu(const SA_Call& c) {
    Cockpit* k = CockpitOf(c);
    if (!k || c.argc < 2) return c.Answer(0);
    ScriptValue* list = const_cast<ScriptValue*>(c.Arg(c.argc - 1));
    if (list->tag != VARTYPE_ARRAY) return c.Answer(0);
    const int32_t n = SV_ArraySize(list);
    std::vector<int32_t> entries;
    int32_t count = 0;
    for (int32_t i = 0; i < n; ++i) {
        ScriptValue* e = SV_ArrayRead(list, i);
        if (!e || e->tag != VARTYPE_ARRAY || SV_ArraySize(e) != kEntryValues) continue;
        std::array<int32_t, IC_ENTRY_WORDS> words{};
        for (int32_t v = 0; v < 3; ++v) {
            const ScriptValue* x = SV_ArrayRead(e, v);
            words[static_cast<size_t>(v)] = x && x->tag == VARTYPE_INTEGER ? x->i : 0;
        }
        ScriptValue* icons = SV_ArrayRead(e, 3);
        if (icons && icons->tag == VARTYPE_INTEGER) {
            words[3] = icons->i;
        } else if (icons && icons->tag == VARTYPE_ARRAY) {
            const int32_t m = std::min(SV_ArraySize(icons), IC_ICON_SLOTS);
            for (int32_t v = 0; v < m; ++v) {
                const ScriptValue* x = SV_ArrayRead(icons, v);
                words[static_cast<size_t>(3 + v)] = x && x->tag == VARTYPE_INTEGER ? x->i : 0;
            }
        }
        entries.insert(entries.end(), words.begin(), words.end());
        ++count;
    }
    if (count == 0) return c.Answer(0);
    int32_t values[10];
    for (int32_t i = 0; i < 10; ++i) values[i] = c.Int(1 + i);
    // The story object whose function made the menu hears of its events.
    const int32_t maker = c.task && c.task->object ? c.task->object->id : -1;
    return c.Answer(g_INSViews.makeMenu(k, maker, values, count, entries.data()));
}

IconMenu* MenuArg(const SA_Call& c) { return IC_FindIconMenu(CockpitOf(c), c.Int(1)); }

IconMenuItem* ItemArg(const SA_Call& c) { return IC_FindMenuItem(MenuArg(c), c.Int(2)); }

// The item's slot an argument names; null outside 0..5.
IconSlot* SlotArg(const SA_Call& c, int32_t i) {
    IconMenuItem* item = ItemArg(c);
    const int32_t slot = c.Int(i);
    return item && slot >= 0 && slot < IC_ICON_SLOTS ? &item->slots[slot] : nullptr;
}

int32_t RemoveIconMenu(const SA_Call& c) {
    if (IconMenu* m = MenuArg(c)) m->flags |= IC_MENU_REMOVED;
    return c.Answer(0);
}

int32_t IconMenuGetIndex(const SA_Call& c) {
    const IconMenuItem* item = ItemArg(c);
    return c.Answer(item ? item->index : 0);
}

int32_t IconMenuGetInst(const SA_Call& c) {
    const IconSlot* s = SlotArg(c, 3);
    const Inst3D* inst = s ? IC_FindInst(s->slot.inst) : nullptr;
    return c.Answer(inst ? static_cast<int32_t>(inst->id) : 0);
}

int32_t IconMenuGetIcon(const SA_Call& c) {
    const IconSlot* s = SlotArg(c, 3);
    return c.Answer(s ? s->icon : 0);
}

int32_t IconMenuSetIcon(const SA_Call& c) {
    IconMenuItem* item = ItemArg(c);
    return c.Answer(item ? IC_MenuSetIcon(item, c.Int(3), c.Int(4)) : 0);
}

int32_t IconMenuAnimateIcon(const SA_Call& c) {
    IconSlot* s = SlotArg(c, 3);
    if (!s) return c.Answer(0);
    for (int32_t i = 0; i < 4; ++i) s->anim[i] = c.Int(4 + i);
    return c.Answer(1);
}

int32_t IconMenuGetFlags(const SA_Call& c) {
    const IconMenuItem* item = ItemArg(c);
    return c.Answer(item ? static_cast<int32_t>(item->flags) : 0);
}

int32_t IconMenuSetFlags(const SA_Call& c) {
    IconMenuItem* item = ItemArg(c);
    return c.Answer(item ? IC_MenuSetFlags(MenuArg(c), item, c.Int(3), static_cast<uint32_t>(c.Int(4))) : 0);
}

int32_t IconMenuClearFlags(const SA_Call& c) {
    IconMenuItem* item = ItemArg(c);
    return c.Answer(item ? IC_MenuClearFlags(item, static_cast<uint32_t>(c.Int(3))) : 0);
}

int32_t IconMenuOpenSubMenu(const SA_Call& c) {
    IconMenuItem* item = ItemArg(c);
    return c.Answer(item ? IC_MenuOpenSubMenu(MenuArg(c), item) : 0);
}

int32_t IconMenuCloseSubMenu(const SA_Call& c) {
    IconMenuItem* item = ItemArg(c);
    return c.Answer(item ? IC_MenuCloseSubMenu(MenuArg(c), item) : 0);
}

int32_t IconMenuCloseAll(const SA_Call& c) {
    IconMenu* m = MenuArg(c);
    return c.Answer(m ? IC_MenuCloseAll(m) : 0);
}

template <int32_t Step>
int32_t Mouse(const SA_Call& c) {
    Cockpit* k = CockpitOf(c);
    return c.Answer(k ? g_INSViews.mouse(k, Step, c.Int(1), c.Int(2)) : 0);
}

// The point in the axes of the cockpit's sector camera; no camera, no answer.
int32_t ProjectPosition(const SA_Call& c) {
    const Cockpit* k = CockpitOf(c);
    const Camera3D* camera = k ? IC_FindCamera(k->sectorCamera) : nullptr;
    if (!camera) return c.Answer(0);
    const Inst3D& eye = camera->inst;
    const QelVector d{static_cast<int32_t>(int64_t{c.Int(1)} - eye.worldPos.x),
                      static_cast<int32_t>(int64_t{c.Int(2)} - eye.worldPos.y),
                      static_cast<int32_t>(int64_t{c.Int(3)} - eye.worldPos.z), 0};
    QelVector v{};
    Qel_MatTransMulVec(&eye.worldMatrix, &d, &v);
    const int32_t out[3] = {v.x, v.y, v.z};
    return AnswerArray(c, out, 3);
}

int32_t GetObjectIcon(const SA_Call& c) { return c.Answer(INS_GetObjectIcon(c.Int(0), c.Int(1), c.Int(2))); }

int32_t GetWeaponIcon(const SA_Call& c) {
    const int32_t selector = c.Int(2) ? IC_ICON_WEAPON | IC_ICON_ALTERNATE : IC_ICON_WEAPON;
    return c.Answer(INS_GetObjectIcon(c.Int(0), c.Int(1), selector));
}

int32_t ShowTooltip(const SA_Call& c) {
    Cockpit* k = CockpitOf(c);
    if (!k) Qel_ErrPrintf("%s INS_ShowTooltip can't find cockpit ID %d!\n", SE_GetCurrentDebugAddress(), c.Int(0));
    else g_INSViews.showTooltip(k, c.Int(1), SV_GetString(c.Arg(2)), c.Int(3), c.Int(4));
    return c.Answer(0);
}

int32_t HideTooltip(const SA_Call& c) {
    Cockpit* k = CockpitOf(c);
    if (!k) Qel_ErrPrintf("%s INS_HideTooltip can't find cockpit ID %d!\n", SE_GetCurrentDebugAddress(), c.Int(0));
    else g_INSViews.hideTooltip(k, static_cast<uint32_t>(c.Int(1)));
    return c.Answer(0);
}

template <uint8_t On>
int32_t OverlayBrackets(const SA_Call& c) {
    if (CockpitSystem* s = g_CockpitSystem) s->overlayBrackets = On;
    return c.Answer(0);
}

constexpr std::array<SA_CallFn, kCount> MakeTable() {
    std::array<SA_CallFn, kCount> t{};
    auto at = [&t](int32_t n) -> SA_CallFn& { return t[static_cast<size_t>(n - kFirst)]; };
    at(42) = ChangeView;
    at(43) = SetViewConnectMode;
    at(44) = LockView;
    at(45) = SetTriple<&Cockpit::viewPos>;
    at(46) = INS_SetCockpitInt<&Cockpit::viewMode>;
    at(47) = INS_SetCockpitInt<&Cockpit::draw2D>;
    at(48) = INS_SetCockpitInt<&Cockpit::cockpitBodyOn>;
    at(49) = INS_SetCockpitInt<&Cockpit::radarBodyOn>;
    at(50) = INS_SetCockpitInt<&Cockpit::displayBodyOn>;
    at(51) = EnableTargetBodies;
    at(52) = SetTriple<&Cockpit::viewCameraOffset>;
    at(53) = GetOne<&Cockpit::viewCameraOffset, 0>;
    at(54) = GetOne<&Cockpit::viewCameraOffset, 1>;
    at(55) = GetOne<&Cockpit::viewCameraOffset, 2>;
    at(56) = GetOne<&Cockpit::viewAngles, 0>;
    at(57) = GetOne<&Cockpit::viewAngles, 1>;
    at(58) = GetOne<&Cockpit::viewAngles, 2>;
    at(59) = SetCurrentMissile;
    at(60) = GalaxyMapFindSector;
    at(61) = BuildGalaxyMap;
    at(62) = ClearGalaxyMap;
    at(63) = DrawObjectSymbol;
    at(64) = DrawObjectSymbol3D;
    at(65) = InitDustScene;
    at(66) = UpdateDustScene;
    at(67) = SetActiveControlCockpit;
    at(68) = SetUnitDisplay;
    at(69) = GetUnitDisplay;
    at(70) = AnswerZero;  // INS_AutoDoc
    at(71) = AnswerZero;  // undefined; the handler names it
    at(72) = DrawRadar;
    at(73) = SetBayDoorContent;
    at(74) = SetBayDoorStatus;
    at(75) = AnswerZero;  // undefined
    at(76) = AnswerZero;  // INS_SetHitRappelDelay
    at(77) = SetCockpitRappel;
    at(78) = SetTriple<&Cockpit::viewCameraOffset2>;
    at(79) = SetTriple<&Cockpit::viewPointOffset>;
    at(80) = SetTriple<&Cockpit::viewPointOffset2>;
    at(81) = SetDuration<&Cockpit::viewDuration, &Cockpit::viewStart>;
    at(82) = SetDuration<&Cockpit::posDuration, &Cockpit::posStart>;
    at(83) = SetPair<&Cockpit::viewAngles12, 0>;
    at(84) = SetPair<&Cockpit::viewAngles12, 1>;
    at(85) = SetPair<&Cockpit::posAngles, 0>;
    at(86) = SetPair<&Cockpit::posAngles, 1>;
    at(87) = SetFlags;
    at(88) = GetFlags;
    at(89) = GetTriple<&Cockpit::viewPos>;
    at(90) = GetTriple<&Cockpit::viewPointPos>;
    at(91) = INS_SetCockpitInt<&Cockpit::focus>;
    at(92) = SetDuration<&Cockpit::focusDuration, &Cockpit::focusDurationStart>;
    at(93) = INS_SetCockpitObject<&Cockpit::refViewObject>;
    at(94) = SetTriple<&Cockpit::refViewPos>;
    at(95) = SetTriple<&Cockpit::refPos>;
    at(96) = GetTriple<&Cockpit::refPos>;
    at(97) = GetTriple<&Cockpit::refViewPos>;
    at(98) = INS_SetCockpitInt<&Cockpit::cinematicLoopTime>;
    at(99) = SetCrossHair;
    at(100) = AnswerZero;  // INS_GetMaxNumCrossHairs
    at(101) = GetCrossHair;
    at(102) = AnswerMinusOne;  // INS_GetBodyForCrossHair
    at(103) = INS_SetCockpitInt<&Cockpit::noDecay>;
    at(104) = TrackPrevNext;
    at(105) = ObjectAtOverlay;
    at(106) = MenuPosAtOverlay;
    at(107) = AddIconMenu;
    at(108) = RemoveIconMenu;
    at(109) = IconMenuGetIndex;
    at(110) = IconMenuGetInst;
    at(111) = IconMenuGetIcon;
    at(112) = IconMenuSetIcon;
    at(113) = IconMenuAnimateIcon;
    at(114) = IconMenuGetFlags;
    at(115) = IconMenuSetFlags;
    at(116) = IconMenuClearFlags;
    at(117) = IconMenuOpenSubMenu;
    at(118) = IconMenuCloseSubMenu;
    at(119) = IconMenuCloseAll;
    at(120) = Mouse<0>;
    at(121) = Mouse<1>;
    at(122) = Mouse<2>;
    at(123) = ProjectPosition;
    at(124) = GetObjectIcon;
    at(125) = GetWeaponIcon;
    at(126) = ShowTooltip;
    at(127) = HideTooltip;
    at(128) = OverlayBrackets<1>;
    at(129) = OverlayBrackets<0>;
    return t;
}

constexpr std::array<SA_CallFn, kCount> kCalls = MakeTable();

}  // namespace

INSViewLink g_INSViews = {
    .findSector = ID_GalaxyMapFindSector,
    .buildGalaxyMap = [](Scene3D* scene, const int32_t* values) { ID_BuildGalaxyMap(scene, values); },
    .clearGalaxyMap = ID_ClearGalaxyMap,
    .initDust = INS_InitDustScene,
    .drawSymbol = INS_DrawObjectSymbolCall,
    .drawSymbol3D = INS_DrawObjectSymbol3D,
    .targetBodies = INS_EnableTargetBodies,
    .makeMenu = INS_AddIconMenu,
    .mouse = INS_IconMenuMouse,
    .trackPrevNext = INS_TrackPrevNextCall,
    .objectAtOverlay = INS_ObjectAtOverlay,
    .menuPosAtOverlay = INS_MenuPosAtOverlay,
    .showTooltip = INS_ShowTooltipCall,
    .hideTooltip = INS_HideTooltipCall,
};

int32_t INS_LaterSysCall(const SA_Call& c) {
    if (c.number < kFirst || c.number >= kFirst + kCount) return c.Answer(0);
    return kCalls[static_cast<size_t>(c.number - kFirst)](c);
}

void INS_SetViewConnectMode(Cockpit* k, int32_t mode) {
    k->viewConnectMode = mode;
    const int32_t now = Now();
    switch (mode) {
        case 0: {
            const SectorObject* ship = k->cockpitRefObject;
            if (k->viewMode != 1 || !ship || ship->mainType != SA_MT_SHIP) break;
            QelVector p{};
            QelMatrix m{};
            int32_t a = 0, b = 0, g = 0;
            if (IC_HasCockpitView(k) && g_INSCockpitView(k->cockpitRefObject, k->cockpitNumber, &p, &m))
                Qel_AnglesFromMat(&m, &a, &b, &g);
            k->targetViewAngles[0] = a;
            k->targetViewAngles[1] = b;
            k->targetViewAngles[2] = 0;
            for (int32_t i = 0; i < 3; ++i) k->viewAngles[i] = k->targetViewAngles[i];
            break;
        }
        case 4: {
            k->viewStart = now;
            const SectorObject* ref = k->refObject;
            if (!ref || ref->speed != 0) k->connectFlags &= ~1u;
            else k->connectFlags |= 1u;
            k->connectFraction =
                static_cast<int32_t>(int64_t{65536} * Qel_RandomInclusive(QEL_RAND_MAX) / QEL_RAND_MAX);
            break;
        }
        case 5: {
            k->viewStart = now;
            const SectorObject* ref = k->refObject;
            if (!ref || !ref->instance) break;
            const QelVector local{ref->size, 0, std::abs(k->viewCameraOffset[2]), 0};
            QelMatrix turn;
            Qel_MatFromAngles(&turn, Qel_Random(65536), 0, 0);
            QelVector turned{}, placed{};
            Qel_MatMulVec(&turn, &local, &turned);
            Qel_MatMulVec(&ref->instance->matrix, &turned, &placed);
            k->viewPos[0] = static_cast<int32_t>(int64_t{placed.x} + ref->instance->pos.x);
            k->viewPos[1] = static_cast<int32_t>(int64_t{placed.y} + ref->instance->pos.y);
            k->viewPos[2] = static_cast<int32_t>(int64_t{placed.z} + ref->instance->pos.z);
            break;
        }
        case 6: k->viewStart = k->posStart = now; break;
        default: break;
    }
}
