#include "support/PropertySet.h"

#include <cerrno>
#include <cstring>

#include "support/ByteOrder.h"
#include "support/Charset.h"

namespace qvu {
namespace {

// FMTID_SummaryInformation {F29F85E0-4FF9-1068-AB91-08002B27B3D9} in its stored byte order
// (first three fields little-endian).
constexpr uint8_t kSummaryFmtid[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                       0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
constexpr uint16_t kByteOrderMark = 0xFFFE;
constexpr uint32_t kSystemIdentifier = 0x00020006;  // OS kind 2 (Win32), version 6.0
constexpr size_t kHeaderSize = 28;                   // up to the count of sets
constexpr size_t kSetEntrySize = 20;                 // FMTID and offset
constexpr uint16_t kCodePageUtf8 = 65001;
constexpr uint16_t kCodePageUtf16 = 1200;

void Put16(std::string& s, uint16_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>(v >> 8));
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, static_cast<uint16_t>(v & 0xFFFF));
  Put16(s, static_cast<uint16_t>(v >> 16));
}
void PadTo4(std::string& s) {
  while (s.size() % 4) s.push_back('\0');
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | cp >> 6));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | cp >> 12));
    out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | cp >> 18));
    out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// UTF-16LE up to the first zero unit; an unpaired surrogate becomes U+FFFD rather than an
// error, as other readers of these sets show it.
std::string Utf16ToUtf8(const uint8_t* p, size_t units) {
  std::string out;
  for (size_t i = 0; i < units; ++i) {
    uint32_t u = Le16(p + 2 * i);
    if (u == 0) break;
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      uint32_t low = Le16(p + 2 * (i + 1));
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUtf8(out, u >= 0xD800 && u <= 0xDFFF ? 0xFFFD : u);
  }
  return out;
}

// An 8-bit string in the set's code page, up to its first zero byte.
bool CodePageToUtf8(const uint8_t* p, size_t size, uint16_t codePage, std::string& out) {
  if (codePage == kCodePageUtf16) {
    out = Utf16ToUtf8(p, size / 2);
    return true;
  }
  size_t length = 0;
  while (length < size && p[length]) ++length;
  out.assign(reinterpret_cast<const char*>(p), length);
  bool ascii = true;
  for (unsigned char c : out) ascii = ascii && c < 0x80;
  if (ascii || codePage == kCodePageUtf8) return true;
  return CharsetToUtf8(out, "CP" + std::to_string(codePage), /*replaceInvalid=*/false, out);
}

}  // namespace

std::string EncodeSummaryInformation(uint32_t id, const std::string& text) {
  std::string section;
  Put32(section, 0);  // size, filled in below
  Put32(section, 2);
  Put32(section, kPidCodePage);
  Put32(section, 24);  // after the header and the two pairs
  Put32(section, id);
  Put32(section, 32);
  Put32(section, kVtI2);
  Put16(section, kCodePageUtf8);
  PadTo4(section);
  Put32(section, kVtLpstr);
  Put32(section, static_cast<uint32_t>(text.size() + 1));  // counts the terminating zero
  section += text;
  section.push_back('\0');
  PadTo4(section);
  uint32_t sectionSize = static_cast<uint32_t>(section.size());
  for (int i = 0; i < 4; ++i) section[i] = static_cast<char>(sectionSize >> (8 * i) & 0xFF);

  std::string out;
  Put16(out, kByteOrderMark);
  Put16(out, 0);  // format version
  Put32(out, kSystemIdentifier);
  out.append(16, '\0');  // no class id
  Put32(out, 1);
  out.append(reinterpret_cast<const char*>(kSummaryFmtid), sizeof kSummaryFmtid);
  Put32(out, static_cast<uint32_t>(kHeaderSize + kSetEntrySize));
  return out + section;
}

bool DecodeSummaryInformation(const std::string& bytes, std::vector<SummaryProperty>& properties) {
  properties.clear();
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  const uint64_t size = bytes.size();
  if (size < kHeaderSize + kSetEntrySize || Le16(data) != kByteOrderMark || Le16(data + 2) > 1)
    return false;
  uint32_t setCount = Le32(data + 24);
  if (setCount < 1 || setCount > 2 || kHeaderSize + kSetEntrySize * uint64_t{setCount} > size)
    return false;
  const uint8_t* section = nullptr;
  uint64_t sectionSize = 0;
  for (uint32_t i = 0; i < setCount && !section; ++i) {
    const uint8_t* entry = data + kHeaderSize + kSetEntrySize * i;
    if (std::memcmp(entry, kSummaryFmtid, sizeof kSummaryFmtid) != 0) continue;
    uint64_t at = Le32(entry + 16);
    if (at + 8 > size) return false;
    sectionSize = Le32(data + at);
    if (sectionSize < 8 || at + sectionSize > size) return false;
    section = data + at;
  }
  if (!section) return false;
  uint64_t count = Le32(section + 4);
  if (8 + 8 * count > sectionSize) return false;

  // Offsets are relative to the section; each value must lie wholly inside it.
  auto fits = [&](uint64_t at, uint64_t length) { return at + length <= sectionSize; };
  uint16_t codePage = kCodePageUtf8;
  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t* pair = section + 8 + 8 * i;
    if (Le32(pair) != kPidCodePage) continue;
    uint64_t at = Le32(pair + 4);
    if (!fits(at, 6) || Le16(section + at) != kVtI2) return false;
    codePage = Le16(section + at + 4);
    break;
  }
  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t* pair = section + 8 + 8 * i;
    SummaryProperty p;
    p.id = Le32(pair);
    uint64_t at = Le32(pair + 4);
    if (p.id == 0) continue;  // the dictionary has no type field and holds no values
    if (!fits(at, 4)) return false;
    p.type = Le16(section + at);
    const uint8_t* value = section + at + 4;
    if (p.type == kVtI2) {
      if (!fits(at, 6)) return false;
      p.number = static_cast<int16_t>(Le16(value));
    } else if (p.type == kVtI4) {
      if (!fits(at, 8)) return false;
      p.number = static_cast<int32_t>(Le32(value));
    } else if (p.type == kVtLpstr) {
      if (!fits(at, 8)) return false;
      uint64_t length = Le32(value);
      if (!fits(at + 8, length) || !CodePageToUtf8(value + 4, length, codePage, p.text))
        return false;
    } else if (p.type == kVtLpwstr) {
      if (!fits(at, 8)) return false;
      uint64_t units = Le32(value);
      if (!fits(at + 8, 2 * units)) return false;
      p.text = Utf16ToUtf8(value + 4, units);
    }
    properties.push_back(std::move(p));
  }
  return true;
}

}  // namespace qvu
