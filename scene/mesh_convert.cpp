// From "MAXMESH" geometry to mesh elements: corner normals from
// smoothing groups (face normals in double; degenerate faces add nothing),
// faces sorted stably by material, welding per element, and elements split
// before they would pass the 16-bit limits.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <map>
#include <numeric>

#include "scene/scene_internal.h"

namespace scene::internal {

uint32_t PackChannel(float c) {
  float p = c * 255.0f;
  if (!(p > 0.0f)) return 0;
  if (p >= 255.0f) return 255;
  return static_cast<uint32_t>(p);
}

namespace {

// A float's bits with -0 read as +0, so equal values make equal keys.
inline uint32_t KeyBits(float f) { return f == 0.0f ? 0u : std::bit_cast<uint32_t>(f); }

inline uint64_t Mix(uint64_t h, uint64_t v) {
  h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
  return h;
}

// An open-addressing index from fixed-size keys (arrays of N words) to
// dense ids 0, 1, 2, ... in insertion order.
template <size_t N>
class KeyIndex {
 public:
  using Key = std::array<uint32_t, N>;
  void Clear() {
    keys_.clear();
    slots_.assign(16, kEmpty);
  }
  KeyIndex() { Clear(); }
  size_t size() const { return keys_.size(); }
  // The id of `key`, or -1.
  int64_t Find(const Key& key) const {
    size_t mask = slots_.size() - 1;
    for (size_t i = Hash(key) & mask;; i = (i + 1) & mask) {
      uint32_t s = slots_[i];
      if (s == kEmpty) return -1;
      if (keys_[s] == key) return s;
    }
  }
  // The id of `key`, adding it when new (*added says which).
  uint32_t Insert(const Key& key, bool* added) {
    if ((keys_.size() + 1) * 2 > slots_.size()) Grow();
    size_t mask = slots_.size() - 1;
    for (size_t i = Hash(key) & mask;; i = (i + 1) & mask) {
      uint32_t s = slots_[i];
      if (s == kEmpty) {
        slots_[i] = static_cast<uint32_t>(keys_.size());
        keys_.push_back(key);
        *added = true;
        return slots_[i];
      }
      if (keys_[s] == key) {
        *added = false;
        return s;
      }
    }
  }

 private:
  static constexpr uint32_t kEmpty = 0xFFFFFFFFu;
  static size_t Hash(const Key& key) {
    uint64_t h = 0;
    for (uint32_t w : key) h = Mix(h, w);
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 32;
    return static_cast<size_t>(h);
  }
  void Grow() {
    std::vector<uint32_t> slots(slots_.size() * 2, kEmpty);
    size_t mask = slots.size() - 1;
    for (uint32_t id = 0; id < keys_.size(); ++id) {
      size_t i = Hash(keys_[id]) & mask;
      while (slots[i] != kEmpty) i = (i + 1) & mask;
      slots[i] = id;
    }
    slots_.swap(slots);
  }
  std::vector<Key> keys_;
  std::vector<uint32_t> slots_;
};

struct DVec {
  double x = 0.0, y = 0.0, z = 0.0;
};

}  // namespace

void ConvertMesh(const MeshSource& source, const std::function<std::string(int32_t)>& material_name,
                 std::vector<MeshElement>* elements) {
  elements->clear();
  const size_t faces = source.FaceCount();
  const size_t corners = faces * 3;
  const bool has_uv = !source.uvs.empty();
  const bool has_colour = !source.colours.empty();

  // 1. Corner normals (plain meshes): sums per (position, smoothing value).
  std::vector<Vec3> corner_normal(corners, Vec3{0.0f, 0.0f, 1.0f});
  if (!source.skinned) {
    KeyIndex<4> keys;
    std::vector<DVec> sums;
    std::vector<uint32_t> corner_key(corners);
    for (size_t f = 0; f < faces; ++f) {
      const Vec3* p[3];
      for (int k = 0; k < 3; ++k) p[k] = &source.positions[static_cast<size_t>(source.vertex_indices[f * 3 + k])];
      DVec e1{static_cast<double>(p[1]->x) - p[0]->x, static_cast<double>(p[1]->y) - p[0]->y,
              static_cast<double>(p[1]->z) - p[0]->z};
      DVec e2{static_cast<double>(p[2]->x) - p[0]->x, static_cast<double>(p[2]->y) - p[0]->y,
              static_cast<double>(p[2]->z) - p[0]->z};
      DVec n{e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x};
      double length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
      bool usable = length > 0.0 && std::isfinite(length);
      if (usable) n = {n.x / length, n.y / length, n.z / length};
      const uint32_t smooth = static_cast<uint32_t>(source.smoothing[f]);
      for (int k = 0; k < 3; ++k) {
        bool added;
        uint32_t id = keys.Insert({KeyBits(p[k]->x), KeyBits(p[k]->y), KeyBits(p[k]->z), smooth}, &added);
        if (added) sums.push_back({});
        if (usable) {
          sums[id].x += n.x;
          sums[id].y += n.y;
          sums[id].z += n.z;
        }
        corner_key[f * 3 + k] = id;
      }
    }
    std::vector<Vec3> normals(sums.size());
    for (size_t i = 0; i < sums.size(); ++i) {
      const DVec& s = sums[i];
      double length = std::sqrt(s.x * s.x + s.y * s.y + s.z * s.z);
      if (length > 0.0 && std::isfinite(length))
        normals[i] = {static_cast<float>(s.x / length), static_cast<float>(s.y / length),
                      static_cast<float>(s.z / length)};
      else
        normals[i] = {0.0f, 0.0f, 1.0f};
    }
    for (size_t c = 0; c < corners; ++c) corner_normal[c] = normals[corner_key[c]];
  }

  // Skinned: identical influence lists share one id (part of the weld key).
  std::vector<uint32_t> influence_id;
  if (source.skinned) {
    std::map<std::vector<uint32_t>, uint32_t> seen;
    influence_id.resize(source.skin.size());
    for (size_t v = 0; v < source.skin.size(); ++v) {
      std::vector<uint32_t> words;
      for (const SkinInfluence& inf : source.skin[v]) {
        words.push_back(static_cast<uint32_t>(inf.bone_id));
        words.push_back(KeyBits(inf.offset.x));
        words.push_back(KeyBits(inf.offset.y));
        words.push_back(KeyBits(inf.offset.z));
        words.push_back(KeyBits(inf.weight));
      }
      auto it = seen.emplace(std::move(words), static_cast<uint32_t>(seen.size())).first;
      influence_id[v] = it->second;
    }
  }

  // 3. Faces sorted stably by material ID.
  std::vector<uint32_t> order(faces);
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(),
                   [&](uint32_t a, uint32_t b) { return source.materials[a] < source.materials[b]; });

