// The scenes a cockpit owns (its cockpit scene with camera and lights, the
// target overlay, icon menu and tooltip scenes), the instance slots through
// which it holds its scene instances, the sway of the cockpit body, the two
// target searches of the HUD, and the hit tests on the target overlay.
#pragma once

#include <cstdint>

#include "cockpit/cockpits.h"

struct Scene3D;
struct Camera3D;
struct Inst3D;
struct SectorObject;

// The records behind the ids a cockpit holds; null when the scene engine has
// freed them (a location reset, a story's free) or the id is 0.
Scene3D* IC_FindScene(uint32_t id);
Camera3D* IC_FindCamera(uint32_t id);
Inst3D* IC_FindInst(uint32_t id);
inline Scene3D* IC_Scene(const Cockpit* c) { return IC_FindScene(c->scene); }
inline Camera3D* IC_Camera(const Cockpit* c) { return IC_FindCamera(c->camera); }

// The cockpit scene: "Cockpit Scene", its camera (flags 0x24, priority 0)
// and sixteen lights. Without a scene nothing else is made; without a camera
// the lights still are.
void IC_InitCockpitScene(Cockpit* cockpit);
// The other three scenes (flag 8; camera priorities 30, 95 and 98).
void IC_InitOverlayScene(CockpitOverlayScene* record, Cockpit* cockpit);
void IC_InitIconMenuScene(IconMenuScene* record);
void IC_InitTooltipScene(TooltipScene* record);
TooltipScene* IC_NewTooltipScene();
// Makes the four scenes of a new cockpit and their records.
void IC_InitAllScenes(Cockpit* cockpit);
// Frees the cockpit scene with its camera and lights.
void IC_FreeCockpitScene(Cockpit* cockpit);
// Frees the four scenes (their instances go with them) and the records.
void IC_FreeAllScenes(Cockpit* cockpit);

// The slot's instance, made (state 0, kind -1) when it has none or the scene
// engine freed it.
Inst3D* IC_SlotGetInst(InstSlot* slot);
// state 0, the kind and extra word, and a new instance (a light for kind -1).
void IC_SlotInit(InstSlot* slot, int32_t kind, uint32_t extra);
// A slot read from a save game: `saved` holds state, instance id, kind and
// extra. The instance when the scene engine still holds it, else a new one
// (state 0, kind -1); either way marked as the cockpit's (flag 128).
void IC_SlotRestore(InstSlot* dst, const InstSlot* saved);
// The slot's instance (made on demand) shown in the scene with the body, a
// changed body or scene putting it in anew; the body is kept as the slot's
// kind and the state becomes 1. `fresh`, when given, tells whether it was
// put in anew. Null when no instance can be made.
Inst3D* IC_SlotShow(InstSlot* slot, Scene3D* scene, int32_t body, bool* fresh = nullptr);
// The slot's instance out of its scene, the slot's state 0.
void IC_SlotTakeOut(InstSlot* slot);
// The slot's instance freed, the slot zero.
void IC_SlotFree(InstSlot* slot);
// Slot 0..5 of an icon-menu entry's icon slots; null above 5.
Inst3D* IC_IconSlotGetInst(InstSlot* slots, int32_t index);

// One sway step of the cockpit body over a frame of dt ms.
void IC_CockpitSway(CockpitSway* sway, const SectorObject* ship, int32_t dt);

// The nearest enemy of the cockpit's ship within 2,500,000, and the target
// straight ahead of its view; null when none.
SectorObject* IC_FindNearestEnemy(const Cockpit* cockpit);
SectorObject* IC_FindTargetAhead(const Cockpit* cockpit);

// What the overlay shows of one object: its icon (centre, 16.16 scales and
// size), its bracket (three corners) and its shield bar, each shown while
// its slot's state is non-zero; a slot's extra word is the icon it shows.
struct OverlayEntry {
    uint32_t object;
    InstSlot icon;
    int32_t iconX, iconY;
    int32_t iconScaleX, iconScaleY;  // 16.16
    int32_t iconSize;
    InstSlot bracket;
    int32_t corners[3][2];  // x, y of the first, second and third corner
    InstSlot shield;
    int32_t distance;  // from the cockpit's view
    uint8_t shown;     // 0: passed over by the target stepping
};

// Gives the overlay that many entries: entries that come into use are
// zero but for their slots, which keep their instances out of the scene;
// the block grows only past the most it has held. Null when it cannot grow
// (the entries stay as they were). 0 frees the block and every slot
// instance.
OverlayEntry* IC_SetOverlayEntryCount(CockpitOverlayScene* overlay, int32_t count);
// Takes the slots of the entries from `from` on out of the scene (state 0).
void IC_HideOverlayEntries(CockpitOverlayScene* overlay, int32_t from);

// The camera sees through the other's viewport, aspect and field of view;
// a changed viewport links it into its scene anew.
void IC_CameraFollow(const Camera3D* from, Camera3D* camera, Scene3D* scene);

// The object whose icon or bracket lies under the screen position; 0 none.
int32_t IC_ObjectAtOverlayPos(const Cockpit* cockpit, const OverlayEntry* entries, int32_t count, int32_t x, int32_t y);
// Where an icon menu opens for the screen position: x, y, the horizontal and
// vertical sides and the axis word; 1 on a hit, 0 (out untouched) else.
int32_t IC_MenuPosAtOverlayPos(const Cockpit* cockpit, const OverlayEntry* entries, int32_t count, int32_t x, int32_t y,
                               int32_t out[5]);
