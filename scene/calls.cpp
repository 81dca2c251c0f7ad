#include "scene/calls.h"

#include <string>

#include "base/ebm.h"
#include "base/fixmath.h"
#include "base/fonts.h"
#include "base/log.h"
#include "base/strings.h"
#include "base/texanim.h"
#include "render/lights.h"
#include "scene/allocs.h"
#include "scene/caches.h"
#include "scene/dummies.h"
#include "scene/freeing.h"
#include "scene/geometry.h"
#include "scene/instcoll.h"
#include "scene/jobs.h"
#include "scene/lists.h"
#include "scene/names.h"
#include "scene/recorder.h"
#include "scene/records.h"
#include "scene/replay.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/takes.h"
#include "scene/texdraw.h"
#include "scene/trees.h"
#include "script/arrays.h"
#include "script/builtins_args.h"
#include "script/lookup.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "system/video.h"

namespace {

const char* const s_callNames[B3D_CALL_COUNT + 1] = {
    "B3D_InstAlloc",                      // 0
    "B3D_LightAlloc",                     // 1
    "B3D_InstFree",                       // 2
    "B3D_InstSetBody",                    // 3
    "B3D_LightFree",                      // 4
    "B3D_CameraAlloc",                    // 5
    "B3D_CameraFree",                     // 6
    "B3D_SceneAlloc",                     // 7
    "B3D_SceneClear",                     // 8
    "B3D_SceneFree",                      // 9
    "B3D_SceneEnable",                    // 10
    "B3D_SceneDisable",                   // 11
    "B3D_InstAddToScene",                 // 12
    "B3D_InstDeleteFromScene",            // 13
    "B3D_LightAddToScene",                // 14
    "B3D_LightDeleteFromScene",           // 15
    "B3D_CameraAddToScene",               // 16
    "B3D_CameraDeleteFromScene",          // 17
    "B3D_InstAddToInst",                  // 18
    "B3D_SetEngineFlags",                 // 19
    "B3D_ClearEngineFlags",               // 20
    "B3D_GetEngineFlags",                 // 21
    "B3D_InstSetPos",                     // 22
    "B3D_InstSetRot",                     // 23
    "B3D_InstCopyRot",                    // 24
    "B3D_LightSetPos",                    // 25
    "B3D_LightSetColor",                  // 26
    "B3D_LightSetRange",                  // 27
    "B3D_LightSetParameters",             // 28
    "B3D_LightSetAttenuation",            // 29
    "B3D_SceneGetCamera",                 // 30
    "B3D_InstSetSize",                    // 31
    "B3D_InstSetScale",                   // 32
    "B3D_InstSetOverrideEffect",          // 33
    "B3D_InstSetOverrideEffectPar",       // 34
    "B3D_InstSetAlphaOverride",           // 35
    "B3D_InstSetAlphaOverrideRecursive",  // 36
    "B3D_InstSetInvis",                   // 37
    "B3D_InstSetSizeUsed",                // 38
    "B3D_InstGetFlags",                   // 39
    "B3D_InstGetFlags2",                  // 40
    "B3D_InstSetFlags",                   // 41
    "B3D_InstSetFlags2",                  // 42
    "B3D_GetTextureID",                   // 43
    "B3D_InstSetAnimTextureIndex",        // 44
    "B3D_InstSetAnimTextureCoords",       // 45
    "B3D_InstSetPass",                    // 46
    "B3D_InstFindByBodyID",               // 47
    "B3D_InstFind",                       // 48
    "B3D_SceneSetViewPort",               // 49
    "B3D_SceneSetFlags",                  // 50
    "B3D_SceneGetFlags",                  // 51
    "B3D_FreeAllBodies",                  // 52
    "B3D_CameraSetViewPort",              // 53
    "B3D_CameraGetViewPort",              // 54
    "B3D_CameraGetFlags",                 // 55
    "B3D_CameraSetFlags",                 // 56
    "B3D_CameraSetPri",                   // 57
    "B3D_CameraSetFocus",                 // 58
    "B3D_CameraGetFocus",                 // 59
    "B3D_CameraSetBackgroundColor",       // 60
    "B3D_CameraSetAspectRatio",           // 61
    "B3D_CameraSetAspect",                // 62
    "B3D_CameraSetFog",                   // 63
    "B3D_CameraSetCausticAnim",           // 64
    "B3D_CameraSetFadeValue",             // 65
    "B3D_CameraSetEnvironmentSource",     // 66
    "B3D_SceneSetSystemScale",            // 67
    "B3D_InstSetName",                    // 68
    "B3D_InstMakeCollBox",                // 69
    "B3D_InstGetSize",                    // 70
    "B3D_InstGetTotalSize",               // 71
    "B3D_InstGetBody",                    // 72
    "B3D_InstGetPos",                     // 73
    "B3D_InstGetAbsPos",                  // 74
    "B3D_InstGetZDir",                    // 75
    "B3D_InstGetAbsZDir",                 // 76
    "B3D_FindBody",                       // 77
    "B3D_MemStatistics",                  // 78
    "B3D_InitRecording",                  // 79
    "B3D_ExitRecording",                  // 80
    "B3D_InitReplay",                     // 81
    "B3D_ExitReplay",                     // 82
    "B3D_SetFlags",                       // 83
    "B3D_GetFlags",                       // 84
    "B3D_TexRectFill",                    // 85
    "B3D_TexTextBlock",                   // 86
    "B3D_TexNearestPen",                  // 87
    "B3D_TexTextWidth",                   // 88
    "B3D_TexTextHeight",                  // 89
    "B3D_TexTextBlockHeight",             // 90
    "B3D_TexSetTextBGColor",              // 91
    "B3D_TexGetTextArray",                // 92
    "B3D_TexGetWidth",                    // 93
    "B3D_TexGetHeight",                   // 94
    "B3D_SceneSetName",                   // 95
    "B3D_TexLine",                        // 96
    "B3D_TexBltBlock",                    // 97
    "B3D_TexBltBlockAlpha",               // 98
    "B3D_TexBltTiles",                    // 99
    "B3D_TexBltTilesAlpha",               // 100
    "B3D_TexBltImage",                    // 101
    "B3D_OpenFont",                       // 102
    "B3D_DisableAllObjects3D",            // 103
    "B3D_EnableAllObjects3D",             // 104
    "B3D_ScreenGetWidth",                 // 105
    "B3D_ScreenGetHeight",                // 106
    "B3D_ScreenGetAspectX",               // 107
    "B3D_ScreenGetAspectY",               // 108
    "B3D_ScreenGetBorderX",               // 109
    "B3D_ScreenGetBorderY",               // 110
    "B3D_SetFadeValue",                   // 111
    "B3D_TexCircle",                      // 112
    "B3D_TexCircleFill",                  // 113
    "B3D_SetShadowAlpha",                 // 114
    "B3D_InstGetChildren",                // 115
    "B3D_InstDistanceToNearestVertex",    // 116
    "B3D_GetGammaValue",                  // 117
    "B3D_SetGammaValue",                  // 118
    "B3D_SetFovValue",                    // 119
    "B3D_ReloadStaticData",               // 120
    "B3D_DumpUsedBodies",                 // 121
    "B3D_GetBodyID",                      // 122
    "B3D_GetCutID",                       // 123
    "B3D_GetBodyFilename",                // 124
    "B3D_GetCutFilename",                 // 125
    "B3D_InstGetPathNr",                  // 126
    "B3D_GetIconData",                    // 127
    "B3D_InstSetIcon",                    // 128
    "B3D_InstSetColorModifier",           // 129
    "B3D_InstGetScale",                   // 130
    "B3D_TexTextBlockCentered",           // 131
    "B3D_InstGetCollCenterX",             // 132
    "B3D_InstGetCollCenterY",             // 133
    "B3D_InstGetCollCenterZ",             // 134
    "J3D_GetNumPaths",                    // 135
    "J3D_GetPathBody",                    // 136
    "J3D_GetPathCut",                     // 137
    "J3D_GetPathSerial",                  // 138
    "J3D_GetPathFather",                  // 139
    "J3D_GetPathFlags",                   // 140
    "J3D_GetPathPosAndRot",               // 141
    "J3D_GetPathName",                    // 142
    "J3D_JobStart",                       // 143
    "J3D_JobStartS",                      // 144
    "J3D_JobStop",                        // 145
    "J3D_JobGetRemainingTime",            // 146
    "J3D_PathFind",                       // 147
    "J3D_LoadCut",                        // 148
    "J3D_FreeCut",                        // 149
    "J3D_SetCutPos",                      // 150
    "J3D_TakeAlloc",                      // 151
    "J3D_TakeStart",                      // 152
    "J3D_TakeStop",                       // 153
    "J3D_TakeFree",                       // 154
    "J3D_JobPlay",                        // 155
    "J3D_JobPlayS",                       // 156
    nullptr,
};

// ------------------------------------------------------------------ the call frame

// One call: its arguments (read only below the count) and its answers.
struct Call {
    int32_t module;
    SE_Task* task;
    int32_t argc;
    const ScriptValue* args;

