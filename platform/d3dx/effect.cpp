// Our effect files and the D3DX effect over them (see d3dx9effect.h and
// data/effects/README.md). An effect reaches the device only through its state
// manager (or the device when it has none): at BeginPass it sets the pass's
// shader objects, render states, textures and sampler states. Parameter values
// live here and reach the GL program's uniforms when the device draws.
#include <epoxy/gl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <functional>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <unordered_set>
#include <sstream>
#include <vector>

#include "platform/d3d9/program.h"
#include "platform/d3dx/d3dx9.h"
#include "platform/d3dx/preprocess.h"

namespace {

D3DXFileReaderFn g_reader = nullptr;

// Values of one effect: far beyond what GL takes as uniforms, small enough
// that nested arrays in a hostile file cannot claim gigabytes.
constexpr size_t kMaxValueWords = 1u << 16;

bool SameText(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

uint32_t Bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}
float Float(uint32_t u) {
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}
// An effect file may give an integer parameter any number: one beyond the
// integer range saturates and NaN reads as 0, as a shader compiler folds them.
INT ToInt(float f) {
    if (std::isnan(f)) return 0;
    if (f >= 2147483648.0f) return INT32_MAX;
    if (f < -2147483648.0f) return INT32_MIN;
    return static_cast<INT>(f);
}

struct NamedValue {
    const char* name;
    DWORD value;
};
constexpr NamedValue kRenderStates[] = {
    {"ZEnable", 7},
    {"FillMode", 8},
    {"ZWriteEnable", 14},
    {"AlphaTestEnable", 15},
    {"SrcBlend", 19},
    {"DestBlend", 20},
    {"CullMode", 22},
    {"ZFunc", 23},
    {"AlphaRef", 24},
    {"AlphaFunc", 25},
    {"AlphaBlendEnable", 27},
    {"StencilEnable", 52},
    {"StencilFail", 53},
    {"StencilZFail", 54},
    {"StencilPass", 55},
    {"StencilFunc", 56},
    {"StencilRef", 57},
    {"StencilMask", 58},
    {"StencilWriteMask", 59},
    {"ColorWriteEnable", 168},
    {"Wrap0", 128},
    {"BlendOp", 171},
    {"ScissorTestEnable", 174},
    {"SlopeScaleDepthBias", 175},
    {"DepthBias", 195},
    {"SeparateAlphaBlendEnable", 206},
    {"SrcBlendAlpha", 207},
    {"DestBlendAlpha", 208},
    {"BlendOpAlpha", 209},
};
constexpr NamedValue kSamplerStates[] = {
    {"AddressU", 1},    {"AddressV", 2},       {"AddressW", 3},     {"BorderColor", 4},
    {"MagFilter", 5},   {"MinFilter", 6},      {"MipFilter", 7},    {"MipMapLodBias", 8},
    {"MaxMipLevel", 9}, {"MaxAnisotropy", 10}, {"SRGBTexture", 11},
};
template <size_t N>
bool Lookup(const NamedValue (&table)[N], const std::string& name, DWORD* value) {
    for (const auto& e : table)
        if (SameText(name, e.name)) {
            *value = e.value;
            return true;
        }
    return false;
}

// ---------------------------------------------------------------- the model

struct Param;

struct StateAssign {
    DWORD state;
    DWORD value;
    Param* ref;  // the value comes from this parameter when set
};

struct Param {
    std::string name, semantic;
    D3DXPARAMETER_CLASS cls = D3DXPC_SCALAR;
    D3DXPARAMETER_TYPE type = D3DXPT_VOID;
    UINT rows = 1, cols = 1, elements = 0;
    std::vector<Param*> members, items, annotations;
    size_t offset = 0, words = 0;  // numeric values in the effect's store
    std::string text;
    IDirect3DBaseTexture9* texture = nullptr;
    Param* top = nullptr;
    std::string path;  // GLSL name of a leaf
    std::string structType;
    // samplers
    int unit = -1;
    Param* textureRef = nullptr;
    std::vector<StateAssign> samplerStates;
    bool numeric() const { return type == D3DXPT_BOOL || type == D3DXPT_INT || type == D3DXPT_FLOAT; }
};

struct Stage {
    std::string name, body;
    bool vertex;
};

class Effect;

struct ProgramEntry final : D3D9ProgramOwner {
    Effect* effect = nullptr;
    IDirect3DVertexShader9* vs = nullptr;
    IDirect3DPixelShader9* ps = nullptr;
    // A uniform and its location; a 4 x 4 matrix of the top level goes up as
    // an array of its four rows, each its own location, so that only the
    // rows that changed are sent (a part that moves changes one row of its
    // world matrix and one of its world-view-projection).
    struct Uniform {
        Param* param;
        GLint location;
        bool byRows;
        std::array<GLint, 4> rows;  // the rows' locations (-1: no stage reads it)
    };
    std::vector<Uniform> uniforms;
    // The words each uniform last went up with, uniform after uniform: a
    // linked program starts with every uniform 0, and a value goes up again
    // only when it differs.
    std::vector<uint32_t> uploaded;
    void D3D9_SetUniforms(unsigned program) override;
    void D3D9_Linked(unsigned program) override;
};

struct Pass {
    std::string name;
    std::vector<Param*> annotations;
    const Stage* vs = nullptr;
    const Stage* fs = nullptr;
    std::vector<StateAssign> states;
    ProgramEntry* program = nullptr;
    std::set<Param*> used;         // top-level parameters
    std::vector<Param*> samplers;  // samplers its stages read
};

struct Technique {
    std::string name;
    std::vector<Param*> annotations;
    std::vector<std::unique_ptr<Pass>> passes;
};

struct BlockEntry {
    Param* param;
    std::vector<uint32_t> words;
    std::string text;
    IDirect3DBaseTexture9* texture;
};
struct Block {
    std::vector<BlockEntry> entries;
};

struct StructType {
    struct Member {
        std::string type, name;
        UINT elements;
    };
    std::vector<Member> members;
};

// ---------------------------------------------------------------- lexer

struct Token {
    enum Kind { End, Ident, Number, String, Punct } kind = End;
    std::string text;
    int line = 0;
};

class Lexer {
public:
    explicit Lexer(const std::string& s) : s_(s) {}
    Token Next() {
        Skip();
        Token t;
        t.line = line_;
        if (i_ >= s_.size()) return t;
        char c = s_[i_];
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            size_t a = i_;
            while (i_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[i_])) || s_[i_] == '_')) ++i_;
            t.kind = Token::Ident;
            t.text = s_.substr(a, i_ - a);
        } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '.' ||
                   (c == '-' && i_ + 1 < s_.size() &&
                    (std::isdigit(static_cast<unsigned char>(s_[i_ + 1])) || s_[i_ + 1] == '.'))) {
            size_t a = i_++;
            while (i_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[i_])) || s_[i_] == '.' ||
                                      ((s_[i_] == '-' || s_[i_] == '+') && (s_[i_ - 1] == 'e' || s_[i_ - 1] == 'E'))))
                ++i_;
            t.kind = Token::Number;
            t.text = s_.substr(a, i_ - a);
        } else if (c == '"') {
            size_t end = s_.find('"', i_ + 1);
            if (end == std::string::npos || s_.find('\n', i_ + 1) < end) {
                t.kind = Token::Punct;
                t.text = "\"";
                i_ = s_.size();
                return t;
            }
            t.kind = Token::String;
            t.text = s_.substr(i_ + 1, end - i_ - 1);
            i_ = end + 1;
        } else {
            t.kind = Token::Punct;
            t.text = std::string(1, c);
            ++i_;
        }
        return t;
    }
    // The raw text up to the brace matching one already taken; false when open.
    bool Raw(std::string* out) {
        int depth = 1;
        size_t a = i_;
        while (i_ < s_.size()) {
            if (s_.compare(i_, 2, "//") == 0) {
                while (i_ < s_.size() && s_[i_] != '\n') ++i_;
                continue;
            }
            if (s_.compare(i_, 2, "/*") == 0) {
                size_t e = s_.find("*/", i_ + 2);
                e = e == std::string::npos ? s_.size() : e + 2;
                for (size_t k = i_; k < e; ++k)
                    if (s_[k] == '\n') ++line_;
                i_ = e;
                continue;
            }
            char c = s_[i_];
            if (c == '\n') ++line_;
            if (c == '{') ++depth;
            if (c == '}' && --depth == 0) {
                *out = s_.substr(a, i_ - a);
                ++i_;
                return true;
            }
            ++i_;
        }
        return false;
    }
    int line() const { return line_; }

