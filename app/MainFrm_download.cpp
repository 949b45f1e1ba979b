// Downloads of the candidates from the service's file area through the main window's client.
#include <memory>
#include <vector>

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
  // Complete downloads wait here, under temporary names, to be placed together.
  struct Arrived {
    size_t candidate;
    std::unique_ptr<StagedFile> file;
    HttpResult get;
  };
  std::vector<Arrived> arrived;
  // The body arrived but cannot be kept: the last row of the table, with its status.
  auto unwritable = [this](const STVersion_tb& v, const HttpResult& get) {
    _errorMessage = FailureText(FailureColumn::Download, HttpFailure::Other, get.message, get.status, v.FILENAME);
  };

  for (size_t i = 0; i < _downloadFiles.size(); ++i) {
    const STVersion_tb& v = _downloadFiles[i].version;
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
    auto file = std::make_unique<StagedFile>(local);
    HttpResult get = file->ok() ? IdHTTP1->Get(url, [&file](const char* data, size_t size) {
      return file->Write(data, size);
    })
                                : HttpResult{};
    if (!get.ok()) {
      fail(get);
      break;
    }
    if (!file->Finish()) {
      unwritable(v, get);
      result = false;
      break;
    }
    // Refused here, before it is placed and long before the apply step touches the program
    // folder; the undo then takes the earlier downloads away.
    if (!IsThePlannedProgram(v, TargetPath(v), file->TempPath())) {
      _errorMessage = NotTheProgramText(v.FILENAME);
      result = false;
      break;
    }
    arrived.push_back({i, std::move(file), std::move(get)});
  }

  // What arrived is placed also after a failure, as each download was kept once it arrived.
  std::vector<StagedFile*> files;
  for (const Arrived& a : arrived) files.push_back(a.file.get());
  const size_t placed = PlaceAll(files);
  for (size_t k = 0; k < placed; ++k)
    _downloadFiles[arrived[k].candidate].localPath = arrived[k].file->FinalPath();
  if (placed < arrived.size() && result) {
    unwritable(_downloadFiles[arrived[placed].candidate].version, arrived[placed].get);
    result = false;
  }

  if (!_certErrorMessage.empty()) {
    _errorMessage = _certErrorMessage;
    result = false;
  }
  IdHTTP1->Disconnect();
  return result;
}

}  // namespace qvu
