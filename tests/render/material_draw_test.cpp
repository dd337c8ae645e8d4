// Materials on the headless display device with the render layer: texture
// resolution and sharing, the render queue's order, the drawing paths
// (dynamic, static, sprite lists, auto-sprites, distorted normals, scale
// waves, vertex generators) and rendered pixels.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/core/core.h"
#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/materials.h"
#include "render/values.h"
#include "tests/render/material_fixture.h"
#include "tests/render/render_test_util.h"

namespace {

using namespace render;
using material_test::MaterialTest;
using render_test::ArgbNear;
using testing::ElementsAre;
using testing::HasSubstr;

constexpr uint32_t kSide = 64;

// An uncompressed 32-bit TGA of A8R8G8B8 pixels, row 0 at the top.
std::string Tga(uint32_t width, uint32_t height, const std::vector<uint32_t>& pixels) {
  std::string out(18, '\0');
  out[2] = 2;
  out[12] = static_cast<char>(width & 0xff);
  out[13] = static_cast<char>(width >> 8);
  out[14] = static_cast<char>(height & 0xff);
  out[15] = static_cast<char>(height >> 8);
  out[16] = 32;
  out[17] = 0x28;  // 8 alpha bits, top-left origin
  for (uint32_t p : pixels)
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((p >> (8 * i)) & 0xff));
  return out;
}
std::string SolidTga(uint32_t side, uint32_t argb) { return Tga(side, side, std::vector<uint32_t>(side * side, argb)); }

struct Mesh {
  std::vector<RenderVertex> vertices;
  std::vector<uint16_t> indices;
  DrawItem item;

  // Points the item at the mesh (call after the vectors stop growing).
  DrawItem* Item(ShaderHandle shader, float depth = 0.0f) {
    item.vertices = vertices.data();
    item.indices = indices.data();
    item.vertex_count = static_cast<uint32_t>(vertices.size());
    item.triangle_count = static_cast<int32_t>(indices.size() / 3);
    item.shader = shader;
    item.depth = depth;
    return &item;
  }
};

// A quad in the plane z from (x0, y0) to (x1, y1) (clip space with
// identity transforms: +y up), uv 0..1 with v down, facing -z.
void AddQuad(Mesh* mesh, float x0, float y0, float x1, float y1, float z, Color color) {
  uint16_t base = static_cast<uint16_t>(mesh->vertices.size());
  mesh->vertices.push_back({x0, y1, z, 0, 0, -1, color, 0, 0});
  mesh->vertices.push_back({x1, y1, z, 0, 0, -1, color, 1, 0});
  mesh->vertices.push_back({x1, y0, z, 0, 0, -1, color, 1, 1});
  mesh->vertices.push_back({x0, y0, z, 0, 0, -1, color, 0, 1});
  for (uint16_t i : {0, 1, 2, 0, 2, 3}) mesh->indices.push_back(static_cast<uint16_t>(base + i));
}

Mesh QuadMesh(float x0, float y0, float x1, float y1, float z = 0.5f, Color color = 0xffffffff) {
  Mesh mesh;
  AddQuad(&mesh, x0, y0, x1, y1, z, color);
  return mesh;
}

class DrawTest : public MaterialTest {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(InitDirect3DFrom(0, HeadlessAdapterInfo(), DisplayBackend::kHeadless), 0);
    ASSERT_EQ(SelectDisplayMode(nullptr, kSide, kSide, 32, false, false, nullptr, "", false, false, false, false,
                                false),
              0);
  }
  static void TearDownTestSuite() {
    ReleaseDevice();
    ReleaseDirect3D();
  }
  void SetUp() override {
    device_ = GetDevice();
    ASSERT_NE(device_, nullptr);
    ASSERT_EQ(device_->Reset(device_->GetPresentParameters()), 0);
    ApplyDefaultStates();
    ASSERT_EQ(InitRenderLayer(nullptr), 0);
    MaterialTest::SetUp();
    SetEffectTime(0.0f);
    SetMaterialDrawObserver([this](const MaterialDraw& draw) { draws_.push_back(draw); });
    device_->Clear(0, nullptr, CLEAR_TARGET | CLEAR_ZBUFFER, 0xff000000, 1.0f, 0);
  }
  void TearDown() override {
    SetMaterialDrawObserver(nullptr);
    SetRenderQueueMerging(true);
    MaterialTest::TearDown();
    ShutdownRenderLayer();
  }
  ShaderHandle Make(const std::string& name, const std::string& pass_body, const std::string& shader_body = "") {
    EXPECT_EQ(Parse("<SHADER> <NAME> \"" + name + "\" </NAME> <PASS> " + pass_body + " </PASS> " + shader_body +
                    " </SHADER>"),
              0);
    return manager_.GetShader(name.c_str());
  }
  // A shader drawing the vertex colour as it is.
  ShaderHandle Flat(const std::string& name, const std::string& more = "", const std::string& shader_body = "") {
    return Make(name,
                "<COLOR> <OP> \"PO_SELECTARG1\" </OP> <ARG1> \"PA_DIFFUSE\" </ARG1> </COLOR> <CULL> \"CULL_NONE\" "
                "</CULL> " +
                    more,
                shader_body);
  }
  std::vector<uint32_t> Pixels() {
    std::vector<uint32_t> pixels;
    EXPECT_EQ(device_->ReadSurfacePixels(device_->GetRenderTarget().get(), &pixels), 0);
    return pixels;
  }
  uint32_t Pixel(const std::vector<uint32_t>& pixels, uint32_t x, uint32_t y) { return pixels[y * kSide + x]; }

  Device* device_ = nullptr;
  std::vector<MaterialDraw> draws_;
};

// ---------------------------------------------------------------------------
// Textures
// ---------------------------------------------------------------------------

