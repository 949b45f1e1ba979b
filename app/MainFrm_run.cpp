// The update run behind the update button, the version log of a shop run, and the hand-over
// to the target program.
#include "app/MainFrm.h"
#include "app/Process.h"
#include "net/XmlMod.h"
#include "support/Filesystem.h"

namespace qvu {

void TMainFrm::SpeedButton4Click() {
  if (_running) return;
  _running = true;
  view_.SetUpdateButtonVisible(false);
  view_.SetCloseButtonVisible(false);
  _showProgress = true;

  // Every way out of the run below ends here: the close button back, the close box free.
  auto failed = [this](const std::string& text) {
    view_.ShowError(text);
    view_.SetCloseButtonVisible(true);
    _running = false;
  };

  _downloadPath = _exePath + kDownloadFolderName + "/";
  if (!CreateDirectoryPath(_downloadPath)) return failed(_downloadPath + "の作成に失敗しました");
  if (!CreateDirectoryPath(_tmpPath)) return failed(_tmpPath + "の作成に失敗しました");
  // The journal comes before the downloads, so that a run cut off while it fetches leaves
  // nothing staged behind either.
  if (!BeginJournal()) return failed(_errorMessage);

  // A failed download or apply is taken back whole before the user sees the close button;
  // an undo that cannot finish says so, and the next start finishes it.
  auto undone = [&](const char* fallback) {
    if (_errorMessage.empty()) _errorMessage = fallback;
    view_.ShowError(_errorMessage);
    if (!RestoreFiles()) view_.ShowError(_errorMessage);
    view_.SetCloseButtonVisible(true);
    _running = false;
  };
  if (!DownloadNewFiles()) return undone("ファイルのダウンロードに失敗しました");
  // A run that cannot be marked as standing would be taken back by the next start: it is
  // taken back now instead, and reported as failed.
  if (!UpdateFiles() || !CommitRun()) return undone("ファイルのバージョンアップに失敗しました");

  const int listed = view_.ListBox1Count();
  const int applied = view_.ListBox2Count();
  const bool complete = listed >= 1 && applied == listed;
  if (complete) SendUpdateResult();
  view_.SetProgressPosition(0);
  view_.ShowInfo(std::to_string(listed) + "件中 " + std::to_string(applied) + "件更新しました");
  _running = false;
  view_.Close();
  if (complete && _execFlag && !ExecTarget()) view_.ShowError(_errorMessage);
}

bool TMainFrm::SendUpdateResult() {
  if (_category != "SHOP") return true;
  xmlMod_._proxy = ProxySettings();
  xmlMod_._salonId = _salonId;
  xmlMod_._salonPw = _salonPw;
  xmlMod_._url = _verLogUrl;

  TVersionTable log;
  for (const STDownloadFiles& c : _downloadFiles)
    if (c.updated) log.push_back(c.version);
  if (log.empty()) return false;
  return xmlMod_.MakeVersionLogXml(log) && xmlMod_.PostVersionLog();
}

bool TMainFrm::ExecTarget() {
  const std::string path = _exePath + _execFile;
  if (!FileExists(path)) {
    _errorMessage = path + "が見つかりません";
    return false;
  }
  if (!StartProgram(path)) {
    _errorMessage = path + "の起動に失敗しました";
    return false;
  }
  return true;
}

}  // namespace qvu
