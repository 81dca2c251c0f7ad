#include "space/typefields.h"

#include <cstring>

#include "space/typesdb.h"

namespace {
constexpr int32_t kAll = SA_EVERY_MAIN_TYPE;
}  // namespace

const SA_TypeFieldName g_SATypeFieldNames[] = {
    {kAll, SA_TF_BODY, "body"},
    {kAll, SA_TF_SECOND_BODY, "component body"},
    {kAll, SA_TF_STEP_Y, "step y"},
    {kAll, SA_TF_STEP_X, "step x"},
    {kAll, SA_TF_STEP_Z, "step z"},
    {kAll, SA_TF_CLASS, "class"},  // the type group subtype
    {kAll, SA_TF_TEXT_ID, "text id"},
    {kAll, SA_TF_VOLUME, "volume"},
    {kAll, SA_TF_REL_VALUE, "relation value"},
    {kAll, SA_TF_PRI_MAX_POWER, "primary maximum power"},
    {kAll, SA_TF_SEC_MAX_POWER, "secondary maximum power"},
    {kAll, SA_TF_TRADE_CLASS, "trade class"},
    {kAll, SA_TF_PLAYER_REL_VALUE, "player relation value"},
    {kAll, SA_TF_MIN_NOTORIETY, "minimum notoriety"},
    {kAll, SA_TF_VIDEO_ID, "video id"},
    {kAll, SA_TF_SKIN, "skin"},
    {kAll, SA_TF_NAME, "name"},

    {SA_MT_BULLET, SA_TF_BULLET_SHIELD_DAMAGE, "shield damage"},
    {SA_MT_BULLET, SA_TF_BULLET_HULL_DAMAGE, "hull damage"},
    {SA_MT_BULLET, SA_TF_BULLET_SPEED, "speed"},
    {SA_MT_BULLET, SA_TF_BULLET_LIFETIME, "lifetime"},
    {SA_MT_BULLET, SA_TF_BULLET_FLAGS, "flags"},
    {SA_MT_BULLET, SA_TF_BULLET_AMMUNITION, "ammunition"},
    {SA_MT_BULLET, SA_TF_BULLET_IMPACT_EFFECT, "impact effect"},
    {SA_MT_BULLET, SA_TF_BULLET_IMPACT_SOUND, "impact sound"},
    {SA_MT_BULLET, SA_TF_BULLET_WEAPON_EFFECT, "muzzle effect"},
    {SA_MT_BULLET, SA_TF_BULLET_TRAIL_EFFECT, "fly effect"},
    {SA_MT_BULLET, SA_TF_BULLET_TRAIL_PARTICLES, "fly particles"},
    {SA_MT_BULLET, SA_TF_BULLET_SCENE_RESOURCE, "scene resource"},

    {SA_MT_BACKGROUND, SA_TF_BG_NAME, "body family name"},
    {SA_MT_BACKGROUND, SA_TF_BG_STAR_COUNT, "number of star bodies"},
    {SA_MT_BACKGROUND, SA_TF_BG_STARS, "star bodies"},
    {SA_MT_BACKGROUND, SA_TF_BG_NEBULA_COUNT, "number of nebula bodies"},
    {SA_MT_BACKGROUND, SA_TF_BG_NEBULAS, "nebula bodies"},
    {SA_MT_BACKGROUND, SA_TF_BG_OUTER_COUNT, "number of outer nebula parts"},
    {SA_MT_BACKGROUND, SA_TF_BG_OUTERS, "outer part bodies"},
    {SA_MT_BACKGROUND, SA_TF_BG_DUSTS, "dust part bodies"},
    {SA_MT_BACKGROUND, SA_TF_BG_DUST_RATES, "dust body rates"},
    {SA_MT_BACKGROUND, SA_TF_BG_DUST_COUNT, "number of dust instances"},
    {SA_MT_BACKGROUND, SA_TF_BG_AMBIENT, "ambient colour"},
    {SA_MT_BACKGROUND, SA_TF_BG_HUE, "hue modifier"},
    {SA_MT_BACKGROUND, SA_TF_BG_FOG_NEAR, "fog near"},
    {SA_MT_BACKGROUND, SA_TF_BG_FOG_FAR, "fog far"},
    {SA_MT_BACKGROUND, SA_TF_BG_STARDUST_DENSITY, "stardust density"},
    {SA_MT_BACKGROUND, SA_TF_BG_STARDUST_COLOUR, "stardust colour"},

    {SA_MT_PLANET, SA_TF_PLANET_COLOUR, "colour"},
    {SA_MT_PLANET, SA_TF_PLANET_CUT, "cut"},
    {SA_MT_PLANET, SA_TF_PLANET_BODIES, "bodies"},

    {SA_MT_DOCK, SA_TF_STATION_SCENE_RESOURCE, "scene resource"},
    {SA_MT_DOCK, SA_TF_STATION_CUT, "cut"},
    {SA_MT_DOCK, SA_TF_STATION_SHIELD_POWER, "shield power generation"},
    {SA_MT_DOCK, SA_TF_STATION_EXPLOSION_EFFECT, "explosion effect"},
    {SA_MT_DOCK, SA_TF_STATION_SECOND_EFFECT, "second effect"},
    {SA_MT_DOCK, SA_TF_DOCK_ICON, "icon"},
    {SA_MT_FACTORY, SA_TF_STATION_SCENE_RESOURCE, "scene resource"},
    {SA_MT_FACTORY, SA_TF_STATION_CUT, "cut"},
    {SA_MT_FACTORY, SA_TF_STATION_SHIELD_POWER, "shield power generation"},
    {SA_MT_FACTORY, SA_TF_STATION_EXPLOSION_EFFECT, "explosion effect"},
    {SA_MT_FACTORY, SA_TF_STATION_SECOND_EFFECT, "second effect"},
    {SA_MT_FACTORY, SA_TF_FACTORY_SCALE, "scale factor"},
    {SA_MT_FACTORY, SA_TF_FACTORY_ICON, "icon"},

    {SA_MT_SHIP, SA_TF_SHIP_SPEED, "speed"},
    {SA_MT_SHIP, SA_TF_SHIP_ACCELERATION, "acceleration"},
    {SA_MT_SHIP, SA_TF_SHIP_SCENE_RESOURCE, "scene resource"},
    {SA_MT_SHIP, SA_TF_SHIP_EXPLOSION_EFFECT, "explosion effect"},
    {SA_MT_SHIP, SA_TF_SHIP_SECOND_EFFECT, "second effect"},
    {SA_MT_SHIP, SA_TF_SHIP_ENGINE_EFFECT, "engine effect"},
    {SA_MT_SHIP, SA_TF_SHIP_ENGINE_PARTICLES, "engine particles"},
    {SA_MT_SHIP, SA_TF_SHIP_COCKPIT_BODY, "cockpit body"},
    {SA_MT_SHIP, SA_TF_SHIP_MAX_SHIELD_TYPE, "maximum shield type"},
    {SA_MT_SHIP, SA_TF_SHIP_CUT, "cut"},
    {SA_MT_SHIP, SA_TF_SHIP_SECOND_CUT, "second cut"},
    {SA_MT_SHIP, SA_TF_SHIP_MAX_SHIELDS, "maximum number of shields"},
    {SA_MT_SHIP, SA_TF_SHIP_LASER_COUNT, "maximum lasers"},
    {SA_MT_SHIP, SA_TF_SHIP_DAMAGE, "damage"},
    {SA_MT_SHIP, SA_TF_SHIP_MAX_MISSILES, "maximum number of missiles"},
    {SA_MT_SHIP, SA_TF_SHIP_MAX_EXTRA_SPEED, "maximum extra speed"},
    {SA_MT_SHIP, SA_TF_SHIP_MISSILE_MAX, "maximum missile type"},
    {SA_MT_SHIP, SA_TF_SHIP_MISSILE_MASK, "missile mask"},
    {SA_MT_SHIP, SA_TF_SHIP_MAX_EXTRA_ROT_SPEED, "maximum extra rotation speed"},
    {SA_MT_SHIP, SA_TF_SHIP_TRADE_CONTAINER, "trade container size"},
    {SA_MT_SHIP, SA_TF_SHIP_MAX_TRADE_CONTAINER, "maximum trade container size"},
    {SA_MT_SHIP, SA_TF_SHIP_WARE_LIST, "predefined ware list"},
    {SA_MT_SHIP, SA_TF_SHIP_MAX_TRADE_CLASS, "maximum trade class"},
    {SA_MT_SHIP, SA_TF_SHIP_VARIATION, "variation"},
    {SA_MT_SHIP, SA_TF_SHIP_SHIELD_POWER, "shield power generation"},
    {SA_MT_SHIP, SA_TF_SHIP_MAX_HULL, "maximum hull"},
    {SA_MT_SHIP, SA_TF_SHIP_LASER_POWER_MAX, "laser power maximum"},
    {SA_MT_SHIP, SA_TF_SHIP_LASER_POWER_RELOAD, "laser power reload"},
    {SA_MT_SHIP, SA_TF_SHIP_ENGINE_SOUND, "engine sound"},
    {SA_MT_SHIP, SA_TF_SHIP_COCKPIT_COUNT, "cockpits"},
    {SA_MT_SHIP, SA_TF_SHIP_TURRET_COUNT, "turrets"},

    {SA_MT_LASER, SA_TF_LASER_RELOAD, "reload time"},
    {SA_MT_LASER, SA_TF_LASER_ENERGY, "energy maximum"},
    {SA_MT_LASER, SA_TF_LASER_BULLET_TYPE, "bullet type"},
    {SA_MT_LASER, SA_TF_LASER_RANGE, "range"},
    {SA_MT_LASER, SA_TF_LASER_ICON, "icon"},

    {SA_MT_SHIELD, SA_TF_SHIELD_MAX_POWER_USED, "maximum power used"},
    {SA_MT_SHIELD, SA_TF_SHIELD_ENERGY, "energy maximum"},
    {SA_MT_SHIELD, SA_TF_SHIELD_STRENGTH, "efficiency"},

    {SA_MT_MISSILE, SA_TF_MISSILE_SPEED, "maximum speed"},
    {SA_MT_MISSILE, SA_TF_MISSILE_ACCELERATION, "acceleration"},
    {SA_MT_MISSILE, SA_TF_MISSILE_SOUND, "launch sound"},
    {SA_MT_MISSILE, SA_TF_MISSILE_SCENE_RESOURCE, "scene resource"},
    {SA_MT_MISSILE, SA_TF_MISSILE_FLIGHT_TIME, "flight time"},
    {SA_MT_MISSILE, SA_TF_MISSILE_DAMAGE, "maximum damage"},
    {SA_MT_MISSILE, SA_TF_MISSILE_RADIUS, "blast radius"},
    {SA_MT_MISSILE, SA_TF_MISSILE_ENGINE_EFFECT, "engine effect"},
    {SA_MT_MISSILE, SA_TF_MISSILE_ENGINE_PARTICLES, "engine particles"},
    {SA_MT_MISSILE, SA_TF_MISSILE_EXPLOSION_SOUND, "explosion sound"},
    {SA_MT_MISSILE, SA_TF_MISSILE_EXPLOSION_EFFECT, "explosion effect"},
    {SA_MT_MISSILE, SA_TF_MISSILE_SECOND_EFFECT, "second effect"},
    {SA_MT_MISSILE, SA_TF_MISSILE_IMPACT_EFFECT, "impact effect"},
    {SA_MT_MISSILE, SA_TF_MISSILE_FLAGS, "guidance"},
    {SA_MT_MISSILE, SA_TF_MISSILE_SPLIT_DELAY, "launch delay"},
    {SA_MT_MISSILE, SA_TF_MISSILE_ICON, "icon"},
    {SA_MT_MISSILE, SA_TF_MISSILE_CUT, "cut"},

    {SA_MT_ASTEROID, SA_TF_CUT, "cut"},
    {SA_MT_ASTEROID, SA_TF_ASTEROID_EXPLOSION_EFFECT, "explosion effect"},
    {SA_MT_ASTEROID, SA_TF_ASTEROID_SECOND_EFFECT, "second effect"},
    {SA_MT_ASTEROID, SA_TF_ASTEROID_DEBRIS_CUT, "debris map cut id"},
    {SA_MT_DEBRIS, SA_TF_CUT, "cut"},
    {SA_MT_DEBRIS, SA_TF_DEBRIS_LEVELS, "levels"},
    {SA_MT_DEBRIS, SA_TF_DEBRIS_NEXT_BODY, "next body"},
    {SA_MT_DEBRIS, SA_TF_DEBRIS_CUT, "debris map cut id"},
};

const int32_t g_SATypeFieldNameCount = static_cast<int32_t>(sizeof g_SATypeFieldNames / sizeof g_SATypeFieldNames[0]);

int32_t SA_TypeFieldByName(int32_t mainType, const char* name) {
    if (!name) return -1;
    for (const SA_TypeFieldName& n : g_SATypeFieldNames)
        if ((n.mainType == kAll || n.mainType == mainType) && std::strcmp(n.name, name) == 0) return n.field;
    return -1;
}
