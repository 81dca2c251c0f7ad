// The small operations around the scene records: setters and getters,
// searches, tree walks, cut operations, icon lists, comparators and sorts,
// frees of small items, text and colour helpers, and 16.16 arithmetic.
#pragma once

#include <cstdint>

#include "base/fixmath.h"
#include "base/table.h"
#include "scene/cameras.h"
#include "scene/records.h"

struct B3DIconRow;
struct Body3D;
struct BodyGroup;
struct EBM;
struct B3DSkinRow;

// --- setters and getters ---
void B3D_InstSetPos(Inst3D* inst, int32_t x, int32_t y, int32_t z);
void B3D_InstCopyRot(const Inst3D* from, Inst3D* to);
void B3D_InstSetSizeUsed(Inst3D* inst, int32_t size);
void B3D_InstSetInvis(Inst3D* inst, int32_t on);
int32_t B3D_InstSetOverrideEffect(Inst3D* inst, int32_t code);
void B3D_InstSetAlphaOverride(Inst3D* inst, int32_t value);
void B3D_InstSetAlphaOverrideRecursive(Inst3D* inst, int32_t value);
void B3D_InstSetFlags(Inst3D* inst, uint32_t bits);
void B3D_InstSetFlags2(Inst3D* inst, uint32_t bits);
void B3D_InstClearFlags2(Inst3D* inst, uint32_t bits);
void B3D_InstSetFlagsRecursive(Inst3D* inst, uint32_t flags2Bits, uint32_t flagsBits);
void B3D_InstSetShown(Inst3D* inst, int32_t show);
void B3D_InstClearFrameMark(Inst3D* inst);
void B3D_InstSetMark(Inst3D* inst, int32_t value);
void B3D_InstSetColorModifier(Inst3D* inst, int32_t a, int32_t b, int32_t c, int32_t d);
// The three single-word setters of the colour modifier group: its first,
// second and fifth word (the fifth is the word after the group).
void B3D_InstSetColorModifierWord(Inst3D* inst, int32_t which, int32_t value);
void B3D_CameraSetViewPort(Camera3D* cam, int32_t a, int32_t b, int32_t c, int32_t d);
// The viewport in argument order.
void B3D_CameraGetViewPort(const Camera3D* cam, int32_t out[4]);
void B3D_SceneSetViewPort(Scene3D* scene, int32_t a, int32_t b, int32_t c, int32_t d);
void B3D_CameraSetFocus(Camera3D* cam, int32_t focus);
void B3D_CameraSetPri(Camera3D* cam, int32_t priority);
void B3D_CameraSetFadeValue(Camera3D* cam, int32_t value);
void B3D_CameraSetBackgroundColor(Camera3D* cam, int32_t r, int32_t g, int32_t b);
void B3D_CameraSetAspect(Camera3D* cam, int32_t x, int32_t y);
void B3D_CameraSetAspectRatio(Camera3D* cam, int32_t y);
void B3D_CameraSetFog(Camera3D* cam, int32_t a, int32_t b, int32_t c);
void B3D_SetFadeValue(int32_t value);

// --- searches ---
J3D_Cut* J3D_FindCut(int32_t id);
J3D_Cut* J3D_CutIsLoaded(int32_t id);
J3D_Take* J3D_TakeFind(QelTable* table, uint32_t key);
J3D_Take* J3D_TakeGet(uint32_t id);
int32_t J3D_CutFindPath(const J3D_Cut* cut, int32_t serial);
Inst3D* J3D_FindPathInst(Inst3D* inst, const J3D_Cut* cut, int32_t serial);
Inst3D* J3D_FindInstBySerial(Inst3D* inst, int32_t serial);
Inst3D* B3D_InstFindByBodyID(Scene3D* scene, Inst3D* start, int32_t bodyId);
B3DCameraItem* B3D_CameraFindItem(Camera3D* cam, int32_t key);
B3DSceneBufferGroup* B3D_ListFindItem(Scene3D* owner, int32_t key);
B3DSkinRow* B3D_SkinFind(int32_t id);
B3DIconRow* B3D_GetIconData(int32_t list, int32_t key);
// A table of a 16-bit count and records whose first word is a key and second a name.
struct J3D_KeyRecord {
    int32_t key;
    const char* name;
};
struct J3D_KeyTable {
    uint16_t count;
    J3D_KeyRecord* records;
};
J3D_KeyRecord* J3D_FindKeyRecord(const J3D_KeyTable* table, int32_t key);
J3D_KeyRecord* J3D_FindKeyRecordByName(const J3D_KeyTable* table, const char* name);
Inst3D* B3DB_InstFindByPathName(Inst3D* inst, const char* name);

// --- tree walks ---
void B3D_InstSetSceneRecursive(Inst3D* inst);
using B3D_InstFn = void (*)(Inst3D* inst, intptr_t a, intptr_t b);
void B3D_InstForTree(Inst3D* inst, B3D_InstFn fn, intptr_t a, intptr_t b);
Inst3D* B3D_InstNextInTree(Inst3D* inst, const Inst3D* root);

