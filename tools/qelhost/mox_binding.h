// The host library stand-in as qelhost uses it: found at run time (its own
// folder first, as the driver is), so that a qelhost copied without it
// says what it looked for instead of failing to start. The driver finds
// the same library, already in the process.
#pragma once

#include <cstdint>
#include <string>

#include "moxpro_control.h"

namespace qelhost::mox {

// Loads it once; false with what was looked for, and where, in *problem.
bool Load(std::string* problem);

void Reset();
uint32_t AddGate(const char* address, const char* name, uint32_t format);
int SetNumber(const char* gate, double value);
int SetText(const char* gate, const char* text);
const char* Text(const char* gate);
int PutCount(const char* gate);
void DistinctClients(int on);
void ListenToLog(MoxLogListener listener, void* user);
void ListenToPuts(MoxPutListener listener, void* user);

}  // namespace qelhost::mox
