// vjscene end to end: models written here (glTF JSON with a base64 buffer,
// OBJ/MTL text, a PNG through libpng) are imported by the program, then
// converted, decoded and evaluated by the engine, and compared with what
// the source format itself says (computed here in double).
#include <gtest/gtest.h>
#include <png.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "media/media.h"
#include "scene/scene.h"
#include "scene/vjscene/vjscene.h"
#include "tests/scene/scene_fixture.h"
#include "tests/support/support.h"
#include "text/text.h"

namespace {

using testing_support::ChildResult;
using testing_support::RunChild;
using Vec3 = scene::Vec3;

struct V3 {
  double x = 0, y = 0, z = 0;
};
V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 operator*(V3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double Dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V3 Cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
V3 Unit(V3 a) { return a * (1.0 / std::sqrt(Dot(a, a))); }
V3 Mirror(V3 a) { return {a.x, a.y, -a.z}; }
V3 FromVec(const Vec3& v) { return {v.x, v.y, v.z}; }
double Dist(V3 a, V3 b) { return std::sqrt(Dot(a - b, a - b)); }

// glTF's column-vector affine transform: rotation q (x y z w), translation,
// uniform-or-not scale.
struct Affine {
  double r[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  V3 t;
  V3 Apply(V3 p) const {
    return {r[0][0] * p.x + r[0][1] * p.y + r[0][2] * p.z + t.x, r[1][0] * p.x + r[1][1] * p.y + r[1][2] * p.z + t.y,
            r[2][0] * p.x + r[2][1] * p.y + r[2][2] * p.z + t.z};
  }
  Affine Then(const Affine& child) const {  // this · child
    Affine out;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) out.r[i][j] = r[i][0] * child.r[0][j] + r[i][1] * child.r[1][j] + r[i][2] * child.r[2][j];
    out.t = Apply(child.t);
    return out;
  }
};
Affine Trs(V3 t, std::array<double, 4> q = {0, 0, 0, 1}, double s = 1) {
  const double x = q[0], y = q[1], z = q[2], w = q[3];
  Affine a;
  const double m[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)},
                          {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)},
                          {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)}};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) a.r[i][j] = m[i][j] * s;
  a.t = t;
  return a;
}
Affine Inverse(const Affine& a) {  // rigid only
  Affine out;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) out.r[i][j] = a.r[j][i];
  const V3 t = out.Apply({0, 0, 0});
  out.t = V3{} - (out.Apply(a.t) - t);
  return out;
}
std::array<double, 4> AxisAngle(V3 axis, double angle) {
  return {axis.x * std::sin(angle / 2), axis.y * std::sin(angle / 2), axis.z * std::sin(angle / 2),
          std::cos(angle / 2)};
}

std::string Num(double v) {
  char buffer[64];
  auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
  return std::string(buffer, r.ptr);
}

std::string Base64(const std::string& in) {
  static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    const uint32_t n = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8) | uint8_t(in[i + 2]);
    out += {k[n >> 18], k[(n >> 12) & 63], k[(n >> 6) & 63], k[n & 63]};
  }
  if (i + 1 == in.size()) {
    const uint32_t n = uint8_t(in[i]) << 16;
    out += {k[n >> 18], k[(n >> 12) & 63], '=', '='};
  } else if (i + 2 == in.size()) {
    const uint32_t n = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8);
    out += {k[n >> 18], k[(n >> 12) & 63], k[(n >> 6) & 63], '='};
  }
  return out;
}

// A glTF document: one base64 buffer, accessors appended as data comes.
struct Gltf {
  std::string bin;
  std::vector<std::string> views, accessors;

  int Add(const void* data, size_t bytes, int component, int count, const char* type, const std::string& extra = "") {
    while (bin.size() % 4) bin += '\0';
    views.push_back("{\"buffer\":0,\"byteOffset\":" + std::to_string(bin.size()) +
                    ",\"byteLength\":" + std::to_string(bytes) + "}");
    bin.append(static_cast<const char*>(data), bytes);
    accessors.push_back("{\"bufferView\":" + std::to_string(views.size() - 1) + ",\"componentType\":" +
                        std::to_string(component) + ",\"count\":" + std::to_string(count) + ",\"type\":\"" + type +
                        "\"" + extra + "}");
    return static_cast<int>(accessors.size()) - 1;
  }
  int Floats(const std::vector<float>& v, int components, const char* type) {
    std::string extra;
    if (components == 3 || components == 1) {  // min/max (required for positions and times)
      std::vector<double> lo(components, 1e30), hi(components, -1e30);
      for (size_t i = 0; i < v.size(); ++i) {
        lo[i % components] = std::min<double>(lo[i % components], v[i]);
        hi[i % components] = std::max<double>(hi[i % components], v[i]);
      }
      extra = ",\"min\":[";
      for (int c = 0; c < components; ++c) extra += (c ? "," : "") + Num(lo[c]);
      extra += "],\"max\":[";
      for (int c = 0; c < components; ++c) extra += (c ? "," : "") + Num(hi[c]);
      extra += "]";
    }
    return Add(v.data(), v.size() * 4, 5126, static_cast<int>(v.size()) / components, type, extra);
  }
  int Indices(const std::vector<uint16_t>& v) {
    return Add(v.data(), v.size() * 2, 5123, static_cast<int>(v.size()), "SCALAR");
  }
  std::string Json(const std::string& rest, long byte_length = -1) const {
    std::string out = "{\"asset\":{\"version\":\"2.0\"},\"buffers\":[{\"byteLength\":" +
                      std::to_string(byte_length >= 0 ? byte_length : static_cast<long>(bin.size())) +
                      ",\"uri\":\"data:application/octet-stream;base64," + Base64(bin) + "\"}],\"bufferViews\":[";
    for (size_t i = 0; i < views.size(); ++i) out += (i ? "," : "") + views[i];
    out += "],\"accessors\":[";
    for (size_t i = 0; i < accessors.size(); ++i) out += (i ? "," : "") + accessors[i];
    return out + "]," + rest + "}";
  }
};

