// make-sample OUT.psu: writes the demo save bundled as samples/demo.psu.
// The output is the same byte for byte on every run: fixed time stamps, no randomness, and
// geometry built from exact constants and sqrt (correctly rounded) only, no sin/cos.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void putU16(Bytes& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void putU32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void putF32(Bytes& b, float f) {
    uint32_t v;
    std::memcpy(&v, &f, 4);
    putU32(b, v);
}
void putText(Bytes& b, const std::string& s, size_t field) {
    for (size_t i = 0; i < field; ++i) b.push_back(i < s.size() ? uint8_t(s[i]) : 0);
}

// ---- geometry --------------------------------------------------------------------------

struct Vec {
    double x, y, z;
};
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator*(Vec a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec cross(Vec a, Vec b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
Vec normalized(Vec a) { return a * (1.0 / std::sqrt(dot(a, a))); }

struct Colour {
    uint8_t r, g, b;
};

struct Triangle {
    Vec p[3];
    Colour c[3];
    double uv[3][2];
};

// Icons are modelled with y pointing down (the view turns them half a turn about X), so the
// top of an icon has negative y.
struct Model {
    std::vector<Triangle> triangles;
};

// Counter-clockwise seen from outside: the winding's normal must point away from `inside`.
void addTriangle(Model& m, Vec a, Vec b, Vec c, Colour ca, Colour cb, Colour cc, Vec inside = {0, 0, 0}) {
    Triangle t{{a, b, c}, {ca, cb, cc}, {}};
    Vec n = cross(b - a, c - a);
    Vec centre = (a + b + c) * (1.0 / 3.0);
    if (dot(n, centre - inside) < 0) {
        std::swap(t.p[1], t.p[2]);
        std::swap(t.c[1], t.c[2]);
    }
    m.triangles.push_back(t);
}

Vec faceNormal(const Triangle& t) { return normalized(cross(t.p[1] - t.p[0], t.p[2] - t.p[0])); }

// The eight directions of an octagon, from exact constants.
std::array<Vec, 8> octagon() {
    const double h = std::sqrt(0.5);
    return {{{1, 0, 0}, {h, 0, h}, {0, 0, 1}, {-h, 0, h}, {-1, 0, 0}, {-h, 0, -h}, {0, 0, -1}, {h, 0, -h}}};
}

// A cut gem: an octagonal table on top, a crown down to the girdle, a pavilion to a point.
Model gem(Colour table, Colour crown, Colour pavilion, Colour tip) {
    Model m;
    const auto dir = octagon();
    const double tableY = -1.6, tableR = 1.5, girdleY = -0.5, girdleR = 2.6, apexY = 2.7;
    const Vec top{0, tableY, 0}, apex{0, apexY, 0};
    for (int i = 0; i < 8; ++i) {
        int j = (i + 1) % 8;
        Vec ti{dir[i].x * tableR, tableY, dir[i].z * tableR}, tj{dir[j].x * tableR, tableY, dir[j].z * tableR};
        Vec gi{dir[i].x * girdleR, girdleY, dir[i].z * girdleR}, gj{dir[j].x * girdleR, girdleY, dir[j].z * girdleR};
        addTriangle(m, top, ti, tj, table, table, table);
        addTriangle(m, ti, gi, gj, crown, crown, crown);
        addTriangle(m, ti, gj, tj, crown, crown, crown);
        addTriangle(m, gi, apex, gj, pavilion, tip, pavilion);
    }
    // Planar texture mapping from above, shifted a little with height so facets differ.
    for (Triangle& t : m.triangles)
        for (int k = 0; k < 3; ++k) {
            t.uv[k][0] = 0.5 + t.p[k].x / 6.0;
            t.uv[k][1] = 0.5 + t.p[k].z / 6.0 + t.p[k].y / 12.0;
        }
    return m;
}

// Turns a cube so three faces show: about Y by atan(4/3), then about X by atan(5/12); both
// from exact ratios so the output does not depend on the math library.
Vec turn(Vec p) {
    Vec y{0.6 * p.x + 0.8 * p.z, p.y, -0.8 * p.x + 0.6 * p.z};
    return {y.x, (12.0 * y.y - 5.0 * y.z) / 13.0, (5.0 * y.y + 12.0 * y.z) / 13.0};
}

// A turned cube of half size `half` around `centre`, each face with the whole texture.
void addCube(Model& m, Vec centre, double half, const Colour faces[6]) {
    // Each face: normal axis, then two in-plane axes.
    const Vec axes[6][3] = {
        {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}},  {{-1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
        {{0, 1, 0}, {1, 0, 0}, {0, 0, 1}},  {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}},
        {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},  {{0, 0, -1}, {1, 0, 0}, {0, 1, 0}},
    };
    for (int f = 0; f < 6; ++f) {
        Vec n = axes[f][0], u = axes[f][1], v = axes[f][2];
        Vec c = centre + n * half;
        Vec q[4] = {c - u * half - v * half, c + u * half - v * half, c + u * half + v * half,
                    c - u * half + v * half};
        for (Vec& corner : q) corner = centre + turn(corner - centre);
        const double uv[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
        Colour col = faces[f];
        size_t first = m.triangles.size();
        addTriangle(m, q[0], q[1], q[2], col, col, col, centre);
        addTriangle(m, q[0], q[2], q[3], col, col, col, centre);
        // UVs follow the corners wherever the winding fix put them.
        for (size_t t = first; t < m.triangles.size(); ++t)
            for (int k = 0; k < 3; ++k)
                for (int corner = 0; corner < 4; ++corner)
                    if (dot(m.triangles[t].p[k] - q[corner], m.triangles[t].p[k] - q[corner]) < 1e-12) {
                        m.triangles[t].uv[k][0] = uv[corner][0];
                        m.triangles[t].uv[k][1] = uv[corner][1];
                    }
    }
}

int16_t fixed(double v) {
    double r = std::nearbyint(v * 4096.0);
    if (r > 32767) r = 32767;
    if (r < -32768) r = -32768;
    return int16_t(r);
}

// A shape moves each vertex of triangle t (corner k) somewhere; normals are those of shape 0.
using ShapeFn = Vec (*)(const Triangle& t, int k, int shape);

// ---- texture ---------------------------------------------------------------------------

uint16_t pixel(int r, int g, int b) {
    auto c = [](int v) { return uint16_t(v < 0 ? 0 : v > 31 ? 31 : v); };
    return uint16_t(c(r) | c(g) << 5 | c(b) << 10);
}

struct Palette {
    int dark[3], light[3], sparkle[3];
};

// A 16-pixel checker under a top-to-bottom gradient (long repeat runs) crossed by thin
// sparkle bands whose colour changes every pixel (literal runs).
std::vector<uint16_t> texturePixels(const Palette& p) {
    std::vector<uint16_t> px(128 * 128);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            const int* base = ((x / 16 + y / 16) % 2) ? p.light : p.dark;
            int shade = y / 16;  // 0..7, constant over a checker cell
            int r = base[0] + shade - 4, g = base[1] + shade - 4, b = base[2] + shade - 4;
            if (y % 32 >= 14 && y % 32 <= 16) {
                int t = (x + y) % 32;
                int wave = t < 16 ? t : 31 - t;  // a triangle wave along the row
                r = p.sparkle[0] + wave / 2 - 4;
                g = p.sparkle[1] + wave / 2 - 4;
                b = p.sparkle[2] + wave / 2 - 4;
            }
            px[size_t(y) * 128 + size_t(x)] = pixel(r, g, b);
        }
    return px;
}

// Run-length coding: a code below 0x8000 repeats the next word that many times; a code of
// 0x8000 or more is followed by 0x10000 - code literal pixels.
std::vector<uint16_t> runLengthCode(const std::vector<uint16_t>& px) {
    std::vector<uint16_t> out;
    size_t i = 0, n = px.size();
    auto runAt = [&](size_t k) {
        size_t e = k;
        while (e < n && px[e] == px[k] && e - k < 0x7FFF) ++e;
        return e - k;
    };
    while (i < n) {
        size_t run = runAt(i);
        if (run >= 3) {
            out.push_back(uint16_t(run));
            out.push_back(px[i]);
            i += run;
            continue;
        }
        size_t j = i;
        while (j < n && j - i < 0x8000 && runAt(j) < 3) ++j;
        out.push_back(uint16_t(0x10000 - (j - i)));
        out.insert(out.end(), px.begin() + long(i), px.begin() + long(j));
        i = j;
    }
    return out;
}

// ---- model file ------------------------------------------------------------------------

constexpr uint32_t SHAPES = 4;
constexpr uint32_t TEXTURE_RLE = 0x0E;

Bytes modelFile(const Model& m, ShapeFn shape, const Palette& palette) {
    Bytes b;
    putU32(b, 0x00010000);
    putU32(b, SHAPES);
    putU32(b, TEXTURE_RLE);
    putF32(b, 1.0f);
    putU32(b, uint32_t(m.triangles.size() * 3));
    for (const Triangle& t : m.triangles) {
        Vec n = faceNormal(t);
        for (int k = 0; k < 3; ++k) {
            for (uint32_t s = 0; s < SHAPES; ++s) {
                Vec p = shape(t, k, int(s));
                putU16(b, uint16_t(fixed(p.x)));
                putU16(b, uint16_t(fixed(p.y)));
                putU16(b, uint16_t(fixed(p.z)));
                putU16(b, 0);
            }
            putU16(b, uint16_t(fixed(n.x)));
            putU16(b, uint16_t(fixed(n.y)));
            putU16(b, uint16_t(fixed(n.z)));
            putU16(b, 0);
            putU16(b, uint16_t(fixed(t.uv[k][0])));
            putU16(b, uint16_t(fixed(t.uv[k][1])));
            b.push_back(t.c[k].r);
            b.push_back(t.c[k].g);
            b.push_back(t.c[k].b);
            b.push_back(128);
        }
    }
    // Animation: one frame with a key per shape.
    putU32(b, 1);           // id
    putU32(b, SHAPES * 10); // frame length
    putF32(b, 1.0f);        // speed
    putU32(b, 0);           // play offset
    putU32(b, 1);           // frame count
    putU32(b, 0);           // shape id
    putU32(b, SHAPES);      // key count
    for (uint32_t k = 0; k < SHAPES; ++k) {
        putF32(b, float(k * 10));
        putF32(b, 1.0f);
    }
    std::vector<uint16_t> stream = runLengthCode(texturePixels(palette));
    putU32(b, uint32_t(stream.size() * 2));
    for (uint16_t w : stream) putU16(b, w);
    return b;
}

// Normal icon: the gem breathes.
Vec pulse(const Triangle& t, int k, int s) {
    static const double scale[SHAPES][2] = {{1.0, 1.0}, {1.06, 1.06}, {0.97, 1.12}, {1.03, 0.96}};
    Vec p = t.p[k];
    return {p.x * scale[s][0], p.y * scale[s][1], p.z * scale[s][0]};
}

// Copy icon: two cubes drift apart and back (triangles 0-11 the left cube, the rest the right).
Vec drift(const Triangle& t, int k, int s) {
    static const double offset[SHAPES] = {0.0, 0.4, 0.8, 0.4};
    Vec p = t.p[k];
    return {p.x + (p.x < 0 ? -offset[s] : offset[s]), p.y, p.z};
}

// Delete icon: the gem's facets fly out along their normals and shrink.
Vec shatter(const Triangle& t, int k, int s) {
    static const double out[SHAPES] = {0.0, 0.35, 0.8, 1.3};
    static const double shrink[SHAPES] = {1.0, 0.85, 0.65, 0.45};
    Vec centre = (t.p[0] + t.p[1] + t.p[2]) * (1.0 / 3.0);
    return centre + (t.p[k] - centre) * shrink[s] + faceNormal(t) * out[s];
}

// ---- descriptor and archive ------------------------------------------------------------

// "ＭＡＲＲＯＷＩＮ" then "デモ　セーブ" (demo save) in Shift-JIS; the second line starts at byte 16.
const char TITLE_SJIS[] =
    "\x82\x6c\x82\x60\x82\x71\x82\x71\x82\x6e\x82\x76\x82\x68\x82\x6d"
    "\x83\x66\x83\x82\x81\x40\x83\x5a\x81\x5b\x83\x75";
constexpr uint16_t TITLE_LINE_BREAK = 16;

Bytes descriptorFile() {
    Bytes b;
    putText(b, "PS2D", 4);
    putU16(b, 0);
    putU16(b, TITLE_LINE_BREAK);
    putU32(b, 0);
    putU32(b, 0x40);  // background transparency
    const uint32_t background[4][4] = {{20, 24, 60, 0}, {20, 24, 60, 0}, {60, 20, 70, 0}, {60, 20, 70, 0}};
    for (auto& c : background)
        for (uint32_t v : c) putU32(b, v);
    // Directions point the way the light travels: a warm key from the upper left front, a
    // cool fill from the right, a faint rim from behind.
    const float direction[3][4] = {{0.57735f, 0.57735f, 0.57735f, 0}, {-0.8f, -0.24f, 0.55f, 0}, {0, 0.45f, -0.9f, 0}};
    const float colour[3][4] = {{0.95f, 0.78f, 0.55f, 0}, {0.35f, 0.5f, 0.85f, 0}, {0.3f, 0.3f, 0.4f, 0}};
    const float ambient[4] = {0.7f, 0.7f, 0.8f, 0};
    for (auto& d : direction)
        for (float v : d) putF32(b, v);
    for (auto& c : colour)
        for (float v : c) putF32(b, v);
    for (float v : ambient) putF32(b, v);
    putText(b, TITLE_SJIS, 68);
    putText(b, "demo.icn", 64);
    putText(b, "demo_copy.icn", 64);
    putText(b, "demo_del.icn", 64);
    b.resize(964, 0);
    return b;
}

// 2025-01-01 12:00:00, for every entry.
void putHeader(Bytes& out, uint16_t mode, uint32_t size, const std::string& name) {
    Bytes h(512, 0);
    h[0] = uint8_t(mode);
    h[1] = uint8_t(mode >> 8);
    for (int i = 0; i < 4; ++i) h[4 + i] = uint8_t(size >> (8 * i));
    const uint8_t stamp[8] = {0, 0, 0, 12, 1, 1, 0xE9, 0x07};
    std::memcpy(&h[8], stamp, 8);
    std::memcpy(&h[24], stamp, 8);
    std::memcpy(&h[64], name.data(), name.size());
    out.insert(out.end(), h.begin(), h.end());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-sample OUT.psu\n");
        return 2;
    }

    const Model crystal = gem({150, 170, 255}, {110, 120, 235}, {80, 70, 210}, {50, 40, 150});
    Model twins;
    const Colour gold[6] = {{255, 200, 90}, {230, 170, 70}, {255, 220, 120},
                            {200, 140, 60}, {240, 190, 80}, {220, 160, 70}};
    const Colour teal[6] = {{90, 220, 200}, {70, 190, 180}, {120, 240, 220},
                            {60, 160, 150}, {80, 210, 190}, {70, 180, 170}};
    // Apart from the start, so every vertex of the left cube has x < 0.
    addCube(twins, {-1.45, 0, 0}, 0.8, gold);
    addCube(twins, {1.45, 0, 0}, 0.8, teal);
    const Model ruby = gem({255, 150, 140}, {235, 90, 80}, {200, 50, 50}, {140, 30, 30});

    const Palette violet{{6, 6, 16}, {12, 12, 24}, {28, 26, 31}};
    const Palette amber{{16, 10, 4}, {26, 20, 8}, {31, 31, 20}};
    const Palette ember{{18, 4, 4}, {28, 10, 8}, {31, 24, 12}};

    struct File {
        std::string name;
        Bytes data;
    };
    const std::vector<File> files = {
        {"icon.sys", descriptorFile()},
        {"demo.icn", modelFile(crystal, pulse, violet)},
        {"demo_copy.icn", modelFile(twins, drift, amber)},
        {"demo_del.icn", modelFile(ruby, shatter, ember)},
    };

    Bytes out;
    putHeader(out, 0x8427, uint32_t(files.size() + 2), "BADATA-MARROWIN");
    putHeader(out, 0x8427, 0, ".");
    putHeader(out, 0x8427, 0, "..");
    for (const File& f : files) {
        putHeader(out, 0x8497, uint32_t(f.data.size()), f.name);
        // Data filled out with zero bytes to whole 1024-byte blocks.
        size_t start = out.size();
        out.insert(out.end(), f.data.begin(), f.data.end());
        out.resize(start + (f.data.size() + 1023) / 1024 * 1024, 0);
    }

    FILE* fp = std::fopen(argv[1], "wb");
    if (!fp) {
        std::perror(argv[1]);
        return 1;
    }
    bool ok = std::fwrite(out.data(), 1, out.size(), fp) == out.size();
    ok = std::fclose(fp) == 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "make-sample: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
