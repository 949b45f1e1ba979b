// Putting the downloaded files in place with a backup of everything they replace; every
// change to the program folder is in the run's journal before it is made.
#include <cstdio>

#include "app/MainFrm.h"
#include "app/TreeBackup.h"
#include "archive/7_zip.h"
#include "support/Common.h"
#include "support/Filesystem.h"

namespace qvu {

bool TMainFrm::IsZipFile(const std::string& fileName) {
  if (fileName.empty()) return false;
  // The extension as the platform's file-extension function gives it: from the last "."
  // of the last path component on.
  size_t slash = fileName.find_last_of("/\\");
  size_t dot = fileName.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  return UpperAscii(fileName.substr(dot)) == ".ZIP";
}

std::string TMainFrm::DownloadPathOf(const STVersion_tb& v) const {
  return _downloadPath + ToLocalSeparators(IsZipFile(v.ZIPFILENAME) ? v.ZIPFILENAME : v.FILENAME);
}

std::string TMainFrm::BackupSuffix() const { return "_" + IntToText(static_cast<int32_t>(_processId)) + "_bak"; }

TMainFrm::CandidatePaths TMainFrm::PathsOf(const STVersion_tb& v, const std::string& suffix) const {
  std::string name = ToLocalSeparators(v.FILENAME);
  CandidatePaths p;
  p.target = TargetPath(v);
  p.newFile = _downloadPath + name;
  p.backup = _tmpPath + name + suffix;
  return p;
}

bool TMainFrm::IsNeverTouched(const std::string& fileName) const {
  // The running updater and the TLS libraries it has loaded are never replaced under it.
  std::string name = UpperAscii(fileName);
  return name == UpperAscii(BaseName(context_.exeFile)) || name == "SSLEAY32.DLL" || name == "LIBEAY32.DLL";
}

bool TMainFrm::UnZipFile(const std::string& archivePath, const std::string& destinationFolder) {
  if (archivePath.empty()) {
    _errorMessage = "Zipファイルの解凍が出来ません";
    return false;
  }
  std::string commandLine = MakeUnzipCommandLine(archivePath, destinationFolder);
  std::string library = _exePath + "7-ZIP32.DLL";
  if (Get7ZipRunning(library) == -103) {
    _errorMessage = "Zipファイルの解凍が出来ません";
    return false;
  }
  int32_t result = Exec7Zip(library, commandLine);
  if (result != 0) {
    _errorMessage = archivePath + "の解凍に失敗(" + Get7ZipMessage(result) + ")";
    return false;
  }
  return true;
}

bool TMainFrm::MakeFolders(const std::string& folder) {
  std::vector<std::string> missing = MissingLevels(folder);
  std::vector<JournalStep> steps;
  for (const std::string& level : missing) {
    JournalStep step;
    step.kind = JournalStep::Kind::Folder;
    if (!RelativePath(level, step.folder)) return false;
    steps.push_back(step);
  }
  if (!steps.empty() && !journal_->Record(steps)) return false;
  if (!CreateDirectoryPath(folder)) return false;
  for (const std::string& level : missing)
    if (!FlushFolder(ParentOf(level))) return false;
  return true;
}

bool TMainFrm::UpdateFiles() {
  view_.ListBox2Clear();
  // Nothing in the program folder changes before the journal can take it back.
  if (!journal_ && !BeginJournal()) return false;
  const std::string suffix = BackupSuffix();

  for (size_t i = 0; i < _downloadFiles.size(); ++i) {
    STDownloadFiles& c = _downloadFiles[i];
    STVersion_tb& v = c.version;
    const CandidatePaths p = PathsOf(v, suffix);
    const bool isDirectory = v.IsDirectoryEntry();
    const bool neverTouched = !isDirectory && IsNeverTouched(v.FILENAME);
    bool existed = false;

    if (!isDirectory && !neverTouched) {
      existed = FileExists(p.target);
      // The old file's only name is in tmp/ on disk before anything may take its place.
      bool backedUp = Record(JournalStep::Kind::Backup, i, existed) && RenameFileReplacing(p.target, p.backup) &&
                      (!existed || (FlushFolder(ParentOf(p.target)) && FlushFolder(ParentOf(p.backup))));
      if (!backedUp) {
        _errorMessage = "ファイル名(" + p.target + ")の変更に失敗しました";
        return false;
      }
    }
    // A folder is merged into, so the undo needs the folder as it was: a tree of hard
    // links costs no copying and keeps every file's content and revision number.
    if (isDirectory && DirectoryExists(p.target)) {
      existed = true;
      if (!BackupTree(p.target, p.backup)) {
        _errorMessage = "ファイル名(" + p.target + ")の変更に失敗しました";
        return false;
      }
    }

    if (!v.DIRECTORY.empty() && !MakeFolders(_exePath + ToLocalSeparators(v.DIRECTORY))) {
      _errorMessage = "ディレクトリ(" + _exePath + v.DIRECTORY + ")の作成に失敗しました";
      return false;
    }

    if (IsZipFile(c.localPath)) {
      if (!UnZipFile(c.localPath, _downloadPath)) return false;
      std::remove(c.localPath.c_str());
    }

    if (!v.REVISE_NO.empty() && !isDirectory) {
      std::string error;
      if (!SetRevisionNo(p.newFile, 9, v.REVISE_NO, error)) {
        _errorMessage = "改訂番号更新に失敗しました(" + error + ")";
        return false;
      }
    }

    if (!neverTouched) {
      // The moves count a missing source as done; here that would leave the old file in
      // the backup and nothing in its place, so a missing new copy is a failure. The place
      // is recorded first: a move that fails after the rename still leaves a file to remove.
      bool present = isDirectory ? DirectoryExists(p.newFile) : FileExists(p.newFile);
      bool moved = present && (!isDirectory || MakeFolders(ParentOf(p.target))) &&
                   Record(JournalStep::Kind::Place, i, existed) &&
                   (isDirectory ? MoveDirectory(p.newFile, p.target, 3) : MoveFileWithRetry(p.newFile, p.target, 3));
      if (!moved) {
        _errorMessage = p.newFile + "のファイルコピーに失敗しました";
        return false;
      }
    }

    v.USE_DT = DateTimeToText(Now());
    c.updated = true;
    view_.ListBox2Add(CandidateLine(v));
    view_.Repaint();
  }
  return true;
}

}  // namespace qvu
