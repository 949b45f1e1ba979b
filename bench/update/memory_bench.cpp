// Peak memory of the built updater (maximum resident set size of its process, from wait4)
// for a run that downloads 1 MiB against one that downloads 1 GiB. Goal: within 8 MiB.
// The body streams to disk, so the peak should not follow the size of the file.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/update/UpdateBench.h"

using namespace qvu::bench;

namespace {
constexpr int kRuns = 3;
}

int main() {
  return Main("memory_bench", [] {
    UpdaterSetup s;
    ScratchFolder scratch;
    const struct {
      const char* name;
      long long size;
    } files[] = {{"mib.bin", 1LL << 20}, {"gib.bin", 1LL << 30}};
    for (const auto& f : files) {
      MakeSparseFile(scratch.Path() + "/" + f.name, f.size);
      s.Service().SetFileFromPath(f.name, scratch.Path() + "/" + f.name);
    }

    std::vector<long> peak[2];
    for (int i = 0; i < kRuns; ++i)
      for (int k = 0; k < 2; ++k) peak[k].push_back(RunSingleDownload(s, files[k].name, files[k].size).maxRssKiB);

    std::printf("peak resident memory of the updater's process, %d runs each\n", kRuns);
    long highest[2];
    for (int k = 0; k < 2; ++k) {
      highest[k] = *std::max_element(peak[k].begin(), peak[k].end());
      std::printf("%-8s download: highest %7.2f MiB, lowest %7.2f MiB\n", k ? "1 GiB" : "1 MiB",
                  highest[k] / 1024.0, *std::min_element(peak[k].begin(), peak[k].end()) / 1024.0);
    }
    const double diff = (highest[1] - highest[0]) / 1024.0;
    std::printf("difference of the highest %+.2f MiB (goal within 8 MiB) %s\n", diff,
                Verdict(diff <= 8.0 && diff >= -8.0).c_str());
  });
}
