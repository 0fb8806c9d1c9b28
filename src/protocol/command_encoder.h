// Switcher messages: validation of the written value and the message with
// its checksum digit and CR.
#pragma once

#include <cstdint>

#include "context/context.h"

// "#" values from this on go to bank 2, as the value less this.
constexpr int32_t kBankSize = 16;

// 0 with the message of the context's kind in commandBuffer and
// commandLength; 1 when the value is refused or the kind has no message of
// its own, and then nothing is built.
int32_t BuildCommand(DriverRequest* request);
// Checks a "#" value and picks its bank; writes the value, less 16 in bank 2,
// back into the gate's number.
int32_t SelectBank(DriverRequest* request, int32_t number);
bool HasOnlyBinaryDigits(int32_t value);
bool ExceedsByte(DriverRequest* request);
int32_t FormatHexByte(char* output, int32_t value);
void AppendHexDigit(char* buffer, int32_t position, int32_t value);
int32_t ChecksumDigit(const char* text, int32_t count);
// Bank-2 variants of the "#" message in commandBuffer: "D", then "F" for
// the digit.
void BuildPrefaceCommand(DriverContext* context);
void BuildTrailerCommand(DriverContext* context);
