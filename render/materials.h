// Materials ("shaders"): material scripts, managers and their stack,
// passes and waves, cameras, and the render queue with its drawing.
//
// Typical use:
//   render::ShaderManager manager; manager.Init(); manager.ParseShaderDirectory("data/shaders");
//   render::PushShaderManager(&manager);
//   render::ShaderHandle shader = manager.GetShader("logo");
//   for (int pass = 0; render::ApplyPass(shader, pass) == 0; ++pass) ...draw...;
//   render::PopShaderManager();
//
// Not here: the device states themselves (device.h, display.h), ids of
// textures and buffers (layer.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "render/device.h"
#include "render/layer.h"

namespace text {
class TagNode;
}

namespace render {

// ===========================================================================
// Materials. A material ("shader") says how a surface is drawn: one or
// more passes, each with blending, a texture, stage operations, filtering,
// culling, depth test and optional animated colour and scale. Materials are
// read from material scripts (tag syntax, data/shaders/*.txt) into a
// ShaderManager, handed out by name with reference counts, and drawn pass by
// pass, directly (ApplyPass) or through the sorted render queue.
//
// Managers are stacked; the top one is current. A ShaderHandle is an id in
// the current manager's shader table, a TextureHandle an id in its texture
// table, so owners draw only with their own manager pushed.
// ===========================================================================

using ShaderHandle = int32_t;   // -1: none
using TextureHandle = int32_t;  // -1: none

// --- waves -----------------------------------------------------------------

enum WaveType : int32_t {
  WF_CONSTANT = 0,
  WF_SIN = 1,
  WF_TRIANGLE = 2,
  WF_SQUARE = 3,
  WF_SAWTOOTH = 4,
  WF_INVSAWTOOTH = 5,
};

// A periodic value; all zero is the constant 0.
struct Wave {
  int32_t type = WF_CONSTANT;
  float base = 0.0f;
  float amplitude = 0.0f;
  float frequency = 0.0f;  // periods per second
  float offset = 0.0f;     // phase, in periods
};

// The wave's value at `time` seconds (an unknown type gives 0).
float EvaluateWave(const Wave& wave, float time);

// --- passes and shaders ------------------------------------------------------

// ShaderPass::flags.
inline constexpr uint32_t kPassColorWave = 0x01;
inline constexpr uint32_t kPassAlphaWave = 0x02;
inline constexpr uint32_t kPassScaleWave = 0x04 | 0x08;
inline constexpr uint32_t kPassNoZWrite = 0x10;
inline constexpr uint32_t kPassMatrixScale = 0x20;
inline constexpr uint32_t kPassSpecularHighlight = 0x40;
inline constexpr uint32_t kPassMirror = 0x80;

// Texture-coordinate generation of a pass.
enum TexGen : int32_t {
  TEXGEN_PASSTHRU = 0,
  TEXGEN_SPHERE_REFLECTION = 1,
  TEXGEN_CAMERA_REFLECTION = 2,
  TEXGEN_CUBE_REFLECTION = 3,
};

struct ShaderPass {
  Shade shade_mode = SHADE_GOURAUD;
  Fill fill_mode = FILL_SOLID;
  uint32_t flags = 0;
  int32_t tex_gen = TEXGEN_PASSTHRU;
  bool has_texture_name = false;
  std::string texture_name;  // as written in the script (or given in code)
  TextureHandle texture = -1;  // resolved on first use
  Blend src_blend = BLEND_ONE;
  Blend dst_blend = BLEND_ZERO;
  uint32_t color_arg1 = TA_TEXTURE;
  uint32_t color_arg2 = TA_DIFFUSE;
  TextureOp color_op = TOP_MODULATE;
  uint32_t alpha_arg1 = TA_DIFFUSE;
  uint32_t alpha_arg2 = TA_DIFFUSE;
  TextureOp alpha_op = TOP_SELECTARG1;
  Cull cull = CULL_CW;
  TextureFilter mip_filter = TEXF_LINEAR;
  TextureFilter mag_filter = TEXF_LINEAR;
  TextureFilter min_filter = TEXF_LINEAR;
  Cmp z_func = CMP_LESSEQUAL;
  Color texture_factor = 0;  // 0x00RRGGBB
  Wave scale_wave;           // SCALE or MATRIXSCALE
  Wave color_wave;
  Wave alpha_wave;
  Material material;
};

// Priorities: the render queue's buckets, drawn in ascending order.
enum Priority : int32_t {
  PR_FIRST = 0,
  PR_OPAQUE = 3,
  PR_ADDITIVE = 6,
  PR_ADDITIVE2 = 7,
  PR_ADDITIVE3 = 8,
  PR_TRANSPARENT = 12,
  PR_TRANSPARENT2 = 13,
  PR_TRANSPARENT3 = 14,
  PR_LAST = 15,
};
inline constexpr int kPriorityCount = 16;

enum SpriteMode : int32_t { SPRITE_NONE = 0, SPRITE_AUTO = 1, SPRITE_LIST = 2 };

// Shader::flags.
inline constexpr uint32_t kShaderSpecialPath = 0x01;  // SPRITELIST, AUTOSPRITE or DISTORTNORMAL
inline constexpr uint32_t kShaderVoxelize = 0x02;
inline constexpr uint32_t kShaderVoxelNoCull = 0x04;
inline constexpr uint32_t kShaderVoxelStatic = 0x08;

// Fills the vertices of one draw item in place of the usual transform (the
// vertex deformers of the post-processing effect). `destination` has room
// for `vertex_count` vertices.
class VertexGenerator {
 public:
  virtual ~VertexGenerator() = default;
  virtual void Generate(RenderVertex* destination, const RenderVertex* source, uint32_t vertex_count,
                        const uint16_t* indices, uint32_t index_count, const Matrix& world) = 0;
};

struct Shader {
  int32_t priority = PR_OPAQUE;
  std::vector<ShaderPass> passes;
  int32_t sprite_mode = SPRITE_NONE;
  float sprite_value = 0.0f;  // SPRITELIST: the sprite size
  bool distort_normal = false;
  std::string name;  // upper case
  int32_t ref_count = 0;
  VertexGenerator* vertex_generator = nullptr;  // not owned
  uint32_t flags = 0;
  uint8_t receive_shadows = 0;
  uint8_t project_shadows = 0;
  uint8_t project_beams = 0;
  uint8_t mirror = 0;