TEST_F(DrawTest, AnUnknownNameBecomesAOnePassTexturedShaderOfThatTexture) {
  Write("data/textures/sky.tga", SolidTga(4, 0xff102030));
  const int before = render::TextureCount();
  ShaderHandle sky = manager_.GetShader("sky.jpg");
  ASSERT_GE(sky, 0);
  const Shader* shader = manager_.GetShaderByHandle(sky);
  EXPECT_EQ(shader->name, "SKY");
  EXPECT_EQ(shader->ref_count, 1);
  ASSERT_EQ(shader->PassCount(), 1);
  EXPECT_EQ(shader->passes[0].texture_name, "sky.jpg");
  const ShaderManager::TextureEntry* entry = manager_.GetTextureEntry(shader->passes[0].texture);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->name, "sky.jpg");
  EXPECT_EQ(entry->count, 1);
  EXPECT_EQ(render::TextureCount(), before + 1);
  auto texture = manager_.PassTexture(shader->passes[0]);
  ASSERT_NE(texture, nullptr);
  EXPECT_EQ(texture->Kind(), TextureKind::k2D);
  // The shader of that name now exists: a further reference, no new load.
  EXPECT_EQ(manager_.GetShader("SKY"), sky);
  EXPECT_EQ(manager_.GetShader("some/folder/Sky.bmp"), sky);
  EXPECT_EQ(manager_.GetShaderByHandle(sky)->ref_count, 3);
  EXPECT_EQ(render::TextureCount(), before + 1);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(DrawTest, TexturesAreSharedByNameWithCounts) {
  Write("data/textures/WATER.TGA", SolidTga(8, 0xff0000ff));
  ASSERT_EQ(Parse("<SHADER> <NAME> \"a\" </NAME> <PASS> <TEXTURE> \"water\" </TEXTURE> </PASS> </SHADER>"
                  "<SHADER> <NAME> \"b\" </NAME> <PASS> <TEXTURE> \"water\" </TEXTURE> </PASS>"
                  "<PASS> <TEXTURE> \"water\" </TEXTURE> </PASS> </SHADER>"),
            0);
  const int before = render::TextureCount();
  EXPECT_EQ(manager_.TextureCount(), 0);  // nothing loads before the first use
  ShaderHandle a = manager_.GetShader("A");
  ShaderHandle b = manager_.GetShader("B");
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_EQ(manager_.TextureCount(), 1);
  EXPECT_EQ(render::TextureCount(), before + 1);  // loaded once
  TextureHandle t = manager_.GetShaderByHandle(a)->passes[0].texture;
  EXPECT_EQ(manager_.GetShaderByHandle(b)->passes[1].texture, t);
  EXPECT_EQ(manager_.GetTextureEntry(t)->count, 3);
  EXPECT_EQ(manager_.ResolveTexture("water"), t);
  EXPECT_EQ(manager_.GetTextureEntry(t)->count, 4);
  manager_.ReleaseTextureHandle(t);
  // Another spelling is another entry (names are kept exactly).
  TextureHandle other = manager_.ResolveTexture("WATER.tga");
  EXPECT_NE(other, t);
  manager_.ReleaseTextureHandle(other);

  manager_.ReleaseShader(b);
  EXPECT_EQ(manager_.GetTextureEntry(t)->count, 1);
  EXPECT_EQ(manager_.GetShaderByHandle(b)->passes[0].texture, -1);
  manager_.ReleaseShader(a);
  EXPECT_EQ(manager_.GetTextureEntry(t), nullptr);
  EXPECT_EQ(manager_.TextureCount(), 0);
  EXPECT_EQ(render::TextureCount(), before);
  // The shader stays parsed and loads again on its next use.
  ASSERT_EQ(manager_.GetShader("a"), a);
  EXPECT_EQ(render::TextureCount(), before + 1);
  manager_.Shutdown();
  EXPECT_EQ(render::TextureCount(), before);
}

TEST_F(DrawTest, StaleTextureHandlesNeverReachANewerEntry) {
  Write("data/textures/OLD.tga", SolidTga(4, 0xff0000ff));
  Write("data/textures/NEW.tga", SolidTga(4, 0xff00ff00));
  const int before = render::TextureCount();
  TextureHandle stale = manager_.ResolveTexture("old");
  ASSERT_GE(stale, 0);
  manager_.ReleaseTextureHandle(stale);
  EXPECT_EQ(manager_.GetTextureEntry(stale), nullptr);
  manager_.ReleaseTextureHandle(stale);  // released twice: nothing happens
  EXPECT_EQ(manager_.TextureCount(), 0);

  struct Case {
    const char* when;
    bool restart;  // Shutdown and Init between the release and the reuse
  };
  for (const Case& c : {Case{"slot reused", false}, Case{"slot reused after a restart", true}}) {
    SCOPED_TRACE(c.when);
    if (c.restart) {
      manager_.Shutdown();
      ASSERT_EQ(manager_.Init(), 0);
    }
    TextureHandle fresh = manager_.ResolveTexture("new");
    ASSERT_EQ(core::PoolIndex(fresh), core::PoolIndex(stale));
    EXPECT_NE(fresh, stale);
    EXPECT_EQ(manager_.GetTextureEntry(stale), nullptr);
    manager_.ReleaseTextureHandle(stale);  // leaves the new entry its count and texture
    ASSERT_NE(manager_.GetTextureEntry(fresh), nullptr);
    EXPECT_EQ(manager_.GetTextureEntry(fresh)->count, 1);
    EXPECT_EQ(render::TextureCount(), before + 1);
    stale = fresh;
    if (!c.restart) manager_.ReleaseTextureHandle(fresh);
  }
  manager_.Shutdown();
  EXPECT_EQ(manager_.GetTextureEntry(stale), nullptr);  // Shutdown released it
  EXPECT_EQ(render::TextureCount(), before);
}

