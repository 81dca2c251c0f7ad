// The cockpit system: the table of the player's cockpits (each one view of
// the world with its references to space objects), their one free path, the
// calls the space simulation makes into them (reference removal, the hit
// shake, the cockpit of a ship) and the view helpers.
#pragma once

#include <cstdint>
#include <vector>

#include "base/fixmath.h"
#include "script/values.h"

struct QelTable;
struct Scene3D;
struct Camera3D;
struct Inst3D;
struct SectorObject;
struct SE_Task;
struct IconMenu;
struct CockpitHud;
struct CockpitPanels;

// The cockpit's handle on one scene instance made on demand, held by id so
// that an instance the scene engine freed (a location reset, a story's free)
// is seen as gone. The fifth word is kept by the overlay entries only.
struct InstSlot {
    uint32_t state;  // the overlay entries' "visible" word
    uint32_t inst;   // instance id, 0 until first use
    int32_t kind;    // -1: made by IC_SlotGetInst; a light when initialised with -1
    uint32_t extra;
    uint32_t aux;
};

// The target overlay, icon menu and tooltip scenes of a cockpit.
struct Cockpit;
struct OverlayEntry;
struct CockpitOverlayScene {
    Cockpit* cockpit;
    uint32_t scene;   // Scene3D id
    uint32_t camera;  // Camera3D id
    int32_t words[3];
    int32_t word;
    // What the overlay shows, one entry an object (Int_Alloc, freed with the
    // record); the target stepping walks it. The block keeps room for the
    // most entries it has held, their slot instances kept out of the scene
    // for reuse.
    OverlayEntry* entries;
    int32_t entryCount;
    int32_t entryCapacity;
};
struct IconMenuScene {
    int32_t word;
    uint32_t scene;
    uint32_t camera;
    void* menus[3];          // head, tail, tail predecessor of the icon menus
    int32_t mouseX, mouseY;  // the last point the mouse calls gave
};
struct TooltipScene {
    int32_t word;
    uint32_t scene;
    uint32_t camera;
    int32_t words[4];
};

// How the cockpit body sways with the ship's motion.
struct CockpitSway {
    int32_t offset[3];  // 16.16
    int32_t jitter[4];  // a, b, c and a fourth word; 1/65536 turn
    int32_t lastRotSpeed[3];
    int32_t lastSpeed;
    int32_t lastAcceleration;  // units per second
};

constexpr int32_t IC_COCKPIT_LIGHTS = 16;
constexpr int32_t IC_HUD_PARTS = 6;

