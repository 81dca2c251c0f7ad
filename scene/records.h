// The scene engine's records: placed objects (instances, lights, cameras),
// scenes, takes, cuts with their paths and keys, particles and their
// generators, and the small items that hang off cameras and scenes. Words
// without a meaning here are working words of the modules that use them; they
// keep their place so saved layouts stay in step.
#pragma once

#include <cstdint>

#include "base/fixmath.h"
#include "scene/lists.h"

struct Scene3D;
struct ParticleBuffer;         // the renderer's, one per scene
class IDirect3DVertexBuffer9;  // the renderer's device buffers
struct BodyMaterial;

// First flags word of an Inst3D.
constexpr uint32_t INST_CAMERA = 0x1;
constexpr uint32_t INST_VIEW_DONE = 0x2;
constexpr uint32_t INST_LIGHT = 0x4;
constexpr uint32_t INST_SIZE_USED = 0x8;
constexpr uint32_t INST_SPOT_LIGHT = 0x10;
constexpr uint32_t INST_OWN_MATRIX = 0x20;
constexpr uint32_t INST_SCALED_CHILD = 0x40;
constexpr uint32_t INST_GLYPH = 0x40;  // a character of a text tree: scaled with its root
constexpr uint32_t INST_FRAME_MARK = 0x80;
constexpr uint32_t INST_FACE_PARENT = 0x800;
constexpr uint32_t INST_IN_RENDERER = 0x1000;
constexpr uint32_t INST_OWN_MATRIX2 = 0x4000;
constexpr uint32_t INST_UNSCALED_CHILDREN = 0x10000;
constexpr uint32_t INST_LIGHT_VALUE = 0x20000;
constexpr uint32_t INST_LIGHT_SECOND = 0x80000;
constexpr uint32_t INST_INVISIBLE = 0x100000;
constexpr uint32_t INST_POINT_LIGHT = 0x400000;
constexpr uint32_t INST_DIRECTIONAL_LIGHT = 0x800000;
constexpr uint32_t INST_COLLISION_MODEL = 0x1000000;
constexpr uint32_t INST_HIDDEN = 0x2000000;
constexpr uint32_t INST_BODY_FLAG40 = 0x8000000;  // its body has flag 0x40
constexpr uint32_t INST_OWN_MATRIX3 = 0x10000000;
constexpr uint32_t INST_MARKED = 0x20000000;

// What a record is (its size goes with it) and whether it is in the
// renderer: the record's own, never taken from a script or a recording.
constexpr uint32_t INST_RECORD_KIND = INST_CAMERA | INST_LIGHT | INST_IN_RENDERER;

// Second flags word.
constexpr uint32_t INST2_FAR = 0x2;
constexpr uint32_t INST2_SOUND_CHANNEL = 0x10;  // the 3D sound holds a channel
constexpr uint32_t INST2_SKINNED = 0x20;
constexpr uint32_t INST2_LOAD_KEEP = 0x80;   // a load instance that stays after the load
constexpr uint32_t INST2_LOAD_INST = 0x100;  // made while a save game is loaded
constexpr uint32_t INST2_NOT_SAVED = 0x400;  // a top instance left out of save games
constexpr uint32_t INST2_WITH_CAMERA = 0x400000;
constexpr uint32_t INST2_EXTRA_TEXMATRIX = 0x1000000;
constexpr uint32_t INST2_SCREEN_PLACED = 0x10800000;
constexpr uint32_t INST2_JOB_TEST = 0x20000000;

// Job word of an Inst3D.
constexpr uint32_t JOB_RUNNING = 0x1;
constexpr uint32_t JOB_QUATERNION = 0x10;
constexpr uint32_t JOB_WAITING = 0x40;
constexpr uint32_t JOB_STOPPED = 0x200;
constexpr uint32_t JOB_LOOP = 0x800;
constexpr uint32_t JOB_DRIVES_BOUND = 0x1000;
constexpr uint32_t JOB_END_TIME_ONLY = 0x2000;
constexpr uint32_t JOB_EVENT_MINUS_ONE = 0x4000;
constexpr uint32_t JOB_BACKWARD = 0x8000;

