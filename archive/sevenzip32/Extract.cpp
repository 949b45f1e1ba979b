#include "archive/sevenzip32/Extract.h"

#include <archive.h>
#include <archive_entry.h>
#include <iconv.h>
#include <limits.h>
#include <locale.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "archive/sevenzip32/SevenZip32.h"

namespace sevenzip32 {
namespace {

std::vector<std::string> Segments(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  std::vector<std::string> segments;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string segment = path.substr(start, end - start);
    if (!segment.empty() && segment != ".") segments.push_back(std::move(segment));
    start = end + 1;
  }
  return segments;
}

bool IsDrivePrefix(const std::string& segment) {
  return segment.size() >= 2 && segment[1] == ':' &&
         ((segment[0] >= 'A' && segment[0] <= 'Z') || (segment[0] >= 'a' && segment[0] <= 'z'));
}

bool IsAbsolute(const std::string& path) { return !path.empty() && (path[0] == '/' || path[0] == '\\'); }

// Entry names and link targets are UTF-8 only if the thread's locale says so: libarchive
// converts header charsets into the locale's. A library must not change the process
// locale, so the command runs under a thread-local UTF-8 one.
class Utf8Locale {
 public:
  Utf8Locale() {
    locale_ = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (locale_ != static_cast<locale_t>(0)) previous_ = uselocale(locale_);
  }
  ~Utf8Locale() {
    if (locale_ == static_cast<locale_t>(0)) return;
    uselocale(previous_);
    freelocale(locale_);
  }
  Utf8Locale(const Utf8Locale&) = delete;
  Utf8Locale& operator=(const Utf8Locale&) = delete;

