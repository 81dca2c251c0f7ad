// The components of bodies: lasers, cockpits and docking positions are parts
// of the bodies marked by part flags; the scan of one body appends what it
// finds to the types database's three component tables.
#pragma once

#include <cstdint>

struct Body3D;

// Part flags the scan reads.
constexpr uint32_t SA_PART_LASER = 0x200;
constexpr uint32_t SA_PART_DOCKING = 0x1000;
constexpr uint32_t SA_PART_ENGINE = 0x2000;
constexpr uint32_t SA_PART_GLOW = 0x4000;
constexpr uint32_t SA_PART_COCKPIT = 0x8000;
constexpr uint32_t SA_PART_CONNECTION = 0x80000;
// Point flags that give a laser's or a cockpit's direction.
constexpr uint32_t SA_POINT_LASER_DIRECTION = 0x20;
constexpr uint32_t SA_POINT_COCKPIT_DIRECTION = 0x40;
// Components of one kind one body may have; one more ends the program.
constexpr int32_t SA_MAX_BODY_COMPONENTS = 50;

// Scans the parts of the body's first level and appends at most one entry
// per kind (lasers, cockpits, docking positions) for the body.
void SA_SetComponents(const Body3D* body);

struct TypeRecord;

// The rebuild of the "Components" types file when none ships: started when
// the file cannot be opened, it scans the bodies of every types record read
// (the record's cut's path bodies and the state cuts of their dummies, or the
// record's own body), each body once; the finish writes the tables found as
// the file and forgets the bodies. More than SA_MAX_COMPONENT_BODIES bodies
// end the program.
constexpr int32_t SA_MAX_COMPONENT_BODIES = 10000;
void SA_StartComponentsRebuild();
// 1 while a rebuild runs.
int SA_RebuildingComponents();
void SA_ScanRecordComponents(int32_t mainType, const TypeRecord* record);
void SA_FinishComponentsRebuild();