// The cube: 24 vertices, flat normals, counter-clockwise outside.
struct Geometry {
  std::vector<V3> positions, normals;
  std::vector<uint16_t> indices;
};
Geometry Cube() {
  Geometry g;
  const V3 faces[6][3] = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}},  {{-1, 0, 0}, {0, 0, 1}, {0, 1, 0}},
                          {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}},  {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}},
                          {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},  {{0, 0, -1}, {0, 1, 0}, {1, 0, 0}}};
  for (const auto& f : faces) {
    const uint16_t base = static_cast<uint16_t>(g.positions.size());
    const double st[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
    for (const auto& c : st) {
      g.positions.push_back(f[0] + f[1] * c[0] + f[2] * c[1]);
      g.normals.push_back(f[0]);
    }
    g.indices.insert(g.indices.end(), {base, uint16_t(base + 1), uint16_t(base + 2), base, uint16_t(base + 2),
                                       uint16_t(base + 3)});
  }
  return g;
}
Geometry Icosahedron() {
  Geometry g;
  const double t = (1 + std::sqrt(5.0)) / 2;
  const V3 p[12] = {{-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0}, {0, -1, t}, {0, 1, t},
                    {0, -1, -t}, {0, 1, -t}, {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}};
  for (const V3& v : p) {
    g.positions.push_back(Unit(v));
    g.normals.push_back(Unit(v));
  }
  const uint16_t f[] = {0, 11, 5, 0, 5, 1, 0, 1, 7, 0, 7, 10, 0, 10, 11, 1, 5, 9, 5, 11, 4, 11, 10, 2, 10, 7, 6,
                        7, 1, 8, 3, 9, 4, 3, 4, 2, 3, 2, 6, 3, 6, 8, 3, 8, 9, 4, 9, 5, 2, 4, 11, 6, 2, 10, 8, 6, 7,
                        9, 8, 1};
  for (size_t i = 0; i < sizeof f / sizeof f[0]; i += 3) {
    uint16_t a = f[i], b = f[i + 1], c = f[i + 2];
    if (Dot(Cross(g.positions[b] - g.positions[a], g.positions[c] - g.positions[a]), g.positions[a]) < 0)
      std::swap(b, c);
    g.indices.insert(g.indices.end(), {a, b, c});
  }
  return g;
}
std::vector<float> Flat(const std::vector<V3>& v) {
  std::vector<float> out;
  for (const V3& p : v) out.insert(out.end(), {float(p.x), float(p.y), float(p.z)});
  return out;
}

void WritePng(const std::string& path, int w, int h, const std::vector<uint8_t>& rgba) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, f);
  png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < h; ++y) png_write_row(png, const_cast<uint8_t*>(rgba.data() + y * w * 4));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
}

ChildResult Vjscene(const std::vector<std::string>& args) {
  std::vector<std::string> all{VJSCENE_PROGRAM};
  all.insert(all.end(), args.begin(), args.end());
  return RunChild(all, {}, 120.0);
}

// The source scene, shared by the glTF tests.
constexpr double kCamYaw = 0.3, kSunPitch = -0.5;
const V3 kLampAt{1, 3, 1};
const std::vector<uint8_t> kChecker = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 255, 10, 20, 30, 40,
                                       200, 100, 50, 255, 1, 2, 3, 4, 255, 255, 255, 0, 9, 99, 199, 255};

// Skin: a box column around z = -4, joints at y = 0 and y = 1.
struct SkinSource {
  std::vector<V3> positions;
  std::vector<std::array<float, 2>> weights;  // Bone0, Bone1
  std::vector<uint16_t> indices;
};
SkinSource SkinColumn() {
  SkinSource s;
  for (int level = 0; level < 3; ++level) {
    for (int k = 0; k < 4; ++k) {
      const double x = (k == 0 || k == 3) ? -0.2 : 0.2, z = -4 + ((k < 2) ? -0.2 : 0.2);
      s.positions.push_back({x, double(level), z});
      const float w1 = level * 0.5f;
      s.weights.push_back({1.0f - w1, w1});
    }
  }
  for (uint16_t level = 0; level < 2; ++level)
    for (uint16_t k = 0; k < 4; ++k) {
      const uint16_t a = level * 4 + k, b = level * 4 + (k + 1) % 4, c = a + 4, d = b + 4;
      s.indices.insert(s.indices.end(), {a, b, d, a, d, c});
    }
  return s;
}
Affine Bone0World() { return Trs({0, 0, -4}); }
Affine Bone1World(double t) { return Bone0World().Then(Trs({0, 1, 0}, AxisAngle({0, 0, 1}, t * M_PI / 2))); }

