// The 3D scene engine: math, the scene text format, mesh conversion, the
// binary scene cache, and the scene graph built from it (objects, cameras,
// lights, animation tracks, render data, skinning, the render view).
//
//   scene::SceneFile data;
//   if (scene::LoadSceneData("room.txt", &data) != 0) return -1;  // messages shown
//   // data.meshes, data.lights, data.cameras, tracks and owners, and the
//   // "MATL" material definitions the scene graph resolves shaders from.
//
// LoadSceneData reads "data/scenesbin/<dir>/<base>.HVX" when it is complete
// and stamped for the current text, else converts "data/scenes/<argument>"
// and writes the cache atomically. ConvertSceneText turns one text into the
// bytes of a binary scene; EncodeSceneBinary / DecodeSceneBinary are the
// byte format on their own (explicit little-endian fields, every count and
// index checked, non-finite floats refused).
//
// The data side needs no device, shader manager or clock: shaders are
// named, not created (each element names its material; the "MATL" table
// carries the definitions), so a command-line tool can convert scenes.
//
// The scene graph (below) reads no clock either: every time is the
// caller's script time, passed in.
//
//   scene::Scene scene;
//   scene::LoadOptions options;
//   options.shaders = &manager;
//   if (scene::LoadScene(&scene, "room.txt", options) != 0) return -1;
//   scene.SetStartTime(t0);
//   scene.Evaluate(t);  // then draw: scene.order, object.world, scene.view, ...
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/core.h"
#include "render/layer.h"      // RenderVertex, buffer ids
#include "render/materials.h"  // ShaderManager, ShaderHandle, render::Camera
#include "scene/math.h"        // Vec3, Quat, Mat3, matrices, transforms
#include "scene/scene_file.h"  // SceneFile and its records

namespace scene {

// ---------------------------------------------------------------------------
// Binary format (version 7, with the optional "HVX1" extension).
// ---------------------------------------------------------------------------

// The message for a file of another version.
inline constexpr const char* kOldVersionMessage =
    "El .hvx es de una version antigua. Borra todos los .hvx y reexportalos por favor\n";
// Files above this size are refused unread.
inline constexpr uint64_t kMaxSceneFileBytes = 1ull << 30;

// Writes `scene` as a binary scene into *bytes (replacing its content).
// Quantises positions and uvs to 16 bits in their boxes, normals to 8. -1 (with "Malla %s tiene demasiados
// vertices" / "Malla %s tiene demasiadas caras (%i)" shown for the two
// limits) when an element exceeds 65,535 vertices or 60,000 indices, or the
// data are inconsistent (an index out of range, a non-finite value, owner
// lists of another length than their tracks).
int EncodeSceneBinary(const SceneFile& scene, std::string* bytes);

enum class DecodeResult {
  kOk,
  kDamaged,     // short, inconsistent or out of range
  kOldVersion,  // version is not 7
};
// Decodes a whole binary scene. Shows nothing; *out is cleared first and
// left empty on failure. Every count is checked against the bytes left
// before anything is allocated.
DecodeResult DecodeSceneBinary(std::string_view bytes, SceneFile* out);

// Reads a whole binary file through the file layer (refused above 1 GiB).
bool ReadSceneFileBytes(const char* path, std::string* bytes);

// ---------------------------------------------------------------------------
// Text format and mesh conversion.
// ---------------------------------------------------------------------------

// Reads and validates one scene text into *out (exact floats, material
// definitions, mesh IDs and the text's "SRC " stamp). 0, or -1 after
// showing the failing category's message.
int ConvertSceneTextToData(const char* text_path, SceneFile* out);
// ConvertSceneTextToData followed by EncodeSceneBinary.
int ConvertSceneTextToBytes(const char* text_path, std::string* bytes);
// Converts and writes the binary scene into `file`
// (owned by the caller). 0, or -1 with nothing written on a failed
// conversion.
int ConvertSceneText(const char* text_path, core::File* binary_file);

// The text's size and modification time, or false when it is no file.
bool StatSceneText(const char* text_path, SourceStamp* stamp);

// ---------------------------------------------------------------------------
// The cache road.
// ---------------------------------------------------------------------------

// "data/scenes/" + argument.
std::string SceneTextPath(std::string_view argument);
// "data/scenesbin/" + the argument's folder part + its base name + ".HVX".
std::string SceneCachePath(std::string_view argument);
// False for an argument that is empty, absolute or holds a ".." component.
bool SceneArgumentAllowed(std::string_view argument);

// Fills *out for a scene argument (paths relative to the current base
// folder): the cache when it decodes completely and its stamp, if any,
// matches the text; otherwise the converted text, written to the cache
// atomically (an unwritable cache only logs). A cache that fails to decode
// is deleted and rebuilt when the text exists, else kept and reported.
// 0, or -1 with a message shown.
int LoadSceneData(const char* argument, SceneFile* out);

// Deletes the cache of `argument` ("RELOAD"), only when its text exists.
// 0 when a cache was deleted, -1 otherwise.
int InvalidateSceneCache(const char* argument);

// ===========================================================================
// The scene graph.
//
// A Scene holds placed mesh objects in a parent/child hierarchy, lights,
// cameras (one current), animation tracks and procedural objects. Loading
// builds it from a SceneFile; Evaluate(now) computes, from the state and
// `now` alone, every object's world matrix, the current camera's view, the
// evaluated lights and the skinned vertices. Drawing reads those results:
// it walks `order` (parents before children) and never recurses.
//
// Times are doubles: the caller's script time ("now") and the animation
// time derived from it. Samples and geometry are single precision.
// ===========================================================================

struct Scene;

// --- animation tracks ----------------------------------------------------------

// Position/rotation samples at `rate` samples per second, looped: the last
// sample ends the loop and the first follows it (period (n - 1) / rate).
struct PosRotController {
  float rate = 0.0f;
  std::vector<PosRotSample> samples;

