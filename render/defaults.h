// Internal to render: the default render and texture-stage states.
#pragma once

#include <cstddef>

#include "render/values.h"

namespace render {

struct RenderStateDefault {
  RenderStateType state;
  uint32_t value;
};
struct StageStateDefault {
  TextureStageStateType type;
  uint32_t value;
};

// Every listed render state with its default, in the order they are set.
const RenderStateDefault* DefaultRenderStates(size_t* count);
// The defaults every stage gets; stage 0 then takes kStage0Overrides.
const StageStateDefault* DefaultStageStates(size_t* count);
const StageStateDefault* Stage0Overrides(size_t* count);

}  // namespace render
