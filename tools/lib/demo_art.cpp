#include "tools/lib/demo_art.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "tools/lib/lookup_textures.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------- geometry

struct V3 {
    double x, y, z;
};
V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 operator*(V3 a, double k) { return {a.x * k, a.y * k, a.z * k}; }
V3 Cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double Dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// Colour and lighting words of the materials (bodyconv's `colour`).
constexpr const char* kLit = "0 0 0 128 128 128 0 100 25 20 0 0 0";
constexpr const char* kMatte = "0 0 0 0 0 0 0 100 0 0 0 0 0";
constexpr const char* kGlossy = "0 0 0 255 255 255 0 70 80 40 0 0 0";
// Self-lit: no diffuse light, the texture as a light map shows as it is.
constexpr const char* kSelfLit = "0 0 0 0 0 0 0 0 0 0 0 0 0";
// Glowing in its own colour, whatever the light: the cockpit's screen pieces.
constexpr const char* kGlowing = "255 255 255 128 128 128 64 64 64 0 0 0 0";

// A model source being written: points, texture pairs and faces, each face
// turned so that it is wound clockwise seen from the side it faces (the side
// the renderer draws).
class Model {
public:
    explicit Model(const std::string& name) { o_ << "name " << name << "\n"; }
    void Material(const std::string& name, const std::string& texture, const char* colour) {
        o_ << "mtl " << name << "\ntex " << texture << "\ncolour " << colour << "\n";
    }
    // A material that shows its texture without light (engines, lights, the
    // sun, the sky).
    void Glow(const std::string& name, const std::string& texture) {
        o_ << "mtl " << name << "\ntex " << texture << "\nlightmap " << texture << "\ncolour " << kSelfLit << "\n";
    }
    // The same look through the "unlit" effect (data/effects/unlit.fx), for
    // opaque parts: no lighting shader runs for their pixels (the cockpit's
    // frame sits among many lights, the sky's layers cover the screen).
    void Unlit(const std::string& name, const std::string& texture) {
        o_ << "mtl " << name << "\neffect unlit\nparam t_DiffuseTexture string " << texture
           << "\nparam t_LightMapTexture string " << texture << "\n";
    }
    void Flags(int flags) { o_ << "flags " << flags << "\n"; }
    void Use(const std::string& material) { o_ << "usemtl " << material << "\n"; }
    void Smooth(int group) {
        if (group == smooth_) return;
        smooth_ = group;
        o_ << "s " << group << "\n";
    }
    int Point(V3 p) {
        pts_.push_back(p);
        o_ << "v " << Num(p.x) << " " << Num(p.y) << " " << Num(p.z) << "\n";
        return static_cast<int>(pts_.size());
    }
    int Uv(double u, double v) {
        o_ << "vt " << Num(u) << " " << Num(v) << "\n";
        return ++uvs_;
    }
    // Corners as (point, texture pair); corners repeating a point are left
    // out; `out` is the direction the face shows to.
    void Face(std::vector<std::pair<int, int>> corners, V3 out) {
        std::vector<std::pair<int, int>> c;
        for (const auto& k : corners)
            if (std::none_of(c.begin(), c.end(), [&](const auto& e) { return e.first == k.first; })) c.push_back(k);
        if (c.size() < 3) return;
        V3 n{0, 0, 0};
        const V3 a = pts_[c[0].first - 1];
        for (size_t i = 1; i + 1 < c.size(); ++i) n = n + Cross(pts_[c[i].first - 1] - a, pts_[c[i + 1].first - 1] - a);
        if (Dot(n, out) < 0) std::reverse(c.begin(), c.end());
        o_ << "f";
        for (const auto& k : c) o_ << " " << k.first << "/" << k.second;
        o_ << "\n";
        triangles_ += static_cast<int>(c.size()) - 2;
    }
    // A box of half sizes h about the centre, each side its own smoothing group.
    void Box(V3 centre, V3 h) {
        const int t[4] = {Uv(0, 1), Uv(1, 1), Uv(1, 0), Uv(0, 0)};
        int p[8];
        for (int i = 0; i < 8; ++i)
            p[i] = Point(centre + V3{(i & 1) ? h.x : -h.x, (i & 2) ? h.y : -h.y, (i & 4) ? h.z : -h.z});
        const int sides[6][4] = {{0, 2, 6, 4}, {1, 3, 7, 5}, {0, 1, 5, 4}, {2, 3, 7, 6}, {0, 1, 3, 2}, {4, 5, 7, 6}};
        const V3 outs[6] = {{-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}, {0, 0, -1}, {0, 0, 1}};
        for (int s = 0; s < 6; ++s) {
            Smooth(s + 1);
            Face({{p[sides[s][0]], t[0]}, {p[sides[s][1]], t[1]}, {p[sides[s][2]], t[2]}, {p[sides[s][3]], t[3]}},
                 outs[s]);
        }
    }
    // A surface of rows x columns cells, the columns closing round; point(i, j)
    // for i in 0..rows, j in 0..columns-1; rows whose points all meet (poles)
    // are one point. `inside` turns the faces toward the axis.
    void Surface(int rows, int columns, const std::function<V3(int, int)>& point,
                 const std::function<V3(int, int)>& centre, double uScale, double vScale, bool inside = false) {
        std::vector<std::vector<int>> idx(static_cast<size_t>(rows) + 1);
        for (int i = 0; i <= rows; ++i) {
            V3 first = point(i, 0);
            bool pole = true;
            for (int j = 1; j < columns && pole; ++j) {
                const V3 d = point(i, j) - first;
                pole = Dot(d, d) < 1e-12;
            }
            const int single = pole ? Point(first) : 0;
            for (int j = 0; j < columns; ++j) idx[static_cast<size_t>(i)].push_back(pole ? single : Point(point(i, j)));
        }
        for (int i = 0; i < rows; ++i)
            for (int j = 0; j < columns; ++j) {
                const int j1 = (j + 1) % columns;
                const int t00 = Uv(uScale * j / columns, vScale * i / rows);
                const int t01 = Uv(uScale * (j + 1) / columns, vScale * i / rows);
                const int t11 = Uv(uScale * (j + 1) / columns, vScale * (i + 1) / rows);
                const int t10 = Uv(uScale * j / columns, vScale * (i + 1) / rows);
                const V3 mid = (point(i, j) + point(i + 1, j1)) * 0.5;
                V3 out = mid - centre(i, j);
                if (inside) out = out * -1;
                Face({{idx[size_t(i)][size_t(j)], t00},
                      {idx[size_t(i)][size_t(j1)], t01},
                      {idx[size_t(i) + 1][size_t(j1)], t11},
                      {idx[size_t(i) + 1][size_t(j)], t10}},
                     out);
            }
    }
    // A flat cap over a ring of points, facing `out`.
    void Cap(const std::vector<V3>& ring, V3 out) {
        std::vector<std::pair<int, int>> c;
        for (size_t k = 0; k < ring.size(); ++k) {
            const double a = 2 * kPi * static_cast<double>(k) / static_cast<double>(ring.size());
            c.emplace_back(Point(ring[k]), Uv(0.5 + 0.5 * std::cos(a), 0.5 + 0.5 * std::sin(a)));
        }
        Face(c, out);
    }
    int Triangles() const { return triangles_; }
    std::string Text() const { return o_.str(); }

private:
    static std::string Num(double v) {
        char b[32];
        std::snprintf(b, sizeof b, "%.4f", std::abs(v) < 5e-5 ? 0.0 : v);
        return b;
    }
    std::ostringstream o_;
    std::vector<V3> pts_;
    int uvs_ = 0, smooth_ = 0, triangles_ = 0;
};

