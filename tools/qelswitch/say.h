// What the emulator prints: every line through Say, behind the time of day
// when --time-stamps asks for it, and flushed at once for whoever reads it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace qelswitch {

void SetTimeStamps(bool on);
void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Print(const std::vector<std::string>& lines);
// The one line on the bytes thrown away when the line was opened.
void SayDiscarded(size_t bytes);

}  // namespace qelswitch
