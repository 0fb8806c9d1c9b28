// The emulator's end of the line: a pseudo-terminal whose slave end the
// driver opens, or a real serial device.
#pragma once

#include <string>

#include "options.h"

namespace qelswitch {

struct Line {
    int fd = -1;  // the pseudo-terminal's master, or the device; non-blocking
    // The slave end, held open by the emulator itself: the master then never
    // sees a hang-up while the driver closes and reopens its end, and the
    // line settings stay as the last opener left them.
    int slaveFd = -1;
    std::string path;  // what the driver opens
    // Bytes that waited on the line when it was opened, thrown away: they
    // were sent to no switcher, so none of them is carried out.
    size_t discarded = 0;
};

bool OpenLine(const Options& options, Line* line, std::string* error);
// Waits, at most `limitMs`, until what was written has reached the other
// end: a hang-up throws away whatever the line still holds.
void DrainLine(const Line& line, int limitMs);
void CloseLine(Line* line);

}  // namespace qelswitch
