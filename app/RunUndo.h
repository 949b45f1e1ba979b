// Taking an update run back from its journal: after a failed download or apply in the same
// run, and at the next start after a run that was cut off.
#pragma once

#include <string>

#include "app/RunJournal.h"

namespace qvu {

// Undoes the recorded steps, newest first: every backup renamed back over its target, every
// file and folder the run added removed, a merged folder replaced by its backup copy. Each
// step looks at the disk before it acts, so it is right whether the announced change had
// happened or not, and running it again after a failure or a second interruption is safe.
// Every step is tried; false when one could not be done, with the full path of the first
// such target (or folder) in `failed`. Paths are joined to `programFolder` (ending in "/").
bool TakeBack(const JournalContent& run, const std::string& programFolder, std::string& failed);

// Removes what the run staged for its candidates: the downloads, the unpacked files and
// folders, and the partial downloads of the run's process.
void RemoveStaged(const JournalContent& run, const std::string& programFolder);

// Removes the work folder with the journal last: everything else in it, then the journal,
// then the folder. An interruption in between leaves no journal that needs what is gone.
void RemoveWorkFolder(RunJournal& journal);

}  // namespace qvu
