// The binary scene format with the "HVX1" extension: explicit
// little-endian fields on a byte buffer (f32 by bit pattern), never a
// struct copy. The reader decodes with a bounded cursor: every count is
// checked against the bytes left before anything is allocated, every index
// and link against its range, and any non-finite float refuses the file.
#include <bit>
#include <cmath>
#include <cstring>

#include "scene/scene.h"
#include "scene/scene_internal.h"

namespace scene {

const MaterialDef* SceneFile::FindMaterial(const std::string& name) const {
  for (const MaterialDef& m : materials)
    if (m.name == name) return &m;
  return nullptr;
}

namespace {

constexpr uint32_t Tag(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<unsigned char>(a)) |
         static_cast<uint32_t>(static_cast<unsigned char>(b)) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(c)) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(d)) << 24;
}
constexpr uint32_t kTagMaterials = Tag('M', 'A', 'T', 'L');
constexpr uint32_t kTagMeshIds = Tag('M', 'I', 'D', 'S');
constexpr uint32_t kTagSource = Tag('S', 'R', 'C', ' ');

constexpr float kInv65535 = 1.5259022e-05f;
constexpr float kInv127_5 = 0.007843138f;

// Smallest encodings, for count checks before allocation.
constexpr size_t kMinMeshBytes = 4 + 4 + 14 * 4 + 4;
constexpr size_t kMinElementBytes = 4 + 4 + 24 + 16 + 1 + 4;
constexpr size_t kVertexBytes = 6 + 3 + 4 + 4;
constexpr size_t kCameraBytes = 10 * 4 + 256;
constexpr size_t kTrackAndOwnerBytes = 8 + 8;
constexpr size_t kInfluenceBytes = 20;
constexpr size_t kMinMaterialBytes = 5 * 4;

// --- writer --------------------------------------------------------------------

class ByteWriter {
 public:
  explicit ByteWriter(std::string* out) : out_(out) {}
  void U8(uint8_t v) { out_->push_back(static_cast<char>(v)); }
  void U16(uint16_t v) {
    char b[2] = {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
    out_->append(b, 2);
  }
  void U32(uint32_t v) {
    char b[4] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                 static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)};
    out_->append(b, 4);
  }
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void U64(uint64_t v) {
    U32(static_cast<uint32_t>(v & 0xFFFFFFFFu));
    U32(static_cast<uint32_t>(v >> 32));
  }
  void I64(int64_t v) { U64(static_cast<uint64_t>(v)); }
  void F32(float v) {
    if (!std::isfinite(v)) finite_ = false;
    U32(std::bit_cast<uint32_t>(v));
  }
  void Vec(const Vec3& v) {
    F32(v.x);
    F32(v.y);
    F32(v.z);
  }
  void Rotation(const Quat& q) {
    F32(q.w);
    F32(q.x);
    F32(q.y);
    F32(q.z);
  }
  void Colour(const render::ColorValue& c) {
    F32(c.r);
    F32(c.g);
    F32(c.b);
    F32(c.a);
  }
  void Bytes(std::string_view s) { out_->append(s.data(), s.size()); }
  // u32 length + bytes.
  void Text(std::string_view s) {
    U32(static_cast<uint32_t>(s.size()));
    Bytes(s);
  }
  bool finite() const { return finite_; }
  size_t size() const { return out_->size(); }
  std::string* buffer() { return out_; }

 private:
  std::string* out_;
  bool finite_ = true;
};

// trunc((value - min) / extent × scale), 0 for a zero extent, kept in range.
inline uint32_t Quantise(float value, float min, float extent, float scale, uint32_t top) {
  if (!(extent > 0.0f)) return 0;
  float q = (value - min) / extent * scale;
  if (!(q > 0.0f)) return 0;
  if (q >= static_cast<float>(top)) return top;
  return static_cast<uint32_t>(q);
}

inline uint8_t QuantiseNormal(float n) {
  float q = (n + 1.0f) * 127.5f;
  if (!(q > 0.0f)) return 0;
  if (q >= 255.0f) return 255;
  return static_cast<uint8_t>(q);
}

