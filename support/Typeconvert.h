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

}  // namespace qvu
