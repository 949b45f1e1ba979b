#include "support/Common.h"

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <vector>

namespace qvu {
namespace {

// Splits UTF-8 into code points; an invalid byte stands for itself so nothing is lost.
std::vector<char32_t> CodePoints(const std::string& s) {
  std::vector<char32_t> out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > s.size()) {
      out.push_back(c);
      ++i;
      continue;
    }
    char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    bool ok = true;
    for (int k = 1; k < len; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc >> 6) != 2) ok = false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (!ok) {
      out.push_back(c);
      ++i;
      continue;
    }
    out.push_back(cp);
    i += len;
  }
  return out;
}

// Byte offsets of each code point start, plus the end.
std::vector<size_t> CharOffsets(const std::string& s) {
  std::vector<size_t> offs;
  size_t i = 0;
  for (char32_t cp : CodePoints(s)) {
    offs.push_back(i);
    i += cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
    if (i > s.size()) i = s.size();
  }
  offs.push_back(s.size());
  return offs;
}

}  // namespace

int32_t TextToInt(const std::string& text) {
  if (text.empty()) return 0;
  size_t i = 0;
  if (text[0] == '+' || text[0] == '-') i = 1;
  if (i == text.size()) return 0;
  for (size_t k = i; k < text.size(); ++k)
    if (text[k] < '0' || text[k] > '9') return 0;
  errno = 0;
  long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE || v < std::numeric_limits<int32_t>::min() ||
      v > std::numeric_limits<int32_t>::max())
    return 0;
  return static_cast<int32_t>(v);
}

std::string IntToText(int32_t value) { return std::to_string(static_cast<uint32_t>(value)); }

std::string SubText(const std::string& text, int start, int count) {
  if (count < 1) return "";
  if (start < 1) start = 1;
  std::vector<size_t> offs = CharOffsets(text);
  size_t chars = offs.size() - 1;
  if (static_cast<size_t>(start) > chars) return "";
  size_t first = start - 1;
  size_t last = std::min(chars, first + static_cast<size_t>(count));
  return text.substr(offs[first], offs[last] - offs[first]);
}

std::string GetCommonName(const std::string& oneLineName) {
  size_t pos = 0;
  while (true) {
    size_t next = oneLineName.find('/', pos);
    std::string item = oneLineName.substr(pos, next == std::string::npos ? std::string::npos : next - pos);
    if (item.compare(0, 3, "CN=") == 0) return item.substr(3);
    if (next == std::string::npos) return "";
    pos = next + 1;
  }
}

bool EndsWithText(const std::string& suffix, const std::string& text) {
  return suffix.size() <= text.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

int CompareOrdinalUtf16(const std::string& a, const std::string& b) {
  auto units = [](const std::string& s) {
    std::vector<char16_t> u;
    for (char32_t cp : CodePoints(s)) {
      if (cp >= 0x10000) {
        cp -= 0x10000;
        u.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        u.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
      } else {
        u.push_back(static_cast<char16_t>(cp));
      }
    }
    return u;
  };
  std::vector<char16_t> ua = units(a), ub = units(b);
  size_t n = std::min(ua.size(), ub.size());
  for (size_t i = 0; i < n; ++i)
    if (ua[i] != ub[i]) return ua[i] < ub[i] ? -1 : 1;
  return ua.size() < ub.size() ? -1 : ua.size() > ub.size() ? 1 : 0;
}

std::string Trim(const std::string& text) {
  size_t b = text.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = text.find_last_not_of(" \t\r\n");
  return text.substr(b, e - b + 1);
}

std::string UpperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

bool SameTextAscii(const std::string& a, const std::string& b) {
  return UpperAscii(a) == UpperAscii(b);
}

}  // namespace qvu
