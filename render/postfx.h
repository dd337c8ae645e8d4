// Post-processing draws over render textures: the full-target textured
// quad of the mixers and the FILTER effect, and the radial blur used by the
// scene's light beams and by the FILTER effect.
//
// Main thread only; every call is safe before InitRenderLayer (it fails).
#pragma once

#include <cstdint>

#include "render/layer.h"

namespace render {

// One quad over the whole current target with `texture` on stage 0: colour
// from the texture, alpha from `texture_factor`'s alpha byte; linear,
// clamped sampling. Its corners lie on the pixel edges, so each texel lands
// on its own pixel when the sizes agree. Depth, culling, alpha test,
// stencil, fog and clip planes are switched off; blending is the caller's.
// Nothing is drawn for a missing texture. `diffuse` scales the colour
// (the master level's grey).
void DrawScreenQuad(TextureId texture, uint32_t texture_factor, uint32_t diffuse = 0xFFFFFFFFu);

// What RadialBlur does with its result besides returning it.
enum class RadialBlurDraw {
  kNone,      // only the work texture holds it
  kOpaque,    // also copied over the current target
  kAdditive,  // also added to the current target (source and destination factor one)
};

// A zoom blur of render texture `source` towards the centre, ping-ponging
// between the render textures `work0` and `work1`. Pass i = 1 .. passes
// reads the previous pass's texture (the source in pass 1) twice: on stage
// 0 zoomed, with coordinates step * i .. 1 - step * i, times `colour`
// (A8R8G8B8), and on stage 1 as it is, times `colour`, the two summed. It
// writes whichever work texture it does not read, so no pass reads its own
// target and `source` may be one of the work textures. Afterwards the
// current target is the one before the call, drawn into as `draw` says.
// Returns the texture holding the last pass; `source` itself when passes
// < 1; -1 (nothing drawn, target stack unchanged) when a texture is
// missing, a work texture is no render target or both work textures are
// the same.
TextureId RadialBlur(TextureId source, TextureId work0, TextureId work1, int passes, float step, uint32_t colour,
                     RadialBlurDraw draw = RadialBlurDraw::kNone);

}  // namespace render
