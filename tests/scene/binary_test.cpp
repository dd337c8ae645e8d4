// The binary scene format with the "HVX1" extension: exact bytes,
// round trips, limits, and refusal of damaged input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "scene/scene.h"
#include "tests/scene/scene_fixture.h"
#include "tests/scene/scene_text_writer.h"

namespace {

using namespace scene_test;
using Bytes = std::vector<uint8_t>;

std::string AsString(const Bytes& b) { return std::string(b.begin(), b.end()); }

scene::SceneFile OneTriangle() {
  scene::SceneFile s;
  scene::SceneMesh mesh;
  mesh.name = "T";
  scene::MeshElement e;
  e.vertices.resize(3);
  e.vertices[1].position = {1, 0, 0};
  e.vertices[2].position = {0, 1, 0};
  e.indices = {0, 1, 2};
  e.material = "M";
  mesh.elements.push_back(e);
  s.meshes.push_back(mesh);
  return s;
}

TEST(SceneBinary, OneTriangleByteForByte) {
  std::string bytes;
  ASSERT_EQ(scene::EncodeSceneBinary(OneTriangle(), &bytes), 0);
  const Bytes expected = {
      7, 0, 0, 0,                   // version 7, u32 little-endian
      1, 0, 0, 0,                   // meshCount
      1, 0, 0, 0, 'T',              // nameLength, name (no terminator)
      1, 0, 0, 0,                   // elementCount
      3, 0, 0, 0,                   // vertexCount
      3, 0, 0, 0,                   // indexCount
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,               // positionMin 0 0 0 (f32)
      0, 0, 0x80, 0x3F, 0, 0, 0x80, 0x3F, 0, 0, 0, 0,   // positionMax 1 1 0
      0, 0, 0, 0, 0, 0,             // vertex 0: (0, 0, 0) as u16
      0xFF, 0xFF, 0, 0, 0, 0,       // vertex 1: x = 65535
      0, 0, 0xFF, 0xFF, 0, 0,       // vertex 2: y = 65535 (z extent 0 stores 0)
      127, 127, 255,                // normals (0, 0, 1): trunc((n + 1) × 127.5)
      127, 127, 255,
      127, 127, 255,
      0xFF, 0xFF, 0xFF, 0xFF,       // colours: 0xFFFFFFFF, no vertex colours
      0xFF, 0xFF, 0xFF, 0xFF,
      0xFF, 0xFF, 0xFF, 0xFF,
      0, 0, 0, 0, 0, 0, 0, 0,       // uvMin 0 0
      0, 0, 0, 0, 0, 0, 0, 0,       // uvMax 0 0
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // uvs, 2 × u16 per vertex
      0,                            // hasSkin
      1, 0, 0, 0, 'M',              // materialName
      0, 1, 2,                      // indices as bytes (fewer than 256 vertices)
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // node position
      0, 0, 0x80, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // rotation w x y z = 1 0 0 0
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // pivot position
      0, 0, 0x80, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // pivot rotation
      0xFF, 0xFF, 0xFF, 0xFF,       // parent -1
      0, 0, 0, 0,                   // lightCount
      0, 0, 0, 0,                   // cameraCount
      0, 0, 0, 0,                   // posRotCount
      0, 0, 0, 0,                   // floatCount
  };
  EXPECT_EQ(bytes, AsString(expected));

  // With a "SRC " stamp the extension follows the float owners.
  scene::SceneFile stamped = OneTriangle();
  stamped.has_source = true;
  stamped.source = {0x0102030405060708ull, -2};
  ASSERT_EQ(scene::EncodeSceneBinary(stamped, &bytes), 0);
  const Bytes tail = {
      'H', 'V', 'X', '1',           // magic 0x31585648
      1, 0, 0, 0,                   // sectionCount
      'S', 'R', 'C', ' ', 16, 0, 0, 0,  // tag, byteLength
      8, 7, 6, 5, 4, 3, 2, 1,       // u64 text size
      0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // i64 mtime -2
  };
  ASSERT_EQ(bytes.size(), expected.size() + tail.size());
  EXPECT_EQ(bytes.substr(expected.size()), AsString(tail));
  scene::SceneFile back;
  ASSERT_EQ(scene::DecodeSceneBinary(bytes, &back), scene::DecodeResult::kOk);
  EXPECT_TRUE(back.has_source);
  EXPECT_EQ(back.source, stamped.source);
}

TEST(SceneBinary, LightCameraTrackAndOwnerRecords) {
  scene::SceneFile s;
  render::Light l;
  l.type = render::LIGHT_POINT;
  l.diffuse = {1, 2, 3, 4};
  l.phi = 5;
  s.lights.push_back(l);
  scene::CameraRecord c;
  c.name = "Cam";
  c.fov = 45;
  s.cameras.push_back(c);
  s.pos_rot_tracks.push_back({30.0f, {{{1, 2, 3}, {1, 0, 0, 0}}}});
  s.pos_rot_owners.push_back({scene::OWNER_LIGHT, 0});
  s.float_tracks.push_back({25, {9.0f}});
  s.float_owners.push_back({scene::OWNER_CAMERA, 0});
  std::string bytes;
  ASSERT_EQ(scene::EncodeSceneBinary(s, &bytes), 0);
  auto u32 = [&](size_t at) {
    uint32_t v;
    std::memcpy(&v, bytes.data() + at, 4);  // the test machine is little-endian
    return v;
  };
  auto f32 = [&](size_t at) {
    float v;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
  };
  size_t at = 8;  // version, meshCount 0
  EXPECT_EQ(u32(at), 1u);  // lightCount
  at += 4;
  EXPECT_EQ(u32(at), 1u);               // type point
  EXPECT_EQ(f32(at + 4), 1.0f);         // diffuse r
  EXPECT_EQ(f32(at + 16), 4.0f);        // diffuse a
  EXPECT_EQ(f32(at + 100), 5.0f);       // phi, the last of 104 bytes
  at += 104;
  EXPECT_EQ(u32(at), 1u);  // cameraCount
  at += 4;
  EXPECT_EQ(f32(at + 12), 1.0f);   // rotation w
  EXPECT_EQ(f32(at + 28), 45.0f);  // fov
  EXPECT_EQ(bytes.substr(at + 40, 4), std::string("Cam\0", 4));
  at += 296;
  EXPECT_EQ(u32(at), 1u);       // posRotCount
  EXPECT_EQ(u32(at + 4), 1u);   // sampleCount
  EXPECT_EQ(f32(at + 8), 30.0f);
  EXPECT_EQ(f32(at + 12), 1.0f);  // position x
  at += 4 + 8 + 28;
  EXPECT_EQ(u32(at), 1u);       // owner kind light
  EXPECT_EQ(u32(at + 4), 0u);   // index 0
  at += 8;
  EXPECT_EQ(u32(at), 1u);       // floatCount
  EXPECT_EQ(u32(at + 8), 25u);  // rate as u32
  EXPECT_EQ(f32(at + 12), 9.0f);
  at += 16;
  EXPECT_EQ(u32(at), 2u);  // owner kind camera
  EXPECT_EQ(bytes.size(), at + 8);

  scene::SceneFile back;
  ASSERT_EQ(scene::DecodeSceneBinary(bytes, &back), scene::DecodeResult::kOk);
  EXPECT_EQ(back.lights[0], l);
  EXPECT_EQ(back.cameras[0].name, "Cam");
  EXPECT_EQ(back.float_tracks[0].rate, 25u);
  EXPECT_EQ(back.pos_rot_owners, s.pos_rot_owners);
  EXPECT_EQ(back.float_owners, s.float_owners);
}

scene::SceneFile RandomScene(std::mt19937& rng, int vertices) {
  std::uniform_real_distribution<float> d(-50.0f, 50.0f), n(-1.0f, 1.0f), u(0.0f, 4.0f);
  scene::SceneFile s;
  scene::SceneMesh mesh;
  mesh.name = "R";
  scene::MeshElement e;
  for (int i = 0; i < vertices; ++i) {
    scene::MeshVertex v;
    v.position = {d(rng), d(rng), d(rng)};
    v.normal = scene::Normalize({n(rng), n(rng), n(rng)});
    v.colour = rng();
    v.u = u(rng);
    v.v = u(rng);
    e.vertices.push_back(v);
  }
  for (int i = 0; i < vertices * 2; ++i) e.indices.push_back(static_cast<uint32_t>(rng() % vertices));
  while (e.indices.size() % 3) e.indices.pop_back();
  mesh.elements.push_back(e);
  s.meshes.push_back(mesh);
  s.meshes.push_back(mesh);
  s.meshes[1].parent = 0;
  s.cameras.push_back({});
  render::Light l;
  s.lights.push_back(l);
  s.pos_rot_tracks.push_back({30.0f, {{{1, 2, 3}, {1, 0, 0, 0}}, {{4, 5, 6}, {0, 1, 0, 0}}}});
  s.pos_rot_owners.push_back({scene::OWNER_MESH, 1});
  s.float_tracks.push_back({30, {1.0f, 2.0f}});
  s.float_owners.push_back({scene::OWNER_CAMERA, 0});
  s.has_materials = true;
  s.materials.push_back({"M", scene::MATERIAL_COLOUR, "", "", 0x123456});
  s.has_mesh_ids = true;
  s.mesh_ids = {4, 5};
  s.has_source = true;
  s.source = {100, 200};
  return s;
}

TEST(SceneBinary, GeneratedRoundTrip) {
  std::mt19937 rng(21);
  scene::SceneFile s = RandomScene(rng, 500);
  std::string bytes;
  ASSERT_EQ(scene::EncodeSceneBinary(s, &bytes), 0);
  scene::SceneFile back;
  ASSERT_EQ(scene::DecodeSceneBinary(bytes, &back), scene::DecodeResult::kOk);
  ASSERT_EQ(back.meshes.size(), 2u);
  const scene::MeshElement& a = s.meshes[0].elements[0];
  const scene::MeshElement& b = back.meshes[0].elements[0];
  ASSERT_EQ(b.vertices.size(), a.vertices.size());
  EXPECT_EQ(b.indices, a.indices);
  const float step = 100.0f / 65535.0f * 1.01f;
  for (size_t i = 0; i < a.vertices.size(); ++i) {
    EXPECT_NEAR(b.vertices[i].position.x, a.vertices[i].position.x, step);
    EXPECT_NEAR(b.vertices[i].position.y, a.vertices[i].position.y, step);
    EXPECT_NEAR(b.vertices[i].position.z, a.vertices[i].position.z, step);
    EXPECT_NEAR(b.vertices[i].u, a.vertices[i].u, 4.0f / 65535.0f * 1.01f);
    EXPECT_EQ(b.vertices[i].colour, a.vertices[i].colour);
    // Before renormalising each component is within 1/127.5.
    const float* src = &a.vertices[i].normal.x;
    for (int k = 0; k < 3; ++k) {
      float q = std::trunc((src[k] + 1.0f) * 127.5f);
      float decoded = q * 0.007843138f - 1.0f;
      EXPECT_LE(std::fabs(decoded - src[k]), 1.0f / 127.5f);
    }
    EXPECT_NEAR(scene::Length(b.vertices[i].normal), 1.0f, 1e-5);
    EXPECT_NEAR(b.vertices[i].normal.x, a.vertices[i].normal.x, 0.05f);
  }
  EXPECT_EQ(back.meshes[1].parent, 0);
  EXPECT_EQ(back.materials, s.materials);
  EXPECT_EQ(back.mesh_ids, s.mesh_ids);
  EXPECT_EQ(back.source, s.source);
  EXPECT_EQ(back.pos_rot_tracks[0].samples[1].rotation, (scene::Quat{0, 1, 0, 0}));
  // The decoded file encodes again.
  std::string again;
  EXPECT_EQ(scene::EncodeSceneBinary(back, &again), 0);
}

TEST(SceneBinary, IndexWidthFollowsTheVertexCount) {
  auto element_bytes = [](int vertices) {
    scene::SceneFile s;
    s.meshes.resize(1);
    scene::MeshElement e;
    e.vertices.resize(static_cast<size_t>(vertices));
    for (int i = 0; i < vertices; ++i) e.vertices[static_cast<size_t>(i)].position = {float(i), 0, 0};
    e.indices = {0, 1, static_cast<uint32_t>(vertices - 1)};
    s.meshes[0].elements.push_back(e);
    std::string bytes;
    EXPECT_EQ(scene::EncodeSceneBinary(s, &bytes), 0);
    scene::SceneFile back;
    EXPECT_EQ(scene::DecodeSceneBinary(bytes, &back), scene::DecodeResult::kOk);
    EXPECT_EQ(back.meshes[0].elements[0].indices, e.indices);
    return bytes.size() - static_cast<size_t>(vertices) * 17;
  };
  // Same fixed part; 255 vertices store 3 index bytes, 256 store 6.
  EXPECT_EQ(element_bytes(256) - element_bytes(255), 3u);
}

TEST(SceneBinary, FlatAxisDecodesToZero) {
  scene::SceneFile s = OneTriangle();
  for (auto& v : s.meshes[0].elements[0].vertices) v.position = {v.position.x, 0.0f, v.position.x + 2.0f};
  std::string bytes;
  ASSERT_EQ(scene::EncodeSceneBinary(s, &bytes), 0);
  scene::SceneFile back;
  ASSERT_EQ(scene::DecodeSceneBinary(bytes, &back), scene::DecodeResult::kOk);
  for (const auto& v : back.meshes[0].elements[0].vertices) EXPECT_EQ(v.position.y, 0.0f);
}

TEST(SceneBinary, WriterRefusesElementsPastTheLimits) {
  testing_support::TempDir dir;
  std::vector<std::string> messages;
  core::MarkStartupFinished(true);
  core::ResetRuntimeMessages();
  core::SetMessageListener([&](const std::string& t) { messages.push_back(t); });
  scene::SceneFile s;
  s.meshes.resize(1);
  s.meshes[0].name = "Big";
  scene::MeshElement e;
  e.vertices.resize(65536);
  e.indices = {0, 1, 2};
  s.meshes[0].elements.push_back(e);
  std::string bytes;
  EXPECT_EQ(scene::EncodeSceneBinary(s, &bytes), -1);
  EXPECT_TRUE(bytes.empty());
  s.meshes[0].elements[0].vertices.resize(3);
  s.meshes[0].elements[0].indices.assign(60003, 0);
  EXPECT_EQ(scene::EncodeSceneBinary(s, &bytes), -1);
  s.meshes[0].elements[0].indices = {0, 1, 3};  // out of range
  EXPECT_EQ(scene::EncodeSceneBinary(s, &bytes), -1);
  s.meshes[0].elements[0].indices = {0, 1, 2};
  s.meshes[0].position.x = NAN;
  EXPECT_EQ(scene::EncodeSceneBinary(s, &bytes), -1);
  core::SetMessageListener(nullptr);
  core::MarkStartupFinished(false);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], "Malla Big tiene demasiados vertices");
  EXPECT_EQ(messages[1], "Malla Big tiene demasiadas caras (20001)");
}

