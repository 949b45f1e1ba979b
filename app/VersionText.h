#pragma once

#include <string>
#include <vector>

namespace qvu {

// Splits a text the way the platform's string list reads delimited text in its default,
// non-strict mode: runs of blanks and control characters separate parts too and are
// dropped, a part in double quotes is taken whole (a doubled quote inside stands for one),
// and a delimiter at the very end adds one empty last part.
std::vector<std::string> SplitDelimitedText(const std::string& text, char delimiter);

}  // namespace qvu
