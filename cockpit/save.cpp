#include "cockpit/save.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <set>
#include <vector>

#include "base/byteorder.h"
#include "base/file.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/table.h"
#include "cockpit/helpers.h"
#include "cockpit/hud.h"
#include "cockpit/panels.h"
#include "cockpit/scenes.h"
#include "cockpit/ticker.h"
#include "scene/records.h"
#include "scene/trees.h"
#include "scene/state.h"
#include "space/objects.h"

namespace {

constexpr char kOpen[4] = {'I', 'N', 'S', ' '};
constexpr char kClose[4] = {'/', 'I', 'N', 'S'};
constexpr char kCockpitOpen[4] = {'I', 'C', 'O', 'C'};
constexpr char kCockpitClose[4] = {'/', 'I', 'C', 'O'};
constexpr size_t kHeaderWords = IC_SAVE_HEADER_BYTES / 4;
constexpr size_t kBlockWords = IC_SAVE_BLOCK_BYTES / 4;
constexpr uint32_t kOwnedByCockpit = 128;

using Block = std::array<uint32_t, kBlockWords>;

// Word places of the block (byte offset / 4).
enum : size_t {
    kId = 0,
    kScene = 1,
    kCamera = 2,
    kRefObject = 3,
    kCockpitRefObject = 4,
    kLightCount = 5,
    kSectorSpace = 6,
    kSectorCamera = 7,
    kGalaxyCamera = 8,
    kDustCamera = 9,
    kViewAngles = 10,
    kViewAngleSpeeds = 13,
    kTargetViewAngles = 16,
    kPosAngles = 19,  // position angles 1 and 2, then view angles 1
    kViewLock = 28,
    kViewPos = 29,
    kViewMode = 32,
    kViewCameraOffset = 33,
    kViewStart = 36,
    kPosStart = 37,
    kConnectWords = 38,  // the word before the connect fraction, the fraction, the flags
    kCockpitNumber = 41,
    kMonitorNumber = 42,
    kTrackedObject = 43,
    kTrackingMode = 44,
    kFlagWord = 45,
    kTrackingStart = 46,
    kSecondObject = 47,
    kShake = 49,  // hit shake end and level, cockpit shake end and level
    kRadarMode = 54,
    kRadarRange = 55,
    kRadarWords = 56,  // second range, three words, their time
    kMissileType = 61,
    kMissileValues = 63,
    kFieldOfView = 65,
    kZoomWords = 68,  // 2D draw, zoom, zoom target, zoom flags
    kGridSlot = 72,
    kGridOn = 76,
    kEntryCount = 77,
    kBodiesOn = 78,  // cockpit, radar and display body
    kShading = 82,
    // The HUD record's laser-range flag, then the radar's target range, the
    // tracked object seen last (its id), the highlight count and the next
    // highlight time; the status panel's words follow.
    kLaserRange = 83,
    kRadarTargetRange = 84,
    kLastTracked = 85,
    kHighlightCount = 86,
    kNextHighlight = 87,
    kHudPartSlots = 94,
    // The camera message box's slot and shown word, the target bodies'
    // forty slots and their enable word.
    kBoxSlot = 120,
    kBoxShown = 124,
    kTargetSlots = 125,
    kTargetsEnable = 285,
};

uint32_t U(int32_t v) { return static_cast<uint32_t>(v); }
int32_t S(uint32_t v) { return static_cast<int32_t>(v); }

uint32_t ObjectId(const SectorObject* o) { return o && !(o->flags & SA_FLAG_KILLED) ? o->id : 0; }

// An instance's id as saved: 0 for none and for one left out of save games.
uint32_t SavedInst(uint32_t id) {
    const Inst3D* inst = IC_FindInst(id);
    return inst && !(inst->flags2 & INST2_NOT_SAVED) ? inst->id : 0;
}

uint32_t SavedScene(uint32_t id) { return IC_FindScene(id) ? id : 0; }

// The message display's and the navigation map's frame slots and words
// (their owning cockpit is not saved).
constexpr size_t kMessageSlots = 308, kMessageWords = 320;  // state time, duration, state
constexpr size_t kMapSlots = 323, kMapWords = 335;          // state time, state
constexpr size_t kSlotWords = 4;

void PutSlot(Block& b, size_t at, const InstSlot& slot) {
    b[at] = slot.state;
    b[at + 1] = SavedInst(slot.inst);
    b[at + 2] = U(slot.kind);
    b[at + 3] = slot.extra;
}

void PutPanels(const Cockpit* c, Block& b) {
    const CockpitPanels* p = c->panels;
    if (!p) return;
    for (size_t i = 0; i < 3; ++i) {
        PutSlot(b, kMessageSlots + i * kSlotWords, p->message.slots[i]);
        PutSlot(b, kMapSlots + i * kSlotWords, p->navMap.slots[i]);
    }
    b[kMessageWords] = U(p->message.stateTime);
    b[kMessageWords + 1] = U(p->message.duration);
    b[kMessageWords + 2] = U(p->message.state);
    b[kMapWords] = U(p->navMap.stateTime);
    b[kMapWords + 1] = U(p->navMap.state);
    PutSlot(b, kBoxSlot, p->box.slot);
    b[kBoxShown] = U(p->box.shown);
    for (size_t i = 0; i < INS_TARGET_BODIES; ++i) PutSlot(b, kTargetSlots + i * kSlotWords, p->targets.slots[i]);
    b[kTargetsEnable] = U(p->targets.enable);
}

// A slot that held nothing is left to be made on first use. One whose
// record made its instance keeps that one when the saved instance is gone
// (it is set up as the record needs), else gives it up for the saved one.
void TakeSlot(const Block& b, size_t at, InstSlot* slot) {
    if (!b[at] && !b[at + 1]) return;
    const InstSlot saved{b[at], b[at + 1], S(b[at + 2]), b[at + 3], 0};
    Inst3D* had = IC_FindInst(slot->inst);
    if (had && !IC_FindInst(saved.inst)) {
        slot->state = 0;
        slot->extra = saved.extra;
        had->flags |= kOwnedByCockpit;
        return;
    }
    IC_SlotRestore(slot, &saved);
    if (had && had->id != slot->inst) B3D_InstFree(had);
}

bool Zero(const Block& b, size_t from, size_t to) {
    return std::all_of(b.begin() + long(from), b.begin() + long(to), [](uint32_t w) { return w == 0; });
}

void TakePanels(Cockpit* c, const Block& b) {
    // A cockpit saved without the record gets none; its target bodies stay
    // as a new record makes them.
    const bool noTargets = Zero(b, kTargetSlots, kTargetsEnable + 1);
    if (Zero(b, kMessageSlots, kMapWords + 2) && Zero(b, kBoxSlot, kBoxShown + 1) && noTargets) return;
    CockpitPanels* p = INS_Panels(c);
    if (!p) return;
    TakeSlot(b, kBoxSlot, &p->box.slot);
    p->box.shown = b[kBoxShown] ? 1 : 0;
    for (size_t i = 0; i < INS_TARGET_BODIES; ++i) TakeSlot(b, kTargetSlots + i * kSlotWords, &p->targets.slots[i]);
    if (!noTargets) p->targets.enable = S(b[kTargetsEnable]);
    for (size_t i = 0; i < 3; ++i) {
        TakeSlot(b, kMessageSlots + i * kSlotWords, &p->message.slots[i]);
        TakeSlot(b, kMapSlots + i * kSlotWords, &p->navMap.slots[i]);
    }
    // A state out of range reads as closed.
    const auto state = [](uint32_t w) { return w <= INS_PANEL_REOPENING ? S(w) : INS_PANEL_CLOSED; };
    p->message.stateTime = S(b[kMessageWords]);
    p->message.duration = S(b[kMessageWords + 1]);
    p->message.state = state(b[kMessageWords + 2]);
    p->navMap.stateTime = S(b[kMapWords]);
    p->navMap.state = state(b[kMapWords + 1]);
}

Block BlockOf(const Cockpit* c) {
    Block b{};
    b[kId] = c->id;
    b[kScene] = SavedScene(c->scene);
    b[kCamera] = SavedInst(c->camera);
    b[kRefObject] = ObjectId(c->refObject);
    b[kCockpitRefObject] = ObjectId(c->cockpitRefObject);
    b[kLightCount] = IC_COCKPIT_LIGHTS;
    b[kSectorSpace] = ObjectId(c->sectorSpace);
    b[kSectorCamera] = SavedInst(c->sectorCamera);
    b[kGalaxyCamera] = SavedInst(c->galaxyCamera);
    b[kDustCamera] = SavedInst(c->dustCamera);
    for (size_t i = 0; i < 3; ++i) {
        b[kViewAngles + i] = U(c->viewAngles[i]);
        b[kViewAngleSpeeds + i] = U(c->viewAngleSpeeds[i]);
        b[kTargetViewAngles + i] = U(c->targetViewAngles[i]);
        b[kPosAngles + i] = U(c->posAngles[0][i]);
        b[kPosAngles + 3 + i] = U(c->posAngles[1][i]);
        b[kPosAngles + 6 + i] = U(c->viewAngles12[0][i]);
        b[kViewPos + i] = U(c->viewPos[i]);
        b[kViewCameraOffset + i] = U(c->viewCameraOffset[i]);
    }
    b[kViewLock] = U(c->viewLock);
    b[kViewMode] = U(c->viewMode);
    b[kViewStart] = U(c->viewStart);
    b[kPosStart] = U(c->posStart);
    b[kConnectWords] = U(c->word1);
    b[kConnectWords + 1] = U(c->connectFraction);
    b[kConnectWords + 2] = c->connectFlags;
    b[kCockpitNumber] = U(c->cockpitNumber);
    b[kMonitorNumber] = U(c->monitorNumber);
    b[kTrackedObject] = ObjectId(c->trackedObject);
    b[kTrackingMode] = U(c->trackingMode);  // sign-extended
    b[kFlagWord] = U(c->flagWord);
    b[kTrackingStart] = U(c->trackingStart);
    b[kSecondObject] = ObjectId(c->secondObject);
    b[kShake] = U(c->hitShakeEnd);
    b[kShake + 1] = U(c->hitShakeLevel);
    b[kShake + 2] = U(c->cockpitShakeEnd);
    b[kShake + 3] = U(c->cockpitShakeLevel);
    b[kRadarMode] = U(c->radarMode);
    b[kRadarRange] = U(c->radarRange);
    b[kRadarWords] = U(c->secondRange);
    for (size_t i = 0; i < 3; ++i) b[kRadarWords + 1 + i] = U(c->words3[i]);
    b[kRadarWords + 4] = U(c->wordTime);
    b[kMissileType] = U(c->missileType);
    b[kMissileValues] = U(c->missileValues[0]);
    b[kMissileValues + 1] = U(c->missileValues[1]);
    b[kFieldOfView] = U(c->fieldOfView);
    b[kZoomWords] = U(c->draw2D);
    b[kZoomWords + 1] = U(c->zoom);
    b[kZoomWords + 2] = U(c->zoomTarget);
    b[kZoomWords + 3] = c->zoomFlags;
    PutSlot(b, kGridSlot, c->gridSlot);
    b[kGridOn] = U(c->gridOn);
    b[kEntryCount] = 0;  // the entry list is rebuilt by play
    b[kBodiesOn] = U(c->cockpitBodyOn);
    b[kBodiesOn + 1] = U(c->radarBodyOn);
    b[kBodiesOn + 2] = U(c->displayBodyOn);
    b[kShading] = U(c->shading);
    for (size_t i = 0; i < IC_HUD_PARTS; ++i) PutSlot(b, kHudPartSlots + i * kSlotWords, c->hudParts[i]);
    // A cockpit whose HUD was never drawn saves the record's zeros.
    if (const CockpitHud* hud = c->hud) {
        b[kLaserRange] = U(hud->inLaserRange);
        b[kRadarTargetRange] = U(hud->targetRange);
        b[kLastTracked] = ObjectId(SA_LookupObject(hud->lastTracked));
        b[kHighlightCount] = U(hud->highlightCount);
        b[kNextHighlight] = U(hud->nextHighlight);
    }
    PutPanels(c, b);
    return b;
}

SectorObject* ObjectOf(uint32_t id) { return id ? SA_LookupObject(id) : nullptr; }

// A story camera the cockpit holds by id, when the scene engine still has it.
uint32_t CameraOf(uint32_t id) {
    Camera3D* camera = IC_FindCamera(id);
    if (!camera) return 0;
    camera->inst.flags |= kOwnedByCockpit;
    return id;
}

void ApplyBlock(Cockpit* c, const Block& b) {
    c->refObject = ObjectOf(b[kRefObject]);
    c->cockpitRefObject = ObjectOf(b[kCockpitRefObject]);
    c->sectorSpace = ObjectOf(b[kSectorSpace]);
    if (c->sectorSpace && c->sectorSpace->mainType != SA_MT_SECTOR) c->sectorSpace = nullptr;
    c->sectorCamera = CameraOf(b[kSectorCamera]);
    c->galaxyCamera = CameraOf(b[kGalaxyCamera]);
    c->dustCamera = CameraOf(b[kDustCamera]);
    for (size_t i = 0; i < 3; ++i) {
        c->viewAngles[i] = S(b[kViewAngles + i]);
        c->viewAngleSpeeds[i] = S(b[kViewAngleSpeeds + i]);
        c->targetViewAngles[i] = S(b[kTargetViewAngles + i]);
        c->posAngles[0][i] = S(b[kPosAngles + i]);
        c->posAngles[1][i] = S(b[kPosAngles + 3 + i]);
        c->viewAngles12[0][i] = S(b[kPosAngles + 6 + i]);
        c->viewPos[i] = S(b[kViewPos + i]);
        c->viewCameraOffset[i] = S(b[kViewCameraOffset + i]);
    }
    c->viewLock = S(b[kViewLock]);
    c->viewMode = S(b[kViewMode]);
    c->viewStart = S(b[kViewStart]);
    c->posStart = S(b[kPosStart]);
    c->word1 = S(b[kConnectWords]);
    c->connectFraction = S(b[kConnectWords + 1]);
    c->connectFlags = b[kConnectWords + 2];
    c->cockpitNumber = S(b[kCockpitNumber]);
    c->monitorNumber = S(b[kMonitorNumber]);
    c->trackedObject = ObjectOf(b[kTrackedObject]);
    c->trackingMode = static_cast<int16_t>(b[kTrackingMode] & 0xFFFF);
    c->flagWord = S(b[kFlagWord]);
    c->trackingStart = S(b[kTrackingStart]);
    c->secondObject = ObjectOf(b[kSecondObject]);
    c->hitShakeEnd = S(b[kShake]);
    c->hitShakeLevel = S(b[kShake + 1]);
    c->cockpitShakeEnd = S(b[kShake + 2]);
    c->cockpitShakeLevel = S(b[kShake + 3]);
    c->radarMode = S(b[kRadarMode]);
    c->radarRange = S(b[kRadarRange]);
    c->secondRange = S(b[kRadarWords]);
    for (size_t i = 0; i < 3; ++i) c->words3[i] = S(b[kRadarWords + 1 + i]);
    c->wordTime = S(b[kRadarWords + 4]);
    c->missileType = static_cast<int16_t>(b[kMissileType] & 0xFFFF);
    c->missileValues[0] = S(b[kMissileValues]);
    c->missileValues[1] = S(b[kMissileValues + 1]);
    c->fieldOfView = S(b[kFieldOfView]);
    c->draw2D = S(b[kZoomWords]);
    c->zoom = S(b[kZoomWords + 1]);
    c->zoomTarget = S(b[kZoomWords + 2]);
    c->zoomFlags = b[kZoomWords + 3];
    TakeSlot(b, kGridSlot, &c->gridSlot);
    c->gridOn = S(b[kGridOn]);
    c->cockpitBodyOn = S(b[kBodiesOn]);
    c->radarBodyOn = S(b[kBodiesOn + 1]);
    c->displayBodyOn = S(b[kBodiesOn + 2]);
    c->shading = S(b[kShading]);
    for (size_t i = 0; i < IC_HUD_PARTS; ++i) TakeSlot(b, kHudPartSlots + i * kSlotWords, &c->hudParts[i]);
    const bool hudSaved =
        b[kLaserRange] || b[kRadarTargetRange] || b[kLastTracked] || b[kHighlightCount] || b[kNextHighlight];
    if (CockpitHud* hud = hudSaved ? INS_Hud(c) : nullptr) {
        hud->inLaserRange = S(b[kLaserRange]);
        hud->targetRange = S(b[kRadarTargetRange]);
        hud->lastTracked = ObjectOf(b[kLastTracked]) ? b[kLastTracked] : 0;
        hud->highlightCount = S(b[kHighlightCount]);
        hud->nextHighlight = S(b[kNextHighlight]);
    }
    TakePanels(c, b);
}

// ---------------------------------------------------------------- writing

struct Writer {
    QelFile* file;
    bool ok = true;
    void Tag(const char (&tag)[4]) {
        if (ok && Qel_fwriteBlock(file, 1, 4, tag) != 4) ok = false;
    }
    void Words(uint32_t* words, size_t count) {
        const size_t bytes = count * 4;
        if (ok && count && Qel_fwrite(file, words, bytes, "\4") != bytes) ok = false;
    }
    void Word(uint32_t w) { Words(&w, 1); }
};

// ---------------------------------------------------------------- reading

// One cockpit record as read, checked before anything is built.
struct SavedCockpit {
    Block block{};
    std::vector<uint32_t> lights;
};

struct Reader {
    QelFile* file;
    bool Tag(const char (&tag)[4]) {
        char got[4];
        return Qel_fread(file, 1, 4, got) == 4 && std::memcmp(got, tag, 4) == 0;
    }
    bool Words(uint32_t* words, size_t count) {
        const size_t bytes = count * 4;
        if (count && Qel_fread(file, 1, bytes, words) != bytes) return false;
        Qel_SwapBytesByLayout(words, "\4", bytes);
        return true;
    }
    bool Word(uint32_t* w) { return Words(w, 1); }
};

bool Fail(const char* line, uint32_t value = 0) {
    Qel_ErrPrintf(line, value);
    return false;
}

bool ReadCockpit(Reader& r, SavedCockpit* out) {
    uint32_t size = 0;
    if (!r.Tag(kCockpitOpen)) return Fail("IC_Load() Wrong ICOC cookie\n");
    if (!r.Word(&size)) return Fail("IC_Load() the cockpit record ends early\n");
    if (size != IC_SAVE_BLOCK_BYTES) return Fail("IC_Load() Wrong block size %u\n", size);
    if (!r.Words(out->block.data(), kBlockWords)) return Fail("IC_Load() the cockpit record ends early\n");
    const uint32_t id = out->block[kId];
    if (id == 0 || id > QEL_TABLE_MAX_KEY) return Fail("IC_Load() Wrong cockpit id %u\n", id);
    const uint32_t entries = out->block[kEntryCount];
    if (entries > IC_SAVE_MAX_ENTRIES) return Fail("IC_Load() Wrong entry count %u\n", entries);
    // The HUD's flag and highlight count, as the radar and panel keep them.
    if (out->block[kLaserRange] > 1) return Fail("IC_Load() Wrong laser range flag %u\n", out->block[kLaserRange]);
    if (out->block[kHighlightCount] > static_cast<uint32_t>(INS_RADAR_HIGHLIGHTS))
        return Fail("IC_Load() Wrong highlight count %u\n", out->block[kHighlightCount]);
    const uint32_t lights = out->block[kLightCount];
    if (lights > IC_COCKPIT_LIGHTS) return Fail("IC_Load() Wrong light count %u\n", lights);
    // The entries belong to the target overlay's list, which play rebuilds:
    // they are read over and checked, not kept.
    for (uint32_t i = 0; i < entries; ++i) {
        uint32_t flag = 0;
        std::array<uint32_t, 4> slot{};
        if (!r.Word(&flag)) return Fail("IC_Load() the cockpit record ends early\n");
        if (flag > 1) return Fail("IC_Load() Wrong entry flag %u\n", flag);
        if (flag == 1 && !r.Words(slot.data(), slot.size())) return Fail("IC_Load() the cockpit record ends early\n");
    }
    out->lights.assign(lights, 0);
    if (!r.Words(out->lights.data(), lights)) return Fail("IC_Load() the cockpit record ends early\n");
    if (!r.Tag(kCockpitClose)) return Fail("IC_Load() Wrong /ICO cookie\n");
    return true;
}

// The cockpit scene, camera and lights the save names, in place of the set
// the constructor made, when the scene engine brought the scene back.
void AdoptCockpitScene(Cockpit* c, const SavedCockpit& saved) {
    Scene3D* scene = IC_FindScene(saved.block[kScene]);
    if (!scene) return;
    IC_FreeCockpitScene(c);
    c->scene = scene->id;
    c->camera = CameraOf(saved.block[kCamera]);
    for (size_t i = 0; i < saved.lights.size(); ++i) {
        Inst3D* light = IC_FindInst(saved.lights[i]);
        if (!light) continue;
        light->flags |= kOwnedByCockpit;
        c->lights[i] = light->id;
    }
}

}  // namespace

