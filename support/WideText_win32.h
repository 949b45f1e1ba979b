// UTF-8 inside the program, UTF-16 at the wide Win32 calls, and the ANSI code page at the
// 8-bit ones. Only the Windows halves of the platform files include this.
#pragma once

#include <windows.h>

#include <string>

namespace qvu {

// Invalid input converts with U+FFFD, as the Win32 conversions do.
std::wstring WideFrom(const std::string& text, UINT codePage = CP_UTF8);
std::string NarrowFrom(const std::wstring& text, UINT codePage = CP_UTF8);
// A path for the wide calls: UTF-16, "/" turned into "\".
std::wstring WidePath(const std::string& path);

}  // namespace qvu