  // The pose at animation time `a` seconds. False (outputs untouched) for a
  // track without samples; one sample is constant; a non-finite a × rate
  // gives sample 0.
  bool Sample(double a, Vec3* position, Quat* rotation) const;
};

// Single values at `rate` samples per second, looped with period n / rate:
// the last value blends back into the first.
struct FloatController {
  uint32_t rate = 0;
  std::vector<float> values;

  // False (output untouched) for a track without values.
  bool Sample(double a, float* value) const;
};

// What every animated thing has: the track driving its position and
// rotation, an index into Scene::pos_rot_tracks (-1: none). Every track is
// sampled at the scene's one animation time.
struct Controllable {
  int32_t track = -1;
};

// --- meshes and render data ----------------------------------------------------

// A vertex of a shadow mesh: a corner and its triangle's unit face normal.
struct ShadowVertex {
  Vec3 position;
  Vec3 normal;
};
static_assert(sizeof(ShadowVertex) == 24);

// The shadow mesh of one element: three vertices per triangle (its own
// copies), indices three per triangle for its corners, then six per edge:
// a quad between the two triangles' copies of a shared edge, or six repeats
// of one vertex (a degenerate quad) for an edge of one triangle. Drawing
// moves the vertices facing away from the light; the quads become the
// volume's sides.
struct ShadowMesh {
  std::vector<ShadowVertex> vertices;
  std::vector<uint16_t> indices;
};

// One influence of a skinned vertex.
struct BoneInfluence {
  int32_t bone_id = 0;  // the bone's "MAXID"
  uint32_t slot = 0;    // index into ElementSkin::bones (set when the bones resolve)
  Vec3 offset;          // the vertex in the bone's space
  float weight = 0.0f;
  // weight / Σ weights of its vertex (1 / count when that sum is <= 0):
  // the blend divides once, at load.
  float share = 0.0f;
};

// The skin of one element: vertex v's influences are
// influences[first[v] .. first[v + 1]).
struct ElementSkin {
  std::vector<uint32_t> first;  // vertex_count + 1 entries
  std::vector<BoneInfluence> influences;
  std::vector<int32_t> bones;        // file indices of the distinct bone objects
  std::vector<Matrix> bone_worlds;   // their world matrices (Evaluate's scratch)
};

// One element of a mesh, ready to draw: ranges into the mesh's shared
// arrays, its shader, its shadow mesh and its skin.
struct RenderElement {
  uint32_t first_vertex = 0, vertex_count = 0;    // in Mesh::vertices
  uint32_t first_index = 0, triangle_count = 0;   // in Mesh::indices (element-relative values)
  render::ShaderHandle material = -1;             // a reference the scene holds; -1 without a manager
  std::string material_name;                      // as the file names it
  bool has_shadow = false;  // false: casts no shadow (skinned, or over 65,535 shadow vertices)
  ShadowMesh shadow;
  bool skinned = false;      // the element carries influences
  bool drawable = true;      // false: skinned with bones that do not all resolve (never drawn)
  ElementSkin skin;
  // Skinned elements only: the vertices in world space (positions blended
  // from the bones, normals rebuilt from the skinned triangles, colour and
  // uv as loaded), rewritten by Evaluate. Drawn with the identity world
  // matrix and the element's indices; bounded by skin_centre/skin_radius.
  std::vector<render::RenderVertex> skinned_vertices;
  Vec3 skin_centre;
  float skin_radius = 0.0f;
};

// The geometry of one object. All elements share one vertex array (36-byte
// render vertices, v negated) and one 16-bit index array, and, when the
// vertices take 8,192 bytes or more, one static vertex buffer and one
// static index buffer of the render layer holding the same data.
struct Mesh {
  std::string name;  // upper case
  std::vector<RenderElement> elements;
  std::vector<render::RenderVertex> vertices;
  std::vector<uint16_t> indices;
  int32_t vertex_buffer = -1;  // render layer ids, -1: drawn from the arrays
  int32_t index_buffer = -1;
  float radius = 0.0f;  // the largest distance of a vertex from the origin
};

// Vertex bytes at or above which a mesh gets device buffers.
inline constexpr uint32_t kDeviceBufferMinBytes = 8192;

// Builds a mesh's render data from file elements: the shared arrays (v
// negated), ranges, radius, shadow meshes and skins (bones unresolved).
// Shaders and device buffers are the loader's. 0, or -1 when an element
// cannot be indexed in 16 bits.
int BuildRenderData(const std::vector<MeshElement>& elements, Mesh* mesh);
// The shadow mesh of one triangle list (three indices per triangle).
// False when it would need more than 65,535 vertices.
bool BuildShadowMesh(const render::RenderVertex* vertices, const uint16_t* indices, uint32_t triangle_count,
                     ShadowMesh* shadow);

// --- objects, lights, cameras ----------------------------------------------------

// Names a placeholder ("@...") matches, by their leading characters.
enum ProceduralKind : uint32_t {
  PROCEDURAL_PARTICLE = 1u << 0,
  PROCEDURAL_SPHERICAL = 1u << 1,
  PROCEDURAL_BOLASYNC = 1u << 2,
  PROCEDURAL_METABALL = 1u << 3,
  PROCEDURAL_DISTORTBALL = 1u << 4,
  PROCEDURAL_SPIKETUBE = 1u << 5,
  PROCEDURAL_TRAUMA = 1u << 6,
};
// The kinds the text after "@" starts with (0 for none).
uint32_t ProceduralKindsOf(std::string_view name_after_at);

struct SceneObject {
  Controllable controllable;
  std::string name;  // the mesh's name, upper case
  int32_t file_index = -1;  // in Scene::file_objects
  bool is_mirror = false;   // an element's shader has the mirror flag
  bool visible = true;      // false for mirrors and names beginning "*"
  bool placeholder = false; // the name begins "@": never drawn as a mesh
  Mesh mesh;
  // Node values relative to the parent, as loaded. Evaluation never writes
  // them.
  Vec3 position;
  Quat rotation;
  Vec3 pivot_position;  // stored only
  Quat pivot_rotation;
  int32_t parent = -1;            // file index, -1 for a root
  std::vector<int32_t> children;  // file indices, in file order