int WriteElement(ByteWriter& w, const SceneMesh& mesh, const MeshElement& e) {
  const size_t v_count = e.vertices.size();
  const size_t i_count = e.indices.size();
  if (v_count > kMaxElementVertices) {
    core::ShowError("Malla %s tiene demasiados vertices", mesh.name.c_str());
    return -1;
  }
  if (i_count > kMaxElementIndices) {
    core::ShowError("Malla %s tiene demasiadas caras (%i)", mesh.name.c_str(), static_cast<int>(i_count / 3));
    return -1;
  }
  if (i_count % 3 != 0) return -1;
  for (uint32_t index : e.indices)
    if (index >= v_count) return -1;
  if (e.HasSkin() && e.skin.size() != v_count) return -1;

  w.U32(static_cast<uint32_t>(v_count));
  w.U32(static_cast<uint32_t>(i_count));
  Vec3 lo{0.0f, 0.0f, 0.0f}, hi{0.0f, 0.0f, 0.0f};
  float ulo[2] = {0.0f, 0.0f}, uhi[2] = {0.0f, 0.0f};
  if (v_count > 0) {
    lo = hi = e.vertices[0].position;
    ulo[0] = uhi[0] = e.vertices[0].u;
    ulo[1] = uhi[1] = e.vertices[0].v;
    for (const MeshVertex& v : e.vertices) {
      lo = {std::fmin(lo.x, v.position.x), std::fmin(lo.y, v.position.y), std::fmin(lo.z, v.position.z)};
      hi = {std::fmax(hi.x, v.position.x), std::fmax(hi.y, v.position.y), std::fmax(hi.z, v.position.z)};
      ulo[0] = std::fmin(ulo[0], v.u);
      uhi[0] = std::fmax(uhi[0], v.u);
      ulo[1] = std::fmin(ulo[1], v.v);
      uhi[1] = std::fmax(uhi[1], v.v);
    }
  }
  w.Vec(lo);
  w.Vec(hi);
  const Vec3 extent = Sub(hi, lo);
  const float uext[2] = {uhi[0] - ulo[0], uhi[1] - ulo[1]};
  if (!std::isfinite(extent.x) || !std::isfinite(extent.y) || !std::isfinite(extent.z) ||
      !std::isfinite(uext[0]) || !std::isfinite(uext[1]))
    return -1;
  for (const MeshVertex& v : e.vertices) {
    w.U16(static_cast<uint16_t>(Quantise(v.position.x, lo.x, extent.x, 65535.0f, 65535)));
    w.U16(static_cast<uint16_t>(Quantise(v.position.y, lo.y, extent.y, 65535.0f, 65535)));
    w.U16(static_cast<uint16_t>(Quantise(v.position.z, lo.z, extent.z, 65535.0f, 65535)));
  }
  for (const MeshVertex& v : e.vertices) {
    w.U8(QuantiseNormal(v.normal.x));
    w.U8(QuantiseNormal(v.normal.y));
    w.U8(QuantiseNormal(v.normal.z));
  }
  for (const MeshVertex& v : e.vertices) w.U32(v.colour);
  w.F32(ulo[0]);
  w.F32(ulo[1]);
  w.F32(uhi[0]);
  w.F32(uhi[1]);
  for (const MeshVertex& v : e.vertices) {
    w.U16(static_cast<uint16_t>(Quantise(v.u, ulo[0], uext[0], 65535.0f, 65535)));
    w.U16(static_cast<uint16_t>(Quantise(v.v, ulo[1], uext[1], 65535.0f, 65535)));
  }
  bool has_skin = false;
  for (const auto& list : e.skin)
    if (!list.empty()) has_skin = true;
  w.U8(has_skin ? 1 : 0);
  if (has_skin) {
    for (const auto& list : e.skin) {
      w.U32(static_cast<uint32_t>(list.size()));
      for (const SkinInfluence& inf : list) {
        w.I32(inf.bone_id);
        w.Vec(inf.offset);
        w.F32(inf.weight);
      }
    }
  }
  w.Text(e.material);
  if (v_count >= 256) {
    for (uint32_t index : e.indices) w.U16(static_cast<uint16_t>(index));
  } else {
    for (uint32_t index : e.indices) w.U8(static_cast<uint8_t>(index));
  }
  return 0;
}

