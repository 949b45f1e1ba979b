#include "tools/jet_header.h"

#include <utility>

namespace qvu::jet {

// The layer is obfuscation, not protection, and OpenSSL 3 offers RC4 only through its legacy
// provider, which a machine need not have; the cipher itself is a few lines.
void ToggleHeaderMask(uint8_t* headerPage) {
  const uint8_t key[4] = {0xc7, 0xda, 0x39, 0x6b};  // 0x6b39dac7, little-endian
  uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<uint8_t>(i);
  uint8_t j = 0;
  for (int i = 0; i < 256; ++i) {
    j = static_cast<uint8_t>(j + s[i] + key[i % 4]);
    std::swap(s[i], s[j]);
  }
  uint8_t x = 0, y = 0;
  uint8_t* data = headerPage + kHeaderMaskOffset;
  for (size_t n = 0; n < kHeaderMaskLength; ++n) {
    x = static_cast<uint8_t>(x + 1);
    y = static_cast<uint8_t>(y + s[x]);
    std::swap(s[x], s[y]);
    data[n] ^= s[static_cast<uint8_t>(s[x] + s[y])];
  }
}

}  // namespace qvu::jet
