#include <windows.h>

#include "archive/LibraryLoader.h"

namespace qvu {

void* LoadLibraryAt(const std::string& path) {
  int length = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  if (length <= 0) return nullptr;
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), length);
  // The loader takes a name with "/" for a bare name to search for, not a path.
  for (wchar_t& c : wide)
    if (c == L'/') c = L'\\';
  // A library that fails to load shows no dialog of its own.
  UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE library = LoadLibraryW(wide.c_str());
  SetErrorMode(previous);
  return reinterpret_cast<void*>(library);
}

void* FindEntryPoint(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void ReleaseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

}  // namespace qvu
