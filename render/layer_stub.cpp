// TEMPORARY: stands in for the render device layer until it lands.
#include "render/render.h"

namespace render {
namespace {
float g_effect_time = 0.0f;
}
Device* LayerDevice() { return nullptr; }
TextureId CreateTextureFromImage(const media::Image&, Format, bool) { return -1; }
TextureId CreateNormalMapFromImage(const media::Image&, Format) { return -1; }
TextureId CreateCubeTextureFromImages(const media::Image* const[6], Format) { return -1; }
Format ChooseImageTextureFormat(const media::Image&) { return FMT_A8R8G8B8; }
void ReleaseTexture(TextureId) {}
std::shared_ptr<BaseTexture> GetBaseTextureById(TextureId) { return nullptr; }
std::shared_ptr<VertexBuffer> GetVertexBufferById(int) { return nullptr; }
std::shared_ptr<IndexBuffer> GetIndexBufferById(int) { return nullptr; }
int SharedVertexBuffer() { return -1; }
int SharedIndexBuffer() { return -1; }
int AppendDynamicVertices(int, uint32_t, void**) { return -1; }
int UnlockDynamicVertices(int) { return -1; }
int AppendDynamicIndices(int, uint32_t, void**) { return -1; }
int UnlockDynamicIndices(int) { return -1; }
float EffectTime() { return g_effect_time; }
void SetEffectTime(float seconds) { g_effect_time = seconds; }
}  // namespace render
