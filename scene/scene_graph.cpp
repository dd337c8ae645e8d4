// The scene graph: state, playback operations, evaluation and loading.
//
// Evaluation is a pure function of the state and the time handed in: node
// values are never overwritten (the world position has a field of its
// own), the shake's random numbers are a hash of the time, and its fade is
// computed, never stored. So a frame does not depend on earlier frames,
// and a script replayed every frame, played backwards or rendered offline
// gives the same pictures.
//
// Loading builds a fresh Scene and moves it in only on success: a failed
// reload keeps the scene that played, and the failed build's destructor
// gives back every shader reference and buffer it took.
#include <cmath>
#include <cstring>
#include <set>
#include <unordered_map>

#include "scene/scene_internal.h"

namespace scene {
namespace {

ProceduralFactory& Factory() {
  static ProceduralFactory factory;
  return factory;
}

// A uniform number in [0, 1) from the bits of a time and an axis.
float HashUnit(double time, uint64_t axis) {
  uint64_t bits;
  std::memcpy(&bits, &time, sizeof bits);
  uint64_t z = bits ^ (axis * 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return static_cast<float>(z >> 40) * (1.0f / 16777216.0f);
}

// Scene::reported bits.
constexpr uint32_t kReportedFov = 1, kReportedNear = 2;

Vec3 Row(const Mat3& m, int row) { return {m.m[row][0], m.m[row][1], m.m[row][2]}; }

}  // namespace

// ---------------------------------------------------------------------------
// Life
// ---------------------------------------------------------------------------

Scene::~Scene() { Clear(); }

Scene::Scene(Scene&& other) noexcept { *this = std::move(other); }

Scene& Scene::operator=(Scene&& o) noexcept {
  if (this == &o) return *this;
  Clear();
  objects = std::move(o.objects);
  mirrors = std::move(o.mirrors);
  file_objects = std::move(o.file_objects);
  order = std::move(o.order);
  lights = std::move(o.lights);
  cameras = std::move(o.cameras);
  pos_rot_tracks = std::move(o.pos_rot_tracks);
  float_tracks = std::move(o.float_tracks);
  procedurals = std::move(o.procedurals);
  shaders = std::exchange(o.shaders, nullptr);
  start_time = o.start_time;
  time_offset = o.time_offset;
  speed = o.speed;
  current_camera = o.current_camera;
  vertex_colours = o.vertex_colours;
  fog = o.fog;
  fog_start = o.fog_start;
  fog_end = o.fog_end;
  fog_colour = o.fog_colour;
  flip_x = o.flip_x;
  flip_y = o.flip_y;
  shadows = o.shadows;
  viewport_x = o.viewport_x;
  viewport_y = o.viewport_y;
  viewport_w = o.viewport_w;
  viewport_h = o.viewport_h;
  noise_x = o.noise_x;
  noise_y = o.noise_y;
  noise_z = o.noise_z;
  noise_start = o.noise_start;
  noise_duration = o.noise_duration;
  evaluated_time = o.evaluated_time;
  view = o.view;
  evaluated_camera = o.evaluated_camera;
  reported = o.reported;
  o.Clear();
  return *this;
}

void Scene::Clear() {
  // Procedural objects first: they may name objects of the scene.
  procedurals.clear();
  for (core::ObjectPool<SceneObject>* pool : {&objects, &mirrors}) {
    for (SceneObject& object : *pool) {
      for (RenderElement& element : object.mesh.elements)
        if (element.material >= 0 && shaders) shaders->ReleaseShader(element.material);
      if (object.mesh.vertex_buffer >= 0) render::RemoveVertexBuffer(object.mesh.vertex_buffer);
      if (object.mesh.index_buffer >= 0) render::RemoveIndexBuffer(object.mesh.index_buffer);
    }
    pool->Clear();
  }
  file_objects.clear();
  order.clear();
  lights.clear();
  cameras.clear();
  pos_rot_tracks.clear();
  float_tracks.clear();
  shaders = nullptr;
  start_time = 0.0;
  time_offset = 0.0;
  speed = 1.0;
  current_camera = 0;
  vertex_colours = fog = false;
  fog_start = 0.0f;
  fog_end = 1.0f;
  fog_colour = 0;
  flip_x = flip_y = shadows = false;
  viewport_x = viewport_y = 0.0f;
  viewport_w = 640.0f;
  viewport_h = 480.0f;
  noise_x = noise_y = noise_z = 0.0f;
  noise_start = noise_duration = 0.0;
  evaluated_time = 0.0;
  view = View();
  evaluated_camera = -1;
  reported = 0;
}

// ---------------------------------------------------------------------------
// Operations
// ---------------------------------------------------------------------------

void Scene::ResetPlayback() {
  time_offset = 0.0;
  speed = 1.0;
  current_camera = 0;
  vertex_colours = fog = flip_x = flip_y = shadows = false;
  noise_x = noise_y = noise_z = 0.0f;
  noise_start = noise_duration = 0.0;
  for (auto& procedural : procedurals) procedural->ResetPlayback();
}

bool Scene::SelectCamera(std::string_view name) {
  bool found = false;
  for (size_t i = 0; i < cameras.size(); ++i)
    if (core::AsciiEqualNoCase(cameras[i].name, name)) {
      current_camera = static_cast<int32_t>(i);
      found = true;
    }
  return found;
}

int32_t Scene::CurrentCameraIndex() const {
  const int32_t n = static_cast<int32_t>(cameras.size());
  if (n == 0) return -1;
  int32_t i = current_camera % n;
  return i < 0 ? i + n : i;
}

SceneObject* Scene::ObjectAt(int32_t file_index) {
  if (file_index < 0 || static_cast<size_t>(file_index) >= file_objects.size()) return nullptr;
  const ObjectRef& ref = file_objects[file_index];
  return (ref.mirror ? mirrors : objects).Get(ref.id);
}

const SceneObject* Scene::ObjectAt(int32_t file_index) const {
  return const_cast<Scene*>(this)->ObjectAt(file_index);
}

SceneObject* Scene::FindObject(std::string_view name) {
  for (size_t i = 0; i < file_objects.size(); ++i) {
    SceneObject* object = ObjectAt(static_cast<int32_t>(i));
    if (object && object->name == name) return object;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Evaluation
// ---------------------------------------------------------------------------

void Scene::Evaluate(double now) {
  const double a = AnimationTime(now);
  evaluated_time = a;

  // Objects, parents first. Tracks of one rate and length (a file has one
  // frame rate) share their loop position: it is computed once.
  float loop_rate = 0.0f;
  size_t loop_samples = 0, loop_index = 0;
  float loop_fraction = 0.0f;
  for (int32_t index : order) {
    SceneObject* object = ObjectAt(index);
    if (!object) continue;
    Vec3 position = object->position;
    Quat rotation = object->rotation;
    if (object->controllable.track >= 0) {
      const PosRotController& track = pos_rot_tracks[object->controllable.track];
      const size_t n = track.samples.size();
      if (n >= 2) {
        if (n != loop_samples || track.rate != loop_rate) {
          loop_samples = n;
          loop_rate = track.rate;
          internal::LoopPosition(a * static_cast<double>(track.rate), n - 1, &loop_index, &loop_fraction);
        }
        internal::SampleAt(track, loop_index, loop_fraction, &position, &rotation);
      } else {
        track.Sample(a, &position, &rotation);
      }
    }
    object->local_position = position;
    object->local_rotation = rotation;
    const Matrix local = WorldMatrix(rotation, position);
    const SceneObject* parent = ObjectAt(object->parent);
    object->world = parent ? scene::Multiply(local, parent->world) : local;
    object->world_position = {object->world.m[3][0], object->world.m[3][1], object->world.m[3][2]};
  }

  // The current camera.
  evaluated_camera = CurrentCameraIndex();
  if (evaluated_camera >= 0) {
    const SceneCamera& camera = cameras[evaluated_camera];
    Vec3 position = camera.position;
    Quat rotation = camera.rotation;
    if (camera.controllable.track >= 0) pos_rot_tracks[camera.controllable.track].Sample(a, &position, &rotation);
    rotation = TurnQuarterX(rotation);
    if (noise_x != 0.0f || noise_y != 0.0f || noise_z != 0.0f) {
      double fade = 1.0;
      if (noise_duration > 0.0) {
        double d = (now - noise_start) / noise_duration;
        if (!(d >= 0.0)) d = 0.0;
        if (d > 1.0) d = 1.0;
        fade = 1.0 - d;
      }
      const float s = static_cast<float>(fade);
      if (s > 0.0f) {
        const Mat3 m = Mat3FromQuat(rotation);
        const float r1 = HashUnit(now, 1), r2 = HashUnit(now, 2), r3 = HashUnit(now, 3);
        Vec3 offset = Scale(Row(m, 2), (2.0f * r1 - 1.0f) * noise_z * s);
        offset = Add(offset, Scale(Row(m, 1), (2.0f * r2 - 1.0f) * noise_y * s));
        offset = Add(offset, Scale(Row(m, 0), (2.0f * r3 - 1.0f) * noise_x * s));
        position = Add(position, offset);
      }
    }
    float fov = camera.fov;
    if (camera.fov_track >= 0) float_tracks[camera.fov_track].Sample(a, &fov);
    view.SetFlip(flip_x, flip_y);
    view.SetCamera(position, rotation, fov, 0.75f, camera.near_plane, camera.far_plane);
    if (view.Fov() != fov && !(reported & kReportedFov)) {
      reported |= kReportedFov;
      core::Trace("Scene: camera %s: field of view %g clamped to %g\n", camera.name.c_str(), fov, view.Fov());
    }
    if (view.NearPlane() != camera.near_plane && !(reported & kReportedNear)) {
      reported |= kReportedNear;
      core::Trace("Scene: camera %s: near plane %g clamped to %g\n", camera.name.c_str(), camera.near_plane,
                  view.NearPlane());
    }
  } else {
    view.SetFlip(flip_x, flip_y);
  }
  view.SetViewport(viewport_x, viewport_y, viewport_w, viewport_h);

  // Lights.
  for (size_t i = 0; i < lights.size(); ++i) {
    SceneLight& light = lights[i];
    light.evaluated = light.light;
    light.on_device = i < render::kMaxLights;
    Vec3 position;
    Quat rotation;
    if (light.controllable.track >= 0 && pos_rot_tracks[light.controllable.track].Sample(a, &position, &rotation)) {
      light.evaluated.position = position;
      if (light.light.type == render::LIGHT_DIRECTIONAL)
        light.evaluated.direction = Row(Mat3FromQuat(TurnQuarterX(rotation)), 2);
    }
  }

  // Skins, from the bones' world matrices just computed.
  for (int32_t index : order) {
    SceneObject* object = ObjectAt(index);
    if (!object) continue;
    for (RenderElement& element : object->mesh.elements) {
      if (!element.skinned || !element.drawable) continue;
      for (size_t b = 0; b < element.skin.bones.size(); ++b)
        element.skin.bone_worlds[b] = ObjectAt(element.skin.bones[b])->world;
      internal::SkinElement(object->mesh.indices.data() + element.first_index, &element);
    }
  }
}

// ---------------------------------------------------------------------------
// Loading
// ---------------------------------------------------------------------------

uint32_t ProceduralKindsOf(std::string_view name) {
  static const struct {
    const char* prefix;
    uint32_t kind;
  } kKinds[] = {{"PARTICLE", PROCEDURAL_PARTICLE},     {"SPHERICAL", PROCEDURAL_SPHERICAL},
                {"BOLASYNC", PROCEDURAL_BOLASYNC},     {"METABALL", PROCEDURAL_METABALL},
                {"DISTORTBALL", PROCEDURAL_DISTORTBALL}, {"SPIKETUBE", PROCEDURAL_SPIKETUBE},
                {"TRAUMA", PROCEDURAL_TRAUMA}};
  uint32_t kinds = 0;
  for (const auto& k : kKinds)
    if (name.size() >= std::strlen(k.prefix) && core::AsciiEqualNoCase(name.substr(0, std::strlen(k.prefix)), k.prefix))
      kinds |= k.kind;
  return kinds;
}

void SetProceduralFactory(ProceduralFactory factory) { Factory() = std::move(factory); }

namespace {

// Owners and track indices in range (a SceneFile may be made in code).
bool FileConsistent(const SceneFile& file) {
  if (!internal::ParentsValid(file.meshes)) return false;
  auto owners_valid = [&](const std::vector<TrackOwner>& owners, size_t tracks) {
    if (owners.size() != tracks) return false;
    for (const TrackOwner& o : owners) {
      size_t limit = o.kind == OWNER_MESH    ? file.meshes.size()
                     : o.kind == OWNER_LIGHT ? file.lights.size()
                     : o.kind == OWNER_CAMERA ? file.cameras.size()
                                              : 0;
      if (o.kind > OWNER_CAMERA || o.index < -1 || (o.index >= 0 && static_cast<size_t>(o.index) >= limit))
        return false;
    }
    return true;
  };
  return owners_valid(file.pos_rot_owners, file.pos_rot_tracks.size()) &&
         owners_valid(file.float_owners, file.float_tracks.size());
}

class Builder {
 public:
  Builder(Scene* scene, const SceneFile& file, const LoadOptions& options)
      : scene_(scene), file_(file), options_(options) {}

  int Build() {
    if (file_.cameras.empty()) {
      core::ShowError("Scene doesnt have a camera!!!");
      return -1;
    }
    if (!FileConsistent(file_)) {
      core::ShowError("Scene: the scene data are inconsistent (parents or track owners)");
      return -1;
    }
    scene_->shaders = options_.shaders;
    for (size_t i = 0; i < file_.meshes.size(); ++i)
      if (AddObject(static_cast<int32_t>(i)) != 0) return -1;
    LinkParents();
    AddLightsCamerasTracks();
    ResolveSkins();
    return MakeProcedurals();
  }

 private:
  // The element's shader: an existing one of that name, else the file's
  // "MATL" definition, else the manager's fallback (a texture of that
  // name); the NULL shader when that fails, named once in the log.
  render::ShaderHandle ElementShader(const std::string& name) {
    render::ShaderManager* manager = options_.shaders;
    if (name.empty()) return manager->GetShader("NULL");
    render::ShaderHandle handle = -1;
    if (manager->FindShader(name.c_str()) >= 0) {
      handle = manager->GetShader(name.c_str());
    } else if (const MaterialDef* def = file_.FindMaterial(name)) {
      std::string builtin = name;
      for (char& c : builtin)
        if (c == '.' || c == '/' || c == '\\') c = '_';
      const bool textured = def->kind != MATERIAL_COLOUR;
      const bool second = def->kind == MATERIAL_BOTH;
      handle = manager->CreateBuiltinShader(builtin.c_str(), static_cast<int>(def->kind),
                                            textured ? def->texture1.c_str() : nullptr,
                                            second ? def->texture2.c_str() : nullptr, def->colour);
    } else {
      handle = manager->GetShader(name.c_str());
    }
    if (handle >= 0) return handle;
    if (reported_.insert(name).second)
      core::RaiseRuntimeMessage("Scene: material %s could not be made (a texture missing?); drawn untextured",
                                core::PrintableText(name, 127).c_str());
    return manager->GetShader("NULL");
  }

  int MakeBuffers(Mesh* mesh) {
    const size_t vertex_size = mesh->vertices.size() * sizeof(render::RenderVertex);
    const size_t index_size = mesh->indices.size() * sizeof(uint16_t);
    if (vertex_size > UINT32_MAX || index_size > UINT32_MAX) return -1;
    const uint32_t vertex_bytes = static_cast<uint32_t>(vertex_size), index_bytes = static_cast<uint32_t>(index_size);
    if (vertex_bytes < kDeviceBufferMinBytes) return 0;
    void* data = nullptr;
    mesh->vertex_buffer = render::AddVertexBuffer(vertex_bytes, 0, render::kFvfRenderVertex, render::POOL_MANAGED);
    auto vb = render::GetVertexBufferById(mesh->vertex_buffer);
    if (!vb || vb->Lock(0, 0, &data, 0) != 0 || !data) return -1;
    std::memcpy(data, mesh->vertices.data(), vertex_bytes);
    if (vb->Unlock() != 0) return -1;
    if (index_bytes == 0) return 0;
    mesh->index_buffer = render::AddIndexBuffer(index_bytes, 0, render::FMT_INDEX16, render::POOL_MANAGED);
    auto ib = render::GetIndexBufferById(mesh->index_buffer);
    data = nullptr;
    if (!ib || ib->Lock(0, 0, &data, 0) != 0 || !data) return -1;
    std::memcpy(data, mesh->indices.data(), index_bytes);
    return ib->Unlock() != 0 ? -1 : 0;
  }

  int AddObject(int32_t index) {
    const SceneMesh& source = file_.meshes[index];
    SceneObject object;
    object.name = core::AsciiToUpper(source.name);
    object.file_index = index;
    object.mesh.name = object.name;
    object.position = source.position;
    object.rotation = source.rotation;
    object.pivot_position = source.pivot_position;
    object.pivot_rotation = source.pivot_rotation;
    object.parent = source.parent;
    object.local_position = source.position;
    object.local_rotation = source.rotation;
    object.placeholder = !object.name.empty() && object.name[0] == '@';
    if (BuildRenderData(source.elements, &object.mesh) != 0) {
      core::ShowError("Scene: mesh %s cannot be drawn with 16-bit indices", core::PrintableText(object.name).c_str());
      return -1;
    }
    render::ShaderManager* manager = options_.shaders;
    bool mirror = false;
    for (RenderElement& element : object.mesh.elements) {
      if (!manager) continue;
      element.material = ElementShader(element.material_name);
      const render::Shader* shader = manager->GetShaderByHandle(element.material);
      if (shader && shader->mirror) mirror = true;
    }
    object.is_mirror = mirror;
    object.visible = !mirror && (object.name.empty() || object.name[0] != '*');
    core::ObjectPool<SceneObject>& pool = mirror ? scene_->mirrors : scene_->objects;
    std::vector<render::ShaderHandle> taken;
    for (const RenderElement& element : object.mesh.elements)
      if (element.material >= 0) taken.push_back(element.material);
    const int id = pool.Add(std::move(object));
    if (id < 0) {
      // Not stored: give back what the elements took.
      for (render::ShaderHandle handle : taken) manager->ReleaseShader(handle);
      return -1;
    }
    scene_->file_objects.push_back({mirror, id});
    SceneObject* stored = pool.Get(id);
    if (options_.device_buffers && MakeBuffers(&stored->mesh) != 0) {
      core::ShowError("Scene: the device buffers of mesh %s could not be made",
                      core::PrintableText(stored->name).c_str());
      return -1;
    }
    return 0;
  }

  void LinkParents() {
    const int32_t n = static_cast<int32_t>(scene_->file_objects.size());
    std::vector<int32_t> roots;
    for (int32_t i = 0; i < n; ++i) {
      SceneObject* object = scene_->ObjectAt(i);
      if (object->parent >= 0)
        scene_->ObjectAt(object->parent)->children.push_back(i);
      else
        roots.push_back(i);
    }
    // Pre-order, roots and children in file order, without recursion.
    scene_->order.reserve(n);
    std::vector<int32_t> stack(roots.rbegin(), roots.rend());
    while (!stack.empty()) {
      const int32_t i = stack.back();
      stack.pop_back();
      scene_->order.push_back(i);
      const std::vector<int32_t>& children = scene_->ObjectAt(i)->children;
      stack.insert(stack.end(), children.rbegin(), children.rend());
    }
  }

  void AddLightsCamerasTracks() {
    for (const render::Light& light : file_.lights) {
      SceneLight l;
      l.light = l.evaluated = light;
      scene_->lights.push_back(l);
    }
    for (const CameraRecord& record : file_.cameras) {
      SceneCamera c;
      c.position = record.position;
      c.rotation = record.rotation;
      c.fov = record.fov;
      c.near_plane = record.near_plane;
      c.far_plane = record.far_plane;
      c.name = record.name;
      scene_->cameras.push_back(std::move(c));
    }
    for (size_t t = 0; t < file_.pos_rot_tracks.size(); ++t) {
      PosRotController track;
      track.rate = file_.pos_rot_tracks[t].rate;
      track.samples = file_.pos_rot_tracks[t].samples;
      // Neighbouring rotations in one hemisphere, so slerp takes the short way.
      for (size_t i = 1; i < track.samples.size(); ++i)
        if (QuatDot(track.samples[i - 1].rotation, track.samples[i].rotation) < 0.0f)
          track.samples[i].rotation = QuatNegate(track.samples[i].rotation);
      scene_->pos_rot_tracks.push_back(std::move(track));
      const TrackOwner& owner = file_.pos_rot_owners[t];
      if (owner.index < 0) continue;
      const int32_t id = static_cast<int32_t>(t);
      if (owner.kind == OWNER_MESH)
        scene_->ObjectAt(owner.index)->controllable.track = id;
      else if (owner.kind == OWNER_LIGHT)
        scene_->lights[owner.index].controllable.track = id;
      else
        scene_->cameras[owner.index].controllable.track = id;
    }
    for (size_t t = 0; t < file_.float_tracks.size(); ++t) {
      scene_->float_tracks.push_back({file_.float_tracks[t].rate, file_.float_tracks[t].values});
      const TrackOwner& owner = file_.float_owners[t];
      if (owner.kind == OWNER_CAMERA && owner.index >= 0)
        scene_->cameras[owner.index].fov_track = static_cast<int32_t>(t);
    }
  }

  // Each "MAXID" names the object of that text ID; an element whose bones
  // do not all resolve stays undrawn.
  void ResolveSkins() {
    std::unordered_map<int32_t, int32_t> by_id;
    const bool have_ids = file_.has_mesh_ids && file_.mesh_ids.size() == file_.meshes.size();
    if (have_ids)
      for (size_t i = 0; i < file_.mesh_ids.size(); ++i) by_id.try_emplace(file_.mesh_ids[i], static_cast<int32_t>(i));
    for (size_t i = 0; i < scene_->file_objects.size(); ++i) {
      SceneObject* object = scene_->ObjectAt(static_cast<int32_t>(i));
      for (RenderElement& element : object->mesh.elements) {
        if (!element.skinned) continue;
        if (!have_ids) {
          core::Trace("Scene: mesh %s is skinned but the file has no mesh IDs; the element is not drawn\n",
                      object->name.c_str());
          continue;
        }
        ElementSkin& skin = element.skin;
        std::unordered_map<int32_t, uint32_t> slots;
        bool resolved = true;
        for (BoneInfluence& influence : skin.influences) {
          auto bone = by_id.find(influence.bone_id);
          if (bone == by_id.end()) {
            core::Trace("Scene: mesh %s: bone ID %d names no object; the element is not drawn\n",
                        object->name.c_str(), influence.bone_id);
            resolved = false;
            break;
          }
          auto [slot, added] = slots.try_emplace(bone->second, static_cast<uint32_t>(skin.bones.size()));
          if (added) skin.bones.push_back(bone->second);
          influence.slot = slot->second;
        }
        if (!resolved) {
          skin.bones.clear();
          continue;
        }
        skin.bone_worlds.assign(skin.bones.size(), Matrix::Identity());
        element.drawable = true;
      }
    }
  }

  int MakeProcedurals() {
    const ProceduralFactory& factory = Factory();
    if (!factory) return 0;
    for (size_t i = 0; i < scene_->file_objects.size(); ++i) {
      const SceneObject* object = scene_->ObjectAt(static_cast<int32_t>(i));
      if (!object->placeholder) continue;
      const uint32_t kinds = ProceduralKindsOf(std::string_view(object->name).substr(1));
      if (kinds != 0 && factory(scene_, static_cast<int32_t>(i), kinds) != 0) return -1;
    }
    return 0;
  }

  Scene* scene_;
  const SceneFile& file_;
  const LoadOptions& options_;
  std::set<std::string> reported_;
};

}  // namespace

int LoadSceneBinary(Scene* scene, const SceneFile& file, const LoadOptions& options) {
  Scene fresh;
  if (Builder(&fresh, file, options).Build() != 0) return -1;  // fresh gives back what it took
  *scene = std::move(fresh);
  return 0;
}

int LoadScene(Scene* scene, const char* argument, const LoadOptions& options) {
  SceneFile file;
  if (LoadSceneData(argument, &file) != 0) return -1;
  return LoadSceneBinary(scene, file, options);
}

}  // namespace scene
