// The obfuscated part of a Jet 4 header page: from offset 0x18, 128 bytes under RC4 with the
// fixed key 0x6b39dac7. The database password inside it has a codec of its own
// (data/JetPassword.h), which works on the page as it lies in the file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qvu::jet {

constexpr size_t kHeaderMaskOffset = 0x18;
constexpr size_t kHeaderMaskLength = 128;

// Applies or removes (RC4 is its own inverse) the obfuscation of a 4096-byte header page.
void ToggleHeaderMask(uint8_t* headerPage);

}  // namespace qvu::jet