 private:
  locale_t locale_ = static_cast<locale_t>(0);
  locale_t previous_ = static_cast<locale_t>(0);
};

struct ReaderDeleter {
  void operator()(struct archive* a) const { archive_read_free(a); }
};
struct WriterDeleter {
  void operator()(struct archive* a) const { archive_write_free(a); }
};

std::string ErrorOf(struct archive* a, const char* fallback) {
  const char* text = archive_error_string(a);
  std::string error = text != nullptr && *text != '\0' ? text : fallback;
  std::replace_if(error.begin(), error.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
  while (!error.empty() && error.back() == ' ') error.pop_back();
  return error;
}

// Formats are listed one by one: the catch-all set includes mtree, whose entries may name
// files elsewhere on this machine to copy from, and external-program filters.
void SupportFormats(struct archive* a) {
  archive_read_support_format_zip(a);
  archive_read_support_format_7zip(a);
  archive_read_support_format_rar(a);
  archive_read_support_format_rar5(a);
  archive_read_support_format_tar(a);
  archive_read_support_format_cpio(a);
  archive_read_support_format_cab(a);
  archive_read_support_format_lha(a);
  archive_read_support_format_iso9660(a);
  archive_read_support_format_xar(a);
  archive_read_support_filter_gzip(a);
  archive_read_support_filter_bzip2(a);
  archive_read_support_filter_xz(a);
  archive_read_support_filter_lzma(a);
  archive_read_support_filter_zstd(a);
}

bool IsUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    uint32_t code = length == 1 ? c : c & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

// Names come as the archive stores them (libarchive leaves names without the UTF-8 flag
// untouched). Japanese Windows tools write CP932 without the flag; Linux tools write UTF-8
// without it too. CP932 text is almost never valid UTF-8 (its lead bytes 0x81-0x9F are
// UTF-8 continuation bytes), so a name that is valid UTF-8 stays as it is and any other is
// read as CP932. Decoding comes before backslashes are taken as separators: 0x5C is also a
// CP932 trail byte.
class NameDecoder {
 public:
  NameDecoder() : cp932_(iconv_open("UTF-8", "CP932")) {}
  ~NameDecoder() {
    if (cp932_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cp932_);
  }
  NameDecoder(const NameDecoder&) = delete;
  NameDecoder& operator=(const NameDecoder&) = delete;

  // The name in UTF-8, or the stored bytes when they are neither UTF-8 nor CP932.
  std::string Decode(const char* stored) {
    std::string name = stored;
    if (IsUtf8(name) || cp932_ == reinterpret_cast<iconv_t>(-1)) return name;
    iconv(cp932_, nullptr, nullptr, nullptr, nullptr);
    std::string decoded(name.size() * 3 + 4, '\0');  // CP932 needs at most 3 bytes a byte
    char* in = name.data();
    size_t inLeft = name.size();
    char* out = decoded.data();
    size_t outLeft = decoded.size();
    if (iconv(cp932_, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1)) return name;
    decoded.resize(decoded.size() - outLeft);
    return decoded;
  }

 private:
  iconv_t cp932_;
};

bool PrepareFolder(const std::string& folder, std::string& root, std::string& reason) {
  std::string path = folder.empty() ? "." : folder;
  std::replace(path.begin(), path.end(), '\\', '/');
  // Each level in turn, so that a missing folder is made with its missing parents.
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string level = path.substr(0, slash);
    if (!level.empty() && mkdir(level.c_str(), 0777) != 0 && errno != EEXIST) {
      reason = "cannot create the output folder";
      return false;
    }
    if (slash == std::string::npos) break;
  }
  // The resolved folder has no links and no "..", so libarchive's check that nothing is
  // extracted through a link holds for the folder's own path as well.
  char resolved[PATH_MAX];
  struct stat st;
  if (realpath(path.c_str(), resolved) == nullptr || stat(resolved, &st) != 0 || !S_ISDIR(st.st_mode)) {
    reason = "cannot create the output folder";
    return false;
  }
  root = resolved;
  if (root != "/") root += '/';
  return true;
}

// Whether a folder on the way to the entry is a link, whoever made it: this archive, an
// earlier one or anything else that left it in the output folder.
bool ThroughLink(const std::string& root, const std::string& relative) {
  for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1)) {
    struct stat st;
    if (lstat((root + relative.substr(0, slash)).c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return true;
  }
  return false;
}

class Extraction {
 public:
  Extraction(const Command& command, std::string& reason) : command_(command), reason_(reason) {}

  int Run() {
    if (!PrepareFolder(command_.outputFolder, root_, reason_)) return SEVENZIP_WRITE_FAILED;
    std::string archivePath = command_.archive;
    std::replace(archivePath.begin(), archivePath.end(), '\\', '/');

    std::unique_ptr<struct archive, ReaderDeleter> reader(archive_read_new());
    std::unique_ptr<struct archive, WriterDeleter> writer(archive_write_disk_new());
    if (!reader || !writer) {
      reason_ = "out of memory";
      return SEVENZIP_INTERNAL;
    }
    SupportFormats(reader.get());
    if (command_.hasPassword) archive_read_add_passphrase(reader.get(), command_.password.c_str());
    // Our own names are absolute (the folder is joined to them), so the absolute-name
    // refusal of libarchive cannot be used; RelativeEntryPath makes that check first.
    archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                     ARCHIVE_EXTRACT_SECURE_NODOTDOT);
    if (archive_read_open_filename(reader.get(), archivePath.c_str(), 65536) < ARCHIVE_WARN) {
      reason_ = "cannot open the archive: " + ErrorOf(reader.get(), "unknown format");
      return SEVENZIP_OPEN_FAILED;
    }
    reader_ = reader.get();
    writer_ = writer.get();
    int result = ExtractEntries();
    // Closing the writer sets the times and modes of folders; it can fail too.
    if (archive_write_close(writer_) != ARCHIVE_OK && result == SEVENZIP_OK) {
      reason_ = ErrorOf(writer_, "cannot finish the output folder");
      result = SEVENZIP_WRITE_FAILED;
    }
    archive_read_close(reader_);
    // A file whose data failed is no copy of the packed one; closing the writer has even
    // stretched it to its declared size.
    if (!partial_.empty()) unlink(partial_.c_str());
    return result;
  }

 private:
  int ExtractEntries() {
    while (true) {
      struct archive_entry* entry = nullptr;
      int r = archive_read_next_header(reader_, &entry);
      if (r == ARCHIVE_EOF) return SEVENZIP_OK;
      // A warning here is a name that did not convert; the name is kept as it stands.
      if (r < ARCHIVE_WARN || entry == nullptr) {
        reason_ = ErrorOf(reader_, "damaged archive");
        return SEVENZIP_CORRUPT;
      }
      int result = ExtractEntry(entry);
      if (result != SEVENZIP_OK) return result;
    }
  }

  int Unsafe(const char* what, const char* name) {
    reason_ = std::string(what) + ": " + name;
    return SEVENZIP_UNSAFE_ENTRY;
  }

  int ExtractEntry(struct archive_entry* entry) {
    const char* stored = archive_entry_pathname(entry);
    if (stored == nullptr) {
      reason_ = "entry without a name";
      return SEVENZIP_CORRUPT;
    }
    std::string decoded = names_.Decode(stored);
    const char* name = decoded.c_str();
    std::string relative;
    if (!RelativeEntryPath(decoded, relative)) return Unsafe("entry outside the folder", name);
    if (relative.empty()) return SkipData();  // the folder itself
    if (ThroughLink(root_, relative)) return Unsafe("entry through a link", name);

    const char* hardlink = archive_entry_hardlink(entry);
    mode_t type = archive_entry_filetype(entry);
    if (hardlink != nullptr) {
      // A hard link may only join files this archive has just written; a name that only
      // resolves through links could reach a file outside.
      std::string target;
      if (!RelativeEntryPath(names_.Decode(hardlink), target) || files_.count(target) == 0)
        return Unsafe("hard link outside the extracted files", name);
      archive_entry_copy_hardlink(entry, (root_ + target).c_str());
    } else if (type == AE_IFLNK) {
      const char* target = archive_entry_symlink(entry);
      std::string normalised;
      if (target == nullptr || !LinkTargetStaysInside(relative, names_.Decode(target), normalised))
        return Unsafe("link pointing outside the folder", name);
      archive_entry_copy_symlink(entry, normalised.c_str());
    } else if (type == 0) {
      archive_entry_set_filetype(entry, AE_IFREG);
      type = AE_IFREG;
    } else if (type != AE_IFREG && type != AE_IFDIR) {
      return Unsafe("device, pipe or socket entry", name);
    }
    // Whatever modes the archive carries, the owner must be able to use what is extracted.
    if (hardlink == nullptr && type != AE_IFLNK)
      archive_entry_set_perm(entry, (archive_entry_perm(entry) & 07777) | (type == AE_IFDIR ? 0700 : 0600));

    std::string full = root_ + relative;
    struct stat st;
    if (command_.overwrite == Overwrite::Skip && type != AE_IFDIR && lstat(full.c_str(), &st) == 0) return SkipData();
    archive_entry_copy_pathname(entry, full.c_str());

    int r = archive_write_header(writer_, entry);
    if (r < ARCHIVE_WARN) {
      reason_ = ErrorOf(writer_, "cannot write") + ": " + relative;
      return SEVENZIP_WRITE_FAILED;
    }
    if (type == AE_IFREG) partial_ = full;
    if (archive_entry_size_is_set(entry) == 0 || archive_entry_size(entry) > 0) {
      int result = CopyData(relative);
      if (result != SEVENZIP_OK) return result;
    }
    if (archive_write_finish_entry(writer_) < ARCHIVE_WARN) {
      reason_ = ErrorOf(writer_, "cannot write") + ": " + relative;
      return SEVENZIP_WRITE_FAILED;
    }
    partial_.clear();
    if (type == AE_IFREG || hardlink != nullptr) {
      files_.insert(relative);
    } else {
      files_.erase(relative);
    }
    return SEVENZIP_OK;
  }

  int CopyData(const std::string& relative) {
    while (true) {
      const void* block = nullptr;
      size_t size = 0;
      la_int64_t offset = 0;
      int r = archive_read_data_block(reader_, &block, &size, &offset);
      if (r == ARCHIVE_EOF) return SEVENZIP_OK;
      // Data warnings are checksum mismatches: the file is not what was packed.
      if (r != ARCHIVE_OK) {
        reason_ = ErrorOf(reader_, "damaged data") + ": " + relative;
        return SEVENZIP_CORRUPT;
      }
      if (archive_write_data_block(writer_, block, size, offset) < ARCHIVE_OK) {
        reason_ = ErrorOf(writer_, "cannot write") + ": " + relative;
        return SEVENZIP_WRITE_FAILED;
      }
    }
  }

  int SkipData() {
    if (archive_read_data_skip(reader_) < ARCHIVE_WARN) {
      reason_ = ErrorOf(reader_, "damaged archive");
      return SEVENZIP_CORRUPT;
    }
    return SEVENZIP_OK;
  }

  const Command& command_;
  std::string& reason_;
  std::string root_;     // the resolved output folder, ending with "/"
  std::string partial_;  // the file being written until its entry is complete
  struct archive* reader_ = nullptr;
  struct archive* writer_ = nullptr;
  std::set<std::string> files_;     // relative paths of the regular files made so far
  NameDecoder names_;
};

}  // namespace

