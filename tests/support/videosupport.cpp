#include "videosupport.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "base/memory.h"
#include "gamefolder.h"
#include "platform/d3d9/seam.h"
#include "render/device.h"
#include "system/adapter_info.h"
#include "system/adapters.h"
#include "system/entry.h"
#include "system/video.h"

namespace fs = std::filesystem;

static std::string ScratchRoot() {
    const char* s = getenv("TREVAN_TEST_SCRATCH");
    return (s && s[0]) ? s : fs::temp_directory_path().string();
}

void VideoTestBase::SetUp() {
    D3D9_ResetSeam();
    std::string pattern = ScratchRoot() + "/video-XXXXXX";
    std::string buf = pattern;
    ASSERT_NE(mkdtemp(buf.data()), nullptr);
    configDir = buf;
    const char* old = getenv("XDG_CONFIG_HOME");
    hadConfig_ = old != nullptr;
    if (old) oldConfig_ = old;
    setenv("XDG_CONFIG_HOME", configDir.c_str(), 1);
    std::memset(&g_ApplicationRecord, 0, sizeof g_ApplicationRecord);
    state = Int_AllocRecord<SystemState>(0);
    ASSERT_NE(state, nullptr);
    state->app = TestAppDescriptor();
    g_SystemState = state;
}

void VideoTestBase::TearDown() {
    CloseVideo();
    if (g_SystemState) ExitGeneral(1);  // frees what the settings made; reason 1 saves nothing
    g_SystemState = nullptr;
    if (hadConfig_) setenv("XDG_CONFIG_HOME", oldConfig_.c_str(), 1);
    else unsetenv("XDG_CONFIG_HOME");
    std::error_code ec;
    fs::remove_all(configDir, ec);
    D3D9_ResetSeam();
}

bool VideoTestBase::OpenVideo(int width, int height, bool windowed) {
    return OpenTestVideo(state, width, height, windowed);
}

void VideoTestBase::CloseVideo() { CloseTestVideo(); }

bool OpenTestVideo(SystemState* state, int width, int height, bool windowed) {
    state->width = static_cast<uint16_t>(width);
    state->height = static_cast<uint16_t>(height);
    state->depth = 32;
    if (windowed) state->videoFlags |= 0x8000000;
    else state->videoFlags &= ~0x8000000u;
    return S_InitVideo(width, height, 32, windowed ? 0x8000000 : 0) != nullptr;
}

void CloseTestVideo() {
    S_3DFreeLookupTextures();
    S_CloseVideoDevice(1);
    // Enumeration alone (no display record) leaves the tables to free here.
    if (g_RendererState) {
        S_FreeDevicesList();
        if (g_RendererState->d3d) g_RendererState->d3d->Release();
        Int_FreeRecord(g_RendererState, 0);
        g_RendererState = nullptr;
    }
}

void SeamOneAdapter(const char* description, unsigned desktopW, unsigned desktopH,
                    std::initializer_list<SeamMode> modes) {
    g_D3D9Seam.adaptersSeamed = true;
    D3D9SeamAdapter a;
    std::snprintf(a.identifier.Description, sizeof a.identifier.Description, "%s", description);
    std::snprintf(a.identifier.Driver, sizeof a.identifier.Driver, "%s", "seam");
    a.caps = D3D9_DefaultCaps();
    a.desktop = {desktopW, desktopH, 60, D3DFMT_X8R8G8B8};
    std::vector<D3DDISPLAYMODE> list;
    for (const SeamMode& m : modes) list.push_back({m.width, m.height, m.refresh, D3DFMT_X8R8G8B8});
    a.modes.push_back({D3DFMT_X8R8G8B8, list});
    g_D3D9Seam.adapters.push_back(a);
}
