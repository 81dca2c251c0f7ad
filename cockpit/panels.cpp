#include "cockpit/panels.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "base/general.h"
#include "cockpit/ticker.h"
#include "scene/allocs.h"
#include "scene/caches.h"
#include "scene/instcoll.h"
#include "scene/jobs.h"
#include "scene/lists.h"
#include "scene/names.h"
#include "scene/records.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/takes.h"
#include "scene/texanim.h"
#include "scene/texdraw.h"
#include "scene/trees.h"
#include "system/clock.h"

namespace {

constexpr int32_t kClockWrap = 32400000;  // the game clock runs modulo this
constexpr const char* kTooltipBackground = "effects/menugfx/gui_background";
constexpr uint32_t kTooltipInstFlags = 0x5600;
constexpr uint32_t kTargetBodyFlags = 24;
constexpr uint32_t kPanelFill = 0x010101, kTextColour = 0xffffff;
constexpr int32_t kTooltipSize = 256;
constexpr int32_t kPieceHeight = 23;

int32_t Now() { return g_SystemState ? g_SystemState->gameClock : 0; }
int32_t Since(int32_t t) { return S_ClockDiff(Now(), t); }

// now + ms on the wrapping game clock.
int32_t Later(int32_t now, int32_t ms) { return kClockWrap - now <= ms ? now + ms - kClockWrap : now + ms; }

void SetHidden(Inst3D* inst, bool hidden) {
    if (hidden) inst->flags |= INS_TOOLTIP_HIDDEN;
    else inst->flags &= ~INS_TOOLTIP_HIDDEN;
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) SetHidden(c, hidden);
}

// ---------------------------------------------------------------- panels

bool Done(const PanelRecord& p) {
    for (const InstSlot& slot : p.slots) {
        const Inst3D* inst = IC_FindInst(slot.inst);
        if (inst && (inst->jobFlags & JOB_RUNNING) && !(inst->jobFlags & JOB_STOPPED)) return false;
    }
    return true;
}

void StartAll(PanelRecord* p, int32_t cut) {
    for (int32_t i = 0; i < 3; ++i) INS_PanelStartCut(&p->slots[i], cut, i + 1);
}

void Enter(PanelRecord* p, int32_t state) {
    p->state = state;
    p->stateTime = Now();
}

void Close(PanelRecord* p) {
    Enter(p, INS_PANEL_CLOSING);
    for (InstSlot& slot : p->slots)
        if (Inst3D* inst = IC_FindInst(slot.inst)) J3D_JobStop(inst);
    StartAll(p, INS_PANEL_CLOSE_CUT);
}

void Open(Cockpit* c, PanelRecord* p) {
    Enter(p, INS_PANEL_OPENING);
    Scene3D* scene = IC_Scene(c);
    for (int32_t i = 0; i < 3; ++i) {
        InstSlot& slot = p->slots[i];
        Inst3D* inst = IC_SlotGetInst(&slot);
        if (!inst) continue;
        B3D_InstSetBody(inst, INS_PANEL_BODIES[i]);
        if (scene) B3D_InstAddToScene(inst, scene);
        slot.state = 1;
        INS_PanelStartCut(&slot, INS_PANEL_OPEN_CUT, i + 1);
    }
}

// The frame is hit-tested by the pointer: its bodies' collision models.
void BuildModels(const PanelRecord& p) {
    for (const InstSlot& slot : p.slots)
        if (Inst3D* inst = IC_FindInst(slot.inst)) B3D_CollBuildModel(inst, 0);
}

bool Shown(const PanelRecord& p) { return p.slots[0].state != 0; }

// The panel's text texture cleared to its background, and the text in it.
void PanelText(const char* text, int32_t x, int32_t y) {
    const int32_t w = B3D_TexGetWidth(INS_PANEL_TEXT_TEXTURE), h = B3D_TexGetHeight(INS_PANEL_TEXT_TEXTURE);
    if (w <= 0) return;
    B3D_TexRectFill(INS_PANEL_TEXT_TEXTURE, 0, 0, w, h, kPanelFill);
    const int32_t font = INS_HudFont();
    if (text && font >= 0) B3D_TexText(INS_PANEL_TEXT_TEXTURE, text, font, x, y, w, kTextColour, 0);
}

// ---------------------------------------------------------------- tooltip

int32_t ScreenWidth() { return g_B3DState ? g_B3DState->screenWidth : 0; }
int32_t ScreenHeight() { return g_B3DState ? g_B3DState->screenHeight : 0; }