private:
    void Skip() {
        for (;;) {
            while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) {
                if (s_[i_] == '\n') ++line_;
                ++i_;
            }
            if (s_.compare(i_, 2, "//") == 0) {
                while (i_ < s_.size() && s_[i_] != '\n') ++i_;
            } else if (s_.compare(i_, 2, "/*") == 0) {
                size_t e = s_.find("*/", i_ + 2);
                e = e == std::string::npos ? s_.size() : e + 2;
                for (size_t k = i_; k < e; ++k)
                    if (s_[k] == '\n') ++line_;
                i_ = e;
            } else {
                return;
            }
        }
    }
    const std::string& s_;
    size_t i_ = 0;
    int line_ = 1;
};

// ---------------------------------------------------------------- the effect

class Effect final : public ID3DXEffect {
public:
    explicit Effect(IDirect3DDevice9* device) : device_(device) { device_->AddRef(); }

    bool Parse(const std::string& text, std::string* error);
    bool Link(std::string* error);

    ULONG AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG Release() override {
        int left = --refs_;
        if (left == 0) delete this;
        return static_cast<ULONG>(left < 0 ? 0 : left);
    }
    HRESULT GetDevice(IDirect3DDevice9** device) override {
        if (!device) return D3DERR_INVALIDCALL;
        device_->AddRef();
        *device = device_;
        return D3D_OK;
    }
    HRESULT GetDesc(D3DXEFFECT_DESC* desc) override {
        if (!desc) return D3DERR_INVALIDCALL;
        *desc = {"trevan effect", static_cast<UINT>(top_.size()), static_cast<UINT>(techniques_.size()),
                 static_cast<UINT>(stages_.size())};
        return D3D_OK;
    }
    HRESULT GetParameterDesc(D3DXHANDLE h, D3DXPARAMETER_DESC* desc) override {
        Param* p = ParamOf(h);
        if (!p || !desc) return D3DERR_INVALIDCALL;
        UINT bytes = static_cast<UINT>(p->words * 4);
        if (p->type == D3DXPT_STRING || p->cls == D3DXPC_OBJECT) bytes = sizeof(void*);
        *desc = {p->name.c_str(),
                 p->semantic.empty() ? nullptr : p->semantic.c_str(),
                 p->cls,
                 p->type,
                 p->rows,
                 p->cols,
                 p->elements,
                 static_cast<UINT>(p->annotations.size()),
                 static_cast<UINT>(p->members.size()),
                 0,
                 bytes};
        return D3D_OK;
    }
    HRESULT GetTechniqueDesc(D3DXHANDLE h, D3DXTECHNIQUE_DESC* desc) override {
        Technique* t = TechniqueOf(h);
        if (!t || !desc) return D3DERR_INVALIDCALL;
        *desc = {t->name.c_str(), static_cast<UINT>(t->passes.size()), static_cast<UINT>(t->annotations.size())};
        return D3D_OK;
    }
    HRESULT GetPassDesc(D3DXHANDLE h, D3DXPASS_DESC* desc) override {
        Pass* p = PassOf(h);
        if (!p || !desc) return D3DERR_INVALIDCALL;
        *desc = {p->name.c_str(), static_cast<UINT>(p->annotations.size()), nullptr, nullptr};
        return D3D_OK;
    }
    D3DXHANDLE GetParameter(D3DXHANDLE parent, UINT index) override {
        if (!parent) return index < top_.size() ? Handle(top_[index]) : nullptr;
        Param* p = ParamOf(parent);
        return p && index < p->members.size() ? Handle(p->members[index]) : nullptr;
    }
    D3DXHANDLE GetParameterByName(D3DXHANDLE parent, const char* name) override {
        if (!name) return nullptr;
        const std::vector<Param*>* list = &top_;
        if (parent) {
            Param* p = ParamOf(parent);
            if (!p) return nullptr;
            list = &p->members;
        }
        for (Param* p : *list)
            if (p->name == name) return Handle(p);
        return nullptr;
    }
    D3DXHANDLE GetParameterElement(D3DXHANDLE h, UINT index) override {
        Param* p = ParamOf(h);
        return p && index < p->items.size() ? Handle(p->items[index]) : nullptr;
    }
    D3DXHANDLE GetAnnotation(D3DXHANDLE h, UINT index) override {
        const std::vector<Param*>* list = AnnotationsOf(h);
        return list && index < list->size() ? Handle((*list)[index]) : nullptr;
    }
    D3DXHANDLE GetAnnotationByName(D3DXHANDLE h, const char* name) override {
        const std::vector<Param*>* list = AnnotationsOf(h);
        if (!list || !name) return nullptr;
        for (Param* a : *list)
            if (a->name == name) return Handle(a);
        return nullptr;
    }
    D3DXHANDLE GetTechnique(UINT index) override {
        return index < techniques_.size() ? Handle(techniques_[index].get()) : nullptr;
    }
    D3DXHANDLE GetTechniqueByName(const char* name) override {
        if (!name) return nullptr;
        for (auto& t : techniques_)
            if (t->name == name) return Handle(t.get());
        return nullptr;
    }
    D3DXHANDLE GetPass(D3DXHANDLE h, UINT index) override {
        Technique* t = TechniqueOf(h);
        return t && index < t->passes.size() ? Handle(t->passes[index].get()) : nullptr;
    }
    D3DXHANDLE GetPassByName(D3DXHANDLE h, const char* name) override {
        Technique* t = TechniqueOf(h);
        if (!t || !name) return nullptr;
        for (auto& p : t->passes)
            if (p->name == name) return Handle(p.get());
        return nullptr;
    }

