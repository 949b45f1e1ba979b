// How long the data module takes to fetch and read a version list of 10,000 rows from the
// local test service, against the curl tool fetching the same body plus a bare pugixml
// parse of it. Goal: a ratio of at most 1.5.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "data/Cversion_tb.h"
#include "net/DataPacket.h"
#include "net/TextDecode.h"
#include "net/XmlMod.h"
#include "tests/harness/Harness.h"

using namespace qvu;
using namespace qvu::testing;

namespace {

constexpr int kRows = 10000;
constexpr int kRuns = 7;
const char kPath[] = "/quelta/api/office/gvermgr";

std::string MakePacket() {
  std::string xml = "<?xml version=\"1.0\" standalone=\"yes\"?><DATAPACKET Version=\"2.0\"><METADATA><FIELDS>";
  for (const char* column : kVersionColumns)
    xml += std::string("<FIELD attrname=\"") + column + "\" fieldtype=\"string\" width=\"100\"/>";
  xml += "</FIELDS></METADATA><ROWDATA>";
  for (int i = 0; i < kRows; ++i) {
    const std::string n = std::to_string(i);
    xml += "<ROW SALONID=\"S0001\" SHOP_CODE=\"001\" CATEGORY=\"SHOP\" FILENAME=\"module" + n +
           ".dll\" ZIPFILENAME=\"module" + n + ".zip\" STATUS=\"UP\" VER_NO=\"1.2.3." + n +
           "\" REVISE_NO=\"" + n + "\" FILE_DT=\"2024/05/01 12:34:56\" UP_DT=\"2024/05/02 1:02:03\""
           " USE_DT=\"2024/05/03\" URL=\"\" DIRECTORY=\"bin\\sub\" NOTE=\"更新ファイル\" UPTIME=\"2024/05/04 0:00:00\"/>";
  }
  return xml + "</ROWDATA></DATAPACKET>";
}

template <typename F>
double MedianMs(F&& f) {
  std::vector<double> times;
  for (int i = 0; i < kRuns; ++i) {
    const auto start = std::chrono::steady_clock::now();
    f();
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main() {
  try {
    CertificateAuthority& ca = CertificateAuthority::Shared();
    setenv("SSL_CERT_FILE", ca.RootFile().c_str(), 1);
    const std::string packet = MakePacket();
    const std::string bodyFile = ca.Folder() + "/version_list.xml";
    WriteFileBytes(bodyFile, packet);

    CertSpec spec;
    spec.cn = "localhost";
    spec.san = {"DNS:localhost", "IP:127.0.0.1"};  // so that the curl tool verifies it too
    TestService service(ca.Issue(spec));
    Route route = Route::Ok("", {{"Content-Type", "text/xml; charset=utf-8"}});
    route.bodyFile = bodyFile;
    service.SetRoute("GET", kPath, route);
    const std::string url = service.BaseUrl() + kPath + "?SALONID=S0001&CATEGORY=SHOP&STATUS=UP&SHOP_CODE=001";

    TXmlMod xml;
    xml._domain = "localhost";
    xml._salonId = "S0001";
    xml._salonPw = "pw";
    xml._url = url;
    bool ok = true;
    const double ours = MedianMs([&] {
      ok = xml.GetVersionInfo() && xml._versions.size() == static_cast<size_t>(kRows) && ok;
    });
    if (!ok) {
      std::fprintf(stderr, "GetVersionInfo failed: %s\n", xml._errorMessage.c_str());
      return 1;
    }

    const std::string command = "curl -sS --fail --tlsv1.2 --tls-max 1.2 --cacert '" + ca.RootFile() +
                                "' -u S0001:pw -o /dev/null '" + url + "'";
    const double curlMs = MedianMs([&] {
      if (std::system(command.c_str()) != 0) ok = false;
    });
    if (!ok) {
      std::fprintf(stderr, "curl failed: %s\n", command.c_str());
      return 1;
    }
    const double parseMs = MedianMs([&] {
      pugi::xml_document doc;
      doc.load_buffer(packet.data(), packet.size());
    });

    if (std::getenv("QVU_BENCH_DETAIL")) {
      const double fetch = MedianMs([&] {
        SetupHttpClient(xml.IdHTTP1, "S0001", "pw", {});
        xml.IdHTTP1.Get(url);
      });
      std::printf("detail: fetch only %.1f ms\n", fetch);
      std::string text;
      std::printf("detail: decode %.1f ms\n", MedianMs([&] { text = DecodeBody(packet, "utf-8", true); }));
      TVersionTable rows;
      std::string error;
      std::printf("detail: read %.1f ms\n", MedianMs([&] { ReadVersionPacket(text, rows, error); }));
    }
    const double ratio = ours / (curlMs + parseMs);
    std::printf("version list: %d rows, %zu bytes, median of %d runs\n", kRows, packet.size(), kRuns);
    std::printf("GetVersionInfo          %8.1f ms\n", ours);
    std::printf("curl tool fetch         %8.1f ms\n", curlMs);
    std::printf("bare pugixml parse      %8.1f ms\n", parseMs);
    std::printf("ratio                   %8.2f (goal <= 1.50) %s\n", ratio, ratio <= 1.5 ? "met" : "MISSED");
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "benchmark could not run: %s\n", e.what());
    return 1;
  }
}
