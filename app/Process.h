// The process services of the program: its own id, its own executable, and starting the
// target program once the update is done.
#pragma once

#include <cstdint>
#include <string>

namespace qvu {

// The id of this process (names the backups in tmp/).
uint32_t CurrentProcessId();

// The full path of the running executable; fallback (argv[0]) when the system cannot say.
std::string RunningProgramFile(const char* fallback);

// Starts the program at path with no arguments, this process's environment and current
// directory, and does not wait for it. False when it could not be started.
bool StartProgram(const std::string& path);

}  // namespace qvu
