// The whole render module, for one transition: include the topic header
// you need instead (device.h, gl_context.h, display.h, layer.h,
// materials.h, deformers.h, postfx.h, test_hooks.h).
#pragma once

#include "render/device.h"
#include "render/display.h"
#include "render/gl_context.h"
#include "render/layer.h"
#include "render/deformers.h"
#include "render/materials.h"
#include "render/postfx.h"
#include "render/test_hooks.h"
