// The run journal: what an update run is about to do to the program folder, kept in the work
// folder tmp/ under a lock for the run's whole life, so that a run cut off by a kill or a
// power cut can be taken back by the next start (RunUndo.h), and so that no other copy
// removes the work folder of a live run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qvu {

class LockedFile;

// The journal's name inside the work folder. Backups there always end in "_bak".
extern const char* const kJournalFileName;

// One candidate as the run plans it. Paths are relative to the program folder, "/" separated:
// the target in the program folder, the new file or folder in NEWFILE/, the download as
// saved in NEWFILE/, and the backup in tmp/.
struct JournalEntry {
  enum class Kind : char {
    File = 'F',    // backed up when it exists, then replaced or added
    Folder = 'D',  // a folder entry: merged into the folder (copied to its backup first) or added
    Staged = 'S',  // never placed (the running updater and its libraries): only staged
  };
  Kind kind = Kind::File;
  std::string target, newFile, download, backup;
};

// One change to the program folder, recorded and flushed before it is made.
struct JournalStep {
  enum class Kind : char {
    Backup = 'B',  // a file entry's target is about to move to its backup
    Folder = 'M',  // a missing folder level is about to be created
    Place = 'P',   // the new file or folder is about to move into place
  };
  Kind kind = Kind::Backup;
  size_t entry = 0;      // Backup, Place: the index into the entries
  bool existed = false;  // Backup, Place: the target was there before (and has a backup)
  std::string folder;    // Folder
};

struct JournalContent {
  uint32_t processId = 0;  // of the run: its partial downloads carry it in their names
  std::vector<JournalEntry> entries;
  std::vector<JournalStep> steps;
  bool committed = false;  // every candidate is in place and durable: the run stands
};

// The bytes of a journal. Every record is one line with a checksum. A torn last record (a
// power cut in the middle of a write) is ignored: its write had not come back, so the change
// it announced had not begun. A journal whose header line never reached the disk is empty.
enum class JournalRead { Ok, Newer, Unreadable };
JournalRead ParseJournal(const std::string& bytes, JournalContent& out);
std::string FormatJournalStart(const JournalContent& plan);  // the header and the entries
std::string FormatJournalStep(const JournalStep& step);
std::string FormatJournalCommit();

class RunJournal {
 public:
  enum class Open {
    Held,        // ours, read
    Busy,        // another copy holds it: a live run
    Failed,      // it cannot be opened or created
    Newer,       // written by a newer program
    Unreadable,  // damaged, or cannot be read
  };

  // Starts the journal of a run in `workFolder` (which ends in "/" and lies in
  // `programFolder`): takes its lock and writes the plan, flushed together with the folder
  // entries that name the journal and the work folder. Busy also when the journal already
  // holds another run's records. Nothing is left behind on failure.
  static Open Begin(const std::string& workFolder, const std::string& programFolder,
                    const JournalContent& plan, std::unique_ptr<RunJournal>& journal);
  // Takes the lock of the journal in `workFolder` (creating an empty one when there is none,
  // so that no other copy starts a run there meanwhile) and reads it.
  static Open Resume(const std::string& workFolder, std::unique_ptr<RunJournal>& journal);

  ~RunJournal();
  RunJournal(const RunJournal&) = delete;
  RunJournal& operator=(const RunJournal&) = delete;

  const JournalContent& content() const { return content_; }
  const std::string& workFolder() const { return workFolder_; }
  std::string path() const;

  // Appends the steps in one write and flushes them; false when they are not on disk, and
  // then none of them may be taken.
  bool Record(const std::vector<JournalStep>& steps);
  // Marks the run as standing. Where that record cannot be written, removing the journal
  // does the same; false when neither worked, and the run must then be taken back.
  bool Commit();
  // Removes the journal file, still under the lock.
  bool Remove();

 private:
  RunJournal(std::unique_ptr<LockedFile> file, std::string workFolder, JournalContent content);
  // Takes the lock of the journal in `workFolder` and reads what it holds.
  static Open LockAndRead(const std::string& workFolder, std::unique_ptr<LockedFile>& file, std::string& bytes);

  std::unique_ptr<LockedFile> file_;
  std::string workFolder_;
  JournalContent content_;
};

}  // namespace qvu
