// The readers of bytes from the disk against damaged input: real images and property sets,
// mutated deterministically. Built with the address and undefined-behaviour sanitizers, so
// any read outside the input or any undefined arithmetic aborts the run.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "support/PeVersion.h"
#include "support/PropertySet.h"
#include "tests/support/TempDir.h"

namespace qvu {
namespace {

constexpr int kMutationsPerInput = 3000;

// splitmix64: the same sequence on every run and machine.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  size_t Below(size_t n) { return n ? static_cast<size_t>(Next() % n) : 0; }

 private:
  uint64_t state_;
};

// Offsets and sizes are what the readers trust least, so most mutations plant a 16- or
// 32-bit value that is an edge, an offset into the input, or a link with the high bit.
std::string Mutate(const std::string& input, Random& rnd) {
  std::string s = input;
  if (s.empty()) return s;
  int edits = 1 + static_cast<int>(rnd.Below(4));
  for (int e = 0; e < edits && !s.empty(); ++e) {
    size_t at = rnd.Below(s.size());
    switch (rnd.Below(6)) {
      case 0:
        s[at] = static_cast<char>(s[at] ^ (1 << rnd.Below(8)));
        break;
      case 1:
      case 2: {
        const uint32_t edges[] = {0,          1,          0xFFFF,
                                  0xFFFFFFFF, 0x7FFFFFFF, 0x80000000,
                                  static_cast<uint32_t>(s.size()),
                                  static_cast<uint32_t>(rnd.Below(s.size())),
                                  0x80000000u | static_cast<uint32_t>(rnd.Below(s.size()))};
        uint32_t v = edges[rnd.Below(std::size(edges))];
        size_t width = rnd.Below(2) ? 4 : 2;
        at &= ~size_t{1};
        for (size_t i = 0; i < width && at + i < s.size(); ++i)
          s[at + i] = static_cast<char>(v >> (8 * i));
        break;
      }
      case 3:
        s.resize(at);
        break;
      case 4:
        s.insert(at, s.substr(rnd.Below(s.size()), rnd.Below(64)));
        break;
      default:
        s.erase(at, rnd.Below(64));
        break;
    }
  }
  return s;
}

std::string Version(const std::string& bytes) {
  return ReadPeFileVersion(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// "" or four numbers of 16 bits, without leading zeros.
bool IsVersionOrEmpty(const std::string& v) {
  if (v.empty()) return true;
  int parts = 0;
  for (size_t at = 0; at <= v.size(); ++parts) {
    size_t end = v.find('.', at);
    if (end == std::string::npos) end = v.size();
    std::string part = v.substr(at, end - at);
    if (part.empty() || part.size() > 5 || (part.size() > 1 && part[0] == '0') ||
        part.find_first_not_of("0123456789") != std::string::npos || std::stoul(part) > 65535)
      return false;
    at = end + 1;
  }
  return parts == 4;
}

std::vector<std::string> Images() {
  std::vector<std::string> images;
  for (const auto& e : std::filesystem::directory_iterator(QVU_PE_FIXTURES))
    if (e.path().extension() == ".exe" || e.path().extension() == ".dll")
      images.push_back(test::ReadFile(e.path()));
  return images;
}

TEST(DiskCorpus, DamagedImagesGiveAVersionOrNothing) {
  std::vector<std::string> images = Images();
  ASSERT_FALSE(images.empty());
  Random rnd(20240611);
  for (const std::string& image : images) {
    for (size_t cut = 0; cut < image.size(); ++cut)
      ASSERT_TRUE(IsVersionOrEmpty(Version(image.substr(0, cut)))) << cut;
    for (int i = 0; i < kMutationsPerInput; ++i) {
      std::string v = Version(Mutate(image, rnd));
      ASSERT_TRUE(IsVersionOrEmpty(v)) << v;
    }
  }
}

TEST(DiskCorpus, DamagedPropertySetsDecodeOrAreRefused) {
  const std::string sets[] = {
      EncodeSummaryInformation(9, "12"),
      EncodeSummaryInformation(9, "改訂番号 with a longer text to mutate"),
      EncodeSummaryInformation(2, ""),
  };
  Random rnd(19680101);
  std::vector<SummaryProperty> props;
  for (const std::string& set : sets) {
    ASSERT_TRUE(DecodeSummaryInformation(set, props));  // the corpus starts from valid sets
    for (size_t cut = 0; cut < set.size(); ++cut) DecodeSummaryInformation(set.substr(0, cut), props);
    for (int i = 0; i < kMutationsPerInput; ++i) {
      DecodeSummaryInformation(Mutate(set, rnd), props);
    }
  }
}

}  // namespace
}  // namespace qvu
