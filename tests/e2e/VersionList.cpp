#include "tests/e2e/VersionList.h"

namespace qvu::testing {
namespace {

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

const char* const kColumns[] = {"SALONID", "SHOP_CODE", "CATEGORY", "FILENAME", "ZIPFILENAME",
                                "STATUS",  "VER_NO",    "REVISE_NO", "FILE_DT", "UP_DT",
                                "USE_DT",  "URL",       "DIRECTORY", "NOTE",    "UPTIME"};

}  // namespace

std::string VersionListXml(const std::vector<Entry>& entries) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
                    "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>";
  for (const char* c : kColumns)
    xml += std::string("<FIELD attrname=\"") + c + "\" fieldtype=\"string\" WIDTH=\"100\"/>";
  xml += "</FIELDS><PARAMS/></METADATA><ROWDATA>";
  for (const Entry& e : entries) {
    xml += "<ROW";
    for (const auto& [k, v] : e) xml += " " + k + "=\"" + Escape(v) + "\"";
    xml += "/>";
  }
  return xml + "</ROWDATA></DATAPACKET>";
}

}  // namespace qvu::testing
