// Assimp → scene text.
//
// Design note. Assimp hands over a right-handed, Y-up node tree with
// scaled transforms; the scene text is left-handed, Y up, and knows only
// rigid poses (position + rotation) and a parent link per "MESH".
//  * Every pose is computed in double in Assimp's space and mirrored once,
//    at the end (Mirror*): z negated, quaternion (w, -x, -y, z), triangle
//    corners written (a, c, b).
//  * A node's world matrix G is split into a rigid pose (Gram-Schmidt of
//    its axes) and a residual L = R^T · G's 3 × 3 (the scale). L is baked
//    into the node's vertices, so world vertices are exact at rest; only
//    scale that changes under animation is lost.
//  * Only nodes with geometry (and skin joints) become meshes; the others
//    fold into their children, whose pose is taken relative to the nearest
//    exported ancestor from the two world poses.
//  * Animation is resampled at a fixed rate from the animated hierarchy,
//    since the format plays one rate for the whole scene.
// Assimp is a C++ library that may throw; every call into it sits behind
// ImportScene's try block, and nothing of ours throws.
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <array>
#include <assimp/Importer.hpp>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/core/core.h"
#include "scene/vjscene/vjscene.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_TGA
#define STBI_ONLY_BMP
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#endif
#include <stb/stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace vjscene {
namespace {

// --- double-precision affine math in Assimp's convention (column vectors) ---

struct D3 {
  double x = 0, y = 0, z = 0;
};
struct DQ {
  double w = 1, x = 0, y = 0, z = 0;
};
struct M4 {
  double m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
};
// A rigid pose: p' = R(q) p + t.
struct Pose {
  DQ q;
  D3 t;
};

D3 Sub(D3 a, D3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
D3 Add(D3 a, D3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
D3 Mul(D3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double Dot(D3 a, D3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
D3 Cross(D3 a, D3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double Len(D3 a) { return std::sqrt(Dot(a, a)); }
D3 Unit(D3 a) {
  const double l = Len(a);
  return l > 0 ? Mul(a, 1.0 / l) : a;
}

M4 FromAi(const aiMatrix4x4& a) {
  M4 r;
  const ai_real* p = &a.a1;
  for (int i = 0; i < 16; ++i) r.m[i / 4][i % 4] = p[i];
  return r;
}
M4 Mul(const M4& a, const M4& b) {
  M4 r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      double s = 0;
      for (int k = 0; k < 4; ++k) s += a.m[i][k] * b.m[k][j];
      r.m[i][j] = s;
    }
  return r;
}
D3 Point(const M4& m, D3 p) {
  return {m.m[0][0] * p.x + m.m[0][1] * p.y + m.m[0][2] * p.z + m.m[0][3],
          m.m[1][0] * p.x + m.m[1][1] * p.y + m.m[1][2] * p.z + m.m[1][3],
          m.m[2][0] * p.x + m.m[2][1] * p.y + m.m[2][2] * p.z + m.m[2][3]};
}
D3 Column(const M4& m, int c) { return {m.m[0][c], m.m[1][c], m.m[2][c]}; }

DQ QMul(const DQ& a, const DQ& b) {
  return {a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z, a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
          a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x, a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w};
}
DQ QConj(const DQ& q) { return {q.w, -q.x, -q.y, -q.z}; }
DQ QUnit(const DQ& q) {
  const double l = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
  return l > 0 ? DQ{q.w / l, q.x / l, q.y / l, q.z / l} : DQ{};
}
D3 Rotate(const DQ& q, D3 v) {
  const DQ p = QMul(QMul(q, {0, v.x, v.y, v.z}), QConj(q));
  return {p.x, p.y, p.z};
}
// The quaternion of a rotation matrix given by its columns (images of the
// axes).
DQ QFromAxes(D3 c0, D3 c1, D3 c2) {
  const double m00 = c0.x, m11 = c1.y, m22 = c2.z;
  const double t = m00 + m11 + m22;
  DQ q;
  if (t > 0) {
    const double s = std::sqrt(t + 1.0) * 2;
    q = {0.25 * s, (c1.z - c2.y) / s, (c2.x - c0.z) / s, (c0.y - c1.x) / s};
  } else if (m00 > m11 && m00 > m22) {
    const double s = std::sqrt(1.0 + m00 - m11 - m22) * 2;
    q = {(c1.z - c2.y) / s, 0.25 * s, (c1.x + c0.y) / s, (c2.x + c0.z) / s};
  } else if (m11 > m22) {
    const double s = std::sqrt(1.0 + m11 - m00 - m22) * 2;
    q = {(c2.x - c0.z) / s, (c1.x + c0.y) / s, 0.25 * s, (c2.y + c1.z) / s};
  } else {
    const double s = std::sqrt(1.0 + m22 - m00 - m11) * 2;
    q = {(c0.y - c1.x) / s, (c2.x + c0.z) / s, (c2.y + c1.z) / s, 0.25 * s};
  }
  return QUnit(q);
}
DQ Slerp(DQ a, DQ b, double t) {
  double c = a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z;
  if (c < 0) {  // the short way
    b = {-b.w, -b.x, -b.y, -b.z};
    c = -c;
  }
  double wa = 1 - t, wb = t;
  if (c < 0.9999995) {
    const double th = std::acos(c), s = std::sin(th);
    wa = std::sin((1 - t) * th) / s;
    wb = std::sin(t * th) / s;
  }
  return QUnit({wa * a.w + wb * b.w, wa * a.x + wb * b.x, wa * a.y + wb * b.y, wa * a.z + wb * b.z});
}

// A key list at `ticks`: the first value before (or with one key), the
// last after, else `mix` of the two keys around it.
template <typename Key, typename ValueOf, typename Mix>
auto SampleKeys(const Key* k, unsigned count, double ticks, ValueOf value_of, Mix mix) {
  if (ticks <= k[0].mTime || count == 1) return value_of(k[0]);
  if (ticks >= k[count - 1].mTime) return value_of(k[count - 1]);
  unsigned i = 0;
  while (i + 1 < count && k[i + 1].mTime <= ticks) ++i;
  const double span = k[i + 1].mTime - k[i].mTime;
  const double f = span > 0 ? (ticks - k[i].mTime) / span : 0.0;
  return mix(value_of(k[i]), value_of(k[i + 1]), f);
}

// The rigid part of an affine matrix and its residual 3 × 3 (column-major:
// residual[c] is column c). A mirroring matrix keeps its reflection in the
// residual.
void SplitRigid(const M4& g, Pose* pose, std::array<D3, 3>* residual) {
  D3 a = Column(g, 0), b = Column(g, 1), c = Column(g, 2);
  D3 x = Unit(a);
  if (Len(x) == 0) x = {1, 0, 0};
  D3 y = Sub(b, Mul(x, Dot(b, x)));
  y = Unit(y);
  if (Len(y) == 0) y = Unit(Cross(std::fabs(x.x) < 0.9 ? D3{1, 0, 0} : D3{0, 1, 0}, x));
  const D3 z = Cross(x, y);
  pose->q = QFromAxes(x, y, z);
  pose->t = Column(g, 3);
  if (residual) {
    // L = R^T · G3: each column of G expressed in the rigid axes.
    for (int k = 0; k < 3; ++k) {
      const D3 col = Column(g, k);
      (*residual)[k] = {Dot(x, col), Dot(y, col), Dot(z, col)};
    }
  }
  (void)c;
}
D3 ApplyResidual(const std::array<D3, 3>& l, D3 v) {
  return Add(Add(Mul(l[0], v.x), Mul(l[1], v.y)), Mul(l[2], v.z));
}
double Det(const std::array<D3, 3>& l) { return Dot(l[0], Cross(l[1], l[2])); }

// parent⁻¹ ∘ child.
Pose Relative(const Pose& parent, const Pose& child) {
  Pose r;
  r.q = QUnit(QMul(QConj(parent.q), child.q));
  r.t = Rotate(QConj(parent.q), Sub(child.t, parent.t));
  return r;
}
Pose Compose(const Pose& a, const Pose& b) {  // a ∘ b
  return {QUnit(QMul(a.q, b.q)), Add(Rotate(a.q, b.t), a.t)};
}

// --- the mirror into the engine's space ---
Vec3 MirrorPoint(D3 p) { return {static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(-p.z)}; }
Quat MirrorQuat(DQ q) {
  return {static_cast<float>(q.w), static_cast<float>(-q.x), static_cast<float>(-q.y), static_cast<float>(q.z)};
}
// A camera or directional light: the engine turns the stored rotation by
// rx(π/2) and looks along local +Z; stored = mirrored ⊗ rx(-π/2).
DQ TurnBack(DQ mirrored) {
  const double h = -M_PI / 4;
  return QUnit(QMul(mirrored, {std::cos(h), std::sin(h), 0, 0}));
}
DQ MirrorDQ(DQ q) { return {q.w, -q.x, -q.y, q.z}; }
Quat ToQuat(DQ q) {
  return {static_cast<float>(q.w), static_cast<float>(q.x), static_cast<float>(q.y), static_cast<float>(q.z)};
}
D3 ToD3(const aiVector3D& v) { return {v.x, v.y, v.z}; }

// --- warnings: one line per kind ---
class Warnings {
 public:
  void Once(const std::string& text) {
    if (seen_.insert(text).second) std::fprintf(stderr, "vjscene: warning: %s\n", text.c_str());
  }

 private:
  std::set<std::string> seen_;
};

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}
// `base`, or base_2, base_3, ... not yet in `used` (compared in upper case).
std::string Unique(const std::string& base, std::set<std::string>* used) {
  std::string name = base;
  for (int n = 2; !used->insert(Upper(name)).second; ++n) name = base + "_" + std::to_string(n);
  return name;
}

bool Finite(const aiVector3D& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }
bool Finite(const aiMatrix4x4& m) {
  const ai_real* p = &m.a1;
  for (int i = 0; i < 16; ++i)
    if (!std::isfinite(p[i])) return false;
  return true;
}

// --- textures ---
std::string TgaBytes(const unsigned char* rgba, int width, int height) {
  std::string out(18, '\0');
  out[2] = 2;  // uncompressed true colour
  out[12] = static_cast<char>(width & 0xff);
  out[13] = static_cast<char>(width >> 8);
  out[14] = static_cast<char>(height & 0xff);
  out[15] = static_cast<char>(height >> 8);
  out[16] = 32;
  out[17] = 0x08;  // 8 alpha bits, bottom-left origin
  out.reserve(18 + static_cast<size_t>(width) * height * 4);
  for (int y = height - 1; y >= 0; --y) {
    const unsigned char* row = rgba + static_cast<size_t>(y) * width * 4;
    for (int x = 0; x < width; ++x) {
      const unsigned char* p = row + x * 4;
      out += static_cast<char>(p[2]);
      out += static_cast<char>(p[1]);
      out += static_cast<char>(p[0]);
      out += static_cast<char>(p[3]);
    }
  }
  return out;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = base.find_last_of('.');
  if (dot != std::string::npos) base.resize(dot);
  return base;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// --- the importer ---

struct NodeInfo {
  const aiNode* node = nullptr;
  int parent = -1;           // index in the node list
  int exported_parent = -1;  // nearest exported ancestor
  bool exported = false;
  bool joint_only = false;  // exported for a skin, without geometry
  int32_t id = 0;
  const aiNodeAnim* channel = nullptr;
  aiVector3D static_scale{1, 1, 1};
  // At rest (the node transforms as loaded).
  Pose rest;
  std::array<D3, 3> residual{D3{1, 0, 0}, D3{0, 1, 0}, D3{0, 0, 1}};
};

class Importer {
 public:
  Importer(const aiScene* s, const ImportOptions& o, const std::string& in, SceneText* out)
      : s_(s), options_(o), in_(in), out_(out) {}

  int Run(std::string* error);

 private:
  bool CheckFinite(std::string* error);
  int PickAnimation(std::string* error);
  void CollectNodes(const aiNode* node, int parent);
  M4 LocalAt(const NodeInfo& n, double seconds) const;
  // World matrices of every node at `seconds` (the rest pose when there is
  // no animation or `seconds` < 0).
  void WorldsAt(double seconds, std::vector<M4>* worlds) const;
  int32_t MaterialId(unsigned index, std::string* error);
  int32_t TextureId(const std::string& path, const std::string& material, std::string* error);
  int BuildMesh(NodeInfo& n, TextMesh* mesh, std::string* error);
  void Smooth(const std::vector<D3>& positions, const std::vector<D3>& normals, TextMesh* mesh);
  Pose CameraLocal(const aiVector3D& position, const aiVector3D& look, const aiVector3D& up) const;
  void AddDefaultCamera();

  const aiScene* s_;
  ImportOptions options_;
  std::string in_;
  SceneText* out_;
  Warnings warn_;
  const aiAnimation* animation_ = nullptr;
  double ticks_per_second_ = 25.0;
  std::vector<double> sample_times_;  // seconds; {0} without animation
  std::vector<NodeInfo> nodes_;
  std::map<std::string, int> node_by_name_;
  std::map<unsigned, int32_t> material_ids_;
  std::set<std::string> material_names_;
  std::map<std::string, int32_t> texture_ids_;
  std::set<std::string> texture_names_;
  int32_t next_object_id_ = 1;
  // Bounds of every world vertex at time 0, in the engine's space.
  bool have_bounds_ = false;
  D3 min_, max_;
};

bool Importer::CheckFinite(std::string* error) {
  auto fail = [error](const char* what) {
    *error = std::string("non-finite value in the source (") + what + ")";
    return false;
  };
  for (unsigned m = 0; m < s_->mNumMeshes; ++m) {
    const aiMesh* mesh = s_->mMeshes[m];
    for (unsigned v = 0; v < mesh->mNumVertices; ++v) {
      if (!Finite(mesh->mVertices[v])) return fail("vertex position");
      if (mesh->mNormals && !Finite(mesh->mNormals[v])) return fail("normal");
      if (mesh->mTextureCoords[0] && !Finite(mesh->mTextureCoords[0][v])) return fail("texture coordinate");
      if (mesh->mColors[0]) {
        const aiColor4D& c = mesh->mColors[0][v];
        if (!std::isfinite(c.r) || !std::isfinite(c.g) || !std::isfinite(c.b)) return fail("vertex colour");
      }
    }
    for (unsigned b = 0; b < mesh->mNumBones; ++b) {
      const aiBone* bone = mesh->mBones[b];
      if (!Finite(bone->mOffsetMatrix)) return fail("bone matrix");
      for (unsigned w = 0; w < bone->mNumWeights; ++w)
        if (!std::isfinite(bone->mWeights[w].mWeight)) return fail("skin weight");
    }
  }
  for (const NodeInfo& n : nodes_)
    if (!Finite(n.node->mTransformation)) return fail("node transform");
  for (unsigned a = 0; a < s_->mNumAnimations; ++a) {
    const aiAnimation* anim = s_->mAnimations[a];
    if (!std::isfinite(anim->mDuration) || !std::isfinite(anim->mTicksPerSecond)) return fail("animation");
    for (unsigned c = 0; c < anim->mNumChannels; ++c) {
      const aiNodeAnim* ch = anim->mChannels[c];
      for (unsigned k = 0; k < ch->mNumPositionKeys; ++k)
        if (!Finite(ch->mPositionKeys[k].mValue) || !std::isfinite(ch->mPositionKeys[k].mTime))
          return fail("animation key");
      for (unsigned k = 0; k < ch->mNumRotationKeys; ++k) {
        const aiQuaternion& q = ch->mRotationKeys[k].mValue;
        if (!std::isfinite(q.w) || !std::isfinite(q.x) || !std::isfinite(q.y) || !std::isfinite(q.z) ||
            !std::isfinite(ch->mRotationKeys[k].mTime))
          return fail("animation key");
      }
    }
  }
  for (unsigned c = 0; c < s_->mNumCameras; ++c) {
    const aiCamera* cam = s_->mCameras[c];
    if (!Finite(cam->mPosition) || !Finite(cam->mLookAt) || !Finite(cam->mUp) ||
        !std::isfinite(cam->mHorizontalFOV) || !std::isfinite(cam->mAspect) ||
        !std::isfinite(cam->mClipPlaneNear) || !std::isfinite(cam->mClipPlaneFar))
      return fail("camera");
  }
  for (unsigned l = 0; l < s_->mNumLights; ++l) {
    const aiLight* light = s_->mLights[l];
    const aiColor3D& c = light->mColorDiffuse;
    if (!Finite(light->mPosition) || !Finite(light->mDirection) || !std::isfinite(c.r) || !std::isfinite(c.g) ||
        !std::isfinite(c.b))
      return fail("light");
  }
  return true;
}

int Importer::PickAnimation(std::string* error) {
  sample_times_ = {0.0};
  if (s_->mNumAnimations == 0) {
    if (!options_.animation.empty()) {
      *error = "no animation \"" + options_.animation + "\" in " + in_ + " (it has none)";
      return -1;
    }
    return 0;
  }
  const std::string& want = options_.animation;
  if (want.empty()) {
    animation_ = s_->mAnimations[0];
  } else {
    for (unsigned a = 0; a < s_->mNumAnimations && !animation_; ++a)
      if (want == s_->mAnimations[a]->mName.C_Str()) animation_ = s_->mAnimations[a];
    if (!animation_ && want.find_first_not_of("0123456789") == std::string::npos && want.size() < 9) {
      const unsigned index = static_cast<unsigned>(std::stoul(want));
      if (index < s_->mNumAnimations) animation_ = s_->mAnimations[index];
    }
    if (!animation_) {
      *error = "no animation \"" + want + "\" in " + in_;
      return -1;
    }
  }
  if (s_->mNumAnimations > 1)
    warn_.Once("only one animation is imported (" + std::string(animation_->mName.C_Str()) + ")");
  ticks_per_second_ = animation_->mTicksPerSecond > 0 ? animation_->mTicksPerSecond : 25.0;
  const double duration = std::max(0.0, animation_->mDuration / ticks_per_second_);
  const long count = std::lround(duration * options_.fps);
  if (count > 1000000) {
    *error = "the animation is too long to sample at this rate";
    return -1;
  }
  sample_times_.clear();
  for (long k = 0; k <= count; ++k) sample_times_.push_back(static_cast<double>(k) / options_.fps);
  for (unsigned c = 0; c < animation_->mNumChannels; ++c) {
    const aiNodeAnim* ch = animation_->mChannels[c];
    auto it = node_by_name_.find(ch->mNodeName.C_Str());
    if (it != node_by_name_.end()) nodes_[it->second].channel = ch;
    for (unsigned k = 1; k < ch->mNumScalingKeys; ++k)
      if (!(ch->mScalingKeys[k].mValue == ch->mScalingKeys[0].mValue)) warn_.Once("scale animation ignored");
  }
  if (animation_->mNumMorphMeshChannels || animation_->mNumMeshChannels) warn_.Once("morph target animation dropped");
  return 0;
}

void Importer::CollectNodes(const aiNode* node, int parent) {
  const int index = static_cast<int>(nodes_.size());
  NodeInfo info;
  info.node = node;
  info.parent = parent;
  aiVector3D position;
  aiQuaternion rotation;
  node->mTransformation.Decompose(info.static_scale, rotation, position);
  nodes_.push_back(info);
  node_by_name_.emplace(node->mName.C_Str(), index);
  for (unsigned c = 0; c < node->mNumChildren; ++c) CollectNodes(node->mChildren[c], index);
}

M4 Importer::LocalAt(const NodeInfo& n, double seconds) const {
  if (!n.channel || seconds < 0) return FromAi(n.node->mTransformation);
  const double ticks = seconds * ticks_per_second_;
  aiVector3D position;
  aiQuaternion rotation;
  aiVector3D scale;
  n.node->mTransformation.Decompose(scale, rotation, position);
  D3 p = ToD3(position);
  DQ q{rotation.w, rotation.x, rotation.y, rotation.z};
  const aiNodeAnim* ch = n.channel;
  auto dq = [](const aiQuaternion& a) { return DQ{a.w, a.x, a.y, a.z}; };
  if (ch->mNumPositionKeys > 0)
    p = SampleKeys(ch->mPositionKeys, ch->mNumPositionKeys, ticks, [](const aiVectorKey& k) { return ToD3(k.mValue); },
                   [](const D3& a, const D3& b, double f) { return Add(a, Mul(Sub(b, a), f)); });
  if (ch->mNumRotationKeys > 0)
    q = SampleKeys(ch->mRotationKeys, ch->mNumRotationKeys, ticks, [&](const aiQuatKey& k) { return dq(k.mValue); },
                   [](const DQ& a, const DQ& b, double f) { return Slerp(QUnit(a), QUnit(b), f); });
  q = QUnit(q);
  // T · R · S with the node's own (static) scale.
  M4 m;
  const D3 axes[3] = {Rotate(q, {1, 0, 0}), Rotate(q, {0, 1, 0}), Rotate(q, {0, 0, 1})};
  const double s[3] = {n.static_scale.x, n.static_scale.y, n.static_scale.z};
  for (int c = 0; c < 3; ++c) {
    m.m[0][c] = axes[c].x * s[c];
    m.m[1][c] = axes[c].y * s[c];
    m.m[2][c] = axes[c].z * s[c];
  }
  m.m[0][3] = p.x;
  m.m[1][3] = p.y;
  m.m[2][3] = p.z;
  return m;
}

void Importer::WorldsAt(double seconds, std::vector<M4>* worlds) const {
  worlds->resize(nodes_.size());
  for (size_t i = 0; i < nodes_.size(); ++i) {
    const M4 local = LocalAt(nodes_[i], animation_ ? seconds : -1.0);
    (*worlds)[i] = nodes_[i].parent < 0 ? local : Mul((*worlds)[static_cast<size_t>(nodes_[i].parent)], local);
  }
}

int32_t Importer::TextureId(const std::string& path, const std::string& material, std::string* error) {
  auto found = texture_ids_.find(path);
  if (found != texture_ids_.end()) return found->second;
  int width = 0, height = 0, channels = 0;
  unsigned char* pixels = nullptr;
  std::vector<unsigned char> texels;  // an uncompressed embedded texture, as RGBA
  std::string base;
  const aiTexture* embedded = s_->GetEmbeddedTexture(path.c_str());
  if (embedded) {
    base = embedded->mFilename.length ? BaseName(embedded->mFilename.C_Str()) : material + "_TEX";
    if (embedded->mHeight == 0) {
      pixels = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(embedded->pcData),
                                     static_cast<int>(embedded->mWidth), &width, &height, &channels, 4);
    } else {
      width = static_cast<int>(embedded->mWidth);
      height = static_cast<int>(embedded->mHeight);
      texels.resize(static_cast<size_t>(width) * height * 4);
      for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
        texels[i * 4 + 0] = embedded->pcData[i].r;
        texels[i * 4 + 1] = embedded->pcData[i].g;
        texels[i * 4 + 2] = embedded->pcData[i].b;
        texels[i * 4 + 3] = embedded->pcData[i].a;
      }
    }
  } else {
    std::string file = path;
    for (char& c : file)
      if (c == '\\') c = '/';
    if (file.empty() || file[0] != '/') file = FolderOf(in_) + "/" + file;
    base = BaseName(file);
    pixels = stbi_load(file.c_str(), &width, &height, &channels, 4);
    if (!pixels) {
      *error = "cannot read the texture " + file + ": " + (stbi_failure_reason() ? stbi_failure_reason() : "?");
      return -2;
    }
  }
  if (!pixels && texels.empty()) {
    *error = "cannot decode the embedded texture " + path + ": " +
             (stbi_failure_reason() ? stbi_failure_reason() : "?");
    return -2;
  }
  if (width <= 0 || height <= 0 || width > 32768 || height > 32768) {
    stbi_image_free(pixels);
    *error = "texture " + path + " has an unusable size";
    return -2;
  }
  const std::string bytes = TgaBytes(pixels ? pixels : texels.data(), width, height);
  stbi_image_free(pixels);
  // Base names are what materials refer to; keep them to plain bytes.
  for (char& c : base) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                       c == '-' || c == '.';
    if (!plain) c = '_';
  }
  if (base.empty()) base = "TEXTURE";
  const std::string upper = Upper(base);
  // The shader manager reads these prefixes as normal and cube maps.
  if (upper.rfind("BUMP_", 0) == 0 || upper.rfind("CMAP_", 0) == 0) {
    warn_.Once("texture names starting BUMP_ or CMAP_ renamed (T" + base + ")");
    base = "T" + base;
  }
  base = Unique(base, &texture_names_);
  const std::string target = options_.textures_dir + "/" + base + ".tga";
  if (core::MakeFolders(options_.textures_dir) != 0 || core::WriteWholeFileAtomic(target, bytes) != 0) {
    *error = "cannot write " + target;
    return -2;
  }
  const int32_t id = static_cast<int32_t>(out_->textures.size()) + 1;
  out_->textures.push_back({id, base + ".tga"});
  texture_ids_.emplace(path, id);
  return id;
}

int32_t Importer::MaterialId(unsigned index, std::string* error) {
  auto found = material_ids_.find(index);
  if (found != material_ids_.end()) return found->second;
  const aiMaterial* m = index < s_->mNumMaterials ? s_->mMaterials[index] : nullptr;
  TextMaterial out;
  out.id = static_cast<int32_t>(out_->materials.size()) + 1;
  std::string name = m ? SanitizeName(m->GetName().C_Str()) : "";
  if (name.empty()) name = "MATERIAL";
  if (name.size() > 120) name.resize(120);
  out.name = Unique(name, &material_names_);
  aiColor4D colour(1, 1, 1, 1);
  if (m && m->Get(AI_MATKEY_BASE_COLOR, colour) != AI_SUCCESS) {
    aiColor3D diffuse(1, 1, 1);
    if (m->Get(AI_MATKEY_COLOR_DIFFUSE, diffuse) == AI_SUCCESS) colour = aiColor4D(diffuse.r, diffuse.g, diffuse.b, 1);
  }
  auto clamp = [](float v) { return std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 1.0f; };
  out.colour = {clamp(colour.r), clamp(colour.g), clamp(colour.b)};
  aiString path;
  bool textured = false;
  if (m && (m->GetTexture(aiTextureType_BASE_COLOR, 0, &path) == AI_SUCCESS ||
            m->GetTexture(aiTextureType_DIFFUSE, 0, &path) == AI_SUCCESS) &&
      path.length > 0) {
    textured = true;
    const int32_t texture = TextureId(path.C_Str(), out.name, error);
    if (texture < 0) return -2;
    out.diffuse_texture = texture;
    if (out.colour.x != 1.0f || out.colour.y != 1.0f || out.colour.z != 1.0f)
      warn_.Once("a colour factor beside a texture is dropped");
  }
  (void)textured;
  // Assimp's own stand-in for "no material" carries no author's values.
  if (m && m->GetName().length > 0 && std::strcmp(m->GetName().C_Str(), AI_DEFAULT_MATERIAL_NAME) != 0) {
    aiColor3D emissive(0, 0, 0);
    if (m->Get(AI_MATKEY_COLOR_EMISSIVE, emissive) == AI_SUCCESS && !emissive.IsBlack())
      warn_.Once("emissive colours are dropped");
    float value = 0;
    if (m->Get(AI_MATKEY_METALLIC_FACTOR, value) == AI_SUCCESS) warn_.Once("metallic values are dropped");
    if (m->Get(AI_MATKEY_ROUGHNESS_FACTOR, value) == AI_SUCCESS) warn_.Once("roughness values are dropped");
  }
  out_->materials.push_back(out);
  material_ids_.emplace(index, out.id);
  return out.id;
}

// Smoothing values by connected component: faces sharing an edge (by
// position) join when their corners there carry the same source normal.
void Importer::Smooth(const std::vector<D3>& positions, const std::vector<D3>& normals, TextMesh* mesh) {
  const size_t faces = mesh->faces.size() / 3;
  struct Key {
    double x, y, z;
    bool operator==(const Key& o) const { return x == o.x && y == o.y && z == o.z; }
  };
  struct KeyHash {
    size_t operator()(const Key& k) const {
      const std::hash<double> h;
      return h(k.x) * 73856093u ^ h(k.y) * 19349663u ^ h(k.z) * 83492791u;
    }
  };
  std::unordered_map<Key, uint32_t, KeyHash> position_ids;
  position_ids.reserve(positions.size());
  std::vector<uint32_t> pid(positions.size());
  for (size_t v = 0; v < positions.size(); ++v) {
    const Key k{positions[v].x + 0.0, positions[v].y + 0.0, positions[v].z + 0.0};  // -0 equals 0
    pid[v] = position_ids.emplace(k, static_cast<uint32_t>(position_ids.size())).first->second;
  }
  std::vector<uint32_t> root(faces);
  for (size_t f = 0; f < faces; ++f) root[f] = static_cast<uint32_t>(f);
  auto find = [&root](uint32_t f) {
    while (root[f] != f) f = root[f] = root[root[f]];
    return f;
  };
  auto same = [](D3 a, D3 b) {
    return std::fabs(a.x - b.x) < 1e-5 && std::fabs(a.y - b.y) < 1e-5 && std::fabs(a.z - b.z) < 1e-5;
  };
  struct Edge {
    uint32_t face, va, vb;  // the first face and its corners at the two ends
  };
  std::unordered_map<uint64_t, Edge> edges;
  edges.reserve(faces * 2);
  const bool have_normals = !normals.empty();
  for (size_t f = 0; f < faces; ++f) {
    for (int e = 0; e < 3; ++e) {
      uint32_t va = static_cast<uint32_t>(mesh->faces[f * 3 + e]);
      uint32_t vb = static_cast<uint32_t>(mesh->faces[f * 3 + (e + 1) % 3]);
      if (pid[va] == pid[vb]) continue;
      if (pid[va] > pid[vb]) std::swap(va, vb);
      const uint64_t key = (static_cast<uint64_t>(pid[va]) << 32) | pid[vb];
      auto [it, added] = edges.emplace(key, Edge{static_cast<uint32_t>(f), va, vb});
      if (added) continue;
      const Edge& first = it->second;
      if (!have_normals || (same(normals[first.va], normals[va]) && same(normals[first.vb], normals[vb]))) {
        const uint32_t a = find(first.face), b = find(static_cast<uint32_t>(f));
        if (a != b) root[std::max(a, b)] = std::min(a, b);
      }
    }
  }
  std::unordered_map<uint32_t, int32_t> values;
  mesh->smoothing.resize(faces);
  for (size_t f = 0; f < faces; ++f) {
    const uint32_t r = find(static_cast<uint32_t>(f));
    mesh->smoothing[f] = values.emplace(r, static_cast<int32_t>(values.size()) + 1).first->second;
  }
}

int Importer::BuildMesh(NodeInfo& n, TextMesh* mesh, std::string* error) {
  const aiNode* node = n.node;
  const bool flip = Det(n.residual) < 0;
  std::vector<D3> positions, normals;  // source, for the smoothing values
  bool any_uv = false, any_colour = false, any_skin = false, any_normals = true;
  for (unsigned i = 0; i < node->mNumMeshes; ++i) {
    if (node->mMeshes[i] >= s_->mNumMeshes) continue;
    const aiMesh* m = s_->mMeshes[node->mMeshes[i]];
    if (!(m->mPrimitiveTypes & aiPrimitiveType_TRIANGLE)) continue;
    any_uv |= m->mTextureCoords[0] != nullptr;
    any_colour |= m->mColors[0] != nullptr;
    any_skin |= m->mNumBones > 0;
    any_normals &= m->mNormals != nullptr;
  }
  for (unsigned i = 0; i < node->mNumMeshes; ++i) {
    if (node->mMeshes[i] >= s_->mNumMeshes) continue;
    const aiMesh* m = s_->mMeshes[node->mMeshes[i]];
    // Sorted by type: a mesh holds triangles, or only points or lines.
    if (!(m->mPrimitiveTypes & aiPrimitiveType_TRIANGLE)) {
      warn_.Once("points and lines dropped");
      continue;
    }
    if (m->mTextureCoords[1]) warn_.Once("extra texture coordinate sets dropped");
    if (m->mColors[1]) warn_.Once("extra vertex colour sets dropped");
    if (m->mNumAnimMeshes) warn_.Once("morph targets dropped");
    const int32_t material = MaterialId(m->mMaterialIndex, error);
    if (material == -2) return -1;
    const int32_t base = static_cast<int32_t>(mesh->vertices.size() + mesh->skin.size());
    // Per vertex its (node, weight, bone) influences.
    std::vector<std::vector<std::pair<float, const aiBone*>>> weights;
    if (m->mNumBones) weights.resize(m->mNumVertices);
    for (unsigned b = 0; b < m->mNumBones; ++b) {
      const aiBone* bone = m->mBones[b];
      for (unsigned w = 0; w < bone->mNumWeights; ++w)
        if (bone->mWeights[w].mVertexId < m->mNumVertices && bone->mWeights[w].mWeight > 0)
          weights[bone->mWeights[w].mVertexId].push_back({bone->mWeights[w].mWeight, bone});
    }
    for (unsigned v = 0; v < m->mNumVertices; ++v) {
      const D3 source = ToD3(m->mVertices[v]);
      positions.push_back(source);
      if (any_normals) normals.push_back(ToD3(m->mNormals[v]));
      const Vec3 local = MirrorPoint(ApplyResidual(n.residual, source));
      if (any_skin) {
        std::vector<TextInfluence> list;
        if (m->mNumBones) {
          auto& w = weights[v];
          std::stable_sort(w.begin(), w.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
          if (w.size() > 4) {
            warn_.Once("more than four skin influences: the four largest kept");
            w.resize(4);
          }
          for (const auto& [weight, bone] : w) {
            const NodeInfo& joint = nodes_[static_cast<size_t>(node_by_name_.at(bone->mName.C_Str()))];
            const D3 in_bone = Point(FromAi(bone->mOffsetMatrix), source);
            list.push_back({joint.id, MirrorPoint(ApplyResidual(joint.residual, in_bone)), weight});
          }
        }
        if (list.empty()) list.push_back({n.id, local, 1.0f});  // rigid on the node itself
        mesh->skin.push_back(std::move(list));
      } else {
        mesh->vertices.push_back(local);
      }
      if (any_uv) {
        const aiVector3D uv = m->mTextureCoords[0] ? m->mTextureCoords[0][v] : aiVector3D(0, 0, 0);
        mesh->uvs.push_back(uv.x);
        mesh->uvs.push_back(uv.y);
      }
      if (any_colour) {
        Vec3 c{1, 1, 1};
        if (m->mColors[0]) {
          const aiColor4D& k = m->mColors[0][v];
          c = {std::clamp(k.r, 0.0f, 1.0f), std::clamp(k.g, 0.0f, 1.0f), std::clamp(k.b, 0.0f, 1.0f)};
        }
        mesh->colours.push_back(c);
      }
    }
    for (unsigned f = 0; f < m->mNumFaces; ++f) {
      const aiFace& face = m->mFaces[f];
      if (face.mNumIndices != 3) continue;
      const int32_t a = base + static_cast<int32_t>(face.mIndices[0]);
      const int32_t b = base + static_cast<int32_t>(face.mIndices[1]);
      const int32_t c = base + static_cast<int32_t>(face.mIndices[2]);
      // The mirror reverses the winding; a mirroring node scale reverses it back.
      if (flip) {
        mesh->faces.insert(mesh->faces.end(), {a, b, c});
      } else {
        mesh->faces.insert(mesh->faces.end(), {a, c, b});
      }
      mesh->materials.push_back(material);
    }
  }
  if (!any_normals) normals.clear();
  Smooth(positions, normals, mesh);
  return 0;
}

Pose Importer::CameraLocal(const aiVector3D& position, const aiVector3D& look, const aiVector3D& up) const {
  D3 back = Unit(Mul(ToD3(look), -1));
  if (Len(back) == 0) back = {0, 0, 1};
  D3 y = Sub(ToD3(up), Mul(back, Dot(ToD3(up), back)));
  if (Len(y) < 1e-9) y = Cross(back, std::fabs(back.x) < 0.9 ? D3{1, 0, 0} : D3{0, 1, 0});
  y = Unit(y);
  const D3 x = Cross(y, back);
  return {QFromAxes(x, y, back), ToD3(position)};
}

void Importer::AddDefaultCamera() {
  D3 centre{0, 0, 0};
  double radius = 1.0;
  if (have_bounds_) {
    centre = Mul(Add(min_, max_), 0.5);
    radius = std::max(Len(Sub(max_, centre)), 1e-3);
  }
  const double fov = 60.0;
  const double half_v = std::atan(0.75 * std::tan(fov * M_PI / 360.0));
  const double distance = radius / std::sin(half_v);
  TextCamera camera;
  camera.id = next_object_id_++;
  camera.name = "Camera";
  camera.position = {static_cast<float>(centre.x), static_cast<float>(centre.y),
                     static_cast<float>(centre.z - distance)};
  camera.rotation = ToQuat(TurnBack(DQ{}));
  camera.fov = static_cast<float>(fov);
  camera.near_plane = static_cast<float>((distance - radius) * 0.5);
  camera.far_plane = 1000000.0f;
  out_->cameras.push_back(camera);
}

int Importer::Run(std::string* error) {
  if (!s_->mRootNode) {
    *error = "no node tree in " + in_;
    return -1;
  }
  CollectNodes(s_->mRootNode, -1);
  if (!CheckFinite(error)) return -1;
  if (PickAnimation(error) != 0) return -1;

  // Which nodes become meshes: those with triangles, and skin joints.
  for (NodeInfo& n : nodes_)
    for (unsigned i = 0; i < n.node->mNumMeshes; ++i)
      if (n.node->mMeshes[i] < s_->mNumMeshes) n.exported = true;
  for (unsigned m = 0; m < s_->mNumMeshes; ++m)
    for (unsigned b = 0; b < s_->mMeshes[m]->mNumBones; ++b) {
      auto it = node_by_name_.find(s_->mMeshes[m]->mBones[b]->mName.C_Str());
      if (it == node_by_name_.end()) {
        *error = std::string("skin joint \"") + s_->mMeshes[m]->mBones[b]->mName.C_Str() + "\" is no node";
        return -1;
      }
      NodeInfo& joint = nodes_[static_cast<size_t>(it->second)];
      if (!joint.exported) joint.joint_only = true;
      joint.exported = true;
    }
  for (NodeInfo& n : nodes_) {
    int p = n.parent;
    while (p >= 0 && !nodes_[static_cast<size_t>(p)].exported) p = nodes_[static_cast<size_t>(p)].parent;
    n.exported_parent = p;
    if (n.exported) n.id = next_object_id_++;
  }
  // Rest poses and residual scales.
  std::vector<M4> rest;
  WorldsAt(-1.0, &rest);
  for (size_t i = 0; i < nodes_.size(); ++i) SplitRigid(rest[i], &nodes_[i].rest, &nodes_[i].residual);

  // Sampled world poses of every node, in Assimp's space.
  std::vector<std::vector<Pose>> world(sample_times_.size());
  std::vector<M4> worlds;
  for (size_t k = 0; k < sample_times_.size(); ++k) {
    WorldsAt(sample_times_[k], &worlds);
    world[k].resize(nodes_.size());
    for (size_t i = 0; i < nodes_.size(); ++i) {
      std::array<D3, 3> residual;
      SplitRigid(worlds[i], &world[k][i], &residual);
      // The baked scale holds at rest; one that changes while playing (a
      // non-uniform scale above a rotating node) is lost.
      if (!nodes_[i].exported) continue;
      for (int c = 0; c < 3; ++c) {
        const D3 d = Sub(residual[c], nodes_[i].residual[c]);
        if (Len(d) > 1e-4 * (1.0 + Len(nodes_[i].residual[c])))
          warn_.Once("a scale that changes while playing (non-uniform scale above a rotating node) is approximated");
      }
    }
  }

  auto add_track = [this](int32_t owner, const std::vector<scene::PosRotSample>& samples) {
    bool changes = false;
    for (const scene::PosRotSample& s : samples) {
      const scene::PosRotSample& a = samples[0];
      const float dot = s.rotation.w * a.rotation.w + s.rotation.x * a.rotation.x + s.rotation.y * a.rotation.y +
                        s.rotation.z * a.rotation.z;
      if (std::fabs(s.position.x - a.position.x) > 1e-6f || std::fabs(s.position.y - a.position.y) > 1e-6f ||
          std::fabs(s.position.z - a.position.z) > 1e-6f || std::fabs(dot) < 1.0f - 1e-7f)
        changes = true;
    }
    if (changes) out_->controllers.push_back({owner, samples});
  };

  // Meshes.
  for (size_t i = 0; i < nodes_.size(); ++i) {
    NodeInfo& n = nodes_[i];
    if (!n.exported) continue;
    TextMesh mesh;
    mesh.id = n.id;
    std::string name = SanitizeName(n.node->mName.C_Str());
    if (name.empty()) name = "NODE" + std::to_string(n.id);
    mesh.name = n.joint_only && name[0] != '*' ? "*" + name : name;
    mesh.parent_id = n.exported_parent >= 0 ? nodes_[static_cast<size_t>(n.exported_parent)].id : 0;
    std::vector<scene::PosRotSample> samples;
    for (size_t k = 0; k < sample_times_.size(); ++k) {
      const Pose& self = world[k][i];
      const Pose local =
          n.exported_parent >= 0 ? Relative(world[k][static_cast<size_t>(n.exported_parent)], self) : self;
      samples.push_back({MirrorPoint(local.t), MirrorQuat(local.q)});
    }
    mesh.position = samples[0].position;
    mesh.rotation = samples[0].rotation;
    if (n.joint_only) {
      mesh.vertices.push_back({});
      mesh.faces = {0, 0, 0};
      mesh.smoothing = {1};
      mesh.materials = {-1};
    } else if (BuildMesh(n, &mesh, error) != 0) {
      return -1;
    }
    if (mesh.faces.empty()) {
      // Only points or lines: keep the node as a hidden joint-like mesh so
      // its children and tracks keep their owner.
      mesh.vertices.assign(1, Vec3{});
      mesh.skin.clear();
      mesh.uvs.clear();
      mesh.colours.clear();
      mesh.faces = {0, 0, 0};
      mesh.smoothing = {1};
      mesh.materials = {-1};
      if (mesh.name[0] != '*') mesh.name = "*" + mesh.name;
    }
    add_track(n.id, samples);
    out_->meshes.push_back(std::move(mesh));
  }

  // Bounds at time 0 (engine space), for a camera made up here.
  auto include = [this](D3 p) {
    if (!have_bounds_) {
      min_ = max_ = p;
      have_bounds_ = true;
    }
    min_ = {std::min(min_.x, p.x), std::min(min_.y, p.y), std::min(min_.z, p.z)};
    max_ = {std::max(max_.x, p.x), std::max(max_.y, p.y), std::max(max_.z, p.z)};
  };
  {
    std::map<int32_t, Pose> engine_world;  // by mesh ID, time 0, mirrored values kept as D3/DQ
    size_t mi = 0;
    for (size_t i = 0; i < nodes_.size(); ++i) {
      if (!nodes_[i].exported) continue;
      const Pose& w = world[0][i];
      const Pose mirrored{MirrorDQ(w.q), {w.t.x, w.t.y, -w.t.z}};
      engine_world[nodes_[i].id] = mirrored;
      const TextMesh& mesh = out_->meshes[mi++];
      if (nodes_[i].joint_only) continue;
      for (const Vec3& v : mesh.vertices) include(Compose(mirrored, Pose{DQ{}, {v.x, v.y, v.z}}).t);
      (void)mesh;
    }
    for (const TextMesh& mesh : out_->meshes)
      for (const auto& vertex : mesh.skin) {
        D3 sum{0, 0, 0};
        double total = 0;
        for (const TextInfluence& in : vertex) {
          const Pose& bone = engine_world[in.bone_id];
          sum = Add(sum, Mul(Add(Rotate(bone.q, {in.offset.x, in.offset.y, in.offset.z}), bone.t), in.weight));
          total += in.weight;
        }
        if (total > 0) include(Mul(sum, 1.0 / total));
      }
  }

  // Cameras: world poses; the text's rotation is turned back by rx(-π/2).
  std::string extension = in_.substr(std::min(in_.size(), in_.find_last_of('.')));
  extension = Upper(extension);
  const bool gltf = extension == ".GLTF" || extension == ".GLB";
  for (unsigned c = 0; c < s_->mNumCameras; ++c) {
    const aiCamera* cam = s_->mCameras[c];
    auto it = node_by_name_.find(cam->mName.C_Str());
    // Assimp's glTF reader copies the node's translation into mPosition as
    // well (measured on 5.2.4); a glTF camera always sits at its node's origin.
    const aiVector3D position = gltf ? aiVector3D(0, 0, 0) : cam->mPosition;
    const Pose local = CameraLocal(position, cam->mLookAt, cam->mUp);
    TextCamera out;
    out.id = next_object_id_++;
    out.name = SanitizeName(cam->mName.C_Str());
    if (out.name.size() > scene::kMaxCameraName) out.name.resize(scene::kMaxCameraName);
    std::vector<scene::PosRotSample> samples;
    for (size_t k = 0; k < sample_times_.size(); ++k) {
      const Pose node = it != node_by_name_.end() ? world[k][static_cast<size_t>(it->second)] : Pose{};
      const Pose w = Compose(node, local);
      samples.push_back({MirrorPoint(w.t), ToQuat(TurnBack(MirrorDQ(w.q)))});
    }
    out.position = samples[0].position;
    out.rotation = samples[0].rotation;
    // Assimp gives yfov × aspect as the "horizontal" angle; the engine's
    // frame is 4:3 and its fov horizontal.
    const double yfov = cam->mAspect > 0 ? cam->mHorizontalFOV / cam->mAspect : cam->mHorizontalFOV;
    out.fov = static_cast<float>(2.0 * std::atan(std::tan(yfov / 2.0) / 0.75) * 180.0 / M_PI);
    if (!(out.fov > 0.0f && out.fov < 180.0f)) out.fov = 60.0f;
    out.near_plane = cam->mClipPlaneNear > 0 ? cam->mClipPlaneNear : 0.1f;
    out.far_plane = cam->mClipPlaneFar > out.near_plane ? cam->mClipPlaneFar : 1000000.0f;
    add_track(out.id, samples);
    out_->cameras.push_back(out);
  }
  if (out_->cameras.empty()) AddDefaultCamera();

  // Lights.
  for (unsigned l = 0; l < s_->mNumLights; ++l) {
    const aiLight* light = s_->mLights[l];
    TextLight out;
    switch (light->mType) {
      case aiLightSource_DIRECTIONAL:
        out.directional = true;
        break;
      case aiLightSource_POINT:
        break;
      case aiLightSource_SPOT:
        warn_.Once("spot light cones dropped (imported as point lights)");
        break;
      default:
        warn_.Once("ambient and area lights dropped");
        continue;
    }
    out.id = next_object_id_++;
    auto it = node_by_name_.find(light->mName.C_Str());
    aiVector3D up = light->mUp;
    if (up.Length() == 0) up = aiVector3D(0, 1, 0);
    const aiVector3D direction = light->mDirection.Length() > 0 ? light->mDirection : aiVector3D(0, 0, -1);
    const Pose local = CameraLocal(light->mPosition, direction, up);
    std::vector<scene::PosRotSample> samples;
    for (size_t k = 0; k < sample_times_.size(); ++k) {
      const Pose node = it != node_by_name_.end() ? world[k][static_cast<size_t>(it->second)] : Pose{};
      const Pose w = Compose(node, local);
      samples.push_back({MirrorPoint(w.t), ToQuat(TurnBack(MirrorDQ(w.q)))});
    }
    out.position = samples[0].position;
    out.rotation = samples[0].rotation;
    // Assimp folds the intensity into the colour.
    const aiColor3D& c = light->mColorDiffuse;
    const float top = std::max({c.r, c.g, c.b});
    if (top > 0.0f) {
      out.colour = {c.r / top, c.g / top, c.b / top};
      out.multiplier = top;
    } else {
      out.colour = {0.0f, 0.0f, 0.0f};
      out.multiplier = 1.0f;
    }
    add_track(out.id, samples);
    out_->lights.push_back(out);
  }
  if (out_->lights.empty() && options_.default_light) {
    TextLight light;
    light.id = next_object_id_++;
    light.directional = true;
    light.position = out_->cameras[0].position;
    light.rotation = out_->cameras[0].rotation;
    out_->lights.push_back(light);
  }
  out_->frame_rate = options_.fps;
  return 0;
}

}  // namespace

int ImportScene(const std::string& in, const ImportOptions& options, SceneText* out, std::string* error) {
  try {
    Assimp::Importer importer;
    importer.SetPropertyFloat(AI_CONFIG_PP_GSN_MAX_SMOOTHING_ANGLE, 80.0f);
    const unsigned flags = aiProcess_Triangulate | aiProcess_JoinIdenticalVertices | aiProcess_SortByPType |
                           aiProcess_ValidateDataStructure | aiProcess_GenSmoothNormals;
    const aiScene* s = importer.ReadFile(in, flags);
    if (!s) {
      *error = importer.GetErrorString();
      if (error->empty()) *error = "cannot read " + in;
      for (char& c : *error)
        if (c == '\n' || c == '\r') c = ' ';
      return -1;
    }
    if (s->mFlags & AI_SCENE_FLAGS_INCOMPLETE) {
      *error = "incomplete scene in " + in;
      return -1;
    }
    *out = SceneText{};
    Importer run(s, options, in, out);
    return run.Run(error);
  } catch (const std::exception& e) {
    *error = std::string("importer failure: ") + e.what();
  } catch (...) {
    *error = "importer failure";
  }
  return -1;
}

}  // namespace vjscene
