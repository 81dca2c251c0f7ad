#include "cockpit/overlay.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "cockpit/iconmenus.h"
#include "cockpit/scenes.h"
#include "scene/allocs.h"
#include "scene/geometry.h"
#include "scene/records.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "space/flight.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/records.h"

namespace {

constexpr int32_t kIconList = 0;
constexpr int32_t kBarGap = 2;  // pixels between an icon and its shield bar

const B3DIconRow* IconRow(int32_t icon) { return icon ? B3D_GetIconData(kIconList, icon) : nullptr; }

// Shows the slot's instance in the scene as the icon at the point, scaled;
// without the icon in the table the slot is taken out.
void ShowIcon(InstSlot* slot, Scene3D* scene, int32_t icon, int32_t x, int32_t y, int32_t scale) {
    bool fresh = false;
    Inst3D* inst = IconRow(icon) ? IC_SlotShow(slot, scene, g_CockpitModule.hudBodies[0], &fresh) : nullptr;
    if (!inst) {
        IC_SlotTakeOut(slot);
        return;
    }
    if (fresh || slot->extra != static_cast<uint32_t>(icon))
        B3D_InstSetIconType(inst, kIconList, icon, 0, 0, QEL_FIX_ONE, QEL_FIX_ONE);
    slot->extra = static_cast<uint32_t>(icon);
    inst->flags |= IC_SLOT_INST_FLAGS;
    if (inst->scale.x != scale) B3D_InstSetScale(inst, scale, scale, QEL_FIX_ONE);
    inst->pos = QelVector{x, y, 0, 0};
}

// Where a point of the camera's frame lands on screen, in pixels from the
// viewport's centre (y down), and how many pixels a length at its depth
// spans; false behind the camera or off the viewport.
struct Projection {
    double perUnitX, perUnitY;  // pixels per unit at depth 1
    double halfWidth, halfHeight;
};

bool MakeProjection(const Camera3D* camera, Projection* p) {
    const B3DState* s = g_B3DState;
    double lensX = 0, lensY = 0;
    if (!INS_CameraLens(camera, &lensX, &lensY)) return false;
    p->halfWidth = (static_cast<double>(camera->viewport[3]) - camera->viewport[2]) * s->screenWidth / 131072.0;
    p->halfHeight = (static_cast<double>(camera->viewport[1]) - camera->viewport[0]) * s->screenHeight / 131072.0;
    p->perUnitX = p->halfWidth / lensX;
    p->perUnitY = p->halfHeight / lensY;
    return p->halfWidth > 0 && p->halfHeight > 0;
}

bool OnScreen(const Projection& p, const QelVector& v, int32_t* x, int32_t* y) {
    if (v.z <= 0) return false;
    const double sx = v.x * p.perUnitX / v.z, sy = -static_cast<double>(v.y) * p.perUnitY / v.z;
    if (std::fabs(sx) > p.halfWidth || std::fabs(sy) > p.halfHeight) return false;
    *x = static_cast<int32_t>(sx);
    *y = static_cast<int32_t>(sy);
    return true;
}

// The bracket's look by the object's relation to the ship.
int32_t BracketIcon(SectorObject* ship, SectorObject* o) {
    if (SA_IsEnemy(ship, o)) return INS_OVERLAY_BRACKET_ICONS[1];
    const int32_t relation = SA_GetRelation(ship, o);
    return INS_OVERLAY_BRACKET_ICONS[relation < 0 ? 1 : relation > 0 ? 2 : 0];
}

// The bar of the object's shield: tenths of its maximum, none without one.
int32_t ShieldIcon(const SectorObject* o) {
    const int64_t most = O_GetMaxShield(o);
    if (most <= 0) return 0;
    const int64_t level =
        std::clamp<int64_t>(int64_t{O_GetShield(o)} * INS_OVERLAY_SHIELD_LEVELS / most, 0, INS_OVERLAY_SHIELD_LEVELS);
    return INS_OVERLAY_SHIELD_ICON + static_cast<int32_t>(level);
}

bool Listed(const Cockpit* c, const SectorObject* o) {
    return o != c->cockpitRefObject && o->instance && !(o->flags & SA_FLAG_KILLED);
}

void Place(Cockpit* c, OverlayEntry* e, SectorObject* o, const Camera3D* sector, const Projection& p, Scene3D* scene) {
    const QelVector& at = sector->inst.pos;
    const QelVector& pos = o->instance->pos;
    e->object = o->id;
    e->distance = INS_VecDistance(&at, &pos);
    const QelVector d = INS_VecSub(pos, at);
    QelVector v;
    Qel_MatTransMulVec(&sector->inst.matrix, &d, &v);
    int32_t x = 0, y = 0;
    e->shown = OnScreen(p, v, &x, &y) ? 1 : 0;
    if (!e->shown) {
        IC_SlotTakeOut(&e->icon);
        IC_SlotTakeOut(&e->bracket);
        IC_SlotTakeOut(&e->shield);
        return;
    }
    const int32_t icon = INS_GetSpaceObjectIcon(o, o == c->trackedObject, false, false);
    const B3DIconRow* row = IconRow(icon);
    e->iconX = x;
    e->iconY = y;
    e->iconSize = 1;
    // Half the width and the height, as the hit test measures them; a
    // table's outsized icon is held at what a word carries.
    const auto scale = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, 0, INT32_MAX)); };
    e->iconScaleX = row ? scale(int64_t{row->w} * QEL_FIX_ONE / 2) : 0;
    e->iconScaleY = row ? scale(int64_t{row->h} * QEL_FIX_ONE) : 0;
    ShowIcon(&e->icon, scene, icon, x, y, QEL_FIX_ONE);

    // The bracket spans the object's size on screen (a near giant's no more
    // than the screen many times over).
    const double span = std::clamp(O_GetRadius(o) * p.perUnitX / v.z, 1.0, 1e6);
    const auto r = static_cast<int32_t>(span);
    e->corners[0][0] = x - r;
    e->corners[0][1] = y - r;
    e->corners[1][0] = x + r;
    e->corners[1][1] = y - r;
    e->corners[2][0] = x - r;
    e->corners[2][1] = y + r;
    const int32_t bracket = BracketIcon(c->cockpitRefObject, o);
    const B3DIconRow* frame = IconRow(bracket);
    if (g_CockpitSystem->overlayBrackets && frame && frame->w > 0) {
        const int32_t scale =
            static_cast<int32_t>(std::min<int64_t>(int64_t{2} * r * QEL_FIX_ONE / frame->w, INT32_MAX));
        ShowIcon(&e->bracket, scene, bracket, x, y, scale);
    } else {
        IC_SlotTakeOut(&e->bracket);
    }

    const int32_t bar = ShieldIcon(o);
    const int32_t below = (row ? row->h / 2 : 0) + kBarGap;
    if (bar) ShowIcon(&e->shield, scene, bar, x, y + below, QEL_FIX_ONE);
    else IC_SlotTakeOut(&e->shield);
}

}  // namespace

