// The database password of a Jet 4 file as its header page keeps it.
//
// The header page is obfuscated from offset 0x18 for 128 bytes with RC4 under the fixed key
// 0x6b39dac7. Under that layer, the 40 bytes at 0x42 hold the password as UTF-16LE, padded
// with zeros, each byte masked with the low four bytes (little-endian) of the whole days of
// the creation date kept at 0x72. A database without password thus holds just the mask.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace qvu::jet {

constexpr size_t kHeaderMaskOffset = 0x18;
constexpr size_t kHeaderMaskLength = 128;
constexpr size_t kPasswordOffset = 0x42;
constexpr size_t kPasswordBytes = 40;  // 20 UTF-16 code units
constexpr size_t kCreationDateOffset = 0x72;

// Applies (or removes: RC4 is its own inverse) the obfuscation of a 4096-byte header page.
void ToggleHeaderMask(uint8_t* headerPage);

// The 40-byte password field for a plain (unobfuscated) header; false when the password is
// longer than 20 UTF-16 code units.
bool EncodePasswordField(const std::u16string& password, double creationDate,
                         std::array<uint8_t, kPasswordBytes>& field);

// The password of an obfuscated 4096-byte header page as stored, "" for none.
std::u16string DecodePassword(const uint8_t* headerPage);

}  // namespace qvu::jet