  int PassCount() const { return static_cast<int>(passes.size()); }
};

// Kinds of CreateBuiltinShader.
enum BuiltinShaderKind : int32_t {
  BUILTIN_UNTEXTURED = 0,        // no texture, no culling (the NULL shader)
  BUILTIN_TEXTURED = 1,          // the texture
  BUILTIN_SPHERE_MAPPED = 2,     // the texture with sphere-reflection coordinates
  BUILTIN_TEXTURED_PLUS_ENV = 3, // the texture, then the second with sphere reflection
  BUILTIN_COLOR = 4,             // no texture, no culling, the colour as texture factor
};

// One material library: its shaders and the textures they use.
class ShaderManager {
 public:
  struct TextureEntry {
    std::string name;       // as asked for
    int32_t texture = -1;   // TextureId in the render layer
    int32_t count = 0;      // references
  };

  ShaderManager() = default;
  ~ShaderManager();
  ShaderManager(const ShaderManager&) = delete;
  ShaderManager& operator=(const ShaderManager&) = delete;

  // Start-up: empty tables, the NULL shader (handle 0), the drawn-triangle
  // counter at 0, the start hook run. 0 or -1 (the owner shows "Error
  // initializing Shader Manager").
  int Init();
  // Releases every shader's textures, the shaders and the textures. The
  // manager may be started again.
  void Shutdown();
  bool Initialized() const { return initialized_; }