TEST_F(DrawTest, ShaderHandlesOfAnEarlierStartNeverReachANewerShader) {
  ASSERT_EQ(Parse("<SHADER> <NAME> \"old\" </NAME> <PASS> </PASS> </SHADER>"), 0);
  ShaderHandle stale = manager_.GetShader("old");
  ASSERT_GT(stale, kNullShader);
  manager_.Shutdown();
  EXPECT_EQ(manager_.GetShaderByHandle(stale), nullptr);
  ASSERT_EQ(manager_.Init(), 0);
  EXPECT_NE(manager_.GetShaderByHandle(kNullShader), nullptr);
  ASSERT_EQ(Parse("<SHADER> <NAME> \"new\" </NAME> <PASS> </PASS> </SHADER>"), 0);
  ShaderHandle fresh = manager_.GetShader("new");
  ASSERT_EQ(core::PoolIndex(fresh), core::PoolIndex(stale));
  EXPECT_NE(fresh, stale);
  EXPECT_EQ(manager_.GetShaderByHandle(stale), nullptr);
  manager_.ReleaseShader(stale);  // leaves the new shader its reference
  ASSERT_NE(manager_.GetShaderByHandle(fresh), nullptr);
  EXPECT_EQ(manager_.GetShaderByHandle(fresh)->ref_count, 1);
  EXPECT_EQ(ApplyPass(stale, 0), -1);
}

TEST_F(DrawTest, AMissingTextureFailsGetShaderAndKeepsNothing) {
  Write("data/textures/ONE.tga", SolidTga(4, 0xffffffff));
  ASSERT_EQ(Parse("<SHADER> <NAME> \"two\" </NAME> <PASS> <TEXTURE> \"one\" </TEXTURE> </PASS>"
                  "<PASS> <TEXTURE> \"missing\" </TEXTURE> </PASS> </SHADER>"),
            0);
  const int before = render::TextureCount();
  EXPECT_EQ(manager_.GetShader("two"), -1);
  const Shader& two = Named("TWO");
  EXPECT_EQ(two.ref_count, 0);
  EXPECT_EQ(two.passes[0].texture, -1);
  EXPECT_EQ(two.passes[1].texture, -1);
  EXPECT_EQ(manager_.TextureCount(), 0);
  EXPECT_EQ(render::TextureCount(), before);
  EXPECT_EQ(manager_.GetShader("nothing.jpg"), -1);  // no shader, no texture: nothing kept
  EXPECT_LT(manager_.FindShader("NOTHING"), 0);
  EXPECT_EQ(manager_.CreateBuiltinShader("env", BUILTIN_TEXTURED_PLUS_ENV, "one", "missing"), -1);
  EXPECT_EQ(manager_.TextureCount(), 0);
  EXPECT_EQ(render::TextureCount(), before);
  // A texture whose sides are not powers of two is refused by the layer.
  Write("data/textures/ODD.tga", SolidTga(3, 0xffffffff));
  EXPECT_EQ(manager_.GetShader("odd"), -1);
  EXPECT_THAT(messages_, ElementsAre("Texturas potencia de 2 por favor!"));
}

TEST_F(DrawTest, CubeMapsLoadSixFacesAndNormalMapsComeFromHeights) {
  const char* faces[6] = {"X+", "X-", "Y+", "Y-", "Z+", "Z-"};
  for (int i = 0; i < 6; ++i)
    Write(std::string("data/textures/CMAP") + faces[i] + "_SKY.tga", SolidTga(8, 0xff000000u | (0x20u * (i + 1))));
  const int before = render::TextureCount();
  TextureHandle cube = manager_.ResolveTexture("CMAP_SKY");
  ASSERT_GE(cube, 0);
  EXPECT_EQ(render::TextureCount(), before + 1);
  auto texture = GetBaseTextureById(manager_.GetTextureEntry(cube)->texture);
  ASSERT_NE(texture, nullptr);
  EXPECT_EQ(texture->Kind(), TextureKind::kCube);
  EXPECT_NE(GetCubeTextureById(manager_.GetTextureEntry(cube)->texture), nullptr);
  // The name is reduced and upper-cased first.
  TextureHandle lower = manager_.ResolveTexture("maps/cmap_sky.jpg");
  ASSERT_GE(lower, 0);
  EXPECT_EQ(GetBaseTextureById(manager_.GetTextureEntry(lower)->texture)->Kind(), TextureKind::kCube);
  // One face missing: no cube.
  for (int i = 0; i < 5; ++i)
    Write(std::string("data/textures/CMAP") + faces[i] + "_HALF.tga", SolidTga(8, 0xff808080));
  EXPECT_EQ(manager_.ResolveTexture("CMAP_HALF"), -1);
  // "CMAP_" alone is too short for a cube name: an ordinary texture file.
  Write("data/textures/CMAP_.tga", SolidTga(4, 0xff808080));
  TextureHandle plain = manager_.ResolveTexture("CMAP_");
  ASSERT_GE(plain, 0);
  EXPECT_EQ(GetBaseTextureById(manager_.GetTextureEntry(plain)->texture)->Kind(), TextureKind::k2D);

  Write("data/textures/BUMP_WAVES.tga", SolidTga(16, 0xff404040));
  TextureHandle bump = manager_.ResolveTexture("bump_waves");
  ASSERT_GE(bump, 0);
  auto normal = GetTextureById(manager_.GetTextureEntry(bump)->texture);
  ASSERT_NE(normal, nullptr);
  EXPECT_EQ(normal->Kind(), TextureKind::k2D);
  EXPECT_EQ(manager_.ResolveTexture("BUMP_NONE"), -1);
}

// ---------------------------------------------------------------------------
// Pixels
// ---------------------------------------------------------------------------