    int32_t Int(int32_t i) const { return SE_ArgInt(args, argc, i); }
    const char* Text(int32_t i) const { return SE_ArgText(args, argc, i); }
    const ScriptValue* Value(int32_t i) const { return SE_ArgValue(args, argc, i); }

    Inst3D* Inst(int32_t i) const { return B3D_InstFind(static_cast<uint32_t>(Int(i))); }
    Camera3D* Camera(int32_t i) const {
        Inst3D* inst = Inst(i);
        return inst && (inst->flags & INST_CAMERA) ? reinterpret_cast<Camera3D*>(inst) : nullptr;
    }
    Scene3D* Scene(int32_t i) const { return B3D_SceneFind(static_cast<uint32_t>(Int(i))); }

    int32_t Answer(int32_t n) const { return SE_AnswerInt(g_SEContext, task, n); }
    int32_t AnswerText(const char* text) const { return SE_AnswerText(g_SEContext, task, text); }
    int32_t AnswerInts(const int32_t* words, int32_t n) const {
        ScriptValue v{};
        if (!SV_ArrayAlloc(&v, n)) return Answer(0);
        for (int32_t k = 0; k < n; ++k) SV_ArrayWriteInt(&v, k, words[k]);
        return SE_AnswerMove(g_SEContext, task, &v);
    }
    int32_t AnswerVector(const QelVector& v) const {
        const int32_t words[3] = {v.x, v.y, v.z};
        return AnswerInts(words, 3);
    }

