#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "archive/sevenzip32/Disk.h"
#include "archive/sevenzip32/WideText_win32.h"

namespace sevenzip32 {
namespace {

bool IsFolder(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The folder's final path, links and junctions resolved, without the "\\?\" prefix that
// GetFinalPathNameByHandleW puts in front; empty when it cannot be had.
std::wstring FinalPath(const std::wstring& folder) {
  HANDLE handle = CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::wstring();
  std::wstring path(MAX_PATH, L'\0');
  DWORD length = GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), VOLUME_NAME_DOS);
  if (length >= path.size()) {
    path.resize(length + 1);
    length = GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), VOLUME_NAME_DOS);
  }
  CloseHandle(handle);
  if (length == 0 || length >= path.size()) return std::wstring();
  path.resize(length);
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + path.substr(8);
  if (path.rfind(L"\\\\?\\", 0) == 0) return path.substr(4);
  return path;
}

std::wstring FullPath(const std::wstring& path) {
  DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (length == 0) return std::wstring();
  std::wstring full(length, L'\0');
  length = GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
  if (length == 0 || length >= full.size()) return std::wstring();
  full.resize(length);
  return full;
}

}  // namespace

bool PrepareFolder(const std::string& folder, std::string& root, std::string& reason) {
  std::wstring path = FullPath(NativePath(folder.empty() ? "." : folder));
  // Each level in turn, so that a missing folder is made with its missing parents. Drive
  // and share names cannot be made and need not be: only the whole path must be a folder.
  for (size_t slash = path.find(L'\\', 1); !path.empty(); slash = path.find(L'\\', slash + 1)) {
    std::wstring level = path.substr(0, slash);
    if (!level.empty() && !IsFolder(level)) CreateDirectoryW(level.c_str(), nullptr);
    if (slash == std::wstring::npos) break;
  }
  if (path.empty() || !IsFolder(path)) {
    reason = "cannot create the output folder";
    return false;
  }
  // Resolved as on the disk, so that libarchive's check that nothing is extracted through a
  // link holds for the folder's own path as well (a junction in it is no trick of the archive).
  std::wstring resolved = FinalPath(path);
  if (resolved.empty()) resolved = path;
  root = Utf8(resolved);
  std::replace(root.begin(), root.end(), '\\', '/');
  if (root.empty() || root.back() != '/') root += '/';
  return true;
}

bool IsLink(const std::string& path) {
  DWORD attributes = GetFileAttributesW(NativePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool Exists(const std::string& path) { return GetFileAttributesW(NativePath(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

void RemoveFile(const std::string& path) {
  std::wstring native = NativePath(path);
  // A file extracted with the archive's read-only mode cannot be deleted as it is.
  SetFileAttributesW(native.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(native.c_str());
}

void AllowReplacing(const std::string& path) {
  std::wstring native = NativePath(path);
  DWORD attributes = GetFileAttributesW(native.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
    SetFileAttributesW(native.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

bool NameAllowed(const std::string& part) {
  if (part.empty() || part.back() == '.' || part.back() == ' ') return false;
  for (unsigned char c : part)
    if (c < 0x20 || std::strchr("<>:\"|?*", c) != nullptr) return false;
  // A device name stays one with any extension: "nul.txt" is NUL.
  std::string stem = part.substr(0, part.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices)
    if (stem == device) return false;
  bool numbered = stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) && stem[3] >= '0' &&
                  stem[3] <= '9';
  return !numbered;
}

bool CanMakeSymbolicLinks() { return false; }

}  // namespace sevenzip32