TEST_F(DrawTest, TexturedPassDrawsTheTexture) {
  // Left half red, right half blue.
  std::vector<uint32_t> texels(16);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) texels[y * 4 + x] = x < 2 ? 0xffff0000 : 0xff0000ff;
  Write("data/textures/HALVES.tga", Tga(4, 4, texels));
  ShaderHandle h = Make("HALVES", "<TEXTURE> \"halves\" </TEXTURE> <CULL> \"CULL_NONE\" </CULL>"
                                  "<MIP> \"MIP_NONE\" </MIP> <MIN> \"POINT\" </MIN> <MAG> \"POINT\" </MAG>");
  ASSERT_GE(h, 0);
  Mesh quad = QuadMesh(-1, -1, 1, 1);
  DrawItem* item = quad.Item(h);
  ASSERT_EQ(SubmitDrawItem(item), 0);
  FlushRenderQueue();
  auto pixels = Pixels();
  EXPECT_THAT(Pixel(pixels, 8, 32), ArgbNear(0xffff0000u, 2));
  EXPECT_THAT(Pixel(pixels, 56, 32), ArgbNear(0xff0000ffu, 2));
  ASSERT_EQ(draws_.size(), 1u);
  EXPECT_EQ(draws_[0].path, MaterialDrawPath::kDynamic);
  EXPECT_EQ(draws_[0].triangle_count, 2u);
}

TEST_F(DrawTest, AdditivePassAddsToTheTarget) {
  Write("data/textures/GREY.tga", SolidTga(4, 0xff404040));
  ShaderHandle h = Make("ADD", "<TEXTURE> \"grey\" </TEXTURE> <CULL> \"CULL_NONE\" </CULL>"
                               "<BLEND> <SRC> \"BL_ONE\" </SRC> <DST> \"BL_ONE\" </DST> </BLEND>");
  ASSERT_GE(h, 0);
  device_->Clear(0, nullptr, CLEAR_TARGET, 0xff204060, 1.0f, 0);
  Mesh quad = QuadMesh(-1, -1, 0, 1);  // the left half only
  ASSERT_EQ(SubmitDrawItem(quad.Item(h)), 0);
  FlushRenderQueue();
  auto pixels = Pixels();
  EXPECT_THAT(Pixel(pixels, 10, 10), ArgbNear(0xff6080a0u, 2));
  EXPECT_THAT(Pixel(pixels, 50, 10), ArgbNear(0xff204060u, 0));
  // The same pass twice adds twice.
  ASSERT_EQ(SubmitDrawItem(quad.Item(h)), 0);
  FlushRenderQueue();
  EXPECT_THAT(Pixel(Pixels(), 10, 10), ArgbNear(0xffa0c0e0u, 2));
}

TEST_F(DrawTest, TextureFactorPassDrawsItsColour) {
  ShaderHandle h = Make("TF", "<COLOR> <OP> \"PO_SELECTARG1\" </OP> <ARG1> \"PA_TFACTOR\" </ARG1> </COLOR>"
                              "<TFACTORCOLOR> <RGB> 1.0 0.5 0.0 </RGB> </TFACTORCOLOR> <CULL> \"CULL_NONE\" </CULL>");
  ShaderHandle wave = Make("TFWAVE", "<COLOR> <OP> \"PO_SELECTARG1\" </OP> <ARG1> \"PA_TFACTOR\" </ARG1> </COLOR>"
                                     "<TFACTORCOLOR> <WAVE> <TYPE> \"WF_SAWTOOTH\" </TYPE> <AMPLITUDE> 1.0 </AMPLITUDE>"
                                     "<FREQUENCY> 1.0 </FREQUENCY> </WAVE> </TFACTORCOLOR> <CULL> \"CULL_NONE\" </CULL>");
  Mesh left = QuadMesh(-1, -1, 0, 1, 0.5f, 0xff0000ff);  // the vertex colour is not used
  Mesh right = QuadMesh(0, -1, 1, 1, 0.5f, 0xff0000ff);
  ASSERT_EQ(SubmitDrawItem(left.Item(h)), 0);
  ASSERT_EQ(SubmitDrawItem(right.Item(wave)), 0);
  SetEffectTime(2.25f);  // sawtooth at 0.25
  FlushRenderQueue();
  auto pixels = Pixels();
  EXPECT_THAT(Pixel(pixels, 16, 32), ArgbNear(0xffff7f00u, 1));
  EXPECT_THAT(Pixel(pixels, 48, 32), ArgbNear(0xff3f3f3fu, 1));
}

TEST_F(DrawTest, TheProgramsOwnMaterialsLoadTheirTextures) {
  core::StopFileLayer();
  core::StartFileLayer(VJ_SOURCE_DIR);
  ShaderManager program;
  ASSERT_EQ(program.Init(), 0);
  ASSERT_EQ(program.ParseShaderDirectory("data/shaders/"), 0);
  for (ShaderHandle h = program.FirstShader(); h >= 0; h = program.NextShader(h))
    EXPECT_EQ(program.GetShader(program.GetShaderByHandle(h)->name.c_str()), h)
        << program.GetShaderByHandle(h)->name;
  EXPECT_GE(program.TextureCount(), 3);
  EXPECT_TRUE(messages_.empty());
  program.Shutdown();
}

// ---------------------------------------------------------------------------
// The queue
// ---------------------------------------------------------------------------

