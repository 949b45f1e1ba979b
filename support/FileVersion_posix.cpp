#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "support/Filesystem.h"
#include "support/PeVersion.h"

namespace qvu {
namespace {

// Reads only the few ranges the walk asks for, so a large file costs a handful of preads.
class FileImage : public ImageBytes {
 public:
  FileImage(int fd, uint64_t size) : fd_(fd), size_(size) {}
  bool Read(uint64_t offset, void* out, size_t size) const override {
    if (offset > size_ || size > size_ - offset) return false;
    auto* p = static_cast<uint8_t*>(out);
    while (size > 0) {
      ssize_t got = pread(fd_, p, size, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;  // shrank under us, or an I/O error
      p += got;
      offset += static_cast<uint64_t>(got);
      size -= static_cast<size_t>(got);
    }
    return true;
  }

 private:
  int fd_;
  uint64_t size_;
};

}  // namespace

std::string GetFileVersion(const std::string& fileName) {
  if (fileName.empty()) return "";
  // O_NONBLOCK so that naming a FIFO cannot hang the comparison; only regular files are read.
  int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return "";
  std::string version;
  try {
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
      version = ReadPeFileVersion(FileImage(fd, static_cast<uint64_t>(st.st_size)));
  } catch (...) {  // out of memory for a directory table: no version, as for any bad image
    version.clear();
  }
  close(fd);
  return version;
}

}  // namespace qvu
