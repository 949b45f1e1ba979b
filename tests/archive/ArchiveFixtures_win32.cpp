#include <windows.h>

#include <algorithm>
#include <random>
#include <stdexcept>

#include "tests/archive/ArchiveFixtures.h"

namespace qvu::test {
namespace {

std::string Encode(const std::string& utf8, UINT codePage) {
  std::wstring wide = Native(utf8).wstring();
  if (wide.empty()) return std::string();
  BOOL lost = FALSE;
  int length = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), nullptr,
                                   0, nullptr, &lost);
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), text.data(), length,
                      nullptr, &lost);
  if (length == 0 || lost) throw std::runtime_error("not in code page " + std::to_string(codePage) + ": " + utf8);
  return text;
}

}  // namespace

std::string ToCp932(const std::string& utf8) { return Encode(utf8, 932); }

std::string ToAnsi(const std::string& utf8) { return Encode(utf8, CP_ACP); }

// The export directory of the library mapped as an image, without running its code.
std::vector<std::string> ExportedNames(const std::string& library) {
  std::vector<std::string> names;
  HMODULE module = LoadLibraryExW(Native(library).wstring().c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  if (module == nullptr) return names;
  const auto* base = reinterpret_cast<const unsigned char*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (entry.VirtualAddress != 0) {
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    const auto* nameRvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
      names.push_back(reinterpret_cast<const char*>(base + nameRvas[i]));
  }
  FreeLibrary(module);
  std::sort(names.begin(), names.end());
  return names;
}

ArchivePipe::ArchivePipe(const ScratchDir&) : handle_(reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE)) {
  std::random_device seed;
  path_ = "\\\\.\\pipe\\qvu-archive-" + std::to_string(seed());
  HANDLE pipe = CreateNamedPipeW(Native(path_).wstring().c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                 65536, 65536, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) throw std::runtime_error("CreateNamedPipeW failed");
  handle_ = reinterpret_cast<intptr_t>(pipe);
}

ArchivePipe::~ArchivePipe() { CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

bool ArchivePipe::Send(const std::string& bytes) {
  HANDLE pipe = reinterpret_cast<HANDLE>(handle_);
  if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) return false;
  DWORD written = 0;
  bool ok = ::WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
  FlushFileBuffers(pipe);
  DisconnectNamedPipe(pipe);
  return ok;
}

}  // namespace qvu::test