void WriteLight(ByteWriter& w, const render::Light& l) {
  w.U32(static_cast<uint32_t>(l.type));
  w.Colour(l.diffuse);
  w.Colour(l.specular);
  w.Colour(l.ambient);
  w.Vec(l.position);
  w.Vec(l.direction);
  w.F32(l.range);
  w.F32(l.falloff);
  w.F32(l.attenuation0);
  w.F32(l.attenuation1);
  w.F32(l.attenuation2);
  w.F32(l.theta);
  w.F32(l.phi);
}

void WriteOwner(ByteWriter& w, const TrackOwner& o) {
  w.U32(o.kind);
  w.I32(o.index);
}

}  // namespace

int EncodeSceneBinary(const SceneFile& scene, std::string* bytes) {
  bytes->clear();
  if (scene.pos_rot_owners.size() != scene.pos_rot_tracks.size() ||
      scene.float_owners.size() != scene.float_tracks.size() ||
      (scene.has_mesh_ids && scene.mesh_ids.size() != scene.meshes.size()))
    return -1;
  ByteWriter w(bytes);
  w.U32(kSceneVersion);
  w.U32(static_cast<uint32_t>(scene.meshes.size()));
  for (const SceneMesh& mesh : scene.meshes) {
    w.Text(mesh.name);
    w.U32(static_cast<uint32_t>(mesh.elements.size()));
    for (const MeshElement& e : mesh.elements)
      if (WriteElement(w, mesh, e) != 0) {
        bytes->clear();
        return -1;
      }
    w.Vec(mesh.position);
    w.Rotation(mesh.rotation);
    w.Vec(mesh.pivot_position);
    w.Rotation(mesh.pivot_rotation);
    w.I32(mesh.parent);
  }
  w.U32(static_cast<uint32_t>(scene.lights.size()));
  for (const render::Light& l : scene.lights) WriteLight(w, l);
  w.U32(static_cast<uint32_t>(scene.cameras.size()));
  for (const CameraRecord& c : scene.cameras) {
    w.Vec(c.position);
    w.Rotation(c.rotation);
    w.F32(c.fov);
    w.F32(c.near_plane);
    w.F32(c.far_plane);
    char name[256] = {};
    std::memcpy(name, c.name.data(), std::min(c.name.size(), kMaxCameraName));
    w.Bytes(std::string_view(name, sizeof name));
  }
  w.U32(static_cast<uint32_t>(scene.pos_rot_tracks.size()));
  for (const PosRotTrack& t : scene.pos_rot_tracks) {
    w.U32(static_cast<uint32_t>(t.samples.size()));
    w.F32(t.rate);
    for (const PosRotSample& s : t.samples) {
      w.Vec(s.position);
      w.Rotation(s.rotation);
    }
  }
  for (const TrackOwner& o : scene.pos_rot_owners) WriteOwner(w, o);
  w.U32(static_cast<uint32_t>(scene.float_tracks.size()));
  for (const FloatTrack& t : scene.float_tracks) {
    w.U32(static_cast<uint32_t>(t.values.size()));
    w.U32(t.rate);
    for (float v : t.values) w.F32(v);
  }
  for (const TrackOwner& o : scene.float_owners) WriteOwner(w, o);

  // Extension block.
  uint32_t sections = (scene.has_materials ? 1 : 0) + (scene.has_mesh_ids ? 1 : 0) + (scene.has_source ? 1 : 0);
  if (sections > 0) {
    w.U32(kExtensionMagic);
    w.U32(sections);
    if (scene.has_materials) {
      w.U32(kTagMaterials);
      size_t length_at = w.size();
      w.U32(0);
      w.U32(static_cast<uint32_t>(scene.materials.size()));
      for (const MaterialDef& m : scene.materials) {
        w.Text(m.name);
        w.U32(m.kind);
        w.Text(m.texture1);
        w.Text(m.texture2);
        w.U32(m.colour);
      }
      uint32_t length = static_cast<uint32_t>(w.size() - length_at - 4);
      for (int i = 0; i < 4; ++i) (*w.buffer())[length_at + i] = static_cast<char>((length >> (8 * i)) & 0xFF);
    }
    if (scene.has_mesh_ids) {
      w.U32(kTagMeshIds);
      w.U32(static_cast<uint32_t>(scene.mesh_ids.size() * 4));
      for (int32_t id : scene.mesh_ids) w.I32(id);
    }
    if (scene.has_source) {
      w.U32(kTagSource);
      w.U32(16);
      w.U64(scene.source.size);
      w.I64(scene.source.mtime_ns);
    }
  }
  if (!w.finite()) {
    bytes->clear();
    return -1;
  }
  return 0;
}