std::string SceneGltf(const std::string& mover_name = "Mover") {
  Gltf g;
  const Geometry cube = Cube(), ico = Icosahedron();
  const int cube_p = g.Floats(Flat(cube.positions), 3, "VEC3"), cube_n = g.Floats(Flat(cube.normals), 3, "VEC3");
  const int cube_i = g.Indices(cube.indices);
  std::vector<float> uv;
  for (const V3& p : ico.positions)
    uv.insert(uv.end(), {float(0.5 + std::atan2(p.z, p.x) / (2 * M_PI)), float(0.5 + p.y / 2)});
  const int ico_p = g.Floats(Flat(ico.positions), 3, "VEC3"), ico_n = g.Floats(Flat(ico.normals), 3, "VEC3");
  const int ico_t = g.Floats(uv, 2, "VEC2"), ico_i = g.Indices(ico.indices);
  const SkinSource skin = SkinColumn();
  std::vector<uint8_t> joints;
  std::vector<float> weights;
  for (const auto& w : skin.weights) {
    joints.insert(joints.end(), {0, 1, 0, 0});
    weights.insert(weights.end(), {w[0], w[1], 0, 0});
  }
  const int skin_p = g.Floats(Flat(skin.positions), 3, "VEC3");
  const int skin_j = g.Add(joints.data(), joints.size(), 5121, int(skin.positions.size()), "VEC4");
  const int skin_w = g.Floats(weights, 4, "VEC4"), skin_i = g.Indices(skin.indices);
  std::vector<float> ibm;
  for (const Affine& a : {Inverse(Bone0World()), Inverse(Bone1World(0))})
    for (int c = 0; c < 4; ++c)
      for (int r = 0; r < 4; ++r)
        ibm.push_back(r == 3 ? (c == 3 ? 1.0f : 0.0f) : float(c == 3 ? (r == 0 ? a.t.x : r == 1 ? a.t.y : a.t.z) : a.r[r][c]));
  const int skin_m = g.Floats(ibm, 16, "MAT4");
  const int times = g.Floats({0, 1}, 1, "SCALAR");
  const int moves = g.Floats({0, 0, 5, 2, 0, 5}, 3, "VEC3");
  const auto yq = AxisAngle({0, 1, 0}, M_PI / 2), zq = AxisAngle({0, 0, 1}, M_PI / 2);
  const int turns = g.Floats({0, 0, 0, 1, float(yq[0]), float(yq[1]), float(yq[2]), float(yq[3])}, 4, "VEC4");
  const int bends = g.Floats({0, 0, 0, 1, float(zq[0]), float(zq[1]), float(zq[2]), float(zq[3])}, 4, "VEC4");
  auto i = [](int v) { return std::to_string(v); };
  const auto cam_q = AxisAngle({0, 1, 0}, kCamYaw), sun_q = AxisAngle({1, 0, 0}, kSunPitch);
  auto q = [](const std::array<double, 4>& v) {
    return "[" + Num(v[0]) + "," + Num(v[1]) + "," + Num(v[2]) + "," + Num(v[3]) + "]";
  };
  std::string rest =
      "\"meshes\":["
      "{\"primitives\":[{\"attributes\":{\"POSITION\":" + i(cube_p) + ",\"NORMAL\":" + i(cube_n) +
      "},\"indices\":" + i(cube_i) + ",\"material\":0}]},"
      "{\"primitives\":[{\"attributes\":{\"POSITION\":" + i(ico_p) + ",\"NORMAL\":" + i(ico_n) +
      ",\"TEXCOORD_0\":" + i(ico_t) + "},\"indices\":" + i(ico_i) + ",\"material\":1}]},"
      "{\"primitives\":[{\"attributes\":{\"POSITION\":" + i(skin_p) + ",\"JOINTS_0\":" + i(skin_j) +
      ",\"WEIGHTS_0\":" + i(skin_w) + "},\"indices\":" + i(skin_i) + ",\"material\":0}]}],"
      "\"materials\":[{\"name\":\"Mat.001\",\"pbrMetallicRoughness\":{\"baseColorFactor\":[0.8,0.2,0.1,1]}},"
      "{\"name\":\"Mat.002\",\"pbrMetallicRoughness\":{\"baseColorTexture\":{\"index\":0}}}],"
      "\"textures\":[{\"source\":0}],\"images\":[{\"uri\":\"checker.png\"}],"
      "\"cameras\":[{\"type\":\"perspective\",\"perspective\":{\"yfov\":0.8,\"aspectRatio\":1.5,\"znear\":0.1,"
      "\"zfar\":100}}],"
      "\"extensionsUsed\":[\"KHR_lights_punctual\"],"
      "\"extensions\":{\"KHR_lights_punctual\":{\"lights\":[{\"type\":\"point\",\"color\":[1,0.5,0.25],"
      "\"intensity\":2},{\"type\":\"directional\",\"color\":[1,1,1],\"intensity\":1}]}},"
      "\"skins\":[{\"joints\":[8,9],\"inverseBindMatrices\":" + i(skin_m) + "}],"
      "\"nodes\":["
      "{\"name\":\"Cube\",\"mesh\":0,\"translation\":[3,0,0]},"
      "{\"name\":\"Ico\",\"mesh\":1,\"translation\":[-3,0,0]},"
      "{\"name\":\"Holder\",\"scale\":[2,2,2],\"translation\":[0,2,0],\"children\":[3]},"
      "{\"name\":\"Child\",\"mesh\":0,\"translation\":[0,1,0]},"
      "{\"name\":\"" + mover_name + "\",\"mesh\":0,\"translation\":[0,0,5]},"
      "{\"name\":\"Cam\",\"camera\":0,\"translation\":[0,1,10],\"rotation\":" + q(cam_q) + "},"
      "{\"name\":\"Lamp\",\"translation\":[1,3,1],\"extensions\":{\"KHR_lights_punctual\":{\"light\":0}}},"
      "{\"name\":\"Sun\",\"rotation\":" + q(sun_q) + ",\"extensions\":{\"KHR_lights_punctual\":{\"light\":1}}},"
      "{\"name\":\"Bone0\",\"translation\":[0,0,-4],\"children\":[9]},"
      "{\"name\":\"Bone1\",\"translation\":[0,1,0]},"
      "{\"name\":\"Skinned\",\"mesh\":2,\"skin\":0}],"
      "\"scenes\":[{\"nodes\":[0,1,2,4,5,6,7,8,10]}],\"scene\":0,"
      "\"animations\":[{\"name\":\"Go\",\"samplers\":["
      "{\"input\":" + i(times) + ",\"output\":" + i(moves) + ",\"interpolation\":\"LINEAR\"},"
      "{\"input\":" + i(times) + ",\"output\":" + i(turns) + ",\"interpolation\":\"LINEAR\"},"
      "{\"input\":" + i(times) + ",\"output\":" + i(bends) + ",\"interpolation\":\"LINEAR\"}],"
      "\"channels\":[{\"sampler\":0,\"target\":{\"node\":4,\"path\":\"translation\"}},"
      "{\"sampler\":1,\"target\":{\"node\":4,\"path\":\"rotation\"}},"
      "{\"sampler\":2,\"target\":{\"node\":9,\"path\":\"rotation\"}}]}]";
  return g.Json(rest);
}

