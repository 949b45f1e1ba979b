// Extraction of one archive into a folder with full paths.
#pragma once

#include <string>

#include "archive/sevenzip32/CommandLine.h"

namespace sevenzip32 {

// Every entry lands inside the output folder or the whole command fails: names are checked
// before they are joined to the folder, links may only point inside it, and nothing is
// extracted through a link. Returns a SevenZipResult; reason says why on failure.
int Extract(const Command& command, std::string& reason);

// The entry name as a path relative to the output folder ("/"-separated, without empty or
// "." segments), or false when it would leave the folder: absolute, a drive prefix, "..".
// Backslashes are separators. An empty result names the folder itself.
bool RelativeEntryPath(const std::string& name, std::string& relative);

// Whether a symbolic link at the relative path link with this target resolves inside the
// output folder, given that every other link there does too: the target is relative, its
// ".." segments come first and do not climb above the folder. normalised receives the
// target with backslashes as "/".
bool LinkTargetStaysInside(const std::string& link, const std::string& target, std::string& normalised);

}  // namespace sevenzip32
