// The emulator's command line.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "emulator.h"

namespace qelswitch {

// The rates a POSIX line can be set to here: the one list of them.
inline constexpr uint32_t kBaudRates[] = {50,      75,      110,     134,     150,     200,    300,     600,
                                          1200,    1800,    2400,    4800,    9600,    19200,  38400,   57600,
                                          115200,  230400,  460800,  500000,  576000,  921600, 1000000, 1152000,
                                          1500000, 2000000, 2500000, 3000000, 3500000, 4000000};

// The driver's port name holds 11 characters and its NUL: a link the driver
// is to open by name ("/tmp/sw") must fit.
inline constexpr size_t kMaxLinkLength = 11;

struct Options {
    std::string device;       // empty: a pseudo-terminal
    std::string link;         // a symbolic link to create to the line's path
    std::string controlFifo;  // a FIFO to create and read commands from
    std::string ptyFile;      // a file to write the line's path into
    uint32_t baud = 9600;
    uint32_t dataBits = 8;
    uint32_t stopBits = 1;
    char parity = 'N';  // N, O, E, M or S
    bool printState = false;
    bool control = true;  // read commands from standard input
    bool verbose = false;
    bool timeStamps = false;  // the time of day before every printed line
    bool help = false;
    Faults faults;
    int64_t replugAfter = -1;                                // unplug after this many messages; -1 never
    uint64_t replugSeconds = 3;                              // for this long
    std::vector<std::pair<std::string, std::string>> texts;  // address, text
};

// `arguments` without the program name. On false `error` says what is wrong.
bool ParseOptions(const std::vector<std::string>& arguments, Options* options, std::string* error);

std::string UsageText();

// The command line as both programs take it: true to go on; false when the
// program is done, its exit status in `status` (--version or --help
// printed: 0; a refusal printed: 2). `refuse`, when given, turns away what
// this build cannot do.
using RefuseFunction = bool (*)(const Options& options, std::string* error);
bool TakeCommandLine(int argc, char** argv, const char* version, Options* options, int* status,
                     RefuseFunction refuse = nullptr);

}  // namespace qelswitch