TEST(SceneBinary, VersionSixIsRefused) {
  std::string bytes;
  ASSERT_EQ(scene::EncodeSceneBinary(OneTriangle(), &bytes), 0);
  bytes[0] = 6;
  scene::SceneFile back;
  EXPECT_EQ(scene::DecodeSceneBinary(bytes, &back), scene::DecodeResult::kOldVersion);
  EXPECT_TRUE(back.meshes.empty());
}

TEST(SceneBinary, EveryTruncationFailsCleanly) {
  std::mt19937 rng(4);
  scene::SceneFile s = RandomScene(rng, 40);
  s.meshes[0].elements[0].skin.assign(40, {{3, {1, 2, 3}, 0.5f}});
  std::string bytes;
  ASSERT_EQ(scene::EncodeSceneBinary(s, &bytes), 0);
  scene::SceneFile plain = s;
  plain.has_materials = plain.has_mesh_ids = plain.has_source = false;
  std::string without;
  ASSERT_EQ(scene::EncodeSceneBinary(plain, &without), 0);
  ASSERT_EQ(bytes.compare(0, without.size(), without), 0);
  scene::SceneFile back;
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    scene::DecodeResult r = scene::DecodeSceneBinary(std::string_view(bytes).substr(0, cut), &back);
    if (cut == without.size())
      EXPECT_EQ(r, scene::DecodeResult::kOk);  // ends after the float owners: complete
    else
      EXPECT_EQ(r, scene::DecodeResult::kDamaged) << cut;
  }
  EXPECT_EQ(scene::DecodeSceneBinary(bytes, &back), scene::DecodeResult::kOk);
  EXPECT_TRUE(back.meshes[0].elements[0].HasSkin());
}

