#include <archive.h>
#include <archive_entry.h>
#include <windows.h>

#include <clocale>
#include <cstdlib>
#include <cstring>

#include "archive/sevenzip32/EntryNames.h"
#include "archive/sevenzip32/WideText_win32.h"

namespace sevenzip32 {

std::string CommandLineText(const char* commandLine) { return Utf8(Wide(commandLine, CP_ACP)); }

// libarchive converts names by the C runtime's locale, which a library shares with the
// program. Under the "C" locale it leaves names without the UTF-8 flag as stored bytes
// (the narrow name) and keeps flagged names as UTF-16 (the wide name); the command sets
// that locale for its own thread only.
ArchiveTextScope::ArchiveTextScope() : saved_(nullptr), mode_(_configthreadlocale(_ENABLE_PER_THREAD_LOCALE)) {
  const char* current = setlocale(LC_CTYPE, nullptr);
  if (current != nullptr) saved_ = _strdup(current);
  setlocale(LC_CTYPE, "C");
}

ArchiveTextScope::~ArchiveTextScope() {
  if (saved_ != nullptr) {
    setlocale(LC_CTYPE, static_cast<const char*>(saved_));
    free(saved_);
  }
  if (mode_ != -1) _configthreadlocale(mode_);
}

// A flagged name that has a character beyond Latin-1 has no narrow form; a name without
// the flag has its stored bytes as the narrow form. A narrow form that is neither UTF-8 nor
// CP932 is a flagged name of Latin-1 letters (or bytes of no known code): the wide form
// then holds the name.
bool ReadEntryName(struct archive_entry* entry, EntryName which, std::string& utf8) {
  const char* stored = which == EntryName::Path       ? archive_entry_pathname(entry)
                       : which == EntryName::HardLink ? archive_entry_hardlink(entry)
                                                      : archive_entry_symlink(entry);
  if (stored != nullptr && DecodeStoredName(stored, utf8)) return true;
  const wchar_t* wide = which == EntryName::Path       ? archive_entry_pathname_w(entry)
                        : which == EntryName::HardLink ? archive_entry_hardlink_w(entry)
                                                       : archive_entry_symlink_w(entry);
  if (wide == nullptr) return false;
  utf8 = Utf8(wide);
  return true;
}

void SetEntryName(struct archive_entry* entry, EntryName which, const std::string& utf8) {
  std::wstring native = NativePath(utf8);
  switch (which) {
    case EntryName::Path: archive_entry_copy_pathname_w(entry, native.c_str()); break;
    case EntryName::HardLink: archive_entry_copy_hardlink_w(entry, native.c_str()); break;
    case EntryName::SymLink: archive_entry_copy_symlink_w(entry, native.c_str()); break;
  }
}

int OpenArchiveFile(struct archive* reader, const std::string& path) {
  return archive_read_open_filename_w(reader, NativePath(path).c_str(), 65536);
}

bool Cp932ToUtf8(const std::string& bytes, std::string& utf8) {
  if (bytes.empty()) {
    utf8.clear();
    return true;
  }
  int length = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (length <= 0) return false;
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), wide.data(), length);
  utf8 = Utf8(wide);
  return true;
}

}  // namespace sevenzip32