    // The script position of the calling task, for the missing-id messages.
    const char* Where() const {
        if (task && g_SEContext) {
            static char buffer[64];
            SE_GetTaskDebugAddress(buffer, task, g_SEContext);
            if (buffer[0]) return buffer;
        }
        return SE_GetCurrentDebugAddress();
    }
};

#define B3D_MISSING(c, fmt, ...) Qel_BannerPrintf(fmt, (c).Where(), __VA_ARGS__)

// Passes a light change on to the renderer while the light is in it.
void UpdateLight(Inst3D* light) {
    if (light->rendererLight) S_3DUpdateLight(light);
}

// The instance's material overrides, made as one record for the texture when
// it has none; null when they cannot be made.
TC_Material* Overrides(Inst3D* inst, int32_t textureId) {
    if (!inst->materialOverrides || inst->materialOverrideCount <= 0) {
        if (inst->materialOverrides) return nullptr;
        inst->materialOverrides = Qel_NewTextureMaterial(textureId);
        if (!inst->materialOverrides) return nullptr;
        inst->flags2 |= INST2_EXTRA_TEXMATRIX;
        inst->materialOverrideCount = 1;
    }
    return static_cast<TC_Material*>(inst->materialOverrides);
}

// Applies light type `index` (0 to 999) to a light.
void LightSetParameters(Inst3D* light, int32_t index) {
    if (index < 0 || index >= B3D_LIGHT_TYPES) return;
    const B3DLightType& t = g_B3DState->lightTypes[index];
    if (t.kind == 1) light->flags |= INST_DIRECTIONAL_LIGHT;
    if (t.kind == 2) light->flags |= INST_POINT_LIGHT;
    if (t.kind == 3) light->flags |= INST_SPOT_LIGHT;
    if (t.value > 0) {
        light->flags |= INST_LIGHT_VALUE;
        light->lightValue = t.value;
    }
    if (t.switchWord > 0) light->flags |= INST_LIGHT_SECOND;
    light->lightColor[0] = t.red;
    light->lightColor[1] = t.green;
    light->lightColor[2] = t.blue;
    UpdateLight(light);
}

// The path of a cut by index, null outside 0..count-1.
const J3D_CutPath* PathAt(const J3D_Cut* cut, int32_t index) {
    if (!cut || !cut->paths || index < 0 || index >= cut->pathCount) return nullptr;
    return &cut->paths[index];
}

// The display record's bitmap, null without a display.
const EBM* Display() { return g_VideoRecord ? g_VideoRecord->VideoEBM : nullptr; }

// Call 141: the path's position at time t (between two keys, as the path job
// places it) and the rotation of its rotation key at t, as x, y, z and the
// three angles that B3D_InstSetPos and B3D_InstSetRot take.
int32_t PathPosAndRot(const J3D_CutPath* path, int32_t t, int32_t out[6]) {
    QelVector pos{};
    if (path->posCount > 0 && path->posKeys) {
        const J3D_MotionKey* keys = path->posKeys;
        const int32_t k = J3D_FindKey(keys, sizeof(J3D_MotionKey), path->posCount, t);
        if (k + 1 < path->posCount && t > keys[k].time && t < keys[k + 1].time) J3D_InterpolatePos(t, keys, k, &pos);
        else pos = {keys[k].value[0], keys[k].value[1], keys[k].value[2], 0};
    }
    QelMatrix m{};
    Qel_MatFromAngles(&m, 0, 0, 0);
    if (path->rotCount > 0 && path->rotKeys)
        J3D_GetPathRot(path->rotKeys, J3D_FindKey(path->rotKeys, sizeof(J3D_MotionKey), path->rotCount, t), &m);
    out[0] = pos.x;
    out[1] = pos.y;
    out[2] = pos.z;
    Qel_AnglesFromMat(&m, &out[3], &out[4], &out[5]);
    return 1;
}

// Calls 143, 144, 155 and 156: a path job on the last path of the cut whose
// body id (or serial) is the third argument; the task waits for its end.
int32_t JobStart(const Call& c, bool bySerial, bool withTimes) {
    Inst3D* inst = c.Inst(0);
    if (!inst) return c.Answer(0);
    J3D_Cut* cut = J3D_GetCut(c.Int(1));
    if (!cut || !cut->paths) return c.Answer(0);
    const int32_t key = c.Int(2);
    int32_t index = -1;
    for (int32_t i = cut->pathCount - 1; i >= 0 && index < 0; --i) {
        const J3D_CutPath& p = cut->paths[i];
        if (bySerial ? p.pathNr == key : ((p.flags & PATH_BODY) && p.reference == key)) index = i;
    }
    if (index < 0) return c.Answer(0);
    const int32_t from = withTimes ? c.Int(3) : 0;
    const int32_t to = withTimes ? c.Int(4) : 0;
    if (!J3D_JobStartInst(inst, from, index, cut, to, 0)) return c.Answer(0);
    // A job stopped at its start never ends: the caller must not wait for it.
    if ((inst->jobFlags & JOB_STOPPED) || !c.task) return c.Answer(11);
    inst->jobFlags |= JOB_WAITING;
    inst->replyModule = c.module;
    inst->replyHandle = static_cast<int32_t>(c.task->id);
    return 1;
}

// Call 152: take, cut, scene and an optional camera; the task waits for the
// take's end.
int32_t TakeStart(const Call& c) {
    if (c.argc != 3 && c.argc != 4) return c.Answer(0);
    Camera3D* camera = nullptr;
    if (c.argc == 4) {
        camera = c.Camera(3);
        if (!camera) {
            B3D_MISSING(c, "J3D_TakeStart: (%s) Camera not found %d\n", c.Int(3));
            return c.Answer(0);
        }
    }
    J3D_Take* take = J3D_TakeFind(static_cast<uint32_t>(c.Int(0)));
    if (!take) {
        B3D_MISSING(c, "J3D_TakeStart: (%s) take not found %d\n", c.Int(0));
        return c.Answer(0);
    }
    J3D_Cut* cut = J3D_GetCut(c.Int(1));
    if (!cut) {
        B3D_MISSING(c, "J3D_TakeStart: (%s) cut not found %d\n", c.Int(1));
        return c.Answer(0);
    }
    Scene3D* scene = c.Scene(2);
    if (!scene) {
        B3D_MISSING(c, "J3D_TakeStart: (%s) scene not found %d\n", c.Int(2));
        return c.Answer(0);
    }
    if (!J3D_TakeStartInScene(take, cut, scene, camera) || !c.task) return c.Answer(0);
    take->replyModule = c.module;
    take->replyHandle = static_cast<int32_t>(c.task->id);
    return 1;
}

// The calls on instances, lights and cameras (0 to 76, 115 to 134).
int32_t InstanceCall(const Call& c, int32_t call) {
    switch (call) {
        case 0: {
            Inst3D* inst = B3D_AllocInst();
            return c.Answer(inst ? static_cast<int32_t>(inst->id) : 0);
        }
        case 1: {
            Inst3D* light = B3D_LightAlloc();
            return c.Answer(light ? static_cast<int32_t>(light->id) : 0);
        }
        case 2:
        case 4: {
            Inst3D* inst = c.Inst(0);
            if (!inst) {
                if (call == 2) B3D_MISSING(c, "Nonexisting instance freed (%s) inst:%d!\n", c.Int(0));
                else B3D_MISSING(c, "Nonexisting instance LightFree! (%s) inst: %d !\n", c.Int(0));
                return c.Answer(0);
            }
            B3D_InstFree(inst);
            return c.Answer(0);
        }
        case 5: {
            Camera3D* cam = B3D_CameraAlloc();
            return c.Answer(cam ? static_cast<int32_t>(cam->inst.id) : 0);
        }
        case 6: {
            Camera3D* cam = c.Camera(0);
            if (!cam) {
                B3D_MISSING(c, "Nonexisting instance CamFree! (%s) inst: %d !\n", c.Int(0));
                return c.Answer(0);
            }
            B3D_CameraFree(cam);
            return c.Answer(0);
        }
        case 7: {
            Scene3D* scene = B3D_SceneAlloc();
            return c.Answer(scene ? static_cast<int32_t>(scene->id) : 0);
        }
        case 8:
        case 9:
        case 10:
        case 11: {
            Scene3D* scene = c.Scene(0);
            if (!scene) return c.Answer(0);
            if (call == 8) B3D_SceneClear(scene);
            if (call == 9) B3D_SceneFree(scene);
            if (call == 10) B3D_SceneEnable(scene);
            if (call == 11) B3D_SceneDisableInsts(scene);
            return c.Answer(0);
        }
        case 3: {
            Inst3D* inst = c.Inst(0);
            if (!inst) {
                B3D_MISSING(c, "Nonexisting instance SetBody! (%s) inst: %d body: %d!\n", c.Int(0), c.Int(1));
                return c.Answer(0);
            }
            return c.Answer(B3D_InstSetBody(inst, c.Int(1)));
        }
        case 12:
        case 14:
        case 13:
        case 15: {
            Inst3D* inst = c.Inst(0);
            Scene3D* scene = c.Scene(1);
            if (!inst || !scene) {
                if (call == 12 || call == 14)
                    B3D_MISSING(c, "Nonexisting instance or scene: (%s) InstAddToScene: inst:%d scene:%d\n", c.Int(0),
                                c.Int(1));
                else
                    B3D_MISSING(c, "Nonexisting instance or scene: (%s) InstDeleteFromScene: inst:%d scene:%d\n",
                                c.Int(0), c.Int(1));
                return c.Answer(0);
            }
            if (call == 12 || call == 14) B3D_InstAddToScene(inst, scene);
            else B3D_InstDeleteFromScene(inst, scene);
            return c.Answer(0);
        }
        case 18: {
            Inst3D* child = c.Inst(0);
            Inst3D* parent = c.Inst(1);
            if (!child || !parent) {
                B3D_MISSING(c, "Nonexisting instance: (%s) AddtoInst: inst1:%d inst2:%d\n", c.Int(0), c.Int(1));
                return c.Answer(0);
            }
            B3D_InstAddToInst(child, parent);
            return c.Answer(0);
        }
        case 16:
        case 17: {
            Camera3D* cam = c.Camera(0);
            Scene3D* scene = c.Scene(1);
            if (!cam || !scene) {
                if (call == 16)
                    B3D_MISSING(c, "Nonexisting instance or scene: (%s) CamAddToScene: inst:%d scene:%d\n", c.Int(0),
                                c.Int(1));
                else
                    B3D_MISSING(c, "Nonexisting instance or scene: (%s) CamDeleteFromScene: inst:%d scene:%d\n",
                                c.Int(0), c.Int(1));
                return c.Answer(0);
            }
            if (call == 16) B3D_SceneLinkInst(scene, cam);
            else if (cam->inst.scene == scene) B3D_CameraDeleteFromScene(cam);
            return c.Answer(0);
        }
        case 22: {
            Inst3D* inst = c.Inst(0);
            if (!inst) {
                B3D_MISSING(c, "Nonexisting instance: (%s) InstSetPos: inst:%d\n", c.Int(0));
                return c.Answer(0);
            }
            B3D_InstSetPos(inst, c.Int(1), c.Int(2), c.Int(3));
            return c.Answer(0);
        }
        case 23: {
            Inst3D* inst = c.Inst(0);
            if (!inst) {
                B3D_MISSING(c, "Nonexisting instance: (%s) InstSetRot: inst:%d \n", c.Int(0));
                return c.Answer(0);
            }
            B3D_MatrixFromAngles(inst, c.Int(1), c.Int(2), c.Int(3));
            return c.Answer(0);
        }
        case 24: {
            Inst3D* to = c.Inst(0);
            if (!to) {
                B3D_MISSING(c, "Nonexisting instance1: (%s) InstCopyRot: inst:%d \n", c.Int(0));
                return c.Answer(0);
            }
            const Inst3D* from = c.Inst(1);
            if (!from) {
                B3D_MISSING(c, "Nonexisting instance2: (%s) InstCopyRot: inst:%d \n", c.Int(1));
                return c.Answer(0);
            }
            B3D_InstCopyRot(from, to);
            return c.Answer(0);
        }
        case 25:
        case 26:
        case 27:
        case 28:
        case 29: {
            Inst3D* light = c.Inst(0);
            if (!light) {
                if (call == 25) B3D_MISSING(c, "Nonexisting instance: (%s) SetPos: inst:%d\n", c.Int(0));
                if (call == 26) B3D_MISSING(c, "Nonexisting instance: (%s) LightSetColor: inst:%d\n", c.Int(0));
                if (call == 27) B3D_MISSING(c, "Nonexisting instance: (%s) SetRange: inst:%d\n", c.Int(0));
                return c.Answer(0);
            }
            if (call == 25) B3D_InstSetPos(light, c.Int(1), c.Int(2), c.Int(3));
            if (call == 26)
                for (int32_t k = 0; k < 3; ++k) light->lightColor[k] = static_cast<uint16_t>(c.Int(1 + k));
            if (call == 27) light->lightRange = c.Int(1);
            if (call == 29)
                for (int32_t k = 0; k < 3; ++k) light->lightAtten[k] = c.Int(1 + k);
            if (call == 28) LightSetParameters(light, c.Int(1));
            else UpdateLight(light);
            return c.Answer(0);
        }
        case 31: {
            Inst3D* inst = c.Inst(0);
            if (!inst) {
                B3D_MISSING(c, "Nonexisting instance SetSize! (%s) inst: %d size: %d!\n", c.Int(0), c.Int(1));
                return c.Answer(0);
            }
            B3D_InstSetSize(inst, c.Int(1));
            return c.Answer(0);
        }
        case 32: {
            Inst3D* inst = c.Inst(0);
            if (!inst) {
                B3D_MISSING(c, "Nonexisting instance SetScale! (%s) inst: %d scale: %08x/%08x/%08x!\n", c.Int(0),
                            static_cast<unsigned>(c.Int(1)), static_cast<unsigned>(c.Int(2)),
                            static_cast<unsigned>(c.Int(3)));
                return c.Answer(0);
            }
            B3D_InstSetScale(inst, c.Int(1), c.Int(2), c.Int(3));
            return c.Answer(0);
        }
        case 38: {
            Inst3D* inst = c.Inst(0);
            if (!inst) {
                B3D_MISSING(c, "Nonexisting instance: (%s) SetSizeUsed: inst:%d\n", c.Int(0));
                return c.Answer(0);
            }
            B3D_InstSetSizeUsed(inst, c.Int(1));
            return c.Answer(0);
        }
        case 128: {
            Inst3D* inst = c.Inst(0);
            if (!inst) {
                Qel_BannerPrintf("Attempted to set icon type %d ID %d on nonexisting inst %d\n", c.Int(1), c.Int(2),
                                 c.Int(0));
                return c.Answer(0);
            }
            // The plain icon unless the caller names a part of it.
            if (c.argc > 3) B3D_InstSetIconType(inst, c.Int(1), c.Int(2), c.Int(3), c.Int(4), c.Int(5), c.Int(6));
            else B3D_InstSetIcon(inst, c.Int(1), c.Int(2));
            return c.Answer(0);
        }
        case 130: {
            Inst3D* inst = c.Inst(0);
            if (!inst) {
                Qel_BannerPrintf("Attempted to retrieve scale of nonexisting inst %d\n", c.Int(0));
                return c.Answer(0);
            }
            return c.AnswerVector(inst->scale);
        }
        default: break;
    }

    // The rest answer 0 for a missing id without a message.
    Inst3D* inst = c.Inst(0);
    if (!inst) return c.Answer(0);
    Camera3D* cam = (inst->flags & INST_CAMERA) ? reinterpret_cast<Camera3D*>(inst) : nullptr;
    switch (call) {
        case 33: return c.Answer(B3D_InstSetOverrideEffect(inst, c.Int(1)));
        case 34: return c.Answer(1);
        case 35: B3D_InstSetAlphaOverride(inst, c.Int(1)); return c.Answer(inst->alphaOverride);
        case 36: B3D_InstSetAlphaOverrideRecursive(inst, c.Int(1)); return c.Answer(0);
        case 37: B3D_InstSetInvis(inst, c.Int(1)); return c.Answer(0);
        case 39: return c.Answer(static_cast<int32_t>(inst->flags));
        case 40: return c.Answer(static_cast<int32_t>(inst->flags2));
        case 41:
            // A camera bit set on an instance would have it freed as the larger camera record.
            inst->flags = (static_cast<uint32_t>(c.Int(1)) & ~INST_RECORD_KIND) | (inst->flags & INST_RECORD_KIND);
            return c.Answer(0);
        case 42: inst->flags2 = static_cast<uint32_t>(c.Int(1)); return c.Answer(0);
        case 44: {  // instance, frame, animation, texture of a new override
            auto* m = Overrides(inst, c.Int(3));
            if (!m) return c.Answer(0);
            return c.Answer(TC_AnimSetIndex(0, inst->materialOverrideCount, m, c.Int(2), c.Int(1)));
        }
        case 45: {  // instance, u, v, texture of a new override
            auto* m = Overrides(inst, c.Int(3));
            if (!m) return c.Answer(0);
            for (int32_t k = 0; k < inst->materialOverrideCount; ++k) Qel_TexMatrixTranslate(&m[k], c.Int(1), c.Int(2));
            return c.Answer(0);
        }
        case 46: inst->pass = c.Int(1); return c.Answer(0);
        case 66:
            if (cam) cam->environmentSource = c.Inst(1);
            return c.Answer(0);
        case 68: inst->name = Qel_StrReassign(inst->name, c.Text(1)); return c.Answer(0);
        case 69: return c.Answer(B3D_CollBuildModel(inst, c.Int(1)));
        case 70: return c.Answer(inst->radius);
        case 71: return c.Answer(B3D_InstGetTotalSize(inst));
        case 72: return c.Answer(inst->bodyId);
        case 73: return c.AnswerVector(inst->pos);
        case 74: {
            QelVector v{};
            B3D_InstGetAbsPos(inst, &v);
            return c.AnswerVector(v);
        }
        case 75: {
            const int32_t words[3] = {inst->matrix.m[8], inst->matrix.m[9], inst->matrix.m[10]};
            return c.AnswerInts(words, 3);
        }
        case 76: {
            QelMatrix m{};
            B3D_InstGetAbsMatrix(inst, &m);
            const int32_t words[3] = {m.m[8], m.m[9], m.m[10]};
            return c.AnswerInts(words, 3);
        }
        case 115: {
            int32_t n = 0;
            for (B3DListNode* k = B3D_ListFirst(&inst->children); k; k = B3D_ListNext(k)) ++n;
            ScriptValue v{};
            if (!SV_ArrayAlloc(&v, n)) return c.Answer(0);
            int32_t i = 0;
            for (B3DListNode* k = B3D_ListFirst(&inst->children); k; k = B3D_ListNext(k))
                SV_ArrayWriteInt(&v, i++, static_cast<int32_t>(reinterpret_cast<Inst3D*>(k)->id));
            return SE_AnswerMove(g_SEContext, c.task, &v);
        }
        case 116: {
            const QelVector point{c.Int(1), c.Int(2), c.Int(3), 0};
            return c.Answer(B3D_InstDistanceToNearestVertex(inst, &point, c.Int(4)));
        }
        case 126: return c.Answer(inst->pathNr);
        case 129: B3D_InstSetColorModifier(inst, c.Int(1), c.Int(2), c.Int(3), c.Int(4)); return c.Answer(0);
        case 132: return c.Answer(inst->contact[0]);
        case 133: return c.Answer(inst->contact[1]);
        case 134: return c.Answer(inst->contact[2]);
        default: break;
    }

    // Camera calls: an instance that is no camera answers 0.
    if (!cam) return c.Answer(0);
    switch (call) {
        case 53: B3D_CameraSetViewPort(cam, c.Int(1), c.Int(2), c.Int(3), c.Int(4)); return c.Answer(0);
        case 54: {
            int32_t words[4] = {};
            B3D_CameraGetViewPort(cam, words);
            return c.AnswerInts(words, 4);
        }
        case 55: return c.Answer(static_cast<int32_t>(cam->camFlags));
        case 56: cam->camFlags = static_cast<uint32_t>(c.Int(1)); return c.Answer(0);
        case 57: B3D_CameraSetPri(cam, c.Int(1)); return c.Answer(0);
        case 58: B3D_CameraSetFocus(cam, c.Int(1)); return c.Answer(0);
        case 59: return c.Answer(cam->focus);
        case 60: B3D_CameraSetBackgroundColor(cam, c.Int(1), c.Int(2), c.Int(3)); return c.Answer(0);
        case 61: B3D_CameraSetAspectRatio(cam, c.Int(1)); return c.Answer(0);
        case 62: B3D_CameraSetAspect(cam, c.Int(1), c.Int(2)); return c.Answer(0);
        case 63: B3D_CameraSetFog(cam, c.Int(1), c.Int(2), c.Int(3)); return c.Answer(0);
        case 64: B3D_CameraSetCausticAnim(cam, c.Int(1)); return c.Answer(0);
        case 65: B3D_CameraSetFadeValue(cam, c.Int(1)); return c.Answer(0);
        default: return c.Answer(0);
    }
}

// The calls on scenes (30, 47 to 51, 67, 95).
int32_t SceneCall(const Call& c, int32_t call) {
    Scene3D* scene = c.Scene(0);
    if (!scene) return c.Answer(0);
    switch (call) {
        case 30: return c.Answer(static_cast<int32_t>(B3D_SceneGetCamera(scene)));
        case 47: {
            // The search goes on after the instance given third, when there is one.
            Inst3D* found = B3D_InstFindByBodyID(scene, c.Inst(2), c.Int(1));
            return c.Answer(found ? static_cast<int32_t>(found->id) : 0);
        }
        case 48: {
            Inst3D* inst = c.Inst(1);
            return c.Answer(inst ? static_cast<int32_t>(inst->id) : 0);
        }
        case 49: B3D_SceneSetViewPort(scene, c.Int(1), c.Int(2), c.Int(3), c.Int(4)); return c.Answer(0);
        case 50: scene->flags = static_cast<uint32_t>(c.Int(1)); return c.Answer(0);
        case 51: return c.Answer(static_cast<int32_t>(scene->flags));
        case 67: {
            const ScriptValue* v = c.Value(1);
            scene->systemScale = v->tag == VARTYPE_FLOAT ? static_cast<float>(v->f) : static_cast<float>(v->i);
            return c.Answer(0);
        }
        case 95: scene->name = Qel_StrReassign(scene->name, c.Text(1)); return c.Answer(0);
        default: return c.Answer(0);
    }
}

// The texture drawing and font calls (85 to 102, 112, 113, 131).
int32_t TextureCall(const Call& c, int32_t call) {
    switch (call) {
        case 85: return c.Answer(B3D_TexRectFill(c.Int(0), c.Int(1), c.Int(2), c.Int(3), c.Int(4), c.Int(5)));
        case 86:  // texture, text, font, x, y, width, height, colour, style
            if (!c.Text(1)) return c.Answer(0);
            return c.Answer(B3D_TexTextBox(c.Int(0), c.Text(1), c.Int(2), c.Int(3), c.Int(4), c.Int(5), c.Int(6),
                                           static_cast<uint32_t>(c.Int(7)), static_cast<uint32_t>(c.Int(8))));
        case 87: return c.Answer(c.Int(1));
        // Measured in the style the font draws in.
        case 88: return c.Answer(c.Text(1) ? B3D_TexTextWidth(c.Int(0), B3D_TexFontStyle(c.Int(0), 0), c.Text(1)) : 0);
        case 89: return c.Answer(B3D_TexTextHeight(c.Int(0), B3D_TexFontStyle(c.Int(0), 0)));
        case 90:  // font, text, width and, for a width of 0 or less, the texture it is added to
            return c.Answer(c.Text(1) ? B3D_TexTextBlockHeight(c.Int(0), c.Text(1), c.Int(2), c.Int(3)) : 0);
        case 91: {
            const int32_t n = c.Int(0);
            QelFont* font = n >= 0 && n < QEL_FONT_SLOTS ? g_QelFonts[n] : nullptr;
            if (!font) {
                Qel_DPrintf(0, "B3D_SetTexTextBGColor: unknown fon number: %d, col:%d\n", n, c.Int(1));
                return c.Answer(0);
            }
            font->effectColour = static_cast<uint32_t>(c.Int(1));
            return c.Answer(0);
        }
        case 92: {
            if (!c.Text(1)) return c.Answer(0);
            ScriptValue v{};
            B3D_TexGetTextArray(&v, c.Int(0), c.Text(1), c.Int(2), c.Int(3));
            return SE_AnswerMove(g_SEContext, c.task, &v);
        }
        case 93: return c.Answer(B3D_TexGetWidth(c.Int(0)));
        case 94: return c.Answer(B3D_TexGetHeight(c.Int(0)));
        case 96: return c.Answer(B3D_TexLine(c.Int(0), c.Int(1), c.Int(2), c.Int(3), c.Int(4), c.Int(5)));
        case 97:  // source, destination, source x, y, destination x, y, width, height: the block as it is
            return c.Answer(
                B3D_TexCookie(c.Int(0), c.Int(1), c.Int(2), c.Int(3), c.Int(4), c.Int(5), c.Int(6), c.Int(7), -1, 1));
        case 98:  // the same through the source's alpha, untinted
            return c.Answer(
                B3D_TexBlit(c.Int(0), c.Int(1), c.Int(2), c.Int(3), c.Int(4), c.Int(5), c.Int(6), c.Int(7), -1, 1));
        case 99:
            return c.Answer(B3D_TexBltTiles(c.Int(0), c.Int(1), c.Int(2), c.Int(3), c.Int(4), c.Int(5), c.Int(6),
                                            c.Int(7), c.Int(8), c.Int(9)));
        case 100:
            return c.Answer(B3D_TexBltTilesAlpha(c.Int(0), c.Int(1), c.Int(2), c.Int(3), c.Int(4), c.Int(5), c.Int(6),
                                                 c.Int(7), c.Int(8), c.Int(9), -1));
        case 101: {  // texture, image name, x, y: the whole image, through the texture cache
            if (!c.Text(1)) return c.Answer(0);
            const int32_t image = B3D_GetTextureID(c.Text(1));
            if (image <= 0 || image == 0xFFFF) return c.Answer(0);
            return c.Answer(B3D_TexBlit(image, c.Int(0), 0, 0, c.Int(2), c.Int(3), B3D_TexGetWidth(image),
                                        B3D_TexGetHeight(image), -1, 1));
        }
        case 102:
            if (!c.Text(0)) return c.Answer(-1);
            return c.Answer(B3D_OpenFontNumbered(c.Text(0), c.Int(1), c.Int(2), c.Int(3), c.Int(4)));
        case 112:
            return c.Answer(
                B3D_TexCircle(c.Int(0), c.Int(1), c.Int(2), c.Int(3), static_cast<uint32_t>(c.Int(4)), c.Int(5)));
        case 113:
            return c.Answer(
                B3D_TexCircleFill(c.Int(0), c.Int(1), c.Int(2), c.Int(3), static_cast<uint32_t>(c.Int(4)), c.Int(5)));
        case 131:  // texture, text, font, x, y, width, colour, style
            return c.Answer(c.Text(1) ? B3D_TexTextBlockCentered(c.Int(0), c.Text(1), c.Int(2), c.Int(3), c.Int(4),
                                                                 c.Int(5), static_cast<uint32_t>(c.Int(6)),
                                                                 static_cast<uint32_t>(c.Int(7)))
                                      : 0);
        default: return c.Answer(0);
    }
}

// The cut, path, job and take calls (135 to 156).
int32_t CutCall(const Call& c, int32_t call) {
    switch (call) {
        case 143: return JobStart(c, false, false);
        case 144: return JobStart(c, true, false);
        case 155: return JobStart(c, false, true);
        case 156: return JobStart(c, true, true);
        case 152: return TakeStart(c);
        case 145:
        case 146: {
            Inst3D* inst = c.Inst(0);
            if (!inst) return c.Answer(0);
            if (call == 146) return c.Answer(J3D_JobGetRemainingTime(inst));
            J3D_JobStop(inst);
            return c.Answer(0);
        }
        case 149:
        case 150: {
            J3D_Cut* cut = J3D_CutIsLoaded(c.Int(0));
            if (!cut) return c.Answer(0);
            if (call == 149) {
                J3D_FreeCut(cut);
                return c.Answer(0);
            }
            cut->placePos = QelVector{c.Int(1), c.Int(2), c.Int(3), 0};
            J3D_CutMarkMoved(cut);
            return c.Answer(0);
        }
        case 151: {
            J3D_Take* take = J3D_TakeAlloc();
            return c.Answer(take ? static_cast<int32_t>(take->id) : 0);
        }
        case 153:
        case 154: {
            J3D_Take* take = J3D_TakeFind(static_cast<uint32_t>(c.Int(0)));
            if (take && call == 153) J3D_TakeStop(take);
            if (take && call == 154) J3D_TakeFree(take);
            return c.Answer(0);
        }
        default: break;
    }

    J3D_Cut* cut = J3D_GetCut(c.Int(0));
    if (call == 148) return c.Answer(cut ? 1 : 0);
    if (!cut) return c.Answer(0);
    if (call == 135) return c.Answer(cut->pathCount);
    if (call == 147) {
        for (int32_t i = 0; cut->paths && i < cut->pathCount; ++i)
            if ((cut->paths[i].flags & PATH_BODY) && cut->paths[i].reference == c.Int(1)) return c.Answer(1);
        return c.Answer(0);
    }
    const J3D_CutPath* path = PathAt(cut, c.Int(1));
    if (!path) return c.Answer(0);
    switch (call) {
        case 141: {
            // The array the story passed is shared: the words go into it.
            auto* array = const_cast<ScriptValue*>(c.Value(3));
            if (c.argc < 4 || array->tag != VARTYPE_ARRAY) return c.Answer(0);
            int32_t words[6];
            PathPosAndRot(path, c.Int(2), words);
            for (int32_t k = 0; k < 6; ++k) SV_ArrayWriteInt(array, k, words[k]);
            return c.Answer(1);
        }
        case 136: return c.Answer((path->flags & PATH_BODY) ? path->reference : 0);
        case 137: return c.Answer((path->flags & PATH_CUT) ? path->reference : 0);
        case 138: return c.Answer(path->pathNr);
        case 139: return c.Answer(path->value2);
        case 140: return c.Answer(static_cast<int32_t>(path->flags));
        case 142: return c.AnswerText(path->name ? path->name : "");
        default: return c.Answer(0);
    }
}

}  // namespace

