// Format, vertex-format and matrix helpers (no GL here).
#include "render/device.h"
#include "render/values.h"

namespace render {

uint32_t FormatBitsPerPixel(Format format) {
  switch (format) {
    case FMT_A8R8G8B8:
    case FMT_X8R8G8B8:
    case FMT_D32:
    case FMT_D24S8:
    case FMT_D24X8:
    case FMT_D24X4S4:
    case FMT_INDEX32: return 32;
    case FMT_R8G8B8: return 24;
    case FMT_R5G6B5:
    case FMT_X1R5G5B5:
    case FMT_A1R5G5B5:
    case FMT_A4R4G4B4:
    case FMT_A8R3G3B2:
    case FMT_X4R4G4B4:
    case FMT_D16_LOCKABLE:
    case FMT_D15S1:
    case FMT_D16:
    case FMT_INDEX16: return 16;
    case FMT_R3G3B2:
    case FMT_A8:
    case FMT_P8:
    case FMT_L8: return 8;
    default: return 0;
  }
}

bool FormatHasAlpha(Format format) {
  return format == FMT_A8R8G8B8 || format == FMT_A1R5G5B5 || format == FMT_A4R4G4B4 || format == FMT_A8 ||
         format == FMT_A8R3G3B2;
}

bool FormatIsDepth(Format format) {
  return format == FMT_D16_LOCKABLE || format == FMT_D32 || format == FMT_D15S1 || format == FMT_D24S8 ||
         format == FMT_D24X8 || format == FMT_D24X4S4 || format == FMT_D16;
}

bool FormatHasStencil(Format format) {
  return format == FMT_D15S1 || format == FMT_D24S8 || format == FMT_D24X4S4;
}

bool FormatIsTextureFormat(Format format) {
  return format == FMT_X8R8G8B8 || format == FMT_A8R8G8B8 || format == FMT_R5G6B5 || format == FMT_X1R5G5B5 ||
         format == FMT_A1R5G5B5 || format == FMT_A4R4G4B4;
}

const char* FormatName(Format format) {
  switch (format) {
    case FMT_UNKNOWN: return "UNKNOWN";
    case FMT_R8G8B8: return "R8G8B8";
    case FMT_A8R8G8B8: return "A8R8G8B8";
    case FMT_X8R8G8B8: return "X8R8G8B8";
    case FMT_R5G6B5: return "R5G6B5";
    case FMT_X1R5G5B5: return "X1R5G5B5";
    case FMT_A1R5G5B5: return "A1R5G5B5";
    case FMT_A4R4G4B4: return "A4R4G4B4";
    case FMT_R3G3B2: return "R3G3B2";
    case FMT_A8: return "A8";
    case FMT_A8R3G3B2: return "A8R3G3B2";
    case FMT_X4R4G4B4: return "X4R4G4B4";
    case FMT_P8: return "P8";
    case FMT_L8: return "L8";
    case FMT_D16_LOCKABLE: return "D16_LOCKABLE";
    case FMT_D32: return "D32";
    case FMT_D15S1: return "D15S1";
    case FMT_D24S8: return "D24S8";
    case FMT_D24X8: return "D24X8";
    case FMT_D24X4S4: return "D24X4S4";
    case FMT_D16: return "D16";
    case FMT_VERTEXDATA: return "VERTEXDATA";
    case FMT_INDEX16: return "INDEX16";
    case FMT_INDEX32: return "INDEX32";
  }
  return "?";
}

uint32_t FvfVertexSize(uint32_t fvf) {
  uint32_t size = 0;
  switch (fvf & FVF_POSITION_MASK) {
    case FVF_XYZ: size = 12; break;
    case FVF_XYZRHW: size = 16; break;
    default: return 0;  // no position, or blend weights: not drawable here
  }
  if (fvf & FVF_NORMAL) size += 12;
  if (fvf & FVF_PSIZE) size += 4;
  if (fvf & FVF_DIFFUSE) size += 4;
  if (fvf & FVF_SPECULAR) size += 4;
  uint32_t sets = (fvf & FVF_TEXCOUNT_MASK) >> FVF_TEXCOUNT_SHIFT;
  if (sets > 8) return 0;
  for (uint32_t set = 0; set < sets; ++set) {
    uint32_t code = (fvf >> (16 + set * 2)) & 3;
    static const uint32_t kFloats[4] = {2, 3, 4, 1};
    size += 4 * kFloats[code];
  }
  return size;
}

Matrix Multiply(const Matrix& a, const Matrix& b) {
  Matrix r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      float sum = 0.0f;
      for (int k = 0; k < 4; ++k) sum += a.m[i][k] * b.m[k][j];
      r.m[i][j] = sum;
    }
  return r;
}

}  // namespace render
