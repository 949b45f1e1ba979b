#include "net/TextDecode.h"

#include <cerrno>
#include <cstring>

#include "support/Charset.h"
#include "support/Common.h"

namespace qvu {

namespace {

std::string Unquote(std::string s) {
  s = Trim(s);
  if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
    s = s.substr(1, s.size() - 2);
  return s;
}

const char kReplacement[] = "\xEF\xBF\xBD";

// Keeps valid UTF-8 as it is and replaces every byte that does not start or continue a
// valid sequence (overlong forms, surrogates and values above U+10FFFF included).
std::string SanitizeUtf8(const std::string& in) {
  std::string out;
  out.reserve(in.size());
  const auto* s = reinterpret_cast<const unsigned char*>(in.data());
  const size_t n = in.size();
  size_t i = 0;
  while (i < n) {
    unsigned char c = s[i];
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) len = 2;
    else if (c >= 0xE0 && c <= 0xEF) { len = 3; if (c == 0xE0) lo = 0xA0; if (c == 0xED) hi = 0x9F; }
    else if (c >= 0xF0 && c <= 0xF4) { len = 4; if (c == 0xF0) lo = 0x90; if (c == 0xF4) hi = 0x8F; }
    bool ok = len != 0 && i + len <= n && s[i + 1] >= lo && s[i + 1] <= hi;
    for (size_t k = 2; ok && k < len; ++k) ok = s[i + k] >= 0x80 && s[i + k] <= 0xBF;
    if (ok) {
      out.append(in, i, len);
      i += len;
    } else {
      out += kReplacement;
      ++i;
    }
  }
  return out;
}

bool IsUtf8Name(const std::string& charset) {
  const std::string up = UpperAscii(charset);
  return up == "UTF-8" || up == "UTF8";
}

// Shift_JIS as the service's platform writes it is Microsoft's code page 932, a superset.
std::string IconvName(const std::string& charset) {
  const std::string up = UpperAscii(charset);
  if (up == "SHIFT_JIS" || up == "SHIFT-JIS" || up == "SJIS" || up == "X-SJIS" ||
      up == "MS_KANJI" || up == "WINDOWS-31J" || up == "CSSHIFTJIS")
    return "CP932";
  return charset;
}

bool Convert(const std::string& bytes, const std::string& charset, std::string& out) {
  return CharsetToUtf8(bytes, IconvName(charset), /*replaceInvalid=*/true, out);
}

}  // namespace

std::string CharsetOf(const std::string& contentType) {
  size_t pos = 0;
  while ((pos = contentType.find(';', pos)) != std::string::npos) {
    ++pos;
    size_t end = contentType.find(';', pos);
    std::string param = contentType.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    size_t eq = param.find('=');
    if (eq != std::string::npos && SameTextAscii(Trim(param.substr(0, eq)), "charset"))
      return Unquote(param.substr(eq + 1));
  }
  return "";
}

std::string XmlDeclaredEncoding(const std::string& bytes) {
  if (bytes.compare(0, 5, "<?xml") != 0) return "";
  size_t end = bytes.find("?>");
  if (end == std::string::npos) return "";
  const std::string decl = bytes.substr(0, end);
  size_t pos = decl.find("encoding");
  if (pos == std::string::npos) return "";
  pos = decl.find_first_not_of(" \t\r\n", pos + 8);
  if (pos == std::string::npos || decl[pos] != '=') return "";
  pos = decl.find_first_not_of(" \t\r\n", pos + 1);
  if (pos == std::string::npos || (decl[pos] != '"' && decl[pos] != '\'')) return "";
  size_t close = decl.find(decl[pos], pos + 1);
  if (close == std::string::npos) return "";
  return decl.substr(pos + 1, close - pos - 1);
}

std::string DecodeBody(const std::string& bytes, const std::string& charset,
                       bool xmlDeclaration) {
  std::string out;
  auto finish = [](const std::string& utf8) {
    std::string text = SanitizeUtf8(utf8);
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    return text;
  };
  if (!charset.empty()) {
    if (IsUtf8Name(charset)) return finish(bytes);
    if (Convert(bytes, charset, out)) return finish(out);
  }
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return finish(bytes);
  if (bytes.compare(0, 2, "\xFF\xFE") == 0 && Convert(bytes.substr(2), "UTF-16LE", out))
    return finish(out);
  if (bytes.compare(0, 2, "\xFE\xFF") == 0 && Convert(bytes.substr(2), "UTF-16BE", out))
    return finish(out);
  if (xmlDeclaration) {
    const std::string declared = XmlDeclaredEncoding(bytes);
    if (!declared.empty() && !IsUtf8Name(declared) && Convert(bytes, declared, out))
      return finish(out);
  }
  return finish(bytes);
}

}  // namespace qvu
