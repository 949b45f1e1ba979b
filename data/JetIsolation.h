// Where the engine runs. mdbtools, under both engines, is not hardened against damaged
// files: some make it loop without end, others make it crash. So every reading runs apart
// from the program with a time limit, and one that dies or overruns is a damaged file, never
// a crash or a hang of the program.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace qvu {

// Runs work apart from the program for at most timeout and returns what it returned;
// nullopt when it crashed, threw or overran. work must not touch the program's state: on
// Linux it runs in a child process, and what it returns is all that comes back.
std::optional<std::string> RunIsolated(const std::function<std::string()>& work,
                                       std::chrono::milliseconds timeout);

}  // namespace qvu