// Reply codes sent to a caller that waits on the scene engine.
constexpr int32_t B3D_REPLY_TAKE_STOPPED = 1;
constexpr int32_t B3D_REPLY_INST_FREED = 2;
constexpr int32_t B3D_REPLY_CAMERA_FREED = 3;
constexpr int32_t B3D_REPLY_JOB_ENDED = 4;
constexpr int32_t B3D_REPLY_JOB_STOPPED = 5;

// A placed 3D object; lights and cameras are Inst3Ds too.
struct Inst3D {
    B3DListNode link;  // scene's instance list, parent's child list, or the free list
    int32_t word0;
    B3DList children;
    Inst3D* parent;
    Scene3D* scene;  // the same for every descendant
    char* name;      // owned heap string
    int32_t word1;
    uint32_t id;
    int32_t word2;
    QelVector pos;  // relative to the parent (or the scene)
    QelMatrix matrix;
    int32_t size;
    int32_t level;     // the body level drawn, chosen per camera
    int32_t minSize;   // below this screen size the instance is marked small
    int32_t cullSize;  // below this screen size the instance (and its children) hide
    QelVector scale;
    int32_t savedWords[4];
    int32_t radius;
    int32_t totalRadius;  // -1: to be recomputed
    int32_t words4[2];
    QelVector worldPos;
    QelMatrix worldMatrix;
    QelVector viewPos;     // world position in the axes of a camera or reference
    QelVector refPoint;    // moved with a take
    QelVector refViewPos;  // view position of the reference point
    int32_t detailValue;
    int32_t detailBase;
    int32_t detailWord;
    uint32_t flags;
    uint32_t flags2;
    int32_t savedWords2[2];
    int32_t alphaOverride;
    int32_t bodyId;        // -1: none
    int32_t detailSwitch;  // ranked by detail when above 0
    int32_t detailWord2;
    int32_t usedSize;
    uint16_t lightColor[3];
    int32_t lightRange;
    int32_t lightAtten[3];
    int32_t lightValue;
    void* rendererLight;  // non-null while the light is in the renderer
    // Ships keep their engine glow and lit glow sides here (space/movement.h).
    int32_t words5[4];
    int32_t contact[3];  // contact point of the last collision test
    int32_t collLevel;   // detail level of the body that gave the collision model
    Inst3D* hitInst;
    int16_t savedHalves[2];
    int32_t savedWords3[2];
    int32_t markValue;
    int32_t overrideEffect;
    int32_t materialOverrideCount;
    void* materialOverrides;  // array of the texture-animation layer's material records
    int32_t flareSizeWeight;
    int32_t flareWord;
    int32_t boneCount;
    Inst3D** bones;
    int32_t pass;
    int32_t colorModifier[4];
    int32_t extraWords[2];
    int32_t storyObject;  // the story object that gets "CutEvent"
    int32_t velocity[4];  // units per second, written by path jobs and the camera motion
    // The path job.
    uint32_t jobFlags;
    int32_t jobOrigin;  // game clock of path time 0
    int32_t jobStamp;   // game clock at start or last loop
    int32_t jobFrom;
    int32_t jobTo;
    int32_t pathWord;
    Inst3D* boundInst;
    int32_t rotAngles[3];
    QelQuat rotQuat;
    QelVector jobPos;
    QelMatrix jobMatrix;
    int32_t replyModule;
    int32_t replyHandle;
    int32_t cutId;
    int32_t pathNr;
    // The 3D sound.
    int32_t soundId;       // 0: none
    int32_t soundChannel;  // -1: none
    uint32_t soundFlags;   // B3D_SOUND_ bits
    int32_t soundPriority;
    int32_t soundVolume;      // 0 to 255
    int32_t soundLastVolume;  // the volume the channel was last given
    QelVector soundAxis;      // with B3D_SOUND_ALONG_AXIS: the sound lies on this axis
    int32_t soundDistance;    // added to the body's minimum distance
    // Children whose mask word meets a mask can be freed together.
    uint16_t childMask;
};

