// D3DX vector and matrix helpers: row vectors times row-major matrices, as
// Direct3D has them.
#include <cmath>
#include <cstring>

#include "platform/d3dx/d3dx9.h"

D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* out, const D3DXVECTOR3* v) {
    float length = std::sqrt(v->x * v->x + v->y * v->y + v->z * v->z);
    // A zero vector has no direction: it stays zero instead of becoming NaN.
    if (length == 0.0f || !std::isfinite(length)) *out = {0.0f, 0.0f, 0.0f};
    else *out = {v->x / length, v->y / length, v->z / length};
    return out;
}

float D3DXVec3Dot(const D3DXVECTOR3* a, const D3DXVECTOR3* b) { return a->x * b->x + a->y * b->y + a->z * b->z; }

D3DXVECTOR3* D3DXVec3Cross(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
    D3DXVECTOR3 r{a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z, a->x * b->y - a->y * b->x};
    *out = r;
    return out;
}

float D3DXVec3Length(const D3DXVECTOR3* v) { return std::sqrt(v->x * v->x + v->y * v->y + v->z * v->z); }

D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
    float x = v->x * m->m[0][0] + v->y * m->m[1][0] + v->z * m->m[2][0] + m->m[3][0];
    float y = v->x * m->m[0][1] + v->y * m->m[1][1] + v->z * m->m[2][1] + m->m[3][1];
    float z = v->x * m->m[0][2] + v->y * m->m[1][2] + v->z * m->m[2][2] + m->m[3][2];
    float w = v->x * m->m[0][3] + v->y * m->m[1][3] + v->z * m->m[2][3] + m->m[3][3];
    if (w == 0.0f) w = 1.0f;
    *out = {x / w, y / w, z / w};
    return out;
}

D3DXVECTOR3* D3DXVec3TransformNormal(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
    D3DXVECTOR3 r{v->x * m->m[0][0] + v->y * m->m[1][0] + v->z * m->m[2][0],
                  v->x * m->m[0][1] + v->y * m->m[1][1] + v->z * m->m[2][1],
                  v->x * m->m[0][2] + v->y * m->m[1][2] + v->z * m->m[2][2]};
    *out = r;
    return out;
}

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out) {
    std::memset(out, 0, sizeof *out);
    for (int i = 0; i < 4; ++i) out->m[i][i] = 1.0f;
    return out;
}

D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* a, const D3DXMATRIX* b) {
    D3DXMATRIX r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k) r.m[i][j] += a->m[i][k] * b->m[k][j];
    *out = r;
    return out;
}

D3DXMATRIX* D3DXMatrixTranspose(D3DXMATRIX* out, const D3DXMATRIX* m) {
    D3DXMATRIX r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) r.m[i][j] = m->m[j][i];
    *out = r;
    return out;
}

D3DXMATRIX* D3DXMatrixInverse(D3DXMATRIX* out, float* determinant, const D3DXMATRIX* m) {
    // Gauss-Jordan with partial pivoting, in double for the small pivots.
    double a[4][8];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            a[i][j] = m->m[i][j];
            a[i][j + 4] = i == j ? 1.0 : 0.0;
        }
    double det = 1.0;
    for (int c = 0; c < 4; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 4; ++r)
            if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
        if (a[pivot][c] == 0.0) {
            if (determinant) *determinant = 0.0f;
            return nullptr;
        }
        if (pivot != c) {
            for (int j = 0; j < 8; ++j) std::swap(a[c][j], a[pivot][j]);
            det = -det;
        }
        det *= a[c][c];
        double inv = 1.0 / a[c][c];
        for (int j = 0; j < 8; ++j) a[c][j] *= inv;
        for (int r = 0; r < 4; ++r) {
            if (r == c) continue;
            double f = a[r][c];
            for (int j = 0; j < 8; ++j) a[r][j] -= f * a[c][j];
        }
    }
    if (determinant) *determinant = static_cast<float>(det);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) out->m[i][j] = static_cast<float>(a[i][j + 4]);
    return out;
}

D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z) {
    D3DXMatrixIdentity(out);
    out->m[3][0] = x;
    out->m[3][1] = y;
    out->m[3][2] = z;
    return out;
}

