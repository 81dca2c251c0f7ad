// The demo game's art, made by our own code: the model sources of its bodies
// (ships of two sides, the cockpit frame, the trading post, the gate,
// asteroids, sun, planet, bullet, missile, container, the background's star,
// nebula and dust bodies and the station's dock markers), the cut source of
// the trading post with its dock port, and the textures they name. demogen
// writes them for the build; tests write them into game folders of their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A model or cut source and where its converted file goes in the game folder:
// "v/00600" (".bod" follows) or "v/environments/nebulae/demo/..." for a body,
// "cut/00610" for a cut.
struct DemoArtSource {
    int32_t id;
    std::string file;
    std::string text;
};

struct DemoArtPicture {
    std::string name;           // the texture name the materials use; "dds/<name>.dds"
    int size;                   // width and height
    std::vector<uint32_t> rgb;  // 0xRRGGBB, rows top first
};

// The dock port and approach markers of the trading post's cut: bodies listed
// in BodyDummies, so they place ports and are never drawn.
constexpr int32_t kDemoArtDockPortBody = 670;
constexpr int32_t kDemoArtApproachBody = 671;
constexpr int32_t kDemoArtStationCut = 610;

// The effects' sprites (effects.types): the flash and the engine glow.
constexpr int32_t kDemoArtFlashBody = 698;
constexpr int32_t kDemoArtGlowBody = 699;

// The cockpit's grid ("environments\\others\\grid", BodyData in
// data/types/art.types), whose strips lie a quarter of the cockpit's grid
// step apart in the world's units.
constexpr int32_t kDemoArtGridBody = 678;
constexpr int32_t kDemoArtGridCell = 100000;

// A body the cockpit finds by name (its BodyData row in data/types/art.types):
// its id, its file under "v" (".bod" follows), the name the cockpit asks for
// and the texture its square shows.
struct DemoArtHudBody {
    int32_t id;
    std::string file;
    std::string name;
    std::string texture;
};
std::vector<DemoArtHudBody> DemoArt_HudBodies();

std::vector<DemoArtSource> DemoArt_Models();
std::vector<DemoArtSource> DemoArt_Cuts();
std::vector<DemoArtPicture> DemoArt_Pictures();

// Writes every model source as "<folder>/<file>.model" and every cut source as
// "<folder>/<file>.cut" (folders made as needed); false with a reason.
bool DemoArt_WriteSources(const std::string& folder, std::string* error);
// Writes every picture as a DXT1 DDS file with its mip levels into the folder.
bool DemoArt_WritePictures(const std::string& folder, std::string* error);