// A sphere (ellipsoid by `scale`) of `rows` bands and `columns` sectors.
void Sphere(Model& m, V3 centre, V3 scale, int rows, int columns, double uScale = 1, double vScale = 1,
            bool inside = false, const std::function<double(V3)>& radius = nullptr) {
    const auto unit = [rows, columns](int i, int j) {
        const double t = kPi * i / rows, p = 2 * kPi * j / columns;
        return V3{std::sin(t) * std::cos(p), std::cos(t), std::sin(t) * std::sin(p)};
    };
    m.Surface(
        rows, columns,
        [&](int i, int j) {
            const V3 u = unit(i, j);
            const double r = radius ? radius(u) : 1.0;
            return centre + V3{u.x * scale.x * r, u.y * scale.y * r, u.z * scale.z * r};
        },
        [&](int, int) { return centre; }, uScale, vScale, inside);
}

// A ring about the z axis: radius R, tube radius r.
void Torus(Model& m, V3 centre, double R, double r, int around, int tube, double uScale = 4) {
    const auto at = [&](int i, int j) {
        const double a = 2 * kPi * i / around, b = 2 * kPi * j / tube;
        const double d = R + r * std::cos(b);
        return centre + V3{d * std::cos(a), d * std::sin(a), r * std::sin(b)};
    };
    m.Surface(
        around, tube, at,
        [&](int i, int) {
            const double a = 2 * kPi * (i + 0.5) / around;
            return centre + V3{R * std::cos(a), R * std::sin(a), 0};
        },
        uScale, 1);
}

// A hull lofted along z through cross sections: each a centre (y) and half
// width and height at that z; the ends closed.
struct Section {
    double z, y, w, h;
};
void Loft(Model& m, const std::vector<Section>& s, int columns, const std::string& frontMaterial,
          const std::string& backMaterial) {
    const auto at = [&](int i, int j) {
        const double a = 2 * kPi * j / columns;
        const Section& c = s[size_t(i)];
        return V3{c.w * std::cos(a), c.y + c.h * std::sin(a), c.z};
    };
    m.Surface(
        static_cast<int>(s.size()) - 1, columns, at,
        [&](int i, int) {
            return V3{0, s[size_t(i)].y, s[size_t(i)].z};
        },
        1, 1);
    for (bool front : {false, true}) {
        const Section& c = front ? s.back() : s.front();
        if (c.w < 1e-6 && c.h < 1e-6) continue;
        std::vector<V3> ring;
        for (int j = 0; j < columns; ++j) ring.push_back(at(front ? static_cast<int>(s.size()) - 1 : 0, j));
        m.Use(front ? frontMaterial : backMaterial);
        m.Smooth(7);
        m.Cap(ring, V3{0, 0, front ? 1.0 : -1.0});
    }
}

// A flat wing: a box-like slab from the root to the tip, thinner at the tip.
void Wing(Model& m, V3 rootFront, V3 rootBack, V3 tipFront, V3 tipBack, double thick) {
    const V3 up{0, thick, 0}, tipUp{0, thick * 0.4, 0};
    const int t[4] = {m.Uv(0, 0), m.Uv(1, 0), m.Uv(1, 1), m.Uv(0, 1)};
    const int a = m.Point(rootFront + up), b = m.Point(rootBack + up), c = m.Point(tipBack + tipUp),
              d = m.Point(tipFront + tipUp);
    const int e = m.Point(rootFront - up), f = m.Point(rootBack - up), g = m.Point(tipBack - tipUp),
              h = m.Point(tipFront - tipUp);
    const V3 side = (tipFront - rootFront);
    m.Smooth(1);
    m.Face({{a, t[0]}, {b, t[1]}, {c, t[2]}, {d, t[3]}}, {0, 1, 0});
    m.Smooth(2);
    m.Face({{e, t[0]}, {f, t[1]}, {g, t[2]}, {h, t[3]}}, {0, -1, 0});
    m.Smooth(3);
    m.Face({{a, t[0]}, {d, t[1]}, {h, t[2]}, {e, t[3]}}, {0, 0, 1});
    m.Face({{b, t[0]}, {c, t[1]}, {g, t[2]}, {f, t[3]}}, {0, 0, -1});
    m.Face({{d, t[0]}, {c, t[1]}, {g, t[2]}, {h, t[3]}}, side);
}

