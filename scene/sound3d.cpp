#include "scene/sound3d.h"

#include <algorithm>
#include <cmath>

#include "base/general.h"
#include "base/log.h"
#include "scene/caches.h"
#include "scene/geometry.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "system/sound.h"

B3DSoundLink g_B3DSoundLink = {};

namespace {
constexpr uint32_t SAMPLE_FLAGS = 33;  // looping, 3D
constexpr int32_t PLAY_VOLUME = 255;
constexpr int64_t RANGE_BASE = 37000;
constexpr int32_t MIN_DISTANCE_BASE = 4500;
constexpr int32_t NEW_SOUND_LINE_MS = 5000;

// Game clock of the last "New 3d sound" line; the first one is always written.
bool s_newLineWritten = false;
int32_t s_newLineTime = 0;

int32_t Clamp32(double v) { return static_cast<int32_t>(std::clamp(v, -2147483648.0, 2147483647.0)); }

int32_t Limit() { return g_SystemState ? g_SystemState->Num3DSounds : 0; }
int32_t Clock() { return g_SystemState ? g_SystemState->gameClock : 0; }

bool ListenerWanted(const Camera3D* camera) {
    return camera && g_B3DState && g_SystemState && (g_SystemState->SysFlags & SYS_FLAG_3D_SOUND) &&
           (camera->camFlags & CAM_LISTENER) && g_B3DState->sound3DUsable;
}

// A world vector in the camera's frame.
QelVector IntoCamera(const Camera3D* camera, double x, double y, double z) {
    const QelVector v{Clamp32(x), Clamp32(y), Clamp32(z), 0};
    QelVector out{};
    Qel_MatTransMulVec(&camera->inst.worldMatrix, &v, &out);
    return out;
}

// The volume byte of the body's sound values.
int32_t BodyVolume(const Body3D* body) { return (static_cast<uint16_t>(body->soundValue) >> 8) & 0xFF; }

// A channel for a sound entering the range; false when the sound was dropped.
bool Acquire(Inst3D* inst) {
    // The body is looked at before the sample plays, so that a looping
    // channel is never started for a sound that cannot be set up.
    const Body3D* body = B3D_GetBody(inst->bodyId);
    if (!body) {
        Qel_DPrintf(0, "B3D_InstMake3DSound() unable to Play Sample %d because no BodyArray found!\n", inst->soundId);
        inst->soundId = 0;
        return false;
    }
    if (g_B3DSoundLink.loadSample) g_B3DSoundLink.loadSample(inst->soundId, SAMPLE_FLAGS);
    const int channel = g_B3DSoundLink.playSample ? g_B3DSoundLink.playSample(inst->soundId, PLAY_VOLUME) : -1;
    if (channel < 0) {
        Qel_DPrintf(0, "B3D_InstMake3DSound() unable to Play Sample %d\n", inst->soundId);
        inst->soundId = 0;
        return false;
    }
    inst->soundChannel = channel;
    const int32_t now = Clock();
    if (!s_newLineWritten || B3D_ClockDiff(now, s_newLineTime) > NEW_SOUND_LINE_MS) {
        Qel_DPrintf(0, "New 3d sound for (pri=%3d) %s\n", inst->soundPriority, inst->name ? inst->name : "unknown");
        s_newLineWritten = true;
        s_newLineTime = now;
    }
    inst->soundVolume = BodyVolume(body);
    // Cone angles, cone direction and volume from the body's sound values.
    if (!S_SetSound3DInfo(channel, static_cast<uint32_t>(body->soundInts[1]),
                          static_cast<uint32_t>(body->soundFixed[0]), body->soundFixed[1], body->soundFixed[2],
                          body->soundInts2[0], inst->soundDistance + MIN_DISTANCE_BASE,
                          static_cast<uint32_t>(inst->soundVolume)))
        Qel_DPrintf(0, "Error setting 3d sound info\n");
    inst->soundFlags &= ~(B3D_SOUND_STARTED | B3D_SOUND_FIRST_DONE | B3D_SOUND_SECOND_DONE);
    inst->flags2 |= INST2_SOUND_CHANNEL;
    inst->soundLastVolume = inst->soundVolume;
    return true;
}

void Place(Inst3D* inst, const Camera3D* camera) {
    const int channel = inst->soundChannel;
    const QelVector& c = camera->inst.worldPos;
    const QelVector& p = inst->worldPos;
    const double vx = double(inst->velocity[0]) - camera->inst.velocity[0];
    const double vy = double(inst->velocity[1]) - camera->inst.velocity[1];
    const double vz = double(inst->velocity[2]) - camera->inst.velocity[2];
    const QelVector velocity = IntoCamera(camera, vx, vy, vz);
    if (inst->soundFlags & B3D_SOUND_ALONG_AXIS) {
        // The point of the instance's axis (as long as its tree is wide)
        // nearest to the listener.
        QelVector axis{};
        Qel_MatMulVec(&inst->worldMatrix, &inst->soundAxis, &axis);
        double ax = axis.x / 65536.0, ay = axis.y / 65536.0, az = axis.z / 65536.0;
        const double len = std::sqrt(ax * ax + ay * ay + az * az);
        if (len > 0) ax /= len, ay /= len, az /= len;
        const double dx = double(p.x) - c.x, dy = double(p.y) - c.y, dz = double(p.z) - c.z;
        const double half = std::max(0, B3D_InstGetTotalSize(inst));
        const double t = std::clamp(-(dx * ax + dy * ay + dz * az), -half, half);
        const QelVector at = IntoCamera(camera, dx + t * ax, dy + t * ay, dz + t * az);
        if (!S_SetSound3DPosition(at.x, at.y, at.z, channel)) Qel_DPrintf(0, "error setting 3dsound position\n");
        if (!S_SetSound3DVelocity(channel, velocity.x, velocity.y, velocity.z))
            Qel_DPrintf(0, "error setting 3dsound velocity\n");
        return;
    }
    if (!S_SetSound3DPosition(inst->viewPos.x, inst->viewPos.y, inst->viewPos.z, channel))
        Qel_DPrintf(0, "error setting 3dsound position\n");
    if (!S_SetSound3DVelocity(channel, velocity.x, velocity.y, velocity.z))
        Qel_DPrintf(0, "error setting 3dsound velocity\n");
    const QelVector z = IntoCamera(camera, inst->worldMatrix.m[8], inst->worldMatrix.m[9], inst->worldMatrix.m[10]);
    if (!S_SetSound3DOrientation(channel, z.x, z.y, z.z)) Qel_DPrintf(0, "error setting 3dsound orientation\n");
}

void Update(Inst3D* inst, Camera3D* camera, uint16_t* counter) {
    if (inst->soundId <= 0) return;
    const int32_t d = B3D_VecDistance(&camera->inst.worldPos, &inst->worldPos);
    const int64_t range = static_cast<int64_t>(B3D_InstGetTotalSize(inst)) * 6 + RANGE_BASE;
    const bool suppressed = inst->soundFlags & B3D_SOUND_SUPPRESSED;
    if (!(inst->flags2 & INST2_SOUND_CHANNEL)) {
        if (!(d < range && *counter < Limit() && !suppressed)) return;
        if (!Acquire(inst)) return;
    } else if (d > range || *counter >= Limit() || suppressed) {
        B3D_InstStopSound(inst);
        return;
    }
    ++*counter;
    if (inst->flags & INST_SOUND_TRACE)
        Qel_DPrintf(4, "spo (%f %f %f)\n", inst->viewPos.x / 65536.0, inst->viewPos.y / 65536.0,
                    inst->viewPos.z / 65536.0);
    Place(inst, camera);
    if (inst->soundVolume != inst->soundLastVolume) {
        if (!S_SetSound3DVolume(static_cast<uint32_t>(inst->soundVolume), inst->soundChannel))
            Qel_DPrintf(0, "error setting 3dsound volume\n");
        inst->soundLastVolume = inst->soundVolume;
    }
    // Parameters first: the sound starts on its third update.
    if (!(inst->soundFlags & B3D_SOUND_FIRST_DONE)) {
        inst->soundFlags |= B3D_SOUND_FIRST_DONE;
    } else if (!(inst->soundFlags & B3D_SOUND_SECOND_DONE)) {
        inst->soundFlags |= B3D_SOUND_SECOND_DONE;
    } else if (!(inst->soundFlags & B3D_SOUND_STARTED)) {
        inst->soundFlags |= B3D_SOUND_STARTED;
        S_PlaySound3D(inst->soundChannel);
    }
}
}  // namespace

