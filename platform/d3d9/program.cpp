// Shader programs of the Direct3D stand-in and their binary cache (see program.h).
#include "platform/d3d9/program.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/d3d9/glprogram.h"
#include "platform/d3d9/internal.h"
#include "platform/d3d9/prelude.h"

D3D9ProgramCacheCounts g_D3D9ProgramCache;

namespace {

class Program;

class PixelHalf final : public IDirect3DPixelShader9 {
public:
    explicit PixelHalf(Program* p) : program(p) {}
    ULONG AddRef() override;
    ULONG Release() override;
    Program* program;
};

class Program final : public IDirect3DVertexShader9 {
public:
    Program(IDirect3DDevice9* dev, GLuint name, D3D9ProgramOwner* o) : device(dev), gl(name), owner(o), pixel(this) {
        device->AddRef();
        ++g_D3D9LiveResources;
    }
    ULONG AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG Release() override {
        int left = --refs;
        if (left == 0) {
            IDirect3DDevice9* dev = device;
            if (auto* own = dynamic_cast<D3D9Device*>(dev)) {
                own->ForgetShaders(this, &pixel);
                if (gl && own->MakeCurrent()) own->DeleteProgram(gl);
            }
            D3D9_TellReleased(static_cast<IDirect3DVertexShader9*>(this));
            D3D9_TellReleased(static_cast<IDirect3DPixelShader9*>(&pixel));
            delete this;
            dev->Release();
        }
        return static_cast<ULONG>(left < 0 ? 0 : left);
    }
    IDirect3DDevice9* device;
    GLuint gl;
    D3D9ProgramOwner* owner;
    PixelHalf pixel;
    int refs = 1;

private:
    ~Program() override { --g_D3D9LiveResources; }
};

ULONG PixelHalf::AddRef() { return program->AddRef(); }
ULONG PixelHalf::Release() { return program->Release(); }

uint64_t Hash(uint64_t h, const std::string& s) {
    for (unsigned char c : s) {
        h ^= c;
        h *= 0x100000001B3ull;
    }
    h ^= 0xFF;  // keeps "ab"+"c" apart from "a"+"bc"
    h *= 0x100000001B3ull;
    return h;
}

std::string GLString(GLenum what) {
    const GLubyte* s = glGetString(what);
    return s ? reinterpret_cast<const char*>(s) : "";
}

void MakeFolders(const std::string& path) {
    for (size_t i = 1; i < path.size(); ++i)
        if (path[i] == '/') mkdir(path.substr(0, i).c_str(), 0755);
    mkdir(path.c_str(), 0755);
}

bool Linked(GLuint program) {
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    return ok != 0;
}

GLuint LoadCached(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    std::vector<uint8_t> bytes;
    uint8_t chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    if (bytes.size() <= 4) return 0;
    GLenum format =
        static_cast<GLenum>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24);
    GLuint program = glCreateProgram();
    glProgramBinary(program, format, bytes.data() + 4, static_cast<GLsizei>(bytes.size() - 4));
    while (glGetError() != GL_NO_ERROR) {}
    if (!Linked(program)) {
        glDeleteProgram(program);
        ++g_D3D9ProgramCache.rejected;
        return 0;
    }
    return program;
}

void Store(GLuint program, const std::string& folder, const std::string& path) {
    GLint length = 0;
    glGetProgramiv(program, GL_PROGRAM_BINARY_LENGTH, &length);
    if (length <= 0) return;
    std::vector<uint8_t> bytes(static_cast<size_t>(length) + 4);
    GLenum format = 0;
    GLsizei got = 0;
    glGetProgramBinary(program, length, &got, &format, bytes.data() + 4);
    if (got <= 0) return;
    for (int i = 0; i < 4; ++i) bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(format >> (8 * i));
    MakeFolders(folder);
    // Written aside, then renamed: a reader never sees half a binary.
    std::string temp = path + ".tmp";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) return;
    bool ok = std::fwrite(bytes.data(), 1, static_cast<size_t>(got) + 4, f) == static_cast<size_t>(got) + 4;
    ok = std::fclose(f) == 0 && ok;
    if (ok && std::rename(temp.c_str(), path.c_str()) == 0) ++g_D3D9ProgramCache.stored;
    else std::remove(temp.c_str());
}

}  // namespace