// ---------------------------------------------------------------- noise

uint32_t Hash(int x, int y, int z, uint32_t seed) {
    uint32_t h = seed * 0x9E3779B1u ^ static_cast<uint32_t>(x) * 0x85EBCA77u ^ static_cast<uint32_t>(y) * 0xC2B2AE3Du ^
                 static_cast<uint32_t>(z) * 0x27D4EB2Fu;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}
double Unit(uint32_t h) { return static_cast<double>(h & 0xFFFFFF) / static_cast<double>(0xFFFFFF); }
double Fade(double t) { return t * t * (3 - 2 * t); }

// Value noise 0..1 on a lattice of `period` cells that wraps (2D) or not (3D).
double Noise2(double x, double y, int period, uint32_t seed) {
    const int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
    const double fx = Fade(x - x0), fy = Fade(y - y0);
    const auto v = [&](int i, int j) {
        return Unit(Hash(((x0 + i) % period + period) % period, ((y0 + j) % period + period) % period, 0, seed));
    };
    const double a = v(0, 0) + (v(1, 0) - v(0, 0)) * fx, b = v(0, 1) + (v(1, 1) - v(0, 1)) * fx;
    return a + (b - a) * fy;
}
double Fbm2(double u, double v, int period, int octaves, uint32_t seed) {
    double sum = 0, amp = 0.5, norm = 0;
    for (int o = 0; o < octaves; ++o) {
        const int p = period << o;
        sum += amp * Noise2(u * p, v * p, p, seed + static_cast<uint32_t>(o));
        norm += amp;
        amp *= 0.5;
    }
    return sum / norm;
}
double Noise3(V3 p, uint32_t seed) {
    const int x0 = static_cast<int>(std::floor(p.x)), y0 = static_cast<int>(std::floor(p.y)),
              z0 = static_cast<int>(std::floor(p.z));
    const double fx = Fade(p.x - x0), fy = Fade(p.y - y0), fz = Fade(p.z - z0);
    double c[2][2];
    for (int k = 0; k < 2; ++k)
        for (int j = 0; j < 2; ++j) {
            const double a = Unit(Hash(x0, y0 + j, z0 + k, seed)), b = Unit(Hash(x0 + 1, y0 + j, z0 + k, seed));
            c[k][j] = a + (b - a) * fx;
        }
    const double e = c[0][0] + (c[0][1] - c[0][0]) * fy, f = c[1][0] + (c[1][1] - c[1][0]) * fy;
    return e + (f - e) * fz;
}

// ---------------------------------------------------------------- bodies

std::string Ship(bool sideB) {
    Model m(sideB ? "raider" : "scout");
    const std::string hull = sideB ? "hull_b" : "hull_a";
    m.Material("hull", hull, kLit);
    m.Material("glass", sideB ? "glass_b" : "glass_a", kGlossy);
    m.Glow("engine", "engine");
    m.Use("hull");
    if (!sideB) {
        // A slim dart with straight wings swept back and a tail fin.
        Loft(m,
             {{-4, 0, 0.7, 0.45}, {-2.5, 0, 0.95, 0.6}, {0.5, 0.05, 0.85, 0.55}, {2.8, 0, 0.45, 0.3}, {4.6, 0, 0, 0}},
             8, "hull", "engine");
        m.Use("hull");
        for (double side : {-1.0, 1.0}) {
            Wing(m, {side * 0.7, 0, 0.2}, {side * 0.8, 0, -2.8}, {side * 4.2, -0.1, -2.2}, {side * 4.2, -0.1, -3.4},
                 0.12);
        }
        m.Box({0, 0.9, -3.0}, {0.08, 0.5, 0.7});
        m.Use("glass");
        m.Smooth(8);
        Sphere(m, {0, 0.45, 0.9}, {0.45, 0.35, 1.1}, 4, 8);
    } else {
        // A wide flat wedge with forward-swept blades and twin fins: the other side's look.
        Loft(m, {{-3.2, 0, 1.3, 0.5}, {-1.5, 0.05, 1.5, 0.6}, {1.2, 0, 0.9, 0.45}, {3.6, -0.1, 0.15, 0.1}}, 6, "hull",
             "engine");
        m.Use("hull");
        for (double side : {-1.0, 1.0}) {
            Wing(m, {side * 1.2, 0, 0.6}, {side * 1.3, 0, -2.6}, {side * 4.6, 0.2, 2.0}, {side * 4.4, 0.2, 0.9}, 0.14);
            m.Box({side * 1.0, 0.8, -2.4}, {0.07, 0.55, 0.6});
        }
        m.Use("glass");
        m.Smooth(8);
        Sphere(m, {0, 0.4, 0.6}, {0.5, 0.3, 0.9}, 4, 6);
    }
    return m.Text();
}

std::string Hauler() {
    Model m("hauler");
    m.Material("hull", "hull_a", kLit);
    m.Material("cargo", "cargo", kLit);
    m.Material("glass", "glass_a", kGlossy);
    m.Glow("engine", "engine");
    m.Use("hull");
    m.Box({0, 0, 0}, {0.6, 0.6, 4.2});        // the spine
    m.Box({0, 0.25, 4.6}, {1.1, 0.85, 0.8});  // the cabin
    m.Box({0, 0, -4.6}, {1.4, 0.7, 0.5});     // the engine block
    m.Use("cargo");
    for (double z : {-2.0, 1.0})
        for (double x : {-1.35, 1.35}) m.Box({x, 0, z}, {0.7, 0.7, 1.3});
    m.Use("glass");
    m.Box({0, 0.55, 5.42}, {0.8, 0.3, 0.03});
    m.Use("engine");
    for (double x : {-0.7, 0.7}) m.Box({x, 0, -5.15}, {0.45, 0.45, 0.05});
    return m.Text();
}