TEST_F(DrawTest, BucketsDrawInOrderSortedByShaderThenDepth) {
  ShaderHandle opaque_a = Flat("OA");
  ShaderHandle opaque_b = Flat("OB");
  ShaderHandle transparent = Flat("TR", "", "<PRIORITY> \"PR_TRANSPARENT\" </PRIORITY>");
  ShaderHandle first = Flat("FIRST", "", "<PRIORITY> \"PR_FIRST\" </PRIORITY>");
  std::vector<Mesh> meshes(8, QuadMesh(-0.1f, -0.1f, 0.1f, 0.1f));
  // Submission order differs from drawing order.
  DrawItem* t_near = meshes[0].Item(transparent, 1.0f);
  DrawItem* b_far = meshes[1].Item(opaque_b, 9.0f);
  DrawItem* a_far = meshes[2].Item(opaque_a, 8.0f);
  DrawItem* t_far = meshes[3].Item(transparent, 5.0f);
  DrawItem* a_near = meshes[4].Item(opaque_a, 2.0f);
  DrawItem* f = meshes[5].Item(first, 0.0f);
  DrawItem* b_near = meshes[6].Item(opaque_b, 0.5f);
  for (DrawItem* item : {t_near, b_far, a_far, t_far, a_near, f, b_near}) ASSERT_EQ(SubmitDrawItem(item), 0);
  EXPECT_EQ(QueuedItemCount(PR_OPAQUE), 4);
  EXPECT_EQ(QueuedItemCount(PR_TRANSPARENT), 2);
  EXPECT_EQ(QueuedItemCount(PR_FIRST), 1);
  SetRenderQueueMerging(false);  // one draw per item, to see the order
  FlushRenderQueue();
  std::vector<const DrawItem*> order;
  for (const MaterialDraw& d : draws_) order.push_back(d.first_item);
  ASSERT_LT(opaque_a, opaque_b);
  EXPECT_THAT(order, ElementsAre(f, a_near, a_far, b_near, b_far, t_far, t_near));
  for (int b = 0; b < kPriorityCount; ++b) EXPECT_EQ(QueuedItemCount(b), 0);
  draws_.clear();
  FlushRenderQueue();  // emptied
  EXPECT_TRUE(draws_.empty());
}

TEST_F(DrawTest, ItemsWithoutAShaderAreNotQueued) {
  Mesh quad = QuadMesh(-1, -1, 1, 1);
  EXPECT_EQ(SubmitDrawItem(quad.Item(-1)), -1);
  EXPECT_EQ(SubmitDrawItem(quad.Item(77)), -1);
  EXPECT_EQ(SubmitDrawItem(nullptr), -1);
  for (int b = 0; b < kPriorityCount; ++b) EXPECT_EQ(QueuedItemCount(b), 0);
  // Without a current manager nothing is queued, and a flush only empties.
  ShaderHandle h = Flat("F");
  ASSERT_EQ(SubmitDrawItem(quad.Item(h)), 0);
  PopShaderManager();
  EXPECT_EQ(SubmitDrawItem(quad.Item(h)), -1);
  FlushRenderQueue();
  EXPECT_TRUE(draws_.empty());
  EXPECT_EQ(QueuedItemCount(PR_OPAQUE), 0);
  PushShaderManager(&manager_);
}

TEST_F(DrawTest, SeventyThousandVerticesOfSmallItemsDrawInTwoGroups) {
  ShaderHandle h = Flat("SMALL");
  // 7,000 items of 10 vertices (3 triangles) each.
  std::vector<Mesh> meshes(7000);
  std::vector<const DrawItem*> items;
  for (Mesh& mesh : meshes) {
    for (int i = 0; i < 10; ++i) mesh.vertices.push_back({0, 0, 0.5f, 0, 0, -1, 0xffffffff, 0, 0});
    for (int t = 0; t < 3; ++t)
      for (int k = 0; k < 3; ++k) mesh.indices.push_back(static_cast<uint16_t>(t + k));
    items.push_back(mesh.Item(h));
  }
  const uint32_t triangles_before = TrianglesDrawn();
  DrawWithShader(h, items.data(), static_cast<int>(items.size()), true);
  ASSERT_EQ(draws_.size(), 2u);
  EXPECT_EQ(draws_[0].path, MaterialDrawPath::kDynamic);
  EXPECT_EQ(draws_[0].vertex_count, 64990u);  // groups stay below 65,000 vertices
  EXPECT_EQ(draws_[0].item_count, 6499);
  EXPECT_EQ(draws_[1].vertex_count, 5010u);
  EXPECT_EQ(draws_[1].first_item, items[6499]);
  EXPECT_EQ(TrianglesDrawn() - triangles_before, 21000u);
  // Through the queue the same run goes in the same two draws.
  draws_.clear();
  for (const DrawItem* item : items) ASSERT_EQ(SubmitDrawItem(item), 0);
  FlushRenderQueue();
  EXPECT_EQ(draws_.size(), 2u);
  // Indices bind groups too: 30 indices per item cut earlier.
  draws_.clear();
  std::vector<Mesh> dense(2200);
  std::vector<const DrawItem*> dense_items;
  for (Mesh& mesh : dense) {
    for (int i = 0; i < 4; ++i) mesh.vertices.push_back({0, 0, 0.5f, 0, 0, -1, 0xffffffff, 0, 0});
    for (int t = 0; t < 10; ++t)
      for (int k = 0; k < 3; ++k) mesh.indices.push_back(static_cast<uint16_t>(k));
    dense_items.push_back(mesh.Item(h));
  }
  DrawWithShader(h, dense_items.data(), static_cast<int>(dense_items.size()), true);
  ASSERT_EQ(draws_.size(), 2u);
  EXPECT_EQ(draws_[0].item_count, 2166);  // 2,166 x 30 = 64,980 indices
}

