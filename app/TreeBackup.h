// Backups of folders that an update merges into.
#pragma once

#include <string>
#include <vector>

namespace qvu {

// Makes `backup` a copy of the folder `source` in which every file is a hard link to the
// original (so nothing is copied and extended attributes come along), folders are new
// folders with the originals' permissions and times, and symbolic links are copied as links.
// Where a hard link is refused (another file system), the file is copied. Every folder of the
// copy is flushed to disk before it returns. False, with nothing left at `backup`, when the
// copy cannot be made, and for a `backup` inside `source` (or `source` itself).
bool BackupTree(const std::string& source, const std::string& backup);

// The levels of `folder` that do not exist yet, outermost first.
std::vector<std::string> MissingLevels(const std::string& folder);

}  // namespace qvu
