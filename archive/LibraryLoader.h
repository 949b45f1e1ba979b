// Loading a library at run time by its path and finding its entry points by name.
#pragma once

#include <string>

// Entry points of libraries written for the Win32 API use its calling convention.
#if defined(_WIN32)
#define QVU_LIBRARY_CALL __stdcall
#else
#define QVU_LIBRARY_CALL
#endif

namespace qvu {

// The library at path (UTF-8), or null when it cannot be loaded. Each load raises the
// library's load count; a library stays loaded until released as often.
void* LoadLibraryAt(const std::string& path);
// The entry point called name, or null.
void* FindEntryPoint(void* library, const char* name);
void ReleaseLibrary(void* library);

}  // namespace qvu
