// Downloads of the candidates from the service's file area through the main window's client.
#include "app/MainFrm.h"
#include "app/StagedFile.h"
#include "net/HttpClient.h"
#include "net/NetFailure.h"
#include "support/Filesystem.h"

namespace qvu {

namespace {

// The text when a download cannot be the program it is to replace.
std::string NotTheProgramText(const std::string& fileName) {
  return fileName + "をバージョンアップする際にダウンロードしたファイルのバージョン情報が読めませんでした";
}

// Whether a download can be the program it is to replace. Only where the plan compared two
// versions can anything be told: the list names one and the file it replaces has one. A new
// file, a file without a version resource and an archive pass.
bool IsThePlannedProgram(const STVersion_tb& v, const std::string& target, const std::string& download) {
  if (v.VER_NO.empty() || v.IsDirectoryEntry() || TMainFrm::IsZipFile(v.ZIPFILENAME)) return true;
  if (!FileExists(target) || GetFileVersion(target).empty()) return true;
  // An error page served as 200, a captive portal's page or a cut-off image has no version
  // resource; installed, it would also hide the program from every later plan. A version
  // that differs from VER_NO is the service's own affair and is installed.
  return !GetFileVersion(download).empty();
}

}  // namespace

void TMainFrm::SetupHttp() {
  SetupHttpClient(*IdHTTP1, _verId, _verPw, ProxySettings());
}

bool TMainFrm::DownloadNewFiles() {
  _certErrorMessage.clear();
  bool result = true;
  const std::string base = "https://" + _domain + "/zeph/files/file/";

  for (size_t i = 0; i < _downloadFiles.size(); ++i) {
    STDownloadFiles& c = _downloadFiles[i];
    const STVersion_tb& v = c.version;
    const std::string url = base + v.ZIPFILENAME;
    auto fail = [&](const HttpResult& r) {
      _errorMessage = FailureText(FailureColumn::Download, r.failure, r.message, r.status, v.FILENAME);
      result = false;
    };

    SetupHttp();
    HttpResult head = IdHTTP1->Head(url);
    if (!head.ok()) {
      fail(head);
      break;
    }
    if (_showProgress) {
      view_.SetProgressPosition(0);
      view_.SetProgressMax(head.contentLength > 0 ? head.contentLength : 0);
      view_.ListBox1Select(static_cast<int>(i));
    }

    SetupHttp();
    const std::string local = _downloadPath + (IsZipFile(v.ZIPFILENAME) ? ToLocalSeparators(v.ZIPFILENAME)
                                                                        : ToLocalSeparators(v.FILENAME));
    // The body goes straight to disk and takes its name only once complete: memory stays
    // flat for any size, and a broken transfer leaves no partial file under the name.
    StagedFile file(local);
    HttpResult get = file.ok() ? IdHTTP1->Get(url, [&file](const char* data, size_t size) {
      return file.Write(data, size);
    })
                               : HttpResult{};
    if (!get.ok()) {
      fail(get);
      break;
    }
    if (!file.Commit()) {
      // The body arrived but cannot be kept: the last row of the table, with its status.
      HttpResult unwritable = get;
      unwritable.failure = HttpFailure::Other;
      fail(unwritable);
      break;
    }
    c.localPath = local;
    // Refused here, before the apply step touches the program folder; the undo then takes
    // the download away with the others.
    if (!IsThePlannedProgram(v, TargetPath(v), local)) {
      _errorMessage = NotTheProgramText(v.FILENAME);
      result = false;
      break;
    }
  }

  if (!_certErrorMessage.empty()) {
    _errorMessage = _certErrorMessage;
    result = false;
  }
  IdHTTP1->Disconnect();
  return result;
}

}  // namespace qvu