// --- reader --------------------------------------------------------------------

namespace {

class ByteReader {
 public:
  ByteReader(const unsigned char* data, size_t size) : p_(data), end_(data + size) {}
  size_t left() const { return static_cast<size_t>(end_ - p_); }
  bool ok() const { return ok_; }
  bool Fail() { return ok_ = false; }
  // True when `count` records of at least `bytes` each can still follow.
  bool Fits(uint64_t count, size_t bytes) {
    if (!ok_ || count > left() / bytes) return Fail();
    return true;
  }
  bool U8(uint8_t* v) {
    if (!ok_ || left() < 1) return Fail();
    *v = *p_++;
    return true;
  }
  bool U16(uint16_t* v) {
    if (!ok_ || left() < 2) return Fail();
    *v = static_cast<uint16_t>(p_[0] | (p_[1] << 8));
    p_ += 2;
    return true;
  }
  bool U32(uint32_t* v) {
    if (!ok_ || left() < 4) return Fail();
    *v = static_cast<uint32_t>(p_[0]) | static_cast<uint32_t>(p_[1]) << 8 | static_cast<uint32_t>(p_[2]) << 16 |
         static_cast<uint32_t>(p_[3]) << 24;
    p_ += 4;
    return true;
  }
  bool I32(int32_t* v) {
    uint32_t u;
    if (!U32(&u)) return false;
    *v = static_cast<int32_t>(u);
    return true;
  }
  bool U64(uint64_t* v) {
    uint32_t lo, hi;
    if (!U32(&lo) || !U32(&hi)) return false;
    *v = static_cast<uint64_t>(hi) << 32 | lo;
    return true;
  }
  bool F32(float* v) {
    uint32_t u;
    if (!U32(&u)) return false;
    *v = std::bit_cast<float>(u);
    if (!std::isfinite(*v)) return Fail();
    return true;
  }
  bool Vec(Vec3* v) { return F32(&v->x) && F32(&v->y) && F32(&v->z); }
  bool Rotation(Quat* q) { return F32(&q->w) && F32(&q->x) && F32(&q->y) && F32(&q->z); }
  bool Colour(render::ColorValue* c) { return F32(&c->r) && F32(&c->g) && F32(&c->b) && F32(&c->a); }
  bool Bytes(size_t n, std::string* out) {
    if (!ok_ || left() < n) return Fail();
    out->assign(reinterpret_cast<const char*>(p_), n);
    p_ += n;
    return true;
  }
  bool Text(std::string* out) {
    uint32_t n;
    return U32(&n) && Bytes(n, out);
  }
  const unsigned char* cursor() const { return p_; }
  void Skip(size_t n) { p_ += n; }

