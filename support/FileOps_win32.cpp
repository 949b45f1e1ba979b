#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "support/FileOps.h"
#include "support/Filesystem.h"
#include "support/WideText_win32.h"

namespace qvu {
namespace {

// Replacing, across drives by copy and delete, and not returning before the move is on disk.
constexpr DWORD kMoveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;
// Deeper trees than this are not ours; refusing them keeps the recursion bounded.
constexpr int kMaxDepth = 256;

DWORD AttributesOf(const std::string& path) {
  return path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(WidePath(path).c_str());
}

bool EntryMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// The shell's list form of one path: fully qualified (the shell resolves a relative one against
// a current folder it shares with every thread), ended by two zero characters.
std::wstring ShellList(const std::string& path) {
  std::wstring wide = WidePath(StripTrailingSeparators(path));
  DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return std::wstring(1, L'\0');
  std::wstring full(size, L'\0');
  size = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
  full.resize(size);
  full.push_back(L'\0');  // c_str() adds the second
  return full;
}

// Nothing goes to the recycle bin (no FOF_ALLOWUNDO), and no dialog of any kind is shown: the
// shell's error box would wait for a user who is not there and hold the update run with it.
bool ShellDelete(const std::string& path) {
  std::wstring list = ShellList(path);
  // A drive's or a share's root (the only full paths that keep a final "\") is never a tree of ours.
  if (list.size() < 2 || list[list.size() - 2] == L'\\') return false;
  SHFILEOPSTRUCTW op{};
  op.wFunc = FO_DELETE;
  op.pFrom = list.c_str();
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
  return SHFileOperationW(&op) == 0 && !op.fAnyOperationsAborted;
}

// The entries of a folder but "." and "..".
std::vector<WIN32_FIND_DATAW> EntriesOf(const std::wstring& folder) {
  std::vector<WIN32_FIND_DATAW> entries;
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return entries;
  do {
    std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") entries.push_back(found);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return entries;
}

// Errors that say the folder cannot be flushed here (a file system without folder flushes, a
// handle the system will not flush), as against a write that failed.
bool NothingToFlush(DWORD error) {
  return error == ERROR_INVALID_FUNCTION || error == ERROR_ACCESS_DENIED || error == ERROR_NOT_SUPPORTED ||
         error == ERROR_INVALID_PARAMETER;
}

// Moves the folder `from` onto `to`, merging into a folder already there and replacing its
// files of the same name, as the shell's move does on Windows (Wine's shell moves the folder
// into the one there instead). Restartable: what moved is gone from the source, so a later
// try carries only the rest.
bool MoveTree(const std::wstring& from, const std::wstring& to, int depth) {
  if (depth > kMaxDepth) return false;
  DWORD existing = GetFileAttributesW(to.c_str());
  if (existing == INVALID_FILE_ATTRIBUTES) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return true;  // one rename
    if (!CreateDirectoryW(to.c_str(), nullptr)) return false;  // another drive: entry by entry
  } else if ((existing & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return false;
  }
  bool ok = true;
  for (const WIN32_FIND_DATAW& entry : EntriesOf(from)) {
    std::wstring child = from + L"\\" + entry.cFileName, target = to + L"\\" + entry.cFileName;
    // A link or junction moves as the entry it is; its target is not ours.
    bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                  (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    if (folder) {
      ok = MoveTree(child, target, depth + 1) && ok;
    } else {
      DWORD inWay = GetFileAttributesW(target.c_str());
      bool folderInWay = inWay != INVALID_FILE_ATTRIBUTES && (inWay & FILE_ATTRIBUTE_DIRECTORY) != 0;
      ok = !folderInWay && MoveFileExW(child.c_str(), target.c_str(), kMoveFlags) && ok;
    }
  }
  return ok && RemoveDirectoryW(from.c_str());
}

}  // namespace

bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

bool FileExists(const std::string& path) {
  DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
  DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MoveDirectory(const std::string& from, const std::string& to, int tries) {
  try {
    if (!DirectoryExists(from)) return true;
    const std::wstring source = WidePath(StripTrailingSeparators(from)), target = WidePath(StripTrailingSeparators(to));
    return RetryMove(tries, [&] {
      if (!DirectoryExists(from)) return Moved::Yes;  // an earlier try moved it after all
      std::string parent = ParentOf(to);
      if (!DirectoryExists(parent) && !CreateDirectoryPath(parent)) return Moved::No;
      if (!MoveTree(source, target, 0)) return Moved::No;
      return FlushFolder(to) && FlushFolder(parent) ? Moved::Yes : Moved::NotDurable;
    });
  } catch (...) {
    return false;
  }
}

bool MoveFileWithRetry(const std::string& from, const std::string& to, int tries) {
  try {
    if (!FileExists(from)) return true;
    const std::wstring source = WidePath(from), target = WidePath(to);
    return RetryMove(tries, [&] {
      // A try that moved the file but failed to say so.
      if (AttributesOf(from) == INVALID_FILE_ATTRIBUTES && FileExists(to)) return Moved::Yes;
      return MoveFileExW(source.c_str(), target.c_str(), kMoveFlags) ? Moved::Yes : Moved::No;
    });
  } catch (...) {
    return false;
  }
}

// One rename that replaces the target: the target is never missing in between, and a failed
// rename leaves the old one in place.
bool RenameFileReplacing(const std::string& from, const std::string& to) {
  try {
    if (!FileExists(from)) return true;
    return MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
  } catch (...) {
    return false;
  }
}

bool DeleteDirectoryTree(const std::string& path) {
  try {
    if (!DirectoryExists(path)) return true;
    // A link or junction to a folder is removed as the link; its target is not ours.
    if ((AttributesOf(path) & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
      return RemoveDirectoryW(WidePath(StripTrailingSeparators(path)).c_str()) != 0;
    return ShellDelete(path) && !DirectoryExists(path);
  } catch (...) {
    return false;
  }
}

bool FlushFolder(const std::string& folder) {
  try {
    // Only a handle with write access may be flushed; a folder opens only with backup semantics.
    HANDLE handle = CreateFileW(WidePath(StripTrailingSeparators(folder)).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return true;  // nothing we may open is nothing we can flush
    bool ok = FlushFileBuffers(handle) != 0 || NothingToFlush(GetLastError());
    CloseHandle(handle);
    return ok;
  } catch (...) {
    return false;
  }
}

bool RemoveFolderIfEmpty(const std::string& folder) {
  try {
    if (RemoveDirectoryW(WidePath(StripTrailingSeparators(folder)).c_str())) return true;
    DWORD error = GetLastError();
    return EntryMissing(error) || error == ERROR_DIR_NOT_EMPTY;
  } catch (...) {
    return false;
  }
}

bool RemoveFile(const std::string& path) {
  try {
    DWORD attributes = AttributesOf(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return EntryMissing(GetLastError());
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;
    return DeleteFileW(WidePath(path).c_str()) != 0 || EntryMissing(GetLastError());
  } catch (...) {
    return false;
  }
}

// As NTFS compares names: each UTF-16 unit by its upper case, without any language's rules.
bool SameEntryName(const std::string& a, const std::string& b) {
  try {
    std::wstring wa = WideFrom(a), wb = WideFrom(b);
    return CompareStringOrdinal(wa.data(), static_cast<int>(wa.size()), wb.data(), static_cast<int>(wb.size()),
                                TRUE) == CSTR_EQUAL;
  } catch (...) {
    return false;
  }
}

}  // namespace qvu
