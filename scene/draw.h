// Drawing a scene: one frame of a Scene through the device into the current
// render target, as its current camera (or a given view) sees it. Objects
// go through the current shader manager's render queue; lights and fog are
// set on the device; planar mirrors are drawn first from the reflected
// camera; stencil shadow volumes (depth-fail counting) and light beams are
// drawn here too.
//
// Typical use (the 3D scene effect, once per frame, with its manager pushed
// and its target current):
//   scene::DrawRequest request;
//   request.now = effect_time;       // the script time; Draw evaluates the scene at it
//   scene::Draw(&scene, request);
//
// "STENCIL", "BEAMOPAQUE" and "BEAMFLARE" are only found by name in the
// current manager (never made or loaded here): the caller holds a reference
// to each, so their textures are loaded.
//
// Every exit, early ones included, leaves the device as the caller had it
// in the states DrawStateGuard (draw_internal.h) lists, the render-target stack at its
// depth, the manager's mirrored flag as found and the render queue empty.
//
// Conventions are Direct3D's throughout (row vectors, left-handed space,
// clockwise front faces); the device maps them to GL.
//
// The pure pieces (shadow-volume extrusion, the mirror plane, its
// reflection and clip planes) need no device and are declared first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "render/device.h"
#include "scene/math.h"
#include "scene/scene.h"

namespace scene {

// ---------------------------------------------------------------------------
// Shadow volumes (no device).
// ---------------------------------------------------------------------------

// Distance a shadow volume's far side is moved from its caster. The far
// plane is fixed at 1,000,000, so depth-fail counting needs the moved
// vertices inside it: true while casters stay within 900,000 of the camera.
inline constexpr float kShadowExtrusion = 100000.0f;

// A vertex of a shadow volume as drawn: the shadow mesh's vertex, position
// and face normal (FVF_XYZ | FVF_NORMAL, 24 bytes).
using VolumeVertex = ShadowVertex;

// A light seen from an object: a directional light's direction of travel,
// or a point (or spot) light's position, in the object's space.
struct ObjectSpaceLight {
  bool directional = true;
  Vec3 vector;
};

// The light in the space of an object whose world matrix is `world`: a
// direction by the transpose of its rotation, a position by its inverse.
// False when the world matrix cannot be inverted or a value is not finite.
bool LightInObjectSpace(const render::Light& light, const Matrix& world, ObjectSpaceLight* out);

// Fills *out (resized, its storage reused from call to call) with the
// shadow mesh's vertices, each one whose normal faces the light (dot(n, d)
// < 0, d the direction of travel, for a point light the unit vector from
// the light to the vertex) moved by d × distance; the others stay.
void ExtrudeShadowVolume(const VolumeVertex* vertices, size_t count, const ObjectSpaceLight& light, float distance,
                         std::vector<VolumeVertex>* out);

// ---------------------------------------------------------------------------
// Mirrors (no device).
// ---------------------------------------------------------------------------

// The plane of triangle a, b, c: normal (b − a) × (c − a) normalised (the
// side the triangle's front face looks at is positive), d = −n·a. False for
// a triangle of zero area or a value that is not finite.
bool TrianglePlane(const Vec3& a, const Vec3& b, const Vec3& c, Plane* plane);

// The reflection through a unit-normal plane: rows 0-2 I − 2nnᵀ, row 3
// −2dn. Its own inverse.
Matrix ReflectionMatrix(const Plane& plane);

// The view that shows a world point P where `view` shows R(P), R the
// plane's reflection: R × view. Its handedness is mirrored, so front faces
// turn counter-clockwise on screen (the manager's mirrored flag swaps the
// culling).
Matrix ReflectedViewMatrix(const Matrix& view, const Plane& plane);

// The edges of a triangle list used by one triangle only (the outline), as
// pairs of world positions in triangle order. `indices` are relative to
// `positions`; indices out of range are skipped.
void OutlineEdges(const Vec3* positions, size_t position_count, const uint16_t* indices, size_t triangle_count,
                  std::vector<Vec3>* edge_points);

inline constexpr int kMaxMirrorClipPlanes = 5;

// The clip planes of a reflection: [0] the mirror plane keeping its front
// side, then one plane through the reflected eye and each outline edge
// (`edge_points` in pairs); with more than four edges (or none), the four
// sides of the outline's bounding rectangle in the mirror plane instead.
// Each side plane keeps the outline's centroid. Planes that the eye and an
// edge do not span are left out. Returns the count (1..5).
int MirrorClipPlanes(const Plane& mirror, const Vec3& reflected_eye, const std::vector<Vec3>& edge_points,
                     Plane planes[kMaxMirrorClipPlanes]);

// ---------------------------------------------------------------------------
// Drawing.
// ---------------------------------------------------------------------------

// Object draw mode bits.
inline constexpr uint32_t kDrawCullOff = 1;       // no frustum test; shadow volumes for the current light only
inline constexpr uint32_t kDrawReceivers = 2;     // elements whose shader has RECEIVESHADOWS
inline constexpr uint32_t kDrawNonReceivers = 4;  // elements whose shader lacks it
inline constexpr uint32_t kDrawBeams = 8;         // light beams of PROJECTBEAMS elements

struct DrawRequest {
  // The view to draw through; nullptr: the scene's own view (its current
  // camera), with depth and stencil cleared first.
  const View* view = nullptr;
  // Clears the colour to opaque black too (own view only).
  bool clear_colour = false;
  // The caller's script time: Draw evaluates the scene at it (the 3D scene
  // effect passes its effect time).
  double now = 0.0;
  // Mirrors are reflected while it is above 0.
  int mirror_budget = 1;
  // The sound analysis bola syncs follow (kSoundBands values, nullptr:
  // silence). Copied into the pass; it need not outlive Draw.
  const float* sound_bands = nullptr;
};

// The band maxima of the sound spectrum handed to the scene.
inline constexpr int kSoundBands = 13;

// One frame of the scene (see the top of this file).
void Draw(Scene* scene, const DrawRequest& request);

// Draws one object (a file index) and, first, its children, in `mode`,
// through the scene's evaluated view, then flushes the queue. `light` is
// the light whose shadow volumes kDrawCullOff draws. Returns the number of
// elements handed on (submitted, volumes or beams drawn).
int DrawObject(Scene* scene, int32_t file_index, uint32_t mode, const render::Light* light = nullptr);

// Procedural objects are drawn by their own modules through these stages.
enum class ProceduralStage {
  kBeforeLights,  // trauma objects, before any light is set
  kAfterObjects,  // metaballs, then sphericals, distort balls, spike tubes, bola syncs (each flushed)
  kParticles,     // after fog, specular, local viewer and lighting went off
};
struct ProceduralDrawContext {
  Scene* scene = nullptr;
  double time = 0.0;  // the animation time sampled
  double now = 0.0;   // the draw request's script time
  const Matrix* view = nullptr;
  Vec3 eye;
  Matrix orientation = Matrix::Identity();  // the pass camera: rows right, up, forward
  const float* sound_bands = nullptr;        // kSoundBands values, or nullptr
};
// Installs the drawer (an empty function removes it).
void SetProceduralDrawer(std::function<void(ProceduralStage, const ProceduralDrawContext&)> drawer);

// Problems are reported once per scene; a scene that goes away (or a test)
// forgets its reports.
void ForgetDrawReports(const Scene* scene);

// Where a shadowed frame spends its processor time (benchmarks): seconds of
// volume extrusion, summed while profiling is on.
void SetShadowProfiling(bool on);  // also zeroes the sum
double ShadowExtrusionSeconds();

}  // namespace scene
