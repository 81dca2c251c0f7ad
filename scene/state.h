// The scene engine's one state record, its four memory pools, the id tables
// with their find operations, the engine flags and the named shader-definition
// entries.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/table.h"
#include "render/fxrecords.h"
#include "scene/ids.h"
#include "scene/pools.h"
#include "scene/records.h"

// Engine flags.
constexpr uint32_t B3D_ENGINE_RECORDING = 0x1;
constexpr uint32_t B3D_ENGINE_REPLAYING = 0x2;
constexpr uint32_t B3D_ENGINE_ENVMAP_REFRESH = 0x40;
constexpr uint32_t B3D_ENGINE_ENVMAP_DRAWN = 0x80;

constexpr int32_t B3D_LIGHT_TYPES = 1000;
constexpr int32_t B3D_MAX_COLLECTED_LIGHTS = 254;
constexpr int32_t B3D_LIGHT_SLOTS = 8;
constexpr int32_t B3D_PARTICLE_RECORDS = 10000;
constexpr int32_t B3D_ICON_LISTS = 10;
constexpr int32_t B3D_SCRATCH_AREAS = 11;  // five of the body pool, six of the cut pool

// A row of the light-type table.
struct B3DLightType {
    uint16_t kind;              // 1 directional, 2 point, 3 spot
    uint16_t red, green, blue;  // 0 to 255
    int32_t switchWord;
    int32_t value;  // 16.16
    int32_t words[2];
};

// A light slot of the renderer: index in the collected lights (-1 free),
// priority, distance.
struct B3DLightSlot {
    int32_t index;
    int32_t priority;
    int32_t distance;
};

// A row of an icon list: icon id, one word, and the icon's rectangle on its sheet.
struct B3DIconRow {
    int32_t iconId;
    int32_t word;
    int32_t x, y, w, h;
};

struct B3DIconList {
    int32_t textureId;  // low 16 bits used
    int32_t width, height;
    int32_t rowCount;
    B3DIconRow* rows;
};

// A row of the "Skins" table.
struct B3DSkinRow {
    int32_t number;
    char* name;
    int32_t count;
    int32_t* replaced;
    int32_t* replacing;
};

// An element of the state's array table: a count and an array of 20-byte elements.
struct B3DArrayTableRow {
    int32_t count;
    void* array;
};

// A work array of the cut reader: one key track of the path being read.
struct J3D_KeyBuffer {
    int32_t capacity;  // keys
    int32_t count;
    void* keys;
};

// The six tracks: position, rotation, target, roll, colour, field of view.
constexpr int32_t J3D_KEY_TRACKS = 6;

struct B3DState {
    B3DList bodies;
    QelTable* instTable;
    QelTable* sceneTable;
    QelTable* bodyTable;  // key: body id + 1
    B3DList scenes;
    uint32_t engineFlags;
    B3DList freeInsts;  // instances, lights and cameras in no scene and without parent
    B3DList drawFree;   // free draw items
    B3DList drawList;   // this frame's draw items
    int32_t nineWords[2];
    Inst3D* firstLight;      // cleared at the start of each draw
    Inst3D* lensFlareCheck;  // the lens-flare scene's occlusion-test instance
    void* backgroundRecord;
    int32_t backgroundHalf;
    int32_t backgroundScaled;
    Scene3D* lensFlareScene;
    int32_t poolBBytes, poolBPeak;
    int32_t poolIBytes, poolIPeak;
    QelTable* cutTable;
    QelTable* takeTable;
    int32_t poolJBytes, poolJPeak;
    QelTable* textureFormats;  // key: pixel-format code + 1
    int32_t textureFormatWords[2];
    int32_t moduleNumber;
    int32_t recorderWords[4];
    int32_t poolRBytes, poolRPeak;
    int32_t cacheWords[2];
    B3DBodyIdTable bodyIds;
    B3DCutIdTable cutIds;
    B3DLightType lightTypes[B3D_LIGHT_TYPES];
    Inst3D* collectedLights[B3D_MAX_COLLECTED_LIGHTS + 1];  // ended by a null
    int32_t lightSlotCount;
    B3DLightSlot lightSlots[B3D_LIGHT_SLOTS];
    int32_t collectedInstCount;  // over every camera's collected instances
    B3DList particleFree;
    B3DList particleLive;
    B3DList generators;
    QelTable* generatorTable;
    B3DParticleDesc particleDescs[100];
    int32_t fadeValue;
    QelTable* nameTables[3];
    int32_t shadowAlpha;
    B3DList replayList;
    QelTable* replayTable;
    int32_t gammaValue;
    QelTable* namedEntries;
    int32_t screenWidth, screenHeight;
    int32_t screenAspect[2];  // x and y aspect of the screen, 16.16
    int32_t screenTextureId;
    const uint8_t* widthTable;  // 256 character widths of the text measure
    B3DIconList icons[B3D_ICON_LISTS];
    int32_t skinCount;
    B3DSkinRow* skins;
    int32_t arrayTableCount;
    B3DArrayTableRow* arrayTable;
    J3D_KeyBuffer cutBuffers[J3D_KEY_TRACKS];
    int32_t sound3DUsable;             // 1 at start; 0 after a failed listener call, for good
    int32_t sound3DStamp;              // game time of the listener's ranked pass, renewed every 5 s
    void* scratch[B3D_SCRATCH_AREAS];  // the loaders' reserved scratch areas
    int32_t screenSizeRef;             // the screen size instances are measured against
};

// The state; null until B3D_Init.
extern B3DState* g_B3DState;

// Fills a new state: gamma, lists, id tables, the engine-call module (when a
// script engine exists), particle free list, named-entry table. Null when the
// record cannot be allocated. The body and cut id tables are the start-up's.
B3DState* B3D_InitStore();
// Frees the texture-format records (a device reopen registers them again).
void B3D_FreeTextureFormats();
// Registers the engine-call module with the script engine and keeps the
// number it gives (0 without a script engine).
void B3D_RegisterModule(B3DState* state);
// Frees what B3D_InitStore, the id tables and the records made and clears the
// pointer (the program keeps its state for its life; tests start afresh).
void B3D_FreeStore();

// Finds by id; null when no record has it.
Inst3D* B3D_InstFind(uint32_t id);
Scene3D* B3D_SceneFind(uint32_t id);
void* B3D_FindBody(int32_t id);
int32_t B3D_StoreBody(int32_t id, void* body);

// Engine flags.
uint32_t B3D_GetEngineFlags();
void B3D_SetEngineFlags(uint32_t bits);
void B3D_ClearEngineFlags(uint32_t bits);
// Answers of the engine calls on the engine flags.
int32_t B3D_CallSetEngineFlags(int32_t bits);    // new word's low 16 bits, sign-extended
int32_t B3D_CallClearEngineFlags(int32_t bits);  // the whole new word
int32_t B3D_CallSetFlags(int32_t word);          // replaces the word, answers the argument
int32_t B3D_MemStatistics(int32_t n);

// Named shader-definition entries.
B3DNamedEntry* B3D_AllocName(const char* name);
B3DNamedEntry* B3D_FindEffectByName(const char* name);
void B3D_FreeNamedEntry(B3DNamedEntry* entry);
// Before a device reset: every definition's effects are told the device is lost.
void B3D_FreeEffectTable();

// The renderer's pixel-format records; 0 without a state.
int32_t B3D_AddTextureFormat(void* record, int32_t code);
// What renderer start-up decided: the opaque and transparent texture-format
// codes (-1 none) and the number of hardware lights; nothing without a state.
void B3D_SetRendererWords(int32_t opaqueFormat, int32_t transparentFormat, int32_t hardwareLights);