// Bits of an instance's sound flags (the channel it holds is marked in the
// second flags word, INST2_SOUND_CHANNEL, which save games carry).
constexpr uint32_t B3D_SOUND_STARTED = 0x1;
constexpr uint32_t B3D_SOUND_FIRST_DONE = 0x2;
constexpr uint32_t B3D_SOUND_SECOND_DONE = 0x4;
constexpr uint32_t B3D_SOUND_SUPPRESSED = 0x8;
constexpr uint32_t B3D_SOUND_ALONG_AXIS = 0x20;

// First flags word: bit 30 traces the instance's 3D sound in the log.
constexpr uint32_t INST_SOUND_TRACE = 0x40000000;

// Camera flags.
constexpr uint32_t CAM_ACTIVE = 0x1;
constexpr uint32_t CAM_LISTENER = 0x8;
constexpr uint32_t CAM_SORT_ASCENDING = 0x80;
constexpr uint32_t CAM_PARTICLES = 0x4000;
constexpr uint32_t CAM_FOG = 0x10000;

constexpr int32_t B3D_CAMERA_MAX_COLLECTED = 255;

// An Inst3D with the camera flag and a camera tail.
struct Camera3D {
    Inst3D inst;
    uint32_t camFlags;
    int32_t roll;  // 16-bit angle in the low half
    void* rendererCamera;
    int32_t nearRange;  // 16.16, the distance-range test of the passes
    int32_t farRange;
    int32_t word;
    int32_t viewport[4];  // stored third, fourth, first, second argument
    int32_t focus;
    int32_t priority;
    B3DList items;  // B3DCameraItem
    int32_t background[3];
    int32_t ones[3];
    int32_t aspect[2];
    int32_t fog[3];
    int32_t causticTexture;
    void* causticMaterial;
    int32_t fadeValue;
    B3DList facing;  // B3DFacingNode
    Inst3D* environmentSource;
    // Motion since the last update.
    int32_t motionTime;  // game clock, 0 before the first update
    QelVector motionPos;
    QelMatrix motionMatrix;
    int32_t zRate[3];  // change of the z row per second
    // Instances collected for collision tests.
    int32_t collectedCount;
    Inst3D* collected[B3D_CAMERA_MAX_COLLECTED];
};

// An item of a camera's item list: the lens flare of a marked instance,
// keyed by its fourth word (the instance's id, looked up at each use so a
// freed instance leaves no dangling pointer), with up to 13 flare element
// instances in the lens-flare scene.
constexpr int32_t B3D_FLARE_ELEMENTS = 13;
struct B3DCameraItem {
    B3DListNode link;
    int32_t word;
    int32_t key;
    int32_t intensity;                // 0 .. 200
    int32_t type;                     // row of the lens-flare table
    int32_t screenX, screenY, depth;  // 16.16, 0 at the viewport centre, y up
    int32_t seen;                     // placed this frame and not covered
    int32_t screenSize;               // 16.16
    int32_t sizeFactor;               // 16.16
    Inst3D* insts[B3D_FLARE_ELEMENTS];
};

// A facing node of a camera's facing list.
struct B3DFacingNode {
    B3DListNode link;
    Camera3D* camera;
    Inst3D* inst;
    QelMatrix matrix;
};

// Scene flags.
constexpr uint32_t SCENE_ENABLED = 0x1;
constexpr uint32_t SCENE_PARTICLES = 0x2;
constexpr uint32_t SCENE_NOT_SAVED = 0x8;  // left out of save games

