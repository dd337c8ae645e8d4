// Helpers shared by the effect model and the effect script.
#pragma once

#include <cstdint>
#include <string_view>

namespace fx {

class FxClass;
class FxInstance;

// Creation functions of the built-in classes (one source file each).
FxInstance* CreateSoundSyncer(const FxClass& record);
FxInstance* CreateVideoEffect(const FxClass& record);
struct Preparation;
void PrepareVideoEffect(const char* arguments, Preparation* preparation);

// Decimal text to integer the way the scripts have always read numbers:
// leading white space, an optional sign, digits up to the first other
// character; no digits give 0. Saturates at the 32-bit limits.
int32_t ParseDecimalInt(std::string_view text);

// A real the way the scripts have always read them: leading white space,
// an optional sign, a decimal with optional exponent (or a "0x" hex real),
// up to the first other character, read in double precision and rounded
// to float. Text that is not a number, and numbers that are not finite as
// a float ("inf", "nan", 1e39), read as 0.
float ParseDecimalFloat(std::string_view text);

// The IMAGE class's create function (its record lives with the others).
class FxClass;
class FxInstance;
FxInstance* CreateImageEffect(const FxClass& record);
struct Preparation;
void PrepareImageEffect(const char* arguments, Preparation* preparation);
// The 3DSCENE class's create function (scene_effect.cpp).
FxInstance* CreateSceneEffect(const FxClass& record);

// The FILTER class's create function.
FxInstance* CreateFilterEffect(const FxClass& record);

// Blanks and tabs split command words.
inline bool IsCommandSeparator(char c) { return c == ' ' || c == '\t'; }

// The first N words of a command, pointing into its text (which must
// outlive them).
template <int N>
struct CommandWords {
  std::string_view word[N];
  int count = 0;

  void Read(const char* text) {
    const char* p = text ? text : "";
    count = 0;
    while (count < N) {
      while (IsCommandSeparator(*p)) ++p;
      if (!*p) break;
      const char* start = p;
      while (*p && !IsCommandSeparator(*p)) ++p;
      word[count++] = std::string_view(start, static_cast<size_t>(p - start));
    }
  }
};

}  // namespace fx