TEST_F(DrawTest, MultiPassShadersDrawEachItemAloneAndRunsOfOnePassShadersTogether) {
  ShaderHandle one = Flat("ONEPASS");
  ASSERT_EQ(Parse("<SHADER> <NAME> \"TWOPASS\" </NAME> <PASS> <CULL> \"CULL_NONE\" </CULL> </PASS>"
                  "<PASS> <CULL> \"CULL_NONE\" </CULL> </PASS> </SHADER>"),
            0);
  ShaderHandle two = manager_.GetShader("TWOPASS");
  std::vector<Mesh> meshes(6, QuadMesh(-0.5f, -0.5f, 0.5f, 0.5f));
  for (int i = 0; i < 3; ++i) ASSERT_EQ(SubmitDrawItem(meshes[static_cast<size_t>(i)].Item(one, static_cast<float>(i))), 0);
  for (int i = 3; i < 6; ++i) ASSERT_EQ(SubmitDrawItem(meshes[static_cast<size_t>(i)].Item(two, static_cast<float>(i))), 0);
  FlushRenderQueue();
  ASSERT_EQ(draws_.size(), 1u + 6u);
  EXPECT_EQ(draws_[0].item_count, 3);
  // Item by item, both passes each.
  EXPECT_EQ(draws_[1].first_item, &meshes[3].item);
  EXPECT_EQ(draws_[1].pass, 0);
  EXPECT_EQ(draws_[2].first_item, &meshes[3].item);
  EXPECT_EQ(draws_[2].pass, 1);
  EXPECT_EQ(draws_[3].first_item, &meshes[4].item);
}

// ---------------------------------------------------------------------------
// Drawing paths
// ---------------------------------------------------------------------------

TEST_F(DrawTest, SingleStaticItemUsesItsOwnBuffers) {
  ShaderHandle h = Flat("STATIC");
  Mesh quad = QuadMesh(-1, -1, 0, 0, 0.5f, 0xff00ff00);
  const int vb = AddVertexBuffer(static_cast<uint32_t>(4 * sizeof(RenderVertex)) * 2, 0, kFvfRenderVertex,
                                 POOL_MANAGED);
  const int ib = AddIndexBuffer(12 * 2, 0, FMT_INDEX16, POOL_MANAGED);
  ASSERT_GE(vb, 0);
  ASSERT_GE(ib, 0);
  void* data = nullptr;
  // The quad sits after four unused vertices and six unused indices.
  ASSERT_EQ(GetVertexBufferById(vb)->Lock(4 * sizeof(RenderVertex), 4 * sizeof(RenderVertex), &data, 0), 0);
  std::memcpy(data, quad.vertices.data(), 4 * sizeof(RenderVertex));
  GetVertexBufferById(vb)->Unlock();
  ASSERT_EQ(GetIndexBufferById(ib)->Lock(12, 12, &data, 0), 0);
  std::memcpy(data, quad.indices.data(), 12);
  GetIndexBufferById(ib)->Unlock();
  DrawItem item;
  item.vertex_buffer = vb;
  item.index_buffer = ib;
  item.base_vertex = 4;
  item.vertex_count = 4;
  item.start_index = 6;
  item.triangle_count = 2;
  item.world.m[3][0] = 1.0f;  // moved into the right half
  item.shader = h;
  ASSERT_EQ(SubmitDrawItem(&item), 0);
  FlushRenderQueue();
  ASSERT_EQ(draws_.size(), 1u);
  EXPECT_EQ(draws_[0].path, MaterialDrawPath::kStatic);
  EXPECT_EQ(CachedRenderState(RS_SOFTWAREVERTEXPROCESSING), 1u);
  auto pixels = Pixels();
  EXPECT_THAT(Pixel(pixels, 48, 48), ArgbNear(0xff00ff00u, 0));
  EXPECT_THAT(Pixel(pixels, 16, 48), ArgbNear(0xff000000u, 0));
  // MATRIXSCALE scales the static item before its world.
  ShaderHandle scaled = Flat("STATICSCALE", "<MATRIXSCALE> <WAVE> <BASE> 2.0 </BASE> </WAVE> </MATRIXSCALE>");
  device_->Clear(0, nullptr, CLEAR_TARGET | CLEAR_ZBUFFER, 0xff000000, 1.0f, 0);
  item.shader = scaled;
  item.world.m[3][0] = 0.0f;
  item.world.m[3][1] = 1.0f;
  DrawWithShader(scaled, std::vector<const DrawItem*>{&item}.data(), 1, true);
  pixels = Pixels();  // (-2..0) x (-1..1) after the move: the left half
  EXPECT_THAT(Pixel(pixels, 2, 60), ArgbNear(0xff00ff00u, 0));
  EXPECT_THAT(Pixel(pixels, 30, 2), ArgbNear(0xff00ff00u, 0));
  EXPECT_THAT(Pixel(pixels, 40, 30), ArgbNear(0xff000000u, 0));
  RemoveVertexBuffer(vb);
  RemoveIndexBuffer(ib);
}

TEST_F(DrawTest, WorldTransformsAreDoneOnTheProcessor) {
  ShaderHandle h = Flat("WORLD");
  Mesh quad = QuadMesh(-0.25f, -0.25f, 0.25f, 0.25f, 0.5f, 0xffff00ff);
  DrawItem* item = quad.Item(h);
  // Scale by 2 and move to the top-right quarter's centre.
  item->world.m[0][0] = item->world.m[1][1] = 2.0f;
  item->world.m[3][0] = 0.5f;
  item->world.m[3][1] = 0.5f;
  ASSERT_EQ(SubmitDrawItem(item), 0);
  FlushRenderQueue();
  auto pixels = Pixels();
  EXPECT_THAT(Pixel(pixels, 34, 2), ArgbNear(0xffff00ffu, 0));
  EXPECT_THAT(Pixel(pixels, 62, 30), ArgbNear(0xffff00ffu, 0));
  EXPECT_THAT(Pixel(pixels, 30, 30), ArgbNear(0xff000000u, 0));
  Matrix world;
  device_->GetTransform(TS_WORLD, &world);
  EXPECT_EQ(world, Matrix::Identity());
  EXPECT_EQ(device_->GetFVF(), kFvfRenderVertex);
}