struct Scene3D {
    B3DListNode link;  // the engine's scene list
    B3DList insts;     // top instances and lights
    uint32_t id;
    uint32_t flags;
    B3DList cameras;
    char* name;
    float systemScale;
    int32_t ints[3];
    B3DList bufferGroups;  // B3DSceneBufferGroup
    int32_t lowestPass;
    int32_t highestPass;
    ParticleBuffer* particleBuffer;  // made by the renderer on the first particle fill
};

// A scene-buffer record of the renderer: its dynamic vertex buffer, the
// system-memory copy the vertices are written into, their byte size, and the
// vertices written this frame.
struct B3DSceneBuffer {
    IDirect3DVertexBuffer9* vertexBuffer;
    uint8_t* copy;
    int32_t byteSize;
    int32_t vertexCount;
};

// What the renderer draws of one scene buffer: the texture, the number of
// buffered items, the material with its effect parameters, the buffer.
struct B3DSceneBufferDraw {
    uint16_t textureId;
    int32_t itemCount;
    const BodyMaterial* material;
    B3DSceneBuffer* buffer;
};

struct B3DSceneBufferItem {
    B3DListNode link;
    B3DSceneBuffer* buffer;
    void* part;
    int32_t material;    // material index of the body the item's triangles use
    int32_t indexCount;  // three per triangle of one instance
    uint16_t texture;    // the material's base texture (B3D_GroupBaseTexture)
};

// A group of items that own scene-buffer records, keyed by its fourth word.
struct B3DSceneBufferGroup {
    B3DListNode link;
    int32_t word;
    int32_t key;
    uint32_t flags;  // bit 0: uses a scene buffer; the draw reads 0x10 and 0x20000000
    int32_t count;   // instances that asked for the buffer this pass
    int32_t count2;  // indices of one instance, three per triangle
    int32_t sortKey;
    int32_t counter;        // instances filled this frame
    B3DList items;          // B3DSceneBufferItem
    int32_t capacity;       // instances one buffer takes per frame: 256, 512 or 1024
    uint32_t instFlags[2];  // the two flag words of the instance that made the entry
};

// A draw item of the state's draw list, seven words.
struct B3DDrawItem {
    B3DListNode link;
    Inst3D* inst;
    void* part;
    int32_t pass;
    int32_t sortKey;  // the sixth word
    int32_t word;
};

// Take states.
constexpr int32_t TAKE_ALLOCATED = 0;
constexpr int32_t TAKE_STOPPED = 1;
constexpr int32_t TAKE_RUNNING = 2;

// A cut played on a set of instances.
struct J3D_Take {
    uint32_t id;
    int32_t cutId;
    int32_t replyModule;  // 0: nobody waits
    int32_t replyHandle;
    int32_t instCount;
    Inst3D** insts;     // one per path of the cut, null entries allowed
    Scene3D* scene;     // where the take builds its instances
    uint32_t cameraId;  // the camera lent by the caller (not the take's own), 0: none
    QelVector pos;
    QelMatrix matrix;
    QelVector offset;
    int32_t cameraPath;  // the path the lent camera plays
    int32_t state;
    int32_t words2[2];
};

// Key records; times in ms from the start of the path, values 16.16.
struct J3D_MotionKey {
    int32_t time;
    uint32_t flags;
    int32_t spline[5];  // tension, continuity, bias and two ease values
    int32_t value[3];   // a position, three angles, or the angle in the first word
    int32_t axis[3];
    int32_t quat[4];  // w, x, y, z
    QelVector inTangent;
    QelVector outTangent;
};

struct J3D_RollKey {
    int32_t time;
    uint32_t flags;
    int32_t roll;
};

struct J3D_ColorKey {
    int32_t time;
    uint32_t flags;
    int32_t rgb[3];
};

struct J3D_FovKey {
    int32_t time;
    uint32_t flags;
    int32_t value;
};