std::string D3D9_ProgramCacheFolder() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    std::string base;
    if (xdg && *xdg) base = xdg;
    else if (const char* home = std::getenv("HOME")) base = std::string(home) + "/.cache";
    else base = "/tmp";
    return base + "/Veldrim/programs";
}

GLuint D3D9_BuildCachedProgram(const char* vertexPrelude, const std::string& vertex, const char* fragmentPrelude,
                               const std::string& fragment, std::string* errors) {
    // The preludes are part of the key: a cached binary of an older prelude
    // must not come back after it changed.
    uint64_t key = 0xCBF29CE484222325ull;
    key = Hash(key, GLString(GL_RENDERER));
    key = Hash(key, GLString(GL_VERSION));
    key = Hash(key, vertexPrelude);
    key = Hash(key, vertex);
    key = Hash(key, fragmentPrelude);
    key = Hash(key, fragment);
    char file[32];
    std::snprintf(file, sizeof file, "/%016llx.bin", static_cast<unsigned long long>(key));
    std::string folder = D3D9_ProgramCacheFolder(), path = folder + file;
    GLint formats = 0;
    glGetIntegerv(GL_NUM_PROGRAM_BINARY_FORMATS, &formats);
    GLuint gl = formats > 0 ? LoadCached(path) : 0;
    if (gl) {
        ++g_D3D9ProgramCache.loaded;
        return gl;
    }
    gl = D3D9_BuildProgram(vertexPrelude, vertex.c_str(), fragmentPrelude, fragment.c_str(), errors, formats > 0);
    if (!gl) return 0;
    ++g_D3D9ProgramCache.compiled;
    if (formats > 0) Store(gl, folder, path);
    return gl;
}

HRESULT D3D9_CreateProgram(IDirect3DDevice9* device, const std::string& vertex, const std::string& fragment,
                           D3D9ProgramOwner* owner, IDirect3DVertexShader9** vertexShader,
                           IDirect3DPixelShader9** pixelShader, std::string* errors) {
    if (!device || !vertexShader || !pixelShader || !errors) return D3DERR_INVALIDCALL;
    *vertexShader = nullptr;
    *pixelShader = nullptr;
    GLuint gl = 0;
    if (auto* own = dynamic_cast<D3D9Device*>(device)) {
        if (!own->MakeCurrent()) return D3DERR_DEVICELOST;
        gl = D3D9_BuildCachedProgram(D3D9_VertexPrelude(), vertex, D3D9_FragmentPrelude(), fragment, errors);
        if (!gl) return E_FAIL;
        if (owner) {
            GLint previous = 0;
            glGetIntegerv(GL_CURRENT_PROGRAM, &previous);
            glUseProgram(gl);
            owner->D3D9_Linked(gl);
            glUseProgram(static_cast<GLuint>(previous));
        }
    }
    // One reference for the pair: the caller releases the vertex shader once.
    auto* p = new Program(device, gl, owner);
    *vertexShader = p;
    *pixelShader = &p->pixel;
    return D3D_OK;
}

unsigned D3D9_ProgramName(IUnknown* shader) {
    if (auto* p = dynamic_cast<Program*>(shader)) return p->gl;
    if (auto* h = dynamic_cast<PixelHalf*>(shader)) return h->program->gl;
    return 0;
}

// The draw's view of a bound pair: the program and its owner, or false when
// the objects are not a pair made here with a GL program.
bool D3D9_BoundProgram(IDirect3DVertexShader9* vs, IDirect3DPixelShader9* ps, GLuint* program,
                       D3D9ProgramOwner** owner) {
    auto* p = vs ? dynamic_cast<Program*>(vs) : nullptr;
    if (!p || !p->gl) return false;
    if (ps && ps != &p->pixel) return false;
    *program = p->gl;
    *owner = p->owner;
    return true;
}