D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float x, float y, float z) {
    D3DXMatrixIdentity(out);
    out->m[0][0] = x;
    out->m[1][1] = y;
    out->m[2][2] = z;
    return out;
}

D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovY, float aspect, float zNear, float zFar) {
    std::memset(out, 0, sizeof *out);
    float yScale = 1.0f / std::tan(fovY / 2.0f);
    out->m[0][0] = yScale / aspect;
    out->m[1][1] = yScale;
    out->m[2][2] = zFar / (zFar - zNear);
    out->m[2][3] = 1.0f;
    out->m[3][2] = -zNear * zFar / (zFar - zNear);
    return out;
}

D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at, const D3DXVECTOR3* up) {
    D3DXVECTOR3 d{at->x - eye->x, at->y - eye->y, at->z - eye->z}, z, x, y;
    D3DXVec3Normalize(&z, &d);
    D3DXVec3Cross(&d, up, &z);
    D3DXVec3Normalize(&x, &d);
    D3DXVec3Cross(&y, &z, &x);
    D3DXMatrixIdentity(out);
    const D3DXVECTOR3* axes[3] = {&x, &y, &z};
    for (int c = 0; c < 3; ++c) {
        out->m[0][c] = axes[c]->x;
        out->m[1][c] = axes[c]->y;
        out->m[2][c] = axes[c]->z;
        out->m[3][c] = -D3DXVec3Dot(axes[c], eye);
    }
    return out;
}

uint16_t* D3DXFloat32To16Array(uint16_t* out, const float* in, UINT count) {
    for (UINT i = 0; i < count; ++i) {
        uint32_t f;
        std::memcpy(&f, &in[i], 4);
        uint32_t sign = (f >> 16) & 0x8000u;
        uint32_t exponent = (f >> 23) & 0xFF;
        uint32_t mantissa = f & 0x7FFFFFu;
        uint16_t h;
        if (exponent == 0xFF) {
            h = static_cast<uint16_t>(sign | 0x7C00u | (mantissa ? 0x200u : 0u));
        } else {
            int e = static_cast<int>(exponent) - 127 + 15;
            if (e >= 31) {
                h = static_cast<uint16_t>(sign | 0x7C00u);
            } else if (e <= 0) {
                // Below the normal range: shifted into a subnormal, rounded to even.
                if (e < -10) {
                    h = static_cast<uint16_t>(sign);
                } else {
                    uint32_t m = mantissa | 0x800000u;
                    uint32_t shift = static_cast<uint32_t>(14 - e);
                    uint32_t half = m >> shift;
                    uint32_t rest = m & ((1u << shift) - 1);
                    uint32_t mid = 1u << (shift - 1);
                    if (rest > mid || (rest == mid && (half & 1))) ++half;
                    h = static_cast<uint16_t>(sign | half);
                }
            } else {
                uint32_t half = (static_cast<uint32_t>(e) << 10) | (mantissa >> 13);
                uint32_t rest = mantissa & 0x1FFFu;
                if (rest > 0x1000u || (rest == 0x1000u && (half & 1))) ++half;  // may carry into the exponent
                h = static_cast<uint16_t>(sign | half);
            }
        }
        out[i] = h;
    }
    return out;
}

float* D3DXFloat16To32Array(float* out, const uint16_t* in, UINT count) {
    for (UINT i = 0; i < count; ++i) {
        uint32_t h = in[i];
        uint32_t sign = (h & 0x8000u) << 16;
        uint32_t exponent = (h >> 10) & 0x1F;
        uint32_t mantissa = h & 0x3FFu;
        uint32_t f;
        if (exponent == 0) {
            if (mantissa == 0) {
                f = sign;
            } else {
                int e = -1;
                do {
                    ++e;
                    mantissa <<= 1;
                } while (!(mantissa & 0x400u));
                f = sign | (static_cast<uint32_t>(127 - 15 - e) << 23) | ((mantissa & 0x3FFu) << 13);
            }
        } else if (exponent == 31) {
            f = sign | 0x7F800000u | (mantissa << 13);
        } else {
            f = sign | ((exponent + 127 - 15) << 23) | (mantissa << 13);
        }
        std::memcpy(&out[i], &f, 4);
    }
    return out;
}