// Source world vertices of each mesh node at t = 0 (glTF's space).
std::map<std::string, std::vector<V3>> SourceWorldVertices() {
  std::map<std::string, std::vector<V3>> out;
  const Geometry cube = Cube(), ico = Icosahedron();
  auto place = [&](const std::string& name, const Geometry& g, const Affine& world) {
    for (const V3& p : g.positions) out[name].push_back(world.Apply(p));
  };
  place("CUBE", cube, Trs({3, 0, 0}));
  place("ICO", ico, Trs({-3, 0, 0}));
  place("CHILD", cube, Trs({0, 2, 0}, {0, 0, 0, 1}, 2).Then(Trs({0, 1, 0})));
  place("MOVER", cube, Trs({0, 0, 5}));
  return out;
}

// The imported scene as the engine loads it (geometry only).
class ImportedGltf : public scene_test::SceneFolderTest {
 protected:
  static void SetUpTestSuite() {
    root_ = new testing_support::TempDir();
    testing_support::MakeDirs(*root_ / "model");
    testing_support::WriteFile(*root_ / "model/scene.gltf", SceneGltf("Mo\\\"ver"));
    WritePng(*root_ / "model/checker.png", 4, 2, kChecker);
    text_ = *root_ / "fx/data/scenes/all.txt";
    testing_support::MakeDirs(*root_ / "fx/data/scenes");
    result_ = new ChildResult(Vjscene({"import", *root_ / "model/scene.gltf", text_}));
  }
  static void TearDownTestSuite() {
    delete result_;
    delete root_;
  }
  void SetUp() override {
    SceneFolderTest::SetUp();
    ASSERT_EQ(result_->exit_code, 0) << result_->err;
    std::string bytes;
    ASSERT_EQ(scene::ConvertSceneTextToBytes(text_.c_str(), &bytes), 0) << AllMessages();
    ASSERT_EQ(scene::DecodeSceneBinary(bytes, &file), scene::DecodeResult::kOk);
    scene::LoadOptions geometry;
    geometry.device_buffers = false;
    ASSERT_EQ(scene::LoadSceneBinary(&s, file, geometry), 0) << AllMessages();
    s.SetStartTime(0.0);
  }
  static V3 World(const scene::SceneObject& o, const render::RenderVertex& v) {
    return FromVec(scene::TransformPoint({v.x, v.y, v.z}, o.world));
  }
  scene::SceneObject& Object(const std::string& name) {
    scene::SceneObject* o = s.FindObject(name);
    EXPECT_NE(o, nullptr) << name;
    static scene::SceneObject none;
    return o ? *o : none;
  }

  static testing_support::TempDir* root_;
  static std::string text_;
  static ChildResult* result_;
  scene::SceneFile file;
  scene::Scene s;
};
testing_support::TempDir* ImportedGltf::root_ = nullptr;
std::string ImportedGltf::text_;
ChildResult* ImportedGltf::result_ = nullptr;

