// Downloads of the candidates from the service's file area through the main window's client.
#include "app/MainFrm.h"
#include "app/StagedFile.h"
#include "net/HttpClient.h"
#include "net/NetFailure.h"

namespace qvu {

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
    const std::string local = DownloadPathOf(v);
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
  }

  if (!_certErrorMessage.empty()) {
    _errorMessage = _certErrorMessage;
    result = false;
  }
  IdHTTP1->Disconnect();
  return result;
}

}  // namespace qvu
