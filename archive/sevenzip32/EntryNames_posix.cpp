#include <archive.h>
#include <archive_entry.h>
#include <iconv.h>
#include <locale.h>

#include <algorithm>

#include "archive/sevenzip32/EntryNames.h"

namespace sevenzip32 {

std::string CommandLineText(const char* commandLine) { return commandLine; }

// Entry names and link targets are UTF-8 only if the thread's locale says so: libarchive
// converts header charsets into the locale's. A library must not change the process
// locale, so the command runs under a thread-local UTF-8 one.
ArchiveTextScope::ArchiveTextScope() : saved_(nullptr), mode_(0) {
  locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (utf8 == static_cast<locale_t>(0)) return;
  saved_ = uselocale(utf8);
  mode_ = 1;
}

ArchiveTextScope::~ArchiveTextScope() {
  if (mode_ == 0) return;
  locale_t utf8 = uselocale(static_cast<locale_t>(saved_));
  freelocale(utf8);
}

// Names come as the archive stores them (libarchive leaves names without the UTF-8 flag
// untouched).
bool ReadEntryName(struct archive_entry* entry, EntryName which, std::string& utf8) {
  const char* stored = which == EntryName::Path       ? archive_entry_pathname(entry)
                       : which == EntryName::HardLink ? archive_entry_hardlink(entry)
                                                      : archive_entry_symlink(entry);
  if (stored == nullptr) return false;
  // Neither UTF-8 nor CP932: the stored bytes are the name.
  if (!DecodeStoredName(stored, utf8)) utf8 = stored;
  return true;
}

void SetEntryName(struct archive_entry* entry, EntryName which, const std::string& utf8) {
  switch (which) {
    case EntryName::Path: archive_entry_copy_pathname(entry, utf8.c_str()); break;
    case EntryName::HardLink: archive_entry_copy_hardlink(entry, utf8.c_str()); break;
    case EntryName::SymLink: archive_entry_copy_symlink(entry, utf8.c_str()); break;
  }
}

int OpenArchiveFile(struct archive* reader, const std::string& path) {
  std::string native = path;
  std::replace(native.begin(), native.end(), '\\', '/');
  return archive_read_open_filename(reader, native.c_str(), 65536);
}

bool Cp932ToUtf8(const std::string& bytes, std::string& utf8) {
  iconv_t cp932 = iconv_open("UTF-8", "CP932");
  if (cp932 == reinterpret_cast<iconv_t>(-1)) return false;
  std::string in = bytes;
  std::string decoded(in.size() * 3 + 4, '\0');  // CP932 needs at most 3 bytes a byte
  char* inPtr = in.data();
  size_t inLeft = in.size();
  char* out = decoded.data();
  size_t outLeft = decoded.size();
  bool ok = iconv(cp932, &inPtr, &inLeft, &out, &outLeft) != static_cast<size_t>(-1);
  iconv_close(cp932);
  if (!ok) return false;
  decoded.resize(decoded.size() - outLeft);
  utf8 = decoded;
  return true;
}

}  // namespace sevenzip32
