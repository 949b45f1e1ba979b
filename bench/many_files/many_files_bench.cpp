// Many small files over a link with a real round trip: a whole run of the updater that
// brings 500 new files of 4 KiB, against one curl process making the same requests in the
// same order (the version list, then HEAD and GET of every file) over the connection it
// keeps. Both go through a relay that holds every chunk back by the one-way delay, in both
// directions. Goal: at most 1.15 times curl's time at 25 ms, at most 1.5 at 0 ms.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/many_files/DelayRelay.h"
#include "bench/update/UpdateBench.h"
#include "tests/e2e/Settings.h"

using namespace qvu::bench;
namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 500;
constexpr size_t kFileSize = 4096;
const char kListPath[] = "/quelta/api/office/gvermgr";

std::string Name(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "f%03d.bin", i);
  return name;
}

struct UpdaterTimes {
  double whole = 0;
  double apply = 0;  // moving the downloads into place, which curl does not do
};

// The updater's run: every file new, answered "y"; the files go again for the next run. The
// terminal prints each applied file's line as it is applied: the candidates, the question
// (the first applied line follows it on its line), one line per applied file, the summary.
UpdaterTimes UpdaterRun(UpdaterSetup& s) {
  Settle();
  Measured m = s.Run("y\n");
  const std::string summary = std::to_string(kFiles) + "件中 " + std::to_string(kFiles) + "件更新しました";
  Require(m.exitCode == 0 && m.err.empty() && m.out.find(summary) != std::string::npos,
          "the updater's run failed", m);
  const size_t lines = m.lineSeconds.size();
  Require(lines == 2 * kFiles + 1, "unexpected output", m);
  for (int i = 0; i < kFiles; ++i) fs::remove(s.P(Name(i)));
  const double first = m.lineSeconds[lines - 1 - kFiles], last = m.lineSeconds[lines - 2];
  return {m.seconds, (last - first) * kFiles / (kFiles - 1)};
}

// The same requests from one curl process: the list, then HEAD and GET of each file, the
// files written to a folder of their own.
double CurlRun(UpdaterSetup& s, int port, const std::string& folder) {
  const std::string base = "https://localhost:" + std::to_string(port);
  const std::string config = folder + "/requests.curlrc";
  {
    // After "next" every option of a transfer starts afresh, the trusted root among them.
    const std::string trust = "cacert = \"" + s.RootFile() + "\"\n";
    std::ofstream out(config);
    out << trust << "url = \"" << base << kListPath << "?SALONID=S0001&CATEGORY=APP&STATUS=UP\"\n"
        << "user = \"S0001:salonpass\"\noutput = \"/dev/null\"\n";
    for (int i = 0; i < kFiles; ++i) {
      const std::string url = base + "/zeph/files/file/" + Name(i);
      out << "next\n" << trust << "head\nuser = \"verid:verpw\"\nurl = \"" << url
          << "\"\noutput = \"/dev/null\"\n"
          << "next\n" << trust << "user = \"verid:verpw\"\nurl = \"" << url << "\"\noutput = \"" << folder
          << "/" << Name(i) << "\"\n";
    }
  }
  Command c;
  c.exe = "curl";
  c.args = {"-s", "-S", "-K", config};
  Settle();
  Measured m = RunMeasured(c);
  std::error_code ec;
  Require(m.exitCode == 0 && fs::file_size(folder + "/" + Name(kFiles - 1), ec) == kFileSize,
          "curl's requests failed", m);
  for (int i = 0; i < kFiles; ++i) fs::remove(folder + "/" + Name(i));
  return m.seconds;
}

}  // namespace

int main() {
  return Main("many_files_bench", [] {
    UpdaterSetup s;
    ScratchFolder scratch;
    std::vector<qvu::testing::Entry> list;
    for (int i = 0; i < kFiles; ++i) {
      s.Service().SetFile(Name(i), std::string(kFileSize, static_cast<char>('a' + i % 26)));
      list.push_back({{"FILENAME", Name(i)}, {"ZIPFILENAME", Name(i)}});
    }
    s.ServeList(list);

    std::printf("%d files of %zu bytes: the updater's whole run against one curl process\n", kFiles, kFileSize);
    for (int delay : {0, 25}) {
      DelayRelay relay(s.Port(), std::chrono::milliseconds(delay));
      s.PointAt(relay.Port());
      const int before = relay.Connections();
      const UpdaterTimes updater = UpdaterRun(s);
      const int updaterConnections = relay.Connections() - before;
      const double curl = CurlRun(s, relay.Port(), scratch.Path());
      const int curlConnections = relay.Connections() - before - updaterConnections;
      const double ratio = updater.whole / curl;
      const double goal = delay == 0 ? 1.5 : 1.15;
      std::printf("one-way %2d ms: updater %7.2f s (%d connections), curl %7.2f s (%d), ratio %.2f "
                  "(goal at most %.2f) %s\n",
                  delay, updater.whole, updaterConnections, curl, curlConnections, ratio, goal,
                  Verdict(ratio <= goal).c_str());
      std::printf("               of which the apply phase %.2f s; without it %.2f s, ratio %.2f\n",
                  updater.apply, updater.whole - updater.apply, (updater.whole - updater.apply) / curl);
    }
  });
}