// The frame round the player's view: roof beam, pillars and the console below.
std::string CockpitFrame() {
    // Seen from the origin along +z: at the depth of the panels (z 2) the
    // view spans x -2..2 and y -1.5..1.5. The frame shows its panels as they
    // are, whatever the cockpit's lights; the HUD's screens glow with the
    // render textures the cockpit draws into: the radar (66) low in the
    // middle, the target panel (15) on the left and the status panel (the
    // top left quarter of 65) on the right.
    Model m("cockpit_frame");
    m.Unlit("frame", "cockpit");
    m.Unlit("radar", "66");
    m.Unlit("target", "15");
    m.Unlit("status", "65");
    m.Unlit("sight", "engine");
    m.Use("frame");
    m.Box({0, 1.48, 2.05}, {2.1, 0.07, 0.05});
    for (double x : {-2.02, 2.02}) m.Box({x, 0, 2.05}, {0.1, 1.5, 0.05});
    m.Box({0, -1.3, 2.1}, {2.1, 0.3, 0.1});
    for (double x : {-1.45, 1.45}) m.Box({x, -0.95, 2.1}, {0.55, 0.35, 0.1});
    m.Box({0, -1.0, 2.1}, {0.6, 0.5, 0.1});
    // A screen: a quad facing the pilot just in front of the frame, the
    // texture's top (v 0) at its top.
    const auto screen = [&m](const std::string& material, double x0, double y0, double x1, double y1, double u1,
                             double v1) {
        m.Use(material);
        const int t[4] = {m.Uv(0, v1), m.Uv(u1, v1), m.Uv(u1, 0), m.Uv(0, 0)};
        const double z = 1.99;
        const int p[4] = {m.Point({x0, y0, z}), m.Point({x1, y0, z}), m.Point({x1, y1, z}), m.Point({x0, y1, z})};
        m.Face({{p[0], t[0]}, {p[1], t[1]}, {p[2], t[2]}, {p[3], t[3]}}, {0, 0, -1});
    };
    screen("radar", -0.45, -1.45, 0.45, -0.55, 1, 1);
    screen("target", -1.9, -1.25, -1.3, -0.65, 1, 1);
    screen("status", 1.1, -1.3, 1.9, -0.6, 0.5, 0.5);
    // The sight: a thin cross at the centre of the view.
    m.Use("sight");
    m.Box({0, 0, 2.0}, {0.07, 0.005, 0.005});
    m.Box({0, 0, 2.0}, {0.005, 0.07, 0.005});
    return m.Text();
}

// The trading post: a hub with domes, a ring on four spokes and the docking
// arm along -z whose mouth the cut's dock port marks.
std::string Station() {
    Model m("trading_post");
    m.Material("hull", "station", kLit);
    m.Glow("lights", "lights");
    m.Use("hull");
    m.Smooth(1);
    m.Surface(
        3, 16,
        [](int i, int j) {
            const double a = 2 * kPi * j / 16, ys[4] = {-2.5, -2.2, 2.2, 2.5}, rs[4] = {2.2, 3, 3, 2.2};
            return V3{rs[i] * std::cos(a), ys[i], rs[i] * std::sin(a)};
        },
        [](int i, int) {
            return V3{0, i == 0 ? -1.0 : (i == 2 ? 1.0 : 0.0), 0};
        },
        2, 1);
    m.Smooth(2);
    Sphere(m, {0, 2.5, 0}, {2.2, 1.6, 2.2}, 6, 16, 2, 1);
    Sphere(m, {0, -2.5, 0}, {2.2, 1.6, 2.2}, 6, 16, 2, 1);
    m.Smooth(3);
    // The ring turns about y: a torus about z, turned.
    {
        Model& r = m;
        const double R = 9, t = 0.9;
        r.Surface(
            24, 8,
            [&](int i, int j) {
                const double a = 2 * kPi * i / 24, b = 2 * kPi * j / 8;
                const double d = R + t * std::cos(b);
                return V3{d * std::cos(a), t * std::sin(b), d * std::sin(a)};
            },
            [&](int i, int) {
                const double a = 2 * kPi * (i + 0.5) / 24;
                return V3{R * std::cos(a), 0, R * std::sin(a)};
            },
            6, 1);
    }
    for (int k = 0; k < 4; ++k) {
        const double a = kPi / 4 + k * kPi / 2;
        m.Box({5.8 * std::cos(a), 0, 5.8 * std::sin(a)},
              {std::abs(2.6 * std::cos(a)) + 0.35, 0.3, std::abs(2.6 * std::sin(a)) + 0.35});
    }
    // The docking arm and the bay frame at its mouth.
    m.Box({0, 0, -5.2}, {1.1, 1.1, 2.4});
    m.Box({0, 1.5, -7.7}, {1.9, 0.3, 0.2});
    m.Box({0, -1.5, -7.7}, {1.9, 0.3, 0.2});
    for (double x : {-1.7, 1.7}) m.Box({x, 0, -7.7}, {0.2, 1.3, 0.2});
    m.Box({0, 5.2, 0}, {0.12, 1.6, 0.12});  // the mast
    m.Use("lights");
    for (double x : {-1.7, 1.7}) m.Box({x, 1.5, -7.95}, {0.15, 0.15, 0.05});
    m.Box({0, 6.9, 0}, {0.25, 0.15, 0.25});
    for (int k = 0; k < 8; ++k) {
        const double a = 2 * kPi * k / 8;
        m.Box({3.05 * std::cos(a), 0, 3.05 * std::sin(a)}, {0.2, 0.8, 0.2});
    }
    return m.Text();
}