// One view of the game world: the player's cockpit, a monitor, an external or
// a cinematic camera. Zero-filled, then given its defaults by
// IC_InitCockpitScenes. References to space objects are cleared by
// INS_RemoveObjectReferences before their object is freed.
struct Cockpit {
    uint32_t id;                     // key in the cockpit table
    uint32_t scene;                  // Scene3D id of the cockpit scene, 0 when none
    uint32_t camera;                 // Camera3D id of its camera
    SectorObject* refObject;         // the object the view is bound to
    SectorObject* cockpitRefObject;  // the ship whose cockpit this is
    // Twenty reserved words, the sector space and the three cameras among them.
    // The cameras are the story's: held by id, looked up at each use.
    SectorObject* sectorSpace;  // a sector (main type 1) or null
    uint32_t sectorCamera;
    uint32_t galaxyCamera;
    uint32_t dustCamera;
    int32_t reserved[16];
    SectorObject* refViewObject;  // what the cinematic view looks at
    int32_t refViewPos[3];
    int32_t refPos[3];
    int32_t viewAngles[3];  // alpha, beta, gamma shown now
    int32_t viewAngleSpeeds[3];
    int32_t targetViewAngles[3];
    int32_t posAngles[2][3];
    int32_t viewAngles12[2][3];
    QelMatrix viewMatrix;
    int32_t viewLock;
    int32_t viewTurnRate;  // 16.16
    int32_t noDecay;
    int32_t viewPos[3];
    int32_t viewPointPos[3];
    int32_t viewMode;  // 1: the cockpit ref object's cockpit view; bit value 4: its ship is steered
    int32_t viewCameraOffset[3];
    int32_t viewCameraOffset2[3];
    int32_t viewPointOffset[3];
    int32_t viewPointOffset2[3];
    uint32_t flags;
    int32_t viewDuration, posDuration;  // ms
    int32_t viewConnectMode;
    int32_t viewStart, posStart;  // game time
    int32_t focus;
    int32_t focusDurationStart;
    int32_t focusDuration;
    int32_t cinematicLoopTime;
    int32_t word1;
    int32_t connectFraction;  // 16.16
    uint32_t connectFlags;
    int32_t cockpitNumber;  // the cockpit body of the ship's type in use
    int32_t monitorNumber;  // 0: the main screen's cockpit; -1 until set
    SectorObject* trackedObject;
    int16_t trackingMode;  // 1 tracking, 2 a given object, 3 locked on it, 4 enemies
    int32_t flagWord;      // the lock word: cleared by the tracking changes
    int32_t trackingStart;
    int32_t trackingChanged;  // 1 after every change of the tracking
    char* trackingText;       // heap text, freed by every change and with the cockpit
    SectorObject* secondObject;
    int32_t hitShakeEnd, hitShakeLevel;  // game time, 0..100
    int32_t secondShakeEnd;
    int32_t cockpitShakeEnd, cockpitShakeLevel;
    int32_t radarMode;
    int32_t radarRange, secondRange;
    int32_t words3[3];
    int32_t wordTime;
    int16_t missileType;
    int32_t missileValues[2];
    int32_t fieldOfView;
    void* emptyList[3];  // head, tail, tail predecessor
    int32_t draw2D;
    int32_t zoom, zoomStart, zoomTarget;  // 16.16
    int32_t zoomStartTime;
    uint32_t zoomFlags;
    InstSlot gridSlot;  // the grid display's instance
    int32_t gridOn;
    int32_t cockpitBodyOn, radarBodyOn, displayBodyOn;
    int32_t shading;
    // The instances of the HUD's six parts, kept through save games.
    InstSlot hudParts[IC_HUD_PARTS];
    // The scenes the cockpit owns beside its cockpit scene.
    uint32_t lights[IC_COCKPIT_LIGHTS];  // instance ids, 0 where one could not be made
    CockpitOverlayScene* overlay;
    IconMenuScene* iconMenus;
    TooltipScene* tooltip;
    CockpitSway sway;  // of the cockpit body
    IconMenu* menus;   // the icon menus in the order made; removed ones until freed
    // The HUD's radar, ticker and scanner state, made on first use and freed
    // with the cockpit (INS_FreeHud).
    CockpitHud* hud;
    // The tooltip, message display, navigation map, camera message box and
    // target bodies, made on first use and freed with the cockpit
    // (INS_FreePanels).
    CockpitPanels* panels;
};

// The one record of a running story's cockpits.
struct CockpitSystem {
    QelTable* cockpits;  // cockpit ID -> Cockpit*
    // From here to the cross-hair: the words of the cockpit save section.
    int32_t stateWords[2];  // the current and the pending alert level
    int32_t timeWarpFactor;
    int32_t unitDisplay;
    int32_t activeControl;  // ID of the cockpit whose ship the player steers; 0 none
    int32_t hudFont;        // -1 until the HUD opens its font
    int32_t radarOn;
    uint8_t overlayBrackets;
    uint32_t statusFlags;
    int32_t crossHair;
    ScriptValue answer;  // the integer answer of a story function the module started
    int16_t answered;    // 1 once the answer slot holds an answer
    int16_t fontTried;   // 1 once the HUD tried to open its font
    int32_t dustBody;
    int32_t gridBody;     // the grid display's body
    int32_t tooltipBody;  // the tooltip's body
};

// The running story's cockpit system; null between runs.
extern CockpitSystem* g_CockpitSystem;

// Module-wide values beside the record.
struct CockpitModule {
    int32_t moduleNumber;  // given by the script engine at registration
    int32_t bayDoorStatus;
    int16_t bayDoorContent[2];
    int32_t bayDoorValue;
    int32_t hudBodies[5];  // gui_master, hud_icon_text, hud_target_text, docked, dockhere
};
extern CockpitModule g_CockpitModule;

