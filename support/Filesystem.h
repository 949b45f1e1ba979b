// What the updater knows about the disk: file versions, time stamps, revision numbers and
// the file and folder moves of an update. Free functions without state; none of them raises
// or shows anything: the result (and an error text where there is one) is the whole report.
// Paths are UTF-8, "/" separated (on Windows "\" separates as well).
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

// The two moves below are flushed to disk before they report success. A flush that finds
// nothing to flush (a file system that cannot sync folders, a read-only one) does not turn a
// done move into a failure; a flush that fails to write ends the move as failed at once,
// without further tries, since a later flush would report success for data already lost.

// True when the source folder is missing; otherwise up to `tries` attempts, 500 ms apart.
bool MoveDirectory(const std::string& from, const std::string& to, int tries);
// Replaces `to`; works across file systems. A try after one that moved the file but failed
// to say so finds the source gone and the target there, and counts the move as done.
bool MoveFileWithRetry(const std::string& from, const std::string& to, int tries);
bool RenameFileReplacing(const std::string& from, const std::string& to);
bool CreateDirectoryPath(const std::string& path);
bool DeleteDirectoryTree(const std::string& path);

// Makes the entries of `folder` (names added, removed, renamed) reach the disk. True also
// where there is nothing to flush, as for the moves above.
bool FlushFolder(const std::string& folder);
// Removes the folder when it is empty. True when it is gone, was never there, or still holds
// something (what lies in it is not the caller's to remove).
bool RemoveFolderIfEmpty(const std::string& folder);
// Removes the file (not a folder). True when no file is left at the path.
bool RemoveFile(const std::string& path);
// Whether two names within one folder name the same entry, as this platform's file system
// compares names (exactly here; without regard to case on Windows).
bool SameEntryName(const std::string& a, const std::string& b);

// The folder part of a path, without a trailing "/" ("." when there is none, "/" for the
// root), and its last part; trailing "/"s are ignored.
std::string ParentOf(const std::string& path);
std::string BaseName(const std::string& path);

// Small predicates the callers share (symbolic links followed, as the platform's do).
bool FileExists(const std::string& path);       // a regular file
bool DirectoryExists(const std::string& path);  // a folder

}  // namespace qvu
