// Texts between the library's callers, libarchive and the disk: the command line in the
// system's ANSI code page, entry names as the archive stores them, paths for the writer.
#pragma once

#include <string>

struct archive;
struct archive_entry;

namespace sevenzip32 {

// The command line as UTF-8: it comes in the system's ANSI code page (UTF-8 on Linux).
std::string CommandLineText(const char* commandLine);

// Sets up what libarchive's text conversions depend on for the current thread while a
// command runs, and puts it back afterwards.
class ArchiveTextScope {
 public:
  ArchiveTextScope();
  ~ArchiveTextScope();
  ArchiveTextScope(const ArchiveTextScope&) = delete;
  ArchiveTextScope& operator=(const ArchiveTextScope&) = delete;

 private:
  void* saved_;
  int mode_;
};

enum class EntryName { Path, HardLink, SymLink };

// The entry's name (or link target) in UTF-8, false when it has none. Names are decoded
// from what the archive stores: UTF-8 stays UTF-8, names without the UTF-8 flag that are
// not valid UTF-8 are read as CP932.
bool ReadEntryName(struct archive_entry* entry, EntryName which, std::string& utf8);
// Gives the writer the full path (or link target) to write the entry at.
void SetEntryName(struct archive_entry* entry, EntryName which, const std::string& utf8);

// Opens the archive file by its UTF-8 path; libarchive's result.
int OpenArchiveFile(struct archive* reader, const std::string& path);

// A name as stored without the UTF-8 flag, in UTF-8: valid UTF-8 stays as it is, anything
// else is read as CP932. False when it is neither.
bool DecodeStoredName(const std::string& stored, std::string& utf8);
// The CP932 bytes as UTF-8; false when they are not CP932.
bool Cp932ToUtf8(const std::string& bytes, std::string& utf8);

}  // namespace sevenzip32
