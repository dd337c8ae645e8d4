// Material managers: the shader and texture tables, reference counts, the
// shaders made in code, texture loading by name, and the manager stack.
//
// A scripted shader holds no textures until its first reference; the last
// release gives them back but keeps the shader parsed. Textures are shared
// inside one manager by name with a count, so two shaders of one texture
// load it once.
#include <new>

#include "media/media.h"
#include "render/device.h"
#include "render/deformers.h"
#include "render/layer.h"
#include "render/materials.h"
#include "render/materials_internal.h"
#include "render/values.h"

namespace render {
namespace {

core::GrowableArray<ShaderManager*> g_stack;
std::function<void()> g_start_hook;

constexpr const char* kTextureFolder = "data/textures/";

std::string ReducedName(const char* name) { return core::AsciiToUpper(core::BaseName(name ? name : "")); }

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Loads an image for a texture: the colour/alpha JPEG pair first, then the
// TGA, BMP and JPG files of that stem.
bool LoadTextureImage(media::Image* image, const std::string& path) {
  if (media::LoadImage(image, path.c_str(), true) == 0) return true;
  core::Trace("Failed to load texture image %s\n", path.c_str());
  return false;
}

TextureId LoadTextureByBase(const std::string& base) {
  const std::string path = kTextureFolder + base;
  if (base.size() >= 6 && StartsWith(base, "BUMP_")) {
    media::Image image;
    if (!LoadTextureImage(&image, path)) return -1;
    return CreateNormalMapFromImage(image, ChooseImageTextureFormat(image));
  }
  if (base.size() >= 6 && StartsWith(base, "CMAP_")) {
    static const char* const kFaces[6] = {"X+", "X-", "Y+", "Y-", "Z+", "Z-"};
    const std::string cube = base.substr(5);
    media::Image faces[6];
    const media::Image* pointers[6];
    for (int i = 0; i < 6; ++i) {
      if (!LoadTextureImage(&faces[i], std::string(kTextureFolder) + "CMAP" + kFaces[i] + "_" + cube)) return -1;
      pointers[i] = &faces[i];
    }
    return CreateCubeTextureFromImages(pointers, ChooseImageTextureFormat(faces[0]));
  }
  media::Image image;
  if (!LoadTextureImage(&image, path)) return -1;
  return CreateTextureFromImage(image, ChooseImageTextureFormat(image), false);
}

}  // namespace

// ---------------------------------------------------------------------------
// Life
// ---------------------------------------------------------------------------

ShaderManager::~ShaderManager() {
  Shutdown();
  // A manager that goes away must not stay current.
  int index;
  while ((index = g_stack.Find(this)) >= 0) {
    core::Trace("SHADERS: a manager was destroyed while on the stack\n");
    g_stack.RemoveAt(index);
  }
}

int ShaderManager::Init() {
  Shutdown();
  // Both tables are kept, emptied by Shutdown entry by entry, so handles of
  // an earlier start stay dead. The NULL shader (no textures) stays in its
  // slot, as it must be handle 0 (kNullShader).
  RestartDeformers();
  if (g_start_hook) g_start_hook();
  const ShaderHandle null_shader = shaders_.Get(kNullShader) ? TakeReference(kNullShader)
                                                              : CreateBuiltinShader("NULL", BUILTIN_UNTEXTURED);
  if (null_shader != kNullShader) {
    Shutdown();
    return -1;
  }
  ResetTrianglesDrawn();
  initialized_ = true;
  return 0;
}

void ShaderManager::Shutdown() {
  for (ShaderHandle h = shaders_.First(); h >= 0;) {
    const ShaderHandle next = shaders_.Next(h);
    Shader* shader = shaders_.Get(h);
    if (shader->ref_count > 0) {
      shader->ref_count = 0;
      ReleasePassTextures(shader);
    }
    if (h != kNullShader) shaders_.Release(h);
    h = next;
  }
  // Whatever a caller resolved by hand and never gave back.
  for (auto it = textures_.begin(); it != textures_.end(); ++it) {
    ReleaseTexture((*it).texture);
    textures_.Release(it.id());
  }
  mirrored = false;
  initialized_ = false;
}

// ---------------------------------------------------------------------------
// Shaders
// ---------------------------------------------------------------------------

ShaderHandle ShaderManager::FindShader(const char* name) const {
  if (!name) return -1;
  for (ShaderHandle h = shaders_.First(); h >= 0; h = shaders_.Next(h))
    if (core::AsciiEqualNoCase(shaders_.Get(h)->name, name)) return h;
  return -1;
}

int ShaderManager::ResolvePassTextures(Shader* shader) {
  for (size_t i = 0; i < shader->passes.size(); ++i) {
    ShaderPass& pass = shader->passes[i];
    if (!pass.has_texture_name) continue;
    pass.texture = ResolveTexture(pass.texture_name.c_str());
    if (pass.texture < 0) {
      for (size_t j = 0; j < i; ++j) {
        ReleaseTextureHandle(shader->passes[j].texture);
        shader->passes[j].texture = -1;
      }
      return -1;
    }
  }
  return 0;
}

void ShaderManager::ReleasePassTextures(Shader* shader) {
  for (ShaderPass& pass : shader->passes) {
    ReleaseTextureHandle(pass.texture);
    pass.texture = -1;
  }
}

// A further reference; the first one loads the textures.
ShaderHandle ShaderManager::TakeReference(ShaderHandle handle) {
  Shader* shader = shaders_.Get(handle);
  if (!shader) return -1;
  if (shader->ref_count <= 0) {
    shader->ref_count = 0;
    if (ResolvePassTextures(shader) != 0) return -1;
  }
  ++shader->ref_count;
  return handle;
}

ShaderHandle ShaderManager::GetShader(const char* name) {
  if (!name) return -1;
  ShaderHandle handle = FindShader(name);
  // Any texture can be used as a shader by its file name.
  if (handle < 0) return CreateBuiltinShader(name, BUILTIN_TEXTURED, name);
  return TakeReference(handle);
}

void ShaderManager::ReleaseShader(ShaderHandle handle) {
  Shader* shader = shaders_.Get(handle);
  if (!shader || shader->ref_count <= 0) return;
  if (--shader->ref_count == 0) ReleasePassTextures(shader);
}

ShaderHandle ShaderManager::CreateBuiltinShader(const char* name, int kind, const char* texture,
                                                const char* second_texture, Color color) {
  try {
    const std::string reduced = ReducedName(name);
    ShaderHandle existing = FindShader(reduced.c_str());
    if (existing >= 0) return TakeReference(existing);
    if (kind < BUILTIN_UNTEXTURED || kind > BUILTIN_COLOR) return -1;

    Shader shader;
    shader.name = reduced;
    shader.priority = PR_OPAQUE;
    auto textured = [](ShaderPass* pass, const char* file) {
      if (!file) return;
      pass->has_texture_name = true;
      pass->texture_name = file;
    };
    switch (kind) {
      case BUILTIN_UNTEXTURED:
        shader.passes.resize(1);
        shader.passes[0].cull = CULL_NONE;
        break;
      case BUILTIN_TEXTURED:
        shader.passes.resize(1);
        textured(&shader.passes[0], texture);
        break;
      case BUILTIN_SPHERE_MAPPED:
        shader.passes.resize(1);
        textured(&shader.passes[0], texture);
        shader.passes[0].tex_gen = TEXGEN_SPHERE_REFLECTION;
        break;
      case BUILTIN_TEXTURED_PLUS_ENV:
        shader.passes.resize(2);
        textured(&shader.passes[0], texture);
        textured(&shader.passes[1], second_texture);
        shader.passes[1].tex_gen = TEXGEN_SPHERE_REFLECTION;
        shader.passes[1].src_blend = BLEND_ZERO;
        shader.passes[1].dst_blend = BLEND_ONE;
        break;
      case BUILTIN_COLOR:
        shader.passes.resize(1);
        shader.passes[0].cull = CULL_NONE;
        shader.passes[0].color_arg1 = TA_TFACTOR;
        shader.passes[0].texture_factor = color;
        break;
    }
    if (ResolvePassTextures(&shader) != 0) return -1;
    shader.ref_count = 1;
    TextureHandle resolved[2] = {-1, -1};
    for (size_t i = 0; i < shader.passes.size(); ++i) resolved[i] = shader.passes[i].texture;
    ShaderHandle handle = shaders_.Add(std::move(shader));
    if (handle < 0) {
      // The table kept nothing; give the textures back.
      core::Trace("SHADERS: no room for shader %s\n", reduced.c_str());
      for (TextureHandle texture : resolved) ReleaseTextureHandle(texture);
      return -1;
    }
    return handle;
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

// ---------------------------------------------------------------------------
// Textures
// ---------------------------------------------------------------------------

TextureHandle ShaderManager::ResolveTexture(const char* name) {
  if (!name) return -1;
  for (TextureHandle h = textures_.First(); h >= 0; h = textures_.Next(h)) {
    TextureEntry* entry = textures_.Get(h);
    if (entry->name == name) {
      ++entry->count;
      return h;
    }
  }
  try {
    TextureId texture = LoadTextureByBase(ReducedName(name));
    if (texture < 0) {
      core::Trace("Failed to load texture %s\n", name);
      return -1;
    }
    TextureEntry entry;
    entry.name = name;
    entry.texture = texture;
    entry.count = 1;
    TextureHandle handle = textures_.Add(std::move(entry));
    if (handle < 0) ReleaseTexture(texture);
    return handle;
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

void ShaderManager::ReleaseTextureHandle(TextureHandle handle) {
  TextureEntry* entry = textures_.Get(handle);
  if (!entry) return;
  if (--entry->count > 0) return;
  ReleaseTexture(entry->texture);
  textures_.Release(handle);
}

std::shared_ptr<BaseTexture> ShaderManager::PassTexture(const ShaderPass& pass) const {
  const TextureEntry* entry = textures_.Get(pass.texture);
  return entry ? GetBaseTextureById(entry->texture) : nullptr;
}

// ---------------------------------------------------------------------------
// The stack
// ---------------------------------------------------------------------------

int PushShaderManager(ShaderManager* manager) {
  if (!manager) return -1;
  return g_stack.Add(manager) < 0 ? -1 : 0;
}

void PopShaderManager() {
  if (!g_stack.Empty()) g_stack.Truncate(g_stack.Size() - 1);
}

ShaderManager* CurrentShaderManager() { return g_stack.Empty() ? nullptr : g_stack.Back(); }

int ShaderManagerDepth() { return g_stack.Size(); }

void ClearShaderManagerStack() { g_stack = core::GrowableArray<ShaderManager*>(); }

void SetShaderManagerStartHook(std::function<void()> hook) { g_start_hook = std::move(hook); }

}  // namespace render
