// The update plan for a version list of 10,000 entries whose files all lie current in the
// program folder, so every entry is compared with the disk and none is listed. The peer is
// the same start with the same list in which every FILENAME is empty: those entries are
// skipped before the disk is looked at, so the list that is fetched and read is the same
// size and the difference is the plan's own cost.
//
// A third of the entries carry a revision number that the file holds too, a third are
// compared by time stamp, and a third have a version number that plain files cannot answer
// (no version resource) and fall through to their time stamp, spread over ten folders.
// Goal (this benchmark's own): the plan adds at most 100 µs per entry, 1 s for 10,000.
#include <cstdio>
#include <string>
#include <vector>

#include "bench/update/UpdateBench.h"
#include "support/Filesystem.h"

using namespace qvu::bench;
using qvu::testing::Entry;

namespace {

constexpr int kEntries = 10000;
constexpr int kRuns = 5;
// What the terminal prints for a list that is all current.
const std::string kNothingListed = "更新するファイルはありません\n";

std::vector<Entry> MakeList(UpdaterSetup& s, bool lay) {
  std::vector<Entry> list;
  list.reserve(kEntries);
  for (int i = 0; i < kEntries; ++i) {
    const std::string name = "m" + std::to_string(i) + ".dat";
    const std::string dir = "plan\\d" + std::to_string(i % 10);
    Entry e = {{"FILENAME", name}, {"ZIPFILENAME", name}, {"DIRECTORY", dir}};
    switch (i % 3) {
      case 0: e["REVISE_NO"] = "0042"; break;
      case 1: e["FILE_DT"] = "2000/01/01 0:00:00"; break;
      default: e["VER_NO"] = "1.0.0.1"; e["FILE_DT"] = "2000/01/02 0:00:00"; break;
    }
    if (lay) {
      const std::string path = s.P("plan/d" + std::to_string(i % 10) + "/" + name);
      qvu::testing::WriteFile(path, "data " + std::to_string(i));
      std::string error;
      if (i % 3 == 0 && !qvu::SetRevisionNo(path, 9, "0042", error))
        throw std::runtime_error("cannot stamp " + path + ": " + error);
    }
    list.push_back(std::move(e));
  }
  return list;
}

}  // namespace

int main() {
  return Main("plan_bench", [] {
    UpdaterSetup s;
    const std::vector<Entry> planned = MakeList(s, true);
    std::vector<Entry> skipped = planned;
    for (Entry& e : skipped) e["FILENAME"] = "";

    std::vector<double> plan, peer;
    for (int i = 0; i < kRuns; ++i) {
      s.ServeList(planned);
      Measured m = s.Run("n\n");
      Require(m.exitCode == 0 && m.out == kNothingListed && m.err.empty(), "the planned start listed something or failed", m);
      plan.push_back(m.seconds);
      s.ServeList(skipped);
      m = s.Run("n\n");
      Require(m.exitCode == 0 && m.out == kNothingListed && m.err.empty(), "the skipping start failed", m);
      peer.push_back(m.seconds);
    }

    const double p = Median(plan), q = Median(peer), perEntry = (p - q) / kEntries * 1e6;
    std::printf("start with a version list of %d entries, median of %d runs\n", kEntries, kRuns);
    std::printf("every entry compared with the disk %7.3f s\n", p);
    std::printf("every entry skipped (peer)         %7.3f s\n", q);
    std::printf("ratio %.2f; the plan's own cost %.1f µs per entry (goal <= 100 µs) %s\n", p / q, perEntry,
                Verdict(perEntry <= 100).c_str());
  });
}