TEST_F(ImportedGltf, WorldVerticesAtRestAreTheSourcesMirrored) {
  s.Evaluate(0.0);
  for (const auto& [name, source] : SourceWorldVertices()) {
    const scene::SceneObject& o = Object(name == "MOVER" ? "MO_VER" : name);
    ASSERT_FALSE(o.mesh.elements.empty()) << name;
    for (const scene::RenderElement& e : o.mesh.elements) {
      // One quantisation step of the element's box, as a length.
      V3 lo{1e30, 1e30, 1e30}, hi{-1e30, -1e30, -1e30};
      for (uint32_t v = e.first_vertex; v < e.first_vertex + e.vertex_count; ++v) {
        const render::RenderVertex& r = o.mesh.vertices[v];
        lo = {std::min<double>(lo.x, r.x), std::min<double>(lo.y, r.y), std::min<double>(lo.z, r.z)};
        hi = {std::max<double>(hi.x, r.x), std::max<double>(hi.y, r.y), std::max<double>(hi.z, r.z)};
      }
      const double step = std::sqrt(Dot(hi - lo, hi - lo)) / 65535.0 + 1e-5;
      for (uint32_t v = e.first_vertex; v < e.first_vertex + e.vertex_count; ++v) {
        const V3 p = World(o, o.mesh.vertices[v]);
        double best = 1e30;
        for (const V3& q : source) best = std::min(best, Dist(p, Mirror(q)));
        EXPECT_LE(best, step) << name << " vertex " << v;
      }
    }
  }
}

TEST_F(ImportedGltf, FacesPointTheSourcesWayAndSmoothingFollowsItsNormals) {
  s.Evaluate(0.0);
  // Cube and icosahedron are convex around their origins: the source
  // normal of every face points away from the centre.
  for (const char* name : {"CUBE", "ICO", "CHILD"}) {
    const scene::SceneObject& o = Object(name);
    const V3 centre = FromVec(o.world_position);
    for (const scene::RenderElement& e : o.mesh.elements)
      for (uint32_t t = 0; t < e.triangle_count; ++t) {
        const uint16_t* idx = &o.mesh.indices[e.first_index + t * 3];
        const V3 a = World(o, o.mesh.vertices[e.first_vertex + idx[0]]);
        const V3 b = World(o, o.mesh.vertices[e.first_vertex + idx[1]]);
        const V3 c = World(o, o.mesh.vertices[e.first_vertex + idx[2]]);
        EXPECT_GT(Dot(Cross(b - a, c - a), (a + b + c) * (1.0 / 3) - centre), 0.0) << name << " face " << t;
      }
  }
  EXPECT_EQ(Object("CUBE").mesh.vertices.size(), 24u);
  const scene::SceneObject& ico = Object("ICO");
  EXPECT_EQ(ico.mesh.vertices.size(), 12u);
  for (const render::RenderVertex& v : ico.mesh.vertices) {
    const V3 n{v.nx, v.ny, v.nz}, radial = Unit({v.x, v.y, v.z});
    EXPECT_GT(Dot(Unit(n), radial), std::cos(2.0 * M_PI / 180.0));
  }
  // One smoothing value over the whole icosahedron.
  text::TagDocument doc;
  ASSERT_EQ(text::LoadTagFile(&doc, text_.c_str()), 0);
  const text::TagNode* root = text::FindChild(text::RootNode(&doc), "SCENE");
  std::set<int32_t> ico_values;
  for (const text::TagNode* child : root->Children()) {
    if (!text::IsTag(child, "MESH") || std::string(text::FindString(child, "NAME")) != "Ico") continue;
    const text::TagNode* values =
        text::FindChild(text::FindChild(text::FindChild(child, "MAXMESH"), "FACES"), "SMOOTHINGGROUP");
    for (const text::TagNode* v : values->Children()) {
      int32_t value = 0;
      ASSERT_TRUE(v->GetInt(&value));
      ico_values.insert(value);
    }
  }
  EXPECT_EQ(ico_values.size(), 1u);
}

TEST_F(ImportedGltf, MaterialsAndTheirTexture) {
  ASSERT_TRUE(file.has_materials);
  const scene::MaterialDef* colour = file.FindMaterial("MAT.001");
  const scene::MaterialDef* textured = file.FindMaterial("MAT.002");
  ASSERT_TRUE(colour && textured);
  EXPECT_EQ(colour->kind, scene::MATERIAL_COLOUR);
  EXPECT_EQ(colour->colour, (uint32_t(0.8f * 255) << 16) | (uint32_t(0.2f * 255) << 8) | uint32_t(0.1f * 255));
  EXPECT_EQ(textured->kind, scene::MATERIAL_DIFFUSE);
  EXPECT_EQ(textured->texture1, "CHECKER");
  media::Image image;
  ASSERT_EQ(media::LoadTga(&image, (*root_ / "fx/data/textures/checker.tga").c_str(), true), 0);
  ASSERT_EQ(image.width, 4u);
  ASSERT_EQ(image.height, 2u);
  for (uint32_t y = 0; y < 2; ++y)
    for (uint32_t x = 0; x < 4; ++x) {
      const uint8_t* p = image.Row(y) + x * 4;  // B G R A
      const uint8_t* q = &kChecker[(y * 4 + x) * 4];
      EXPECT_EQ((std::array<int, 4>{p[2], p[1], p[0], p[3]}), (std::array<int, 4>{q[0], q[1], q[2], q[3]}))
          << x << "," << y;
    }
}