TEST(SceneBinary, SeededMutationsFailCleanly) {
  std::mt19937 rng(1234);
  scene::SceneFile s = RandomScene(rng, 30);
  std::string bytes;
  ASSERT_EQ(scene::EncodeSceneBinary(s, &bytes), 0);
  int accepted = 0;
  for (int n = 0; n < 5000; ++n) {
    std::string m = bytes;
    int edits = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < edits; ++k) {
      size_t at = rng() % m.size();
      switch (rng() % 4) {
        case 0: m[at] = static_cast<char>(rng()); break;
        case 1: m[at] = static_cast<char>(0xFF); break;
        case 2: m[at] ^= static_cast<char>(1 << (rng() % 8)); break;
        case 3: m.erase(at, 1 + rng() % 8); break;
      }
      if (m.empty()) m = "x";
    }
    scene::SceneFile back;
    if (scene::DecodeSceneBinary(m, &back) == scene::DecodeResult::kOk) {
      ++accepted;
      // Whatever is accepted is consistent: it encodes again.
      std::string again;
      EXPECT_EQ(scene::EncodeSceneBinary(back, &again), 0);
    }
  }
  RecordProperty("accepted", accepted);
}

TEST(SceneBinary, HugeCountsFailWithoutAllocating) {
  std::string bytes;
  ASSERT_EQ(scene::EncodeSceneBinary(OneTriangle(), &bytes), 0);
  scene::SceneFile back;
  for (size_t at : {size_t(4), size_t(13), size_t(17), size_t(21)}) {  // meshCount, elementCount, V, I
    std::string m = bytes;
    m.replace(at, 4, "\xFF\xFF\xFF\xFF", 4);
    EXPECT_EQ(scene::DecodeSceneBinary(m, &back), scene::DecodeResult::kDamaged) << at;
  }
  std::string counts = bytes;
  counts.replace(counts.size() - 16, 4, "\xFF\xFF\xFF\xFF", 4);  // lightCount
  EXPECT_EQ(scene::DecodeSceneBinary(counts, &back), scene::DecodeResult::kDamaged);
}

