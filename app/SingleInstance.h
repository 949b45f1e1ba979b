// One copy of the updater per machine. The lock is named "QueltaVersionUp": on Linux an
// abstract Unix domain socket bound to the name, on Windows a named mutex. The system
// releases either when the process dies, however it dies, and neither leaves a file behind.
// Other tools can test for it by taking the same name.
#pragma once

#include <cstdint>
#include <string>

namespace qvu {

class SingleInstance {
 public:
  // Binds the name; Held() tells whether this process now owns it.
  explicit SingleInstance(const std::string& name);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  bool Held() const { return handle_ != kNone; }
  void Release();

 private:
  static constexpr intptr_t kNone = -1;
  intptr_t handle_ = kNone;  // the platform's socket or mutex
};

}  // namespace qvu