int IC_Save(const Cockpit* cockpit, QelFile* file) {
    Writer w{file};
    Block block = BlockOf(cockpit);
    std::array<uint32_t, IC_COCKPIT_LIGHTS> lights{};
    for (size_t i = 0; i < lights.size(); ++i) lights[i] = SavedInst(cockpit->lights[i]);
    w.Tag(kCockpitOpen);
    w.Word(IC_SAVE_BLOCK_BYTES);
    w.Words(block.data(), block.size());
    w.Words(lights.data(), lights.size());
    w.Tag(kCockpitClose);
    return w.ok ? 1 : 0;
}

int ID_Save(QelFile* file) {
    const CockpitSystem* system = g_CockpitSystem;
    if (!system) return 0;
    const std::vector<uint32_t> ids = INS_CockpitIds(system);
    std::array<uint32_t, kHeaderWords> header = {static_cast<uint32_t>(ids.size()),
                                                 U(system->stateWords[0]),
                                                 U(system->stateWords[1]),
                                                 U(system->timeWarpFactor),
                                                 U(system->unitDisplay),
                                                 U(system->activeControl),
                                                 U(system->hudFont),
                                                 U(system->radarOn),
                                                 system->statusFlags,
                                                 U(system->crossHair)};
    Writer w{file};
    w.Tag(kOpen);
    w.Word(IC_SAVE_HEADER_BYTES);
    w.Words(header.data(), header.size());
    if (!w.ok) {
        Qel_ErrPrintf("ID_Save() writing the header failed\n");
        return 0;
    }
    for (uint32_t id : ids) {
        if (!IC_Save(INS_TableGet(system, id), file)) {
            Qel_ErrPrintf("ID_Save() IC_Save() failed for cockpit %d\n", static_cast<int32_t>(id));
            return 0;
        }
    }
    w.Tag(kClose);
    if (!w.ok) Qel_ErrPrintf("ID_Save() writing the end tag failed\n");
    return w.ok ? 1 : 0;
}

