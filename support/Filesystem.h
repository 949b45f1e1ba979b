// What the updater knows about the disk: file versions, time stamps, revision numbers and
// the file and folder moves of an update. Free functions without state; none of them raises
// or shows anything: the result (and an error text where there is one) is the whole report.
// Paths are UTF-8, "/" separated.
#pragma once

#include <string>

#include "support/DateTime.h"

namespace qvu {

// The four numbers of the fixed file version of a PE image's version resource, "a.b.c.d"
// without leading zeros; "" for any other file and for any malformed image.
std::string GetFileVersion(const std::string& fileName);

// Last-write time as local time, cut to the even second below; 0 when the file is missing,
// unreadable, or outside the years 1980 to 2107.
TDateTime GetFileTimeStamp(const std::string& fileName);

// Kind 0 creation, 1 last access, 2 last write. On true `out` is "yyyy/MM/dd HH:mm:ss"
// (local time, zero-padded); on false `out` is untouched. A path ending in "/" finds nothing.
bool GetDirectoryTimeStamp(const std::string& path, int kind, std::string& out);

// The revision number (property 9 of the summary-information property set) kept with a file.
bool GetRevisionNo(const std::string& fileName, int propertyId, std::string& value,
                   std::string& errorText);
bool SetRevisionNo(const std::string& fileName, int propertyId, const std::string& value,
                   std::string& errorText);

// True when the source folder is missing; otherwise up to `tries` attempts, 500 ms apart.
bool MoveDirectory(const std::string& from, const std::string& to, int tries);
// Replaces `to`; works across file systems; flushed to disk before it returns.
bool MoveFileWithRetry(const std::string& from, const std::string& to, int tries);
bool RenameFileReplacing(const std::string& from, const std::string& to);
bool CreateDirectoryPath(const std::string& path);
bool DeleteDirectoryTree(const std::string& path);

// The folder part of a path, without a trailing "/" ("." when there is none, "/" for the
// root), and its last part; trailing "/"s are ignored.
std::string ParentOf(const std::string& path);
std::string BaseName(const std::string& path);

// Small predicates the callers share (symbolic links followed, as the platform's do).
bool FileExists(const std::string& path);       // a regular file
bool DirectoryExists(const std::string& path);  // a folder

}  // namespace qvu