 private:
  const unsigned char* p_;
  const unsigned char* end_;
  bool ok_ = true;
};

bool ReadElement(ByteReader& r, MeshElement* e) {
  uint32_t v_count, i_count;
  if (!r.U32(&v_count) || !r.U32(&i_count)) return false;
  if (i_count % 3 != 0) return r.Fail();
  Vec3 lo, hi;
  if (!r.Vec(&lo) || !r.Vec(&hi)) return false;
  const Vec3 extent = Sub(hi, lo);
  if (!std::isfinite(extent.x) || !std::isfinite(extent.y) || !std::isfinite(extent.z)) return r.Fail();
  if (!r.Fits(v_count, kVertexBytes)) return false;
  e->vertices.resize(v_count);
  for (MeshVertex& v : e->vertices) {
    uint16_t q[3];
    if (!r.U16(&q[0]) || !r.U16(&q[1]) || !r.U16(&q[2])) return false;
    v.position = {lo.x + static_cast<float>(q[0]) * extent.x * kInv65535,
                  lo.y + static_cast<float>(q[1]) * extent.y * kInv65535,
                  lo.z + static_cast<float>(q[2]) * extent.z * kInv65535};
    if (!std::isfinite(v.position.x) || !std::isfinite(v.position.y) || !std::isfinite(v.position.z))
      return r.Fail();
  }
  for (MeshVertex& v : e->vertices) {
    uint8_t b[3];
    if (!r.U8(&b[0]) || !r.U8(&b[1]) || !r.U8(&b[2])) return false;
    Vec3 n{static_cast<float>(b[0]) * kInv127_5 - 1.0f, static_cast<float>(b[1]) * kInv127_5 - 1.0f,
           static_cast<float>(b[2]) * kInv127_5 - 1.0f};
    float length = Length(n);
    v.normal = length > 0.0f ? Vec3{n.x / length, n.y / length, n.z / length} : Vec3{0.0f, 0.0f, 1.0f};
  }
  for (MeshVertex& v : e->vertices)
    if (!r.U32(&v.colour)) return false;
  float ulo[2], uhi[2];
  if (!r.F32(&ulo[0]) || !r.F32(&ulo[1]) || !r.F32(&uhi[0]) || !r.F32(&uhi[1])) return false;
  const float uext[2] = {uhi[0] - ulo[0], uhi[1] - ulo[1]};
  if (!std::isfinite(uext[0]) || !std::isfinite(uext[1])) return r.Fail();
  for (MeshVertex& v : e->vertices) {
    uint16_t q[2];
    if (!r.U16(&q[0]) || !r.U16(&q[1])) return false;
    v.u = ulo[0] + static_cast<float>(q[0]) * uext[0] * kInv65535;
    v.v = ulo[1] + static_cast<float>(q[1]) * uext[1] * kInv65535;
    if (!std::isfinite(v.u) || !std::isfinite(v.v)) return r.Fail();
  }
  uint8_t has_skin;
  if (!r.U8(&has_skin)) return false;
  if (has_skin > 1) return r.Fail();
  if (has_skin == 1) {
    e->skin.resize(v_count);
    for (auto& list : e->skin) {
      uint32_t n;
      if (!r.U32(&n) || !r.Fits(n, kInfluenceBytes)) return false;
      list.resize(n);
      for (SkinInfluence& inf : list)
        if (!r.I32(&inf.bone_id) || !r.Vec(&inf.offset) || !r.F32(&inf.weight)) return false;
    }
  }
  if (!r.Text(&e->material)) return false;
  const size_t index_bytes = v_count >= 256 ? 2 : 1;
  if (!r.Fits(i_count, index_bytes)) return false;
  e->indices.resize(i_count);
  for (uint32_t& index : e->indices) {
    if (index_bytes == 2) {
      uint16_t v;
      if (!r.U16(&v)) return false;
      index = v;
    } else {
      uint8_t v;
      if (!r.U8(&v)) return false;
      index = v;
    }
    if (index >= v_count) return r.Fail();
  }
  return true;
}

bool ReadLight(ByteReader& r, render::Light* l) {
  uint32_t type;
  if (!r.U32(&type)) return false;
  if (type < 1 || type > 3) return r.Fail();
  l->type = static_cast<render::LightType>(type);
  return r.Colour(&l->diffuse) && r.Colour(&l->specular) && r.Colour(&l->ambient) && r.Vec(&l->position) &&
         r.Vec(&l->direction) && r.F32(&l->range) && r.F32(&l->falloff) && r.F32(&l->attenuation0) &&
         r.F32(&l->attenuation1) && r.F32(&l->attenuation2) && r.F32(&l->theta) && r.F32(&l->phi);
}

bool ReadOwner(ByteReader& r, const SceneFile& s, TrackOwner* o) {
  if (!r.U32(&o->kind) || !r.I32(&o->index)) return false;
  size_t limit;
  switch (o->kind) {
    case OWNER_MESH: limit = s.meshes.size(); break;
    case OWNER_LIGHT: limit = s.lights.size(); break;
    case OWNER_CAMERA: limit = s.cameras.size(); break;
    default: return r.Fail();
  }
  if (o->index < -1 || (o->index >= 0 && static_cast<size_t>(o->index) >= limit)) return r.Fail();
  return true;
}

bool ReadExtension(ByteReader& r, SceneFile* s) {
  if (r.left() == 0) return true;  // a file ending after the float owners is complete
  uint32_t magic, sections;
  if (!r.U32(&magic) || magic != kExtensionMagic) return r.Fail();
  if (!r.U32(&sections) || !r.Fits(sections, 8)) return false;
  for (uint32_t i = 0; i < sections; ++i) {
    uint32_t tag, length;
    if (!r.U32(&tag) || !r.U32(&length)) return false;
    if (length > r.left()) return r.Fail();
    ByteReader section(r.cursor(), length);
    r.Skip(length);
    if (tag == kTagMaterials) {
      if (s->has_materials) return r.Fail();
      s->has_materials = true;
      uint32_t count;
      if (!section.U32(&count) || !section.Fits(count, kMinMaterialBytes)) return r.Fail();
      s->materials.resize(count);
      for (MaterialDef& m : s->materials) {
        if (!section.Text(&m.name) || !section.U32(&m.kind) || !section.Text(&m.texture1) ||
            !section.Text(&m.texture2) || !section.U32(&m.colour))
          return r.Fail();
        if (m.kind < MATERIAL_DIFFUSE || m.kind > MATERIAL_COLOUR || m.colour > 0xFFFFFFu) return r.Fail();
      }
    } else if (tag == kTagMeshIds) {
      if (s->has_mesh_ids || length != s->meshes.size() * 4) return r.Fail();
      s->has_mesh_ids = true;
      s->mesh_ids.resize(s->meshes.size());
      for (int32_t& id : s->mesh_ids) section.I32(&id);
    } else if (tag == kTagSource) {
      if (s->has_source || length != 16) return r.Fail();
      s->has_source = true;
      uint64_t mtime = 0;
      section.U64(&s->source.size);
      section.U64(&mtime);
      s->source.mtime_ns = static_cast<int64_t>(mtime);
    } else {
      continue;  // unknown sections are skipped by length
    }
    if (!section.ok() || section.left() != 0) return r.Fail();
  }
  if (r.left() != 0) return r.Fail();
  return true;
}

bool Decode(ByteReader& r, SceneFile* s) {
  uint32_t count;
  if (!r.U32(&count) || !r.Fits(count, kMinMeshBytes)) return false;
  s->meshes.resize(count);
  for (SceneMesh& mesh : s->meshes) {
    uint32_t elements;
    if (!r.Text(&mesh.name) || !r.U32(&elements) || !r.Fits(elements, kMinElementBytes)) return false;
    mesh.elements.resize(elements);
    for (MeshElement& e : mesh.elements)
      if (!ReadElement(r, &e)) return false;
    if (!r.Vec(&mesh.position) || !r.Rotation(&mesh.rotation) || !r.Vec(&mesh.pivot_position) ||
        !r.Rotation(&mesh.pivot_rotation) || !r.I32(&mesh.parent))
      return false;
  }
  if (!internal::ParentsValid(s->meshes)) return r.Fail();

  if (!r.U32(&count) || !r.Fits(count, render::kLightRecordBytes)) return false;
  s->lights.resize(count);
  for (render::Light& l : s->lights)
    if (!ReadLight(r, &l)) return false;

  if (!r.U32(&count) || !r.Fits(count, kCameraBytes)) return false;
  s->cameras.resize(count);
  for (CameraRecord& c : s->cameras) {
    std::string name;
    if (!r.Vec(&c.position) || !r.Rotation(&c.rotation) || !r.F32(&c.fov) || !r.F32(&c.near_plane) ||
        !r.F32(&c.far_plane) || !r.Bytes(256, &name))
      return false;
    // At most 255 bytes, even without a terminator.
    size_t end = name.find('\0');
    c.name = name.substr(0, std::min(end, kMaxCameraName));
  }

  if (!r.U32(&count) || !r.Fits(count, kTrackAndOwnerBytes)) return false;
  s->pos_rot_tracks.resize(count);
  for (PosRotTrack& t : s->pos_rot_tracks) {
    uint32_t n;
    if (!r.U32(&n) || !r.F32(&t.rate) || !r.Fits(n, 28)) return false;
    t.samples.resize(n);
    for (PosRotSample& sample : t.samples)
      if (!r.Vec(&sample.position) || !r.Rotation(&sample.rotation)) return false;
  }
  s->pos_rot_owners.resize(count);
  for (TrackOwner& o : s->pos_rot_owners)
    if (!ReadOwner(r, *s, &o)) return false;

  if (!r.U32(&count) || !r.Fits(count, kTrackAndOwnerBytes)) return false;
  s->float_tracks.resize(count);
  for (FloatTrack& t : s->float_tracks) {
    uint32_t n;
    if (!r.U32(&n) || !r.U32(&t.rate) || !r.Fits(n, 4)) return false;
    t.values.resize(n);
    for (float& v : t.values)
      if (!r.F32(&v)) return false;
  }
  s->float_owners.resize(count);
  for (TrackOwner& o : s->float_owners)
    if (!ReadOwner(r, *s, &o)) return false;

  return ReadExtension(r, s) && r.ok();
}

}  // namespace

