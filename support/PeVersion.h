// The version-resource reader behind GetFileVersion, open to tests and the corpus check so
// that they can feed it bytes that never touch the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qvu {

// Random access to the bytes of one image. Read fails (false) for any range that is not
// wholly inside the image, so the reader never sees bytes it did not ask for.
class ImageBytes {
 public:
  virtual ~ImageBytes() = default;
  virtual bool Read(uint64_t offset, void* out, size_t size) const = 0;
};

// "a.b.c.d" from the fixed file information of the first version resource, "" for anything
// that is not a well-formed PE image (32- or 64-bit) with one.
std::string ReadPeFileVersion(const ImageBytes& image);
std::string ReadPeFileVersion(const uint8_t* data, size_t size);

}  // namespace qvu
