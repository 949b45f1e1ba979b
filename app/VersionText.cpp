#include "app/VersionText.h"

namespace qvu {
namespace {

// Blanks and control characters; the zero byte ends the text as it would a C string.
bool IsSpace(char c) { return c > 0 && static_cast<unsigned char>(c) <= ' '; }

}  // namespace

std::vector<std::string> SplitDelimitedText(const std::string& text, char delimiter) {
  std::vector<std::string> parts;
  const std::string s = text.substr(0, text.find('\0'));
  size_t p = 0;
  while (p < s.size() && IsSpace(s[p])) ++p;
  while (p < s.size()) {
    std::string part;
    if (s[p] == '"') {
      ++p;
      while (p < s.size()) {
        if (s[p] == '"') {
          if (p + 1 < s.size() && s[p + 1] == '"') {
            part += '"';
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        part += s[p++];
      }
    } else {
      size_t start = p;
      while (p < s.size() && !IsSpace(s[p]) && s[p] != delimiter) ++p;
      part = s.substr(start, p - start);
    }
    parts.push_back(part);
    while (p < s.size() && IsSpace(s[p])) ++p;
    if (p < s.size() && s[p] == delimiter) {
      if (p + 1 == s.size()) parts.push_back("");
      do {
        ++p;
      } while (p < s.size() && IsSpace(s[p]));
    }
  }
  return parts;
}

}  // namespace qvu
