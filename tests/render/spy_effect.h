// An effect that records what part drawing does with it: it forwards every
// call to a real effect and, at each pass begun, keeps a snapshot of every
// parameter's value (numbers as floats, textures as pointers), the current
// technique's name and whether a parameter block was being recorded.
#pragma once

#include <deque>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "platform/d3dx/d3dx9.h"

class SpyEffect final : public ID3DXEffect {
public:
    struct Snapshot {
        std::string technique;
        std::map<std::string, std::vector<float>> values;
        std::map<std::string, IDirect3DBaseTexture9*> textures;
        float Value(const std::string& name, size_t i = 0) const {
            auto it = values.find(name);
            return it != values.end() && i < it->second.size() ? it->second[i] : -12345.0f;
        }
    };

    explicit SpyEffect(ID3DXEffect* inner) : inner_(inner) {}
    // A spy made in the caller's storage and left there when its last
    // reference goes: the next one placed there has the same address, as an
    // effect freed and made again may have.
    static SpyEffect* PlaceAt(void* storage, ID3DXEffect* inner) {
        auto* spy = new (storage) SpyEffect(inner);
        spy->placed_ = true;
        return spy;
    }

    std::vector<Snapshot> draws;
    std::vector<std::string> calls;  // "Begin", "BeginPass", "ApplyParameterBlock", "BeginParameterBlock" ...
    int begins = 0;
    // Answers for the next calls of Begin and BeginPass, front first, in place
    // of the inner effect's (which is then not called).
    std::deque<HRESULT> failBegin, failBeginPass;
    int nullTechniques = 0;  // SetTechnique calls without a technique

    ULONG AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG Release() override {
        if (--refs_ > 0) return static_cast<ULONG>(refs_);
        inner_->Release();
        if (placed_) this->~SpyEffect();
        else delete this;
        return 0;
    }
    HRESULT GetDevice(IDirect3DDevice9** d) override { return inner_->GetDevice(d); }
    HRESULT GetDesc(D3DXEFFECT_DESC* d) override { return inner_->GetDesc(d); }
    HRESULT GetParameterDesc(D3DXHANDLE p, D3DXPARAMETER_DESC* d) override { return inner_->GetParameterDesc(p, d); }
    HRESULT GetTechniqueDesc(D3DXHANDLE t, D3DXTECHNIQUE_DESC* d) override { return inner_->GetTechniqueDesc(t, d); }
    HRESULT GetPassDesc(D3DXHANDLE p, D3DXPASS_DESC* d) override { return inner_->GetPassDesc(p, d); }
    D3DXHANDLE GetParameter(D3DXHANDLE p, UINT i) override { return inner_->GetParameter(p, i); }
    D3DXHANDLE GetParameterByName(D3DXHANDLE p, const char* n) override { return inner_->GetParameterByName(p, n); }
    D3DXHANDLE GetParameterElement(D3DXHANDLE p, UINT i) override { return inner_->GetParameterElement(p, i); }
    D3DXHANDLE GetAnnotation(D3DXHANDLE o, UINT i) override { return inner_->GetAnnotation(o, i); }
    D3DXHANDLE GetAnnotationByName(D3DXHANDLE o, const char* n) override { return inner_->GetAnnotationByName(o, n); }
    D3DXHANDLE GetTechnique(UINT i) override { return inner_->GetTechnique(i); }
    D3DXHANDLE GetTechniqueByName(const char* n) override { return inner_->GetTechniqueByName(n); }
    D3DXHANDLE GetPass(D3DXHANDLE t, UINT i) override { return inner_->GetPass(t, i); }
    D3DXHANDLE GetPassByName(D3DXHANDLE t, const char* n) override { return inner_->GetPassByName(t, n); }
    HRESULT SetValue(D3DXHANDLE p, const void* d, UINT b) override { return inner_->SetValue(p, d, b); }
    HRESULT GetValue(D3DXHANDLE p, void* d, UINT b) override { return inner_->GetValue(p, d, b); }
    HRESULT SetBool(D3DXHANDLE p, BOOL v) override { return inner_->SetBool(p, v); }
    HRESULT GetBool(D3DXHANDLE p, BOOL* v) override { return inner_->GetBool(p, v); }
    HRESULT SetInt(D3DXHANDLE p, INT v) override { return inner_->SetInt(p, v); }
    HRESULT GetInt(D3DXHANDLE p, INT* v) override { return inner_->GetInt(p, v); }
    HRESULT SetFloat(D3DXHANDLE p, float v) override { return inner_->SetFloat(p, v); }
    HRESULT GetFloat(D3DXHANDLE p, float* v) override { return inner_->GetFloat(p, v); }
    HRESULT SetVector(D3DXHANDLE p, const D3DXVECTOR4* v) override { return inner_->SetVector(p, v); }
    HRESULT GetVector(D3DXHANDLE p, D3DXVECTOR4* v) override { return inner_->GetVector(p, v); }
    HRESULT SetMatrix(D3DXHANDLE p, const D3DXMATRIX* v) override { return inner_->SetMatrix(p, v); }
    HRESULT GetMatrix(D3DXHANDLE p, D3DXMATRIX* v) override { return inner_->GetMatrix(p, v); }
    HRESULT SetString(D3DXHANDLE p, const char* v) override { return inner_->SetString(p, v); }
    HRESULT GetString(D3DXHANDLE p, const char** v) override { return inner_->GetString(p, v); }
    HRESULT SetTexture(D3DXHANDLE p, IDirect3DBaseTexture9* t) override { return inner_->SetTexture(p, t); }
    HRESULT GetTexture(D3DXHANDLE p, IDirect3DBaseTexture9** t) override { return inner_->GetTexture(p, t); }
    HRESULT SetTechnique(D3DXHANDLE t) override {
        if (!t) ++nullTechniques;
        return inner_->SetTechnique(t);
    }
    D3DXHANDLE GetCurrentTechnique() override { return inner_->GetCurrentTechnique(); }
    HRESULT ValidateTechnique(D3DXHANDLE t) override { return inner_->ValidateTechnique(t); }
    HRESULT FindNextValidTechnique(D3DXHANDLE t, D3DXHANDLE* n) override {
        // The spy device links no programs: every technique counts as valid.
        if (!t) {
            *n = inner_->GetTechnique(0);
            return *n ? D3D_OK : S_FALSE;
        }
        return inner_->FindNextValidTechnique(t, n);
    }
    BOOL IsParameterUsed(D3DXHANDLE p, D3DXHANDLE t) override { return inner_->IsParameterUsed(p, t); }
    HRESULT Begin(UINT* passes, DWORD flags) override {
        ++begins;
        calls.push_back("Begin");
        if (HRESULT hr = Failing(failBegin); FAILED(hr)) return hr;
        return inner_->Begin(passes, flags);
    }
    HRESULT BeginPass(UINT pass) override {
        calls.push_back("BeginPass");
        if (HRESULT hr = Failing(failBeginPass); FAILED(hr)) return hr;
        draws.push_back(Take());
        return inner_->BeginPass(pass);
    }
    HRESULT CommitChanges() override { return inner_->CommitChanges(); }
    HRESULT EndPass() override {
        calls.push_back("EndPass");
        return inner_->EndPass();
    }
    HRESULT End() override {
        calls.push_back("End");
        return inner_->End();
    }
    HRESULT OnLostDevice() override {
        calls.push_back("OnLostDevice");
        return inner_->OnLostDevice();
    }
    HRESULT OnResetDevice() override { return inner_->OnResetDevice(); }
    HRESULT SetStateManager(ID3DXEffectStateManager* m) override { return inner_->SetStateManager(m); }
    HRESULT GetStateManager(ID3DXEffectStateManager** m) override { return inner_->GetStateManager(m); }
    HRESULT BeginParameterBlock() override {
        calls.push_back("BeginParameterBlock");
        return inner_->BeginParameterBlock();
    }
    D3DXHANDLE EndParameterBlock() override {
        calls.push_back("EndParameterBlock");
        return inner_->EndParameterBlock();
    }
    HRESULT ApplyParameterBlock(D3DXHANDLE b) override {
        calls.push_back("ApplyParameterBlock");
        return inner_->ApplyParameterBlock(b);
    }
    HRESULT DeleteParameterBlock(D3DXHANDLE b) override { return inner_->DeleteParameterBlock(b); }

