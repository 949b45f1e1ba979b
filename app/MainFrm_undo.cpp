// The main window's side of the run journal: starting it, recording each change, committing
// the run, and taking a run back, in the same run after a failure or at the next start
// after the run was cut off.
#include "app/MainFrm.h"
#include "app/RunUndo.h"
#include "support/Filesystem.h"

namespace qvu {
namespace {

const char* const kRestoreFailed = "の復元に失敗しました。次回の起動時に再試行します";
const char* const kJournalUnreadable = "の読み込みに失敗しました";
const char* const kAnotherUpdate = "は別のバージョンアップで使用中です";

}  // namespace

bool TMainFrm::RelativePath(const std::string& path, std::string& relative) const {
  if (path.size() <= _exePath.size() || path.compare(0, _exePath.size(), _exePath) != 0) return false;
  relative = path.substr(_exePath.size());
  return true;
}

bool TMainFrm::PlanOfRun(JournalContent& plan) const {
  plan = JournalContent{};
  plan.processId = _processId;
  const std::string suffix = BackupSuffix();
  for (const STDownloadFiles& c : _downloadFiles) {
    const STVersion_tb& v = c.version;
    const CandidatePaths p = PathsOf(v, suffix);
    JournalEntry e;
    e.kind = v.IsDirectoryEntry()         ? JournalEntry::Kind::Folder
             : IsNeverTouched(v.FILENAME) ? JournalEntry::Kind::Staged
                                          : JournalEntry::Kind::File;
    if (!RelativePath(p.target, e.target) || !RelativePath(p.newFile, e.newFile) ||
        !RelativePath(DownloadPathOf(v), e.download) || !RelativePath(p.backup, e.backup))
      return false;
    plan.entries.push_back(e);
  }
  return true;
}

bool TMainFrm::BeginJournal() {
  JournalContent plan;
  std::unique_ptr<RunJournal> journal;
  const std::string path = _tmpPath + kJournalFileName;
  const bool ready = PlanOfRun(plan) && CreateDirectoryPath(_tmpPath);
  switch (ready ? RunJournal::Begin(_tmpPath, _exePath, plan, journal) : RunJournal::Open::Failed) {
    case RunJournal::Open::Held:
      journal_ = std::move(journal);
      return true;
    case RunJournal::Open::Busy:
      _errorMessage = path + kAnotherUpdate;
      return false;
    default:
      _errorMessage = path + "の作成に失敗しました";
      return false;
  }
}

bool TMainFrm::Record(JournalStep::Kind kind, size_t entry, bool existed) {
  JournalStep step;
  step.kind = kind;
  step.entry = entry;
  step.existed = existed;
  return journal_->Record({step});
}

bool TMainFrm::CommitRun() {
  if (!journal_) {  // nothing was applied
    DeleteDirectoryTree(_tmpPath);
    return true;
  }
  if (!journal_->Commit()) return false;
  RemoveWorkFolder(*journal_);
  journal_.reset();
  return true;
}

bool TMainFrm::RestoreFiles() {
  // Without a journal nothing was changed yet: only the downloads go.
  JournalContent run;
  if (journal_)
    run = journal_->content();
  else if (!PlanOfRun(run))
    run = JournalContent{};
  std::string failed;
  if (!TakeBack(run, _exePath, failed)) {
    // The backups are all that is left of those files: they and the journal stay.
    _errorMessage = failed + kRestoreFailed;
    journal_.reset();
    return false;
  }
  RemoveStaged(run, _exePath);
  if (journal_)
    RemoveWorkFolder(*journal_);
  else
    DeleteDirectoryTree(_tmpPath);
  journal_.reset();
  return true;
}

bool TMainFrm::RecoverInterruptedRun() {
  if (!DirectoryExists(_tmpPath)) return true;
  const std::string path = _tmpPath + kJournalFileName;
  std::unique_ptr<RunJournal> journal;
  switch (RunJournal::Resume(_tmpPath, journal)) {
    case RunJournal::Open::Held:
      break;
    case RunJournal::Open::Busy:
      _errorMessage = path + kAnotherUpdate;
      return false;
    case RunJournal::Open::Failed:
      // No journal, and none can be made here: no run recorded anything to take back.
      if (!FileExists(path)) {
        DeleteDirectoryTree(_tmpPath);
        return true;
      }
      _errorMessage = path + kJournalUnreadable;
      return false;
    case RunJournal::Open::Newer:
    case RunJournal::Open::Unreadable:
      _errorMessage = path + kJournalUnreadable;
      return false;
  }
  const JournalContent& run = journal->content();
  if (!run.committed) {
    std::string failed;
    if (!TakeBack(run, _exePath, failed)) {
      _errorMessage = failed + kRestoreFailed;
      return false;
    }
    RemoveStaged(run, _exePath);
  }
  RemoveWorkFolder(*journal);
  return true;
}

}  // namespace qvu
