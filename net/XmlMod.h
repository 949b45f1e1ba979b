// The communication data module: the version list request and the version log post of
// the web service's API. Created once at start-up, it lives until the program ends; its
// public fields are the hand-over area between the main window and the requests.
#pragma once

#include <string>

#include "data/Cversion_tb.h"
#include "net/HttpClient.h"
#include "net/Proxy.h"

namespace qvu {

class TXmlMod {
 public:
  TXmlMod();
  TXmlMod(const TXmlMod&) = delete;
  TXmlMod& operator=(const TXmlMod&) = delete;

  std::string _errorMessage;     // text of the last failed request; only read after a failure
  std::string _salonId;          // Basic authorisation of the API requests
  std::string _salonPw;
  std::string _url;              // complete address of the next request
  std::string _versionLogXml;    // built by MakeVersionLogXml, sent by PostVersionLog
  TVersionTable _versions;       // version list of the last request
  std::string _domain;           // host of the web service (setting "CONNECT"/"Domain")
  ST_Proxy _proxy;               // proxy of the next request
  std::string _certErrorMessage; // refusal text of the certificate check
  std::string _befSubjectCn;     // chain memory of the certificate check; never reset

  // The API client (time-outs adjustable through its fields).
  HttpClient IdHTTP1;

  // Prepares IdHTTP1 for the next request from _salonId, _salonPw and _proxy.
  void SetupHttp();

  // GET _url and read the data packet into _versions. False: _errorMessage says why.
  bool GetVersionInfo();

  // The version log packet of the entries into _versionLogXml; false for an empty list
  // or when it cannot be built (no text then).
  bool MakeVersionLogXml(const TVersionTable& list);

  // POST _versionLogXml to _url as the form field "data". True when the service answered
  // "OK" in any letter case and nothing else.
  bool PostVersionLog();
};

}  // namespace qvu
