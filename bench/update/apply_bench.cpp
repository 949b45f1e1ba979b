// Applying 1,000 small files in one update run against `mv` of 1,000 files by a shell loop.
//
// Each file replaces an older copy in the program folder: the old one is moved aside as a
// backup, half of them get a revision number stamped, the new one is moved into place and
// its line is printed. The terminal front end prints (and flushes) each applied file's line
// as soon as it is applied, so the apply phase is read from when those lines arrive: from
// the first to the last, scaled by 1000/999 for the first file's own share. The downloads
// before it are not counted. The peer moves 1,000 files of the same size over 1,000 older
// ones within one file system, one mv process per file, as a shell script would.
// Goal (this benchmark's own): the apply phase takes no longer than the mv loop.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/update/UpdateBench.h"

using namespace qvu::bench;
using qvu::testing::Entry;
using qvu::testing::WriteFile;
namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 1000;
constexpr int kRuns = 3;

std::string Name(int i) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "a%04d.txt", i);
  return buf;
}

std::string NewContent(int i) { return "new content of file " + std::to_string(i) + "\n"; }

// New files each time: a rewritten file would keep the revision number stamped by the last
// run and then count as current.
void LayOldFiles(const std::string& folder) {
  fs::remove_all(folder);
  for (int i = 0; i < kFiles; ++i) WriteFile(folder + "/" + Name(i), "old content " + std::to_string(i) + "\n");
}

struct Phases {
  double download = 0, apply = 0;
};

Phases UpdateRun(UpdaterSetup& s) {
  LayOldFiles(s.P("apply"));
  Settle();
  Measured m = s.Run("y\n");
  const std::string summary = std::to_string(kFiles) + "件中 " + std::to_string(kFiles) + "件更新しました\n";
  Require(m.exitCode == 0 && m.err.empty() && m.out.size() >= summary.size() &&
              m.out.compare(m.out.size() - summary.size(), summary.size(), summary) == 0,
          "the update run failed", m);
  // The candidates, the question (the first applied line follows it on its line), one line
  // per applied file, the summary.
  const size_t lines = m.lineSeconds.size();
  Require(lines == 2 * kFiles + 1, "unexpected output", m);
  Require(qvu::testing::ReadFile(s.P("apply/" + Name(kFiles - 1))) == NewContent(kFiles - 1),
          "the last file was not replaced", m);
  const double listed = m.lineSeconds[kFiles - 1];
  const double first = m.lineSeconds[lines - 1 - kFiles], last = m.lineSeconds[lines - 2];
  const double apply = (last - first) * kFiles / (kFiles - 1);
  // Between the last listed line and the first applied one: the answer, every download and
  // the first file's apply.
  return {first - listed - apply / kFiles, apply};
}

double MvLoop(const std::string& scratch) {
  const std::string src = scratch + "/src", dest = scratch + "/dest";
  fs::remove_all(src);
  for (int i = 0; i < kFiles; ++i) WriteFile(src + "/" + Name(i), NewContent(i));
  LayOldFiles(dest);
  Settle();
  Command c;
  c.exe = "/bin/sh";
  c.args = {"-c", "cd \"$1\" && for f in *; do mv \"$f\" \"$2\"/; done", "sh", src, dest};
  Measured m = RunMeasured(c);
  Require(m.exitCode == 0 && fs::is_empty(src), "the mv loop failed", m);
  return m.seconds;
}

}  // namespace

int main() {
  return Main("apply_bench", [] {
    UpdaterSetup s;
    ScratchFolder scratch;
    std::vector<Entry> list;
    for (int i = 0; i < kFiles; ++i) {
      Entry e = {{"FILENAME", Name(i)}, {"ZIPFILENAME", Name(i)}, {"DIRECTORY", "apply"},
                 {"FILE_DT", "2099/01/01 0:00:00"}};
      if (i % 2 == 0) e["REVISE_NO"] = "7";
      list.push_back(std::move(e));
      s.Service().SetFile(Name(i), NewContent(i));
    }
    s.ServeList(list);

    std::vector<double> download, apply, mv;
    for (int i = 0; i < kRuns; ++i) {
      const Phases p = UpdateRun(s);
      download.push_back(p.download);
      apply.push_back(p.apply);
      mv.push_back(MvLoop(scratch.Path()));
    }
    const double a = Median(apply), b = Median(mv);
    std::printf("applying %d small files, median of %d runs\n", kFiles, kRuns);
    std::printf("updater's apply phase %7.3f s (%.0f µs per file)\n", a, a / kFiles * 1e6);
    std::printf("mv loop (peer)        %7.3f s (%.0f µs per file)\n", b, b / kFiles * 1e6);
    std::printf("(the downloads of the same run before it: %.1f s, %.1f ms per file)\n", Median(download),
                Median(download) / kFiles * 1e3);
    std::printf("ratio updater / mv %.3f (goal <= 1.00) %s\n", a / b, Verdict(a <= b).c_str());
  });
}
