#pragma once

#include <string>

#include "support/Variant.h"

namespace qvu {

// Null and Empty give ""; texts unchanged; numbers as the platform's general format writes
// them (up to 15 significant digits, no trailing zeros); money with up to four decimals;
// dates in the program's formats; booleans "True" and "False".
std::string VariantToText(const Variant& value);

// General-format floating point text: "444.555", "0.5", "1E20".
std::string FloatToText(double value);

// Texts for the 8-bit system services (the archiver's command line, the revision property,
// the command line of a started program): UTF-8 into the system's ANSI code page and back.
// On Windows that is the real one (932 on the shops' machines; a character it lacks becomes
// its default character); on Linux the narrow encoding is UTF-8 and texts stay as they are.
std::string ToAnsiCodePage(const std::string& utf8);
std::string FromAnsiCodePage(const std::string& ansi);

}  // namespace qvu