std::string Gate() {
    Model m("jump_gate");
    m.Material("frame", "gate", kLit);
    m.Glow("field", "gatefield");
    m.Use("frame");
    m.Smooth(1);
    Torus(m, {0, 0, 0}, 6, 0.7, 24, 8, 8);
    for (int k = 0; k < 4; ++k) {
        const double a = kPi / 4 + k * kPi / 2;
        m.Box({7 * std::cos(a), 7 * std::sin(a), 0}, {0.7, 0.7, 1.1});
    }
    m.Use("field");
    m.Smooth(2);
    // The field: a thin disc seen from both sides.
    for (double z : {-0.05, 0.05}) {
        std::vector<V3> ring;
        for (int j = 0; j < 24; ++j) {
            const double a = 2 * kPi * j / 24;
            ring.push_back({5.4 * std::cos(a), 5.4 * std::sin(a), z});
        }
        m.Cap(ring, {0, 0, z});
    }
    return m.Text();
}

std::string Rock(const std::string& name, const std::string& material, uint32_t seed, V3 stretch, int rows, int columns,
                 const char* texture) {
    Model m(name);
    m.Material(material, texture, kMatte);
    m.Use(material);
    m.Smooth(1);
    Sphere(m, {0, 0, 0}, stretch, rows, columns, 2, 1, false, [seed](V3 u) {
        const double n = Noise3(u * 1.8 + V3{3.1, 7.7, 1.3}, seed) * 0.7 + Noise3(u * 4.5, seed + 9) * 0.25;
        return 0.55 + n;
    });
    return m.Text();
}

// A drifting clump of dust: small chips spread through the body's span. The
// engine gives every body the size of its largest coordinate, so a single
// rock would be as large as the clump and fill the view up close; chips a
// few hundredths of the span read as grit going by.
std::string Grit(const std::string& name, const std::string& material, uint32_t seed, int chips, const char* texture) {
    Model m(name);
    m.Material(material, texture, kMatte);
    m.Use(material);
    m.Smooth(1);
    for (int c = 0; c < chips; ++c) {
        const auto at = [&](int axis) { return Unit(Hash(c, axis, 7, seed)) * 1.8 - 0.9; };
        const double size = 0.03 + 0.04 * Unit(Hash(c, 3, 7, seed));
        const uint32_t own = seed * 31 + static_cast<uint32_t>(c);
        Sphere(m, {at(0), at(1), at(2)}, {size, size * 0.8, size * 1.1}, 4, 6, 1, 1, false,
               [own](V3 u) { return 0.7 + Noise3(u * 1.8, own) * 0.6; });
    }
    return m.Text();
}

std::string Globe(const std::string& name, const std::string& texture, bool glows, int rows, int columns) {
    Model m(name);
    if (glows) m.Unlit("surface", texture);
    else m.Material("surface", texture, kMatte);
    m.Use("surface");
    m.Smooth(1);
    Sphere(m, {0, 0, 0}, {1, 1, 1}, rows, columns);
    return m.Text();
}

// The background: large spheres seen from inside. Each layer covers the
// screen, so it draws with the unlit effect: the same picture as a glowing
// material without a lighting shader run for every pixel of every layer.
std::string Sky(const std::string& name, const std::string& texture, double uScale, double vScale) {
    Model m(name);
    m.Unlit("sky", texture);
    m.Use("sky");
    m.Smooth(1);
    Sphere(m, {0, 0, 0}, {1, 1, 1}, 8, 16, uScale, vScale, true);
    return m.Text();
}

std::string Bolt() {
    Model m("pulse_bolt");
    m.Glow("bolt", "bolt");
    m.Use("bolt");
    m.Smooth(1);
    Sphere(m, {0, 0, 0}, {0.25, 0.25, 1.5}, 3, 6);
    return m.Text();
}

std::string Missile() {
    Model m("dart");
    m.Material("body", "hull_a", kLit);
    m.Glow("engine", "engine");
    m.Use("body");
    Loft(m, {{-2, 0, 0.22, 0.22}, {1.2, 0, 0.22, 0.22}, {2, 0, 0, 0}}, 6, "body", "engine");
    m.Use("body");
    for (int k = 0; k < 4; ++k) {
        const double a = kPi / 4 + k * kPi / 2, c = std::cos(a), s = std::sin(a);
        m.Box({0.4 * c, 0.4 * s, -1.6}, {0.25 * std::abs(c) + 0.03, 0.25 * std::abs(s) + 0.03, 0.3});
    }
    return m.Text();
}

std::string Container() {
    Model m("container");
    m.Material("box", "cargo", kLit);
    m.Use("box");
    m.Box({0, 0, 0}, {1, 0.8, 1.4});
    return m.Text();
}

// A marker of the dock's cut: a small tetrahedron, never drawn.
std::string Marker(const std::string& name) {
    Model m(name);
    m.Glow("marker", "engine");
    m.Use("marker");
    const int t = m.Uv(0.5, 0.5);
    const int a = m.Point({0, 0, 1}), b = m.Point({-0.8, -0.5, -0.5}), c = m.Point({0.8, -0.5, -0.5}),
              d = m.Point({0, 0.9, -0.5});
    m.Face({{a, t}, {b, t}, {c, t}}, {0, -1, 0.3});
    m.Face({{a, t}, {c, t}, {d, t}}, {1, 0.5, 0.3});
    m.Face({{a, t}, {d, t}, {b, t}}, {-1, 0.5, 0.3});
    m.Face({{b, t}, {c, t}, {d, t}}, {0, 0, -1});
    return m.Text();
}