// --- cut operations ---
void J3D_GetPathPos(const J3D_Cut* cut, int32_t path, QelVector* out);
void J3D_SetCutPos(J3D_Cut* cut, const QelVector* pos, const QelMatrix* matrix);
void J3D_CutMarkMoved(J3D_Cut* cut);
void J3D_GetPathRot(const J3D_MotionKey* keys, int32_t index, QelMatrix* out);
void J3D_CutResetPos(J3D_Cut* cut);
int32_t J3D_CutFindMarkers(const J3D_Cut* cut, int32_t n, int32_t* start, int32_t* end, int32_t* loop);
int32_t J3D_CutGetLength(const J3D_CutPath* path);

// --- icons ---
B3DIconRow* B3D_IconTexMatrix(int32_t list, int32_t iconId, QelMatrix* out);
B3DIconRow* B3D_IconTexMatrixPart(int32_t list, int32_t iconId, int32_t dx, int32_t dy, int32_t fw, int32_t fh,
                                  QelMatrix* out);
void B3D_InstSetIcon(Inst3D* inst, int32_t list, int32_t iconId);
void B3D_InstSetIconType(Inst3D* inst, int32_t list, int32_t iconId, int32_t dx, int32_t dy, int32_t fw, int32_t fh);
void B3D_FreeIconLists();

// --- comparators (qsort style) and sorts ---
int B3D_CameraComparePri(const void* a, const void* b);
int B3D_CompareSecondWord(const void* a, const void* b);
void B3D_SortDrawList(const Camera3D* cam);

// --- other operations ---
void B3D_CameraCollectInsts(Inst3D* inst, Camera3D* camera);
void B3D_SceneFreeParticles(Scene3D* scene);
void B3D_SceneChooseSceneBuffers(Scene3D* scene);
void B3D_FreeStringTable(QelTable* table);
void B3D_FreeAllCameraItems();
B3DParticle* B3D_ParticleGet();
void B3D_ResetLightSlots();
void B3D_FreeArrayTable();
char* B3D_StrReassignN(char* old, const char* text, int32_t n);
int32_t B3D_TextWidth(const char* text);
uint32_t B3D_Rgb15To24(uint32_t rgb15);
uint32_t B3D_Rgb24To15(uint32_t rgb24);
void B3DB_FixCatalogs();
void S_3DInitSceneBuffer(Scene3D* scene);
void B3D_CameraSetCausticAnim(Camera3D* camera, int32_t textureId);
void B3D_SetBackgroundInfo(EBM* view);
void B3D_InstFreeBones(Inst3D* inst);
void B3D_FreeCameraItem(B3DCameraItem* item);
void B3D_FreeCameraItems(Scene3D* scene, int32_t key);
void B3D_SceneClearFrameMarks(Scene3D* scene);
void B3D_SetGammaValue(int32_t value);

void B3D_FreeSceneBufferGroup(B3DSceneBufferGroup* group);
void B3D_FreeInstSceneBuffers(int32_t key);
void B3D_SceneFreeSceneBuffers(Scene3D* scene);
// Before a device reset: every scene's particle buffer and scene-buffer entries
// go (the renderer reaches this through g_S3DReleaseSceneBuffersHook).
void B3D_ReleaseRendererBuffers();
int32_t B3D_SkinMapTexture(int32_t textureId, int32_t skinType);
// The 16-bit base texture id of a triangle group's material: a negative
// (animated) material number as it stands; for a body without version-6
// materials the texture number of its "Materials" definition; else the
// material's base texture, or for an effect material the texture of its
// diffuse slot (0 without one).
uint16_t B3D_GroupBaseTexture(const BodyGroup* group, const Body3D* body);
void B3D_InstSetScreenPlacement(Inst3D* inst, int32_t x, int32_t y, int32_t width);
void B3D_FreeSkinTable();
void B3D_FreeParticleLists();
int32_t B3D_PointLineDistance(const QelVector* a, const QelVector* b, const QelVector* p);
void B3D_ReleaseDrawItems();
void B3D_FreeFacingNode(B3DFacingNode* node);
// Sizes the cut reader's six key arrays for 100 keys each; a failure ends
// the program (exit reason 3).
void J3D_InitCutBuffers();
// Bytes of one key of a track.
int32_t J3D_KeySize(int32_t track);

// --- arithmetic ---
int32_t B3D_FixSqrt(int32_t v);
int32_t B3D_MulDiv(int32_t a, int32_t b, int32_t c);
int32_t B3D_FixDiv(int32_t a, int32_t b);
int32_t B3D_FixDot(const QelVector* a, const QelVector* b);
float B3D_DistanceSquaredF(const QelVector* a, const QelVector* b);
float B3D_LengthSquaredF(const QelVector* v);
int32_t B3D_LengthF(const QelVector* v);
float B3D_Lerp(float a, float b, float t);
int32_t B3D_Max(int32_t a, int32_t b);
int32_t B3D_Min(int32_t a, int32_t b);
int32_t B3D_Positive(int32_t x);
int32_t B3D_Abs(int32_t x);
int32_t B3D_FixArcSin(int32_t v);
int32_t B3D_VecMaxAbs(const QelVector* v);
int32_t B3D_VecMaxAbsDiff(const QelVector* a, const QelVector* b);
int32_t B3D_VecLength(const QelVector* v);
int32_t B3D_VecDistance(const QelVector* a, const QelVector* b);
void B3D_NormVectorToOne(QelVector* v);
void B3D_NormVectorToLength(QelVector* v, int32_t length);
