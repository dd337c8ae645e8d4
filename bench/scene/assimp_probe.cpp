// Assimp's ReadFile alone, with vjscene's post-processing flags: the
// baseline vjscene_bench.sh compares an import against.
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <assimp/Importer.hpp>
#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: assimp_probe FILE\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  Assimp::Importer importer;
  const aiScene* scene = importer.ReadFile(
      argv[1], aiProcess_Triangulate | aiProcess_JoinIdenticalVertices | aiProcess_SortByPType |
                   aiProcess_ValidateDataStructure | aiProcess_GenSmoothNormals);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (!scene) {
    std::fprintf(stderr, "assimp_probe: %s\n", importer.GetErrorString());
    return 1;
  }
  unsigned faces = 0;
  for (unsigned m = 0; m < scene->mNumMeshes; ++m) faces += scene->mMeshes[m]->mNumFaces;
  std::printf("%.1f ms, %u triangles\n", ms, faces);
  return 0;
}
