#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "support/Filesystem.h"

namespace qvu {

TDateTime GetFileTimeStamp(const std::string& fileName) {
  if (fileName.empty() || !FileExists(fileName)) return 0;
  // Opened (not only looked up) so that an unreadable file reports 0 as it does elsewhere;
  // O_NONBLOCK because the name may have been swapped for a FIFO since the check.
  int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return 0;
  struct stat st {};
  bool ok = fstat(fd, &st) == 0;
  close(fd);
  if (!ok) return 0;
  std::tm tm{};
  time_t seconds = st.st_mtim.tv_sec;
  if (!localtime_r(&seconds, &tm)) return 0;
  // The stamp is what a FAT date-time can hold: years 1980 to 2107, seconds in steps of two.
  int year = tm.tm_year + 1900;
  if (year < 1980 || year > 2107) return 0;
  DateTimeParts parts{year, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                      (tm.tm_sec > 59 ? 59 : tm.tm_sec) & ~1, 0};
  TDateTime value = 0;
  return TryEncodeDateTime(parts, value) ? value : 0;
}

bool GetDirectoryTimeStamp(const std::string& path, int kind, std::string& out) {
  // The directory search takes the name literally: "dir/" names no entry.
  if (path.empty() || path.back() == '/' || kind < 0 || kind > 2) return false;
  struct statx sx {};
  unsigned mask = kind == 0 ? STATX_BTIME : kind == 1 ? STATX_ATIME : STATX_MTIME;
  if (statx(AT_FDCWD, path.c_str(), AT_STATX_SYNC_AS_STAT, mask | STATX_TYPE, &sx) != 0)
    return false;
  if (!(sx.stx_mask & STATX_TYPE) || !S_ISDIR(sx.stx_mode) || !(sx.stx_mask & mask)) return false;
  const statx_timestamp& ts = kind == 0 ? sx.stx_btime : kind == 1 ? sx.stx_atime : sx.stx_mtime;
  std::tm tm{};
  time_t seconds = static_cast<time_t>(ts.tv_sec);
  if (!localtime_r(&seconds, &tm)) return false;
  // The calendar the time-stamp text can be built from: 1601 to 30827.
  int year = tm.tm_year + 1900;
  if (year < 1601 || year > 30827) return false;
  char text[64];
  std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", year, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec > 59 ? 59 : tm.tm_sec);
  out = text;
  return true;
}

}  // namespace qvu
