// Throughput of a 1 GiB download through the built updater against the curl tool fetching
// the same file from the same local service. Goal: at least 0.9 of curl's throughput.
//
// A whole run of the updater also starts the program, reads SERVER.MDB, fetches the version
// list, sends a HEAD before the GET and moves the file into place. To leave the download
// phase alone, each peer is also run on a 1-byte file and that time is taken off: the
// throughput is 1 GiB / (time for 1 GiB - time for 1 byte), the same for both peers.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/update/UpdateBench.h"

using namespace qvu::bench;
namespace fs = std::filesystem;

namespace {

constexpr int kRuns = 3;
constexpr long long kBig = 1LL << 30;

struct Peer {
  std::vector<double> big, small, sync;
};

// curl's time, and in synced the time to make its file durable after it: the updater
// syncs each download before it takes its name, curl does not.
double CurlRun(UpdaterSetup& s, const std::string& name, long long size, double* synced = nullptr) {
  const std::string file = s.Folder().workDir() + "/" + name;
  Command c;
  c.exe = "curl";
  c.args = {"-s", "-o", file, "--cacert", s.RootFile(),
            "https://localhost:" + std::to_string(s.Port()) + "/zeph/files/file/" + name};
  Settle();
  Measured m = RunMeasured(c);
  std::error_code ec;
  Require(m.exitCode == 0 && fs::file_size(file, ec) == static_cast<uintmax_t>(size),
          "curl's fetch of " + name + " failed", m);
  if (synced) {
    const auto start = std::chrono::steady_clock::now();
    int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || fsync(fd) != 0) throw std::runtime_error("cannot sync " + file);
    close(fd);
    *synced = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  fs::remove(file);
  return m.seconds;
}

}  // namespace

int main() {
  return Main("download_bench", [] {
    UpdaterSetup s;
    ScratchFolder scratch;
    // Both peers write their copy to the same file system, below /tmp.
    const std::string big = scratch.Path() + "/big.bin";
    MakeSparseFile(big, kBig);
    s.Service().SetFileFromPath("big.bin", big);
    s.Service().SetFile("one.bin", "1");

    Peer updater, curl;
    for (int i = 0; i < kRuns; ++i) {
      updater.small.push_back(RunSingleDownload(s, "one.bin", 1).seconds);
      curl.small.push_back(CurlRun(s, "one.bin", 1));
      updater.big.push_back(RunSingleDownload(s, "big.bin", kBig).seconds);
      double synced = 0;
      curl.big.push_back(CurlRun(s, "big.bin", kBig, &synced));
      curl.sync.push_back(synced);
    }

    const double mib = static_cast<double>(kBig) / (1 << 20);
    auto report = [&](const char* name, const Peer& p) {
      const double whole = Median(p.big), base = Median(p.small), phase = whole - base;
      std::printf("%-8s 1 GiB run %7.2f s, 1-byte run %6.3f s, download phase %7.2f s, %7.1f MiB/s\n",
                  name, whole, base, phase, mib / phase);
      return mib / phase;
    };
    std::printf("download of 1 GiB from the local service, median of %d runs\n", kRuns);
    const double u = report("updater", updater);
    const double c = report("curl", curl);
    const double ratio = u / c;
    std::printf("throughput updater / curl %5.2f (goal >= 0.90) %s\n", ratio, Verdict(ratio >= 0.9).c_str());
    const double durable = Median(curl.sync);
    std::printf("curl, then fsync of its file (%.2f s): %.1f MiB/s; updater / that %5.2f\n", durable,
                mib / (Median(curl.big) - Median(curl.small) + durable),
                u / (mib / (Median(curl.big) - Median(curl.small) + durable)));
    std::printf("whole runs alone: updater / curl %5.2f\n", Median(curl.big) / Median(updater.big));
  });
}
