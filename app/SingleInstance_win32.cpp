#include <windows.h>

#include "app/SingleInstance.h"
#include "support/WideText_win32.h"

namespace qvu {

SingleInstance::SingleInstance(const std::string& name) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, WideFrom(name).c_str());
  // Read at once, before any other call can change it. Any error at all, not only "already
  // exists", counts as another copy running.
  DWORD error = GetLastError();
  if (mutex == nullptr) return;
  if (error != 0) {
    ReleaseMutex(mutex);  // fails harmlessly where ownership was not granted
    CloseHandle(mutex);
    return;
  }
  handle_ = reinterpret_cast<intptr_t>(mutex);
}

SingleInstance::~SingleInstance() { Release(); }

void SingleInstance::Release() {
  if (handle_ == kNone) return;
  HANDLE mutex = reinterpret_cast<HANDLE>(handle_);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  handle_ = kNone;
}

}  // namespace qvu
