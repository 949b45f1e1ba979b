#include "net/NetFailure.h"

namespace qvu {

namespace {

// The table by kind: the version list and the download name the library's message, the
// version log the status code; the download's text follows the file name unless noted.
struct Row {
  HttpFailure kind;
  const char* versionList;
  const char* versionLog;  // nullptr: the last row
  const char* download;
  bool downloadNamesFile;
};

const Row kRows[] = {
    {HttpFailure::Socket, "バージョン情報の取得の際にネットワークエラーが発生しました",
     "ネットワークエラーが発生しました", "をバージョンアップする際にネットワークエラーが発生しました", true},
    {HttpFailure::TlsConnect, "バージョン情報の取得の際にサーバ接続でエラーが発生しました",
     "サーバ接続でエラーが発生しました", "をバージョンアップする際にサーバ接続でエラーが発生しました", true},
    {HttpFailure::MalformedAddress, "バージョン情報の取得の際にホスト名に異常が検出されました",
     "ホスト名に異常が検出されました", "をバージョンアップする際にホスト名に異常が検出されました", true},
    {HttpFailure::TlsLibrary, "バージョン情報の取得の際にSSLライブラリが見つかりませんでした",
     "SSLライブラリが見つかりません", "をバージョンアップする際にSSLライブラリが見つかりません", true},
    {HttpFailure::AlreadyConnected, "SSLライブラリが見つかりません", nullptr,
     "SSLライブラリが見つかりません", false},
    {HttpFailure::ReadTimeout, "バージョン情報の取得の際にタイムアウトが発生しました",
     "タイムアウトが発生しました", "をバージョンアップする際にタイムアウトが発生しました", true},
};

std::string WithError(const std::string& text, const std::string& message) {
  return text + "(Error = " + message + ")";
}
std::string WithCode(const std::string& text, long status) {
  return text + "(ResponseCode = " + std::to_string(status) + ")";
}

}  // namespace

std::string FailureText(FailureColumn column, HttpFailure kind, const std::string& message,
                        long status, const std::string& fileName, const std::string& body) {
  if (column == FailureColumn::VersionLog && kind == HttpFailure::HttpStatus)
    return "Httpプロトコルエラー\n" + body + "\n(ResponseCode = " + std::to_string(status) + ")";
  for (const Row& row : kRows) {
    if (row.kind != kind) continue;
    switch (column) {
      case FailureColumn::VersionList:
        return WithError(row.versionList, message);
      case FailureColumn::VersionLog:
        if (row.versionLog != nullptr) return WithCode(row.versionLog, status);
        break;
      case FailureColumn::Download:
        return WithError((row.downloadNamesFile ? fileName : "") + row.download, message);
    }
  }
  switch (column) {
    case FailureColumn::VersionList:
      return WithCode("バージョン情報の取得に失敗しました", status);
    case FailureColumn::VersionLog:
      return WithCode("例外エラー", status);
    case FailureColumn::Download:
      break;
  }
  return WithCode(fileName + "のバージョンアップに失敗しました", status);
}

}  // namespace qvu
