#include "data/JetPassword.h"

#include <array>
#include <cstring>
#include <optional>

#include "support/Common.h"

namespace qvu {
namespace {

constexpr size_t kMaskOffset = 0x18;
constexpr size_t kPasswordOffset = 0x42;
constexpr size_t kCreationDateOffset = 0x72;

struct Layout {
  bool jet3;
  size_t maskLength;
  size_t fieldBytes;
};

Layout LayoutOf(std::span<const uint8_t> page) {
  bool jet3 = page[kJetVersionOffset] == 0;
  return {jet3, jet3 ? size_t{126} : size_t{128}, jet3 ? size_t{20} : size_t{40}};
}

// The RC4 key stream under the header key; XOR with it both hides and reveals.
std::array<uint8_t, 128> HeaderKeyStream() {
  static const uint8_t key[4] = {0xc7, 0xda, 0x39, 0x6b};  // 0x6b39dac7, little-endian
  uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<uint8_t>(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + key[i % 4]) & 0xff;
    std::swap(s[i], s[j]);
  }
  std::array<uint8_t, 128> out{};
  for (size_t n = 0, i = 0, j = 0; n < out.size(); ++n) {
    i = (i + 1) & 0xff;
    j = (j + s[i]) & 0xff;
    std::swap(s[i], s[j]);
    out[n] = s[(s[i] + s[j]) & 0xff];
  }
  return out;
}

// The masked region of the page in plain form.
std::array<uint8_t, 128> Unmasked(std::span<const uint8_t> page, const Layout& layout) {
  static const std::array<uint8_t, 128> stream = HeaderKeyStream();
  std::array<uint8_t, 128> plain{};
  for (size_t i = 0; i < layout.maskLength; ++i) plain[i] = page[kMaskOffset + i] ^ stream[i];
  return plain;
}

}  // namespace

void JetToggleHeaderMask(std::span<uint8_t> page) {
  if (page.size() < kJetHeaderMinBytes) return;
  static const std::array<uint8_t, 128> stream = HeaderKeyStream();
  const Layout layout = LayoutOf(page);
  for (size_t i = 0; i < layout.maskLength; ++i) page[kMaskOffset + i] ^= stream[i];
}

namespace {

// The second mask of the password field in Jet 4 and later: the creation date's whole days.
std::array<uint8_t, 4> DateMask(const std::array<uint8_t, 128>& plain) {
  double date;
  std::memcpy(&date, plain.data() + (kCreationDateOffset - kMaskOffset), sizeof date);
  // A damaged header may hold anything here; the cast must stay defined.
  int32_t days = (date > -2147483648.0 && date < 2147483648.0) ? static_cast<int32_t>(date) : 0;
  uint32_t u = static_cast<uint32_t>(days);
  return {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u >> 16),
          static_cast<uint8_t>(u >> 24)};
}

// Code points of valid UTF-8 (no surrogates, no overlong forms); nullopt otherwise.
std::optional<std::u32string> DecodeUtf8(const std::string& text) {
  std::u32string out;
  for (size_t i = 0; i < text.size();) {
    uint8_t b = static_cast<uint8_t>(text[i]);
    size_t extra = b < 0x80 ? 0 : (b & 0xe0) == 0xc0 ? 1 : (b & 0xf0) == 0xe0 ? 2
                 : (b & 0xf8) == 0xf0 ? 3 : 9;
    if (extra == 9 || i + extra >= text.size()) return std::nullopt;
    uint32_t cp = extra == 0 ? b : b & (0x3f >> extra);
    for (size_t k = 1; k <= extra; ++k) {
      uint8_t c = static_cast<uint8_t>(text[i + k]);
      if ((c & 0xc0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (c & 0x3f);
    }
    static const uint32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return std::nullopt;
    out += static_cast<char32_t>(cp);
    i += extra + 1;
  }
  return out;
}

}  // namespace

bool JetDecodePassword(std::span<const uint8_t> page, std::string& password) {
  if (page.size() < kJetHeaderMinBytes) return false;
  Layout layout = LayoutOf(page);
  std::array<uint8_t, 128> plain = Unmasked(page, layout);
  const uint8_t* field = plain.data() + (kPasswordOffset - kMaskOffset);
  password.clear();
  if (layout.jet3) {
    std::u16string latin1;
    for (size_t i = 0; i < layout.fieldBytes && field[i] != 0; ++i) latin1 += static_cast<char16_t>(field[i]);
    password = Utf16ToUtf8(latin1);
    return true;
  }
  std::array<uint8_t, 4> dateMask = DateMask(plain);
  std::u16string units;
  for (size_t i = 0; i + 1 < layout.fieldBytes; i += 2) {
    char16_t unit = static_cast<char16_t>((field[i] ^ dateMask[i % 4]) |
                                          ((field[i + 1] ^ dateMask[(i + 1) % 4]) << 8));
    if (unit == 0) break;
    units += unit;
  }
  // A lone surrogate cannot be written as UTF-8; its U+FFFD never matches a given text.
  password = Utf16ToUtf8(units);
  return true;
}

bool JetEncodePassword(std::span<uint8_t> page, const std::string& password) {
  if (page.size() < kJetHeaderMinBytes) return false;
  std::optional<std::u32string> points = DecodeUtf8(password);
  if (!points) return false;
  Layout layout = LayoutOf(page);
  std::array<uint8_t, 40> field{};
  if (layout.jet3) {
    if (points->size() > kJetPasswordMaxLength) return false;
    for (size_t i = 0; i < points->size(); ++i) {
      if ((*points)[i] > 0xff) return false;
      field[i] = static_cast<uint8_t>((*points)[i]);
    }
  } else {
    const std::u16string units = Utf8ToUtf16(password);
    if (units.size() > kJetPasswordMaxLength) return false;
    for (size_t i = 0; i < units.size(); ++i) {
      field[2 * i] = static_cast<uint8_t>(units[i]);
      field[2 * i + 1] = static_cast<uint8_t>(units[i] >> 8);
    }
  }
  std::array<uint8_t, 128> plain = Unmasked(page, layout);
  if (!layout.jet3) {
    std::array<uint8_t, 4> dateMask = DateMask(plain);
    for (size_t i = 0; i < layout.fieldBytes; ++i) field[i] ^= dateMask[i % 4];
  }
  static const std::array<uint8_t, 128> stream = HeaderKeyStream();
  const size_t start = kPasswordOffset - kMaskOffset;
  for (size_t i = 0; i < layout.fieldBytes; ++i)
    page[kPasswordOffset + i] = field[i] ^ stream[start + i];
  return true;
}

}  // namespace qvu
