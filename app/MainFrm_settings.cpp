// The connection settings from SERVER.MDB and the two service addresses built from them.
#include "app/MainFrm.h"
#include "data/Cqueltasystem_tb.h"
#include "net/XmlMod.h"
#include "support/Common.h"

namespace qvu {

bool TMainFrm::LoadConnectSettings() {
  CQueltaSystem_tb table;
  // A bare name on purpose: the database is the shop's, found in the current directory.
  table._fileName = "SERVER.MDB";
  table._sql = std::string(" SELECT * ") + "  FROM QUELTASYSTEM_TB";
  if (!table.Select()) {
    _errorMessage = std::string("接続情報の取得に失敗しました(") + "SERVER.MDB" + ")";
    return false;
  }
  if (table._recordCount >= 1) {
    for (int i = 0; i < table._recordCount && i < static_cast<int>(table._rows.size()); ++i) {
      const STCQueltaSystem_tb& row = table._rows[i];
      if (row.SECTION == "CONNECT" && row.KEYNAME == "Domain") {
        _domain = row.KEYVAL;
        xmlMod_._domain = row.KEYVAL;
      }
      if (row.SECTION == "CONNECT" && row.KEYNAME == "SalonID") _salonId = row.KEYVAL;
      if (row.SECTION == "CONNECT" && row.KEYNAME == "SalonPW") _salonPw = row.KEYVAL;
      if (row.SECTION == "CONNECT" && row.KEYNAME == "test") _apiDir = row.KEYVAL;
      if (row.SECTION == "VERSION" && row.KEYNAME == "ID") _verId = row.KEYVAL;
      if (row.SECTION == "VERSION" && row.KEYNAME == "PW") _verPw = row.KEYVAL;
      if (row.SECTION == "PROXY") SetProxyValue(row.KEYNAME, row.KEYVAL);
    }
    if (_apiDir.empty()) _apiDir = "quelta";
  }

  std::string query = "?SALONID=" + _salonId + "&CATEGORY=" + _category + "&STATUS=UP";
  if (_category == "SHOP") query += "&SHOP_CODE=" + _shopCode;
  _verLogUrl = "https://" + _domain + "/" + _apiDir + "/" + "api/office/sverlog";
  _verMgrUrl = "https://" + _domain + "/" + _apiDir + "/" + "api/office/gvermgr" + query;
  return true;
}

void TMainFrm::SetProxyValue(const std::string& key, const std::string& value) {
  if (!_proxyList) _proxyList = std::make_unique<std::vector<std::pair<std::string, ST_ProxyRec>>>();
  for (auto& entry : *_proxyList) {
    if (SameTextAscii(entry.first, key)) {
      entry.second.value = value;
      return;
    }
  }
  _proxyList->push_back({key, ST_ProxyRec{value}});
}

std::string TMainFrm::GetProxyValue(const std::string& key) const {
  if (!_proxyList) return "";
  for (const auto& entry : *_proxyList)
    if (SameTextAscii(entry.first, key)) return entry.second.value;
  return "";
}

}  // namespace qvu