const char* const* B3D_GetCallNames() { return s_callNames; }

int32_t B3D_SysCall(int32_t callerModule, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args) {
    const Call c{callerModule, task, args ? argc : 0, args};
    if (call < 0 || call >= B3D_CALL_COUNT || !g_B3DState) return c.Answer(0);
    switch (call) {
        case 19: return c.Answer(B3D_CallSetEngineFlags(c.Int(0)));
        case 20: return c.Answer(B3D_CallClearEngineFlags(c.Int(0)));
        case 21:
        case 84: return c.Answer(static_cast<int32_t>(B3D_GetEngineFlags()));
        case 43: return c.Answer(c.Text(0) ? B3D_GetTextureID(c.Text(0)) : 0);
        case 77: return c.Answer(B3D_FindBody(c.Int(0)) ? 1 : 0);
        case 78: return c.Answer(B3D_MemStatistics(c.Int(0)));
        case 79: return c.Answer(c.Text(0) ? B3D_CallInitRecording(c.Text(0)) : 0);
        case 80: return c.Answer(B3D_CallExitRecording());
        case 81:
            if (!c.Text(0)) return c.Answer(0);
            return c.Answer(B3D_ReplayRecording(c.Text(0), c.Int(1), c.Int(2), c.Int(3), c.Int(4), c.Int(5)));
        case 82: return c.Answer(B3D_CallExitReplay());
        case 83: return c.Answer(B3D_CallSetFlags(c.Int(0)));
        case 105: return c.Answer(Display() ? Display()->width : 0);
        case 106: return c.Answer(Display() ? Display()->height : 0);
        case 107: return c.Answer(g_VideoRecord ? g_VideoRecord->aspectX : 0);
        case 108: return c.Answer(g_VideoRecord ? g_VideoRecord->aspectY : 0);
        case 109: return c.Answer(g_VideoRecord ? g_VideoRecord->zeroWords[0] : 0);
        case 110: return c.Answer(g_VideoRecord ? g_VideoRecord->zeroWords[1] : 0);
        case 52:
            B3D_DisableAllObjects3D();
            J3D_FreeCutEntry();  // every cut, then every body
            B3D_EnableAllObjects3D();
            return c.Answer(0);
        case 103: B3D_DisableAllObjects3D(); return c.Answer(0);
        case 104: B3D_EnableAllObjects3D(); return c.Answer(0);
        case 111: B3D_SetFadeValue(c.Int(0)); return c.Answer(0);
        case 114: g_B3DState->shadowAlpha = c.Int(0); return c.Answer(0);
        case 117: return c.Answer(g_B3DState->gammaValue);
        case 118: B3D_SetGammaValue(c.Int(0)); return c.Answer(0);
        case 119:
        case 120: return c.Answer(0);
        case 121: B3D_DumpUsedBodies(); return c.Answer(0);
        case 122: return c.Answer(c.Text(0) ? B3D_GetBodyID(c.Text(0)) : 0);
        case 123: return c.Answer(c.Text(0) ? B3D_GetCutID(c.Text(0)) : 0);
        case 124: return c.AnswerText(B3D_GetBodyFilename(c.Int(0), 0).c_str());
        case 125: return c.AnswerText(B3D_GetCutFilename(c.Int(0), 0).c_str());
        case 127: {
            const B3DIconRow* row = B3D_GetIconData(c.Int(0), c.Int(1));
            if (!row) {
                Qel_BannerPrintf("SYS_B3D_GetIconData(%d,%d) no icon for this icon ID!\n", c.Int(0), c.Int(1));
                return c.Answer(0);
            }
            const int32_t words[5] = {row->word, row->x, row->y, row->w, row->h};
            return c.AnswerInts(words, 5);
        }
        case 30:
        case 47:
        case 48:
        case 49:
        case 50:
        case 51:
        case 67:
        case 95: return SceneCall(c, call);
        default: break;
    }
    if ((call >= 85 && call <= 102) || call == 112 || call == 113 || call == 131) return TextureCall(c, call);
    if (call >= 135) return CutCall(c, call);
    return InstanceCall(c, call);
}