    HRESULT SetValue(D3DXHANDLE h, const void* data, UINT bytes) override {
        Param* p = ParamOf(h);
        if (!p || !data || !p->numeric() || bytes < p->words * 4) return D3DERR_INVALIDCALL;
        std::memcpy(store_.data() + p->offset, data, p->words * 4);
        return Changed(p);
    }
    HRESULT GetValue(D3DXHANDLE h, void* data, UINT bytes) override {
        Param* p = ParamOf(h);
        if (!p || !data || !p->numeric() || bytes < p->words * 4) return D3DERR_INVALIDCALL;
        std::memcpy(data, store_.data() + p->offset, p->words * 4);
        return D3D_OK;
    }
    HRESULT SetBool(D3DXHANDLE h, BOOL v) override { return SetScalars(h, {v ? 1.0f : 0.0f}, true); }
    HRESULT GetBool(D3DXHANDLE h, BOOL* v) override {
        float f;
        if (!v || !GetScalar(h, &f)) return D3DERR_INVALIDCALL;
        *v = f != 0.0f;
        return D3D_OK;
    }
    HRESULT SetInt(D3DXHANDLE h, INT v) override { return SetScalars(h, {static_cast<float>(v)}, true, &v); }
    HRESULT GetInt(D3DXHANDLE h, INT* v) override {
        Param* p = ParamOf(h);
        if (!v || !p || !p->numeric() || p->words == 0) return D3DERR_INVALIDCALL;
        uint32_t w = store_[p->offset];
        *v = p->type == D3DXPT_FLOAT ? ToInt(Float(w)) : static_cast<INT>(w);
        return D3D_OK;
    }
    HRESULT SetFloat(D3DXHANDLE h, float v) override { return SetScalars(h, {v}, true); }
    HRESULT GetFloat(D3DXHANDLE h, float* v) override {
        if (!v || !GetScalar(h, v)) return D3DERR_INVALIDCALL;
        return D3D_OK;
    }
    HRESULT SetVector(D3DXHANDLE h, const D3DXVECTOR4* v) override {
        if (!v) return D3DERR_INVALIDCALL;
        return SetScalars(h, {v->x, v->y, v->z, v->w}, false);
    }
    HRESULT GetVector(D3DXHANDLE h, D3DXVECTOR4* v) override {
        Param* p = ParamOf(h);
        if (!v || !p || !p->numeric() || p->cls == D3DXPC_MATRIX_ROWS) return D3DERR_INVALIDCALL;
        float f[4] = {0, 0, 0, 0};
        for (size_t i = 0; i < 4 && i < p->words; ++i) f[i] = Read(p, i);
        *v = {f[0], f[1], f[2], f[3]};
        return D3D_OK;
    }
    HRESULT SetMatrix(D3DXHANDLE h, const D3DXMATRIX* m) override {
        Param* p = ParamOf(h);
        if (!m || !p || p->cls != D3DXPC_MATRIX_ROWS) return D3DERR_INVALIDCALL;
        if (p->type == D3DXPT_FLOAT) {
            // Float words are the floats' bits: a row at a time.
            for (UINT r = 0; r < p->rows; ++r)
                std::memcpy(&store_[p->offset + r * p->cols], m->m[r], p->cols * sizeof(float));
        } else {
            for (UINT r = 0; r < p->rows; ++r)
                for (UINT c = 0; c < p->cols; ++c) Write(p, r * p->cols + c, m->m[r][c]);
        }
        return Changed(p);
    }
    HRESULT GetMatrix(D3DXHANDLE h, D3DXMATRIX* m) override {
        Param* p = ParamOf(h);
        if (!m || !p || p->cls != D3DXPC_MATRIX_ROWS) return D3DERR_INVALIDCALL;
        *m = {};
        for (UINT r = 0; r < p->rows; ++r)
            for (UINT c = 0; c < p->cols; ++c) m->m[r][c] = Read(p, r * p->cols + c);
        return D3D_OK;
    }
    HRESULT SetString(D3DXHANDLE h, const char* v) override {
        Param* p = ParamOf(h);
        if (!v || !p || p->type != D3DXPT_STRING) return D3DERR_INVALIDCALL;
        p->text = v;
        return Changed(p);
    }
    HRESULT GetString(D3DXHANDLE h, const char** v) override {
        Param* p = ParamOf(h);
        if (!v || !p || p->type != D3DXPT_STRING) return D3DERR_INVALIDCALL;
        *v = p->text.c_str();
        return D3D_OK;
    }
    HRESULT SetTexture(D3DXHANDLE h, IDirect3DBaseTexture9* texture) override {
        Param* p = ParamOf(h);
        if (!p || !IsTexture(p)) return D3DERR_INVALIDCALL;
        if (p->texture != texture) Hold(&p->texture, texture);
        return Changed(p);
    }
    HRESULT GetTexture(D3DXHANDLE h, IDirect3DBaseTexture9** texture) override {
        Param* p = ParamOf(h);
        if (!texture || !p || !IsTexture(p)) return D3DERR_INVALIDCALL;
        *texture = p->texture;
        if (p->texture) p->texture->AddRef();
        return D3D_OK;
    }

    HRESULT SetTechnique(D3DXHANDLE h) override {
        Technique* t = TechniqueOf(h);
        if (!t) return D3DERR_INVALIDCALL;
        current_ = t;
        return D3D_OK;
    }
    D3DXHANDLE GetCurrentTechnique() override { return current_ ? Handle(current_) : nullptr; }
    HRESULT ValidateTechnique(D3DXHANDLE h) override {
        Technique* t = TechniqueOf(h);
        return t && Valid(t) ? D3D_OK : D3DERR_INVALIDCALL;
    }
    HRESULT FindNextValidTechnique(D3DXHANDLE h, D3DXHANDLE* next) override {
        if (!next) return D3DERR_INVALIDCALL;
        *next = nullptr;
        size_t start = 0;
        if (h) {
            Technique* t = TechniqueOf(h);
            if (!t) return D3DERR_INVALIDCALL;
            while (techniques_[start].get() != t) ++start;
            ++start;
        }
        for (size_t i = start; i < techniques_.size(); ++i)
            if (Valid(techniques_[i].get())) {
                *next = Handle(techniques_[i].get());
                return D3D_OK;
            }
        return S_FALSE;
    }
    BOOL IsParameterUsed(D3DXHANDLE h, D3DXHANDLE tech) override {
        Param* p = ParamOf(h);
        Technique* t = TechniqueOf(tech);
        if (!p || !t) return 0;
        for (auto& pass : t->passes)
            if (pass->used.count(p->top)) return 1;
        return 0;
    }

    HRESULT Begin(UINT* passes, DWORD) override {
        if (!current_ || begun_) return D3DERR_INVALIDCALL;
        begun_ = true;
        if (passes) *passes = static_cast<UINT>(current_->passes.size());
        return D3D_OK;
    }
    HRESULT BeginPass(UINT index) override {
        if (!begun_ || activePass_ || index >= current_->passes.size()) return D3DERR_INVALIDCALL;
        activePass_ = current_->passes[index].get();
        return ApplyPass(activePass_);
    }
    HRESULT CommitChanges() override { return activePass_ ? ApplyPass(activePass_) : D3DERR_INVALIDCALL; }
    HRESULT EndPass() override {
        if (!activePass_) return D3DERR_INVALIDCALL;
        activePass_ = nullptr;
        return D3D_OK;
    }
    HRESULT End() override {
        if (!begun_) return D3DERR_INVALIDCALL;
        begun_ = false;
        activePass_ = nullptr;
        return D3D_OK;
    }

    // Nothing of an effect lives in the default pool.
    HRESULT OnLostDevice() override { return D3D_OK; }
    HRESULT OnResetDevice() override { return D3D_OK; }
    HRESULT SetStateManager(ID3DXEffectStateManager* manager) override {
        if (manager) manager->AddRef();
        if (manager_) manager_->Release();
        manager_ = manager;
        return D3D_OK;
    }
    HRESULT GetStateManager(ID3DXEffectStateManager** manager) override {
        if (!manager) return D3DERR_INVALIDCALL;
        *manager = manager_;
        if (manager_) manager_->AddRef();
        return D3D_OK;
    }