void TooltipTexture(const TooltipRecord& t) {
    B3D_TexRectFill(INS_TOOLTIP_TEXTURE, 0, 0, kTooltipSize, kTooltipSize, 0xff000000);
    const int32_t source = B3D_GetTextureID(kTooltipBackground);
    const auto piece = [&](int32_t sx, int32_t w, int32_t dx) {
        B3D_TexCookie(source, INS_TOOLTIP_TEXTURE, sx, 7, dx, 0, w, kPieceHeight, -1, 1);
    };
    piece(488, 3, 0);
    piece(503, 3, t.width - 3);
    const int32_t middle = std::max(t.width - 6, 0);
    int32_t x = 3;
    for (int32_t i = 0; i < middle / 8; ++i, x += 8) piece(493, 8, x);
    if (middle % 8) piece(493, middle % 8, x);
    const int32_t font = INS_HudFont();
    if (font >= 0) B3D_TexText(INS_TOOLTIP_TEXTURE, t.text.c_str(), font, 3, 3, kTooltipSize, 0xffffffff, 0);
}

}  // namespace

CockpitPanels* INS_Panels(Cockpit* c) {
    if (c->panels) return c->panels;
    auto* p = new (std::nothrow) CockpitPanels{};
    if (!p) return nullptr;
    p->message.duration = INS_MESSAGE_DURATION;
    p->targets.enable = 1;
    for (InstSlot& slot : p->targets.slots) {
        IC_SlotInit(&slot, 0, 0);
        if (Inst3D* inst = IC_FindInst(slot.inst)) inst->flags |= kTargetBodyFlags;
    }
    c->panels = p;
    return p;
}

void INS_FreePanels(Cockpit* c) {
    CockpitPanels* p = c->panels;
    if (!p) return;
    c->panels = nullptr;
    if (Inst3D* inst = IC_FindInst(p->tooltip.inst)) B3D_InstFree(inst);
    for (PanelRecord* panel : {&p->message, &p->navMap})
        for (InstSlot& slot : panel->slots) IC_SlotFree(&slot);
    IC_SlotFree(&p->box.slot);
    for (InstSlot& slot : p->targets.slots) IC_SlotFree(&slot);
    delete p;
}

// ---------------------------------------------------------------- tooltip

void INS_ShowTooltipAt(Cockpit* c, uint32_t owner, const char* text, int32_t x, int32_t y) {
    if (!text) {
        INS_HideTooltipOf(owner, c);
        return;
    }
    CockpitPanels* p = INS_Panels(c);
    if (!p) return;
    TooltipRecord& t = p->tooltip;
    const int32_t now = Now();
    if (t.shown && t.hasText) {
        // Moving from one item to the next changes the text at once; a
        // tooltip still waiting for its first show keeps waiting.
        if (t.text != text) t.showTime = S_ClockDiff(t.showTime, now) > 0 ? Later(now, INS_TOOLTIP_DELAY) : now;
    } else {
        t.showTime = Later(now, INS_TOOLTIP_DELAY);
    }
    t.text = text;
    t.hasText = true;
    t.shown = 1;
    t.owner = owner;
    const int32_t font = INS_HudFont();
    t.width = (font >= 0 ? B3D_TexTextWidth(font, 0, text) : 0) + 6;
    t.lineHeight = font >= 0 ? B3D_TexTextHeight(font, 0) : 0;
    // In 64 bits: a story may point anywhere.
    const int64_t half = (int64_t{t.lineHeight} + 6) / 2, halfWidth = t.width / 2;
    int64_t tx = int64_t{x} + 8, ty = int64_t{y} + 32;
    if (tx + halfWidth > ScreenWidth()) tx = ScreenWidth() - halfWidth;
    else if (tx - halfWidth < 2) tx = halfWidth + 2;
    if (ty + half > ScreenHeight()) ty = ty - 35 - half;
    else if (ty - half < 2) ty = half + 2;
    t.x = static_cast<int32_t>(std::clamp<int64_t>(tx, INT32_MIN, INT32_MAX));
    t.y = static_cast<int32_t>(std::clamp<int64_t>(ty, INT32_MIN, INT32_MAX));
    INS_DrawTooltip(c);
}

void INS_HideTooltipOf(uint32_t owner, Cockpit* c) {
    CockpitPanels* p = c->panels;
    if (!p) return;
    TooltipRecord& t = p->tooltip;
    if (owner != 0 && owner != t.owner) return;
    t.shown = 0;
    if (Inst3D* inst = IC_FindInst(t.inst)) SetHidden(inst, true);
    t.owner = 0;
}

void INS_ShowTooltipCall(Cockpit* c, int32_t owner, const char* text, int32_t x, int32_t y) {
    INS_ShowTooltipAt(c, static_cast<uint32_t>(owner), text, x, y);
}

void INS_HideTooltipCall(Cockpit* c, uint32_t owner) { INS_HideTooltipOf(owner, c); }