TEST_F(DrawTest, ScaleWaveMovesVerticesAlongTheirNormalsInObjectSpace) {
  ShaderHandle h = Flat("GROW", "<SCALE> <WAVE> <BASE> 0.5 </BASE> </WAVE> </SCALE>");
  Mesh quad = QuadMesh(-0.5f, -0.5f, 0.0f, 0.0f, 0.5f, 0xff00ffff);
  for (RenderVertex& v : quad.vertices) {
    v.nx = 1.0f;
    v.nz = 0.0f;
  }
  DrawItem* item = quad.Item(h);
  item->world.m[3][1] = 100.0f;  // not applied with a SCALE wave
  ASSERT_EQ(SubmitDrawItem(item), 0);
  FlushRenderQueue();
  auto pixels = Pixels();
  EXPECT_THAT(Pixel(pixels, 40, 40), ArgbNear(0xff00ffffu, 0));  // x 0..0.5, y -0.5..0
  EXPECT_THAT(Pixel(pixels, 24, 40), ArgbNear(0xff000000u, 0));
}

TEST_F(DrawTest, MatrixScaleWaveScalesTheWorldSpaceVertices) {
  ShaderHandle h = Flat("ZOOM", "<MATRIXSCALE> <WAVE> <BASE> 4.0 </BASE> </WAVE> </MATRIXSCALE>");
  Mesh quad = QuadMesh(0.0f, 0.0f, 0.125f, 0.125f, 0.125f, 0xffffff00);
  DrawItem* item = quad.Item(h);
  item->world.m[3][0] = 0.125f;  // x 0.125..0.25, scaled to 0.5..1
  ASSERT_EQ(SubmitDrawItem(item), 0);
  FlushRenderQueue();
  auto pixels = Pixels();
  EXPECT_THAT(Pixel(pixels, 56, 20), ArgbNear(0xffffff00u, 0));
  EXPECT_THAT(Pixel(pixels, 40, 20), ArgbNear(0xff000000u, 0));
}

TEST_F(DrawTest, DistortedNormalsDrawWhiteAndRunsGoTogether) {
  ShaderHandle h = Flat("DISTORT", "", "<DISTORTNORMAL> </DISTORTNORMAL>");
  ASSERT_EQ(Named("DISTORT").flags & kShaderSpecialPath, kShaderSpecialPath);
  Mesh left = QuadMesh(-1, -1, 0, 1, 0.5f, 0xffff0000);
  Mesh right = QuadMesh(0, -1, 1, 1, 0.5f, 0xffff0000);
  ASSERT_EQ(SubmitDrawItem(left.Item(h)), 0);
  ASSERT_EQ(SubmitDrawItem(right.Item(h)), 0);
  SetRenderQueueMerging(false);  // special shaders take their run in one call anyway
  FlushRenderQueue();
  ASSERT_EQ(draws_.size(), 1u);
  EXPECT_EQ(draws_[0].item_count, 2);
  auto pixels = Pixels();
  EXPECT_THAT(Pixel(pixels, 10, 10), ArgbNear(0xffffffffu, 0));
  EXPECT_THAT(Pixel(pixels, 50, 50), ArgbNear(0xffffffffu, 0));
}

class RecordingGenerator final : public VertexGenerator {
 public:
  void Generate(RenderVertex* destination, const RenderVertex* source, uint32_t vertex_count,
                const uint16_t* indices, uint32_t index_count, const Matrix& world) override {
    calls.push_back({vertex_count, index_count, indices, world.m[3][0]});
    for (uint32_t i = 0; i < vertex_count; ++i) {
      destination[i] = source[i];
      destination[i].x = -source[i].x;  // mirrored left-right
      destination[i].diffuse = 0xff0000ff;
    }
  }
  struct Call {
    uint32_t vertices, indices;
    const uint16_t* index_data;
    float world_x;
  };
  std::vector<Call> calls;
};

TEST_F(DrawTest, AVertexGeneratorFillsTheItemsVertices) {
  ShaderHandle h = Flat("GEN");
  RecordingGenerator generator;
  manager_.GetShaderByHandle(h)->vertex_generator = &generator;
  Mesh quad = QuadMesh(-1, -1, 0, 1, 0.5f, 0xffff0000);
  DrawItem* item = quad.Item(h);
  item->world.m[3][0] = 3.0f;
  ASSERT_EQ(SubmitDrawItem(item), 0);
  FlushRenderQueue();
  ASSERT_EQ(generator.calls.size(), 1u);
  EXPECT_EQ(generator.calls[0].vertices, 4u);
  EXPECT_EQ(generator.calls[0].indices, 6u);
  EXPECT_EQ(generator.calls[0].index_data, quad.indices.data());
  EXPECT_EQ(generator.calls[0].world_x, 3.0f);
  auto pixels = Pixels();
  EXPECT_THAT(Pixel(pixels, 48, 32), ArgbNear(0xff0000ffu, 0));
  EXPECT_THAT(Pixel(pixels, 16, 32), ArgbNear(0xff000000u, 0));
  manager_.GetShaderByHandle(h)->vertex_generator = nullptr;
}