TEST(SceneBinary, RefusesInconsistentValues) {
  scene::SceneFile base = OneTriangle();
  base.meshes.push_back(base.meshes[0]);
  auto refused = [](const scene::SceneFile& s) {
    std::string bytes;
    EXPECT_EQ(scene::EncodeSceneBinary(s, &bytes), 0);
    scene::SceneFile back;
    return scene::DecodeSceneBinary(bytes, &back) == scene::DecodeResult::kDamaged;
  };
  scene::SceneFile s = base;
  s.meshes[0].parent = 0;  // self
  EXPECT_TRUE(refused(s));
  s.meshes[0].parent = 1;
  s.meshes[1].parent = 0;  // cycle
  EXPECT_TRUE(refused(s));
  s.meshes[1].parent = 2;  // out of range
  EXPECT_TRUE(refused(s));
  s = base;
  s.pos_rot_tracks.push_back({30.0f, {}});
  s.pos_rot_owners.push_back({scene::OWNER_LIGHT, 0});  // no light
  EXPECT_TRUE(refused(s));
  s.pos_rot_owners[0] = {3, -1};  // no such kind
  EXPECT_TRUE(refused(s));
  s.pos_rot_owners[0] = {scene::OWNER_MESH, -2};
  EXPECT_TRUE(refused(s));
  s.pos_rot_owners[0] = {scene::OWNER_MESH, 1};
  EXPECT_FALSE(refused(s));

  std::string bytes;
  ASSERT_EQ(scene::EncodeSceneBinary(OneTriangle(), &bytes), 0);
  scene::SceneFile back;
  std::string m = bytes;
  m[21] = 4;  // indexCount not a multiple of 3
  EXPECT_EQ(scene::DecodeSceneBinary(m, &back), scene::DecodeResult::kDamaged);
  m = bytes;
  m[bytes.find(std::string("\0\x01\0\0\0M", 6))] = 2;  // hasSkin 2
  EXPECT_EQ(scene::DecodeSceneBinary(m, &back), scene::DecodeResult::kDamaged);
  m = bytes;
  m[bytes.find(std::string("M\0\x01\x02", 4)) + 3] = 3;  // index 3 of 3 vertices
  EXPECT_EQ(scene::DecodeSceneBinary(m, &back), scene::DecodeResult::kDamaged);
  m = bytes;
  m.replace(25, 4, "\x00\x00\x80\x7F", 4);  // positionMin x = +inf
  EXPECT_EQ(scene::DecodeSceneBinary(m, &back), scene::DecodeResult::kDamaged);
  m = bytes;
  m.replace(25, 4, "\x00\x00\xC0\x7F", 4);  // NaN
  EXPECT_EQ(scene::DecodeSceneBinary(m, &back), scene::DecodeResult::kDamaged);

  scene::SceneFile lit;
  lit.lights.resize(1);
  ASSERT_EQ(scene::EncodeSceneBinary(lit, &bytes), 0);
  for (char type : {0, 4}) {
    m = bytes;
    m[12] = type;
    EXPECT_EQ(scene::DecodeSceneBinary(m, &back), scene::DecodeResult::kDamaged);
  }
  m = bytes;
  m[12] = 2;  // a spot light is a Direct3D type
  EXPECT_EQ(scene::DecodeSceneBinary(m, &back), scene::DecodeResult::kOk);
}

