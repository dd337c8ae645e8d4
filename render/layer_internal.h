// Shared between the render device layer's files (layer.cpp keeps the
// state, layer_images.cpp makes textures from images). Not for other
// modules: they use render/render.h.
#pragma once

#include <memory>

#include "render/device.h"
#include "render/layer.h"

namespace render::layer {

// The device's texture size limits (0 x 0 before InitRenderLayer).
uint32_t MaxTextureWidth();
uint32_t MaxTextureHeight();

// Stores exactly one of the three objects in the texture table. -1 when the
// layer is not running or the table cannot grow.
TextureId AddTextureEntry(std::shared_ptr<Texture> texture, std::shared_ptr<CubeTexture> cube,
                          std::shared_ptr<Surface> depth);

}  // namespace render::layer