TEST_F(DrawTest, SpriteListsExpandEveryVertexIntoACameraFacingQuad) {
  ShaderHandle h = Flat("SPRITES", "", "<SPRITELIST> 0.5 </SPRITELIST>");
  // 300 points: drawn 256 quads at a time.
  Mesh points;
  for (int i = 0; i < 300; ++i) points.vertices.push_back({-0.5f, 0.5f, 0.5f, 0, 0, -1, 0xff00ff00, 0, 0});
  points.vertices[299] = {0.5f, -0.5f, 0.5f, 0, 0, -1, 0xffff0000, 0, 0};
  DrawItem* item = points.Item(h);
  item->indices = nullptr;
  item->triangle_count = 0;
  ASSERT_EQ(SubmitDrawItem(item), 0);
  FlushRenderQueue();
  ASSERT_EQ(draws_.size(), 2u);
  EXPECT_EQ(draws_[0].path, MaterialDrawPath::kSprites);
  EXPECT_EQ(draws_[0].triangle_count, 512u);
  EXPECT_EQ(draws_[1].triangle_count, 88u);
  EXPECT_EQ(CachedRenderState(RS_CULLMODE), CULL_NONE);
  auto pixels = Pixels();
  // Quads of half-size 0.25 around (-0.5, 0.5) and (0.5, -0.5).
  EXPECT_THAT(Pixel(pixels, 16, 16), ArgbNear(0xff00ff00u, 0));
  EXPECT_THAT(Pixel(pixels, 9, 9), ArgbNear(0xff00ff00u, 0));
  EXPECT_THAT(Pixel(pixels, 5, 5), ArgbNear(0xff000000u, 0));
  EXPECT_THAT(Pixel(pixels, 48, 48), ArgbNear(0xffff0000u, 0));
  EXPECT_THAT(Pixel(pixels, 32, 32), ArgbNear(0xff000000u, 0));
}

TEST_F(DrawTest, AutoSpritesTurnTheirFirstTriangleTowardTheCamera) {
  ShaderHandle h = Flat("BILLBOARD", "", "<AUTOSPRITE> </AUTOSPRITE>");
  // Two quads lying in the XZ plane: edge-on to a camera looking down +Z.
  std::vector<Mesh> meshes(2);
  for (Mesh& mesh : meshes) {
    mesh.vertices = {{0, 0, 0, 0, 1, 0, 0xffffffff, 0, 0},
                     {0, 0, 0.25f, 0, 1, 0, 0xffffffff, 0, 0},
                     {0.25f, 0, 0, 0, 1, 0, 0xffffffff, 0, 0},
                     {0.25f, 0, 0.25f, 0, 1, 0, 0xffffffff, 0, 0}};
    mesh.indices = {0, 1, 2, 2, 1, 3};
  }
  DrawItem* a = meshes[0].Item(h);
  DrawItem* b = meshes[1].Item(h);
  a->world.m[3][0] = -0.5f;
  a->world.m[3][2] = 0.5f;
  b->world.m[3][0] = 0.5f;
  b->world.m[3][2] = 0.5f;
  ASSERT_EQ(SubmitDrawItem(a), 0);
  ASSERT_EQ(SubmitDrawItem(b), 0);
  FlushRenderQueue();
  auto pixels = Pixels();
  // P0 -> P2 (+x) becomes the camera's right, P0 -> P1 its up: each quad
  // covers x .. x + 0.25, y 0 .. 0.25 from its translation.
  EXPECT_THAT(Pixel(pixels, 20, 28), ArgbNear(0xffffffffu, 0));
  EXPECT_THAT(Pixel(pixels, 52, 28), ArgbNear(0xffffffffu, 0));
  EXPECT_THAT(Pixel(pixels, 20, 40), ArgbNear(0xff000000u, 0));
  // The items themselves are left as they were.
  EXPECT_EQ(a->world.m[0][0], 1.0f);
  EXPECT_EQ(a->world.m[1][1], 1.0f);
}

TEST_F(DrawTest, VoxelizedShadersDrawNothingHere) {
  ShaderHandle h = Flat("VOXELS", "", "<VOXELIZE> </VOXELIZE>");
  Mesh quad = QuadMesh(-1, -1, 1, 1);
  ASSERT_EQ(SubmitDrawItem(quad.Item(h)), 0);
  FlushRenderQueue();
  EXPECT_TRUE(draws_.empty());
  EXPECT_THAT(Pixel(Pixels(), 32, 32), ArgbNear(0xff000000u, 0));
}

TEST_F(DrawTest, AGroupThatDoesNotFitTheSharedBufferIsSkipped) {
  ShaderHandle h = Flat("HUGE");
  Mesh huge;
  huge.vertices.assign(70000, RenderVertex{0, 0, 0.5f, 0, 0, -1, 0xffffffff, 0, 0});
  huge.indices = {0, 1, 2};
  ASSERT_EQ(SubmitDrawItem(huge.Item(h)), 0);
  Mesh quad = QuadMesh(-1, -1, 1, 1, 0.5f, 0xff808080);
  ASSERT_EQ(SubmitDrawItem(quad.Item(h, 1.0f)), 0);
  FlushRenderQueue();
  EXPECT_THAT(messages_, ElementsAre(HasSubstr("en VB dinamico no caben 2520000 bytes")));
  ASSERT_EQ(draws_.size(), 1u);  // the next item still draws
  EXPECT_EQ(draws_[0].first_item, &quad.item);
}

TEST_F(DrawTest, VerticesStayWholeAfterOtherStridesInTheSharedBuffer) {
  // Someone appended 28-byte screen vertices before.
  void* data = nullptr;
  ASSERT_EQ(AppendDynamicVertices(SharedVertexBuffer(), 28 * 3, &data), 0);
  UnlockDynamicVertices(SharedVertexBuffer());
  ShaderHandle h = Flat("AFTER");
  Mesh quad = QuadMesh(-1, -1, 1, 1, 0.5f, 0xff3050f0);
  ASSERT_EQ(SubmitDrawItem(quad.Item(h)), 0);
  FlushRenderQueue();
  EXPECT_THAT(Pixel(Pixels(), 32, 32), ArgbNear(0xff3050f0u, 0));
}

}  // namespace
