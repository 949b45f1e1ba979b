#include <windows.h>

#include <cstdio>

#include "support/Filesystem.h"
#include "support/WideText_win32.h"

namespace qvu {

TDateTime GetFileTimeStamp(const std::string& fileName) {
  if (fileName.empty()) return 0;
  std::wstring name = WidePath(fileName);
  DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return 0;
  HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  FILETIME written{};
  bool ok = GetFileTime(file, nullptr, nullptr, &written) != 0;
  CloseHandle(file);
  // Local time, then the FAT date-time: seconds in steps of two, years 1980 to 2107.
  FILETIME local{};
  WORD fatDate = 0, fatTime = 0;
  if (!ok || !FileTimeToLocalFileTime(&written, &local) || !FileTimeToDosDateTime(&local, &fatDate, &fatTime)) return 0;
  DateTimeParts parts{1980 + (fatDate >> 9), (fatDate >> 5) & 0x0F, fatDate & 0x1F,
                      fatTime >> 11,         (fatTime >> 5) & 0x3F, (fatTime & 0x1F) * 2, 0};
  TDateTime value = 0;
  return TryEncodeDateTime(parts, value) ? value : 0;
}

bool GetDirectoryTimeStamp(const std::string& path, int kind, std::string& out) {
  if (path.empty() || kind < 0 || kind > 2) return false;
  // The directory search takes the name literally: "dir\" (or "dir/") names no entry.
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW(WidePath(path).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
  const FILETIME& time = kind == 0 ? found.ftCreationTime : kind == 1 ? found.ftLastAccessTime : found.ftLastWriteTime;
  FILETIME local{};
  SYSTEMTIME fields{};
  if (!FileTimeToLocalFileTime(&time, &local) || !FileTimeToSystemTime(&local, &fields)) return false;
  char text[64];
  std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", fields.wYear, fields.wMonth, fields.wDay,
                fields.wHour, fields.wMinute, fields.wSecond);
  out = text;
  return true;
}

}  // namespace qvu