// A flat square of half size h in the x-y plane, seen from either side:
// effect sprites (turned toward the camera by the effect) and the cockpit's
// screen-placed HUD and tooltip pieces. `flags` are added material flags.
std::string Flat(const std::string& name, const std::string& texture, double h, bool glows, int flags) {
    Model m(name);
    if (glows) m.Glow("face", texture);
    else m.Material("face", texture, kGlowing);
    if (flags) m.Flags(flags);
    m.Use("face");
    const int t[4] = {m.Uv(0, 1), m.Uv(1, 1), m.Uv(1, 0), m.Uv(0, 0)};
    const int p[4] = {m.Point({-h, -h, 0}), m.Point({h, -h, 0}), m.Point({h, h, 0}), m.Point({-h, h, 0})};
    m.Face({{p[0], t[0]}, {p[1], t[1]}, {p[2], t[2]}, {p[3], t[3]}}, {0, 0, -1});
    return m.Text();
}

// Material flags of bodyconv's "flags": drawn from both sides; added onto
// what lies behind (the sprites' black edges vanish).
constexpr int kTwoSided = 0x10;
constexpr int kAdditive = 0x2;

// The cockpit's grid: thin glowing strips in the x-z plane, added onto the
// view and seen from either side. The reader scales a body so that its
// largest coordinate is 1.0, which the corner points fix; the strips lie a
// quarter of kDemoArtGridCell apart (in those units), so that the grid looks
// the same after the cockpit moves it by a whole cell.
std::string Grid() {
    Model m("grid");
    m.Glow("line", "engine");
    m.Flags(kTwoSided | kAdditive);
    m.Use("line");
    const int t = m.Uv(0.5, 0.5);
    for (double x : {-1.0, 1.0})
        for (double z : {-1.0, 1.0}) m.Point({x, 0, z});
    const double step = kDemoArtGridCell / 4.0 / 65536.0, half = 2 * step, w = step / 40;
    for (int i = -2; i <= 2; ++i) {
        const double c = i * step;
        for (bool alongZ : {false, true}) {
            const auto at = [&](double across, double along) {
                return alongZ ? V3{across, 0, along} : V3{along, 0, across};
            };
            const int a = m.Point(at(c - w, -half)), b = m.Point(at(c + w, -half)), d = m.Point(at(c + w, half)),
                      e = m.Point(at(c - w, half));
            m.Face({{a, t}, {b, t}, {d, t}, {e, t}}, {0, 1, 0});
        }
    }
    return m.Text();
}

std::string Number(int32_t id) {
    char b[16];
    std::snprintf(b, sizeof b, "%05d", static_cast<int>(id));
    return b;
}

// The background's bodies: the names the space types make of its family name
// "demo" under "v".
constexpr const char* kFamilyFolder = "v/environments/nebulae/demo/nebula_demo";

std::string Family(const char* part, int n) {
    char b[16];
    std::snprintf(b, sizeof b, "%02d", n);
    return std::string(kFamilyFolder) + part + b;
}

// ---------------------------------------------------------------- pictures

uint32_t Rgb(double r, double g, double b) {
    const auto c = [](double v) { return static_cast<uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
    return c(r) << 16 | c(g) << 8 | c(b);
}

using Shade = std::function<uint32_t(double u, double v, int x, int y)>;
DemoArtPicture Picture(const std::string& name, int size, const Shade& shade) {
    DemoArtPicture p{name, size, {}};
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) p.rgb.push_back(shade((x + 0.5) / size, (y + 0.5) / size, x, y));
    return p;
}

// Hull panels: cells of `cell` texels, each a little lighter or darker, with
// dark seams, grime and a stripe of the accent colour.
DemoArtPicture Panels(const std::string& name, V3 base, V3 accent, uint32_t seed, int cell, bool windows) {
    constexpr int kSize = 128;
    return Picture(name, kSize, [=](double u, double v, int x, int y) {
        const int cx = x / cell, cy = y / cell;
        const double tone = 0.85 + 0.25 * Unit(Hash(cx, cy, 1, seed));
        const double grime = 0.8 + 0.35 * Fbm2(u, v, 4, 4, seed);
        V3 c = base * (tone * grime);
        if (y % 64 >= 28 && y % 64 < 34) c = accent * grime;
        if (x % cell == 0 || y % cell == 0) c = c * 0.35;
        if (windows && (x % 8 == 4) && (y % 16 == 8) && Unit(Hash(x, y, 2, seed)) > 0.55) c = {1.0, 0.9, 0.55};
        return Rgb(c.x, c.y, c.z);
    });
}