void INS_DrawTooltip(Cockpit* c) {
    CockpitPanels* p = c->panels;
    if (!p) return;
    TooltipRecord& t = p->tooltip;
    Inst3D* inst = IC_FindInst(t.inst);
    if (!inst) {
        Scene3D* scene = c->tooltip ? IC_FindScene(c->tooltip->scene) : nullptr;
        if (!scene || !(inst = B3D_AllocInst())) return;
        B3D_InstSetBody(inst, g_CockpitSystem ? g_CockpitSystem->tooltipBody : B3D_GetBodyID(INS_TOOLTIP_BODY));
        inst->flags |= kTooltipInstFlags;
        B3D_InstAddToScene(inst, scene);
        t.inst = inst->id;
    }
    QelMatrix scale{};
    Qel_MatIdentity(&scale);
    scale.m[0] = t.width * 256;
    scale.m[4] = (t.lineHeight + 6) * 256;
    B3D_InstSetExtraMatrix(inst, INS_TOOLTIP_TEXTURE, &scale);
    inst->pos = QelVector{t.x, t.y, 0, 0};
    SetHidden(inst, S_ClockDiff(Now(), t.showTime) < 0);
    TooltipTexture(t);
}

void INS_TooltipStep(Cockpit* c) {
    CockpitPanels* p = c->panels;
    if (!p || !p->tooltip.shown) return;
    if (Inst3D* inst = IC_FindInst(p->tooltip.inst)) SetHidden(inst, Since(p->tooltip.showTime) < 0);
}

// ---------------------------------------------------------------- message display and map

void INS_PanelStartCut(InstSlot* slot, int32_t cutId, int32_t job) {
    J3D_Cut* cut = J3D_GetCut(cutId);
    if (!cut) return;
    if (Inst3D* inst = IC_SlotGetInst(slot)) J3D_JobStartInst(inst, 0, job, cut, 0, 0);
}

void INS_SetMessageDisplay(Cockpit* c, const char* text) {
    CockpitPanels* p = INS_Panels(c);
    if (!p) return;
    PanelRecord& m = p->message;
    m.duration = INS_MESSAGE_DURATION;
    if (!text) {
        if (Shown(m)) Close(&m);
        return;
    }
    if (!Shown(m)) Open(c, &m);
    else if (m.state == INS_PANEL_CLOSING) m.state = INS_PANEL_REOPENING;
    BuildModels(m);
    PanelText(text, 2, 2);
}

void INS_MessageCall(Cockpit* c, const char* text, int32_t duration) {
    INS_SetMessageDisplay(c, text);
    if (CockpitPanels* p = c->panels) p->message.duration = duration;
}

void INS_SetNavMap(Cockpit* c, int32_t on) {
    CockpitPanels* p = INS_Panels(c);
    if (!p) return;
    PanelRecord& map = p->navMap;
    if (!on) {
        if (Shown(map)) Close(&map);
        return;
    }
    if (Shown(map)) return;
    Open(c, &map);
    BuildModels(map);
    PanelText(nullptr, 0, 0);
}

void INS_UpdateMessageDisplay(PanelRecord* p) {
    switch (p->state) {
        case INS_PANEL_OPENING:
            if (!Done(*p)) return;
            StartAll(p, INS_PANEL_LOOP_CUT);
            Enter(p, INS_PANEL_OPEN);
            return;
        case INS_PANEL_OPEN:
            // The duration counts from the start of the last loop pass.
            if (p->duration != 0 && Since(p->stateTime) > p->duration) {
                Close(p);
                return;
            }
            if (!Done(*p)) return;
            StartAll(p, INS_PANEL_LOOP_CUT);
            Enter(p, INS_PANEL_OPEN);
            return;
        case INS_PANEL_CLOSING:
            if (!Done(*p)) return;
            Enter(p, INS_PANEL_CLOSED);
            for (InstSlot& slot : p->slots) IC_SlotTakeOut(&slot);
            return;
        case INS_PANEL_REOPENING:
            if (!Done(*p)) return;
            StartAll(p, INS_PANEL_OPEN_CUT);
            Enter(p, INS_PANEL_OPENING);
            return;
        default: return;
    }
}

void INS_MessageDisplayStep(Cockpit* c) {
    if (c->panels) INS_UpdateMessageDisplay(&c->panels->message);
}

void INS_NavMapStep(Cockpit* c) {
    if (c->panels) INS_UpdateMessageDisplay(&c->panels->navMap);
}

// ---------------------------------------------------------------- box and target bodies

void INS_SetCameraMessageBox(Cockpit* c, const char* text) {
    CockpitPanels* p = INS_Panels(c);
    if (!p) return;
    CameraMessageBox& box = p->box;
    if (!text) {
        if (box.shown) IC_SlotTakeOut(&box.slot);
        box.shown = 0;
        return;
    }
    box.shown = 1;
    PanelText(text, 2, 2);
}

void INS_EnableTargetBodies(Cockpit* c, int32_t on) {
    CockpitPanels* p = INS_Panels(c);
    if (!p) return;
    TargetBodies& t = p->targets;
    t.enable = on;
    if (on) return;
    for (InstSlot& slot : t.slots) IC_SlotTakeOut(&slot);
    if (c->overlay) IC_HideOverlayEntries(c->overlay, 0);
}
