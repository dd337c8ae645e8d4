// Internal to render: what the material files share.
#pragma once

#include "render/device.h"
#include "render/materials.h"
#include "render/values.h"

namespace render {

// The current camera's orientation with translation and projective parts
// cleared (identity without a camera).
Matrix CameraOrientation();
void AddTrianglesDrawn(uint32_t count);
// The device materials draw with: the render layer's, else the display's.
Device* MaterialDevice();
// The pass's TEXTUREFACTOR at `time`.
Color PassTextureFactor(const ShaderPass& pass, float time);
// Empties the manager stack (static start-up and shut-down).
void ClearShaderManagerStack();

}  // namespace render