TEST_F(ImportedGltf, CameraLooksTheSourcesWayWithItsFieldOfView) {
  ASSERT_EQ(file.cameras.size(), 1u);
  EXPECT_NEAR(file.cameras[0].fov, 2 * std::atan(std::tan(0.4) / 0.75) * 180 / M_PI, 1e-4);
  s.Evaluate(0.0);
  const scene::Matrix o = s.view.Orientation();
  const V3 forward = Mirror({-std::sin(kCamYaw), 0, -std::cos(kCamYaw)});
  EXPECT_NEAR(o.m[2][0], forward.x, 1e-4);
  EXPECT_NEAR(o.m[2][1], forward.y, 1e-4);
  EXPECT_NEAR(o.m[2][2], forward.z, 1e-4);
  EXPECT_NEAR(o.m[1][1], 1.0, 1e-4);  // up stays up
  const V3 at = FromVec(s.view.Position());
  EXPECT_LT(Dist(at, Mirror({0, 1, 10})), 1e-4);
}

TEST_F(ImportedGltf, LightsKeepPlaceDirectionAndStrength) {
  s.Evaluate(0.0);
  ASSERT_EQ(s.lights.size(), 2u);
  const render::Light* point = nullptr;
  const render::Light* sun = nullptr;
  for (const scene::SceneLight& l : s.lights) (l.light.type == render::LIGHT_POINT ? point : sun) = &l.evaluated;
  ASSERT_TRUE(point && sun);
  EXPECT_LT(Dist(FromVec(point->position), Mirror(kLampAt)), 1e-4);
  EXPECT_NEAR(point->diffuse.r, 1.0, 1e-6);
  EXPECT_NEAR(point->diffuse.g, 0.5, 1e-6);
  EXPECT_NEAR(point->diffuse.b, 0.25, 1e-6);
  EXPECT_NEAR(point->attenuation0, 0.5, 1e-6);  // 1 / MULTIPLIER 2
  const V3 down = Mirror({0, std::sin(kSunPitch), -std::cos(kSunPitch)});
  EXPECT_LT(Dist(FromVec(sun->direction), down), 1e-4);
}

TEST_F(ImportedGltf, AnimationAndSkinFollowTheSourceHalfway) {
  s.Evaluate(0.5);
  EXPECT_LT(Dist(FromVec(Object("MO_VER").world_position), Mirror({1, 0, 5})), 1e-4);
  const scene::SceneObject& skinned = Object("SKINNED");
  ASSERT_EQ(skinned.mesh.elements.size(), 1u);
  const scene::RenderElement& e = skinned.mesh.elements[0];
  ASSERT_TRUE(e.skinned && e.drawable);
  const SkinSource source = SkinColumn();
  const Affine b0 = Bone0World().Then(Inverse(Bone0World()));
  const Affine b1 = Bone1World(0.5).Then(Inverse(Bone1World(0)));
  std::vector<V3> expected;
  for (size_t v = 0; v < source.positions.size(); ++v)
    expected.push_back(Mirror(b0.Apply(source.positions[v]) * source.weights[v][0] +
                              b1.Apply(source.positions[v]) * source.weights[v][1]));
  ASSERT_EQ(e.skinned_vertices.size(), expected.size());
  for (const render::RenderVertex& r : e.skinned_vertices) {
    double best = 1e30;
    for (const V3& q : expected) best = std::min(best, Dist({r.x, r.y, r.z}, q));
    EXPECT_LE(best, 1e-4);
  }
}

TEST_F(ImportedGltf, NamesSanitisedAndIdsUniqueAcrossKinds) {
  text::TagDocument doc;
  ASSERT_EQ(text::LoadTagFile(&doc, text_.c_str()), 0);
  const text::TagNode* root = text::FindChild(text::RootNode(&doc), "SCENE");
  std::set<int32_t> ids;
  int objects = 0;
  for (const text::TagNode* child : root->Children()) {
    if (!text::IsTag(child, "MESH") && !text::IsTag(child, "CAMERA") && !text::IsTag(child, "LIGHT")) continue;
    int32_t id = 0;
    ASSERT_TRUE(text::FindInt(child, "ID", &id));
    ids.insert(id);
    ++objects;
  }
  EXPECT_EQ(ids.size(), static_cast<size_t>(objects));
  EXPECT_NE(s.FindObject("MO_VER"), nullptr);  // the quote became '_'
  EXPECT_NE(s.FindObject("*BONE1"), nullptr);  // a joint without geometry keeps an ID, hidden
  const std::string all = testing_support::ReadFile(text_);
  for (size_t at = all.find('e'); at != std::string::npos; at = all.find('e', at + 1))
    EXPECT_FALSE(at > 0 && std::isdigit(static_cast<unsigned char>(all[at - 1]))) << all.substr(at - 10, 20);
}

TEST_F(ImportedGltf, InspectAgreesOnTextAndCacheAndConvertIsStable) {
  const std::string cache = *root_ / "fx/data/scenesbin/all.HVX";
  testing_support::MakeDirs(*root_ / "fx/data/scenesbin");
  ASSERT_EQ(Vjscene({"convert", text_, cache}).exit_code, 0);
  const std::string first = testing_support::ReadFile(cache);
  ASSERT_EQ(Vjscene({"convert", text_, cache}).exit_code, 0);
  EXPECT_EQ(testing_support::ReadFile(cache), first);
  const ChildResult text = Vjscene({"inspect", text_, "--at=0.5"});
  const ChildResult binary = Vjscene({"inspect", cache, "--at=0.5"});
  ASSERT_EQ(text.exit_code, 0) << text.err;
  ASSERT_EQ(binary.exit_code, 0) << binary.err;
  EXPECT_EQ(text.out, binary.out);
  EXPECT_NE(text.out.find("skinned"), std::string::npos);
  EXPECT_NE(text.out.find("object \"MO_VER\" 1.0000 0.0000 -5.0000"), std::string::npos) << text.out;
}