    HRESULT BeginParameterBlock() override {
        if (recording_) return D3DERR_INVALIDCALL;
        recording_ = std::make_unique<Block>();
        return D3D_OK;
    }
    D3DXHANDLE EndParameterBlock() override {
        if (!recording_) return nullptr;
        Block* b = recording_.get();
        blocks_.push_back(std::move(recording_));
        return reinterpret_cast<D3DXHANDLE>(b);
    }
    HRESULT ApplyParameterBlock(D3DXHANDLE h) override {
        Block* b = BlockOf(h);
        if (!b) return D3DERR_INVALIDCALL;
        for (const auto& e : b->entries) {
            if (e.param->numeric()) std::copy(e.words.begin(), e.words.end(), store_.begin() + e.param->offset);
            else if (e.param->type == D3DXPT_STRING) e.param->text = e.text;
            else Hold(&e.param->texture, e.texture);
            Changed(e.param);
        }
        return D3D_OK;
    }
    HRESULT DeleteParameterBlock(D3DXHANDLE h) override {
        Block* b = BlockOf(h);
        if (!b) return D3DERR_INVALIDCALL;
        for (size_t i = 0; i < blocks_.size(); ++i)
            if (blocks_[i].get() == b) {
                Drop(b);
                blocks_.erase(blocks_.begin() + static_cast<long>(i));
                break;
            }
        return D3D_OK;
    }

    // Uniform upload for one program (inside a draw): what changed since the last.
    void Upload(ProgramEntry& entry) const {
        uint32_t* last = entry.uploaded.data();
        for (const auto& u : entry.uniforms) {
            const Param* p = u.param;
            const uint32_t* w = store_.data() + p->offset;
            uint32_t* was = last;
            last += p->words;
            if (std::equal(w, w + p->words, was)) continue;
            if (u.byRows) {
                UploadRows(u, w, was);
                continue;
            }
            std::copy(w, w + p->words, was);
            if (p->type == D3DXPT_FLOAT) {
                const float* f = reinterpret_cast<const float*>(w);
                if (p->cls == D3DXPC_MATRIX_ROWS && p->rows == 4 && p->cols == 4)
                    glUniformMatrix4fv(u.location, 1, GL_FALSE, f);
                else if (p->cls == D3DXPC_MATRIX_ROWS && p->rows == 3 && p->cols == 3)
                    glUniformMatrix3fv(u.location, 1, GL_FALSE, f);
                else if (p->cols == 1) glUniform1fv(u.location, 1, f);
                else if (p->cols == 2) glUniform2fv(u.location, 1, f);
                else if (p->cols == 3) glUniform3fv(u.location, 1, f);
                else glUniform4fv(u.location, 1, f);
            } else {
                const GLint* i = reinterpret_cast<const GLint*>(w);
                if (p->cols == 1) glUniform1iv(u.location, 1, i);
                else if (p->cols == 2) glUniform2iv(u.location, 1, i);
                else if (p->cols == 3) glUniform3iv(u.location, 1, i);
                else glUniform4iv(u.location, 1, i);
            }
        }
    }
    const std::vector<Param*>& Leaves() const { return leaves_; }
    const std::vector<Param*>& Samplers() const { return samplers_; }
    // Matrices of the top level go to GLSL as arrays of their rows.
    static bool SentByRows(const Param* p) {
        return p->top == p && p->elements == 0 && p->cls == D3DXPC_MATRIX_ROWS && p->type == D3DXPT_FLOAT &&
               p->rows == 4 && p->cols == 4;
    }
    static std::string RowsName(const Param* p) { return "d3d_rows_" + p->name; }

private:
    // The rows of a matrix that differ from their last upload (`was`), one
    // call for each run of them.
    static void UploadRows(const ProgramEntry::Uniform& u, const uint32_t* w, uint32_t* was) {
        auto sends = [&](size_t k) { return u.rows[k] >= 0 && !std::equal(w + 4 * k, w + 4 * k + 4, was + 4 * k); };
        for (size_t r = 0; r < 4;) {
            if (!sends(r)) {
                ++r;
                continue;
            }
            size_t end = r + 1;
            while (end < 4 && sends(end)) ++end;
            glUniform4fv(u.rows[r], static_cast<GLsizei>(end - r), reinterpret_cast<const float*>(w) + 4 * r);
            r = end;
        }
        std::copy(w, w + 16, was);
    }
    ~Effect() override {
        for (auto& b : blocks_) Drop(b.get());
        if (recording_) Drop(recording_.get());
        for (auto& p : all_)
            if (p->texture) p->texture->Release();
        for (auto& e : programs_)
            if (e.second->vs) e.second->vs->Release();
        if (manager_) manager_->Release();
        device_->Release();
    }

    static D3DXHANDLE Handle(const void* p) { return static_cast<D3DXHANDLE>(p); }
    Param* ParamOf(D3DXHANDLE h) const {
        if (!h || !paramSet_.count(h)) return nullptr;
        return const_cast<Param*>(reinterpret_cast<const Param*>(h));
    }
    Technique* TechniqueOf(D3DXHANDLE h) const {
        for (auto& t : techniques_)
            if (Handle(t.get()) == h) return t.get();
        return nullptr;
    }
    Pass* PassOf(D3DXHANDLE h) const {
        for (auto& t : techniques_)
            for (auto& p : t->passes)
                if (Handle(p.get()) == h) return p.get();
        return nullptr;
    }
    Block* BlockOf(D3DXHANDLE h) const {
        for (auto& b : blocks_)
            if (Handle(b.get()) == h) return b.get();
        return nullptr;
    }
    const std::vector<Param*>* AnnotationsOf(D3DXHANDLE h) const {
        if (Param* p = ParamOf(h)) return &p->annotations;
        if (Technique* t = TechniqueOf(h)) return &t->annotations;
        if (Pass* p = PassOf(h)) return &p->annotations;
        return nullptr;
    }
    static bool IsTexture(const Param* p) {
        return p->type == D3DXPT_TEXTURE || p->type == D3DXPT_TEXTURE2D || p->type == D3DXPT_TEXTURECUBE;
    }
    static void Hold(IDirect3DBaseTexture9** slot, IDirect3DBaseTexture9* texture) {
        if (texture) texture->AddRef();
        if (*slot) (*slot)->Release();
        *slot = texture;
    }
    static void Drop(Block* b) {
        for (auto& e : b->entries)
            if (e.texture) e.texture->Release();
        b->entries.clear();
    }
    bool Valid(const Technique* t) const {
        for (auto& p : t->passes)
            if (!p->program || !p->program->vs) return false;
        return !t->passes.empty();
    }