  // Written by Scene::Evaluate.
  Vec3 local_position;   // the track's sample, or the node values
  Quat local_rotation;
  Matrix world = Matrix::Identity();  // local × the parent's world
  Vec3 world_position;   // row 3 of world: the bounding sphere's centre
};

struct SceneLight {
  Controllable controllable;
  render::Light light;      // the record as loaded
  render::Light evaluated;  // Evaluate: position from the track; a directional
                            // light's direction = row 2 of M(sampled ⊗ rx(π/2))
  bool on_device = false;   // among the first eight: set as a device light
};

struct SceneCamera {
  Controllable controllable;
  Vec3 position;  // used without a track
  Quat rotation;
  float fov = 60.0f;  // degrees, used without a fov track
  float near_plane = 1.0f;
  float far_plane = kFarPlane;  // stored only: the projection's far plane is fixed
  std::string name;
  int32_t fov_track = -1;  // index into Scene::float_tracks
};

// A procedural object made for a placeholder by the installed factory. The
// scene owns it; it keeps file indices, never pointers, into the scene.
class ProceduralObject {
 public:
  virtual ~ProceduralObject() = default;
  // One PROCEDURAL_* kind.
  virtual uint32_t Kind() const = 0;
  // The effect restarts the scene (ResetPlayback): particle systems reset.
  virtual void ResetPlayback() {}
};

// Called once per placeholder, in file order, with the kinds its name
// matches (never 0); appends what it makes to scene->procedurals. -1 fails
// the load.
using ProceduralFactory = std::function<int(Scene* scene, int32_t file_index, uint32_t kinds)>;
// Installs the factory (an empty function removes it: placeholders are
// then loaded, hidden, and never drawn). Set at start-up, before loads.
void SetProceduralFactory(ProceduralFactory factory);

// --- the render view ----------------------------------------------------------------

// A camera and a viewport in the 640 × 480 frame: view and projection
// matrices, the frustum, and the orientation camera-facing materials read.
class View final : public render::Camera {
 public:
  View() { Update(); }

