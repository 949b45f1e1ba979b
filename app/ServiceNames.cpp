#include "app/ServiceNames.h"

#include <vector>

#include "support/Filesystem.h"

namespace qvu {

const char* const kDownloadFolderName = "NEWFILE";
const char* const kBackupFolderName = "tmp";

namespace {

// The segments of a relative name without "." or ".." segments, empty ones dropped; false
// for an absolute name or one with a dot segment.
bool PlainSegments(const std::string& name, std::vector<std::string>& segments) {
  segments.clear();
  std::string n = ToLocalSeparators(name);
  if (!n.empty() && n[0] == '/') return false;
  // A drive letter would be absolute where the service's names come from.
  if (n.size() >= 2 && n[1] == ':') return false;
  size_t pos = 0;
  while (pos <= n.size()) {
    size_t next = n.find('/', pos);
    if (next == std::string::npos) next = n.size();
    std::string segment = n.substr(pos, next - pos);
    if (segment == "." || segment == "..") return false;
    if (!segment.empty()) segments.push_back(segment);
    pos = next + 1;
  }
  return true;
}

}  // namespace

std::string ToLocalSeparators(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

bool IsConfinedName(const std::string& name) {
  if (name.empty()) return true;
  std::vector<std::string> segments;
  if (!PlainSegments(name, segments) || segments.empty()) return false;
  return !SameEntryName(segments[0], kBackupFolderName) && !SameEntryName(segments[0], kDownloadFolderName);
}

bool IsInsideWorkFolder(const std::string& path, const char* folder) {
  std::vector<std::string> segments;
  return PlainSegments(path, segments) && segments.size() >= 2 && SameEntryName(segments[0], folder);
}

}  // namespace qvu
