// The cache road: the binary cache under
// data/scenesbin/ is used when it decodes completely and its "SRC " stamp,
// if any, matches the text; otherwise the text is converted, written
// atomically, and the data are taken from the bytes written. A damaged
// cache is deleted only when its text exists (a scene shipped without text
// keeps its cache); an unwritable cache folder still loads.
#include "scene/scene.h"

namespace scene {

namespace {

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

std::string SceneTextPath(std::string_view argument) {
  return "data/scenes/" + core::NormalizeSeparators(argument);
}

std::string SceneCachePath(std::string_view argument) {
  std::string path = core::NormalizeSeparators(argument);
  size_t slash = path.find_last_of('/');
  std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = base.find_last_of('.');
  if (dot != std::string::npos) base.resize(dot);
  return "data/scenesbin/" + folder + base + ".HVX";
}

bool SceneArgumentAllowed(std::string_view argument) {
  std::string path = core::NormalizeSeparators(argument);
  if (path.empty() || path[0] == '/' || path.back() == '/') return false;
  if (path.size() >= 2 && path[1] == ':') return false;  // a drive letter
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    if (path.compare(pos, end - pos, "..") == 0) return false;
    pos = end + 1;
  }
  return true;
}

int LoadSceneData(const char* argument, SceneFile* out) {
  *out = SceneFile();
  const std::string text_path = SceneTextPath(argument ? argument : "");
  if (!argument || !SceneArgumentAllowed(argument)) {
    core::ShowError("Error loading %s (doesn't exist?)", text_path.c_str());
    return -1;
  }
  const std::string cache_path = SceneCachePath(argument);
  SourceStamp stamp;
  const bool text_exists = StatSceneText(text_path.c_str(), &stamp);

  std::string bytes;
  if (core::FileExists(cache_path)) {
    DecodeResult result =
        ReadSceneFileBytes(cache_path.c_str(), &bytes) ? DecodeSceneBinary(bytes, out) : DecodeResult::kDamaged;
    if (result == DecodeResult::kOk) {
      if (!text_exists || !out->has_source || out->source == stamp) return 0;
      core::Trace("SCENE: %s changed since %s was written; converting again\n", text_path.c_str(),
                  cache_path.c_str());
    } else if (!text_exists) {
      if (result == DecodeResult::kOldVersion)
        core::ShowError("%s", kOldVersionMessage);
      else
        core::ShowError("Error loading %s (damaged scene cache)", cache_path.c_str());
      return -1;
    } else {
      core::Trace("SCENE: %s is %s; rebuilding it from %s\n", cache_path.c_str(),
                  result == DecodeResult::kOldVersion ? "of an old version" : "damaged", text_path.c_str());
      core::DeleteFile(cache_path);
    }
  } else if (!text_exists) {
    core::ShowError("Error loading %s (doesn't exist?)", text_path.c_str());
    return -1;
  }

  if (ConvertSceneTextToBytes(text_path.c_str(), &bytes) != 0) {
    *out = SceneFile();
    return -1;
  }
  bool written = false;
  if (core::MakeFolders(FolderOf(cache_path)) == 0) {
    core::FilePtr file(core::OpenAtomicFile(cache_path.c_str()));
    written = file && file->Write(bytes.data(), 1, bytes.size()) == bytes.size() && file->Commit() == 0;
  }
  if (!written)
    core::RaiseRuntimeMessage("Cannot write the scene cache %s; %s loads from its text", cache_path.c_str(),
                              text_path.c_str());
  if (DecodeSceneBinary(bytes, out) != DecodeResult::kOk) {  // never expected: the bytes were just written
    core::ShowError("Error loading %s (damaged scene cache)", cache_path.c_str());
    return -1;
  }
  return 0;
}

int InvalidateSceneCache(const char* argument) {
  if (!argument || !SceneArgumentAllowed(argument)) return -1;
  SourceStamp stamp;
  if (!StatSceneText(SceneTextPath(argument).c_str(), &stamp)) return -1;
  return core::DeleteFile(SceneCachePath(argument));
}

}  // namespace scene
