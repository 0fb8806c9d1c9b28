// Gate references "@name$" in a command text, replaced by the gates' values.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kWorkAreaSize = 256;

// Substitutes in place. Returns 0, or 1 when the substituted text would not
// fit 255 characters (the text is then left as it was).
int32_t SubstituteGateValues(char* text, size_t capacity);
void LookupGateValue(const char* name, char* value /* kWorkAreaSize bytes */);
