#include "app/RunUndo.h"

#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>
#include <vector>

#include "app/StagedFile.h"
#include "support/Filesystem.h"

namespace qvu {
namespace {

namespace fs = std::filesystem;

// A merged folder goes back whole: what the merge added and replaced is dropped with it, and
// the copy (hard links to the very files, with the folders' old times) takes its name.
bool RestoreFolder(const std::string& target, const std::string& backup) {
  return DeleteDirectoryTree(target) && FlushFolder(ParentOf(target)) &&
         std::rename(backup.c_str(), target.c_str()) == 0;
}

std::vector<std::string> EntriesOf(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  return names;
}

void RemoveEntry(const std::string& path) {
  if (DirectoryExists(path))
    DeleteDirectoryTree(path);
  else
    RemoveFile(path);
}

}  // namespace

bool TakeBack(const JournalContent& run, const std::string& programFolder, std::string& failed) {
  bool ok = true;
  auto check = [&](bool done, const std::string& path) {
    if (!done && ok) failed = path;
    ok = ok && done;
  };
  std::set<std::string> changed;  // folders whose names the undo changed: flushed at the end

  for (auto it = run.steps.rbegin(); it != run.steps.rend(); ++it) {
    const JournalStep& step = *it;
    if (step.kind == JournalStep::Kind::Folder) {
      const std::string folder = programFolder + step.folder;
      check(RemoveFolderIfEmpty(folder), folder);
      changed.insert(ParentOf(folder));
      continue;
    }
    const JournalEntry& entry = run.entries[step.entry];
    const std::string target = programFolder + entry.target;
    const std::string backup = programFolder + entry.backup;
    changed.insert(ParentOf(target));
    if (entry.kind == JournalEntry::Kind::Folder) {
      if (DirectoryExists(backup))
        check(RestoreFolder(target, backup), target);
      else if (!step.existed)
        check(DeleteDirectoryTree(target), target);  // a folder this run added
    } else if (step.kind == JournalStep::Kind::Backup) {
      // Nothing to do without a backup: either the target was never moved aside or it is
      // back already.
      if (FileExists(backup)) check(RenameFileReplacing(backup, target), target);
    } else if (!step.existed) {
      check(RemoveFile(target), target);  // a file this run added
    }
  }
  for (const std::string& folder : changed) check(FlushFolder(folder), folder);
  return ok;
}

void RemoveStaged(const JournalContent& run, const std::string& programFolder) {
  for (const JournalEntry& entry : run.entries) {
    const std::string download = programFolder + entry.download;
    RemoveFile(download);
    RemoveEntry(programFolder + entry.newFile);
    const std::string partial = StagedFile::PartialPrefix(download, run.processId);
    const std::string folder = ParentOf(download);
    for (const std::string& name : EntriesOf(folder)) {
      const std::string path = folder + "/" + name;
      if (path.rfind(partial, 0) == 0 && path.size() > 5 && path.compare(path.size() - 5, 5, ".part") == 0)
        RemoveFile(path);
    }
  }
}

void RemoveWorkFolder(RunJournal& journal) {
  const std::string folder = journal.workFolder();
  for (const std::string& name : EntriesOf(folder))
    if (!SameEntryName(name, kJournalFileName)) RemoveEntry(folder + name);
  journal.Remove();
  RemoveFolderIfEmpty(folder);
}

}  // namespace qvu
