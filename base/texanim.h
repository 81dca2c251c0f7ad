// Texture animations and materials: the definitions file "Animations", the
// material records of body parts with their binary form, and their advance
// over game time (frames, texture offsets, rotations, movies in textures, and
// frames chosen by scripts).
#pragma once

#include <cstdint>
#include <ctime>

struct QelFile;

// Animation kinds.
constexpr uint32_t TAT_LOOP = 1;
constexpr uint32_t TAT_PINGPONG = 2;
constexpr uint32_t TAT_ONESHOT = 3;
constexpr uint32_t TAT_MOVIE = 4;
constexpr uint32_t TAT_TAGLOOP = 5;
constexpr uint32_t TAT_TAGPINGPONG = 6;
constexpr uint32_t TAT_TAGONESHOT = 7;
constexpr uint32_t TAT_TAGCOLLECTION = 8;
constexpr uint32_t TAT_TAGONESHOT_REINIT = 9;
constexpr uint32_t TAT_SINGLESTEP = 10;
constexpr uint32_t TAT_TAGSINGLESTEP = 11;
constexpr uint32_t TAT_TAGARRAYSINGLESTEP = 12;
constexpr uint16_t TADF_COORDS = 2;
constexpr uint16_t TATF_REINITLOOP = 1;
constexpr uint16_t TATF_COORDS = 2;

// One frame. Collection frames use the texture and the six values, single-step
// tag frames the texture only, all others flags, texture, duration and offsets.
struct TC_AnimFrame {
    uint16_t flags;
    uint16_t texture;
    int32_t duration;          // ms
    int32_t offsetX, offsetY;  // 16.16
    uint16_t values[6];
};

struct TC_Animation {
    uint32_t kind;
    uint16_t defFlags;
    uint16_t firstTexture;
    uint16_t lastTexture;
    int32_t coords[4];  // start x, y and end x, y (16.16); movies: the first pair sizes the grid's cells
    int32_t frameCount;
    TC_AnimFrame* frames;
    int32_t totalDuration;  // ms of one cycle; -1 until known
    int32_t movie[7];       // number, start m, s, ms, end m, s, ms
};

extern TC_Animation* g_TCAnimations;
extern uint16_t g_TCAnimationCount;

// Material words (32 words, 128 bytes).
struct TC_Material {
    int32_t w[32];
};
constexpr int TCM_ANIM = 0, TCM_START = 1, TCM_ROTSTART = 2, TCM_FLAGS = 3, TCM_FRAMESTART = 4, TCM_TAGTIME = 5,
              TCM_MOVIE = 6, TCM_OFFSET = 7, TCM_NEXTOFFSET = 9, TCM_CYCLE = 11, TCM_COORDS = 12, TCM_ROTATION = 14,
              TCM_FRAME = 15, TCM_MATRIX = 16, TCM_TEXTURE = 28;
// Material flags.
constexpr int32_t TCM_PLAIN = 0x1;
constexpr int32_t TCM_REVERSED = 0x2;
constexpr int32_t TCM_INLOOP = 0x4;
constexpr int32_t TCM_TAGGED = 0x8;

// Reads "Animations"; 1 loaded, 0 missing or unreadable (nothing kept then).
int TC_AnimLoadDefinitions();
void TC_AnimFreeDefinitions();
int TC_AnimAnimate(int count, TC_Material* materials);
int TC_AnimSetIndex(int frameLimit, int count, TC_Material* materials, int animation, int frame);
void TC_SetMaterialFrame(int count, TC_Material* materials, int frame);
void TC_AnimateMaterials(int count, TC_Material* materials, int frame, int frameCount);
// Null when count is not positive or a record cannot be read.
TC_Material* TC_ReadMaterials(int count, QelFile* file);
int TC_WriteMaterials(int count, QelFile* file, const TC_Material* records);
void TC_FreeMaterials(int count, TC_Material* records);
// Arrays hold one value (or one x, y pair) per material; any may be null.
TC_Material* TC_NewMaterials(const int32_t* endOffsets, int count, const int32_t* textures, const int32_t* startOffsets,
                             const int32_t* durations, const int32_t* coordPairs, const int32_t* rotations);
TC_Material* Qel_NewTextureMaterial(int textureId);
void TC_MaterialCurrentTexture(TC_Material* m);
void TC_AnimPreloadTextures(int animation, uint32_t flags);

// Movies played into textures, through the movie module's calls.
struct TC_MovieCalls {
    int (*isLoaded)(int movie);
    int (*open)(int movie);
    int (*connect)(int movie, int texture);
    int (*disconnect)(int movie, int texture);
    void (*play)(int movie, int startMin, int startSec, int startMs, int endMin, int endSec, int endMs);
    void (*stop)(int movie);
    uint32_t (*state)(int movie);  // bit 0x2 playing, 0x4 routed into a texture
};
// Set by the movie module; without it movies are not started.
extern TC_MovieCalls g_TCMovieCalls;
void TC_LoadMovie(int movie, int texture, int startMin, int startSec, int startMs, int endMin, int endSec, int endMs);
void TC_ReleaseMovieTexture(int movie, int texture);
int TC_MovieIsPlaying(int movie);

void Qel_TexMatrixSet(TC_Material* m, int32_t scaleX, int32_t scaleY, int32_t offsetX, int32_t offsetY);
void Qel_TexMatrixTranslate(TC_Material* m, int32_t offsetX, int32_t offsetY);
void Qel_TexMatrixScale(TC_Material* m, int32_t scaleX, int32_t scaleY);
void Qel_TexMatrixRotate(TC_Material* m, double radians);
void Qel_TexMatrixCopy(TC_Material* m, const int32_t words[12]);

// Qel_ISqrt lives with the fixed-point math (base/fixmath.h).
int32_t Qel_MulDiv64(int32_t a, int32_t b, int32_t c);
int32_t Qel_FixDiv64(int32_t a, int32_t b);
time_t Qel_Time();
const char* Qel_TimeString();
void Qel_FreeIfSet(void* block, size_t size, uint32_t flags);

int32_t* TC_MaterialMatrix(TC_Material* materials, int index);
int16_t TC_MaterialTexture(const TC_Material* materials, int index);
int32_t TC_MaterialWord0(const TC_Material* materials, int index);
int32_t* TC_MaterialCoords(TC_Material* materials, int index);
int TC_MaterialTextureId(TC_Material* materials, int index);
