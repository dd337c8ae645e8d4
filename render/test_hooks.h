// Counters that let tests and benchmarks see what reached OpenGL.
//
// Typical use:
//   uint64_t before = render::GlCallCount(); ...draw...;
//   EXPECT_EQ(render::GlCallCount(), before);  // nothing reached GL
//
// Not here: anything the program itself acts on.
#pragma once

#include <cstdint>

namespace render {

// ===========================================================================
// Test hooks
// ===========================================================================

// Number of OpenGL calls the devices have issued since the program started.
uint64_t GlCallCount();
// Number of GLSL programs the devices have generated and linked.
uint64_t ProgramBuildCount();

}  // namespace render
