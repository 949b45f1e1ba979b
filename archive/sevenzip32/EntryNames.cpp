#include "archive/sevenzip32/EntryNames.h"

#include <cstdint>

namespace sevenzip32 {
namespace {

bool IsUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    uint32_t code = length == 1 ? c : c & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

}  // namespace

// Japanese Windows tools write CP932 without the flag; Linux tools write UTF-8 without it
// too. CP932 text is almost never valid UTF-8 (its lead bytes 0x81-0x9F are UTF-8
// continuation bytes), so a name that is valid UTF-8 stays as it is and any other is read
// as CP932. Decoding comes before backslashes are taken as separators: 0x5C is also a
// CP932 trail byte.
bool DecodeStoredName(const std::string& stored, std::string& utf8) {
  if (IsUtf8(stored)) {
    utf8 = stored;
    return true;
  }
  return Cp932ToUtf8(stored, utf8);
}

}  // namespace sevenzip32