  // 4. Welding per element.
  KeyIndex<12> weld;
  MeshElement* element = nullptr;
  int32_t element_material = 0;
  bool element_has_skin = false;
  auto finish = [&]() {
    if (element && !element_has_skin) element->skin.clear();
  };
  for (size_t o = 0; o < faces; ++o) {
    const uint32_t f = order[o];
    const int32_t material = source.materials[f];
    std::array<uint32_t, 12> keys[3];
    MeshVertex vertex[3];
    int32_t src_vertex[3];
    for (int k = 0; k < 3; ++k) {
      const size_t c = static_cast<size_t>(f) * 3 + static_cast<size_t>(k);
      const int32_t vi = source.vertex_indices[c];
      src_vertex[k] = vi;
      MeshVertex& v = vertex[k];
      v.position = source.skinned ? Vec3{0.0f, 0.0f, 0.0f} : source.positions[static_cast<size_t>(vi)];
      v.normal = corner_normal[c];
      v.colour = has_colour ? source.colours[static_cast<size_t>(source.colour_indices[c])] : 0xFFFFFFFFu;
      if (has_uv) {
        size_t t = static_cast<size_t>(source.uv_indices[c]) * 2;
        v.u = source.uvs[t];
        v.v = source.uvs[t + 1];
      }
      keys[k] = {KeyBits(v.position.x),
                 KeyBits(v.position.y),
                 KeyBits(v.position.z),
                 KeyBits(v.normal.x),
                 KeyBits(v.normal.y),
                 KeyBits(v.normal.z),
                 KeyBits(v.u),
                 KeyBits(v.v),
                 v.colour,
                 static_cast<uint32_t>(source.smoothing[f]),
                 static_cast<uint32_t>(material),
                 source.skinned ? influence_id[static_cast<size_t>(vi)] : 0u};
    }
    bool start = element == nullptr || material != element_material;
    if (!start) {
      // Would this face pass either limit?
      size_t fresh = 0;
      for (int k = 0; k < 3; ++k) {
        if (weld.Find(keys[k]) >= 0) continue;
        bool repeat = false;
        for (int j = 0; j < k; ++j) repeat = repeat || keys[j] == keys[k];
        if (!repeat) ++fresh;
      }
      start = element->indices.size() + 3 > kMaxElementIndices ||
              element->vertices.size() + fresh > kMaxElementVertices;
    }
    if (start) {
      finish();
      elements->emplace_back();
      element = &elements->back();
      element->material = material_name(material);
      element_material = material;
      element_has_skin = false;
      weld.Clear();
    }
    for (int k = 0; k < 3; ++k) {
      bool added;
      uint32_t id = weld.Insert(keys[k], &added);
      if (added) {
        element->vertices.push_back(vertex[k]);
        if (source.skinned) {
          const auto& list = source.skin[static_cast<size_t>(src_vertex[k])];
          element->skin.push_back(list);
          element_has_skin = element_has_skin || !list.empty();
        }
      }
      element->indices.push_back(id);
    }
  }
  finish();
}

}  // namespace scene::internal
