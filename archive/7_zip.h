// The archiver library wrapper: loads 7-ZIP32.DLL by its path, calls one of its two entry
// points and turns the outcome into a result code with a fixed text. The library name is
// UTF-8; the command line goes to the library as it is, in the system's ANSI code page.
#pragma once

#include <cstdint>
#include <string>

namespace qvu {

constexpr int32_t k7ZipSuccess = 0;
constexpr int32_t k7ZipNoLibraryName = -100;
constexpr int32_t k7ZipNoCommandLine = -101;
constexpr int32_t k7ZipLinkError = -102;
constexpr int32_t k7ZipRunning = -103;
constexpr int32_t k7ZipIdle = -104;
constexpr int32_t k7ZipFailed = -105;
constexpr int32_t k7ZipNoEntryPoint = -106;

// Runs commandLine through the library's "SevenZip": 0, -100, -101, -102, -105 or -106.
// A loaded library stays loaded for the rest of the process.
int32_t Exec7Zip(const std::string& libraryName, const std::string& commandLine);
// Asks the library's "SevenZipGetRunning": -103 running, -104 idle, or -102, -106.
int32_t Get7ZipRunning(const std::string& libraryName);
// The text of a result code; "定義外メッセージ" for a code without one.
std::string Get7ZipMessage(int32_t code);

// The extraction command line for the library: extract archivePath with full paths into
// destinationFolder (the current directory when empty), overwriting, without a window.
std::string MakeUnzipCommandLine(const std::string& archivePath, const std::string& destinationFolder);

}  // namespace qvu
