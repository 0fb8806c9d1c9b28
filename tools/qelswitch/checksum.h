// The switcher's one-digit checksum, as the switcher itself checks it.
// Written apart from the driver's encoder on purpose: the emulator is the
// second opinion on what the driver puts on the line.
#pragma once

#include <string_view>

namespace qelswitch {

// The checksum value 0 to 15 over the covered characters (those after the
// command character, up to the one before the checksum).
int ChecksumValue(std::string_view covered);

// The same value as the upper-case hex digit that travels on the line.
char ChecksumChar(std::string_view covered);

}  // namespace qelswitch
