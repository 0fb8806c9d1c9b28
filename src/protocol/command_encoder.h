// Switcher messages: validation of the written value and the message with
// its checksum digit and CR.
#pragma once

#include <cstdint>

#include "driver/context.h"

int32_t BuildCommand(DriverRequest* request);
int32_t SelectBank(DriverRequest* request, int32_t number);
bool HasOnlyBinaryDigits(int32_t value);
bool ExceedsByte(DriverRequest* request);
int32_t FormatHexByte(char* output, int32_t value);
void AppendHexDigit(char* buffer, int32_t position, int32_t value);
int32_t ChecksumDigit(const char* text, int32_t count);
void BuildPrefaceCommand(DriverContext* context);
void BuildTrailerCommand(DriverContext* context);