void B3D_InstStopSound(Inst3D* inst) {
    if (!inst || !(inst->flags2 & INST2_SOUND_CHANNEL)) return;
    if (g_B3DSoundLink.stopChannel) g_B3DSoundLink.stopChannel(inst->soundChannel, inst->soundId);
    else Int_StopSoundEffect(inst->soundChannel);
    inst->flags2 &= ~INST2_SOUND_CHANNEL;
    inst->soundChannel = -1;
}

void B3D_InstMake3DSound(Inst3D* inst, Camera3D* camera, uint16_t* counter) {
    if (!inst || !camera || !counter) return;
    Update(inst, camera, counter);
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) B3D_InstMake3DSound(c, camera, counter);
}

void B3D_CameraSetListener(Camera3D* camera) {
    if (!ListenerWanted(camera)) return;
    int32_t& usable = g_B3DState->sound3DUsable;
    if (!S_SetListener3DOrientation()) {
        Qel_DPrintf(0, "Error setting listener orientation\n");
        usable = 0;
    }
    if (!S_SetListener3DPosition()) {
        Qel_DPrintf(0, "Error setting listener position\n");
        usable = 0;
    }
    if (!S_SetListener3DVelocity()) {
        Qel_DPrintf(0, "error setting listener velocity\n");
        usable = 0;
    }
}

void B3D_Sound3DCommit(Camera3D* camera) {
    if (!ListenerWanted(camera)) return;
    if (!S_Sound3DCommitDeferred()) {
        Qel_DPrintf(0, "error commiting d3d data\n");
        g_B3DState->sound3DUsable = 0;
    }
}

void B3D_CameraEndDraw(Camera3D* camera) {
    B3D_Sound3DCommit(camera);
    Qel_DPrintf(0x2000, "DrawObjects: Ende zeichnen\n");
}
