#include "net/XmlMod.h"

#include <utility>

#include "net/DataPacket.h"
#include "net/NetFailure.h"
#include "net/TextDecode.h"
#include "support/Common.h"

namespace qvu {

TXmlMod::TXmlMod()
    : IdHTTP1(HttpClient::Role::Api, CertOwnerFields{&_domain, &_certErrorMessage, &_befSubjectCn}) {
  IdHTTP1.maxBodyBytes = kMaxPacketBytes;
}

void TXmlMod::SetupHttp() { SetupHttpClient(IdHTTP1, _salonId, _salonPw, _proxy); }

bool TXmlMod::GetVersionInfo() {
  _certErrorMessage.clear();
  bool result = false;
  _versions.clear();
  long status = -1;
  try {
    SetupHttp();
    HttpResult response = IdHTTP1.Get(_url);
    status = response.status;
    if (!response.ok()) {
      _errorMessage = FailureText(FailureColumn::VersionList, response.failure, response.message,
                                  response.status);
    } else {
      std::string text = DecodeBody(response.body, response.charset, true);
      std::string().swap(response.body);  // only one copy of a list of megabytes at a time
      std::string error;
      TVersionTable rows;
      switch (ReadVersionPacket(std::move(text), rows, error)) {
        case PacketRead::Ok:
          _versions = std::move(rows);
          result = true;
          break;
        case PacketRead::NotPacket:
          _errorMessage = "ClientDataSet XmlDataの読込に失敗しました(Error = " + error + ")";
          break;
        case PacketRead::NotXml:
        case PacketRead::TooLarge:
          _errorMessage = FailureText(FailureColumn::VersionList, HttpFailure::Other, "", status);
          break;
      }
    }
  } catch (...) {
    _versions.clear();
    _errorMessage = FailureText(FailureColumn::VersionList, HttpFailure::Other, "", status);
  }
  if (!_certErrorMessage.empty()) _errorMessage = _certErrorMessage;
  // The connection stays for the version log at the end of the run (the server may close it
  // meanwhile; then the post opens another); it closes with the data module.
  return result;
}

bool TXmlMod::MakeVersionLogXml(const TVersionTable& list) {
  _versionLogXml.clear();
  if (list.empty()) return false;
  try {
    _versionLogXml = WriteVersionLogPacket(list);
  } catch (...) {
    _versionLogXml.clear();
  }
  return !_versionLogXml.empty();
}

bool TXmlMod::PostVersionLog() {
  _certErrorMessage.clear();
  bool result = false;
  long status = -1;
  try {
    SetupHttp();
    const HttpResult response = IdHTTP1.PostForm(_url, "data", _versionLogXml);
    status = response.status;
    const std::string text = DecodeBody(response.body, response.charset, false);
    if (!response.ok()) {
      _errorMessage = FailureText(FailureColumn::VersionLog, response.failure, response.message,
                                  response.status, "", text);
    } else if (UpperAscii(text) == "OK") {
      result = true;
    } else {
      _errorMessage = "PostVersionLog Error = " + text;
    }
  } catch (...) {
    _errorMessage = FailureText(FailureColumn::VersionLog, HttpFailure::Other, "", status);
  }
  if (!_certErrorMessage.empty()) _errorMessage = _certErrorMessage;
  return result;
}

}  // namespace qvu