int ID_Load(QelFile* file) {
    CockpitSystem* system = g_CockpitSystem;
    if (!system) return 0;
    Reader r{file};
    if (!r.Tag(kOpen)) return Fail("ID_Load() Wrong INS cookie\n");
    uint32_t size = 0;
    std::array<uint32_t, kHeaderWords> header{};
    if (!r.Word(&size)) return Fail("ID_Load() the section ends early\n");
    if (size != IC_SAVE_HEADER_BYTES) return Fail("ID_Load() Wrong header size %u\n", size);
    if (!r.Words(header.data(), header.size())) return Fail("ID_Load() the section ends early\n");
    // Each record takes at least its tags, size, block and end tag; a count
    // the table could never hold is refused before anything is read for it.
    const uint32_t count = header[0];
    if (count > QEL_TABLE_MAX_KEY) return Fail("ID_Load() Wrong cockpit count %u\n", count);
    std::vector<SavedCockpit> saved;
    std::set<uint32_t> ids;
    for (uint32_t i = 0; i < count; ++i) {
        SavedCockpit one;
        if (!ReadCockpit(r, &one)) return false;
        if (!ids.insert(one.block[kId]).second) return Fail("ID_Load() cockpit %u saved twice\n", one.block[kId]);
        saved.push_back(std::move(one));
    }
    if (!r.Tag(kClose)) return Fail("ID_Load() Wrong /INS cookie\n");

    // Everything read is sound: the system takes it.
    INS_ClearAllCockpits(system);
    system->stateWords[0] = S(header[1]);
    system->stateWords[1] = S(header[2]);
    system->timeWarpFactor = S(header[3]);
    system->unitDisplay = S(header[4]);
    system->radarOn = S(header[7]);
    system->statusFlags = header[8];
    system->crossHair = S(header[9]);
    for (const SavedCockpit& one : saved) {
        auto* cockpit = Int_AllocRecord<Cockpit>(0);
        if (!cockpit) return Fail("ID_Load() no memory for cockpit %u\n", one.block[kId]);
        IC_InitCockpitScenes(cockpit);
        if (g_B3DState) IC_InitAllScenes(cockpit);
        cockpit->id = one.block[kId];
        AdoptCockpitScene(cockpit, one);
        ApplyBlock(cockpit, one.block);
        if (!Qel_TableSet(system->cockpits, cockpit->id, reinterpret_cast<uintptr_t>(cockpit))) {
            INS_DeleteCockpit(cockpit);
            return Fail("ID_Load() no memory for cockpit %u\n", one.block[kId]);
        }
    }
    // The active control cockpit names a cockpit the section brought, or none.
    system->activeControl = INS_TableGet(system, header[5]) ? S(header[5]) : 0;
    return 1;
}
