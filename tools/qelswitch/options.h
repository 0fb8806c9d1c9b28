// The emulator's command line.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "baud_rates.h"
#include "emulator.h"

namespace qelswitch {

// The rates a POSIX line can be set to here.
#define QELSWITCH_RATE_NUMBER(rate) rate,
inline constexpr uint32_t kBaudRates[] = {QELSWITCH_BAUD_RATES(QELSWITCH_RATE_NUMBER)};
#undef QELSWITCH_RATE_NUMBER

struct Options {
    std::string device;  // empty: a pseudo-terminal
    std::string link;    // a symbolic link to create to the line's path
    uint32_t baud = 9600;
    uint32_t dataBits = 8;
    uint32_t stopBits = 1;
    char parity = 'N';  // N, O, E, M or S
    bool printState = false;
    bool control = true;  // read commands from standard input
    bool verbose = false;
    bool help = false;
    Faults faults;
    std::vector<std::pair<std::string, std::string>> texts;  // address, text
};

// `arguments` without the program name. On false `error` says what is wrong.
bool ParseOptions(const std::vector<std::string>& arguments, Options* options, std::string* error);

std::string UsageText();

}  // namespace qelswitch
