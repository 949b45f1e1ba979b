// Small text conversions shared by the whole program. None of them raises: bad input gives
// a fixed fallback value. Positions and counts are in characters (code points), since the
// texts they work on are names, host names and numbers.
#pragma once

#include <cstdint>
#include <string>

namespace qvu {

// Optional sign and decimal digits within the 32-bit range; anything else gives 0.
int32_t TextToInt(const std::string& text);
// Unsigned decimal, so -1 comes out as 4294967295.
std::string IntToText(int32_t value);
// The part of text from the 1-based start, at most count characters long.
std::string SubText(const std::string& text, int start, int count);
// The value of the first "/"-separated item that starts with "CN=" exactly; "" if none.
std::string GetCommonName(const std::string& oneLineName);
// Case-sensitive; the empty suffix ends every text.
bool EndsWithText(const std::string& suffix, const std::string& text);

// Ordinal comparison of two UTF-8 texts code unit by code unit as UTF-16 would compare
// them; < 0, 0 or > 0.
int CompareOrdinalUtf16(const std::string& a, const std::string& b);

// UTF-8 to UTF-16 code units; an invalid byte stands for the character of its value.
std::u16string Utf8ToUtf16(const std::string& text);
// UTF-16 code units to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);

// Without the blanks, tabs and line ends around it.
std::string Trim(const std::string& text);

// Upper-cases ASCII letters only, as the comparisons of keys and file names need.
std::string UpperAscii(std::string text);
bool SameTextAscii(const std::string& a, const std::string& b);

}  // namespace qvu
