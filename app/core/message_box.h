// Internal to app/core: the platform's modal message box.
#pragma once

namespace core {
// Shows a modal error box and returns when it is closed; false on failure.
bool PresentModalErrorBox(const char* caption, const char* text);
}  // namespace core
