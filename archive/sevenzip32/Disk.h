// What the extraction needs of the operating system. Paths are UTF-8; "/" and "\" both
// separate.
#pragma once

#include <string>

namespace sevenzip32 {

// Makes the output folder (the current directory when empty) with its missing parents and
// resolves it: an absolute path without links or "..", with "/" as separator and a "/" at
// the end. False with a reason when it cannot be made.
bool PrepareFolder(const std::string& folder, std::string& root, std::string& reason);

// Whether a symbolic link (or, on Windows, any reparse point) is at the path itself.
bool IsLink(const std::string& path);
// Whether anything is at the path; links count themselves, not what they point to.
bool Exists(const std::string& path);
// Removes a file; nothing happens when it is not there.
void RemoveFile(const std::string& path);
// Makes the file at the path one an extracted entry can replace (on Windows a read-only
// file cannot be); nothing happens when it is not there.
void AllowReplacing(const std::string& path);
// Whether an entry may name a file or folder by this part of its path (neither "." nor
// ".." nor empty). Windows turns some names into something else: trailing dots and blanks
// are dropped (libarchive then loops on the folder it cannot find), a colon names a data
// stream of another file, and device names (CON, NUL, COM1, ...) reach devices.
bool NameAllowed(const std::string& part);
// Whether symbolic links can be made here. Windows lets only privileged users make them
// (and Wine not at all), so there a link entry is refused rather than left out.
bool CanMakeSymbolicLinks();

}  // namespace sevenzip32