    float Read(const Param* p, size_t i) const {
        uint32_t w = store_[p->offset + i];
        if (p->type == D3DXPT_FLOAT) return Float(w);
        return static_cast<float>(static_cast<int32_t>(w));
    }
    void Write(Param* p, size_t i, float f, const INT* exact = nullptr) {
        uint32_t& w = store_[p->offset + i];
        if (p->type == D3DXPT_FLOAT) w = Bits(f);
        else if (p->type == D3DXPT_BOOL) w = f != 0.0f ? 1u : 0u;
        else w = static_cast<uint32_t>(exact ? *exact : ToInt(f));
    }
    HRESULT SetScalars(D3DXHANDLE h, std::initializer_list<float> values, bool scalar, const INT* exact = nullptr) {
        Param* p = ParamOf(h);
        if (!p || !p->numeric() || p->words == 0) return D3DERR_INVALIDCALL;
        if (scalar) {
            Write(p, 0, *values.begin(), exact);
        } else {
            if (p->cls == D3DXPC_MATRIX_ROWS) return D3DERR_INVALIDCALL;
            size_t i = 0;
            for (float f : values)
                if (i < p->words) Write(p, i++, f);
        }
        return Changed(p);
    }
    bool GetScalar(D3DXHANDLE h, float* f) const {
        Param* p = ParamOf(h);
        if (!p || !p->numeric() || p->words == 0) return false;
        *f = Read(p, 0);
        return true;
    }
    HRESULT Changed(Param* p) {
        if (recording_) {
            BlockEntry e{p, {}, {}, nullptr};
            if (p->numeric()) e.words.assign(store_.begin() + p->offset, store_.begin() + p->offset + p->words);
            else if (p->type == D3DXPT_STRING) e.text = p->text;
            else Hold(&e.texture, p->texture);
            recording_->entries.push_back(std::move(e));
        }
        return D3D_OK;
    }

    DWORD StateValue(const StateAssign& s) const {
        if (!s.ref) return s.value;
        if (!s.ref->numeric() || s.ref->words == 0) return 0;
        uint32_t w = store_[s.ref->offset];
        return s.ref->type == D3DXPT_FLOAT ? static_cast<DWORD>(Float(w)) : w;
    }
    HRESULT ApplyPass(const Pass* pass) {
        HRESULT result = D3D_OK;
        auto keep = [&](HRESULT hr) {
            if (hr < 0 && result >= 0) result = hr;
        };
        IDirect3DVertexShader9* vs = pass->program ? pass->program->vs : nullptr;
        IDirect3DPixelShader9* ps = pass->program ? pass->program->ps : nullptr;
        if (manager_) {
            keep(manager_->SetVertexShader(vs));
            keep(manager_->SetPixelShader(ps));
            for (const auto& s : pass->states) keep(manager_->SetRenderState(s.state, StateValue(s)));
            for (const Param* smp : pass->samplers) {
                DWORD unit = static_cast<DWORD>(smp->unit);
                keep(manager_->SetTexture(unit, smp->textureRef ? smp->textureRef->texture : nullptr));
                for (const auto& s : smp->samplerStates) keep(manager_->SetSamplerState(unit, s.state, StateValue(s)));
            }
        } else {
            keep(device_->SetVertexShader(vs));
            keep(device_->SetPixelShader(ps));
            for (const auto& s : pass->states) keep(device_->SetRenderState(s.state, StateValue(s)));
            for (const Param* smp : pass->samplers) {
                DWORD unit = static_cast<DWORD>(smp->unit);
                keep(device_->SetTexture(unit, smp->textureRef ? smp->textureRef->texture : nullptr));
                for (const auto& s : smp->samplerStates) keep(device_->SetSamplerState(unit, s.state, StateValue(s)));
            }
        }
        return result;
    }

    // ---- parsing
    bool Fail(const Token& t, const std::string& what, std::string* error) {
        *error = "line " + std::to_string(t.line) + ": " + what + (t.text.empty() ? "" : " near '" + t.text + "'");
        return false;
    }
    Param* NewParam() {
        all_.push_back(std::make_unique<Param>());
        Param* p = all_.back().get();
        paramSet_.insert(Handle(p));
        return p;
    }
    bool BasicType(const std::string& t, Param* p) const;
    Param* Build(const std::string& type, const std::string& name, UINT elements, Param* top, const std::string& path,
                 int depth);
    bool ParseInit(Lexer& lx, std::vector<float>* numbers, std::string* text, bool* isText, std::string* error);
    bool ParseAnnotations(Lexer& lx, Token& t, std::vector<Param*>* out, std::string* error);
    bool ParseStateValue(Lexer& lx, DWORD* value, Param** ref, std::string* error);
    bool Assign(Param* p, const std::vector<float>& numbers, const std::string& text, bool isText);

    int refs_ = 1;
    IDirect3DDevice9* device_;
    ID3DXEffectStateManager* manager_ = nullptr;
    std::vector<std::unique_ptr<Param>> all_;
    std::unordered_set<D3DXHANDLE> paramSet_;  // asked on every Set and Get
    std::vector<Param*> top_, leaves_, samplers_;
    std::vector<uint32_t> store_;
    std::map<std::string, StructType> structs_;
    std::vector<std::unique_ptr<Stage>> stages_;
    std::vector<std::unique_ptr<Technique>> techniques_;
    std::map<std::pair<const Stage*, const Stage*>, std::unique_ptr<ProgramEntry>> programs_;
    Technique* current_ = nullptr;
    Pass* activePass_ = nullptr;
    bool begun_ = false;
    std::unique_ptr<Block> recording_;
    std::vector<std::unique_ptr<Block>> blocks_;
};

void ProgramEntry::D3D9_SetUniforms(unsigned) { effect->Upload(*this); }

void ProgramEntry::D3D9_Linked(unsigned program) {
    uniforms.clear();
    size_t words = 0;
    for (Param* leaf : effect->Leaves()) {
        Uniform u{leaf, -1, Effect::SentByRows(leaf), {-1, -1, -1, -1}};
        if (u.byRows) {
            std::string row = Effect::RowsName(leaf) + "[0]";
            bool any = false;
            for (size_t r = 0; r < 4; ++r) {
                row[row.size() - 2] = static_cast<char>('0' + r);
                u.rows[r] = glGetUniformLocation(program, row.c_str());
                any = any || u.rows[r] >= 0;
            }
            if (!any) continue;
        } else {
            u.location = glGetUniformLocation(program, leaf->path.c_str());
            if (u.location < 0) continue;
        }
        uniforms.push_back(u);
        words += leaf->words;
    }
    uploaded.assign(words, 0);
    for (Param* s : effect->Samplers()) {
        GLint location = glGetUniformLocation(program, s->name.c_str());
        if (location >= 0) glUniform1i(location, s->unit);
    }
}

bool Effect::BasicType(const std::string& t, Param* p) const {
    struct Row {
        const char* name;
        D3DXPARAMETER_CLASS cls;
        D3DXPARAMETER_TYPE type;
        UINT rows, cols;
    };
    static const Row rows[] = {
        {"bool", D3DXPC_SCALAR, D3DXPT_BOOL, 1, 1},
        {"int", D3DXPC_SCALAR, D3DXPT_INT, 1, 1},
        {"int2", D3DXPC_VECTOR, D3DXPT_INT, 1, 2},
        {"int3", D3DXPC_VECTOR, D3DXPT_INT, 1, 3},
        {"int4", D3DXPC_VECTOR, D3DXPT_INT, 1, 4},
        {"float", D3DXPC_SCALAR, D3DXPT_FLOAT, 1, 1},
        {"float2", D3DXPC_VECTOR, D3DXPT_FLOAT, 1, 2},
        {"float3", D3DXPC_VECTOR, D3DXPT_FLOAT, 1, 3},
        {"float4", D3DXPC_VECTOR, D3DXPT_FLOAT, 1, 4},
        {"float3x3", D3DXPC_MATRIX_ROWS, D3DXPT_FLOAT, 3, 3},
        {"float4x4", D3DXPC_MATRIX_ROWS, D3DXPT_FLOAT, 4, 4},
        {"matrix", D3DXPC_MATRIX_ROWS, D3DXPT_FLOAT, 4, 4},
        {"string", D3DXPC_OBJECT, D3DXPT_STRING, 1, 1},
        {"texture", D3DXPC_OBJECT, D3DXPT_TEXTURE, 1, 1},
        {"texture2D", D3DXPC_OBJECT, D3DXPT_TEXTURE2D, 1, 1},
        {"textureCUBE", D3DXPC_OBJECT, D3DXPT_TEXTURECUBE, 1, 1},
        {"sampler", D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1},
        {"sampler2D", D3DXPC_OBJECT, D3DXPT_SAMPLER2D, 1, 1},
        {"samplerCUBE", D3DXPC_OBJECT, D3DXPT_SAMPLERCUBE, 1, 1},
    };
    for (const auto& r : rows)
        if (t == r.name) {
            p->cls = r.cls;
            p->type = r.type;
            p->rows = r.rows;
            p->cols = r.cols;
            return true;
        }
    return false;
}

