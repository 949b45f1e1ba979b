// Putting the downloaded files in place with a backup of everything they replace, and the
// undo that takes a failed run back.
#include <unistd.h>

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

bool TMainFrm::UpdateFiles() {
  view_.ListBox2Clear();
  const std::string suffix = BackupSuffix();
  applied_.assign(_downloadFiles.size(), AppliedState{});

  for (size_t i = 0; i < _downloadFiles.size(); ++i) {
    STDownloadFiles& c = _downloadFiles[i];
    STVersion_tb& v = c.version;
    const CandidatePaths p = PathsOf(v, suffix);
    const bool isDirectory = v.IsDirectoryEntry();
    const bool neverTouched = !isDirectory && IsNeverTouched(v.FILENAME);
    AppliedState& state = applied_[i];

    if (!isDirectory && !neverTouched) {
      state.targetExisted = FileExists(p.target);
      if (!RenameFileReplacing(p.target, p.backup)) {
        _errorMessage = "ファイル名(" + p.target + ")の変更に失敗しました";
        return false;
      }
    }
    // A folder is merged into, so the undo needs the folder as it was: a tree of hard
    // links costs no copying and keeps every file's content and revision number.
    if (isDirectory && DirectoryExists(p.target)) {
      state.targetExisted = true;
      if (!BackupTree(p.target, p.backup)) {
        _errorMessage = "ファイル名(" + p.target + ")の変更に失敗しました";
        return false;
      }
    }

    if (!v.DIRECTORY.empty()) {
      std::string folder = _exePath + ToLocalSeparators(v.DIRECTORY);
      std::vector<std::string> missing = MissingLevels(folder);
      if (!CreateDirectoryPath(folder)) {
        _errorMessage = "ディレクトリ(" + _exePath + v.DIRECTORY + ")の作成に失敗しました";
        return false;
      }
      createdFolders_.insert(createdFolders_.end(), missing.begin(), missing.end());
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
      // the backup and nothing in its place, so a missing new copy is a failure.
      bool present = isDirectory ? DirectoryExists(p.newFile) : FileExists(p.newFile);
      bool moved = present && (isDirectory ? MoveDirectory(p.newFile, p.target, 3)
                                           : MoveFileWithRetry(p.newFile, p.target, 3));
      if (!moved) {
        _errorMessage = p.newFile + "のファイルコピーに失敗しました";
        return false;
      }
      state.placed = true;
    }

    v.USE_DT = DateTimeToText(Now());
    c.updated = true;
    view_.ListBox2Add(CandidateLine(v));
    view_.Repaint();
  }
  return true;
}

void TMainFrm::RestoreFiles() {
  const std::string suffix = BackupSuffix();
  for (size_t i = 0; i < _downloadFiles.size(); ++i) {
    const STDownloadFiles& c = _downloadFiles[i];
    const STVersion_tb& v = c.version;
    const CandidatePaths p = PathsOf(v, suffix);
    const bool isDirectory = v.IsDirectoryEntry();
    const AppliedState state = i < applied_.size() ? applied_[i] : AppliedState{};

    if (!isDirectory && !IsNeverTouched(v.FILENAME)) {
      if (FileExists(p.backup))
        RenameFileReplacing(p.backup, p.target);
      else if (state.placed && !state.targetExisted)
        std::remove(p.target.c_str());  // a file this run added
    }
    if (isDirectory) {
      if (DirectoryExists(p.backup)) {
        DeleteDirectoryTree(p.target);
        std::rename(p.backup.c_str(), p.target.c_str());
      } else if (state.placed && !state.targetExisted) {
        DeleteDirectoryTree(p.target);  // a folder this run added
      }
    }

    if (FileExists(c.localPath)) std::remove(c.localPath.c_str());
    if (DirectoryExists(p.newFile))
      DeleteDirectoryTree(p.newFile);
    else if (FileExists(p.newFile))
      std::remove(p.newFile.c_str());
  }
  // Folders the run created for new files, deepest first; rmdir leaves any that hold
  // something else.
  for (auto it = createdFolders_.rbegin(); it != createdFolders_.rend(); ++it) rmdir(it->c_str());
  createdFolders_.clear();
  DeleteDirectoryTree(_tmpPath);
}

}  // namespace qvu
