#include "support/Typeconvert.h"

namespace qvu {

std::string ToAnsiCodePage(const std::string& utf8) { return utf8; }

std::string FromAnsiCodePage(const std::string& ansi) { return ansi; }

}  // namespace qvu
