// The scene graph: state, playback operations, evaluation and loading.
#include "scene/scene.h"

namespace scene {

Scene::~Scene() { Clear(); }
Scene::Scene(Scene&& other) noexcept { *this = std::move(other); }
Scene& Scene::operator=(Scene&&) noexcept { return *this; }
void Scene::Clear() {}
void Scene::SetStartTime(double) {}
void Scene::SetTimeOffset(double) {}
void Scene::SetSpeed(double, double) {}
void Scene::ResetPlayback() {}
double Scene::AnimationTime(double) const { return 0.0; }
bool Scene::SelectCamera(std::string_view) { return false; }
int32_t Scene::CurrentCameraIndex() const { return -1; }
void Scene::SetNoise(float, float, float, double, double) {}
void Scene::Evaluate(double) {}
SceneObject* Scene::ObjectAt(int32_t) { return nullptr; }
const SceneObject* Scene::ObjectAt(int32_t) const { return nullptr; }
SceneObject* Scene::FindObject(std::string_view) { return nullptr; }
uint32_t ProceduralKindsOf(std::string_view) { return 0; }
void SetProceduralFactory(ProceduralFactory) {}
int LoadSceneBinary(Scene*, const SceneFile&, const LoadOptions&) { return -1; }
int LoadScene(Scene*, const char*, const LoadOptions&) { return -1; }

}  // namespace scene
