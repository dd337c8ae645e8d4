// Render data of meshes: the shared vertex and index arrays, ranges, the
// bounding radius, skins and shadow meshes. Device buffers and shaders are
// the loader's (scene_graph.cpp); everything here is plain memory, so a
// tool without a device builds the same data.
#include <cmath>
#include <map>
#include <tuple>

#include "scene/scene.h"

namespace scene {
namespace {

using PositionKey = std::tuple<float, float, float>;

PositionKey KeyOf(const Vec3& p) { return {p.x, p.y, p.z}; }

// The two triangles (and their corner slots) that use an edge.
struct EdgeUse {
  uint32_t triangle[2];
  uint32_t from[2], to[2];  // shadow vertex indices of the edge's ends in each triangle
  int count = 0;
};

}  // namespace

bool BuildShadowMesh(const render::RenderVertex* vertices, const uint16_t* indices, uint32_t triangle_count,
                     ShadowMesh* shadow) {
  shadow->vertices.clear();
  shadow->indices.clear();
  if (static_cast<uint64_t>(triangle_count) * 3 > 65535) return false;
  shadow->vertices.reserve(triangle_count * 3);
  for (uint32_t t = 0; t < triangle_count; ++t) {
    Vec3 p[3];
    for (int c = 0; c < 3; ++c) {
      const render::RenderVertex& v = vertices[indices[t * 3 + c]];
      p[c] = {v.x, v.y, v.z};
    }
    const Vec3 n = Normalize(Cross(Sub(p[1], p[0]), Sub(p[2], p[0])));
    for (int c = 0; c < 3; ++c) shadow->vertices.push_back({p[c], n});
  }
  // Edges keyed by their two end positions, the smaller first; each keeps
  // its first two triangles, in triangle order.
  std::map<std::pair<PositionKey, PositionKey>, EdgeUse> edges;
  std::vector<std::map<std::pair<PositionKey, PositionKey>, EdgeUse>::iterator> edge_order;
  for (uint32_t t = 0; t < triangle_count; ++t) {
    for (int c = 0; c < 3; ++c) {
      const uint32_t a = t * 3 + c, b = t * 3 + (c + 1) % 3;
      PositionKey ka = KeyOf(shadow->vertices[a].position), kb = KeyOf(shadow->vertices[b].position);
      auto key = ka < kb ? std::make_pair(ka, kb) : std::make_pair(kb, ka);
      auto [it, added] = edges.try_emplace(key);
      if (added) edge_order.push_back(it);
      EdgeUse& use = it->second;
      if (use.count < 2) {
        use.triangle[use.count] = t;
        use.from[use.count] = a;
        use.to[use.count] = b;
        ++use.count;
      }
    }
  }
  shadow->indices.reserve(triangle_count * 3 + edge_order.size() * 6);
  for (uint32_t i = 0; i < triangle_count * 3; ++i) shadow->indices.push_back(static_cast<uint16_t>(i));
  for (auto it : edge_order) {
    const EdgeUse& use = it->second;
    if (use.count < 2) {
      // An open edge: a degenerate quad.
      for (int k = 0; k < 6; ++k) shadow->indices.push_back(static_cast<uint16_t>(use.from[0]));
      continue;
    }
    // The first triangle runs a1 -> b1; the quad runs the edge the other
    // way on its side and along the second triangle's copies on the other,
    // so it winds as the surface does. The second triangle's copy of a is
    // whichever of its ends lies where a1 lies.
    const uint32_t a1 = use.from[0], b1 = use.to[0];
    uint32_t a2 = use.from[1], b2 = use.to[1];
    if (!(KeyOf(shadow->vertices[a2].position) == KeyOf(shadow->vertices[a1].position))) std::swap(a2, b2);
    const uint16_t quad[6] = {static_cast<uint16_t>(b1), static_cast<uint16_t>(a1), static_cast<uint16_t>(a2),
                              static_cast<uint16_t>(b1), static_cast<uint16_t>(a2), static_cast<uint16_t>(b2)};
    shadow->indices.insert(shadow->indices.end(), quad, quad + 6);
  }
  return true;
}

int BuildRenderData(const std::vector<MeshElement>& elements, Mesh* mesh) {
  mesh->elements.clear();
  mesh->vertices.clear();
  mesh->indices.clear();
  mesh->radius = 0.0f;
  size_t vertex_total = 0, index_total = 0;
  for (const MeshElement& e : elements) {
    if (e.vertices.size() > 65535 || e.indices.size() % 3 != 0) return -1;
    vertex_total += e.vertices.size();
    index_total += e.indices.size();
  }
  mesh->vertices.reserve(vertex_total);
  mesh->indices.reserve(index_total);
  mesh->elements.reserve(elements.size());
  float radius_squared = 0.0f;
  for (const MeshElement& e : elements) {
    RenderElement out;
    out.first_vertex = static_cast<uint32_t>(mesh->vertices.size());
    out.vertex_count = static_cast<uint32_t>(e.vertices.size());
    out.first_index = static_cast<uint32_t>(mesh->indices.size());
    out.triangle_count = static_cast<uint32_t>(e.indices.size() / 3);
    out.material_name = e.material;
    for (const MeshVertex& v : e.vertices) {
      mesh->vertices.push_back({v.position.x, v.position.y, v.position.z, v.normal.x, v.normal.y, v.normal.z,
                                v.colour, v.u, -v.v});
      if (!e.HasSkin()) radius_squared = std::fmax(radius_squared, Dot(v.position, v.position));
    }
    for (uint32_t index : e.indices) {
      if (index >= e.vertices.size()) return -1;
      mesh->indices.push_back(static_cast<uint16_t>(index));
    }
    if (e.HasSkin() && e.skin.size() == e.vertices.size()) {
      out.skinned = true;
      out.skin.first.reserve(e.vertices.size() + 1);
      for (const std::vector<SkinInfluence>& list : e.skin) {
        out.skin.first.push_back(static_cast<uint32_t>(out.skin.influences.size()));
        float sum = 0.0f;
        for (const SkinInfluence& k : list) sum += k.weight;
        for (const SkinInfluence& k : list)
          out.skin.influences.push_back(
              {k.bone_id, 0, k.offset, k.weight, sum > 0.0f ? k.weight / sum : 1.0f / static_cast<float>(list.size())});
      }
      out.skin.first.push_back(static_cast<uint32_t>(out.skin.influences.size()));
      out.drawable = false;  // until the loader resolves its bones
      out.skinned_vertices.assign(mesh->vertices.begin() + out.first_vertex, mesh->vertices.end());
    }
    mesh->elements.push_back(std::move(out));
  }
  mesh->radius = std::sqrt(radius_squared);
  for (RenderElement& e : mesh->elements) {
    // A skinned element's corners all lie at the origin until it is
    // skinned: it casts no shadow.
    if (e.skinned) continue;
    e.has_shadow = BuildShadowMesh(mesh->vertices.data() + e.first_vertex, mesh->indices.data() + e.first_index,
                                   e.triangle_count, &e.shadow);
    if (!e.has_shadow)
      core::Trace("Scene: an element of mesh %s (%u triangles) casts no shadow: over 65,535 shadow vertices\n",
                  mesh->name.c_str(), e.triangle_count);
  }
  return 0;
}

}  // namespace scene
