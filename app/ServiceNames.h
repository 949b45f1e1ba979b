// Names from the service (FILENAME, ZIPFILENAME, DIRECTORY) are joined below the program
// folder. These rules keep every name inside it and away from the run's own work folders,
// where a backup of the program folder would copy itself and an undo would delete what it
// meant to keep.
#pragma once

#include <string>

namespace qvu {

// The run's work folders inside the program folder: the downloads and the backups.
extern const char* const kDownloadFolderName;  // "NEWFILE"
extern const char* const kBackupFolderName;    // "tmp"

// "\" from the service is a separator too.
std::string ToLocalSeparators(std::string path);

// Whether a name may become part of a candidate's paths: not absolute, no "." or ".."
// segment ("/" and "\" both separate), and, once empty segments are collapsed as the file
// system does, neither the program folder itself nor anything at or below a work folder
// (compared as the platform compares names). An empty name (none given) passes; empty
// segments alone (a DIRECTORY ending in a separator) pass too.
bool IsConfinedName(const std::string& name);

// Whether `path`, relative to the program folder, names something inside the work folder
// `folder`: its first segment names that folder and the rest is a plain relative name.
bool IsInsideWorkFolder(const std::string& path, const char* folder);

}  // namespace qvu