// --- OBJ ---------------------------------------------------------------------

class ImportedObj : public scene_test::SceneFolderTest {};

TEST_F(ImportedObj, QuadsSmoothingMaterialsAndAnAddedCamera) {
  testing_support::TempDir root;
  WritePng(root / "wood.png", 4, 2, kChecker);
  testing_support::WriteFile(root / "m.mtl",
                             "newmtl Tex\nKd 1 1 1\nmap_Kd wood.png\n\nnewmtl Plain\nKd 0.1 0.2 0.3\n");
  // A flat box ("s off", a normal per face) and a smooth four-sided tube
  // ("s 1", radial normals shared by the faces), both of quads.
  std::string obj = "mtllib m.mtl\no Box\n";
  const Geometry cube = Cube();
  for (size_t f = 0; f < 6; ++f) {
    for (int k = 0; k < 4; ++k) {
      const V3& p = cube.positions[f * 4 + k];
      obj += "v " + Num(p.x + 4) + " " + Num(p.y) + " " + Num(p.z) + "\n";
    }
    obj += "vn " + Num(cube.normals[f * 4].x) + " " + Num(cube.normals[f * 4].y) + " " + Num(cube.normals[f * 4].z) + "\n";
  }
  obj += "vt 0 0\nusemtl Tex\ns off\n";
  for (int f = 0; f < 6; ++f) {
    obj += "f";
    for (int k = 0; k < 4; ++k) obj += " " + std::to_string(f * 4 + k + 1) + "/1/" + std::to_string(f + 1);
    obj += "\n";
  }
  obj += "o Tube\n";
  for (int level = 0; level < 2; ++level)
    for (int k = 0; k < 4; ++k) {
      const double a = k * M_PI / 2;
      obj += "v " + Num(std::cos(a)) + " " + Num(level * 2.0) + " " + Num(std::sin(a)) + "\n";
    }
  for (int k = 0; k < 4; ++k) obj += "vn " + Num(std::cos(k * M_PI / 2)) + " 0 " + Num(std::sin(k * M_PI / 2)) + "\n";
  obj += "usemtl Plain\ns 1\n";
  for (int k = 0; k < 4; ++k) {
    const int a = 25 + k, b = 25 + (k + 1) % 4;  // the tube's vertices follow the box's 24
    const int na = 7 + k, nb = 7 + (k + 1) % 4;
    obj += "f " + std::to_string(a) + "//" + std::to_string(na) + " " + std::to_string(a + 4) + "//" +
           std::to_string(na) + " " + std::to_string(b + 4) + "//" + std::to_string(nb) + " " + std::to_string(b) +
           "//" + std::to_string(nb) + "\n";
  }
  testing_support::WriteFile(root / "m.obj", obj);
  const std::string out = root / "out/data/scenes/m.txt";
  testing_support::MakeDirs(root / "out/data/scenes");
  const ChildResult r = Vjscene({"import", root / "m.obj", out, "--no-default-light"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(testing_support::Exists(root / "out/data/textures/wood.tga"));

  scene::SceneFile f;
  ASSERT_EQ(scene::ConvertSceneTextToData(out.c_str(), &f), 0) << AllMessages();
  EXPECT_TRUE(f.lights.empty());
  const scene::MaterialDef* tex = f.FindMaterial("TEX");
  const scene::MaterialDef* plain = f.FindMaterial("PLAIN");
  ASSERT_TRUE(tex && plain);
  EXPECT_EQ(tex->kind, scene::MATERIAL_DIFFUSE);
  EXPECT_EQ(tex->texture1, "WOOD");
  EXPECT_EQ(plain->kind, scene::MATERIAL_COLOUR);
  EXPECT_EQ(plain->colour, (uint32_t(0.1f * 255) << 16) | (uint32_t(0.2f * 255) << 8) | uint32_t(0.3f * 255));

  scene::Scene s;
  scene::LoadOptions geometry;
  geometry.device_buffers = false;
  ASSERT_EQ(scene::LoadSceneBinary(&s, f, geometry), 0) << AllMessages();
  s.Evaluate(0.0);
  size_t box_triangles = 0, tube_triangles = 0;
  for (int32_t i = 0; i < static_cast<int32_t>(s.file_objects.size()); ++i) {
    const scene::SceneObject* o = s.ObjectAt(i);
    ASSERT_TRUE(o);
    for (const scene::RenderElement& e : o->mesh.elements) {
      const bool box = e.material_name == "TEX";
      (box ? box_triangles : tube_triangles) += e.triangle_count;
      EXPECT_EQ(e.vertex_count, box ? 24u : 8u) << e.material_name;  // flat 4 per face; smooth 1 per position
      for (uint32_t v = e.first_vertex; v < e.first_vertex + e.vertex_count; ++v) {
        const render::RenderVertex& r = o->mesh.vertices[v];
        const V3 p = FromVec(scene::TransformPoint({r.x, r.y, r.z}, o->world));
        const V3 n = Unit({r.nx, r.ny, r.nz});
        if (box) {  // flat: the normal is the axis of the face the vertex lies on
          const V3 local = p - V3{4, 0, 0};
          const double largest = std::max({std::fabs(n.x), std::fabs(n.y), std::fabs(n.z)});
          EXPECT_NEAR(largest, 1.0, 1e-3);
          EXPECT_NEAR(Dot(local, n), 1.0, 1e-3);
        } else {  // smooth: outward, one normal per position (below)
          EXPECT_GT(Dot(n, Unit({p.x, 0, p.z})), 0.9);
        }
        for (int k = 0; k < 6; ++k) EXPECT_GE(scene::PlaneDistance(s.view.FrustumPlanes()[k], {float(p.x), float(p.y), float(p.z)}), 0.0f);
      }
    }
  }
  EXPECT_EQ(box_triangles, 12u);
  EXPECT_EQ(tube_triangles, 8u);
}

// --- bad input ----------------------------------------------------------------

TEST(VjsceneBadInput, FailsWithOneLineAndNoOutput) {
  testing_support::TempDir root;
  Gltf g;
  const int p = g.Floats({0, 0, 0, 1, 0, 0, 0, 1, 0}, 3, "VEC3");
  const std::string triangle = "\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":" + std::to_string(p) +
                               "}}]}],\"nodes\":[{\"mesh\":0}],\"scenes\":[{\"nodes\":[0]}],\"scene\":0";
  std::string short_buffer = g.Json(triangle, 4096);
  Gltf far = g;
  far.accessors[0] = far.accessors[0].replace(far.accessors[0].find("\"count\":3"), 9, "\"count\":300");
  Gltf nan;
  nan.Floats({0, 0, 0, std::nanf(""), 0, 0, 0, 1, 0}, 3, "VEC3");
  nan.accessors[0] = "{\"bufferView\":0,\"componentType\":5126,\"count\":3,\"type\":\"VEC3\"}";
  const struct {
    const char* name;
    const char* file;
    std::string contents;
  } cases[] = {
      {"missing file", "none.gltf", ""},
      {"unknown format", "junk.xyz", "this is no model at all\n"},
      {"short buffer", "short.gltf", short_buffer},
      {"accessor out of range", "far.gltf", far.Json(triangle)},
      {"NaN in a buffer", "nan.gltf", nan.Json(triangle)},
  };
  for (const auto& c : cases) {
    const std::string in = root / c.file;
    if (!c.contents.empty()) testing_support::WriteFile(in, c.contents);
    const std::string out = root / "out.txt";
    const ChildResult r = Vjscene({"import", in, out});
    EXPECT_EQ(r.exit_code, 1) << c.name << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.name << ": " << r.err;
    EXPECT_FALSE(testing_support::Exists(out)) << c.name;
  }
  for (const std::vector<std::string>& usage : std::vector<std::vector<std::string>>{
           {}, {"import", "a.gltf"}, {"import", "a", "b", "--fps=0"}, {"inspect"}, {"convert", "a"}, {"dance"}})
    EXPECT_EQ(Vjscene(usage).exit_code, 2);
}

// The bundled imported scene converts, decodes and plays its loop.
TEST_F(ImportedObj, BundledPillarsConvertAndDecode) {
  const std::string text = std::string(VJ_SOURCE_DIR) + "/effects/pillars/data/scenes/pillars.txt";
  std::string bytes;
  ASSERT_EQ(scene::ConvertSceneTextToBytes(text.c_str(), &bytes), 0) << AllMessages();
  scene::SceneFile f;
  ASSERT_EQ(scene::DecodeSceneBinary(bytes, &f), scene::DecodeResult::kOk);
  EXPECT_EQ(f.cameras.size(), 1u);
  ASSERT_FALSE(f.pos_rot_tracks.empty());
  for (const scene::PosRotTrack& t : f.pos_rot_tracks) EXPECT_NEAR((t.samples.size() - 1) / t.rate, 8.0, 1e-6);
  const scene::MaterialDef* floor = f.FindMaterial("FLOORTILES");
  ASSERT_TRUE(floor);
  EXPECT_TRUE(testing_support::Exists(std::string(VJ_SOURCE_DIR) + "/effects/pillars/data/textures/" +
                                      "floor.tga"));
  scene::Scene s;
  scene::LoadOptions geometry;
  geometry.device_buffers = false;
  ASSERT_EQ(scene::LoadSceneBinary(&s, f, geometry), 0) << AllMessages();
}

// --- numbers -----------------------------------------------------------------------

TEST(VjsceneText, RealsRoundTripThroughTheTagReaderWithoutExponent) {
  for (float value : {1e-7f, 3e12f, -0.0f, 0.1f, -123.456f, 1.0f, 16777217.0f, 3.4e38f, 1.4e-45f}) {
    const std::string text = vjscene::FormatReal(value);
    EXPECT_EQ(text.find_first_of("eE"), std::string::npos) << text;
    const std::string doc_text = "<A> " + text + " </A>";
    text::TagDocument doc;
    ASSERT_EQ(text::ParseTagText(&doc, doc_text.c_str()), 0);
    float back = 0.0f;
    ASSERT_TRUE(text::FindReal(text::RootNode(&doc), "A", &back, text::Numbers::kRealOnly)) << text;
    EXPECT_EQ(std::memcmp(&back, &value, sizeof value), 0) << text;
  }
  EXPECT_EQ(vjscene::SanitizeName("a\"b\nc\x7f"), "a_b_c_");
}

}  // namespace