Param* Effect::Build(const std::string& type, const std::string& name, UINT elements, Param* top,
                     const std::string& path, int depth) {
    if (depth > 8 || store_.size() > kMaxValueWords || all_.size() > kMaxValueWords) return nullptr;
    Param* p = NewParam();
    p->name = name;
    p->top = top ? top : p;
    p->path = path;
    if (elements > 0) {
        Param probe;
        if (BasicType(type, &probe)) {
            p->cls = probe.cls;
            p->type = probe.type;
            p->rows = probe.rows;
            p->cols = probe.cols;
        } else {
            p->cls = D3DXPC_STRUCT;
            p->structType = type;
        }
        p->elements = elements;
        p->offset = store_.size();
        for (UINT i = 0; i < elements; ++i) {
            Param* item = Build(type, name, 0, p->top, path + "[" + std::to_string(i) + "]", depth + 1);
            if (!item) return nullptr;
            p->items.push_back(item);
        }
        p->words = store_.size() - p->offset;
        return p;
    }
    if (BasicType(type, p)) {
        if (p->numeric()) {
            p->offset = store_.size();
            p->words = p->rows * p->cols;
            store_.resize(store_.size() + p->words, 0);
            leaves_.push_back(p);
        }
        return p;
    }
    auto it = structs_.find(type);
    if (it == structs_.end()) return nullptr;
    p->cls = D3DXPC_STRUCT;
    p->structType = type;
    p->offset = store_.size();
    for (const auto& m : it->second.members) {
        Param* member = Build(m.type, m.name, m.elements, p->top, path + "." + m.name, depth + 1);
        if (!member) return nullptr;
        p->members.push_back(member);
    }
    p->words = store_.size() - p->offset;
    return p;
}

bool Effect::Assign(Param* p, const std::vector<float>& numbers, const std::string& text, bool isText) {
    if (p->type == D3DXPT_STRING) {
        if (!isText) return false;
        p->text = text;
        return true;
    }
    if (isText || !p->numeric()) return false;
    if (numbers.size() > p->words) return false;
    // Leaves in order: arrays and structs take the flat list.
    std::vector<Param*> order;
    std::vector<Param*> todo{p};
    std::function<void(Param*)> walk = [&](Param* q) {
        if (!q->items.empty()) {
            for (Param* i : q->items) walk(i);
        } else if (!q->members.empty()) {
            for (Param* m : q->members) walk(m);
        } else {
            order.push_back(q);
        }
    };
    walk(p);
    size_t k = 0;
    for (Param* leaf : order)
        for (size_t i = 0; i < leaf->words && k < numbers.size(); ++i) Write(leaf, i, numbers[k++]);
    return true;
}

bool Effect::ParseInit(Lexer& lx, std::vector<float>* numbers, std::string* text, bool* isText, std::string* error) {
    Token t = lx.Next();
    *isText = false;
    if (t.kind == Token::String) {
        *isText = true;
        *text = t.text;
        return true;
    }
    auto number = [&](const Token& n) {
        if (n.kind == Token::Number) {
            numbers->push_back(std::strtof(n.text.c_str(), nullptr));
            return true;
        }
        if (n.kind == Token::Ident && (n.text == "true" || n.text == "false")) {
            numbers->push_back(n.text == "true" ? 1.0f : 0.0f);
            return true;
        }
        return false;
    };
    if (number(t)) return true;
    if (t.text != "{") return Fail(t, "expected a value", error);
    for (;;) {
        t = lx.Next();
        if (!number(t)) return Fail(t, "expected a number", error);
        t = lx.Next();
        if (t.text == "}") return true;
        if (t.text != ",") return Fail(t, "expected ',' or '}'", error);
    }
}

bool Effect::ParseAnnotations(Lexer& lx, Token& t, std::vector<Param*>* out, std::string* error) {
    if (t.text != "<") return true;
    for (;;) {
        t = lx.Next();
        if (t.text == ">") {
            t = lx.Next();
            return true;
        }
        if (t.kind != Token::Ident) return Fail(t, "expected an annotation type", error);
        Token name = lx.Next();
        if (name.kind != Token::Ident) return Fail(name, "expected an annotation name", error);
        Param* a = Build(t.text, name.text, 0, nullptr, name.text, 0);
        if (!a || !(a->numeric() || a->type == D3DXPT_STRING)) return Fail(t, "unknown annotation type", error);
        leaves_.erase(std::remove(leaves_.begin(), leaves_.end(), a), leaves_.end());
        Token eq = lx.Next();
        if (eq.text != "=") return Fail(eq, "expected '='", error);
        std::vector<float> numbers;
        std::string text;
        bool isText;
        if (!ParseInit(lx, &numbers, &text, &isText, error)) return false;
        if (!Assign(a, numbers, text, isText)) return Fail(name, "value does not fit the annotation", error);
        Token semi = lx.Next();
        if (semi.text != ";") return Fail(semi, "expected ';'", error);
        out->push_back(a);
    }
}

bool Effect::ParseStateValue(Lexer& lx, DWORD* value, Param** ref, std::string* error) {
    Token t = lx.Next();
    *ref = nullptr;
    if (t.text == "<") {
        Token name = lx.Next();
        Token close = lx.Next();
        if (name.kind != Token::Ident || close.text != ">") return Fail(name, "expected <parameter>", error);
        for (Param* p : top_)
            if (p->name == name.text) *ref = p;
        if (!*ref) return Fail(name, "unknown parameter", error);
        return true;
    }
    if (t.kind == Token::Ident && (t.text == "true" || t.text == "false")) {
        *value = t.text == "true";
        return true;
    }
    if (t.kind != Token::Number) return Fail(t, "expected a value", error);
    *value = static_cast<DWORD>(std::strtoll(t.text.c_str(), nullptr, 0));
    return true;
}