TEST(SceneBinary, CameraNameStopsAt255Bytes) {
  scene::SceneFile s;
  s.cameras.resize(1);
  std::string bytes;
  ASSERT_EQ(scene::EncodeSceneBinary(s, &bytes), 0);
  size_t name_at = 16 + 40;  // version, meshCount, lightCount, cameraCount; then 40 bytes of values
  std::memset(bytes.data() + name_at, 'n', 256);  // no terminator
  scene::SceneFile back;
  ASSERT_EQ(scene::DecodeSceneBinary(bytes, &back), scene::DecodeResult::kOk);
  EXPECT_EQ(back.cameras[0].name, std::string(255, 'n'));
}

TEST(SceneBinary, ExtensionIsOptionalAndUnknownSectionsAreSkipped) {
  std::string plain;
  ASSERT_EQ(scene::EncodeSceneBinary(OneTriangle(), &plain), 0);
  scene::SceneFile back;
  ASSERT_EQ(scene::DecodeSceneBinary(plain, &back), scene::DecodeResult::kOk);
  EXPECT_FALSE(back.has_materials || back.has_mesh_ids || back.has_source);
  EXPECT_EQ(back.meshes[0].elements[0].material, "M");

  Bytes ext = {'H', 'V', 'X', '1', 2, 0, 0, 0,
               'Z', 'Z', 'Z', 'Z', 5, 0, 0, 0, 1, 2, 3, 4, 5,          // unknown: skipped
               'M', 'I', 'D', 'S', 4, 0, 0, 0, 0x2A, 0, 0, 0};        // mesh ID 42
  ASSERT_EQ(scene::DecodeSceneBinary(plain + AsString(ext), &back), scene::DecodeResult::kOk);
  EXPECT_EQ(back.mesh_ids, std::vector<int32_t>{42});
  // A MIDS of the wrong length, trailing bytes or another magic are refused.
  Bytes bad_ids = {'H', 'V', 'X', '1', 1, 0, 0, 0, 'M', 'I', 'D', 'S', 8, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0};
  EXPECT_EQ(scene::DecodeSceneBinary(plain + AsString(bad_ids), &back), scene::DecodeResult::kDamaged);
  EXPECT_EQ(scene::DecodeSceneBinary(plain + AsString(ext) + "x", &back), scene::DecodeResult::kDamaged);
  EXPECT_EQ(scene::DecodeSceneBinary(plain + "HVX2", &back), scene::DecodeResult::kDamaged);
  Bytes long_section = {'H', 'V', 'X', '1', 1, 0, 0, 0, 'Z', 'Z', 'Z', 'Z', 0xFF, 0xFF, 0xFF, 0x7F};
  EXPECT_EQ(scene::DecodeSceneBinary(plain + AsString(long_section), &back), scene::DecodeResult::kDamaged);
}

class SceneBinaryText : public SceneFolderTest {};

TEST_F(SceneBinaryText, OneTextConvertedTwiceGivesIdenticalBytes) {
  SceneSpec s;
  MeshSpec cube = Cube();
  cube.smoothing = {1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6};
  cube.materials = {2, 2, 1, 1, 2, 2, 1, 1, 2, 2, 1, 1};
  s.materials = {{1, "a", -1, -1, {0.2f, 0.4f, 0.6f}}, {2, "b", -1, -1, {1, 1, 1}}};
  s.meshes = {cube, Triangle(2)};
  s.lights = {LightSpec{}};
  s.controllers = {{"POSROT", 1, {0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 0, 0, 0, 1}}};
  Put("data/scenes/twice.txt", WriteScene(s));
  std::string first, second;
  ASSERT_EQ(scene::ConvertSceneTextToBytes("data/scenes/twice.txt", &first), 0) << AllMessages();
  ASSERT_EQ(scene::ConvertSceneTextToBytes("data/scenes/twice.txt", &second), 0);
  EXPECT_EQ(first, second);
  EXPECT_GT(first.size(), 100u);
}

}  // namespace
