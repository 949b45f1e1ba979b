// Windows has no fork, and there the engine is Windows' own Access driver, which reports a
// damaged file itself. So the reading runs on a thread of its own under the time limit: one
// that overruns is left behind (the process ends it when it ends) and the file counts as
// damaged, so a driver that loops (mdbtools' under Wine) cannot hang the program. A crash
// inside the driver is not contained here.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "data/JetIsolation.h"

namespace qvu {

std::optional<std::string> RunIsolated(const std::function<std::string()>& work,
                                       std::chrono::milliseconds timeout) {
  // Shared with the thread, which may outlive this call.
  struct Outcome {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::string data;
  };
  auto outcome = std::make_shared<Outcome>();
  std::thread([outcome, work] {
    std::string data;
    try {
      data = work();
    } catch (...) {
      data.clear();
    }
    std::lock_guard<std::mutex> lock(outcome->mutex);
    outcome->data = std::move(data);
    outcome->finished = true;
    outcome->done.notify_one();
  }).detach();
  std::unique_lock<std::mutex> lock(outcome->mutex);
  if (!outcome->done.wait_for(lock, timeout, [&] { return outcome->finished; }) || outcome->data.empty())
    return std::nullopt;
  return std::move(outcome->data);
}

}  // namespace qvu
