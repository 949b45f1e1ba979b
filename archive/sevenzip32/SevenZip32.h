// The two entry points of the archiver library 7-ZIP32.DLL and the codes SevenZip returns.
// The library takes a 7-Zip-style command line and extracts with libarchive; it shows
// nothing and never asks.
#pragma once

// The calling convention of the Win32 API; the Windows DLL names its exports in a .def file.
#if defined(_WIN32)
#define SEVENZIP32_EXPORT
#define SEVENZIP32_CALL __stdcall
#else
#define SEVENZIP32_EXPORT __attribute__((visibility("default")))
#define SEVENZIP32_CALL
#endif

extern "C" {

// Runs one command, given in the system's ANSI code page. 0 on success; otherwise one of
// the codes below, with a short reason in output (always zero-terminated within outputSize;
// a null output or size 0 is allowed). One command at a time: a call while another runs is
// refused with SEVENZIP_BUSY.
SEVENZIP32_EXPORT int SEVENZIP32_CALL SevenZip(void* window, const char* commandLine, char* output,
                                               unsigned long outputSize);
// Non-zero while a command runs; safe to ask from any thread.
SEVENZIP32_EXPORT int SEVENZIP32_CALL SevenZipGetRunning(void);

}

enum SevenZipResult {
  SEVENZIP_OK = 0,
  SEVENZIP_BAD_COMMAND = 1,     // the command line is not one this library runs
  SEVENZIP_BUSY = 2,            // another command is running
  SEVENZIP_OPEN_FAILED = 3,     // the archive cannot be opened or is no archive
  SEVENZIP_CORRUPT = 4,         // the archive is damaged, encrypted without the password...
  SEVENZIP_UNSAFE_ENTRY = 5,    // an entry would land outside the output folder
  SEVENZIP_WRITE_FAILED = 6,    // the output folder or a file in it cannot be written
  SEVENZIP_INTERNAL = 7,        // out of memory and the like
};
