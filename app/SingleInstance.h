// One copy of the updater per machine. The lock is an abstract Unix domain socket bound
// to the name "QueltaVersionUp": the kernel releases it when the process dies, however it
// dies, and it leaves no file behind. Other tools can test for it by binding the same name.
#pragma once

#include <string>

namespace qvu {

class SingleInstance {
 public:
  // Binds the name; Held() tells whether this process now owns it.
  explicit SingleInstance(const std::string& name);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  bool Held() const { return fd_ >= 0; }
  void Release();

 private:
  int fd_ = -1;
};

}  // namespace qvu
