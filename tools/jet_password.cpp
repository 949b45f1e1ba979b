#include "tools/jet_password.h"

#include <cmath>
#include <cstring>

namespace qvu::jet {
namespace {

// The header's layer is obfuscation, not protection, and OpenSSL 3 offers RC4 only through
// its legacy provider, which a machine need not have; the cipher itself is a few lines.
void Rc4(const uint8_t* key, size_t keyLength, uint8_t* data, size_t length) {
  uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<uint8_t>(i);
  uint8_t j = 0;
  for (int i = 0; i < 256; ++i) {
    j = static_cast<uint8_t>(j + s[i] + key[i % keyLength]);
    std::swap(s[i], s[j]);
  }
  uint8_t x = 0, y = 0;
  for (size_t n = 0; n < length; ++n) {
    x = static_cast<uint8_t>(x + 1);
    y = static_cast<uint8_t>(y + s[x]);
    std::swap(s[x], s[y]);
    data[n] ^= s[static_cast<uint8_t>(s[x] + s[y])];
  }
}

std::array<uint8_t, 4> DateMask(double creationDate) {
  // Whole days as a 32-bit integer; a date outside that range (only a damaged header has
  // one) gives no mask rather than undefined behaviour.
  int32_t days = 0;
  if (std::isfinite(creationDate) && std::fabs(creationDate) < 2147483647.0)
    days = static_cast<int32_t>(creationDate);
  uint32_t u = static_cast<uint32_t>(days);
  return {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u >> 16),
          static_cast<uint8_t>(u >> 24)};
}

}  // namespace

void ToggleHeaderMask(uint8_t* headerPage) {
  const uint8_t key[4] = {0xc7, 0xda, 0x39, 0x6b};  // 0x6b39dac7, little-endian
  Rc4(key, sizeof key, headerPage + kHeaderMaskOffset, kHeaderMaskLength);
}

bool EncodePasswordField(const std::u16string& password, double creationDate,
                         std::array<uint8_t, kPasswordBytes>& field) {
  if (password.size() > kPasswordBytes / 2) return false;
  field.fill(0);
  for (size_t i = 0; i < password.size(); ++i) {
    field[2 * i] = static_cast<uint8_t>(password[i]);
    field[2 * i + 1] = static_cast<uint8_t>(password[i] >> 8);
  }
  const auto mask = DateMask(creationDate);
  for (size_t i = 0; i < field.size(); ++i) field[i] ^= mask[i % 4];
  return true;
}

std::u16string DecodePassword(const uint8_t* headerPage) {
  uint8_t plain[kHeaderMaskOffset + kHeaderMaskLength];
  std::memcpy(plain, headerPage, sizeof plain);
  ToggleHeaderMask(plain);
  double created;
  std::memcpy(&created, plain + kCreationDateOffset, sizeof created);
  const auto mask = DateMask(created);
  std::u16string password;
  for (size_t i = 0; i + 1 < kPasswordBytes; i += 2) {
    char16_t unit = static_cast<char16_t>(
        (plain[kPasswordOffset + i] ^ mask[i % 4]) |
        ((plain[kPasswordOffset + i + 1] ^ mask[(i + 1) % 4]) << 8));
    if (unit == 0) break;
    password.push_back(unit);
  }
  return password;
}

}  // namespace qvu::jet
