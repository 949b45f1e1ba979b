// TMainFrm: the state of one run of the updater and its operations. It is not a widget: it
// talks to whatever shows it through the View seam, so the same operations run behind the
// Qt window, the terminal and the tests' recording view.
//
// Invariants:
//  - _exePath, _tmpPath and _downloadPath (once set) end with "/".
//  - Every operation returns its verdict and leaves the text for the user in
//    _errorMessage; none lets an exception out, except the conversion error of a FILE_DT
//    that is not a date-time, which leaves the plan on purpose (the entry point shows it).
//  - During the update run both buttons are hidden and a close request is refused, so a run
//    is never started twice nor cut off half applied by the user.
//  - Nothing in the program folder changes without the run's journal (RunJournal.h) saying
//    first how to take it back; a run cut off anyway is taken back by the next start.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/RunJournal.h"
#include "app/ServiceNames.h"
#include "data/Cversion_tb.h"
#include "net/Proxy.h"
#include "ui/View.h"

namespace qvu {

class TXmlMod;
class HttpClient;

// Set only by the preparation, always together with a request to close the window.
extern bool startAborted;

// The log file of an older program generation; only deleted at start.
extern const char* const kLogFileName;

// One candidate of the run.
struct STDownloadFiles {
  std::string localPath;  // where the download saved it; "" until then
  STVersion_tb version;   // a copy of the version-list entry
  bool updated = false;   // applied in this run
};

// How the process was started: its arguments (without the program name) and the full path
// of the running program file, whose folder is the program folder.
struct ProgramContext {
  std::vector<std::string> args;
  std::string exeFile;
};

class TMainFrm : public ViewEvents {
 public:
  // Runs the whole preparation (FormCreate) before it returns; afterwards startAborted
  // tells whether there is a window to show.
  TMainFrm(TXmlMod& xmlMod, View& view, ProgramContext context);
  ~TMainFrm() override;

  // Event handlers.
  void FormCreate();
  void SpeedButton1Click();
  void SpeedButton4Click();
  void IdHTTP1Work(int64_t workCount);

  // ViewEvents.
  void CloseClicked() override { SpeedButton1Click(); }
  void UpdateClicked() override { SpeedButton4Click(); }
  bool CanClose() override { return !_running; }

  // Settings and service addresses.
  bool LoadConnectSettings();
  void SetProxyValue(const std::string& key, const std::string& value);
  std::string GetProxyValue(const std::string& key) const;

  // The plan.
  bool GetVersionList();
  bool Get7ZipLibrary();
  void MakeDownloadList();

  // Version comparison.
  bool IsNewFile(const std::string& filePath, const std::string& ver_No,
                 const std::string& revise_No, const std::string& file_Dt);
  bool IsVerChk(const std::string& existVer_No, const std::string& newVer_No, bool& update);
  bool IsNewDirectory(const std::string& directoryPath, const std::string& directoryDt);

  // Download, apply, undo, record, hand over.
  bool DownloadNewFiles();
  static bool IsZipFile(const std::string& fileName);
  bool UpdateFiles();
  // Takes the run back (see RunUndo.h). False when a step could not be undone: the work
  // folder and the journal then stay for the next start, and _errorMessage names the file.
  bool RestoreFiles();
  // Step 6 of the preparation: the work folder of an earlier run, taken back first when that
  // run was cut off, then removed. False, with _errorMessage set and nothing removed, when
  // another copy's live run holds it, its journal cannot be read, or a step cannot be undone.
  bool RecoverInterruptedRun();
  bool UnZipFile(const std::string& archivePath, const std::string& destinationFolder);
  bool SendUpdateResult();
  bool ExecTarget();
  void SetupHttp();

  // State of the run (public, as the operations of the engine read and write it).
  std::string _errorMessage;
  uint32_t _processId = 0;
  std::string _exePath;
  std::string _tmpPath;
  std::string _downloadPath;
  std::string _shopCode;
  std::string _domain;
  std::string _salonId;
  std::string _salonPw;
  std::string _apiDir;
  std::string _verId;
  std::string _verPw;
  std::string _category;
  std::string _verLogUrl;
  std::string _verMgrUrl;
  bool _showProgress = false;
  TVersionTable _versions;
  std::vector<STDownloadFiles> _downloadFiles;
  std::string _execFile;
  bool _execFlag = false;
  // Key to setting, in the order first seen; looked up without regard to letter case.
  std::unique_ptr<std::vector<std::pair<std::string, ST_ProxyRec>>> _proxyList;
  std::string _certErrorMessage;
  std::string _befSubjectCn;

  // The download client (IdHTTP1).
  std::unique_ptr<HttpClient> IdHTTP1;

  View& view() { return view_; }

 private:
  // The paths of one candidate, worked out the same way by apply and undo.
  struct CandidatePaths {
    std::string target, newFile, backup;
  };
  CandidatePaths PathsOf(const STVersion_tb& v, const std::string& backupSuffix) const;
  // Where the entry lives in the program folder: below DIRECTORY when it has one.
  std::string TargetPath(const STVersion_tb& v) const;
  // Where the download of the entry is saved: an archive under its own name.
  std::string DownloadPathOf(const STVersion_tb& v) const;
  // The six "PROXY" settings, as every request is set up from them.
  ST_Proxy ProxySettings() const;
  std::string BackupSuffix() const;
  bool IsNeverTouched(const std::string& fileName) const;
  bool ReadCommandLine();
  void FailStart(const std::string& text);

  // The run's journal: started before the first download, a record before each change to
  // the program folder, committed once every candidate is in place.
  bool BeginJournal();
  bool PlanOfRun(JournalContent& plan) const;
  bool RelativePath(const std::string& path, std::string& relative) const;
  bool Record(JournalStep::Kind kind, size_t entry, bool existed);
  // Creates `folder` with its missing levels, each recorded first.
  bool MakeFolders(const std::string& folder);
  // Commits the run and removes the work folder; false when the run could not be committed.
  bool CommitRun();

  TXmlMod& xmlMod_;
  View& view_;
  ProgramContext context_;
  bool _running = false;
  std::unique_ptr<RunJournal> journal_;
};

// The candidate's line in the two lists: FILENAME + " Ver " + VER_NO (or REVISE_NO).
std::string CandidateLine(const STVersion_tb& v);

}  // namespace qvu
