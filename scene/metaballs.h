// The metaball field: one isosurface shared by the whole program. Each
// frame the scene resets it, adds the positions of its metaball
// placeholders as balls (grid units, at most 64) and draws it. The field is
// sampled on a 64 × 64 × 64 grid (cells 0..63, corners 0..64) and the
// surface at 0.08 is found by marching cubes that start from each ball and
// follow the surface from cell to cell, so only cells near it are touched.
// The buffers are made once (InitMetaballs): a frame allocates nothing.
//
// Corner i of the cell at (a, b, c) is (a, b, c) + kCellCorner[i]; edge k
// joins kCellEdge[k][0] and kCellEdge[k][1]. A corner is "below" when its
// value is under the iso value (outside the blobs).
#pragma once

#include <cstdint>
#include <functional>

#include "render/layer.h"
#include "render/materials.h"
#include "scene/math.h"

namespace scene {

inline constexpr int kMetaballGrid = 64;        // cells per axis
inline constexpr int kMaxMetaballs = 64;        // balls per frame
inline constexpr float kMetaballIso = 0.08f;
inline constexpr uint32_t kMetaballVertexCapacity = 60000;  // per batch
inline constexpr uint32_t kMetaballIndexCapacity = 60000;
// A cell adds at most 12 vertices and 15 indices: a batch is drawn before
// a cell when either count is above this.
inline constexpr uint32_t kMetaballBatchLimit = 59963;

// --- marching-cubes tables (made by code at first use; no device) -------------

extern const int kCellCorner[8][3];
extern const int kCellEdge[12][2];

struct MarchingCubesTables {
  uint16_t edge_mask[256];      // bit k: edge k is cut
  int8_t triangles[256][16];    // edge numbers, three per triangle, -1 terminated
};
// Built on the first call. A triangle (a, b, c) has (b − a) × (c − a)
// pointing to the below side; an ambiguous face cuts off each of its below
// corners alone, so two cells sharing a face agree on it.
const MarchingCubesTables& GetMarchingCubesTables();

// --- the field (no device) ----------------------------------------------------

// Value Σ 1 / (|g − p|² + 1) and normal Σ w · (g − p) / |g − p| at a point;
// a ball exactly at g adds nothing to the normal.
void MetaballFieldAt(const Vec3* balls, int count, int a, int b, int c, float* value, Vec3* normal);

// Polygonises one cell from its corner values and normals: appends one
// vertex per cut edge (in edge order) and three indices per triangle
// (`base` added). Returns the triangle count; *vertex_count gets the
// vertices added.
int PolygoniseCell(int a, int b, int c, const float values[8], const Vec3 normals[8], render::RenderVertex* vertices,
                   uint16_t* indices, uint16_t base, uint32_t* vertex_count);

// --- the shared field -------------------------------------------------------------

// Allocates the buffers; 0, -1 when out of memory. Again: nothing to do.
int InitMetaballs();
void FreeMetaballs();
bool MetaballsReady();

void ResetBalls();
// True for a ball inside the grid (−1 < x, y, z < 64, so finite).
bool InsideGrid(const Vec3& position);
// Appends while fewer than 64 balls; false for a ball not taken (the 65th,
// or one off the grid or not finite: such a ball would only seed nothing).
bool AddBall(const Vec3& position);
int BallCount();
// The frame's material; -1 draws with "NULL".
void SetMaterial(render::ShaderHandle shader);

// A finished batch: its vertices and indices (three per triangle, relative
// to its first vertex), valid only during the call.
using MetaballBatchSink = std::function<void(const render::RenderVertex* vertices, uint32_t vertex_count,
                                             const uint16_t* indices, uint32_t index_count)>;
// Polygonises the current balls by surface following into batches handed
// to `sink`. Returns the triangle count; -1 without InitMetaballs. Balls
// outside the grid or not finite seed nothing.
int PolygoniseMetaballs(const MetaballBatchSink& sink);

// Draws the surface of the current balls through the current shader
// manager, identity world, in the device's current view and viewport
// (the caller's own): each batch is submitted and flushed at once, as the
// next one reuses the arrays. Nothing without balls; without InitMetaballs
// it draws nothing and traces that once.
void DrawMetaballs();

// --- the scene's metaball step ---------------------------------------------------

struct ProceduralDrawContext;
// Resets the field, adds each metaball placeholder's position at the
// pass's animation time (at most 64; the rest are traced once per scene),
// takes the first one's material (-1: "NULL") and draws.
void DrawMetaballPlaceholders(const ProceduralDrawContext& ctx);
// Makes it the procedural drawer's metaball stage.
void InstallMetaballStage();

// Field evaluations of the last PolygoniseMetaballs (benchmarks).
uint64_t MetaballFieldEvaluations();

}  // namespace scene
