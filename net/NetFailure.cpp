#include "net/NetFailure.h"

namespace qvu {

namespace {

std::string WithError(const std::string& text, const std::string& message) {
  return text + "(Error = " + message + ")";
}
std::string WithCode(const std::string& text, long status) {
  return text + "(ResponseCode = " + std::to_string(status) + ")";
}

std::string VersionListText(HttpFailure kind, const std::string& m, long n) {
  switch (kind) {
    case HttpFailure::Socket:
      return WithError("バージョン情報の取得の際にネットワークエラーが発生しました", m);
    case HttpFailure::TlsConnect:
      return WithError("バージョン情報の取得の際にサーバ接続でエラーが発生しました", m);
    case HttpFailure::MalformedAddress:
      return WithError("バージョン情報の取得の際にホスト名に異常が検出されました", m);
    case HttpFailure::TlsLibrary:
      return WithError("バージョン情報の取得の際にSSLライブラリが見つかりませんでした", m);
    case HttpFailure::AlreadyConnected:
      return WithError("SSLライブラリが見つかりません", m);
    case HttpFailure::ReadTimeout:
      return WithError("バージョン情報の取得の際にタイムアウトが発生しました", m);
    default:
      return WithCode("バージョン情報の取得に失敗しました", n);
  }
}

std::string VersionLogText(HttpFailure kind, long n, const std::string& body) {
  switch (kind) {
    case HttpFailure::Socket:
      return WithCode("ネットワークエラーが発生しました", n);
    case HttpFailure::TlsConnect:
      return WithCode("サーバ接続でエラーが発生しました", n);
    case HttpFailure::MalformedAddress:
      return WithCode("ホスト名に異常が検出されました", n);
    case HttpFailure::TlsLibrary:
      return WithCode("SSLライブラリが見つかりません", n);
    case HttpFailure::ReadTimeout:
      return WithCode("タイムアウトが発生しました", n);
    case HttpFailure::HttpStatus:
      return "Httpプロトコルエラー\n" + body + "\n(ResponseCode = " + std::to_string(n) + ")";
    default:
      return WithCode("例外エラー", n);
  }
}

std::string DownloadText(HttpFailure kind, const std::string& m, long n, const std::string& f) {
  switch (kind) {
    case HttpFailure::Socket:
      return WithError(f + "をバージョンアップする際にネットワークエラーが発生しました", m);
    case HttpFailure::TlsConnect:
      return WithError(f + "をバージョンアップする際にサーバ接続でエラーが発生しました", m);
    case HttpFailure::MalformedAddress:
      return WithError(f + "をバージョンアップする際にホスト名に異常が検出されました", m);
    case HttpFailure::TlsLibrary:
      return WithError(f + "をバージョンアップする際にSSLライブラリが見つかりません", m);
    case HttpFailure::AlreadyConnected:
      return WithError("SSLライブラリが見つかりません", m);
    case HttpFailure::ReadTimeout:
      return WithError(f + "をバージョンアップする際にタイムアウトが発生しました", m);
    default:
      return WithCode(f + "のバージョンアップに失敗しました", n);
  }
}

}  // namespace

std::string FailureText(FailureColumn column, HttpFailure kind, const std::string& message,
                        long status, const std::string& fileName, const std::string& body) {
  switch (column) {
    case FailureColumn::VersionList:
      return VersionListText(kind, message, status);
    case FailureColumn::VersionLog:
      return VersionLogText(kind, status, body);
    case FailureColumn::Download:
      return DownloadText(kind, message, status, fileName);
  }
  return WithCode("例外エラー", status);
}

}  // namespace qvu
