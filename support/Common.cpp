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
  std::u16string ua = Utf8ToUtf16(a), ub = Utf8ToUtf16(b);
  return ua < ub ? -1 : ua > ub ? 1 : 0;
}

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  for (char32_t cp : CodePoints(text)) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    else if (cp >= 0xD800 && cp < 0xE000)
      cp = 0xFFFD;
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
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