bool INS_CameraLens(const Camera3D* camera, double* lensX, double* lensY) {
    const B3DState* s = g_B3DState;
    if (!camera || !s) return false;
    int32_t ax = camera->aspect[0], ay = camera->aspect[1];
    if (ax <= 0 || ay <= 0) {
        ax = s->screenAspect[0];
        ay = s->screenAspect[1];
    }
    const double half = static_cast<uint16_t>(camera->focus / 2) * (2 * M_PI / 65536.0);
    const double t = std::tan(half);
    if (ax <= 0 || ay <= 0 || t <= 0) return false;
    *lensX = t * ax / 65536.0;
    *lensY = t * ay / 65536.0;
    return true;
}

void INS_UpdateTargetOverlay(Cockpit* c) {
    CockpitOverlayScene* overlay = c->overlay;
    if (c->monitorNumber != 0 || !overlay || !g_B3DState || !g_CockpitSystem) return;
    Scene3D* scene = IC_FindScene(overlay->scene);
    Camera3D* camera = IC_FindCamera(overlay->camera);
    const Camera3D* sector = IC_FindCamera(c->sectorCamera);
    const auto* space = c->sectorSpace && c->sectorSpace->mainType == SA_MT_SECTOR
                            ? reinterpret_cast<const SectorSpace*>(c->sectorSpace)
                            : nullptr;
    const bool hidden = !(c->viewMode & 3) || (space && (space->spaceFlags & INS_SPACE_NO_OVERLAY));
    Projection p{};
    if (hidden || !space || !scene || !camera || !sector || !c->cockpitRefObject) {
        if (overlay->entries) IC_HideOverlayEntries(overlay, 0);
        overlay->entryCount = 0;
        if (scene && (scene->flags & SCENE_ENABLED)) B3D_SceneDisableInsts(scene);
        return;
    }
    IC_CameraFollow(sector, camera, scene);
    const Scene3D* seen = sector->inst.scene;
    const bool on = seen && (seen->flags & SCENE_ENABLED);
    if (on && !(scene->flags & SCENE_ENABLED)) B3D_SceneEnable(scene);
    else if (!on && (scene->flags & SCENE_ENABLED)) B3D_SceneDisableInsts(scene);
    const bool projects = MakeProjection(camera, &p);

    QelList* list = O_GetChildList(c->sectorSpace);
    int32_t count = 0;
    for (SectorObject* o = list ? SA_ListFirst(list) : nullptr; o; o = SA_ListNext(o))
        if (Listed(c, o)) ++count;
    // An empty sector keeps the block for the next frame's objects.
    OverlayEntry* entries = count ? IC_SetOverlayEntryCount(overlay, count) : nullptr;
    if (!entries) {
        // Nothing to show, or no room: no entries this frame.
        if (overlay->entries) IC_HideOverlayEntries(overlay, 0);
        overlay->entryCount = 0;
        return;
    }
    int32_t i = 0;
    for (SectorObject* o = SA_ListFirst(list); o && i < count; o = SA_ListNext(o)) {
        if (!Listed(c, o)) continue;
        OverlayEntry* e = &entries[i++];
        if (projects) {
            Place(c, e, o, sector, p, scene);
        } else {
            e->object = o->id;
            e->shown = 0;
        }
    }
}
