#include <cstdio>
#include <cstring>
#include <vector>

#include "support/ByteOrder.h"
#include "support/Filesystem.h"
#include "support/PeVersion.h"

namespace qvu {
namespace {

// Every offset below comes from the image itself, so every sum is done in 64 bits and every
// range is checked by ImageBytes::Read before a byte of it is used.

constexpr uint16_t kResourceTypeVersion = 16;
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr size_t kFixedInfoSize = 52;
// wLength of a version block is 16 bits wide: nothing of it lies further out.
constexpr uint32_t kMaxVersionBlock = 0xFFFF;

bool Read16(const ImageBytes& img, uint64_t off, uint16_t& v) {
  uint8_t b[2];
  if (!img.Read(off, b, 2)) return false;
  v = Le16(b);
  return true;
}
bool Read32(const ImageBytes& img, uint64_t off, uint32_t& v) {
  uint8_t b[4];
  if (!img.Read(off, b, 4)) return false;
  v = Le32(b);
  return true;
}

struct Section {
  uint32_t virtualAddress, rawSize, rawPointer;
};

class SectionMap {
 public:
  // False unless [rva, rva + size) lies in the raw data of a single section.
  bool ToFileOffset(uint64_t rva, uint64_t size, uint64_t& offset) const {
    for (const Section& s : sections_) {
      if (rva < s.virtualAddress) continue;
      uint64_t inside = rva - s.virtualAddress;
      if (inside + size > s.rawSize) continue;
      offset = static_cast<uint64_t>(s.rawPointer) + inside;
      return true;
    }
    return false;
  }
  std::vector<Section> sections_;
};

struct ResourceEntry {
  uint32_t name, target;
  bool IsDirectory() const { return (target & 0x80000000u) != 0; }
  uint32_t TargetOffset() const { return target & 0x7FFFFFFFu; }
};

// One directory of the resource tree; offsets are relative to the root directory.
bool ReadResourceDirectory(const ImageBytes& img, const SectionMap& map, uint32_t rootRva,
                           uint32_t dirOffset, std::vector<ResourceEntry>& entries) {
  uint64_t rva = static_cast<uint64_t>(rootRva) + dirOffset;
  uint64_t off = 0;
  uint8_t head[16];
  if (!map.ToFileOffset(rva, sizeof head, off) || !img.Read(off, head, sizeof head)) return false;
  size_t count = static_cast<size_t>(Le16(head + 12)) + Le16(head + 14);
  std::vector<uint8_t> raw(count * 8);
  if (!map.ToFileOffset(rva, sizeof head + raw.size(), off)) return false;
  if (count && !img.Read(off + sizeof head, raw.data(), raw.size())) return false;
  entries.clear();
  for (size_t i = 0; i < count; ++i) entries.push_back({Le32(&raw[i * 8]), Le32(&raw[i * 8 + 4])});
  return true;
}

// The tree has exactly three levels (type, name, language); walking them by count rather
// than by following links is what keeps a cyclic directory from looping.
bool FindVersionResource(const ImageBytes& img, const SectionMap& map, uint32_t rootRva,
                         uint32_t& dataRva, uint32_t& dataSize) {
  std::vector<ResourceEntry> entries;
  if (!ReadResourceDirectory(img, map, rootRva, 0, entries)) return false;
  const ResourceEntry* type = nullptr;
  for (const ResourceEntry& e : entries)
    if (e.name == kResourceTypeVersion) {
      type = &e;
      break;
    }
  if (!type || !type->IsDirectory()) return false;
  uint32_t nameDir = type->TargetOffset();
  if (!ReadResourceDirectory(img, map, rootRva, nameDir, entries)) return false;
  if (entries.empty() || !entries[0].IsDirectory()) return false;
  uint32_t langDir = entries[0].TargetOffset();
  if (!ReadResourceDirectory(img, map, rootRva, langDir, entries)) return false;
  if (entries.empty() || entries[0].IsDirectory()) return false;
  uint64_t off = 0;
  uint8_t data[16];
  if (!map.ToFileOffset(static_cast<uint64_t>(rootRva) + entries[0].target, sizeof data, off) ||
      !img.Read(off, data, sizeof data))
    return false;
  dataRva = Le32(data);
  dataSize = Le32(data + 4);
  return true;
}

// VS_VERSIONINFO: wLength, wValueLength, wType, the key "VS_VERSION_INFO" in UTF-16,
// padding to 32 bits, then VS_FIXEDFILEINFO as the block's value.
std::string FixedFileVersion(const std::vector<uint8_t>& block) {
  static const char kKey[] = "VS_VERSION_INFO";
  constexpr size_t kKeyChars = sizeof kKey;  // with its terminating zero
  constexpr size_t kValueAt = (6 + 2 * kKeyChars + 3) & ~size_t{3};
  if (block.size() < kValueAt + kFixedInfoSize) return "";
  size_t length = Le16(block.data());
  if (length < kValueAt + kFixedInfoSize || length > block.size()) return "";
  if (Le16(block.data() + 2) < kFixedInfoSize) return "";
  for (size_t i = 0; i < kKeyChars; ++i)
    if (Le16(block.data() + 6 + 2 * i) != static_cast<uint8_t>(kKey[i])) return "";
  const uint8_t* fixed = block.data() + kValueAt;
  if (Le32(fixed) != kFixedInfoSignature) return "";
  uint32_t ms = Le32(fixed + 8), ls = Le32(fixed + 12);
  char text[48];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF);
  return text;
}

class MemoryImage : public ImageBytes {
 public:
  MemoryImage(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Read(uint64_t offset, void* out, size_t size) const override {
    if (offset > size_ || size > size_ - offset) return false;
    if (size) std::memcpy(out, data_ + offset, size);
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

}  // namespace

std::string ReadPeFileVersion(const ImageBytes& img) {
  uint16_t magic = 0;
  uint32_t peAt = 0, signature = 0;
  if (!Read16(img, 0, magic) || magic != 0x5A4D) return "";  // "MZ"
  if (!Read32(img, 0x3C, peAt) || !Read32(img, peAt, signature) || signature != 0x00004550)
    return "";  // "PE\0\0"
  uint64_t coff = static_cast<uint64_t>(peAt) + 4;
  uint16_t sectionCount = 0, optionalSize = 0, optionalMagic = 0;
  if (!Read16(img, coff + 2, sectionCount) || !Read16(img, coff + 16, optionalSize)) return "";
  uint64_t optional = coff + 20;
  if (!Read16(img, optional, optionalMagic)) return "";
  uint64_t countAt = 0;
  if (optionalMagic == 0x10B)
    countAt = 92;  // PE32
  else if (optionalMagic == 0x20B)
    countAt = 108;  // PE32+
  else
    return "";
  constexpr uint32_t kResourceDirectory = 2;
  uint64_t resourceEntry = countAt + 4 + 8 * kResourceDirectory;
  uint32_t dirCount = 0, resourceRva = 0, resourceSize = 0;
  if (resourceEntry + 8 > optionalSize || !Read32(img, optional + countAt, dirCount) ||
      dirCount <= kResourceDirectory || !Read32(img, optional + resourceEntry, resourceRva) ||
      !Read32(img, optional + resourceEntry + 4, resourceSize) || resourceRva == 0 ||
      resourceSize == 0)
    return "";

  SectionMap map;
  std::vector<uint8_t> table(static_cast<size_t>(sectionCount) * 40);
  if (!table.empty() && !img.Read(optional + optionalSize, table.data(), table.size())) return "";
  for (size_t i = 0; i < sectionCount; ++i) {
    const uint8_t* s = &table[i * 40];
    map.sections_.push_back({Le32(s + 12), Le32(s + 16), Le32(s + 20)});
  }

  uint32_t dataRva = 0, dataSize = 0;
  if (!FindVersionResource(img, map, resourceRva, dataRva, dataSize)) return "";
  std::vector<uint8_t> block(dataSize < kMaxVersionBlock ? dataSize : kMaxVersionBlock);
  uint64_t off = 0;
  if (block.empty() || !map.ToFileOffset(dataRva, block.size(), off) ||
      !img.Read(off, block.data(), block.size()))
    return "";
  return FixedFileVersion(block);
}

std::string ReadPeFileVersion(const uint8_t* data, size_t size) {
  return ReadPeFileVersion(MemoryImage(data, size));
}

}  // namespace qvu
