#include "support/Typeconvert.h"
#include "support/WideText_win32.h"

namespace qvu {

std::string ToAnsiCodePage(const std::string& utf8) { return NarrowFrom(WideFrom(utf8), CP_ACP); }

std::string FromAnsiCodePage(const std::string& ansi) { return NarrowFrom(WideFrom(ansi, CP_ACP)); }

}  // namespace qvu
