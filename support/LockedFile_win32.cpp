#include <windows.h>

#include <algorithm>

#include "support/LockedFile.h"
#include "support/WideText_win32.h"

namespace qvu {
namespace {

// A holder that removes the file between our open and our lock makes us retry; more tries
// than this mean something keeps replacing it.
constexpr int kMaxTries = 8;
// Every share mode: other copies must reach the lock to hear that it is taken, and the holder
// must be able to delete the file it still holds open.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE HandleOf(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

bool SameFile(HANDLE held, const std::wstring& path) {
  HANDLE named = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION a{}, b{};
  bool same = GetFileInformationByHandle(held, &a) && GetFileInformationByHandle(named, &b) &&
              a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
              a.nFileIndexLow == b.nFileIndexLow;
  CloseHandle(named);
  return same;
}

// The whole file and everything past its end, so that appends stay under the lock.
bool LockAll(HANDLE file, DWORD flags) {
  OVERLAPPED at{};
  return LockFileEx(file, flags, 0, MAXDWORD, MAXDWORD, &at) != 0;
}

}  // namespace

LockedFile::Status LockedFile::Acquire(const std::string& path, std::unique_ptr<LockedFile>& held) {
  held.reset();
  const std::wstring wide = WidePath(path);
  for (int i = 0; i < kMaxTries; ++i) {
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      // A file its holder deleted while still holding it open refuses new opens until the
      // holder lets go: the lock is still taken.
      return GetLastError() == ERROR_ACCESS_DENIED && GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES
                 ? Status::Busy
                 : Status::Failed;
    }
    if (!LockAll(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY)) {
      DWORD error = GetLastError();
      CloseHandle(file);
      return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? Status::Busy : Status::Failed;
    }
    if (SameFile(file, wide)) {
      held.reset(new LockedFile(path, reinterpret_cast<intptr_t>(file)));
      return Status::Held;
    }
    CloseHandle(file);
  }
  return Status::Failed;
}

// Closing the handle ends the lock.
LockedFile::~LockedFile() { CloseHandle(HandleOf(handle_)); }

bool LockedFile::ReadAll(std::string& bytes, size_t maxSize) const {
  HANDLE file = HandleOf(handle_);
  bytes.clear();
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size) || size.QuadPart < 0 || static_cast<uint64_t>(size.QuadPart) > maxSize) return false;
  bytes.resize(static_cast<size_t>(size.QuadPart));
  size_t got = 0;
  while (got < bytes.size()) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(got);
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(got) >> 32);
    DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - got, 1u << 20)), n = 0;
    if (!ReadFile(file, bytes.data() + got, want, &n, &at) || n == 0) break;
    got += n;
  }
  bytes.resize(got);
  return got == static_cast<size_t>(size.QuadPart);
}

bool LockedFile::Append(const std::string& bytes) {
  HANDLE file = HandleOf(handle_);
  LARGE_INTEGER end{};
  if (!GetFileSizeEx(file, &end)) return false;
  size_t put = 0;
  while (put < bytes.size()) {
    uint64_t offset = static_cast<uint64_t>(end.QuadPart) + put;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - put, 1u << 20)), n = 0;
    if (!WriteFile(file, bytes.data() + put, want, &n, &at) || n == 0) return false;
    put += n;
  }
  return FlushFileBuffers(file) != 0;
}

bool LockedFile::Remove() {
  if (DeleteFileW(WidePath(path_).c_str())) return true;
  DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace qvu
