// What qelhost asks of the system: loading the driver library by path, as a
// host does, the places it looks for one, the driver's environment, a
// temporary file for the driver's trace, and the quotes of the command line.
#pragma once

#include <string>
#include <vector>

#include "qelkophv/qelkophv.h"

namespace qelhost {

// Loads the library at path and finds its QelMain. Returns nullptr and a
// message in *error when either fails.
QelMainFn LoadDriver(const std::string& path, std::string* error);

// Sets an environment variable of this process, where the driver loaded
// into it reads it (getenv, GetEnvironmentVariableA).
void SetDriverVariable(const std::string& name, const std::string& value);

// Where qelhost looks for the driver when --driver names none, in order:
// its own folder, then the archive's driver folder beside it (..\driver on
// Windows, ../lib on Linux).
std::vector<std::string> DriverCandidates();

bool FileExists(const std::string& path);

// The host library stand-in (libmoxpro.so, MOXPRO.dll), loaded from
// qelhost's own folder (on Linux also the archive's ../lib); null with what
// was looked for, and where, in *problem.
void* OpenHostLibrary(std::string* problem);
// A function of a library OpenHostLibrary loaded; null when it has none.
void* LibrarySymbol(void* library, const char* name);

// Whether standard input is a terminal (a console): a scenario read from it
// would wait for typing.
bool StandardInputIsTerminal();

// A new empty file in the system's temporary folder, for the driver's
// trace; empty with the reason in *error when none can be made.
std::string TemporaryTraceFile(std::string* error);

// For each of the count arguments after the program's name: whether the
// command line held it in double quotes. The console's runtime drops the
// quotes on Windows, so they are read from the command line as typed; a
// POSIX shell drops them before the program starts (all false there).
std::vector<bool> QuotedArguments(size_t count);

}  // namespace qelhost
