// Little-endian fields of the on-disk formats we read (PE images, property-set streams).
// The caller has checked that the bytes are there.
#pragma once

#include <cstdint>

namespace qvu {

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

inline uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace qvu