bool Effect::Parse(const std::string& text, std::string* error) {
    Lexer lx(text);
    Token t = lx.Next();
    while (t.kind != Token::End) {
        if (t.kind != Token::Ident) return Fail(t, "unexpected", error);
        if (t.text == "struct") {
            Token name = lx.Next();
            Token open = lx.Next();
            if (name.kind != Token::Ident || open.text != "{") return Fail(name, "bad struct", error);
            StructType st;
            for (;;) {
                Token type = lx.Next();
                if (type.text == "}") break;
                Token member = lx.Next();
                Param probe;
                if (type.kind != Token::Ident || member.kind != Token::Ident ||
                    (!BasicType(type.text, &probe) && !structs_.count(type.text)) || (probe.cls == D3DXPC_OBJECT))
                    return Fail(type, "bad struct member", error);
                Token next = lx.Next();
                UINT n = 0;
                if (next.text == "[") {
                    Token count = lx.Next();
                    Token close = lx.Next();
                    if (count.kind != Token::Number || close.text != "]") return Fail(count, "bad array", error);
                    n = static_cast<UINT>(std::strtoul(count.text.c_str(), nullptr, 10));
                    if (n == 0 || n > 256) return Fail(count, "bad array size", error);
                    next = lx.Next();
                }
                if (next.text != ";") return Fail(next, "expected ';'", error);
                st.members.push_back({type.text, member.text, n});
            }
            if (st.members.empty()) return Fail(name, "empty struct", error);
            structs_[name.text] = st;
            t = lx.Next();
            if (t.text == ";") t = lx.Next();
            continue;
        }
        if (t.text == "glsl") {
            Token kind = lx.Next();
            Token name = lx.Next();
            Token open = lx.Next();
            if ((kind.text != "vertex" && kind.text != "fragment") || name.kind != Token::Ident || open.text != "{")
                return Fail(kind, "expected glsl vertex|fragment NAME {", error);
            for (auto& s : stages_)
                if (s->name == name.text) return Fail(name, "stage defined twice", error);
            auto stage = std::make_unique<Stage>();
            stage->name = name.text;
            stage->vertex = kind.text == "vertex";
            // Line numbers of GLSL messages count from the block's first line.
            stage->body = "#line " + std::to_string(lx.line()) + "\n";
            std::string body;
            if (!lx.Raw(&body)) return Fail(name, "stage block not closed", error);
            stage->body += body;
            stages_.push_back(std::move(stage));
            t = lx.Next();
            if (t.text == ";") t = lx.Next();
            continue;
        }
        if (t.text == "technique") {
            auto tech = std::make_unique<Technique>();
            Token name = lx.Next();
            if (name.kind != Token::Ident) return Fail(name, "expected a technique name", error);
            for (auto& o : techniques_)
                if (o->name == name.text) return Fail(name, "technique defined twice", error);
            tech->name = name.text;
            t = lx.Next();
            if (!ParseAnnotations(lx, t, &tech->annotations, error)) return false;
            if (t.text != "{") return Fail(t, "expected '{'", error);
            for (t = lx.Next(); t.text != "}"; t = lx.Next()) {
                if (t.text != "pass") return Fail(t, "expected pass", error);
                auto pass = std::make_unique<Pass>();
                Token pn = lx.Next();
                if (pn.kind != Token::Ident) return Fail(pn, "expected a pass name", error);
                pass->name = pn.text;
                t = lx.Next();
                if (!ParseAnnotations(lx, t, &pass->annotations, error)) return false;
                if (t.text != "{") return Fail(t, "expected '{'", error);
                for (t = lx.Next(); t.text != "}"; t = lx.Next()) {
                    if (t.kind != Token::Ident) return Fail(t, "expected a state", error);
                    Token eq = lx.Next();
                    if (eq.text != "=") return Fail(eq, "expected '='", error);
                    if (t.text == "VertexShader" || t.text == "PixelShader" || t.text == "FragmentShader") {
                        Token sn = lx.Next();
                        const Stage* found = nullptr;
                        for (auto& s : stages_)
                            if (s->name == sn.text) found = s.get();
                        bool vertex = t.text == "VertexShader";
                        if (!found || found->vertex != vertex) return Fail(sn, "unknown stage", error);
                        (vertex ? pass->vs : pass->fs) = found;
                    } else {
                        StateAssign s{0, 0, nullptr};
                        if (!Lookup(kRenderStates, t.text, &s.state)) return Fail(t, "unknown render state", error);
                        if (!ParseStateValue(lx, &s.value, &s.ref, error)) return false;
                        pass->states.push_back(s);
                    }
                    Token semi = lx.Next();
                    if (semi.text != ";") return Fail(semi, "expected ';'", error);
                }
                if (!pass->vs || !pass->fs) return Fail(pn, "a pass needs a vertex and a pixel shader", error);
                tech->passes.push_back(std::move(pass));
            }
            if (tech->passes.empty()) return Fail(name, "technique without passes", error);
            techniques_.push_back(std::move(tech));
            t = lx.Next();
            if (t.text == ";") t = lx.Next();
            continue;
        }
        // A parameter.
        Token type = t;
        Token name = lx.Next();
        if (name.kind != Token::Ident) return Fail(name, "expected a parameter name", error);
        for (Param* p : top_)
            if (p->name == name.text) return Fail(name, "parameter defined twice", error);
        t = lx.Next();
        UINT n = 0;
        if (t.text == "[") {
            Token count = lx.Next();
            Token close = lx.Next();
            if (count.kind != Token::Number || close.text != "]") return Fail(count, "bad array", error);
            n = static_cast<UINT>(std::strtoul(count.text.c_str(), nullptr, 10));
            if (n == 0 || n > 256) return Fail(count, "bad array size", error);
            t = lx.Next();
        }
        Param* p = Build(type.text, name.text, n, nullptr, name.text, 0);
        if (!p) return Fail(type, store_.size() > kMaxValueWords ? "too many values" : "unknown type", error);
        if (n && p->cls == D3DXPC_OBJECT) return Fail(type, "arrays of objects are not supported", error);
        if (t.text == ":") {
            Token sem = lx.Next();
            if (sem.kind != Token::Ident) return Fail(sem, "expected a semantic", error);
            p->semantic = sem.text;
            t = lx.Next();
        }
        if (!ParseAnnotations(lx, t, &p->annotations, error)) return false;
        bool sampler = p->type == D3DXPT_SAMPLER2D || p->type == D3DXPT_SAMPLERCUBE;
        if (t.text == "=") {
            if (sampler) {
                Token ss = lx.Next();
                Token open = lx.Next();
                if (ss.text != "sampler_state" || open.text != "{") return Fail(ss, "expected sampler_state {", error);
                for (t = lx.Next(); t.text != "}"; t = lx.Next()) {
                    Token eq = lx.Next();
                    if (t.kind != Token::Ident || eq.text != "=") return Fail(t, "expected a sampler state", error);
                    if (SameText(t.text, "Texture")) {
                        DWORD unused;
                        Param* ref = nullptr;
                        if (!ParseStateValue(lx, &unused, &ref, error)) return false;
                        if (!ref || !IsTexture(ref)) return Fail(t, "Texture takes <texture parameter>", error);
                        p->textureRef = ref;
                    } else {
                        StateAssign s{0, 0, nullptr};
                        if (!Lookup(kSamplerStates, t.text, &s.state)) return Fail(t, "unknown sampler state", error);
                        if (!ParseStateValue(lx, &s.value, &s.ref, error)) return false;
                        p->samplerStates.push_back(s);
                    }
                    Token semi = lx.Next();
                    if (semi.text != ";") return Fail(semi, "expected ';'", error);
                }
            } else {
                std::vector<float> numbers;
                std::string text;
                bool isText;
                if (!ParseInit(lx, &numbers, &text, &isText, error)) return false;
                if (!Assign(p, numbers, text, isText)) return Fail(name, "value does not fit the parameter", error);
            }
            t = lx.Next();
        }
        if (t.text != ";") return Fail(t, "expected ';'", error);
        if (sampler) {
            if (samplers_.size() >= 16) return Fail(name, "more than 16 samplers", error);
            p->unit = static_cast<int>(samplers_.size());
            samplers_.push_back(p);
        }
        top_.push_back(p);
        t = lx.Next();
    }
    if (techniques_.empty()) {
        Token end;
        end.line = lx.line();
        return Fail(end, "no technique", error);
    }
    current_ = techniques_.front().get();
    return true;
}

