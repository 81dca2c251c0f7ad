// The recorder: everything that happens in the enabled scenes, written frame
// by frame into a gzip recording ("%s.rec") that the replay plays back. Each
// scene, instance, camera and particle generator written keeps a copy of the
// values last written, so a frame holds only what changed, marked by a
// change mask per object; an object not written in a frame gets a deletion
// record and comes back later as a first record.
#pragma once

#include <cstdint>

struct Camera3D;
struct Inst3D;

// Change-mask bits shared by every object record.
constexpr uint32_t B3D_REC_FIRST = 0x10000000;
constexpr uint32_t B3D_REC_DELETED = 0x20000000;
constexpr uint32_t B3D_REC_LIGHT = 0x40000000;

// Field bits of an instance record ("RINS"), in the order their fields follow.
constexpr uint32_t B3D_RINS_PARENT = 0x2;
constexpr uint32_t B3D_RINS_SCENE = 0x4;
constexpr uint32_t B3D_RINS_POS = 0x8;
constexpr uint32_t B3D_RINS_MATRIX = 0x10;
constexpr uint32_t B3D_RINS_VELOCITY = 0x40;
constexpr uint32_t B3D_RINS_DETAIL = 0x80;
constexpr uint32_t B3D_RINS_DETAIL_BASE = 0x100;
constexpr uint32_t B3D_RINS_FLAGS = 0x200;
constexpr uint32_t B3D_RINS_FLAGS2 = 0x100000;
constexpr uint32_t B3D_RINS_BODY = 0x400;
constexpr uint32_t B3D_RINS_SIZE = 0x20;
constexpr uint32_t B3D_RINS_SCALE = 0x40000;
constexpr uint32_t B3D_RINS_DETAIL_SWITCH = 0x800;
constexpr uint32_t B3D_RINS_USED_SIZE = 0x1000;
constexpr uint32_t B3D_RINS_COLOR = 0x2000;
constexpr uint32_t B3D_RINS_ATTEN = 0x4000;
constexpr uint32_t B3D_RINS_EFFECT = 0x8000;
constexpr uint32_t B3D_RINS_RANGE = 0x10000;
constexpr uint32_t B3D_RINS_WORDS = 0x80000;
constexpr uint32_t B3D_RINS_NAME = 0x20000;

// Field bits of a camera record ("RCAM").
constexpr uint32_t B3D_RCAM_SCENE = 0x1;
constexpr uint32_t B3D_RCAM_POS = 0x2;
constexpr uint32_t B3D_RCAM_MATRIX = 0x4;
constexpr uint32_t B3D_RCAM_PRIORITY = 0x8;
constexpr uint32_t B3D_RCAM_FLAGS = 0x10;
constexpr uint32_t B3D_RCAM_ROLL = 0x20;
constexpr uint32_t B3D_RCAM_VIEWPORT = 0x40;
constexpr uint32_t B3D_RCAM_FOCUS = 0x80;
constexpr uint32_t B3D_RCAM_BACKGROUND = 0x100;
constexpr uint32_t B3D_RCAM_ONES = 0x400;
constexpr uint32_t B3D_RCAM_MATRIX2 = 0x800;
constexpr uint32_t B3D_RCAM_ASPECT = 0x1000;
constexpr uint32_t B3D_RCAM_NAME = 0x200;

// Field bits of a scene record ("RSCE").
constexpr uint32_t B3D_RSCE_FLAGS = 0x1;
constexpr uint32_t B3D_RSCE_SCALE = 0x2;
constexpr uint32_t B3D_RSCE_NAME = 0x4;

// Field bits of a particle-generator record ("RPGE").
constexpr uint32_t B3D_RPGE_DESC = 0x200;
constexpr uint32_t B3D_RPGE_POS = 0x1;
constexpr uint32_t B3D_RPGE_MATRIX = 0x2;
constexpr uint32_t B3D_RPGE_INTENSITY = 0x4;
constexpr uint32_t B3D_RPGE_TIME = 0x8;
constexpr uint32_t B3D_RPGE_PREV_POS = 0x10;
constexpr uint32_t B3D_RPGE_PREV_DIR = 0x20;
constexpr uint32_t B3D_RPGE_PREV_QUAT = 0x40;
constexpr uint32_t B3D_RPGE_SCENE = 0x80;
constexpr uint32_t B3D_RPGE_EMITTERS = 0x100;

// Opens "%s.rec" and writes its header; sets engine flag 0x1. A recording
// already running is stopped first. 1 on success, 0 on failure.
int32_t B3D_InitRecording(const char* name);
// One frame: called by the frame draw while engine flag 0x1 is set. A write
// that fails (a full disk, a gzip error) stops the recording after its log
// line, without "REND".
void B3D_RecordFrame();
// The record of one instance and, depth first, of its children; the record
// of one camera. Nothing while no recording runs.
void B3D_RecordInst(Inst3D* inst);
void B3D_RecordCamera(Camera3D* camera);
// Writes "REND", closes the file and clears engine flag 0x1 (the flag also
// when no recording runs).
void B3D_ExitRecording();

// The engine calls: a recording starts only while neither a recording nor a
// replay runs (its result, else 0); the stop acts only on a running one (0).
int32_t B3D_CallInitRecording(const char* name);
int32_t B3D_CallExitRecording();