// Key flags of a rotation key given as angle and axis.
constexpr uint32_t KEY_AXIS_ANGLE = 0x2;

struct J3D_Note {
    int32_t time;
    char* text;  // owned, may be null
};

struct J3D_Constraint {
    int32_t value;
    int32_t fixed;
};

// Path flags.
constexpr uint32_t PATH_BODY = 0x40;
constexpr uint32_t PATH_CUT = 0x80;
constexpr uint32_t PATH_LOOP = 0x100;
constexpr uint32_t PATH_S = 0x200;

struct J3D_CutPath {
    int32_t posCount;
    J3D_MotionKey* posKeys;
    int32_t rotCount;
    J3D_MotionKey* rotKeys;
    int32_t targetCount;
    J3D_MotionKey* targetKeys;
    int32_t rollCount;
    J3D_RollKey* rollKeys;
    int32_t colorCount;
    J3D_ColorKey* colorKeys;
    int32_t fovCount;
    J3D_FovKey* fovKeys;
    int32_t followInstId;  // 0: none
    int32_t reference;     // body id, or cut id with PATH_CUT; -99999 until set
    int32_t pathNr;
    int32_t value1;  // "C", 0
    int32_t value2;  // "F", -1
    char* name;
    int32_t noteCount;
    J3D_Note* notes;
    uint32_t flags;
    int32_t constraintCount;
    J3D_Constraint* constraints;
};

// Cut flags.
constexpr uint32_t CUT_PLACED = 0x1;
constexpr uint32_t CUT_LOOP = 0x4;

struct J3D_Cut {
    uint32_t id;
    int32_t pathCount;
    int32_t takeWords[2];
    QelVector placePos;
    QelMatrix placeMatrix;
    J3D_CutPath* paths;
    uint32_t flags;
};

// Particles.
struct B3DParticleEmitter {
    int32_t material;
    int32_t texRect[4];
    uint32_t flags;  // 1 camera-facing, 2 trail
    int32_t values[3];
    int32_t intervalFactor;
    int32_t intervalVariation;
    int32_t speedLow, speedHigh;
    int32_t lifetime;
    int32_t sizeLow, sizeHigh;
    int32_t lifetimeVariation;
    int32_t spreadX, spreadY;
    int32_t growDuration;
    int32_t fadeDuration;
    int32_t rotSpeed, rotSpeedRandom;
};

struct B3DParticleDesc {
    int32_t iconWord;
    int32_t emitterCount;
    B3DParticleEmitter* emitters;
    int32_t word;
};

struct B3DEmitterState {
    B3DParticleEmitter* emitter;
    int32_t lastSpawn;
    int32_t words[2];
    QelVector trailPos;
};

struct ParticleGenerator {
    B3DListNode link;
    uint32_t id;
    int32_t desc;
    QelVector offset;
    QelMatrix matrix;
    int32_t intensity;
    QelVector prevPos;
    QelVector prevVelocity;
    int32_t prevTime;
    QelQuat prevOrientation;
    Scene3D* scene;
    B3DEmitterState* emitters;
};

// Particle states.
constexpr uint32_t PARTICLE_FREE = 1;
constexpr uint32_t PARTICLE_TAKEN = 2;
constexpr uint32_t PARTICLE_TAKEN_OVER = 3;
constexpr uint32_t PARTICLE_UPDATED = 4;

struct B3DParticle {
    B3DListNode link;
    int32_t words[2];
    QelVector pos;
    QelVector pos2;
    QelMatrix matrix;
    QelVector velocity;
    Scene3D* scene;
    int32_t material;
    int32_t texRect[4];
    uint32_t kind;
    int32_t time;
    uint32_t state;
    int32_t size;
    int32_t endTime;
    uint32_t angle;
    int32_t alpha;
    int32_t rotSpeed, rotSpeedRandom;
    int32_t fadeDuration;
};