// Fills the zeroed record: an empty table, the defaults, the dust and HUD
// body ids; null when the table cannot be made.
CockpitSystem* INS_CreateCockpitSystem(CockpitSystem* block);
// A new system record filled by INS_CreateCockpitSystem, kept in
// g_CockpitSystem; a system left from before is freed first.
CockpitSystem* INS_NewCockpitSystem();
// Frees every cockpit, the table and the record; g_CockpitSystem becomes null.
void INS_FreeCockpitSystem();

// Fills a zeroed cockpit with its defaults.
Cockpit* IC_InitCockpitScenes(Cockpit* cockpit);
// The cockpit of an ID, or null (no system, no such cockpit).
Cockpit* INS_TableGet(const CockpitSystem* system, uint32_t id);
// A new cockpit with its defaults, added to the table under the next free
// key; its ID, 0 when there is no system or no memory.
uint32_t INS_AddCockpit(CockpitSystem* system);
// The one way a cockpit goes: out of the table, every reference to it
// dropped (the active control cockpit, the steering's turrets), cleared and
// freed. Nothing for an ID the table does not hold.
void INS_FreeCockpit(CockpitSystem* system, uint32_t id);
// Frees every cockpit of the table through INS_FreeCockpit.
void INS_ClearAllCockpits(CockpitSystem* system);
// Frees the cockpit's scenes (its own instances go with them) and drops its
// references.
void INS_ClearCockpit(Cockpit* cockpit);

// The cockpit IDs of the table in ascending key order.
std::vector<uint32_t> INS_CockpitIds(const CockpitSystem* system);
// The first cockpit in key order whose monitor number is 0 and whose cockpit
// ref object is the ship; null when none.
Cockpit* INS_FindCockpitByShip(const SectorObject* ship);
// Clears every cockpit reference to the object (before it is freed).
void INS_RemoveObjectReferences(SectorObject* object);
// The ship is hit: every cockpit of it in view mode 1 shakes for a second at
// the level, clamped to 0..100.
void INS_StartShipRappel(const SectorObject* ship, int32_t level);
// The active control cockpit, or null.
Cockpit* INS_ActiveControlCockpit();
// The ship the player steers: the active control cockpit's cockpit ref object
// when its view mode has bit value 4, else its ref object; null without one.
SectorObject* INS_SteeredShip();

// Sets the cockpit number: a negative one becomes 0; one at or past the
// count of cockpit views of the ship's type is logged and kept.
void IC_SetCockpitNumber(Cockpit* cockpit, int32_t number);
// Whether the cockpit number names a cockpit view of the cockpit ref object's type.
bool IC_HasCockpitView(const Cockpit* cockpit);
// Where a ship's cockpit view n is and how it is turned; 0 when the ship has
// no such view point. Filled by the cockpit's per-frame view.
using INS_CockpitViewFn = int (*)(SectorObject* ship, int32_t n, QelVector* position, QelMatrix* matrix);
extern INS_CockpitViewFn g_INSCockpitView;
// The view position and matrix of a cockpit: the ship's cockpit view for a
// valid cockpit number when it has one, else the ship's instance; zero and
// the identity without a cockpit ref object.
void INS_GetViewPosition(const Cockpit* cockpit, QelVector* out);
void INS_GetViewMatrix(const Cockpit* cockpit, QelMatrix* out);

// Fixed-point helpers of the views.
int32_t INS_VecDistance(const QelVector* a, const QelVector* b);  // the straight distance, clamped into 32 bits
// a - b, each component clamped into 32 bits (far-apart positions do not wrap).
QelVector INS_VecSub(const QelVector& a, const QelVector& b);
int32_t INS_MaxAbsComponent(const QelVector* v);
int32_t INS_MaxAbsDifference(const QelVector* a, const QelVector* b);
int32_t INS_MulDiv(int32_t a, int32_t b, int32_t c);  // a x b / c in 64 bits; 0 for c == 0
int32_t INS_Clamp32(int64_t v);                       // v clamped into 32 bits
int32_t INS_FixDiv(int32_t a, int32_t b);             // 16.16; 0 for b == 0
int32_t INS_FixMul(int32_t a, int32_t b);             // 16.16, rounded at 0x8000
// The value between a and b that t gives within lo..hi (the ends outside it).
int32_t INS_Interpolate(int32_t a, int32_t b, int32_t t, int32_t lo, int32_t hi);
