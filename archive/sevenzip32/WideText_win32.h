// UTF-8 and UTF-16 at the wide Win32 calls of the library.
#pragma once

#include <windows.h>

#include <string>

namespace sevenzip32 {

inline std::wstring Wide(const std::string& text, UINT codePage = CP_UTF8) {
  if (text.empty()) return std::wstring();
  int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

inline std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length, nullptr, nullptr);
  return text;
}

// A path for the Win32 calls: UTF-16 with "\" as separator.
inline std::wstring NativePath(const std::string& path) {
  std::wstring wide = Wide(path);
  for (wchar_t& c : wide)
    if (c == L'/') c = L'\\';
  return wide;
}

}  // namespace sevenzip32