DecodeResult DecodeSceneBinary(std::string_view bytes, SceneFile* out) {
  *out = SceneFile();
  ByteReader r(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  uint32_t version;
  if (!r.U32(&version)) return DecodeResult::kDamaged;
  if (version != kSceneVersion) return DecodeResult::kOldVersion;
  if (!Decode(r, out)) {
    *out = SceneFile();
    return DecodeResult::kDamaged;
  }
  return DecodeResult::kOk;
}

bool ReadSceneFileBytes(const char* path, std::string* bytes) {
  bytes->clear();
  core::FilePtr file(core::OpenDataFile(path, "rb"));
  if (!file) return false;
  if (file->Seek(0, SEEK_END) != 0) return false;
  long size = file->Tell();
  if (size < 0 || static_cast<uint64_t>(size) > kMaxSceneFileBytes || file->Seek(0, SEEK_SET) != 0) return false;
  bytes->resize(static_cast<size_t>(size));
  if (size > 0 && file->Read(bytes->data(), 1, bytes->size()) != bytes->size()) {
    bytes->clear();
    return false;
  }
  char extra;
  if (file->Read(&extra, 1, 1) != 0) {  // grew while read
    bytes->clear();
    return false;
  }
  return true;
}

namespace internal {

// Parents in range, never self, no cycle.
bool ParentsValid(const std::vector<SceneMesh>& meshes) {
  const size_t n = meshes.size();
  for (size_t i = 0; i < n; ++i) {
    int32_t p = meshes[i].parent;
    if (p < -1 || (p >= 0 && static_cast<size_t>(p) >= n) || p == static_cast<int32_t>(i)) return false;
  }
  std::vector<uint8_t> state(n, 0);  // 0 unseen, 1 on the current walk, 2 done
  std::vector<size_t> walk;
  for (size_t i = 0; i < n; ++i) {
    walk.clear();
    size_t at = i;
    while (state[at] == 0) {
      state[at] = 1;
      walk.push_back(at);
      int32_t p = meshes[at].parent;
      if (p < 0) break;
      at = static_cast<size_t>(p);
      if (state[at] == 1) return false;
    }
    for (size_t w : walk) state[w] = 2;
  }
  return true;
}

}  // namespace internal
}  // namespace scene
