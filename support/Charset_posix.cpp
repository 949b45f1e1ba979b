#include "support/Charset.h"

#include <iconv.h>

#include <cerrno>

namespace qvu {

bool CharsetToUtf8(const std::string& bytes, const std::string& charset, bool replaceInvalid,
                   std::string& out) {
  iconv_t cd = iconv_open("UTF-8", charset.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string converted;
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char buffer[8192];
  bool ok = true;
  while (true) {
    char* o = buffer;
    size_t oLeft = sizeof buffer;
    // With nothing left, the call writes what a stateful encoding still holds back.
    size_t rc = iconv(cd, inLeft ? &in : nullptr, inLeft ? &inLeft : nullptr, &o, &oLeft);
    converted.append(buffer, static_cast<size_t>(o - buffer));
    if (rc != static_cast<size_t>(-1)) {
      if (inLeft == 0) break;
      continue;
    }
    if (errno == E2BIG) continue;
    if (!replaceInvalid) {
      ok = false;
      break;
    }
    converted += "\xEF\xBF\xBD";
    if (inLeft == 0) break;
    ++in;
    --inLeft;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  if (ok) out = std::move(converted);
  return ok;
}

}  // namespace qvu