  // Parses every "*.txt" of the folder in listing order; the first failing
  // file stops the scan with -1 (the shaders read so far stay). A missing
  // folder has no scripts: 0.
  int ParseShaderDirectory(const char* directory);
  // Adds the file's SHADER tags. Shows "Error: Error parsing %s" when the
  // file does not parse and "Error parsing %s\n" when a shader fails. 0/-1.
  int ParseShaderFile(const char* path);
  // The same from text (no file): `path` only names it in messages.
  int ParseShaderText(const char* text, const char* path);

  // A reference to the shader of that name (case ignored); the first
  // reference loads its textures. An unknown name becomes a one-pass
  // textured shader of the texture of that name. -1 when a texture cannot
  // be loaded (nothing is kept).
  ShaderHandle GetShader(const char* name);
  // Drops a reference; the last one releases the shader's textures (the
  // shader stays parsed).
  void ReleaseShader(ShaderHandle handle);
  // Makes (or takes a further reference on) a shader from code. The name is
  // reduced to its base name and upper-cased. -1 on failure.
  ShaderHandle CreateBuiltinShader(const char* name, int kind, const char* texture = nullptr,
                                   const char* second_texture = nullptr, Color color = 0);
  // The handle of a shader by name (case ignored) without taking a
  // reference, or -1.
  ShaderHandle FindShader(const char* name) const;

  Shader* GetShaderByHandle(ShaderHandle handle) { return shaders_.Get(handle); }
  const Shader* GetShaderByHandle(ShaderHandle handle) const { return shaders_.Get(handle); }
  int ShaderCount() const { return shaders_.Count(); }
  // Handles in table order: FirstShader(), then NextShader(h) until -1.
  ShaderHandle FirstShader() const { return shaders_.First(); }
  ShaderHandle NextShader(ShaderHandle handle) const { return shaders_.Next(handle); }

  // A texture of this manager's table by name (an existing entry of exactly
  // that name gains a count). Names starting "BUMP_" become normal maps,
  // "CMAP_" cube maps of six faces. -1 when loading fails.
  TextureHandle ResolveTexture(const char* name);
  void ReleaseTextureHandle(TextureHandle handle);
  const TextureEntry* GetTextureEntry(TextureHandle handle) const { return textures_.Get(handle); }
  int TextureCount() const { return textures_.Count(); }
  // The texture to bind for a pass (cube texture first), or nullptr.
  std::shared_ptr<BaseTexture> PassTexture(const ShaderPass& pass) const;

  // While set, ApplyPass swaps clockwise and counter-clockwise culling
  // (drawing a mirrored view).
  bool mirrored = false;

 private:
  int ParseShader(const text::TagNode* node);
  int ResolvePassTextures(Shader* shader);
  void ReleasePassTextures(Shader* shader);
  ShaderHandle TakeReference(ShaderHandle handle);

  core::ObjectPool<Shader> shaders_;
  core::ObjectPool<TextureEntry> textures_;
  bool initialized_ = false;
};

// The handle of the NULL shader: the first shader of every manager.
inline constexpr ShaderHandle kNullShader = 0;

// Static start-up and shut-down of materials: the manager stack and the
// render queue. 0 or -1 (the Server shows "Error static initializing
// ShaderManager").
int InitShaderSystem();
void ShutdownShaderSystem();

// The manager stack. Push while loading and drawing, pop afterwards.
int PushShaderManager(ShaderManager* manager);
void PopShaderManager();
ShaderManager* CurrentShaderManager();
int ShaderManagerDepth();

// Runs whenever a manager starts (the vertex deformers re-seed their random
// phases there). An empty function removes it.
void SetShaderManagerStartHook(std::function<void()> hook);

// --- drawing state -------------------------------------------------------------

// What the camera-facing materials need of the current camera. The scene
// engine's cameras implement it.
class Camera {
 public:
  virtual ~Camera() = default;
  // Rows 0-2: the camera's right, up and forward axes in world space; row 3
  // (0, 0, 0, 1).
  virtual Matrix Orientation() const = 0;
};
// A camera standing still with a fixed orientation.
class FixedCamera final : public Camera {
 public:
  explicit FixedCamera(const Matrix& orientation = Matrix::Identity()) : orientation_(orientation) {}
  Matrix Orientation() const override { return orientation_; }
  void SetOrientation(const Matrix& orientation) { orientation_ = orientation; }

