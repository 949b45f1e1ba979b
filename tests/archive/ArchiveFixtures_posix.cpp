#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "tests/archive/ArchiveFixtures.h"

namespace qvu::test {

std::string ToCp932(const std::string& utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no CP932 converter");
  std::string in = utf8, out(utf8.size() * 2 + 4, '\0');
  char* inPtr = in.data();
  char* outPtr = out.data();
  size_t inLeft = in.size(), outLeft = out.size();
  size_t done = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (done == static_cast<size_t>(-1)) throw std::runtime_error("not CP932: " + utf8);
  out.resize(out.size() - outLeft);
  return out;
}

std::string ToAnsi(const std::string& utf8) { return utf8; }

std::vector<std::string> ExportedNames(const std::string& library) {
  std::vector<std::string> names;
  FILE* nm = popen(("nm -D --defined-only '" + library + "' | awk '{print $3}' | sort").c_str(), "r");
  if (nm == nullptr) return names;
  char line[256];
  while (fgets(line, sizeof line, nm) != nullptr) {
    std::string name = line;
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
    names.push_back(name);
  }
  pclose(nm);
  return names;
}

ArchivePipe::ArchivePipe(const ScratchDir& dir) : path_(dir / "pipe.zip"), handle_(-1) {
  if (mkfifo(path_.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
}

ArchivePipe::~ArchivePipe() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

bool ArchivePipe::Send(const std::string& bytes) {
  // The reader has the pipe open, or is about to: a writer that finds no reader yet waits.
  int fd = -1;
  for (int i = 0; i < 1000 && (fd = open(path_.c_str(), O_WRONLY | O_NONBLOCK)) < 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (fd < 0) return false;
  handle_ = fd;
  fcntl(fd, F_SETFL, 0);
  bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  close(fd);
  handle_ = -1;
  return written;
}

}  // namespace qvu::test