std::vector<DemoArtPicture> Pictures() {
    std::vector<DemoArtPicture> out;
    out.push_back(Panels("hull_a", {0.62, 0.68, 0.78}, {0.2, 0.45, 0.95}, 11, 32, false));
    out.push_back(Panels("hull_b", {0.45, 0.16, 0.14}, {0.95, 0.75, 0.1}, 23, 16, false));
    out.push_back(Panels("station", {0.6, 0.6, 0.58}, {0.3, 0.8, 0.4}, 37, 16, true));
    out.push_back(Panels("cockpit", {0.25, 0.26, 0.3}, {0.35, 0.38, 0.45}, 41, 32, false));
    out.push_back(Picture("cargo", 64, [](double u, double v, int x, int) {
        const double rib = (x % 8 < 2) ? 0.7 : 1.0;
        const double n = 0.85 + 0.2 * Fbm2(u, v, 4, 3, 5);
        return Rgb(0.9 * rib * n, 0.55 * rib * n, 0.12 * rib * n);
    }));
    out.push_back(Picture("gate", 128, [](double u, double v, int x, int y) {
        const double n = 0.75 + 0.3 * Fbm2(u, v, 4, 4, 51);
        const bool chevron = ((x + y) / 8) % 4 == 0 && v > 0.35 && v < 0.65;
        if (chevron) return Rgb(0.95 * n, 0.55 * n, 0.1);
        return Rgb(0.5 * n, 0.52 * n, 0.56 * n);
    }));
    out.push_back(Picture("gatefield", 64, [](double u, double v, int, int) {
        const double n = Fbm2(u, v, 4, 4, 61);
        return Rgb(0.05 + 0.2 * n, 0.2 + 0.35 * n, 0.55 + 0.25 * n);
    }));
    out.push_back(Picture("rock", 128, [](double u, double v, int, int) {
        const double n = Fbm2(u, v, 4, 5, 71), spots = Fbm2(u, v, 16, 2, 72);
        const double k = 0.35 + 0.5 * n - (spots > 0.7 ? 0.15 : 0.0);
        return Rgb(k * 1.05, k * 0.92, k * 0.8);
    }));
    out.push_back(Picture("dust", 32, [](double u, double v, int, int) {
        const double k = 0.45 + 0.35 * Fbm2(u, v, 4, 3, 81);
        return Rgb(k, k, k * 1.05);
    }));
    out.push_back(Picture("sun", 128, [](double u, double v, int, int) {
        const double n = Fbm2(u, v, 8, 4, 91);
        return Rgb(1.0, 0.7 + 0.3 * n, 0.25 + 0.4 * n * n);
    }));
    out.push_back(Picture("planet", 256, [](double u, double v, int, int) {
        const double h = Fbm2(u, v, 4, 6, 101);
        const double lat = std::abs(v - 0.5) * 2;
        if (lat > 0.86 - 0.1 * h) return Rgb(0.92, 0.94, 0.97);  // the ice caps
        if (h < 0.5) return Rgb(0.08, 0.2 + 0.3 * h, 0.45 + 0.3 * h);
        const double k = (h - 0.5) * 2;
        return Rgb(0.35 + 0.4 * k, 0.42 + 0.1 * k, 0.2 + 0.15 * k);
    }));
    for (int n = 1; n <= 2; ++n) {
        out.push_back(Picture(n == 1 ? "stars" : "stars_b", 256, [n](double u, double v, int x, int y) {
            const uint32_t h = Hash(x, y, n, 111);
            const double glow = 0.06 * Fbm2(u, v, 2, 4, 112 + static_cast<uint32_t>(n));
            V3 c{glow * 0.6, glow * 0.5, glow};
            if (Unit(h) > 0.992) {
                const double k = 0.5 + 0.5 * Unit(h >> 8);
                const double tint = Unit(Hash(x, y, 3, 113));
                c = V3{k, k * (0.85 + 0.15 * tint), k * (0.7 + 0.3 * tint)};
            }
            return Rgb(c.x, c.y, c.z);
        }));
    }
    // The nebula sky carries stars of its own: it may be drawn over the star sky.
    out.push_back(Picture("nebula", 256, [](double u, double v, int x, int y) {
        const double n = Fbm2(u, v, 2, 5, 121), m = Fbm2(u, v, 3, 4, 122);
        const double k = std::max(0.0, n - 0.45) * 1.8;
        V3 c{0.55 * k + 0.1 * m * k, 0.2 * k, 0.75 * k + 0.2 * m * k};
        const uint32_t h = Hash(x, y, 7, 123);
        if (Unit(h) > 0.994) c = c + V3{1, 1, 1} * (0.45 + 0.5 * Unit(h >> 8));
        return Rgb(c.x, c.y, c.z);
    }));
    out.push_back(Picture("glass_a", 32, [](double, double v, int, int) { return Rgb(0.1, 0.25 + 0.3 * v, 0.5); }));
    out.push_back(Picture("glass_b", 32, [](double, double v, int, int) { return Rgb(0.5 + 0.2 * v, 0.1, 0.05); }));
    out.push_back(Picture("engine", 32, [](double u, double v, int, int) {
        const double d = std::hypot(u - 0.5, v - 0.5) * 2;
        return Rgb(0.6 + 0.4 * (1 - d), 0.8 + 0.2 * (1 - d), 1.0);
    }));
    out.push_back(Picture("lights", 32, [](double u, double v, int, int) {
        const double d = std::hypot(u - 0.5, v - 0.5) * 2;
        return Rgb(1.0, 0.85 + 0.1 * (1 - d), 0.5 + 0.3 * (1 - d));
    }));
    // The effect sprites: a white-hot flash and a soft blue engine glow,
    // fading to black at the edge (they are added onto the scene).
    out.push_back(Picture("flash", 64, [](double u, double v, int, int) {
        const double d = std::min(1.0, std::hypot(u - 0.5, v - 0.5) * 2), k = (1 - d) * (1 - d);
        return Rgb(k, k * (0.8 + 0.2 * k), k * (0.45 + 0.55 * k));
    }));
    out.push_back(Picture("glow", 32, [](double u, double v, int, int) {
        const double d = std::min(1.0, std::hypot(u - 0.5, v - 0.5) * 2), k = (1 - d) * (1 - d) * (1 - d);
        return Rgb(k * (0.3 + 0.7 * k), k * (0.6 + 0.4 * k), k);
    }));
    out.push_back(Picture("bolt", 32, [](double u, double v, int, int) {
        const double d = std::min(1.0, std::hypot(u - 0.5, v - 0.5) * 2);
        return Rgb(0.4 + 0.6 * (1 - d), 1.0, 0.4 + 0.5 * (1 - d));
    }));
    return out;
}

bool WriteText(const std::string& path, const std::string& text, std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out.flush()) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace

std::vector<DemoArtSource> DemoArt_Models() {
    std::vector<DemoArtSource> out;
    const auto add = [&out](int32_t id, std::string file, std::string text) {
        out.push_back({id, std::move(file), std::move(text)});
    };
    const auto numbered = [&add](int32_t id, std::string text) { add(id, "v/" + Number(id), std::move(text)); };
    numbered(600, Ship(false));
    numbered(601, Hauler());
    numbered(602, Ship(true));
    numbered(603, CockpitFrame());
    numbered(610, Station());
    numbered(620, Gate());
    numbered(630, Rock("asteroid_1", "rock", 1, {1.0, 0.8, 1.3}, 9, 14, "rock"));
    numbered(631, Rock("asteroid_2", "rock", 2, {1.2, 1.0, 0.9}, 9, 14, "rock"));
    numbered(632, Rock("asteroid_3", "rock", 3, {0.8, 0.7, 1.6}, 8, 12, "rock"));
    numbered(633, Rock("asteroid_4", "rock", 4, {1.0, 1.0, 1.0}, 10, 16, "rock"));
    numbered(640, Globe("yellow_sun", "sun", true, 12, 20));
    numbered(641, Globe("rock_planet", "planet", false, 12, 20));
    numbered(650, Bolt());
    numbered(651, Missile());
    numbered(660, Container());
    numbered(kDemoArtDockPortBody, Marker("dock_port"));
    numbered(kDemoArtApproachBody, Marker("dock_approach"));
    numbered(kDemoArtFlashBody, Flat("flash", "flash", 1, true, kTwoSided | kAdditive));
    numbered(kDemoArtGlowBody, Flat("glow", "glow", 1, true, kTwoSided | kAdditive));
    add(kDemoArtGridBody, "v/environments/others/grid", Grid());
    // The cockpit's HUD pieces: the icon sheet's square (an icon shows its
    // part of the sheet, scaled to it), the target texts on the target panel
    // texture, the dock signs on the sheet and the tooltip on its texture.
    for (const DemoArtHudBody& b : DemoArt_HudBodies())
        add(b.id, "v/" + b.file, Flat(b.file.substr(b.file.rfind('/') + 1), b.texture, 128, false, kTwoSided));
    for (int n = 1; n <= 4; ++n)
        add(679 + n, Family("_stars_", n), Sky("demo_stars", n % 2 ? "stars" : "stars_b", n <= 2 ? 4 : 3, 2));
    for (int n = 1; n <= 2; ++n) add(683 + n, Family("_background_", n), Sky("demo_nebula", "nebula", n, 1));
    add(686, Family("_outside_part", 1), Sky("demo_outside", "nebula", 2, 2));
    for (int n = 1; n <= 8; ++n)
        add(689 + n, Family("_dust_part", n), Grit("demo_dust", "dust", 200 + static_cast<uint32_t>(n), 6, "dust"));
    return out;
}

std::vector<DemoArtHudBody> DemoArt_HudBodies() {
    const std::string sheet = "effects\\menugfx\\gui_master";
    return {{672, "effects/menugfx/GUI/gui_master", "effects\\menugfx\\GUI\\gui_master", sheet},
            {673, "effects/menugfx/hud_icon_text", "effects\\menugfx\\hud_icon_text", "15"},
            {674, "effects/menugfx/hud_target_text", "effects\\menugfx\\hud_target_text", "15"},
            {675, "effects/menugfx/docked", "effects\\menugfx\\docked", sheet},
            {676, "effects/menugfx/dockhere", "effects\\menugfx\\dockhere", sheet},
            {677, "effects/menugfx/gui/tooltip", "effects\\menugfx\\gui\\tooltip", "1230"}};
}

std::vector<DemoArtSource> DemoArt_Cuts() {
    // The trading post's cut: the post itself at the origin, its dock port at
    // the mouth of the docking arm and the approach point out in front of it,
    // whose value2 names the port's path. Its place is given from the post;
    // hung under the port (SA_CreateObjectCutScene) it lies farther out on
    // the same line. Units are the post body's: its largest coordinate, the
    // ring's outer edge, is 65536. Each marker path holds its place with one
    // key.
    const auto unit = [](double v) { return std::to_string(std::lround(v / 9.9 * 65536)); };
    const auto held = [](const std::string& z) { return "  key 0x0 -1 0 0 " + z + " 0 0 0\n"; };
    std::ostringstream o;
    o << "# The trading post with its one dock port and its approach point.\n"
      << "version 6\n"
      << "path 0 610\n  name trading_post\n  key 0x0 -1 0 0 0 0 0 0\n"
      << "path 1 " << kDemoArtDockPortBody << "\n  name dock_port\n"
      << held(unit(-7.9)) << "path 2 " << kDemoArtApproachBody << "\n  name dock_approach\n  value2 1\n"
      << held(unit(-15.0));
    return {{kDemoArtStationCut, "cut/" + Number(kDemoArtStationCut), o.str()}};
}

std::vector<DemoArtPicture> DemoArt_Pictures() { return Pictures(); }

bool DemoArt_WriteSources(const std::string& folder, std::string* error) {
    for (const DemoArtSource& s : DemoArt_Models())
        if (!WriteText(folder + "/" + s.file + ".model", s.text, error)) return false;
    for (const DemoArtSource& s : DemoArt_Cuts())
        if (!WriteText(folder + "/" + s.file + ".cut", s.text, error)) return false;
    return true;
}

bool DemoArt_WritePictures(const std::string& folder, std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    for (const DemoArtPicture& p : DemoArt_Pictures())
        if (!Lookup_WriteFile(folder + "/" + p.name + ".dds", Lookup_DdsDxt1Picture(p.size, p.size, p.rgb, true),
                              error))
            return false;
    return true;
}
