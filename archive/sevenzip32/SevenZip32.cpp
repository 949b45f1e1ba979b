// The entry points: one command at a time, a reason for every failure, and nothing thrown
// or aborted across the C boundary.
#include "archive/sevenzip32/SevenZip32.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <string>

#include "archive/sevenzip32/CommandLine.h"
#include "archive/sevenzip32/EntryNames.h"
#include "archive/sevenzip32/Extract.h"

namespace {

std::atomic<bool> running{false};

// Copies as much of text as fits, never splitting a UTF-8 character, and terminates it.
void WriteOutput(char* output, unsigned long outputSize, const std::string& text) {
  if (output == nullptr || outputSize == 0) return;
  size_t length = std::min<size_t>(text.size(), outputSize - 1);
  if (length < text.size()) {
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  }
  std::memcpy(output, text.data(), length);
  output[length] = '\0';
}

int Run(const char* commandLine, std::string& reason) {
  sevenzip32::Command command;
  std::string text = commandLine != nullptr ? sevenzip32::CommandLineText(commandLine) : std::string();
  if (!sevenzip32::ParseCommandLine(commandLine != nullptr ? text.c_str() : nullptr, command, reason))
    return SEVENZIP_BAD_COMMAND;
  int result = sevenzip32::Extract(command, reason);
  if (result == SEVENZIP_OK) reason = "Everything is Ok";
  return result;
}

}  // namespace

extern "C" int SEVENZIP32_CALL SevenZip(void* /*window*/, const char* commandLine, char* output, unsigned long outputSize) {
  WriteOutput(output, outputSize, "");
  bool idle = false;
  if (!running.compare_exchange_strong(idle, true)) {
    WriteOutput(output, outputSize, "another command is running");
    return SEVENZIP_BUSY;
  }
  int result = SEVENZIP_INTERNAL;
  try {
    std::string reason;
    result = Run(commandLine, reason);
    WriteOutput(output, outputSize, reason);
  } catch (const std::bad_alloc&) {
    WriteOutput(output, outputSize, "out of memory");
  } catch (...) {
    WriteOutput(output, outputSize, "internal error");
  }
  running.store(false);
  return result;
}

extern "C" int SEVENZIP32_CALL SevenZipGetRunning(void) { return running.load() ? 1 : 0; }
