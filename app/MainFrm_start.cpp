// Creation of the main window: the preparation that runs before the window is shown, and the
// window's small handlers.
#include <cstdio>

#include "app/MainFrm.h"
#include "app/Process.h"
#include "net/HttpClient.h"
#include "net/XmlMod.h"
#include "support/Filesystem.h"

namespace qvu {

bool startAborted = false;
const char* const kLogFileName = "DoraradOv.log";

namespace {

const char* const kTooFewOrMany = "引数の数に過不足があります";
const char* const kMissingShopCode = "引数が不足しています";
const char* const kBadOrTooMany = "引数の値に誤りがあるか、または超過しています";

}  // namespace

TMainFrm::TMainFrm(TXmlMod& xmlMod, View& view, ProgramContext context)
    : xmlMod_(xmlMod), view_(view), context_(std::move(context)) {
  view_.SetEvents(this);
  FormCreate();
}

TMainFrm::~TMainFrm() { view_.SetEvents(nullptr); }

void TMainFrm::FailStart(const std::string& text) {
  view_.ShowError(text);
  startAborted = true;
  view_.Close();
}

bool TMainFrm::ReadCommandLine() {
  const std::vector<std::string>& a = context_.args;
  if (a.empty() || a.size() >= 4) {
    FailStart(kTooFewOrMany);
    return false;
  }
  bool shop = a[0] == "SHOP";
  if (a.size() == 1) {
    if (shop) {
      FailStart(kMissingShopCode);
      return false;
    }
    _category = a[0];
    return true;
  }
  if (a.size() == 3 && !shop) {
    FailStart(kBadOrTooMany);
    return false;
  }
  if (shop) {
    _category = "SHOP";
    _shopCode = a[1];
    if (a.size() == 3) {
      _execFile = a[2];
      _execFlag = true;
    }
  } else {
    _category = a[0];
    _execFile = a[1];
    _execFlag = true;
  }
  return true;
}

void TMainFrm::FormCreate() {
  std::remove(kLogFileName);

  _errorMessage.clear();
  _processId = CurrentProcessId();
  _exePath = ParentOf(context_.exeFile);
  if (_exePath != "/") _exePath += "/";
  _tmpPath = _exePath + kBackupFolderName + "/";
  _downloadPath.clear();
  _shopCode.clear();
  _domain.clear();
  _salonId.clear();
  _salonPw.clear();
  _apiDir.clear();
  _verId.clear();
  _verPw.clear();
  _category.clear();
  _verLogUrl.clear();
  _verMgrUrl.clear();
  _execFile.clear();
  _certErrorMessage.clear();
  _befSubjectCn.clear();
  _showProgress = false;
  _execFlag = false;
  IdHTTP1 = std::make_unique<HttpClient>(HttpClient::Role::Download,
                                         CertOwnerFields{&_domain, &_certErrorMessage, &_befSubjectCn});
  IdHTTP1->onWork = [this](HttpWork, int64_t count) { IdHTTP1Work(count); };

  view_.SetOuterSize(647, 427);
  view_.SetUpdateButtonVisible(false);

  if (!ReadCommandLine()) return;

  if (!RecoverInterruptedRun()) return FailStart(_errorMessage);

  if (!LoadConnectSettings()) return FailStart(_errorMessage);
  if (!FileExists(_exePath + "7-ZIP32.DLL") && !Get7ZipLibrary()) return FailStart(_errorMessage);
  if (!GetVersionList()) return FailStart(_errorMessage);

  if (!_versions.empty()) {
    MakeDownloadList();
    return;
  }
  view_.ShowInfo("更新するファイルはありません");
  startAborted = true;
  view_.Close();
}

void TMainFrm::SpeedButton1Click() { view_.Close(); }

void TMainFrm::IdHTTP1Work(int64_t workCount) {
  if (!_showProgress) return;
  view_.SetProgressPosition(workCount);
  view_.ProcessMessages();
  view_.Repaint();
}

}  // namespace qvu