bool RelativeEntryPath(const std::string& name, std::string& relative) {
  relative.clear();
  if (IsAbsolute(name)) return false;
  std::vector<std::string> segments = Segments(name);
  for (size_t i = 0; i < segments.size(); ++i) {
    if (segments[i] == ".." || (i == 0 && IsDrivePrefix(segments[i]))) return false;
    if (i > 0) relative += '/';
    relative += segments[i];
  }
  return true;
}

bool LinkTargetStaysInside(const std::string& link, const std::string& target, std::string& normalised) {
  normalised = target;
  std::replace(normalised.begin(), normalised.end(), '\\', '/');
  if (normalised.empty() || IsAbsolute(normalised)) return false;
  // Leading ".." steps climb real folders (nothing is extracted through a link), so they
  // resolve as written; a ".." after a name could climb out of a linked folder instead.
  long depth = static_cast<long>(Segments(link).size()) - 1;
  bool descended = false;
  for (const std::string& segment : Segments(normalised)) {
    if (segment == "..") {
      if (descended || --depth < 0) return false;
    } else {
      if (!descended && IsDrivePrefix(segment)) return false;
      descended = true;
    }
  }
  return true;
}

int Extract(const Command& command, std::string& reason) {
  Utf8Locale utf8;
  Extraction extraction(command, reason);
  return extraction.Run();
}

}  // namespace sevenzip32