  // Pose (rotation already turned by rx(π/2): local +Z looks forward), fov
  // in degrees (not finite or outside (0, 180): clamped to 0.1-179), aspect
  // = height / width, near (clamped to 0.0001-999,999), far (stored).
  void SetCamera(const Vec3& position, const Quat& rotation, float fov_degrees, float aspect, float near_plane,
                 float far_plane);
  // In the 640 × 480 frame; w or h <= 0 (or not finite) draws nothing.
  void SetViewport(float x, float y, float w, float h);
  // flip_x negates the projection's m00, flip_y its m11.
  void SetFlip(bool flip_x, bool flip_y);

  const Vec3& Position() const { return position_; }
  const Quat& Rotation() const { return rotation_; }
  float Fov() const { return fov_; }
  float Aspect() const { return aspect_; }
  float NearPlane() const { return near_; }
  float FarPlane() const { return far_; }
  bool FlipX() const { return flip_x_; }
  bool FlipY() const { return flip_y_; }
  const Matrix& ViewMatrix() const { return view_; }
  const Matrix& Projection() const { return projection_; }
  const Plane* FrustumPlanes() const { return planes_; }  // left, right, top, bottom, near, far
  // -1 outside the frustum, 0 crossing a plane, 1 inside.
  int SphereInFrustum(const Vec3& centre, float radius) const;
  // Rows: right, up, forward (world space); row 3 (0, 0, 0, 1).
  Matrix Orientation() const override;

  // The viewport in pixels of a target of that size (clipped to it); false
  // when nothing of it is left (or w, h <= 0).
  bool PixelViewport(uint32_t target_width, uint32_t target_height, render::Viewport* out) const;
  // Sets TS_VIEW, TS_PROJECTION and the viewport scaled to the device's
  // current render target. -1 (nothing set) when the viewport is empty:
  // draw nothing.
  int Apply(render::Device& device) const;

 private:
  void Update();

  Vec3 position_;
  Quat rotation_;
  float fov_ = 90.0f, aspect_ = 0.75f, near_ = 1.0f, far_ = kFarPlane;
  float vx_ = 0.0f, vy_ = 0.0f, vw_ = 640.0f, vh_ = 480.0f;
  bool flip_x_ = false, flip_y_ = false;
  Matrix view_ = Matrix::Identity();
  Matrix projection_ = Matrix::Identity();
  Plane planes_[6];
};

// --- the scene -------------------------------------------------------------------

// An object of the file-order array: which list holds it and its id there.
struct ObjectRef {
  bool mirror = false;
  int id = -1;
};

struct Scene {
  Scene() = default;
  ~Scene();
  Scene(Scene&& other) noexcept;
  Scene& operator=(Scene&& other) noexcept;
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  // --- content (loading fills it; Clear empties it) ---
  core::ObjectPool<SceneObject> objects;  // every non-mirror object, in file order
  core::ObjectPool<SceneObject> mirrors;  // mirror objects, in file order
  std::vector<ObjectRef> file_objects;    // all objects in file order (parent indices refer to it)
  std::vector<int32_t> order;             // file indices, every parent before its children
  std::vector<SceneLight> lights;
  std::vector<SceneCamera> cameras;
  std::vector<PosRotController> pos_rot_tracks;
  std::vector<FloatController> float_tracks;
  std::vector<std::unique_ptr<ProceduralObject>> procedurals;  // in file order
  render::ShaderManager* shaders = nullptr;  // the manager holding the element references