 private:
  Matrix orientation_;
};
// nullptr: the identity orientation (a camera looking down +Z).
void SetCurrentCamera(const Camera* camera);
const Camera* CurrentCamera();

// While set, every pass blends additively (one, one).
void SetAdditiveOverride(bool on);
bool AdditiveOverride();

// Triangles drawn through materials since the last manager start.
uint32_t TrianglesDrawn();
void ResetTrianglesDrawn();

// Sets every state of pass `pass` of the current manager's shader. 0, or -1
// for an unknown shader or pass (nothing set).
int ApplyPass(ShaderHandle shader, int pass);

// --- the render queue ----------------------------------------------------------

// One piece of geometry. Items belong to the submitter and must stay valid
// until the queue is flushed.
struct DrawItem {
  int32_t vertex_buffer = -1;  // static vertex buffer id, or -1: `vertices`
  int32_t index_buffer = -1;   // static index buffer id (with vertex_buffer)
  const RenderVertex* vertices = nullptr;  // object space
  const uint16_t* indices = nullptr;       // three per triangle, from the item's first vertex
  uint32_t base_vertex = 0;                // static path: base vertex and minimum index
  uint32_t vertex_count = 0;
  uint32_t start_index = 0;                // static path: first index
  int32_t triangle_count = 0;
  Matrix world = Matrix::Identity();
  float depth = 0.0f;  // sort key: distance from the viewer
  ShaderHandle shader = -1;
};

// Queues the item in the bucket of its shader's priority. -1 (not queued)
// for a shader that the current manager does not have.
int SubmitDrawItem(const DrawItem* item);
// Sorts each bucket by shader, then by depth (nearest first in PR_OPAQUE,
// farthest first elsewhere), draws it and empties it.
void FlushRenderQueue();
// Items waiting in a bucket (0..15).
int QueuedItemCount(int bucket);
// Draws `count` items with every pass of the shader. With `batch` the items
// are cut into groups that fit the shared dynamic buffers.
void DrawWithShader(ShaderHandle shader, const DrawItem* const* items, int count, bool batch);

// --- test hooks ------------------------------------------------------------------

// One draw the materials issued.
enum class MaterialDrawPath { kStatic, kDynamic, kSprites };
struct MaterialDraw {
  MaterialDrawPath path;
  ShaderHandle shader;
  int pass;
  const DrawItem* first_item;  // the group's first item
  int item_count;
  uint32_t vertex_count;
  uint32_t triangle_count;
};
// Called for every draw (tests, benchmarks); an empty function removes it.
void SetMaterialDrawObserver(std::function<void(const MaterialDraw&)> observer);

// Where FlushRenderQueue spends its time, summed while profiling is on.
struct MaterialProfile {
  double sort_seconds = 0.0;       // sorting the buckets
  double transform_seconds = 0.0;  // transforming vertices and copying indices into the shared buffers
  double buffer_seconds = 0.0;     // locking and unlocking the shared buffers (the upload)
  double total_seconds = 0.0;      // whole flushes
  uint64_t items = 0;              // items flushed
};
void SetMaterialProfiling(bool on);  // also zeroes the sums
MaterialProfile GetMaterialProfile();
// Off: the queue draws every item of a plain shader on its own, even where
// one draw of the run gives the same pixels (benchmarks compare the two).
void SetRenderQueueMerging(bool on);

}  // namespace render
