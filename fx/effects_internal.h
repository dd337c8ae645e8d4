// Helpers shared by the effect model and the effect script.
#pragma once

#include <cstdint>

namespace fx {

class FxClass;
class FxInstance;

// Creation functions of the built-in classes (one source file each).
FxInstance* CreateSoundSyncer(const FxClass& record);

// Decimal text to integer the way the scripts have always read numbers:
// leading white space, an optional sign, digits up to the first other
// character; no digits give 0. Saturates at the 32-bit limits.
int32_t ParseDecimalInt(const char* text);

// Decimal floating-point text; text that is not a number, and numbers that
// are not finite, read as 0.
float ParseDecimalFloat(const char* text);

// The IMAGE class's create function (its record lives with the others).
class FxClass;
class FxInstance;
FxInstance* CreateImageEffect(const FxClass& record);

// Blanks and tabs split command words.
inline bool IsCommandSeparator(char c) { return c == ' ' || c == '\t'; }

}  // namespace fx