  // --- playback (script time, seconds) ---
  double start_time = 0.0;   // script time at which the current speed took effect
  double time_offset = 0.0;  // animation seconds accumulated before start_time
  double speed = 1.0;        // animation seconds per script second
  int32_t current_camera = 0;  // taken modulo the camera count

  // --- switches the effect sets ---
  bool vertex_colours = false;
  bool fog = false;
  float fog_start = 0.0f, fog_end = 1.0f;
  uint32_t fog_colour = 0;
  bool flip_x = false, flip_y = false;
  bool shadows = false;
  float viewport_x = 0.0f, viewport_y = 0.0f, viewport_w = 640.0f, viewport_h = 480.0f;
  // Camera shake along the camera's right, up and forward axes, fading out
  // over noise_duration from the script time noise_start.
  float noise_x = 0.0f, noise_y = 0.0f, noise_z = 0.0f;
  double noise_start = 0.0, noise_duration = 0.0;

  // --- results of Evaluate ---
  double evaluated_time = 0.0;  // the animation time evaluated
  View view;                    // the current camera's view (pose after rx(π/2) and shake, fov, viewport, flips)
  int32_t evaluated_camera = -1;  // the camera index used, -1 without cameras
  uint32_t reported = 0;          // problems already traced (each once, never per frame)

  // --- operations ---
  // Releases every shader reference, device buffer and procedural object
  // and resets every field to its default.
  void Clear();
  // start_time = t. A non-finite t leaves the previous value (as for the
  // offset and the speed).
  void SetStartTime(double t);
  void SetTimeOffset(double x);
  // Continues without a jump: the offset takes the time run so far at the
  // old speed, start_time = now, then the new speed.
  void SetSpeed(double s, double now);
  // offset 0, speed 1, camera 0, switches off, noise cleared, particle
  // systems reset.
  void ResetPlayback();
  // time_offset + (now - start_time) × speed.
  double AnimationTime(double now) const;
  // The last camera whose name equals `name` (case ignored) becomes
  // current; true when one matched (else the current camera stays).
  bool SelectCamera(std::string_view name);
  // current_camera modulo the camera count (-1 without cameras).
  int32_t CurrentCameraIndex() const;
  // The "NOISE" command at script time `now`.
  void SetNoise(float x, float y, float z, double duration, double now);

  // Computes every result from the state and `now` only (the same state and
  // `now` give the same bits, whatever was evaluated before).
  void Evaluate(double now);

  // The object at a file index (nullptr when out of range).
  SceneObject* ObjectAt(int32_t file_index);
  const SceneObject* ObjectAt(int32_t file_index) const;
  // The first object of that name (upper case), or nullptr.
  SceneObject* FindObject(std::string_view name);
};

// --- loading -------------------------------------------------------------------

struct LoadOptions {
  // Where element shaders come from; nullptr loads geometry only (every
  // material -1, no object a mirror).
  render::ShaderManager* shaders = nullptr;
  // The manager must outlive the scene (or the scene be cleared first):
  // Clear gives the references back to it.
  // Make device buffers for meshes of 8,192 vertex bytes or more (needs the
  // render layer; a failure fails the load). False: arrays only.
  bool device_buffers = true;
};

// Builds a scene from `file` and, on success only, moves it into *scene
// (whose previous content is cleared then); on failure *scene keeps what it
// had and everything the build took is released. A file without a camera
// is refused ("Scene doesnt have a camera!!!"). 0 or -1 (with a message).
int LoadSceneBinary(Scene* scene, const SceneFile& file, const LoadOptions& options);
// LoadSceneData (the cache road) then LoadSceneBinary.
int LoadScene(Scene* scene, const char* argument, const LoadOptions& options);

}  // namespace scene
