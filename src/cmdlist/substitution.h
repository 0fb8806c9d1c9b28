// Gate references "@name$" in a command text, replaced by the gates' values.
#pragma once

#include <cstddef>
#include <cstdint>

// The substituted text, a gate name and a value each hold at most 255
// characters and the NUL.
constexpr size_t kWorkAreaSize = 256;

// Gates are looked up as the host client `client` (the instance's own).
// Substitutes in place. Returns 0, or 1 when the substituted text would not
// fit 255 characters or `capacity` (the text is then left as it was).
int32_t SubstituteGateValues(char* text, size_t capacity, uint32_t client = 0);

// The gate's current value as text: its text for a string gate, the number
// truncated toward zero for any other; empty when the gate cannot be read.
void LookupGateValue(uint32_t client, const char* name, char* value /* kWorkAreaSize bytes */);