std::set<std::string> Identifiers(const std::string& body) {
    std::set<std::string> out;
    Lexer lx(body);
    for (Token t = lx.Next(); t.kind != Token::End; t = lx.Next())
        if (t.kind == Token::Ident) out.insert(t.text);
    return out;
}

std::string GLSLType(const Param* p) {
    if (p->cls == D3DXPC_STRUCT) return p->structType;
    std::string base = p->type == D3DXPT_FLOAT ? "" : p->type == D3DXPT_INT ? "i" : "b";
    if (p->cls == D3DXPC_MATRIX_ROWS) return "mat" + std::to_string(p->rows);
    if (p->cols == 1) return p->type == D3DXPT_FLOAT ? "float" : p->type == D3DXPT_INT ? "int" : "bool";
    return base + "vec" + std::to_string(p->cols);
}

bool Effect::Link(std::string* error) {
    // The declarations every stage sees: structs, parameters, samplers.
    std::string common;
    for (const auto& [name, st] : structs_) {
        common += "struct " + name + " {";
        for (const auto& m : st.members) {
            Param probe;
            std::string type = m.type;
            if (BasicType(m.type, &probe)) type = GLSLType(&probe);
            common.append(" ").append(type).append(" ").append(m.name);
            if (m.elements) common.append("[").append(std::to_string(m.elements)).append("]");
            common.append(";");
        }
        common += " };\n";
    }
    for (Param* p : top_) {
        if (p->cls == D3DXPC_OBJECT) {
            if (p->type == D3DXPT_SAMPLER2D) common += "uniform sampler2D " + p->name + ";\n";
            else if (p->type == D3DXPT_SAMPLERCUBE) common += "uniform samplerCube " + p->name + ";\n";
            continue;
        }
        if (SentByRows(p)) {
            const std::string rows = RowsName(p);
            common.append("uniform vec4 ").append(rows).append("[4];\n#define ").append(p->name).append(" mat4(");
            for (char r = '0'; r <= '3'; ++r)
                common.append(rows).append(1, '[').append(1, r).append(r < '3' ? "], " : "])\n");
            continue;
        }
        const Param* base = p->elements ? p->items[0] : p;
        common += "uniform " + GLSLType(base) + " " + p->name +
                  (p->elements ? "[" + std::to_string(p->elements) + "]" : "") + ";\n";
    }
    static const char* inputs =
        "layout(location = 0) in vec4 a_Position;\n"
        "layout(location = 1) in vec4 a_Color;\n"
        "layout(location = 2) in vec4 a_TexCoord0;\n"
        "layout(location = 3) in vec3 a_Normal;\n"
        "layout(location = 4) in vec3 a_Tangent;\n"
        "layout(location = 5) in vec3 a_Binormal;\n"
        "layout(location = 6) in vec4 a_TexCoord1;\n";
    static const char* outputs = "layout(location = 0) out vec4 d3d_FragColor;\n";
    for (auto& tech : techniques_)
        for (auto& pass : tech->passes) {
            auto& entry = programs_[{pass->vs, pass->fs}];
            if (!entry) {
                entry = std::make_unique<ProgramEntry>();
                entry->effect = this;
                std::string errors;
                HRESULT hr =
                    D3D9_CreateProgram(device_, common + inputs + pass->vs->body, common + outputs + pass->fs->body,
                                       entry.get(), &entry->vs, &entry->ps, &errors);
                if (hr < 0) {
                    *error = "technique " + tech->name + ", pass " + pass->name + " (" + pass->vs->name + ", " +
                             pass->fs->name + "): " + errors;
                    return false;
                }
            }
            pass->program = entry.get();
            std::set<std::string> words = Identifiers(pass->vs->body);
            std::set<std::string> more = Identifiers(pass->fs->body);
            words.insert(more.begin(), more.end());
            for (Param* p : top_)
                if (words.count(p->name)) {
                    pass->used.insert(p);
                    if (p->unit >= 0) {
                        pass->samplers.push_back(p);
                        if (p->textureRef) pass->used.insert(p->textureRef);
                        for (const auto& s : p->samplerStates)
                            if (s.ref) pass->used.insert(s.ref);
                    }
                }
            for (const auto& s : pass->states)
                if (s.ref) pass->used.insert(s.ref);
        }
    return true;
}

HRESULT ErrorBuffer(const std::string& text, ID3DXBuffer** errors) {
    if (!errors) return D3D_OK;
    *errors = nullptr;
    if (D3DXCreateBuffer(static_cast<DWORD>(text.size() + 1), errors) < 0) return E_OUTOFMEMORY;
    std::memcpy((*errors)->GetBufferPointer(), text.c_str(), text.size() + 1);
    return D3D_OK;
}

std::vector<EffectMacro> Macros(const D3DXMACRO* defines) {
    std::vector<EffectMacro> out;
    for (const D3DXMACRO* m = defines; m && m->Name; ++m) out.push_back({m->Name, m->Definition ? m->Definition : ""});
    return out;
}

}  // namespace

bool D3DXPreprocessEffect(const std::string& source, const D3DXMACRO* defines, std::string* out, std::string* error) {
    return FX_Preprocess(source, Macros(defines), out, error);
}

HRESULT D3DXCreateEffect(IDirect3DDevice9* device, const void* data, UINT length, const D3DXMACRO* defines, void*,
                         DWORD, void*, ID3DXEffect** effect, ID3DXBuffer** errors) {
    if (errors) *errors = nullptr;
    if (!device || !data || !effect) return D3DERR_INVALIDCALL;
    *effect = nullptr;
    std::string source(static_cast<const char*>(data), length), text, error;
    if (!FX_Preprocess(source, Macros(defines), &text, &error)) {
        ErrorBuffer("(preprocessor) " + error, errors);
        return D3DXERR_INVALIDDATA;
    }
    auto* e = new Effect(device);
    if (!e->Parse(text, &error)) {
        e->Release();
        ErrorBuffer(error, errors);
        return D3DXERR_INVALIDDATA;
    }
    if (!e->Link(&error)) {
        e->Release();
        ErrorBuffer(error, errors);
        return E_FAIL;
    }
    *effect = e;
    return D3D_OK;
}

void D3DXSetFileReader(D3DXFileReaderFn reader) { g_reader = reader; }

HRESULT D3DXCreateEffectFromFileA(IDirect3DDevice9* device, const char* file, const D3DXMACRO* defines, void* include,
                                  DWORD flags, void* pool, ID3DXEffect** effect, ID3DXBuffer** errors) {
    if (errors) *errors = nullptr;
    if (!device || !file || !effect) return D3DERR_INVALIDCALL;
    *effect = nullptr;
    std::string bytes;
    bool found;
    if (g_reader) {
        found = g_reader(file, &bytes);
    } else {
        std::ifstream in(file, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        found = static_cast<bool>(in);
        bytes = ss.str();
    }
    if (!found) {
        ErrorBuffer(std::string(file) + ": cannot open the file", errors);
        return D3DERR_NOTFOUND;
    }
    return D3DXCreateEffect(device, bytes.data(), static_cast<UINT>(bytes.size()), defines, include, flags, pool,
                            effect, errors);
}
