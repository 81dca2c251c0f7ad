#include "space/records.h"

#include "scene/records.h"
#include "scene/state.h"

namespace {

// Asteroids have object data of one word that no Part reads yet.
struct AsteroidData {
    int32_t word0;
};

template <class T>
T* DataOf(SectorObject* object, bool match) {
    return object && match ? static_cast<T*>(object->typeData) : nullptr;
}

}  // namespace

uint32_t SA_TypeDataSize(int32_t mainType) {
    switch (mainType) {
        case SA_MT_BULLET: return sizeof(BulletData);
        case SA_MT_SECTOR: return sizeof(SectorData);
        case SA_MT_SUN: return sizeof(SunData);
        case SA_MT_PLANET: return sizeof(PlanetData);
        case SA_MT_DOCK:
        case SA_MT_FACTORY: return sizeof(DockData);
        case SA_MT_SHIP: return sizeof(ShipData);
        case SA_MT_LASER: return sizeof(LaserData);
        case SA_MT_SHIELD: return sizeof(ShieldData);
        case SA_MT_MISSILE: return sizeof(MissileData);
        case SA_MT_ASTEROID: return sizeof(AsteroidData);
        case SA_MT_GATE: return sizeof(GateData);
        case SA_MT_CAMERA: return sizeof(CameraData);
        case SA_MT_SPECIAL: return sizeof(SpecialData);
        case SA_MT_NEBULA: return sizeof(NebulaData);
        case SA_MT_DEBRIS:
        case SA_MT_DOCK_WRECK:
        case SA_MT_FACTORY_WRECK:
        case SA_MT_SHIP_WRECK: return sizeof(DensityData);
        default: return mainType >= SA_MT_WARE_FIRST && mainType <= SA_MT_WARE_LAST ? sizeof(WareData) : 0;
    }
}

int SA_IsContainerType(int32_t mainType) {
    return mainType == SA_MT_SECTOR || mainType == SA_MT_DOCK || mainType == SA_MT_FACTORY || mainType == SA_MT_SHIP ||
                   mainType == SA_MT_GATE
               ? 1
               : 0;
}

// Each container's data begins with its child list, so the list is the block.
QelList* O_GetChildList(SectorObject* object) {
    return DataOf<QelList>(object, object && SA_IsContainerType(object->mainType));
}

SectorData* O_SectorData(SectorObject* object) {
    return DataOf<SectorData>(object, object && object->mainType == SA_MT_SECTOR);
}
ShipData* O_ShipData(SectorObject* object) {
    return DataOf<ShipData>(object, object && object->mainType == SA_MT_SHIP);
}
DockData* O_DockData(SectorObject* object) {
    return DataOf<DockData>(object, object && (object->mainType == SA_MT_DOCK || object->mainType == SA_MT_FACTORY));
}
GateData* O_GateData(SectorObject* object) {
    return DataOf<GateData>(object, object && object->mainType == SA_MT_GATE);
}
BulletData* O_BulletData(SectorObject* object) {
    return DataOf<BulletData>(object, object && object->mainType == SA_MT_BULLET);
}
MissileData* O_MissileData(SectorObject* object) {
    return DataOf<MissileData>(object, object && object->mainType == SA_MT_MISSILE);
}
CameraData* O_CameraData(SectorObject* object) {
    return DataOf<CameraData>(object, object && object->mainType == SA_MT_CAMERA);
}
SpecialData* O_SpecialData(SectorObject* object) {
    return DataOf<SpecialData>(object, object && object->mainType == SA_MT_SPECIAL);
}

Inst3D* O_CameraSceneInstance(const CameraData* camera) {
    // Only the id is trusted: the record the pointer names may have been
    // freed and given to another instance since.
    return camera->sceneCameraId ? B3D_InstFind(camera->sceneCameraId) : nullptr;
}

void O_SetCameraSceneInstance(CameraData* camera, Inst3D* inst) {
    camera->sceneCamera = inst;
    camera->sceneCameraId = inst ? inst->id : 0;
}

RelationWords* O_RelationWords(SectorObject* object) {
    if (ShipData* ship = O_ShipData(object)) return &ship->relation;
    if (DockData* dock = O_DockData(object)) return &dock->relation;
    return nullptr;
}

CarrierWords* O_CarrierWords(SectorObject* object) {
    if (ShipData* ship = O_ShipData(object)) return &ship->carrier;
    if (DockData* dock = O_DockData(object)) return &dock->carrier;
    if (GateData* gate = O_GateData(object)) return &gate->carrier;
    return nullptr;
}

DockPortTable* O_PortTable(SectorObject* object) {
    if (ShipData* ship = O_ShipData(object)) return &ship->ports;
    if (DockData* dock = O_DockData(object)) return &dock->ports;
    return nullptr;
}

SectorSpace* O_Sector(SectorObject* object) {
    return object && object->mainType == SA_MT_SECTOR ? reinterpret_cast<SectorSpace*>(object) : nullptr;
}