    // Every parameter's value now.
    Snapshot Take() {
        Snapshot s;
        D3DXTECHNIQUE_DESC td{};
        if (inner_->GetTechniqueDesc(inner_->GetCurrentTechnique(), &td) >= 0 && td.Name) s.technique = td.Name;
        for (UINT i = 0; D3DXHANDLE h = inner_->GetParameter(nullptr, i); ++i) Read(h, "", &s);
        return s;
    }

private:
    ~SpyEffect() override = default;

    static HRESULT Failing(std::deque<HRESULT>& answers) {
        if (answers.empty()) return D3D_OK;
        const HRESULT hr = answers.front();
        answers.pop_front();
        return hr;
    }

    void Read(D3DXHANDLE h, const std::string& prefix, Snapshot* s) {
        D3DXPARAMETER_DESC d{};
        if (inner_->GetParameterDesc(h, &d) < 0 || !d.Name) return;
        const std::string name = prefix + d.Name;
        if (d.Elements > 0) {
            for (UINT e = 0; e < d.Elements; ++e) {
                D3DXHANDLE element = inner_->GetParameterElement(h, e);
                D3DXPARAMETER_DESC ed{};
                if (!element || inner_->GetParameterDesc(element, &ed) < 0) continue;
                const std::string at = name + "[" + std::to_string(e) + "].";
                for (UINT m = 0; m < ed.StructMembers; ++m) Read(inner_->GetParameter(element, m), at, s);
            }
            return;
        }
        if (d.Type == D3DXPT_TEXTURE || d.Type == D3DXPT_TEXTURE2D || d.Type == D3DXPT_TEXTURECUBE) {
            IDirect3DBaseTexture9* t = nullptr;
            if (inner_->GetTexture(h, &t) >= 0) {
                s->textures[name] = t;
                if (t) t->Release();
            }
            return;
        }
        std::vector<float> v;
        if (d.Class == D3DXPC_MATRIX_ROWS) {
            D3DXMATRIX m{};
            inner_->GetMatrix(h, &m);
            for (int r = 0; r < 4; ++r)
                for (int c = 0; c < 4; ++c) v.push_back(m.m[r][c]);
        } else if (d.Class == D3DXPC_VECTOR) {
            D3DXVECTOR4 x{};
            inner_->GetVector(h, &x);
            v = {x.x, x.y, x.z, x.w};
        } else if (d.Type == D3DXPT_BOOL || d.Type == D3DXPT_INT || d.Type == D3DXPT_FLOAT) {
            float f = 0.0f;
            inner_->GetFloat(h, &f);
            v = {f};
        } else {
            return;
        }
        s->values[name] = v;
    }

    ID3DXEffect* inner_;
    int refs_ = 1;
    bool placed_ = false;
};

// Room for one SpyEffect::PlaceAt.
struct SpyEffectStorage {
    alignas(SpyEffect) unsigned char bytes[sizeof(SpyEffect)];
};
